#include "player/player.h"

#include <chrono>
#include <future>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <future>
#include <sstream>

#include <unistd.h>

#include "engine/clock.h"
#include "engine/expand_names.h"
#include "engine/macro_host.h"
#include "engine/request.h"
#include "engine/runner.h"
#include "ext/extension_callbacks.h"
#include "ext/orlan_binding.h"
#include "ext/register.h"
#include "imaging/picture_loader.h"
#include "inserts/headless_menus.h"
#include "inserts/stage_host.h"
#include "media/media_context.h"
#include "media/video_recorder.h"
#include "persist/locator_resolver.h"
#include "net/hooks.h"
#include "net/requestor.h"
#include "ext/orlan_files.h"
#include "saver/saver_command.h"
#include "net/temp_folder.h"
#include "persist/document.h"
#include "persist/hooks.h"
#include "persist/open_project.h"
#include "persist/project_session.h"
#include "persist/project_tree.h"
#include "platform/clipboard.h"
#include "platform/files.h"
#include "platform/launcher.h"
#include "platform/message_box.h"
#include "platform/settings.h"
#include "platform/paths.h"
#include "platform/picture_bound.h"
#include "platform/string_table.h"
#include "platform/text.h"
#include "player/harness_messages.h"
#include "player/json_trace.h"
#include "stage/compositor.h"
#include "stage/widget_window.h"

namespace kv {

namespace {

// The document layer's questions about the engine, answered by this run.
class RunPlayState : public PlayState {
 public:
  explicit RunPlayState(const std::unique_ptr<Runner>& runner) : runner_(runner) {}
  bool IsPlaying() override { return runner_ && runner_->playerRunning; }
  void SetLastError(int code) override {
    if (runner_) runner_->variables().SetLastError(code);
  }
  void AbortProject() override {
    if (runner_) runner_->AbortProject();
  }

 private:
  const std::unique_ptr<Runner>& runner_;
};

DocPtr LoadScriptFile(const ProjectSession& session, const std::string& path) {
  auto resolved = session.locator().RetrieveResource(path);
  if (!resolved) return nullptr;
  auto host = session.HostPath(*resolved);
  std::string bytes;
  if (!host || !ReadHostFile(*host, bytes)) return nullptr;
  try {
    auto doc = LoadDocument(std::span(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()),
                            FileNameAndExt(*resolved), session.opened.compilation, &session);
    // Traces and lookups name a script as the project gave it.
    doc->pathName = path;
    return doc;
  } catch (const std::exception&) {
    // An unreadable script is reported by the command that asked for it.
    return nullptr;
  }
}

// The run's stop as its network transfers see it: an abort, the end of the
// run, or the exit key on its stage.
class RunNetStop : public StopPredicate {
 public:
  RunNetStop(Runner& runner, const Stage& stage) : runner_(runner), stage_(stage) {}
  bool StopRequested() const override { return stage_.QuitRequested() || runner_.IsStopRequested(); }

 private:
  Runner& runner_;
  const Stage& stage_;
};

// The stage's drawing area as the project stores it: the client size, or
// the stage rectangle's when a client side is unset.
std::pair<int64_t, int64_t> StoredStageSize(const ProjectSettings& s) {
  int64_t w = s.clientWidth, h = s.clientHeight;
  if (w <= 0 || h <= 0) {
    w = std::max<int64_t>(1, int64_t(s.stageRight) - s.stageLeft);
    h = std::max<int64_t>(1, int64_t(s.stageBottom) - s.stageTop);
  }
  return {w, h};
}

}  // namespace

Player::Player(PlayerOptions options, HostFacts host)
    : options_(std::move(options)),
      host_(std::move(host)),
      locator_(std::make_unique<CResourceLocator>()),
      resolver_(std::make_unique<LocatorResolver>(*locator_)),
      playState_(std::make_unique<RunPlayState>(runner_)),
      session_(std::make_unique<ProjectSession>(*resolver_, *playState_)),
      net_(std::make_shared<NetHooks>()) {
  // Local names the locator keeps resolve through this run's folder and drives.
  locator_->SetHostPaths([session = session_.get()](const std::string& name) { return session->HostPath(name); });
}

// What the requestor asks of a hosted run.
class HostedRun final : public RequestorEvents {
 public:
  explicit HostedRun(Player& player) : p_(player) {}

  HostFailureChoice HostNotResponding() override {
    const MsgAnswer a = p_.messages_->ShowWithId(sid::kHostNotResponding, LoadString(sid::kHostNotResponding),
                                                 LoadString(sid::kAppName), MsgButtons::AbortRetryIgnore,
                                                 MsgIcon::Exclamation);
    if (a == MsgAnswer::Retry) return HostFailureChoice::Retry;
    if (a == MsgAnswer::Ignore) return HostFailureChoice::Ignore;
    return HostFailureChoice::Abort;
  }

  void HostEnded(int exitCode, bool /*afterAbort*/, const std::string& reason) override {
    std::fprintf(stderr, "korvel: the host's connection ended: %s\n", reason.c_str());
    p_.hostEnded_ = exitCode;
    // The project stops; the run's loop then ends with the host's code.
    p_.PostToRun([&p = p_] {
      if (p.runner_) p.runner_->AbortProject(false);
    });
  }

