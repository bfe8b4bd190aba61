#include "shell/saver_shell.h"

#include <QApplication>
#include <QTimer>
#include <QWindow>
#include <cstdio>
#include <string>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include "net/temp_folder.h"
#include "player/player.h"
#include "stage/hooks.h"
#include "saver/saver_list.h"
#include "shell/saver_dialog.h"
#include "shell/saver_window.h"

namespace kv {

namespace {

// One saver runs at a time: the first holds a lock on a file of the user's
// runtime folder for as long as it lives (the kernel releases it with the
// process, however it ends). False when another saver holds it.
bool TakeSaverLock() {
  auto folder = PrepareUserFolder(DefaultRuntimeFolder());
  if (!folder) return true;  // no folder of ours: nothing to coordinate with
  const std::string path = *folder + "/PreventSecondScreenSaver.lock";
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) return true;
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    ::close(fd);
    return false;
  }
  return true;  // the descriptor stays open until the process ends
}

int Configure(int argc, char** argv, const saver::SaverInvocation& how) {
  QApplication app(argc, argv);
  SaverConfigDialog dialog(saver::SaverListPath());
  // Above the window that asked for it, when there is one.
  if (how.window && ForeignWindowSize(*how.window)) {
    dialog.winId();
    if (QWindow* parent = QWindow::fromWinId(static_cast<WId>(*how.window)))
      dialog.windowHandle()->setTransientParent(parent);
  }
  dialog.exec();
  return exit_status::kOk;
}

int Preview(int argc, char** argv, const saver::SaverInvocation& how) {
  if (!how.window) {
    std::fprintf(stderr, "korvel: the screen-saver preview needs the id of the window to draw into\n");
    return exit_status::kUsage;
  }
  QApplication app(argc, argv);
  const uint64_t id = *how.window;
  // The selected project's picture; without one the preview stays black.
  saver::SaverRunSettings settings;
  saver::SaverConfig picture;
  if (saver::ReadSaverConfiguration(saver::SaverListPath(), settings) == saver::ReadOutcome::kFound)
    picture.options.path = settings.projectPath;
  SaverPictureWindow window(nullptr, QString::fromStdString(picture.PicturePath()));
  if (!ShowInsideForeignWindow(window, id)) {
    std::fprintf(stderr, "korvel: 0x%llx is not a window; there is nothing to draw the preview into\n",
                 static_cast<unsigned long long>(id));
    return exit_status::kUsage;
  }
  // The preview ends with the window it lives in.
  QTimer watch;
  QObject::connect(&watch, &QTimer::timeout, &app, [&] {
    if (!ForeignWindowSize(id)) QCoreApplication::exit(0);
  });
  watch.start(500);
  return app.exec() == 0 ? exit_status::kOk : exit_status::kAborted;
}

int Run(const saver::SaverInvocation& how, const PlayFunction& play) {
  if (!TakeSaverLock()) {
    std::fprintf(stderr, "korvel: another screen saver is running\n");
    return exit_status::kAborted;
  }
  PlayerOptions options;
  std::string error;
  if (!ParseCommandLine(how.rest, options, error)) {
    std::fprintf(stderr, "korvel: %s\nTry 'korvel --help'.\n", error.c_str());
    return exit_status::kUsage;
  }
  const auto file = saver::SaverListPath();
  saver::SaverRunSettings settings;
  const saver::ReadOutcome outcome = saver::ReadSaverConfiguration(file, settings);
  if (outcome != saver::ReadOutcome::kFound) {
    std::fprintf(stderr, "korvel: %s\n", saver::ReadOutcomeText(outcome, file).c_str());
    return outcome == saver::ReadOutcome::kMalformed ? exit_status::kCorrupt : exit_status::kNotFound;
  }
  if (!options.fileName.empty()) {
    std::fprintf(stderr, "korvel: a saver run plays the project its list selects, not \"%s\"\n",
                 options.fileName.c_str());
    return exit_status::kUsage;
  }
  options.fileName = settings.projectPath;
  options.saver.running = true;
  options.saver.interactive = settings.interactive != 0;
  options.saver.stageMode = saver::StageModeOverride(settings.modeSwitch);
  options.saver.forceMemorySurface = saver::ForcesPresentationOption(settings.modeSwitch);
  WindowTarget target;
  target.saver = true;
  target.embedIn = how.window;
  target.wholeScreen = how.root;
  return play(std::move(options), target);
}

}  // namespace

int RunSaver(int argc, char** argv, const saver::SaverInvocation& how, const PlayFunction& play) {
  switch (how.mode) {
    case saver::SaverMode::kConfigure: return Configure(argc, argv, how);
    case saver::SaverMode::kPreview: return Preview(argc, argv, how);
    case saver::SaverMode::kRun: return Run(how, play);
    case saver::SaverMode::kChangePassword:
      std::fprintf(stderr,
                   "korvel: the screen saver keeps no password of its own; the desktop's screen locker asks for "
                   "the user's\n");
      return exit_status::kAborted;
    case saver::SaverMode::kNone: break;
  }
  std::fprintf(stderr, "korvel: no screen-saver mode given\n");
  return exit_status::kUsage;
}

}  // namespace kv
