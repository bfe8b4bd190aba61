// Parse throughput of the player's XML parser on a 20 MB generated document,
// with pugixml and libxml2 parsing the same bytes in the same run; the
// closing lines give our throughput as a ratio to each.
#include <benchmark/benchmark.h>
#include <libxml/parser.h>

#include <cstdio>
#include <cstdint>
#include <map>
#include <pugixml.hpp>
#include <string>
#include <vector>

#include "xml/parser.h"

namespace {

// A catalogue of records like the files authors keep beside their projects:
// nested elements, attributes, entity and character references, comments,
// indentation. Deterministic, so every run parses the same bytes.
const std::string& Document20MB() {
  static const std::string doc = [] {
    std::string out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!-- generated catalogue -->\n<catalog>\n";
    static const char* kWords[] = {"scene",  "picture", "sound",  "button", "stage",   "script",
                                   "motion", "effect",  "layer",  "cursor", "project", "menu"};
    uint32_t seed = 12345;
    auto next = [&seed] { return seed = seed * 1103515245u + 12345u, (seed >> 16) & 0x7FFF; };
    char line[512];
    for (int i = 0; out.size() < 20u * 1024 * 1024; ++i) {
      std::snprintf(line, sizeof line,
                    "  <item id=\"%d\" kind=\"%s\" path=\"C:\\Projects\\demo\\%s_%d.kvs\" visible='yes'>\n", i,
                    kWords[next() % 12], kWords[next() % 12], i);
      out += line;
      std::snprintf(line, sizeof line, "    <title>%s %s &amp; %s, number %d</title>\n", kWords[next() % 12],
                    kWords[next() % 12], kWords[next() % 12], i);
      out += line;
      std::snprintf(line, sizeof line, "    <size unit=\"bytes\">%u</size>\n", next() * 37u);
      out += line;
      out += "    <description>";
      for (int w = 0, n = 8 + static_cast<int>(next() % 16); w < n; ++w) {
        out += kWords[next() % 12];
        out += w % 5 == 4 ? " &lt;&#x41;&gt; " : " ";
      }
      out += "</description>\n";
      std::snprintf(line, sizeof line, "    <flags interactive=\"%s\" sound=\"%s\"/>\n", next() % 2 ? "yes" : "no",
                    next() % 2 ? "high" : "low");
      out += line;
      if (i % 50 == 0) out += "    <!-- checkpoint -->\n";
      out += "  </item>\n";
    }
    out += "</catalog>\n";
    return out;
  }();
  return doc;
}

void BM_Korvel(benchmark::State& state) {
  const std::string& doc = Document20MB();
  for (auto _ : state) {
    auto parsed = kv::AdvXMLParser::Parse(doc.data(), doc.size(), kv::AdvXMLParser::kKeepWhitespace);
    benchmark::DoNotOptimize(parsed.get());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * doc.size()));
}

void BM_Pugixml(benchmark::State& state) {
  const std::string& doc = Document20MB();
  for (auto _ : state) {
    pugi::xml_document parsed;
    pugi::xml_parse_result result = parsed.load_buffer(doc.data(), doc.size());
    if (!result) state.SkipWithError("pugixml rejected the document");
    benchmark::DoNotOptimize(&parsed);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * doc.size()));
}

void BM_Libxml2(benchmark::State& state) {
  const std::string& doc = Document20MB();
  for (auto _ : state) {
    xmlDocPtr parsed = xmlReadMemory(doc.data(), static_cast<int>(doc.size()), nullptr, nullptr, XML_PARSE_NONET);
    if (!parsed) state.SkipWithError("libxml2 rejected the document");
    benchmark::DoNotOptimize(parsed);
    xmlFreeDoc(parsed);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * doc.size()));
}

// Medians of several repetitions: the ratios must hold on a busy machine.
BENCHMARK(BM_Korvel)->Unit(benchmark::kMillisecond)->MinTime(1.0)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_Pugixml)->Unit(benchmark::kMillisecond)->MinTime(1.0)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_Libxml2)->Unit(benchmark::kMillisecond)->MinTime(1.0)->Repetitions(5)->ReportAggregatesOnly(true);

// Prints the usual table, then our throughput relative to each baseline.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      auto it = run.counters.find("bytes_per_second");
      if (it != run.counters.end() && !run.error_occurred)
        rates_[run.benchmark_name() + (run.aggregate_name.empty() ? "" : "_" + run.aggregate_name)] = it->second.value;
    }
    ConsoleReporter::ReportRuns(runs);
  }
  void Finalize() override {
    ConsoleReporter::Finalize();
    double ours = Rate("BM_Korvel");
    for (const char* baseline : {"BM_Pugixml", "BM_Libxml2"}) {
      double theirs = Rate(baseline);
      if (ours > 0 && theirs > 0) std::printf("ratio to %s: %.2f\n", baseline + 3, ours / theirs);
    }
  }

 private:
  // The median when repetitions ran, else the single run.
  double Rate(const std::string& prefix) const {
    double single = 0;
    for (const auto& [name, rate] : rates_) {
      if (name.rfind(prefix, 0) != 0) continue;
      if (name.size() >= 7 && name.compare(name.size() - 7, 7, "_median") == 0) return rate;
      if (name.find('_', prefix.size()) == std::string::npos) single = rate;
    }
    return single;
  }
  std::map<std::string, double> rates_;
};

}  // namespace

int main(int argc, char** argv) {
  // Repetitions of the three run interleaved, so that a change in the
  // machine's load falls on all of them alike.
  std::vector<char*> args(argv, argv + argc);
  std::string interleave = "--benchmark_enable_random_interleaving=true";
  args.insert(args.begin() + 1, interleave.data());
  argc = static_cast<int>(args.size());
  argv = args.data();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  xmlInitParser();
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  xmlCleanupParser();
  benchmark::Shutdown();
  return 0;
}
