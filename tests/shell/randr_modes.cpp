// The tests' view of an X server's display modes: `hold WxH...` offers more
// modes on the output in use (a virtual server starts with its screen's
// size only) until its standard input ends: the server forgets modes made
// by a client that left. `show` prints the output's mode and the screen's
// size as "mode WxH screen WxH".
#include <X11/Xlib.h>
#include <X11/extensions/Xrandr.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

int Fail(const char* what) {
  std::fprintf(stderr, "randr_modes: %s\n", what);
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return Fail("usage: randr_modes hold WxH... | show");
  Display* d = XOpenDisplay(nullptr);
  if (!d) return Fail("cannot open the display");
  const Window root = DefaultRootWindow(d);
  XRRScreenResources* res = XRRGetScreenResourcesCurrent(d, root);
  if (!res || res->noutput < 1) return Fail("no RandR output");
  XRROutputInfo* out = nullptr;
  RROutput output = 0;
  for (int i = 0; i < res->noutput && !out; ++i) {
    XRROutputInfo* o = XRRGetOutputInfo(d, res, res->outputs[i]);
    if (o && o->crtc) {
      out = o;
      output = res->outputs[i];
    }
  }
  if (!out) return Fail("no output in use");
  if (std::strcmp(argv[1], "show") == 0) {
    XRRCrtcInfo* c = XRRGetCrtcInfo(d, res, out->crtc);
    Window r;
    int x, y;
    unsigned w, h, border, depth;
    // The root window's geometry is the screen's size now; the connection's
    // setup data would answer the size at connection time.
    XGetGeometry(d, root, &r, &x, &y, &w, &h, &border, &depth);
    std::printf("mode %ux%u screen %ux%u\n", c ? c->width : 0, c ? c->height : 0, w, h);
    return 0;
  }
  if (std::strcmp(argv[1], "hold") != 0) return Fail("usage: randr_modes hold WxH... | show");
  for (int i = 2; i < argc; ++i) {
    unsigned w = 0, h = 0;
    if (std::sscanf(argv[i], "%ux%u", &w, &h) != 2) return Fail("a mode is WxH");
    std::string name = argv[i];
    XRRModeInfo m{};
    m.width = w;
    m.height = h;
    m.hTotal = w;
    m.vTotal = h;
    m.dotClock = static_cast<unsigned long>(w) * h * 60;  // 60 Hz
    m.name = name.data();
    m.nameLength = static_cast<unsigned>(name.size());
    const RRMode id = XRRCreateMode(d, root, &m);
    XRRAddOutputMode(d, output, id);
  }
  XSync(d, False);
  std::printf("ready\n");
  std::fflush(stdout);
  while (std::getchar() != EOF) {
  }
  return 0;
}