  bool StopWaiting() override {
    return p_.hostEnded_ >= 0 || (p_.liveMain_.load() && p_.runner_ && p_.runner_->IsStopRequested());
  }

  // A compilation is asked for with its scene's description from the tree.
  std::string MappedName(const std::string& name) override {
    if (!p_.session_ || !p_.session_->project) return {};
    return GetNodeDescription(*p_.session_, FileNameOnly(name) + ".kvs").value_or(std::string());
  }

  // The stage as a bitmap; a true-colour stage has no palette to give (9).
  bool CopyStage(uint32_t format) override {
    if (format != 2) return false;
    auto done = std::make_shared<std::promise<bool>>();
    auto answer = done->get_future();
    p_.PostToRun([&p = p_, done] {
      bool ok = false;
      if (p.stage_ && p.runner_ && p.runner_->Clipboard()) {
        const PixelBuffer pixels = p.stage_->compositor().Snapshot();
        const ClipboardBitmap bitmap = ClipboardBitmapOf(pixels, Rect{0, 0, pixels.Width(), pixels.Height()});
        ok = !bitmap.IsNull();
        if (ok) p.runner_->Clipboard()->PutPicture(bitmap, {});
      }
      done->set_value(ok);
    });
    // A run busy elsewhere (opening its project) cannot copy now.
    return answer.wait_for(std::chrono::seconds(2)) == std::future_status::ready && answer.get();
  }

