// korvel: plays a Korvel project or compilation. With a display the stage is
// a window; without one (or with --headless) it is composed off-screen, and
// the harness options drive such runs for tests and tools.
#include <QApplication>
#include <QScreen>
#include <QThread>
#include <atomic>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <string>
#include <future>
#include <chrono>
#include <optional>
#include <thread>
#include <vector>

#include <unistd.h>

#include "kv_version.h"
#include "imaging/metafile_canvas.h"
#include "imaging/picture_cache.h"
#include "imaging/picture_file_loader.h"
#include "inserts/stage_host.h"
#include "net/temp_folder.h"
#include "player/command_line.h"
#include "player/player.h"
#include "player/terminal_progress.h"
#include "saver/saver_command.h"
#include "shell/display_mode.h"
#include "shell/main_frame.h"
#include "shell/presentation_window.h"
#include "shell/progress_panel.h"
#include "shell/qt_clipboard.h"
#include "shell/qt_frame_menus.h"
#include "shell/qt_message_box.h"
#include "shell/qt_printing.h"
#include "shell/qt_widget_window.h"
#include "shell/saver_shell.h"
#include "shell/saver_window.h"
#include "shell/qt_drag.h"
#include "shell/remote_bus.h"
#include "shell/stage_window.h"
#ifdef KV_TEST_KINDS
// A test build of the player also plays the tests' own kinds.
#include "tests/shell/test_entry.h"
#endif

namespace {

bool HaveDisplay() {
  const char* platform = std::getenv("QT_QPA_PLATFORM");
  if (platform && *platform) return std::string(platform) != "offscreen" && std::string(platform) != "minimal";
  return std::getenv("DISPLAY") || std::getenv("WAYLAND_DISPLAY");
}

// Every picture, metafiles included, is decoded once and then served from the cache.
std::unique_ptr<kv::PictureLoader> MakePictureLoader() {
  return std::make_unique<kv::imaging::CachingPictureLoader>(std::make_unique<kv::imaging::PictureFileLoader>());
}

// Qt asks for a per-user runtime folder; without XDG_RUNTIME_DIR it warns on
// every start. The player's own runtime folder (0700, ours) serves.
void EnsureRuntimeFolder() {
  if (const char* dir = std::getenv("XDG_RUNTIME_DIR"); dir && *dir) return;
  if (auto folder = kv::PrepareUserFolder(kv::DefaultRuntimeFolder())) setenv("XDG_RUNTIME_DIR", folder->c_str(), 1);
}

// Qt ends the process with an abort when it cannot reach the display; a
// player says so and exits with the status of failed work instead.
void FatalAsExit(QtMsgType type, const QMessageLogContext& context, const QString& message) {
  if (type != QtFatalMsg) {
    const bool named = context.category && std::string(context.category) != "default";
    std::fprintf(stderr, "%s%s%s\n", named ? context.category : "", named ? ": " : "",
                 message.toLocal8Bit().constData());
    return;
  }
  const char* display = std::getenv("DISPLAY");
  std::fprintf(stderr, "korvel: cannot open the display \"%s\" (%s); --headless plays without one\n",
               display ? display : "", message.section('\n', 0, 0).toLocal8Bit().constData());
  std::fflush(stderr);
  std::_Exit(kv::exit_status::kAborted);
}

// The desktop application, made with fatal start-up errors turned into an exit.
class DesktopApp {
 public:
  DesktopApp(int& argc, char** argv) : previous_(qInstallMessageHandler(FatalAsExit)), app_(argc, argv) {
    qInstallMessageHandler(previous_);
  }
  QApplication& operator*() { return app_; }
  QApplication* operator->() { return &app_; }

