// Printing the whole 1024 x 768 stage at 300 dpi: into a PDF through Qt's
// printing, and into a PNG page, against the baseline of writing the same
// stage's headless frame as a PNG.
#include <benchmark/benchmark.h>

#include <QGuiApplication>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "engine/clock.h"
#include "engine/runner.h"
#include "imaging/picture_loader.h"
#include "inserts/rectangle.h"
#include "inserts/stage_host.h"
#include "platform/message_box.h"
#include "player/print_job.h"
#include "shell/qt_printing.h"

namespace kv {
namespace {

// A stage of 1024 x 768 with 48 rectangles in a grid of colours.
struct PrintedStage {
  PrintedStage() {
    RunnerServices s;
    s.clock = &clock;
    s.messages = &boxes;
    runner = std::make_unique<Runner>(s, RuntimeFacts{});
    StageSettings settings;
    settings.clientWidth = 1024;
    settings.clientHeight = 768;
    settings.clientColor = ColorRef(0x00402020);
    stage = std::make_unique<Stage>(*runner, settings, PixelFormat::kXrgb32, pictures);
    runner->Context().stage = stage.get();
    for (int i = 0; i < 48; ++i) {
      auto r = std::make_shared<CRectangle>();
      r->active = 1;
      r->name = "r" + std::to_string(i);
      const int x = (i % 8) * 128 + 8, y = (i / 8) * 128 + 8;
      r->rect = {x, y, x + 100, y + 100};
      r->fillColor = uint32_t(i * 0x050A0F) & 0xFFFFFF;
      if (StageSprite* sprite = r->EnsureSprite(stage->context()))
        sprite->Show(ShowParams::kSrcCopy, 0, 0, 0, 0, nullptr, 0, 0, 1, kStateShown);
      shapes.push_back(r);
    }
  }
  ~PrintedStage() {
    shapes.clear();
    runner->Context().stage = nullptr;
    stage.reset();
  }
  Clock clock{true};
  ScriptedMessageBox boxes;
  std::unique_ptr<Runner> runner;
  imaging::RasterPictureLoader pictures;
  std::unique_ptr<Stage> stage;
  std::vector<std::shared_ptr<CRectangle>> shapes;
};

PrintedStage& Stage1024() {
  static PrintedStage stage;
  return stage;
}

std::string Scratch(const char* name) { return (std::filesystem::temp_directory_path() / name).string(); }

void PrintOnce(benchmark::State& state, const std::string& path, bool landscape) {
  FilePrinters files(path, MakePdfDevice);
  SilentPrintProgress progress;
  PrintJobRequest request;
  request.source = {0, 0, 1024, 768};
  request.landscape = landscape;
  const PrintOutcome outcome = RunPrintJob(*Stage1024().stage, request, files, progress, [](int) {});
  std::string error;
  if (!outcome.ok || !files.Finish(error)) state.SkipWithError("printing failed");
}

void BM_PrintStageToPdf(benchmark::State& state) {
  const std::string path = Scratch("kv-print-bench.pdf");
  for (auto _ : state) PrintOnce(state, path, true);
  state.counters["bytes"] = double(std::filesystem::file_size(path));
  std::filesystem::remove(path);
}
BENCHMARK(BM_PrintStageToPdf)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_PrintStageToPngPage(benchmark::State& state) {
  const std::string base = Scratch("kv-print-bench");
  for (auto _ : state) PrintOnce(state, base, true);
  std::filesystem::remove(base + "-0001.png");
}
BENCHMARK(BM_PrintStageToPngPage)->Unit(benchmark::kMillisecond)->UseRealTime();

// The baseline: the same stage composed and written as the headless frame.
void BM_WriteStageFrame(benchmark::State& state) {
  const std::string path = Scratch("kv-print-bench-frame.png");
  for (auto _ : state)
    if (!Stage1024().stage->compositor().WriteSnapshot(path)) state.SkipWithError("the frame was not written");
  std::filesystem::remove(path);
}
BENCHMARK(BM_WriteStageFrame)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace kv

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QGuiApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
