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

constexpr int kMaxSide = 4096;

constexpr OptionSpec kEffectOptions[] = {
    {"--size", "WxH", "the object's size (required)"},
    {"-o", "DIR", "the folder for the frames (required)"},
    {"--hide", nullptr, "a hide effect instead of a show"},
    {"--param1", "N", "the effect's first parameter (-1: its default)"},
    {"--param2", "N", "the effect's second parameter (-1: its default)"},
};

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

}  // namespace

const CommandSpec kEffectSpec{"effect", "ID", "render every step of a transition effect as PNG frames", kEffectOptions};

int RunEffect(int argc, char** argv) {
  const ParsedArgs args = ParseArgs(kEffectSpec, argc, argv);
  RequireOperands(kEffectSpec, args, 1, 1);
  if (!args.Has("-o") || !args.Has("--size")) UsageError(kEffectSpec, "-o DIR and --size WxH are required");
  const int effect = static_cast<int>(NumberOption(kEffectSpec, "ID", args.operands[0].c_str(), 1, kLastEffect));
  int width = 0, height = 0;
  char tail = 0;
  const char* size = args.Value("--size");
  if (std::sscanf(size, "%dx%d%c", &width, &height, &tail) != 2 || width < 1 || height < 1 || width > kMaxSide ||
      height > kMaxSide)
    UsageError(kEffectSpec, "--size wants WxH, each 1 to " + std::to_string(kMaxSide) + ", not '" + size + "'");
  const int param1 = args.Has("--param1")
                         ? static_cast<int>(NumberOption(kEffectSpec, "--param1", args.Value("--param1"), -1, 1000000))
                         : -1;
  const int param2 = args.Has("--param2")
                         ? static_cast<int>(NumberOption(kEffectSpec, "--param2", args.Value("--param2"), -1, 1000000))
                         : -1;
  const bool hide = args.Has("--hide");
  const std::string outDir = args.Value("-o");
  std::error_code ec;
  std::filesystem::create_directories(outDir, ec);
  if (ec) return Fail(kExitFailed, "cannot create %s: %s", outDir.c_str(), ec.message().c_str());

  Compositor compositor(CompositorRole::kStage);
  if (compositor.Initialise({0, 0, width, height}, ColorRef(0x00FFFFFF), PixelFormat::kXrgb32, nullptr) != 0)
    return Fail(kExitFailed, "the stage picture could not be created");
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
    return Fail(kExitFailed, "effect %d: %s", effect, e.what());
  }
  write("final.png");
  if (failed) return Fail(kExitFailed, "%s", error.c_str());
  std::printf("%s: %d steps, %d frames in %s\n", EffectName(uint32_t(effect)), engine.LastSteps(), frames,
              outDir.c_str());
  return kExitOk;
}

}  // namespace kv::tool