 private:
  QtMessageHandler previous_;
  QApplication app_;
};

QColor ToQColor(kv::ColorRef c) { return QColor(c.Red(), c.Green(), c.Blue()); }

int PlayInWindow(int argc, char** argv, kv::PlayerOptions options, kv::HostFacts host, const kv::StageScale& scale,
                 const kv::WindowTarget& target) {
  DesktopApp desktop(argc, argv);
  QApplication& app = *desktop;
  app.setApplicationName("korvel");
  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    host.screenWidth = screen->size().width();
    host.screenHeight = screen->size().height();
  }
  // Window objects' widgets live on this (the GUI) thread, in the stage
  // window; the factory outlives the window and the player.
  kv::QtWidgetFactory widgets(
      [&app](std::function<void()> work) { QMetaObject::invokeMethod(&app, std::move(work), Qt::QueuedConnection); });
  // The frame's menus outlive the player too: its menu objects take their
  // menus down as they go. Choices reach the run's loop.
  kv::Player* runLoop = nullptr;
  kv::QtFrameMenus frameMenus(
      [&app](std::function<void()> work) { QMetaObject::invokeMethod(&app, std::move(work), Qt::QueuedConnection); },
      [&runLoop](std::function<void()> work) {
        if (runLoop) runLoop->PostToRun(std::move(work));
      });
  // The window outlives the player, whose stage presents into it.
  std::unique_ptr<kv::StageWindow> window;
  // The page-flip thread of an exclusive full-screen stage; goes before the window.
  std::unique_ptr<kv::ExclusivePresentation> exclusive;
  // Messages from outside would make a run on the virtual clock depend on
  // real time: such runs take none.
  const bool remote = !options.virtualClock;
  const bool allowModeChange = options.allowModeChange;
  // The display's own mode while a full-screen stage plays, when allowed.
  std::unique_ptr<kv::DisplayModeSwitch> modeSwitch;
  bool modeSwitchTold = false;
  kv::Player player(std::move(options), host);
  runLoop = &player;
  std::optional<kv::RemoteControl> control;
  if (remote)
    control.emplace(player, [&app, &window]() {
      // Waits a little only: the GUI thread may be on its way out.
      auto shown = std::make_shared<std::promise<bool>>();
      std::future<bool> answer = shown->get_future();
      QMetaObject::invokeMethod(&app, [&window, shown] {
        if (!window) return shown->set_value(false);
        if (window->isMinimized()) window->showNormal();
        window->show();
        window->raise();
        window->activateWindow();
        shown->set_value(true);
      }, Qt::QueuedConnection);
      return answer.wait_for(std::chrono::seconds(2)) == std::future_status::ready && answer.get();
    });
  player.SetFrameMenus(&frameMenus);
  player.SetPictureLoader(MakePictureLoader());
  kv::QtMessageBox qtBoxes(&app);
  kv::FlipAwareMessages boxes(qtBoxes);
  kv::QtClipboard clipboard(&app);
  player.SetWindowFactory(&widgets);
  kv::WindowServices services;
  services.messages = &boxes;
  services.clipboard = &clipboard;
  // The window is made on the GUI thread once the run knows its stage.
  kv::WindowPresenter* presenter = nullptr;
  const QSize screenSize(host.screenWidth, host.screenHeight);
  std::atomic<bool> wholeScreen{false};
  // Drags out of the stage (an object's content, the window's frame).
  kv::QtDragHost drags(
      [&app](std::function<void()> work) { QMetaObject::invokeMethod(&app, std::move(work), Qt::QueuedConnection); });
  services.stageReady = [&](kv::Stage& stage) {
    const kv::StageSettings& s = stage.settings();
    stage.SetDragHost(&drags);
    kv::StageScale shown = kv::PresentationScale(scale, s.stageMode, target);
    // With a mode of its own the stage shows 1:1, centred when the mode is larger.
    QSize screen = screenSize;
    std::optional<QRect> modeArea;
    if (allowModeChange && (s.stageMode == 1 || s.stageMode == 2) && !target.embedIn) {
      std::string why;
      if (modeSwitch) {
        modeSwitch->Restore();
        modeSwitch.reset();
      }
      if (QGuiApplication::platformName().startsWith("wayland"))
        why = "a Wayland session does not let a program change the display's resolution";
      else
        modeSwitch = kv::DisplayModeSwitch::Enter(s.clientWidth, s.clientHeight, why);
      if (modeSwitch) {
        const kv::DisplayModeSwitch::Rect a = modeSwitch->area();
        modeArea = QRect(a.x, a.y, a.width, a.height);
        screen = modeArea->size();
        shown.fit = false;
        shown.factor = 1;
      } else if (!why.empty() && !modeSwitchTold) {
        std::fprintf(stderr, "korvel: --allow-mode-change: %s; the stage is scaled to the screen instead\n",
                     why.c_str());
        modeSwitchTold = true;
      }
    }
    wholeScreen = s.placement == 1267 || shown.fullScreen;
    // The background picture is decoded here, on the run's thread, at the
    // size of the frame's client area (a twelfth of it for tiles); only
    // metafiles draw at the size asked for.
    kv::FrameBackground background;
    background.color = ToQColor(s.frameColor);
    background.tile = s.tileBackImage;
    if (!s.backImageHost.empty()) {
      const QSize client =
          s.placement == 1267 ? screen : kv::FrameClientSize(QSize(s.clientWidth, s.clientHeight), shown, screen);
      const int div = s.tileBackImage ? 12 : 1;
      kv::DecodedPicture picture;
      if (stage.pictures().LoadSized(s.backImageHost, std::max(1, client.width() / div),
                                     std::max(1, client.height() / div), picture) == 0)
        background.picture = kv::imaging::detail::ToQImage(picture.View());
      else
        std::fprintf(stderr, "korvel: the stage's background picture \"%s\" cannot be read; the frame colour stands in\n",
                     s.backImageHost.c_str());
    }
    QMetaObject::invokeMethod(
        &app,
        [&, s, stagePtr = &stage, background, shown, screen, modeArea] {
          window = std::make_unique<kv::StageWindow>(
              player, QSize(s.clientWidth, s.clientHeight), shown,
              QString::fromStdString(s.caption.empty() ? std::string("Korvel") : s.caption), background,
              s.exitKey, screen);
          presenter = &window->presenter();
          window->runWindow().FollowCursorOf(stagePtr);
          frameMenus.AttachWindow(window.get());
          kv::RunWindow* drawing = &window->runWindow();
          drags.Attach(drawing);
          widgets.AttachWindow(drawing, [drawing] { return drawing->StageArea(); }, QSize(s.clientWidth, s.clientHeight));
          if (!s.showCaption) window->setWindowFlag(Qt::FramelessWindowHint);
          // A saver and an exclusive full-screen stage stay above every other window.
          if (target.saver || s.stageMode == 2) window->setWindowFlag(Qt::WindowStaysOnTopHint);
          if (s.stageMode == 2) {
            exclusive = std::make_unique<kv::ExclusivePresentation>(*stagePtr);
            boxes.SetFlipper(&exclusive->flipper());
          }
          const bool embedded = target.embedIn && kv::ShowInsideForeignWindow(*window, *target.embedIn);
          if (target.embedIn && !embedded)
            std::fprintf(stderr,
                         target.hosted ? "korvel: /parent 0x%llx is not a window; the stage plays in a window of its own\n"
                                       : "korvel: 0x%llx is not a window; the saver plays on the whole screen\n",
                         static_cast<unsigned long long>(*target.embedIn));
          if (!embedded) {
            const kv::Point at = target.saver ? kv::Point{0, 0}
                                              : kv::StagePosition(s.placement, {s.placementX, s.placementY},
                                                                  window->width(), window->height(), screen.width(),
                                                                  screen.height());
            window->move(at.x, at.y);
            if (shown.fullScreen || (target.embedIn && !embedded && !target.hosted)) {
              // Without a window manager nobody honours the full-screen
              // request: the window takes the screen's geometry itself.
              window->setWindowFlag(Qt::FramelessWindowHint);
              if (modeArea)
                window->setGeometry(*modeArea);
              else if (QScreen* primary = QGuiApplication::primaryScreen())
                window->setGeometry(primary->geometry());
              window->showFullScreen();
            }
            else if (s.placement == 1267)
              window->showMaximized();
            else
              window->show();
          }
          if (exclusive) exclusive->Watch(window->windowHandle());
        },
        Qt::BlockingQueuedConnection);
    stage.compositor().SetPresenter(presenter);
    stage.compositor().RepaintBackground(true);
    if (exclusive) exclusive->Start();
  };
  // Downloads that show progress show it along the bottom of the stage window.
  // Over a stage maximised to the whole screen the panel is a window of its own.
  kv::WindowProgress progress([&]() -> QWidget* { return wholeScreen ? nullptr : window.get(); });
  services.progress = &progress;
  // Page setup and the progress of a print show over the stage window.
  auto onGui = [&app](std::function<void()> work) {
    if (QThread::currentThread() == app.thread())
      work();
    else
      QMetaObject::invokeMethod(&app, std::move(work), Qt::BlockingQueuedConnection);
  };
  kv::QtDesktopPrinters printers([&]() -> QWidget* { return window.get(); }, onGui);
  kv::QtPrintProgress printProgress([&]() -> QWidget* { return window.get(); }, onGui);
  services.printers = &printers;
  services.printProgress = &printProgress;
  player.SetPdfWriter(kv::MakePdfDevice);
  player.AttachWindow(services);
  // Sleep and wake of the machine pause and resume the player.
  kv::PowerWatch power(player);
  int status = 0;
  std::thread run([&] {
    progress.SetPlaying(true);
    try {
      status = player.Run();
    } catch (const std::exception& e) {
      std::fprintf(stderr, "korvel: %s\n", e.what());
      status = kv::exit_status::kAborted;
    }
    // The desktop gets its normal presentation and mode back before the window goes.
    if (exclusive) exclusive->Stop();
    if (modeSwitch) modeSwitch->Restore();
    progress.SetPlaying(false);
    QMetaObject::invokeMethod(&app, [&] {
      if (window) window->runEnded = true;
      app.quit();
    }, Qt::QueuedConnection);
  });
  app.exec();
  run.join();
  return status;
}

