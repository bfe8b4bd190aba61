// The owner of one run: the open project and its resource locator, the
// clock, the trace, the message box, the runner and the off-screen stage,
// built from the command line and handed down to everything that plays. The
// shell builds one with the real services; tests build one with the
// headless ones. Players in one process share no project, folder, locator,
// play state, message box, display depth or network hooks.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "player/command_line.h"
#include "player/remote_control.h"
#include "player/input_script.h"
#include "saver/saver_command.h"
#include "player/print_job.h"

namespace kv {

class VideoRecorder;

class ChildWindowFactory;
class FrameMenus;
class HeadlessMenus;
class ClipboardService;
class CResourceLocator;
class Clock;
class HostedRun;
class RRRequestor;
class Compositor;
class MemoryClipboard;
class MessageBoxService;
class NetHooks;
class ProgressSink;
class StopPredicate;
class PictureLoader;
class Presenter;
class DocumentOpener;
class ExtensionRunScope;
class HarnessFileDialog;
class HarnessMessageBox;
class PlayerMacroHost;
class ProgramLauncher;
class JsonTrace;
class LocatorResolver;
class MediaContext;
class OrlanBinding;
class PlayState;
class ProjectSession;
class Runner;
class ScriptThreadContext;
class Stage;
namespace imaging {
class RasterPictureLoader;
}

// Exit statuses every tool shares.
namespace exit_status {
inline constexpr int kOk = 0;
inline constexpr int kNotFound = 1;
inline constexpr int kCorrupt = 2;
inline constexpr int kAborted = 3;
inline constexpr int kUsage = 64;
}  // namespace exit_status

struct HostFacts {
  std::string programDir;  // host form
  int32_t screenWidth = 1024;
  int32_t screenHeight = 768;
};

// What a window gives a run: the presenter of the stage's frames, a real
// message box and clipboard, and the stage once it exists.
struct WindowServices {
  Presenter* presenter = nullptr;
  MessageBoxService* messages = nullptr;
  ClipboardService* clipboard = nullptr;  // the desktop's; null: the run keeps its own
  ProgressSink* progress = nullptr;       // the download progress window; null: none
  Printers* printers = nullptr;           // the desktop's printers; null: none
  PrintProgress* printProgress = nullptr;  // the window "Printing Image"; null: none shown
  std::function<void(Stage&)> stageReady;  // the stage exists (on the run's thread)
};

class Player {
 public:
  Player(PlayerOptions options, HostFacts host);
  ~Player();
  Player(const Player&) = delete;
  Player& operator=(const Player&) = delete;

  // Plays the file of the options; answers the exit status.
  int Run();
  // Before Run: play into a window. Run then goes on the caller's thread as
  // usual; the window feeds input with PostInput from its own thread.
  void AttachWindow(WindowServices services) { window_ = std::move(services); }
  // Before Run: the loader of the stage's pictures (the shell's reads
  // metafiles too); by default raster pictures only.
  void SetPictureLoader(std::unique_ptr<PictureLoader> loader) { pictures_ = std::move(loader); }
  // Input from a window, delivered by the run's loop as scripted input is.
  void PostInput(const InputEvent& e);
  // Before Run: the factory of window objects' widgets (none: a window kind
  // raises when it is shown).
  void SetWindowFactory(ChildWindowFactory* factory) { windowFactory_ = factory; }
  // Before Run: the frame's system menus of a window (none: the run keeps
  // a headless model of them, driven by the scripted input).
  void SetFrameMenus(FrameMenus* menus) { frameMenus_ = menus; }
  // Before Run: how a PDF is written for --print-to FILE.pdf (the shell's,
  // on Qt's printing); none: a PDF cannot be printed.
  void SetPdfWriter(FilePrinters::PdfFactory pdf) { pdf_ = std::move(pdf); }
  // Runs `work` soon on the thread that called Run, in order; from any
  // thread. A headless run's widgets live on that thread.
  void PostToRun(std::function<void()> work);
  // A registered message from another process, handled on the run's
  // thread; waits at most `timeoutMs` for the run to take it.
  RemoteOutcome Remote(RemoteMessage message, const std::string& object, int32_t code, int timeoutMs = 2000);
  // A screen saver running with its interactive option set ignores requests
  // to close its window.
  bool IgnoresClose() const { return options_.saver.running && options_.saver.interactive; }