 private:
  Player& p_;
};

void Player::ConfigureLocator() {
  if (!options_.pluginMode) return;
  locator_->SetStandAlone(false);
  locator_->SetLocalBase(options_.baseUrl.find("file://") != std::string::npos);
  locator_->SetRequestor(requestor_.get());
}

int Player::ConnectHost() {
  if (!options_.pluginMode) {
    if (!options_.serverWindow.empty() || !options_.parentWindow.empty())
      std::fprintf(stderr, "korvel: /server and /parent belong to hosted playing, which needs /plugin NAME; the "
                           "project plays on its own\n");
    return -1;
  }
  SetPluginMode(true);
  // Without a host to ask, names resolve as they are (a host that handed
  // the player local files).
  if (!options_.serverWindow.empty()) {
    std::string error;
    const int fd = RRRequestor::OpenServer(options_.serverWindow, error);
    if (fd < 0) return Fail(exit_status::kNotFound, "cannot reach the host: " + error);
    const std::string temp = locator_->GetTemporaryDirectory();
    if (temp.empty()) {
      ::close(fd);
      return Fail(exit_status::kNotFound, "no temporary folder for the host's resources");
    }
    RequestorOptions requestor;
    requestor.timeoutMs = options_.hostTimeoutMs;
    hosted_ = std::make_unique<HostedRun>(*this);
    requestor_ = std::make_unique<RRRequestor>(TempFolder(temp), requestor, *hosted_);
    if (!requestor_->Connect(fd, error)) {
      requestor_.reset();
      return Fail(exit_status::kNotFound, "the host at " + options_.serverWindow + ": " + error);
    }
  }
  ConfigureLocator();
  return -1;
}

Player::~Player() {
  // The host hears that we go before anything its answers reach goes.
  if (requestor_) requestor_->Disconnect();
  // Transfers still running end before what their stop test asks goes.
  net_->End();
  if (runner_) runner_->Shutdown();
  // Scripts' engine state goes with the binding, before the runner it serves.
  if (runner_) {
    runner_->SetOrlan(nullptr);
    runner_->Context().orlan = nullptr;
  }
  extensions_.reset();
  orlan_.reset();
  // Inserts that outlive the run still own sprites; the stage goes last.
  runner_.reset();
  // Widgets of the objects just gone are destroyed on this thread's loop,
  // those of the project's own objects too, while the loop is still here.
  if (session_) session_->project.reset();
  RunPostedWork();
  media_.reset();
}

int Player::Fail(int status, const std::string& message) {
  std::fprintf(stderr, "korvel: %s\n", message.c_str());
  return status;
}

int Player::Run() {
  int status = PlayFile(true);
  // A project that replaced itself ("Run New Project") plays on the same
  // clock, trace and scripted input once the old one is wholly gone.
  while (!nextProject_.empty()) {
    options_.fileName = Cp1252ToUtf8(nextProject_);
    options_.projectName.clear();
    nextProject_.clear();
    EndPlay();
    status = PlayFile(false);
  }
  return status;
}

void Player::EndPlay() {
  // As the destructor does, in its order, keeping what the process shares.
  net_->End();
  if (runner_) {
    runner_->Shutdown();
    runner_->SetOrlan(nullptr);
    runner_->Context().orlan = nullptr;
    runner_->SetPrinter(nullptr);
  }
  orlan_.reset();
  printing_.reset();
  headlessMenus_.reset();
  runner_.reset();
  RunPostedWork();
  stage_.reset();
  media_.reset();
  main_.reset();
  netStop_.reset();
  documents_.reset();
  launcher_.reset();
  macros_.reset();
  fileDialog_.reset();
  // A new project comes with its own folder, locator and play state.
  session_.reset();
  playState_.reset();
  resolver_.reset();
  locator_ = std::make_unique<CResourceLocator>();
  resolver_ = std::make_unique<LocatorResolver>(*locator_);
  playState_ = std::make_unique<RunPlayState>(runner_);
  session_ = std::make_unique<ProjectSession>(*resolver_, *playState_);
  locator_->SetHostPaths([session = session_.get()](const std::string& name) { return session->HostPath(name); });
  ConfigureLocator();
  net_ = std::make_shared<NetHooks>();
  // The old run's clock was halted with it; the new one's counts on from
  // where it stopped, as the trace and the scripted input see the run.
  clockBase_ += clock_->NowMs();
  clock_ = std::make_unique<Clock>(options_.virtualClock);
  if (trace_) trace_->Rebase(*clock_, clockBase_);
}

// What a run sets up once for all the projects it plays: the clock, the
// trace, the answers, the scripted input and the frames' folder. -1 when
// ready, else the exit status.
int Player::PrepareRun() {
  clock_ = std::make_unique<Clock>(options_.virtualClock);
  if (!options_.traceFile.empty()) {
    FILE* out = stdout;
    bool owned = false;
    if (options_.traceFile != "-") {
      out = std::fopen(options_.traceFile.c_str(), "w");
      if (!out) return Fail(exit_status::kNotFound, "cannot write the trace " + options_.traceFile);
      owned = true;
    }
    trace_ = std::make_unique<JsonTrace>(*clock_, out, owned);
  }
  std::deque<std::string> answers;
  std::string error;
  if (!HarnessMessageBox::ParseAnswers(options_.answers, answers, error)) return Fail(exit_status::kUsage, error);
  if (!options_.inputFile.empty()) {
    std::string text;
    if (!ReadHostFile(options_.inputFile, text))
      return Fail(exit_status::kNotFound, "cannot read the input script " + options_.inputFile);
    if (!ParseInputScript(text, input_, error))
      return Fail(exit_status::kCorrupt, options_.inputFile + ": " + error);
  }
  if (!options_.renderDir.empty()) {
    std::error_code ec;
    std::filesystem::create_directories(options_.renderDir, ec);
    if (ec) return Fail(exit_status::kNotFound, "cannot create " + options_.renderDir + ": " + ec.message());
  }
  if (options_.headless && (options_.fullscreen || !options_.scale.empty()))
    std::fprintf(stderr, "korvel: --fullscreen and --scale apply to the stage window; a headless run ignores them\n");

  messages_ = std::make_unique<HarnessMessageBox>(std::move(answers), trace_.get(), trace_ == nullptr && !window_.messages);
  messages_->SetInteractive(window_.messages);
  return ConnectHost();
}

int Player::PlayFile(bool first) {
  if (first)
    if (const int status = PrepareRun(); status >= 0) return status;
  session_->SetMessages(messages_.get());
  net_->SetProgressSink(window_.progress);
  RegisterInsertClasses();

  if (trace_) trace_->Start(options_.fileName);
  if (options_.fileName.empty()) {
    EndRun(exit_status::kUsage);
    return Fail(exit_status::kUsage, "no project file given (korvel --help lists the options)");
  }
  bool opened = false;
  int openStatus = exit_status::kNotFound;
  try {
    opened = OpenProject(*session_, Utf8ToCp1252(options_.fileName), Utf8ToCp1252(options_.projectName));
  } catch (const FatalProjectError&) {
    openStatus = exit_status::kCorrupt;
  }
  if (!opened) {
    EndRun(openStatus);
    return openStatus;
  }
  DocPtr project = session_->project;
  // The saver's mode switch replaces the project's own display mode.
  if (options_.saver.running) {
    if (options_.saver.stageMode) project->settings.stageMode = *options_.saver.stageMode;
    if (options_.saver.forceMemorySurface) project->settings.presentationOption = 1;
  }
  // A stage past the bound is refused before anything is made for it.
  const auto [stageWidth, stageHeight] = StoredStageSize(project->settings);
  const int64_t stagePixels = StagePixelBound(host_.screenWidth, host_.screenHeight);
  if (!WithinPictureBound(stageWidth, stageHeight, stagePixels)) {
    const std::string text = FileNameAndExt(session_->projectPath) + ": a stage of " + std::to_string(stageWidth) +
                             " x " + std::to_string(stageHeight) + " pixels is too large (" +
                             PictureBoundText(stagePixels) + ")";
    messages_->Show(text, LoadString(sid::kAppName), MsgButtons::Ok, MsgIcon::Exclamation);
    EndRun(exit_status::kCorrupt);
    return Fail(exit_status::kCorrupt, Cp1252ToUtf8(text));
  }

  RuntimeFacts facts;
  facts.displayWidth = host_.screenWidth;
  facts.displayHeight = host_.screenHeight;
  facts.projectDirectory = session_->projectDir;
  facts.projectName = FileNameAndExt(session_->projectPath);
  // Name substitution: the project's folder is drive C:, the cache is the
  // locator's folder, and a variable is read silently.
  fileDialog_ = std::make_unique<HarnessFileDialog>(*messages_);
  const DriveMap& drives = session_->drives;
  const std::string baseDir = session_->BaseDir();
  macros_ = std::make_unique<PlayerMacroHost>(drives, SettingsStore::Process(), *fileDialog_);
  macros_->SetBaseDir(baseDir);
  macros_->SetProjectDir(drives.StoredPathOf(baseDir));
  macros_->SetProgramDir(drives.StoredPathOf(host_.programDir));
  macros_->SetCacheDir(drives.StoredPathOf(locator_->GetTemporaryDirectory()));
  macros_->SetVariableLookup([this](const std::string& name) -> std::optional<std::string> {
    if (!runner_) return std::nullopt;
    auto item = runner_->variables().FindVariable(name, nullptr, {}, false);
    if (!item) return std::nullopt;
    return runner_->variables().FormatValue(*item);
  });
  launcher_ = std::make_unique<PosixLauncher>(drives, baseDir);
  documents_ = std::make_unique<XdgDocumentOpener>(*launcher_, drives, baseDir, [this](const std::string& host) {
    return orlan_ && orlan_->Files().guard.MayOpen(host);
  });
  facts.cdromDrive = ExpandNames("%CD%", *macros_);
  facts.projectDirectory = macros_->ProjectDir();
  facts.programDirectory = macros_->ProgramDir();
  facts.baseUrl = options_.baseUrl;
  facts.siteId = options_.siteId;
  facts.att = options_.attValue;
  // The hosting window's id: what the host gave after "/parent".
  if (uint64_t parent = 0; options_.pluginMode && saver::ParseWindowId(options_.parentWindow, parent))
    facts.browserWindow = static_cast<int32_t>(parent);

  // --record: the first project's stage and sound; a file that cannot be
  // made ends the run before it starts.
  if (first && !options_.recordFile.empty()) {
    try {
      recorder_ = std::make_unique<VideoRecorder>(options_.recordFile, int(stageWidth), int(stageHeight));
    } catch (const std::exception& e) {
      EndRun(exit_status::kNotFound);
      return Fail(exit_status::kNotFound, e.what());
    }
    nextRecordTick_ = 0;
    recordWidth_ = stageWidth;
    recordHeight_ = stageHeight;
  }

  // The run's sound: captured, silent on the virtual clock, or the speakers.
  MediaOptions media;
  media.recording = first ? recorder_.get() : nullptr;
  media.noDevice = options_.noAudioDevice;
  media.captureFile = options_.audioOut;
  media.speakers = !options_.virtualClock;
  // [Sound] in the settings: the SoundFont for MIDI, and the folder of CD
  // track files (relative to the project's folder; "cdaudio" by default).
  media.soundFont = GetSetting("Sound", "SoundFont", std::string());
  media.cdFolder = std::filesystem::path(baseDir) / GetSetting("Sound", "CDAudioFolder", std::string("cdaudio"));
  media.resolve = [this](const std::string& name) { return LocalFileOf(*session_, name); };
  try {
    media_ = std::make_unique<MediaContext>(*clock_, trace_.get(), std::move(media));
  } catch (const std::exception& e) {
    EndRun(exit_status::kNotFound);
    return Fail(exit_status::kNotFound, e.what());
  }

  RunnerServices services;
  services.clock = clock_.get();
  services.messages = messages_.get();
  services.trace = trace_.get();
  services.seeded = options_.seed.has_value();
  services.seed = options_.seed.value_or(0);
  services.loadScript = [this](const std::string& path) { return LoadScriptFile(*session_, path); };
  services.expandNames = [this](const std::string& text) { return ExpandNames(text, *macros_); };
  services.launcher = launcher_.get();
  services.documents = documents_.get();
  // A window brings the desktop's clipboard; otherwise the run keeps its own.
  clipboard_ = std::make_unique<MemoryClipboard>();
  services.clipboard = window_.clipboard ? window_.clipboard : clipboard_.get();
  services.media = media_.get();
  services.resolveFile = [this](const std::string& name) {
    auto file = LocalFileOf(*session_, name);
    return file ? file->string() : std::string();
  };
  services.session = session_.get();
  runner_ = std::make_unique<Runner>(std::move(services), facts);
  runner_->Context().media = media_.get();
  runner_->Context().net = net_;
  // The Orlan engine with its library, and the project's own Orlan object;
  // a project whose Orlan code fails to load does not start.
  orlan_ = std::make_unique<OrlanBinding>(*runner_);
  orlan_->SetRunFolders(baseDir, host_.programDir, locator_->GetTemporaryDirectory(),
                        DefaultRuntimeFolder());
  orlan_->SetFileDialog(fileDialog_.get());
  if (!orlan_->Initialize() || !orlan_->StartProject(*project, session_->projectPath)) {
    EndRun(exit_status::kCorrupt);
    return exit_status::kCorrupt;
  }
  runner_->SetOrlan(orlan_.get());
  runner_->Context().orlan = orlan_.get();
  extensions_ = std::make_unique<ExtensionRunScope>(*runner_);

  // The stage, composed off-screen; frames are written from it.
  const ProjectSettings& s = project->settings;
  StageSettings stage;
  stage.clientWidth = static_cast<int32_t>(stageWidth);
  stage.clientHeight = static_cast<int32_t>(stageHeight);
  stage.maxPixels = stagePixels;
  stage.clientColor = ColorRef(s.clientColor);
  stage.frameColor = ColorRef(s.frameColor);
  stage.exitKey = s.exitKey ? s.exitKey : kDefaultExitKey;
  stage.caption = s.stageCaption;
  stage.showCaption = s.showCaption != 0;
  stage.placement = static_cast<int32_t>(s.placement);
  stage.placementX = s.placementX;
  stage.placementY = s.placementY;
  stage.tileBackImage = s.tileBackImage != 0;
  stage.stageMode = s.stageMode;
  stage.presentationOption = s.presentationOption;
  stage.acceptsDrops = project->headerFlags[3] != 0;
  // No background picture under a display switch, nor behind a stage that
  // covers the whole screen anyway.
  const bool coversScreen = s.stageRight - s.stageLeft >= host_.screenWidth &&
                            s.stageBottom - s.stageTop >= host_.screenHeight;
  if (!s.backImage.empty() && s.stageMode == 0 && !coversScreen) {
    auto resolved = session_->locator().RetrieveResource(ExpandNames(s.backImage, *macros_));
    if (auto host = resolved ? session_->HostPath(*resolved) : std::nullopt) stage.backImageHost = *host;
  }
  if (!pictures_) pictures_ = std::make_unique<imaging::RasterPictureLoader>();
  stage_ = std::make_unique<Stage>(*runner_, stage,
                                   options_.depth == 16 ? PixelFormat::kRgb565 : PixelFormat::kXrgb32, *pictures_);
  runner_->SetStage(stage_.get());
  runner_->Context().stage = stage_.get();
  netStop_ = std::make_unique<RunNetStop>(*runner_, *stage_);
  net_->SetStopPredicate(netStop_.get());
  stage_->SetWindowFactory(windowFactory_);
  if (!frameMenus_) headlessMenus_ = std::make_unique<HeadlessMenus>(*stage_);
  stage_->SetFrameMenus(frameMenus_ ? frameMenus_ : headlessMenus_.get());
  runner_->stopKey = stage.exitKey;
  if (window_.presenter) stage_->compositor().SetPresenter(window_.presenter);
  // Printing goes into the file of --print-to, else to the desktop's printers.
  if (!options_.printTo.empty()) filePrinters_ = std::make_unique<FilePrinters>(options_.printTo, pdf_);
  if (Printers* printers = filePrinters_ ? filePrinters_.get() : window_.printers) {
    silentProgress_ = std::make_unique<SilentPrintProgress>();
    PrintProgress* progress = window_.printProgress ? window_.printProgress : silentProgress_.get();
    printing_ = std::make_unique<RunPrinting>(*stage_, *printers, *progress, trace_.get(),
                                              FileNameAndExt(session_->projectPath));
    runner_->SetPrinter(printing_.get());
  }
  if (window_.stageReady) window_.stageReady(*stage_);

  main_ = ScriptThreadContext::Create(*runner_, "main", runner_->NextSeed());
  ScriptThreadContext::SetCurrent(main_.get());
  liveMain_ = main_.get();
  Waiter& waiter = main_->port.waiter();
  waiter.wakeOnIdle = true;
  waiter.watcher = true;
  clock_->Join(waiter);
  macros_->SetPlaying(true);
  runner_->Start(project, main_);

  size_t& nextInput = nextInput_;
  size_t& nextRenderAt = nextRenderAt_;
  int64_t& nextEvery = nextEvery_;
  if (first) nextEvery = options_.renderEvery ? options_.renderEvery : kForever;
  bool wasIdle = false;
  uint64_t idleActivity = 0;
  int64_t hoverPeriod = 0;  // of the stage's hover timer, which ticks every 400 ms of the run's clock
  for (;;) {
    const int64_t now = clockBase_ + clock_->NowMs();
    // Frames at given times show everything due at that time.
    bool renderDue = (nextRenderAt < options_.renderAt.size() && options_.renderAt[nextRenderAt] <= now) ||
                     nextEvery <= now;
    if (recorder_ && first && VideoRecorder::TickMs(nextRecordTick_) <= now) {
      clock_->WaitQuiet(waiter);
      // A late wake (real time) records the stage once, at the latest tick.
      RecordFrame(VideoRecorder::TickAt(now));
      nextRecordTick_ = VideoRecorder::TickAt(now) + 1;
    }
    if (renderDue) {
      clock_->WaitQuiet(waiter);
      while (nextRenderAt < options_.renderAt.size() && options_.renderAt[nextRenderAt] <= now)
        RenderFrame("t-" + std::to_string(options_.renderAt[nextRenderAt++]) + ".png");
      while (nextEvery <= now) {
        RenderFrame("t-" + std::to_string(nextEvery) + ".png");
        nextEvery += options_.renderEvery;
      }
    }
    RunPostedWork();
    while (nextInput < input_.size() && input_[nextInput].timeMs <= now) Deliver(input_[nextInput++]);
    std::vector<InputEvent> live;
    {
      std::lock_guard lock(inputLock_);
      live.swap(liveInput_);
    }
    for (const InputEvent& e : live) Deliver(e);
    const bool hovering = stage_->Hovering();
    if (hovering && now / Stage::kHoverTickMs > hoverPeriod) stage_->HoverTick();
    hoverPeriod = now / Stage::kHoverTickMs;
    if (runner_->Ended() || saverEnded_ || hostEnded_ >= 0) break;
    if (options_.untilMs && now >= *options_.untilMs) break;
    uint64_t activity = 0;
    const bool idle = clock_->OthersIdle(waiter, &activity);
    // Input answered so fast that the run was never seen busy still ends in
    // a new idle moment: the frame count must not depend on scheduling.
    if (idle && (!wasIdle || activity != idleActivity)) RenderFrame("");
    if (idle) idleActivity = activity;
    wasIdle = idle;
    // A stale hover is still to be ended by the timer's next tick.
    // A stale hover is still to be ended by the timer's next tick.
    const bool nothingScripted =
        nextInput >= input_.size() && nextRenderAt >= options_.renderAt.size() && !stage_->HoverStale();
    if (options_.untilIdle && idle && nothingScripted) {
      // Requests posted to this thread (the main thread's commands, such as
      // printing) run before the run may end; what they did is looked at again.
      if (!RunOwnRequests()) break;
      continue;
    }
    int64_t deadline = kForever;
    if (nextInput < input_.size()) deadline = std::min(deadline, input_[nextInput].timeMs);
    if (nextRenderAt < options_.renderAt.size()) deadline = std::min(deadline, options_.renderAt[nextRenderAt]);
    if (options_.untilMs) deadline = std::min(deadline, *options_.untilMs);
    deadline = std::min(deadline, nextEvery);
    if (recorder_ && first) deadline = std::min(deadline, VideoRecorder::TickMs(nextRecordTick_));
    if (stage_->Hovering()) deadline = std::min(deadline, (hoverPeriod + 1) * Stage::kHoverTickMs);
    // Woken at each new idle moment (its frame is written then, before time
    // moves on to scripted input); once seen, time may pass the idle stretch.
    waiter.wakeOnIdle = (options_.untilIdle && nothingScripted) || !wasIdle;
    runner_->PumpMessage(true, deadline == kForever ? kForever : deadline - clockBase_);
  }
  // Input that ends a saver ends its run as the project's own end does.
  int status = saverEnded_ ? exit_status::kOk : runner_->ExitStatus();
  // A host that ended the connection ends the run with its code.
  if (hostEnded_ >= 0) status = hostEnded_;
  // The capture ends at the run's end time, before the threads are torn down.
  media_->Sync();
  const int64_t endMs = clock_->NowMs();
  if (recorder_ && first) RecordFrame(VideoRecorder::TickAt(endMs));
  liveMain_ = nullptr;
  net_->End();
  orlan_->StopAll();
  runner_->Shutdown();
  // The stage's cursor is the default again once the project has ended, and
  // the frame shows no menu.
  stage_->SetStageCursor(nullptr, false);
  stage_->ReleaseFrameMenus();
  orlan_->EndProject();
  try {
    media_->Finish();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "korvel: %s\n", e.what());
  }
  macros_->SetPlaying(false);
  clock_->Leave(waiter);
  if (recorder_ && first) status = FinishRecording(status, endMs);
  ScriptThreadContext::SetCurrent(nullptr);
  liveMain_ = nullptr;
  // A project replaced by another ends here; the run goes on with the new one.
  nextProject_ = runner_->TakeNewProject();
  if (!nextProject_.empty()) return status;
  // A PDF printed into holds every page once its document has ended.
  if (filePrinters_) {
    std::string error;
    if (!filePrinters_->Finish(error)) std::fprintf(stderr, "korvel: printing failed: %s\n", error.c_str());
  }
  EndRun(status);
  return status;
}

