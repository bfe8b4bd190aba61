#include "shell/display_mode.h"

#include <X11/Xlib.h>
#include <X11/extensions/Xrandr.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <cerrno>
#include <cstdlib>
#include <string>

namespace kv {

std::optional<size_t> ChooseDisplayMode(const std::vector<DisplayMode>& offered, const DisplayMode& current,
                                        int stageWidth, int stageHeight) {
  std::optional<size_t> best;
  auto better = [&](const DisplayMode& m, const DisplayMode& b) {
    const long long area = 1LL * m.width * m.height, bestArea = 1LL * b.width * b.height;
    if (area != bestArea) return area < bestArea;
    if (m.width != b.width) return m.width < b.width;
    return std::fabs(m.refresh - current.refresh) < std::fabs(b.refresh - current.refresh);
  };
  for (size_t i = 0; i < offered.size(); ++i) {
    const DisplayMode& m = offered[i];
    if (m.width < stageWidth || m.height < stageHeight) continue;
    if (!best || better(m, offered[*best])) best = i;
  }
  return best;
}

struct DisplayModeSwitch::State {
  Display* display = nullptr;
  Window root = 0;
  XRRScreenResources* resources = nullptr;
  RRCrtc crtc = 0;
  RRMode originalMode = 0;
  int x = 0, y = 0;
  Rotation rotation = RR_Rotate_0;
  std::vector<RROutput> outputs;
  // The screen is resized with the mode only when this output was all of it.
  bool resized = false;
  int screenWidth = 0, screenHeight = 0, screenMmWidth = 0, screenMmHeight = 0;
  std::atomic<bool> changed{false};
  // The keeper's pipe (-1 without a keeper) and process.
  int keeper = -1;
  pid_t keeperPid = -1;
};

namespace {

std::atomic<DisplayModeSwitch::State*> g_active{nullptr};
constexpr int kCrashSignals[] = {SIGSEGV, SIGABRT, SIGTERM, SIGINT};
struct sigaction g_previous[NSIG];
bool g_exitHookSet = false;

// Xlib reports a failed request through a process-wide handler whose
// default ends the process; requests of ours are checked one at a time.
std::atomic<int> g_xError{0};
int NoteError(Display*, XErrorEvent* e) {
  g_xError = e->error_code ? e->error_code : 1;
  return 0;
}

// A connection the server has closed (the display is gone) takes no
// requests: Xlib would call its fatal-error handler, which exits.
bool Alive(Display* d) {
  pollfd p{ConnectionNumber(d), 0, 0};
  return ::poll(&p, 1, 0) >= 0 && !(p.revents & (POLLHUP | POLLERR | POLLNVAL));
}

// Puts the original mode back; safe to reach from a crash signal in the
// sense that it takes no lock and allocates only when the first attempt
// fails on a stale configuration time.
void PutBack(DisplayModeSwitch::State* s) {
  if (!s || !s->changed.exchange(false) || !Alive(s->display)) return;
  XErrorHandler before = XSetErrorHandler(NoteError);
  if (s->resized)
    XRRSetScreenSize(s->display, s->root, s->screenWidth, s->screenHeight, s->screenMmWidth, s->screenMmHeight);
  Status st = XRRSetCrtcConfig(s->display, s->resources, s->crtc, CurrentTime, s->x, s->y, s->originalMode,
                               s->rotation, s->outputs.data(), static_cast<int>(s->outputs.size()));
  if (st == RRSetConfigInvalidConfigTime || st == RRSetConfigInvalidTime) {
    XRRScreenResources* fresh = XRRGetScreenResourcesCurrent(s->display, s->root);
    if (fresh) {
      XRRSetCrtcConfig(s->display, fresh, s->crtc, CurrentTime, s->x, s->y, s->originalMode, s->rotation,
                       s->outputs.data(), static_cast<int>(s->outputs.size()));
      XRRFreeScreenResources(fresh);
    }
  }
  XSync(s->display, False);
  XSetErrorHandler(before);
  // The keeper is told the mode is back; write() is safe in a signal handler.
  if (s->keeper >= 0) {
    const char done = 'd';
    [[maybe_unused]] ssize_t n = ::write(s->keeper, &done, 1);
  }
}

// Starts the keeper: korvel again, given the mode to put back and the read
// end of a pipe whose write end only this process holds (close-on-exec, so
// programs the run starts do not hold it open).
void StartKeeper(DisplayModeSwitch::State* s) {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) return;
  std::vector<std::string> args = {"/proc/self/exe", kModeKeeperSwitch,
                                   std::to_string(s->crtc), std::to_string(s->originalMode),
                                   std::to_string(s->x), std::to_string(s->y), std::to_string(s->rotation),
                                   std::to_string(s->resized), std::to_string(s->screenWidth),
                                   std::to_string(s->screenHeight), std::to_string(s->screenMmWidth),
                                   std::to_string(s->screenMmHeight)};
  for (RROutput o : s->outputs) args.push_back(std::to_string(o));
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  const pid_t pid = ::fork();
  if (pid == 0) {
    // Only async-signal-safe calls until exec: the player has threads.
    ::dup2(fds[0], 3);  // the pipe's read end as descriptor 3; dup2 clears close-on-exec
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  ::close(fds[0]);
  if (pid < 0) {
    ::close(fds[1]);
    return;
  }
  s->keeper = fds[1];
  s->keeperPid = pid;
}

void OnCrash(int sig) {
  PutBack(g_active.load());
  // The signal goes on as it would have without us.
  sigaction(sig, &g_previous[sig], nullptr);
  raise(sig);
}

void OnExit() { PutBack(g_active.load()); }

double Refresh(const XRRModeInfo& m) {
  const double dots = double(m.hTotal) * m.vTotal;
  return dots > 0 ? m.dotClock / dots : 0;
}

}  // namespace

std::unique_ptr<DisplayModeSwitch> DisplayModeSwitch::Enter(int stageWidth, int stageHeight, std::string& why) {
  why.clear();
  if (g_active.load()) {
    why = "the display's resolution is already changed";
    return nullptr;
  }
  Display* d = XOpenDisplay(nullptr);
  if (!d) {
    why = "the X display cannot be opened";
    return nullptr;
  }
  auto fail = [&](const char* text, XRRScreenResources* res = nullptr) -> std::unique_ptr<DisplayModeSwitch> {
    why = text;
    if (res) XRRFreeScreenResources(res);
    XCloseDisplay(d);
    return nullptr;
  };
  int eventBase = 0, errorBase = 0, major = 0, minor = 0;
  if (!XRRQueryExtension(d, &eventBase, &errorBase) || !XRRQueryVersion(d, &major, &minor) ||
      major * 100 + minor < 102)
    return fail("the X server has no RandR 1.2");
  const Window root = DefaultRootWindow(d);
  XRRScreenResources* res = XRRGetScreenResourcesCurrent(d, root);
  if (!res) return fail("RandR answers no screen resources");
  RROutput output = XRRGetOutputPrimary(d, root);
  XRROutputInfo* info = output ? XRRGetOutputInfo(d, res, output) : nullptr;
  if (!info || !info->crtc) {
    if (info) XRRFreeOutputInfo(info);
    info = nullptr;
    for (int i = 0; i < res->noutput && !info; ++i) {
      XRROutputInfo* o = XRRGetOutputInfo(d, res, res->outputs[i]);
      if (o && o->connection == RR_Connected && o->crtc) {
        info = o;
        output = res->outputs[i];
      } else if (o) {
        XRRFreeOutputInfo(o);
      }
    }
  }
  if (!info) return fail("RandR shows no output in use", res);
  XRRCrtcInfo* crtc = XRRGetCrtcInfo(d, res, info->crtc);
  if (!crtc) {
    XRRFreeOutputInfo(info);
    return fail("RandR shows no CRTC for the output", res);
  }
  auto modeInfo = [&](RRMode id) -> const XRRModeInfo* {
    for (int i = 0; i < res->nmode; ++i)
      if (res->modes[i].id == id) return &res->modes[i];
    return nullptr;
  };
  std::vector<DisplayMode> offered;
  for (int i = 0; i < info->nmode; ++i)
    if (const XRRModeInfo* m = modeInfo(info->modes[i]))
      offered.push_back({m->id, int(m->width), int(m->height), Refresh(*m)});
  DisplayMode current{crtc->mode, int(crtc->width), int(crtc->height), 0};
  if (const XRRModeInfo* m = modeInfo(crtc->mode)) current.refresh = Refresh(*m);
  // A rotated output shows its modes turned: width and height trade places.
  const bool turned = crtc->rotation & (RR_Rotate_90 | RR_Rotate_270);
  const std::optional<size_t> pick =
      ChooseDisplayMode(offered, current, turned ? stageHeight : stageWidth, turned ? stageWidth : stageHeight);
  auto state = std::make_unique<State>();
  state->display = d;
  state->root = root;
  state->resources = res;
  state->crtc = info->crtc;
  state->originalMode = crtc->mode;
  state->x = crtc->x;
  state->y = crtc->y;
  state->rotation = crtc->rotation;
  state->outputs.assign(crtc->outputs, crtc->outputs + crtc->noutput);
  const int crtcWidth = int(crtc->width), crtcHeight = int(crtc->height);
  XRRFreeCrtcInfo(crtc);
  XRRFreeOutputInfo(info);
  if (!pick) {
    state.reset();
    return fail("the display offers no mode as large as the stage", res);
  }
  const DisplayMode chosen = offered[*pick];
  if (chosen.id == current.id) {
    XRRFreeScreenResources(res);
    XCloseDisplay(d);
    return nullptr;
  }
  const int newWidth = turned ? chosen.height : chosen.width, newHeight = turned ? chosen.width : chosen.height;
  state->screenWidth = DisplayWidth(d, DefaultScreen(d));
  state->screenHeight = DisplayHeight(d, DefaultScreen(d));
  state->screenMmWidth = DisplayWidthMM(d, DefaultScreen(d));
  state->screenMmHeight = DisplayHeightMM(d, DefaultScreen(d));
  {
    // The screen follows the mode when this output was all of it, as a
    // desktop's own resolution setting does; else the others keep theirs.
    int active = 0;
    for (int i = 0; i < res->ncrtc; ++i)
      if (XRRCrtcInfo* c = XRRGetCrtcInfo(d, res, res->crtcs[i])) {
        if (c->mode) ++active;
        XRRFreeCrtcInfo(c);
      }
    state->resized = active == 1 && state->x == 0 && state->y == 0 && crtcWidth == state->screenWidth &&
                     crtcHeight == state->screenHeight;
  }
  // The restorers are in place before the display changes.
  State* raw = state.get();
  g_active = raw;
  if (!g_exitHookSet) g_exitHookSet = std::atexit(OnExit) == 0;
  for (int sig : kCrashSignals) {
    struct sigaction sa {};
    sa.sa_handler = OnCrash;
    sigemptyset(&sa.sa_mask);
    sigaction(sig, &sa, &g_previous[sig]);
  }
  auto self = std::unique_ptr<DisplayModeSwitch>(new DisplayModeSwitch());
  self->state_ = state.release();
  g_xError = 0;
  XErrorHandler before = XSetErrorHandler(NoteError);
  raw->changed = true;
  const Status st = XRRSetCrtcConfig(d, res, raw->crtc, CurrentTime, raw->x, raw->y, chosen.id, raw->rotation,
                                     raw->outputs.data(), static_cast<int>(raw->outputs.size()));
  XSync(d, False);
  if (st != RRSetConfigSuccess || g_xError) {
    XSetErrorHandler(before);
    raw->changed = false;
    why = "RandR refused the mode " + std::to_string(chosen.width) + "x" + std::to_string(chosen.height);
    return nullptr;  // the destructor puts the handlers back
  }
  StartKeeper(raw);
  if (raw->resized) {
    const int mmWidth = raw->screenWidth ? raw->screenMmWidth * newWidth / raw->screenWidth : 0;
    const int mmHeight = raw->screenHeight ? raw->screenMmHeight * newHeight / raw->screenHeight : 0;
    XRRSetScreenSize(d, root, newWidth, newHeight, mmWidth, mmHeight);
    XSync(d, False);
    // A screen that cannot shrink keeps its size: the mode shows its top left.
    if (g_xError) raw->resized = false;
  }
  XSetErrorHandler(before);
  self->area_ = {raw->x, raw->y, newWidth, newHeight};
  self->mode_ = chosen;
  return self;
}

int KeepDisplayMode(int argc, char** argv) {
  // Only as the player starts it: with the mode's numbers and the pipe.
  struct stat pipe {};
  if (argc < 13 || ::fstat(3, &pipe) != 0 || !S_ISFIFO(pipe.st_mode)) {
    std::fprintf(stderr, "korvel: %s is for korvel's own use\n", kModeKeeperSwitch);
    return 64;
  }
  // A Ctrl-C or a hang-up of the terminal goes to the player; the keeper
  // outlives it to see whether the mode came back.
  ::signal(SIGINT, SIG_IGN);
  ::signal(SIGTERM, SIG_IGN);
  ::signal(SIGHUP, SIG_IGN);
  char said = 0;
  ssize_t n;
  while ((n = ::read(3, &said, 1)) < 0 && errno == EINTR) {
  }
  // Only the end of the pipe without a word from the player means it ended
  // with the mode changed.
  if (n != 0) return 0;
  DisplayModeSwitch::State s;
  auto number = [&](int i) { return std::strtoul(argv[i], nullptr, 10); };
  s.crtc = number(2);
  s.originalMode = number(3);
  s.x = std::atoi(argv[4]);
  s.y = std::atoi(argv[5]);
  s.rotation = static_cast<Rotation>(number(6));
  s.resized = number(7) != 0;
  s.screenWidth = std::atoi(argv[8]);
  s.screenHeight = std::atoi(argv[9]);
  s.screenMmWidth = std::atoi(argv[10]);
  s.screenMmHeight = std::atoi(argv[11]);
  for (int i = 12; i < argc; ++i) s.outputs.push_back(number(i));
  s.display = XOpenDisplay(nullptr);
  if (!s.display) return 1;
  s.root = DefaultRootWindow(s.display);
  s.resources = XRRGetScreenResourcesCurrent(s.display, s.root);
  if (!s.resources) return 1;
  s.changed = true;
  PutBack(&s);
  XRRFreeScreenResources(s.resources);
  XCloseDisplay(s.display);
  return 0;
}

void DisplayModeSwitch::Restore() {
  if (!state_) return;
  PutBack(state_);
}

DisplayModeSwitch::~DisplayModeSwitch() {
  Restore();
  if (!state_) return;
  // A handler set after ours (an extension's guard) stays.
  for (int sig : kCrashSignals) {
    struct sigaction now {};
    if (sigaction(sig, nullptr, &now) == 0 && now.sa_handler == OnCrash) sigaction(sig, &g_previous[sig], nullptr);
  }
  g_active = nullptr;
  if (Alive(state_->display)) {
    XRRFreeScreenResources(state_->resources);
    XCloseDisplay(state_->display);
  }
  if (state_->keeper >= 0) {
    ::close(state_->keeper);
    ::waitpid(state_->keeperPid, nullptr, 0);
  }
  delete state_;
}

}  // namespace kv