 private:
  int Fail(int status, const std::string& message);
  // Plays the options' file (`first`: the run's first, which makes the
  // clock, the trace and the scripted input); answers its exit status.
  int PlayFile(bool first);
  int PrepareRun();
  // Everything of a project that was replaced goes, in the order the
  // destructor uses; a fresh folder, locator and play state come.
  void EndPlay();
  void Deliver(const InputEvent& e);
  void RouteToStage(const InputEvent& e);
  void RenderFrame(const std::string& name);
  // The stage as it stands into the recording, as grid frame `tick`.
  void RecordFrame(int64_t tick);
  // Ends the recording at `endMs`; the run's status, or 1 when it failed.
  int FinishRecording(int status, int64_t endMs);
  // Keyboard input for the focused window object; true when it took it.
  bool OfferToFocus(const InputEvent& e);
  // Input for the headless frame menus while they are in use; true when taken.
  bool OfferToMenus(const InputEvent& e);
  void RunPostedWork();
  // Runs the requests queued for the run's own (main) thread; true when
  // there was one.
  bool RunOwnRequests();
  void EndRun(int status);

  PlayerOptions options_;
  HostFacts host_;
  // The run's project with its locator and play state; everything that
  // plays reaches them through the runner.
  std::unique_ptr<CResourceLocator> locator_;
  std::unique_ptr<LocatorResolver> resolver_;
  std::unique_ptr<PlayState> playState_;
  std::unique_ptr<ProjectSession> session_;
  std::unique_ptr<Clock> clock_;
  std::unique_ptr<JsonTrace> trace_;
  std::unique_ptr<HarnessMessageBox> messages_;
  std::unique_ptr<HarnessFileDialog> fileDialog_;
  std::unique_ptr<MemoryClipboard> clipboard_;
  std::unique_ptr<PlayerMacroHost> macros_;
  std::unique_ptr<ProgramLauncher> launcher_;
  std::unique_ptr<DocumentOpener> documents_;
  std::unique_ptr<MediaContext> media_;
  std::unique_ptr<Runner> runner_;
  std::unique_ptr<OrlanBinding> orlan_;
  // Extensions' own threads reach this run while it lives.
  std::unique_ptr<ExtensionRunScope> extensions_;
  std::shared_ptr<ScriptThreadContext> main_;
  std::unique_ptr<PictureLoader> pictures_;
  std::unique_ptr<Stage> stage_;
  // Printing draws the stage, so it goes before it.
  FilePrinters::PdfFactory pdf_;
  std::unique_ptr<FilePrinters> filePrinters_;
  std::unique_ptr<SilentPrintProgress> silentProgress_;
  std::unique_ptr<RunPrinting> printing_;
  // Goes before the stage, whose compositor shows its lists.
  std::unique_ptr<HeadlessMenus> headlessMenus_;
  FrameMenus* frameMenus_ = nullptr;
  // The run's network hooks (shared with upload threads) and its stop test.
  std::shared_ptr<NetHooks> net_;
  std::unique_ptr<StopPredicate> netStop_;
  std::vector<InputEvent> input_;
  WindowServices window_;
  std::mutex inputLock_;
  std::atomic<ScriptThreadContext*> liveMain_{nullptr};
  std::vector<InputEvent> liveInput_;
  ChildWindowFactory* windowFactory_ = nullptr;
  std::vector<std::function<void()>> runWork_;  // guarded by inputLock_
  int frames_ = 0;
  // A saver that is not interactive ends on a key release or a mouse move.
  saver::SaverExitWatch saverWatch_;
  bool saverEnded_ = false;
  // The scripted input and frames still to come, across replaced projects.
  size_t nextInput_ = 0;
  size_t nextRenderAt_ = 0;
  std::unique_ptr<VideoRecorder> recorder_;  // --record, for the first project played
  int64_t nextRecordTick_ = 0;
  int64_t recordWidth_ = 0, recordHeight_ = 0;
  int64_t nextEvery_ = 0;
  std::string nextProject_;  // the host file a replaced project named
  int64_t clockBase_ = 0;    // the run's time when the current clock started
  bool leftDown_ = false;
  bool ended_ = false;
  // Hosted playing: the link to the host and the requestor on it; the exit
  // code the host's end of the connection gave (-1 while it lasts).
  friend class HostedRun;
  int ConnectHost();
  // What a hosted run's locator needs; called for each new locator.
  void ConfigureLocator();
  std::unique_ptr<HostedRun> hosted_;
  std::unique_ptr<RRRequestor> requestor_;
  std::atomic<int> hostEnded_{-1};
};

}  // namespace kv