bool Player::RunOwnRequests() {
  auto frontIsRequest = [this] {
    bool request = false;
    main_->port.DropLeadingRequests([&request](const Request&) {
      request = true;
      return false;
    });
    return request;
  };
  bool ran = false;
  // What is queued now, wake-ups of posted work included, goes through once.
  for (int i = 0; i < 1000 && !main_->port.Empty(); ++i) {
    ran = frontIsRequest() || ran;
    runner_->PumpMessage(true, clock_->NowMs());
  }
  return ran;
}

void Player::PostToRun(std::function<void()> work) {
  {
    std::lock_guard lock(inputLock_);
    runWork_.push_back(std::move(work));
  }
  if (ScriptThreadContext* main = liveMain_.load()) {
    Message m;
    m.kind = MsgKind::kNone;
    main->port.Post(std::move(m));
  }
}

RemoteOutcome Player::Remote(RemoteMessage message, const std::string& object, int32_t code, int timeoutMs) {
  auto answer = std::make_shared<std::promise<RemoteOutcome>>();
  std::future<RemoteOutcome> outcome = answer->get_future();
  PostToRun([this, answer, message, object, code] {
    if (!runner_) {
      answer->set_value({"org.korvel.Player.Error.NotPlaying", "no project is playing"});
      return;
    }
    answer->set_value(DeliverRemote(*runner_, stage_.get(), message, object, code));
  });
  if (outcome.wait_for(std::chrono::milliseconds(timeoutMs)) != std::future_status::ready)
    return {"org.korvel.Player.Error.NoAnswer", "the player did not take the message in time"};
  return outcome.get();
}

