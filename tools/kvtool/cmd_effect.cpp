// kvtool effect: runs one transition effect on two test pictures (the stage
// shows one, the object the other) and writes every step as a PNG frame, so
// that authors and reviewers can see what an effect does.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "stage/compositor.h"
#include "stage/effects.h"
#include "stage/transitions.h"
#include "tools/kvtool/commands.h"

namespace kv::tool {

namespace {

constexpr const char* kName = "effect";
constexpr const char* kUsage =
    "usage: kvtool effect ID --size WxH -o DIR [--hide] [--param1 N] [--param2 N]";
constexpr int kMaxSide = 4096;

// The stage: cool diagonal stripes over a checkerboard.
ColorRef StagePixel(int x, int y) {
  const bool check = ((x / 32) + (y / 32)) % 2 == 0;
  const bool stripe = ((x + y) / 12) % 4 == 0;
  return stripe ? ColorRef::FromRgb(0x20, 0x40, 0x90) : check ? ColorRef::FromRgb(0x90, 0xB0, 0xE0)
                                                              : ColorRef::FromRgb(0x60, 0x80, 0xC0);
}

// The object: a warm gradient with a ring and a cross, so that motion,
// stretching and mirroring are easy to tell apart.
ColorRef ObjectPixel(int x, int y, int w, int h) {
  const int dx = x - w / 3, dy = y - h / 3, r2 = dx * dx + dy * dy, ring = std::min(w, h) / 5;
  if (r2 < ring * ring && r2 > (ring - 6) * (ring - 6)) return ColorRef::FromRgb(0xFF, 0xFF, 0xFF);
  if (std::abs(x - 3 * w / 4) < 4 || std::abs(y - 3 * h / 4) < 4) return ColorRef::FromRgb(0x10, 0x10, 0x10);
  return ColorRef::FromRgb(uint8_t(0xC0 + 0x3F * x / std::max(w, 1)), uint8_t(0x20 + 0x90 * y / std::max(h, 1)), 0x20);
}

bool ParseInt(const char* s, int* out) {
  char* end = nullptr;
  const long v = std::strtol(s, &end, 10);
  if (!end || *end || v < -1 || v > 1000000) return false;
  *out = int(v);
  return true;
}

}  // namespace

int RunEffect(int argc, char** argv) {
  int effect = -1, width = 0, height = 0, param1 = -1, param2 = -1;
  bool hide = false;
  std::string outDir;
  for (int i = 0; i < argc; ++i) {
    const char* a = argv[i];
    char tail = 0;
    if (!std::strcmp(a, "-o") && i + 1 < argc) {
      outDir = argv[++i];
    } else if (!std::strcmp(a, "--size") && i + 1 < argc) {
      if (std::sscanf(argv[++i], "%dx%d%c", &width, &height, &tail) != 2 || width < 1 || height < 1 ||
          width > kMaxSide || height > kMaxSide)
        return Fail(kName, kExitUsage, "--size wants WxH, each 1 to %d, not '%s'", kMaxSide, argv[i]);
    } else if (!std::strcmp(a, "--param1") && i + 1 < argc) {
      if (!ParseInt(argv[++i], &param1)) return Fail(kName, kExitUsage, "--param1 wants a number or -1");
    } else if (!std::strcmp(a, "--param2") && i + 1 < argc) {
      if (!ParseInt(argv[++i], &param2)) return Fail(kName, kExitUsage, "--param2 wants a number or -1");
    } else if (!std::strcmp(a, "--hide")) {
      hide = true;
    } else if (a[0] != '-' && effect < 0) {
      if (!ParseInt(a, &effect) || effect < 1 || effect > kLastEffect)
        return Fail(kName, kExitUsage, "the effect is a number from 1 to %d, not '%s'", kLastEffect, a);
    } else {
      return Fail(kName, kExitUsage, "%s", kUsage);
    }
  }
  if (effect < 1 || width < 1 || outDir.empty()) return Fail(kName, kExitUsage, "%s", kUsage);
  std::error_code ec;
  std::filesystem::create_directories(outDir, ec);
  if (ec) return Fail(kName, kExitFailed, "cannot create %s: %s", outDir.c_str(), ec.message().c_str());

  Compositor compositor(CompositorRole::kStage);
  if (compositor.Initialise({0, 0, width, height}, ColorRef(0x00FFFFFF), PixelFormat::kXrgb32, nullptr) != 0)
    return Fail(kName, kExitFailed, "the stage picture could not be created");
  StageSprite& back = compositor.Background();
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) back.MutablePicture().SetPixel(x, y, StagePixel(x, y));
  back.PictureChanged();

  StageSprite object;
  object.format = PixelFormat::kXrgb32;
  object.CreateSurface({0, 0, width, height}, 0);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) object.MutablePicture().SetPixel(x, y, ObjectPixel(x, y, width, height));
  if (hide) compositor.Add(object, true);

  ManualEffectClock clock;
  TransitionEngine engine(compositor, clock, Pacing::kNone);
  compositor.SetEffectEngine(&engine);
  std::string error;
  int frames = 0;
  bool failed = false;
  auto write = [&](const char* name) {
    const std::string path = (std::filesystem::path(outDir) / name).string();
    if (!failed && !compositor.WriteSnapshot(path, &error)) failed = true;
    ++frames;
  };
  engine.SetObserver([&](int step, int) {
    char name[32];
    std::snprintf(name, sizeof name, "step_%05d.png", step);
    write(name);
  });
  write("start.png");
  const ShowParams params{ShowParams::kSrcCopy, uint32_t(effect), uint32_t(param1), uint32_t(param2),
                          kEffectDefault, 0};
  try {
    if (hide)
      engine.RunHide(object, params);
    else
      engine.RunShow(object, params);
  } catch (const std::exception& e) {
    return Fail(kName, kExitFailed, "effect %d: %s", effect, e.what());
  }
  write("final.png");
  if (failed) return Fail(kName, kExitFailed, "%s", error.c_str());
  std::printf("%s: %d steps, %d frames in %s\n", EffectName(uint32_t(effect)), engine.LastSteps(), frames,
              outDir.c_str());
  return kExitOk;
}

}  // namespace kv::tool
