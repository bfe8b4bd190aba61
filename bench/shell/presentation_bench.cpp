// Frames per second of a 1024 x 768 stage with 20 moving keyed sprites in a
// real window, each frame composed, presented and painted before the next
// one is moved: through the page-flip thread of stageMode 2 (whole frames,
// rwPageFlipDelay 1, 16 and 30 ms, its default) against direct presentation of the changed
// rectangles (stageMode 0), the baseline. Without a display it starts its own
// Xvfb.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QPainter>
#include <QWidget>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "shell/stage_window.h"
#include "stage/compositor.h"
#include "stage/page_flip.h"

namespace kv {
namespace {

constexpr int kW = 1024, kH = 768, kMovers = 20;
constexpr ColorRef kKey{0x00FF00FF};

// The window: paints the published frame and counts its paints.
class FrameWidget : public QWidget {
 public:
  explicit FrameWidget(WindowPresenter& presenter) : presenter_(presenter) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    resize(kW, kH);
  }
  std::atomic<uint64_t> paints{0};

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    std::lock_guard lock(presenter_.FrameLock());
    if (!presenter_.FrameUnlocked().isNull()) painter.drawImage(0, 0, presenter_.FrameUnlocked());
    ++paints;
  }

 private:
  WindowPresenter& presenter_;
};

void Picture32(int w, int h, std::vector<uint8_t>& out) {
  out.assign(size_t(w) * h * 4, 0);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const bool key = (x / 9 + y / 7) % 5 == 0;
      const uint32_t p = key ? 0x00FF00FFu : (uint32_t(x & 0xFF) << 16) | (uint32_t(y & 0xFF) << 8) | uint32_t((x ^ y) & 0xFF);
      std::memcpy(&out[(size_t(y) * w + x) * 4], &p, 4);
    }
}

Rect MoverAt(int i, int frame) {
  const int x = (i * 97 + frame * 3) % (kW - 64), y = (i * 53 + frame * 2) % (kH - 64);
  return {x, y, x + 64, y + 64};
}

// range(0): 0 direct presentation; otherwise the page-flip thread with that
// rwPageFlipDelay.
void BM_FullScreenFrames(benchmark::State& state) {
  const int64_t delay = state.range(0);
  WindowPresenter presenter;
  FrameWidget window(presenter);
  presenter.SetTarget(&window);
  window.show();
  Compositor c(CompositorRole::kStage);
  c.Initialise({0, 0, kW, kH}, ColorRef(0x00806040), PixelFormat::kXrgb32, &presenter);
  std::vector<uint8_t> backBits, moverBits;
  Picture32(kW, kH, backBits);
  Picture32(64, 64, moverBits);
  StageSprite backdrop;
  backdrop.SetPicture({kW, kH, 32, Layout16::k555, backBits.data(), kW * 4, {}});
  backdrop.Setup({0, 0, kW, kH}, {0, 0, kW, kH}, 100, false, kKey, 0, 0);
  c.Add(backdrop, true);
  std::vector<std::unique_ptr<StageSprite>> movers;
  for (int i = 0; i < kMovers; ++i) {
    auto s = std::make_unique<StageSprite>();
    s->SetPicture({64, 64, 32, Layout16::k555, moverBits.data(), 64 * 4, {}});
    s->Setup(MoverAt(i, 0), {0, 0, 64, 64}, uint16_t(1 + i), true, kKey, 0, 0);
    c.Add(*s, true);
    movers.push_back(std::move(s));
  }
  c.Update({0, 0, kW, kH});
  std::unique_ptr<PageFlipThread> flipper;
  if (delay > 0) {
    flipper = std::make_unique<PageFlipThread>(c, [delay] { return delay; });
    flipper->Start();
  }
  QApplication::processEvents();
  int frame = 0;
  uint64_t lost = 0;
  for (auto _ : state) {
    ++frame;
    const uint64_t before = window.paints.load();
    for (int i = 0; i < kMovers; ++i) movers[size_t(i)]->MoveTo(MoverAt(i, frame), uint16_t(1 + i), true);
    c.Flush(false);
    // The frame counts once the window has painted it.
    QElapsedTimer waited;
    waited.start();
    while (window.paints.load() == before) {
      QApplication::processEvents(QEventLoop::AllEvents, 5);
      if (waited.elapsed() > 2000) {
        ++lost;
        break;
      }
    }
  }
  state.counters["fps"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
  state.counters["lost"] = double(lost);
  if (flipper) state.counters["whole_frames"] = double(flipper->WholeFrames());
  if (flipper) flipper->Stop();
  for (auto& s : movers) c.Remove(*s, false);
  c.Remove(backdrop, false);
  presenter.SetTarget(nullptr);
}
BENCHMARK(BM_FullScreenFrames)->Arg(0)->Arg(1)->Arg(16)->Arg(30)->Unit(benchmark::kMillisecond)->UseRealTime();

// Starts Xvfb when there is no display; answers its process id (0: none).
pid_t EnsureDisplay() {
  if (const char* d = std::getenv("DISPLAY"); d && *d) return 0;
  int fds[2];
  if (pipe(fds) != 0) return 0;
  const pid_t pid = fork();
  if (pid == 0) {
    close(fds[0]);
    const std::string fd = std::to_string(fds[1]);
    execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1024x768x24", "-nolisten", "tcp",
           static_cast<char*>(nullptr));
    _exit(127);
  }
  close(fds[1]);
  std::string number;
  char ch;
  while (read(fds[0], &ch, 1) == 1 && ch != '\n') number += ch;
  close(fds[0]);
  if (number.empty()) return pid;
  setenv("DISPLAY", (":" + number).c_str(), 1);
  return pid;
}

}  // namespace
}  // namespace kv

int main(int argc, char** argv) {
  const pid_t xvfb = kv::EnsureDisplay();
  unsetenv("QT_QPA_PLATFORM");
  int status = 0;
  {
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
  }
  if (xvfb > 0) {
    kill(xvfb, SIGTERM);
    waitpid(xvfb, &status, 0);
  }
  return 0;
}