void Player::RunPostedWork() {
  for (;;) {
    std::vector<std::function<void()>> work;
    {
      std::lock_guard lock(inputLock_);
      work.swap(runWork_);
    }
    if (work.empty()) return;
    for (auto& w : work) w();
  }
}

void Player::PostInput(const InputEvent& e) {
  {
    std::lock_guard lock(inputLock_);
    liveInput_.push_back(e);
  }
  // Wakes the run's loop, which waits on the main thread's port.
  if (ScriptThreadContext* main = liveMain_.load()) {
    Message m;
    m.kind = MsgKind::kNone;
    main->port.Post(std::move(m));
  }
}

void Player::RouteToStage(const InputEvent& e) {
  using K = InputEvent::Kind;
  switch (e.kind) {
    case K::kMove: stage_->MouseMove(e.x, e.y, leftDown_); break;
    case K::kDown:
      stage_->MouseMove(e.x, e.y, leftDown_);
      leftDown_ = true;
      stage_->ButtonDown(mouse_button::kLeft, e.x, e.y);
      break;
    case K::kUp:
      stage_->MouseMove(e.x, e.y, leftDown_);
      leftDown_ = false;
      stage_->ButtonUp(mouse_button::kLeft, e.x, e.y);
      break;
    case K::kClick:
      stage_->MouseMove(e.x, e.y, leftDown_);
      stage_->ButtonDown(mouse_button::kLeft, e.x, e.y);
      stage_->ButtonUp(mouse_button::kLeft, e.x, e.y);
      break;
    case K::kRightClick:
      stage_->MouseMove(e.x, e.y, leftDown_);
      stage_->ButtonDown(mouse_button::kRight, e.x, e.y);
      stage_->ButtonUp(mouse_button::kRight, e.x, e.y);
      break;
    case K::kDoubleClick:
      stage_->MouseMove(e.x, e.y, leftDown_);
      stage_->ButtonDown(mouse_button::kLeft, e.x, e.y);
      stage_->ButtonUp(mouse_button::kLeft, e.x, e.y);
      stage_->DoubleClick(e.x, e.y);
      stage_->ButtonUp(mouse_button::kLeft, e.x, e.y);
      break;
    case K::kDrop: stage_->Drop(e.x, e.y, e.text); break;
    case K::kMinimize: stage_->PausePlayer(Stage::PauseCause::kMinimized); break;
    case K::kRestore: stage_->ResumePlayer(Stage::PauseCause::kMinimized); break;
    case K::kSuspend: stage_->PausePlayer(Stage::PauseCause::kSuspended); break;
    case K::kResume: stage_->ResumePlayer(Stage::PauseCause::kSuspended); break;
    case K::kKey:
    case K::kKeyDown:
    case K::kKeyUp:
    case K::kChar: break;
  }
}

