// Decode throughput of the compilation methods on 50 MB of mixed text and
// binary data, as a ratio to zlib's inflate on the same data (level 6)
// measured in the same run; and extraction of a 1,000-entry compilation.
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "net/kvg_archive.h"
#include "net/locator.h"
#include "net/lzhuf.h"
#include "net/lzss.h"
#include "net/predictor.h"

namespace {

using Bytes = std::vector<uint8_t>;

// Text-like sentences, bitmap-like rows, noise and repeats, in blocks.
Bytes MixedData(size_t size) {
  static const char* kWords[] = {"scene", "button", "the", "picture", "sound", "of", "and", "project", "stage",
                                 "script", "wait", "insert", "to", "jump", "menu", "variable"};
  Bytes out;
  out.reserve(size);
  uint32_t x = 20261209;
  auto next = [&] { return (x = x * 1103515245u + 12345u) >> 16; };
  while (out.size() < size) {
    switch (next() % 4) {
      case 0:  // text
        for (int w = 0; w < 400; ++w) {
          for (const char* c = kWords[next() % 16]; *c; ++c) out.push_back(static_cast<uint8_t>(*c));
          out.push_back(next() % 9 ? ' ' : '\n');
        }
        break;
      case 1: {  // picture rows: a row pattern repeated with small changes
        Bytes row(640);
        for (auto& b : row) b = static_cast<uint8_t>(next());
        for (int r = 0; r < 24; ++r) {
          row[next() % row.size()] = static_cast<uint8_t>(next());
          out.insert(out.end(), row.begin(), row.end());
        }
        break;
      }
      case 2:  // noise (already compressed media)
        for (int i = 0; i < 8192; ++i) out.push_back(static_cast<uint8_t>(next()));
        break;
      default:  // small integers, as in tables
        for (int i = 0; i < 4096; ++i) out.push_back(static_cast<uint8_t>(next() % 16));
    }
  }
  out.resize(size);
  return out;
}

const Bytes& Data() {
  static const Bytes data = MixedData(50u << 20);
  return data;
}

double g_zlibBytesPerSecond = 0;

// Thread CPU time: the build machines are shared, and wall time there says
// more about the neighbours than about the decoder.
double ThreadSeconds() {
  timespec ts;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}

template <typename Fn>
double TimeIt(Fn fn) {
  double t0 = ThreadSeconds();
  fn();
  return ThreadSeconds() - t0;
}

void ReportVsZlib(benchmark::State& state, double seconds, size_t runs, size_t packed) {
  const double bps = double(Data().size()) * double(runs) / seconds;
  state.counters["MB/s"] = bps / 1e6;
  state.counters["ratio_vs_zlib"] = g_zlibBytesPerSecond > 0 ? bps / g_zlibBytesPerSecond : 0;
  state.counters["packed_%"] = 100.0 * double(packed) / double(Data().size());
}

void BM_ZlibInflate(benchmark::State& state) {
  const Bytes& data = Data();
  uLongf packedSize = compressBound(data.size());
  Bytes packed(packedSize);
  compress2(packed.data(), &packedSize, data.data(), data.size(), 6);
  packed.resize(packedSize);
  Bytes out(data.size());
  double seconds = 0;
  size_t runs = 0;
  for (auto _ : state) {
    seconds += TimeIt([&] {
      uLongf outSize = out.size();
      if (uncompress(out.data(), &outSize, packed.data(), packed.size()) != Z_OK || outSize != data.size())
        state.SkipWithError("inflate failed");
    });
    ++runs;
  }
  g_zlibBytesPerSecond = double(data.size()) * double(runs) / seconds;
  ReportVsZlib(state, seconds, runs, packed.size());
}

template <Bytes (*Encode)(std::span<const uint8_t>),
          kv::CodecStatus (*Decode)(std::span<const uint8_t>, Bytes&, size_t)>
void BM_Decode(benchmark::State& state) {
  const Bytes& data = Data();
  const Bytes packed = Encode(data);
  Bytes out;
  double seconds = 0;
  size_t runs = 0;
  for (auto _ : state) {
    seconds += TimeIt([&] {
      if (Decode(packed, out, kv::kNoOutputCap) != kv::CodecStatus::Ok || out != data)
        state.SkipWithError("decode failed");
    });
    ++runs;
  }
  ReportVsZlib(state, seconds, runs, packed.size());
}

// Opening a 1,000-entry compilation without keeping it: every entry is
// extracted into its own temporary file.
void BM_Extract1000(benchmark::State& state) {
  const Bytes& data = Data();
  std::vector<kv::KvgInput> entries;
  for (int i = 0; i < 1000; ++i) {
    kv::KvgInput e;
    e.name = "media\\file" + std::to_string(i) + (i % 2 ? ".bmp" : ".wav");
    size_t at = (size_t(i) * 48611) % (data.size() - 65536);
    e.data.assign(data.begin() + at, data.begin() + at + 1024 + (i * 37) % 16384);
    e.method = i % 3 == 0 ? kv::kKvgLzss : (i % 3 == 1 ? kv::kKvgLzhuf : kv::kKvgStored);
    entries.push_back(std::move(e));
  }
  const std::string dir = std::filesystem::temp_directory_path() / "kvbench-extract";
  std::filesystem::create_directories(dir);
  const std::string kvg = dir + "/bench.kvg";
  {
    Bytes bytes = kv::BuildKvg(entries, 0x1234, "bench", true);
    std::ofstream(kvg, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  }
  kv::LocatorOptions options;
  options.temporaryFolder = dir + "/tmp";
  kv::CResourceLocator locator(options);
  double seconds = 0, wall = 0;
  size_t runs = 0;
  for (auto _ : state) {
    timespec w0, w1;
    clock_gettime(CLOCK_MONOTONIC, &w0);
    seconds += TimeIt([&] {
      if (!locator.OpenArchive(kvg, 0x1234, false)) state.SkipWithError("extraction failed");
    });
    clock_gettime(CLOCK_MONOTONIC, &w1);
    wall += double(w1.tv_sec - w0.tv_sec) + double(w1.tv_nsec - w0.tv_nsec) * 1e-9;
    ++runs;
    state.PauseTiming();
    locator.Reset();
    state.ResumeTiming();
  }
  // Per entry: thread CPU time, and wall time (which includes file system waits).
  state.counters["ms_per_entry"] = seconds * 1000.0 / double(runs) / 1000.0;
  state.counters["wall_ms_per_entry"] = wall * 1000.0 / double(runs) / 1000.0;
  std::filesystem::remove_all(dir);
}

}  // namespace

BENCHMARK(BM_ZlibInflate)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK(BM_Decode<kv::EncodeLzss, kv::DecodeLzss>)->Name("BM_DecodeLzss")->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_Decode<kv::EncodeLzhuf, kv::DecodeLzhuf>)->Name("BM_DecodeLzhuf")->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_Decode<kv::EncodePredictor, kv::DecodePredictor>)
    ->Name("BM_DecodePredictor")
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);
BENCHMARK(BM_Extract1000)->Unit(benchmark::kMillisecond)->Iterations(5);

BENCHMARK_MAIN();