// Plays `options` in a window, or headless without a display (or when asked).
int Play(int argc, char** argv, kv::PlayerOptions options, const kv::WindowTarget& target) {
  kv::StageScale scale;
  if (!kv::ParseStageScale(options.scale, scale)) {
    std::fprintf(stderr, "korvel: --scale takes a whole number from 1 to 16 or \"fit\", not \"%s\"\n",
                 options.scale.c_str());
    return kv::exit_status::kUsage;
  }
  scale.fullScreen = options.fullscreen;
  if (scale.fullScreen && !scale.fit && options.scale.empty()) scale.fit = true;
  EnsureRuntimeFolder();
  try {
    kv::HostFacts host;
    std::error_code ec;
    auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (!ec) host.programDir = self.parent_path().string() + "/";
    // Without a file and with a display: the main frame, to open one.
    if (options.fileName.empty() && !options.headless && HaveDisplay()) {
      DesktopApp app(argc, argv);
      kv::MainFrame frame(kv::kVersion);
      frame.show();
      return app->exec() == 0 ? kv::exit_status::kOk : kv::exit_status::kAborted;
    }
    if (!options.headless && !HaveDisplay()) {
      std::fprintf(stderr, "korvel: no display; playing headless\n");
      options.headless = true;
    }
    if (!options.headless) return PlayInWindow(argc, argv, std::move(options), host, scale, target);
    // Drawn text, metafiles and window objects' widgets need a GUI
    // application; headless it draws off-screen, so frames are the same with
    // or without a display.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    // The run's loop is this thread, the GUI thread: widget work waits for
    // it. The factory outlives the player, whose objects own widgets.
    kv::Player* loop = nullptr;
    kv::QtWidgetFactory widgets([&loop](std::function<void()> work) { loop->PostToRun(std::move(work)); });
    // Without a window, downloads show their progress on the terminal; the
    // line outlives the player that reports to it.
    kv::TerminalProgress terminalProgress(stderr);
    const bool remote = !options.virtualClock;
    kv::Player player(std::move(options), host);
    loop = &player;
    if (isatty(STDERR_FILENO)) {
      kv::WindowServices services;
      services.progress = &terminalProgress;
      player.AttachWindow(services);
    }
    player.SetPictureLoader(MakePictureLoader());
    player.SetWindowFactory(&widgets);
    player.SetPdfWriter(kv::MakePdfDevice);
    std::optional<kv::RemoteControl> control;
    if (remote) control.emplace(player);
    return player.Run();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "korvel: %s\n", e.what());
    return kv::exit_status::kAborted;
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc > 1 && std::string(argv[1]) == kv::kModeKeeperSwitch) return kv::KeepDisplayMode(argc, argv);
  kv::PrepareWidgetPlatform();