bool Player::OfferToMenus(const InputEvent& e) {
  if (!headlessMenus_) return false;
  using K = InputEvent::Kind;
  using M = HeadlessMenus::Input;
  HeadlessMenus& m = *headlessMenus_;
  const Point at{e.x, e.y};
  switch (e.kind) {
    case K::kMove: return m.Offer(M::kMove, 0, 0, at);
    case K::kDown: return m.Offer(M::kDown, 0, 0, at);
    case K::kUp: return m.Offer(M::kUp, 0, 0, at);
    case K::kClick:
      if (!m.Offer(M::kDown, 0, 0, at)) return false;
      m.Offer(M::kUp, 0, 0, at);
      return true;
    case K::kKey:
      if (!m.Offer(M::kKeyDown, e.key, e.modifiers, at)) return false;
      m.Offer(M::kKeyUp, e.key, e.modifiers, at);
      return true;
    case K::kKeyDown: return m.Offer(M::kKeyDown, e.key, e.modifiers, at);
    case K::kKeyUp: return m.Offer(M::kKeyUp, e.key, e.modifiers, at);
    default: return false;
  }
}

bool Player::OfferToFocus(const InputEvent& e) {
  using K = InputEvent::Kind;
  const bool offer = !e.declinedByFocus;
  KeyStroke stroke;
  stroke.key = e.key;
  stroke.modifiers = e.modifiers;
  switch (e.kind) {
    case K::kKey: {
      const bool taken = stage_->OfferKey(stroke, offer);
      stroke.kind = KeyStroke::Kind::kUp;
      // The release follows its press, to the object that took the press.
      if (taken) stage_->OfferKey(stroke, offer);
      return taken;
    }
    case K::kKeyDown: return stage_->OfferKey(stroke, offer);
    case K::kKeyUp: stroke.kind = KeyStroke::Kind::kUp; return stage_->OfferKey(stroke, offer);
    case K::kChar:
      stroke.kind = KeyStroke::Kind::kChar;
      stroke.text = e.text;
      return stage_->OfferKey(stroke, offer);
    default: return false;
  }
}

