// Opening a 1 MB .rtf as the rich text field does (the object reads the file
// on a thread of its own while the widget fills its QTextDocument with the
// paragraphs read so far; it lays out the shown page lazily), against the
// same read first and filled after, and against giving the same text as
// plain text; and with the whole document laid out. Typing a key into a masked
// entry field, from the key offered to the widget to the new value reported
// to its object, against the same key into the plain line edit type.
#include <benchmark/benchmark.h>

#include <QAbstractTextDocumentLayout>
#include <QApplication>
#include <QTextDocument>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "editing/rtf_reader.h"
#include "inserts/rtf.h"
#include "shell/qt_widget_window.h"

namespace {

QApplication& App() {
  static int argc = 1;
  static char name[] = "text_fields_bench";
  static char* argv[] = {name, nullptr};
  static QApplication* app = new QApplication(argc, argv);
  return *app;
}

// About 1 MB of the tests' features file's body, repeated.
const std::filesystem::path& BigRtf() {
  static const std::filesystem::path path = [] {
    std::ifstream in(std::string(KV_SOURCE_DIR) + "/tests/editing/rtf/features.rtf", std::ios::binary);
    const std::string source((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const size_t bodyStart = source.find("\\pard");
    const std::string head = source.substr(0, bodyStart), body = source.substr(bodyStart, source.rfind('}') - bodyStart);
    std::string rtf = head;
    while (rtf.size() < (1u << 20)) rtf += body;
    rtf += "}";
    auto p = std::filesystem::temp_directory_path() / "korvel-bench-1mb.rtf";
    std::ofstream(p, std::ios::binary) << rtf;
    return p;
  }();
  return path;
}

std::string ReadAll(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void LayOut(QTextDocument& doc) {
  doc.setTextWidth(400);
  doc.documentLayout()->documentSize();
}

void OpenRtf(benchmark::State& state, bool layOut) {
  App();
  const auto path = BigRtf();
  for (auto _ : state) {
    // As the object opens it: the whole file read, then the document filled.
    std::string error;
    const kv::RichDocument model = kv::CRTF::ReadFile(path.string(), error);
    if (!error.empty()) state.SkipWithError(error.c_str());
    QTextDocument doc;
    kv::FillTextDocument(doc, model, QFont("Liberation Sans"));
    if (layOut) LayOut(doc);
  }
  state.counters["bytes"] = double(std::filesystem::file_size(path));
}
void BM_OpenRtf1MB(benchmark::State& state) { OpenRtf(state, false); }
BENCHMARK(BM_OpenRtf1MB)->Unit(benchmark::kMillisecond);
void BM_OpenRtf1MBLaidOut(benchmark::State& state) { OpenRtf(state, true); }
BENCHMARK(BM_OpenRtf1MBLaidOut)->Unit(benchmark::kMillisecond);

// The file read on a thread of its own while the document fills from the
// paragraphs read so far: what overlapping the two would give (two threads,
// so the time is the wall clock's).
void BM_OpenRtf1MBOverlapped(benchmark::State& state) {
  App();
  const auto path = BigRtf();
  for (auto _ : state) {
    kv::RichDocumentStream stream;
    std::string error;
    QTextDocument doc;
    {
      std::jthread reader([&] { kv::CRTF::ReadFile(path.string(), stream, error); });
      kv::FillTextDocument(doc, stream, QFont("Liberation Sans"));
    }
    if (!error.empty()) state.SkipWithError(error.c_str());
  }
}
BENCHMARK(BM_OpenRtf1MBOverlapped)->Unit(benchmark::kMillisecond)->UseRealTime();

// The reader alone, for the share of the whole.
void BM_ReadRtf1MB(benchmark::State& state) {
  const std::string data = ReadAll(BigRtf());
  for (auto _ : state) benchmark::DoNotOptimize(kv::ReadRtf(data));
}
BENCHMARK(BM_ReadRtf1MB)->Unit(benchmark::kMillisecond);

// Baseline: the file's text as plain text.
void PlainText(benchmark::State& state, bool layOut) {
  App();
  const QString text = QString::fromStdString(kv::ReadRtf(ReadAll(BigRtf())).PlainText());
  for (auto _ : state) {
    QTextDocument doc;
    doc.setDefaultFont(QFont("Liberation Sans"));
    doc.setPlainText(text);
    if (layOut) LayOut(doc);
  }
}
void BM_PlainText1MB(benchmark::State& state) { PlainText(state, false); }
BENCHMARK(BM_PlainText1MB)->Unit(benchmark::kMillisecond);
void BM_PlainText1MBLaidOut(benchmark::State& state) { PlainText(state, true); }
BENCHMARK(BM_PlainText1MBLaidOut)->Unit(benchmark::kMillisecond);

class ValueSink : public kv::WidgetListener {
 public:
  void WidgetChanged(const std::string& property, const std::string& value) override {
    if (property == "value" || property == "text") last = value;
  }
  std::string last;
};

// A key typed into a widget of `type`, made by the shell's factory with
// work run at once (as on the GUI thread); the field is refilled each time it
// is full, outside the timing.
void TypeInto(benchmark::State& state, const std::string& type) {
  App();
  kv::QtWidgetFactory factory([](std::function<void()> work) { work(); });
  ValueSink sink;
  auto widget = factory.Create(type, sink);
  widget->Move({0, 0, 200, 20});
  if (type == "masked edit") widget->SetProperty("mask", "$9999999.99");
  widget->SetFocus(true);
  kv::KeyStroke key;
  key.kind = kv::KeyStroke::Kind::kChar;
  key.text = "7";
  int typed = 0;
  for (auto _ : state) {
    if (++typed == 9) {
      state.PauseTiming();
      widget->SetProperty("text", "");
      typed = 1;
      state.ResumeTiming();
    }
    widget->OfferKey(key);
    if (sink.last.empty()) state.SkipWithError("no value reported");
  }
}

void BM_TypeIntoMaskedEntry(benchmark::State& state) { TypeInto(state, "masked edit"); }
BENCHMARK(BM_TypeIntoMaskedEntry)->Unit(benchmark::kMicrosecond);

// Baseline: Qt's own line edit.
void BM_TypeIntoLineEdit(benchmark::State& state) { TypeInto(state, "line edit"); }
BENCHMARK(BM_TypeIntoLineEdit)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
