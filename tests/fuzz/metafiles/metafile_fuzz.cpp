// Fuzzes one metafile player (WMF or EMF, chosen by KV_FUZZ_METAFILE at
// build time) at its own size and at a size taken from the input; what
// plays must come out at the size asked for.
#include <QGuiApplication>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "imaging/metafile.h"

// Fontconfig keeps its font cache for the life of the process and Qt never
// frees it; that is no leak of the players.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kv::imaging;
  // Text needs the application object; created once, off screen.
  static int argc = 1;
  static char name[] = "metafile_fuzz";
  static char* argv[] = {name, nullptr};
  static QGuiApplication* app = [] {
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    return new QGuiApplication(argc, argv);
  }();
  (void)app;
  const auto type = MetafileType(KV_FUZZ_METAFILE);
  MetafileOptions options;
  options.maxPixels = 1u << 20;  // keeps each run fast; the side limit is tested elsewhere
  for (int pass = 0; pass < 2; ++pass) {
    if (pass == 1) {
      options.width = int(size % 97) + 1;
      options.height = int(size % 61) + 1;
    }
    Picture pic;
    if (!RenderMetafile({data, size}, type, pic, options)) continue;
    if (pass == 1 && (pic.pixels.width != options.width || pic.pixels.height != options.height)) std::abort();
    if (pic.pixels.bits.size() != size_t(pic.pixels.stride) * size_t(pic.pixels.height)) std::abort();
  }
  return 0;
}