void Player::Deliver(const InputEvent& e) {
  using K = InputEvent::Kind;
  if (saverEnded_) return;
  if (options_.saver.running && !options_.saver.interactive) {
    const bool ends = e.kind == K::kKey || e.kind == K::kKeyUp || (e.kind == K::kMove && saverWatch_.Move(e.x));
    if (ends) {
      saverEnded_ = true;
      return;
    }
  }
  if (stage_) {
    // The exit key goes to the project thread alone, from the stage; then
    // the focused window object is offered the key; a hotkey of an object
    // on the stage is that object's alone.
    // Menus in use take the input first, the exit key included.
    if (OfferToMenus(e)) return;
    if ((e.kind == K::kKey || e.kind == K::kKeyDown) && stage_->KeyDown(e.key)) return;
    if (OfferToFocus(e)) return;
    if (e.kind == K::kKey && stage_->Hotkey(e.key, e.modifiers, 1)) {
      stage_->Hotkey(e.key, e.modifiers, 3);
      return;
    }
    if (e.kind == K::kKeyDown && stage_->Hotkey(e.key, e.modifiers, 1)) return;
    if (e.kind == K::kKeyUp && stage_->Hotkey(e.key, e.modifiers, 3)) return;
    RouteToStage(e);
  }
  // Input reaches the project thread and every script thread, whose waits
  // look for keys and buttons; the stage routes it to objects once it has them.
  std::vector<ScriptThreadContext*> targets;
  if (runner_->ProjectThread()) targets.push_back(runner_->ProjectThread());
  auto threads = runner_->ScriptThreads();
  for (auto& t : threads) targets.push_back(t.get());
  auto send = [&](MsgKind kind, uint32_t key, int button) {
    for (ScriptThreadContext* t : targets) {
      Message m;
      m.kind = kind;
      m.key = key;
      m.modifiers = e.modifiers;
      m.button = button;
      m.x = e.x;
      m.y = e.y;
      t->port.Post(std::move(m));
    }
  };
  switch (e.kind) {
    case K::kMove: send(MsgKind::kMouseMove, 0, 0); break;
    case K::kDown: send(MsgKind::kButtonDown, 0, mouse_button::kLeft); break;
    case K::kUp: send(MsgKind::kButtonUp, 0, mouse_button::kLeft); break;
    case K::kClick:
      send(MsgKind::kButtonDown, 0, mouse_button::kLeft);
      send(MsgKind::kButtonUp, 0, mouse_button::kLeft);
      break;
    case K::kRightClick:
      send(MsgKind::kButtonDown, 0, mouse_button::kRight);
      send(MsgKind::kButtonUp, 0, mouse_button::kRight);
      break;
    case K::kDoubleClick:
      send(MsgKind::kButtonDown, 0, mouse_button::kLeft);
      send(MsgKind::kButtonUp, 0, mouse_button::kLeft);
      send(MsgKind::kDoubleClick, 0, mouse_button::kLeft);
      send(MsgKind::kButtonUp, 0, mouse_button::kLeft);
      break;
    case K::kKey:
      send(MsgKind::kKeyDown, e.key, 0);
      send(MsgKind::kKeyUp, e.key, 0);
      break;
    case K::kKeyDown: send(MsgKind::kKeyDown, e.key, 0); break;
    case K::kKeyUp: send(MsgKind::kKeyUp, e.key, 0); break;
    case K::kChar:
      for (unsigned char c : e.text) send(MsgKind::kChar, c, 0);
      break;
    // A drop and the window's state are the stage's business alone.
    case K::kDrop:
    case K::kMinimize:
    case K::kRestore:
    case K::kSuspend:
    case K::kResume: break;
  }
}