#ifdef KV_TEST_KINDS
  kv::RegisterTestKinds();
#endif
  std::vector<std::string> args(argv + 1, argv + argc);
  // A saver: installed under a name ending in ".scr" (the standard switches)
  // or asked for with --saver (with a saver daemon's options).
  const bool scrName = kv::saver::IsSaverProgramName(argv[0]);
  if (scrName || kv::saver::HasSaverOption(args)) {
    kv::saver::SaverInvocation how;
    if (!kv::saver::HasSaverOption(args)) {
      how = kv::saver::ParseScrSwitches(args);
    } else {
      std::string error;
      if (!kv::saver::ParseSaverOptions(args, std::getenv("XSCREENSAVER_WINDOW"), how, error)) {
        std::fprintf(stderr, "korvel: %s\nTry 'korvel --help'.\n", error.c_str());
        return kv::exit_status::kUsage;
      }
    }
    EnsureRuntimeFolder();
    return kv::RunSaver(argc, argv, how, [&](kv::PlayerOptions options, const kv::WindowTarget& target) {
      return Play(argc, argv, std::move(options), target);
    });
  }
  kv::PlayerOptions options;
  std::string error;
  if (!kv::ParseCommandLine(args, options, error)) {
    std::fprintf(stderr, "korvel: %s\nTry 'korvel --help'.\n", error.c_str());
    return kv::exit_status::kUsage;
  }
  if (options.help) {
    std::fputs(kv::PlayerUsage().c_str(), stdout);
    return kv::exit_status::kOk;
  }
  if (options.version) {
    std::printf("korvel %s\n", kv::kVersion);
    return kv::exit_status::kOk;
  }
  // Nothing to play and no window to open one from: say how to start it.
  if (options.fileName.empty() && options.serverWindow.empty() && (options.headless || !HaveDisplay())) {
    std::fputs(kv::PlayerUsage().c_str(), stderr);
    return kv::exit_status::kUsage;
  }
  // Hosted: the stage goes inside the host's window.
  kv::WindowTarget target;
  if (options.pluginMode && !options.parentWindow.empty()) {
    uint64_t parent = 0;
    if (kv::saver::ParseWindowId(options.parentWindow, parent) && parent != 0) {
      target.embedIn = parent;
      target.hosted = true;
    } else {
      std::fprintf(stderr, "korvel: /parent \"%s\" is not a window id; the stage plays in a window of its own\n",
                   options.parentWindow.c_str());
    }
  }
  return Play(argc, argv, std::move(options), target);
}