void Player::RenderFrame(const std::string& name) {
  if (options_.renderDir.empty() || !stage_) return;
  // Widget work posted before this moment shows in the frame.
  RunPostedWork();
  std::string file = name;
  if (file.empty()) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "frame-%04d.png", ++frames_);
    file = buf;
  }
  std::string path = (std::filesystem::path(options_.renderDir) / file).string();
  std::string error;
  if (!stage_->compositor().WriteSnapshot(path, &error)) std::fprintf(stderr, "korvel: cannot write %s: %s\n", path.c_str(), error.c_str());
}

void Player::RecordFrame(int64_t tick) {
  if (!recorder_ || !stage_) return;
  RunPostedWork();
  // The sound up to now goes in first, so that the file interleaves closely.
  if (media_) media_->Sync();
  PixelBuffer frame = stage_->compositor().Snapshot();
  if (frame.IsNull() || frame.Width() != int(recordWidth_) || frame.Height() != int(recordHeight_)) return;
  if (frame.Format() != PixelFormat::kXrgb32) {
    PixelBuffer wide(frame.Width(), frame.Height(), PixelFormat::kXrgb32);
    CopyRect(wide, frame, frame.Bounds());
    frame = std::move(wide);
  }
  recorder_->AddFrame(tick, frame.Data(), frame.Stride());
}

int Player::FinishRecording(int status, int64_t endMs) {
  std::unique_ptr<VideoRecorder> recorder = std::move(recorder_);
  try {
    recorder->Finish(endMs);
  } catch (const std::exception& e) {
    Fail(exit_status::kNotFound, std::string("the recording failed: ") + e.what());
    return status == exit_status::kOk ? exit_status::kNotFound : status;
  }
  return status;
}

void Player::EndRun(int status) {
  if (ended_) return;
  ended_ = true;
  RenderFrame("");
  if (!options_.renderDir.empty() && stage_)
    std::fprintf(stderr, "korvel: %d frame(s) written to %s\n", frames_, options_.renderDir.c_str());
  if (!trace_) return;
  if (runner_)
    trace_->End(status, runner_->variables().Snapshot(), runner_->variables().RuntimeSnapshot());
  else
    trace_->End(status, {}, {});
}

}  // namespace kv
