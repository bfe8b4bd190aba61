// kvtool picture: decodes any picture the player reads and writes it as PNG,
// so authors and tests can see exactly the pixels the player will show.
// Metafiles are drawn at their own size.
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "imaging/metafile.h"
#include "imaging/picture_codec.h"
#ifdef KV_HAVE_METAFILES
#include <QGuiApplication>
#endif
#include "tools/kvtool/commands.h"

namespace kv::tool {

namespace {

constexpr OptionSpec kPictureOptions[] = {
    {"-o", "OUT.png", "the PNG to write (required)"},
};

int ExitFor(imaging::PicError error) {
  switch (error) {
    case imaging::PicError::kCannotOpen: return kExitNotFound;
    case imaging::PicError::kUnsupported:
    case imaging::PicError::kCannotWrite: return kExitFailed;
    default: return kExitBadData;
  }
}

// Plays a metafile at its own size into `picture`.
imaging::Outcome PlayMetafile(std::span<const uint8_t> bytes, imaging::MetafileType type, imaging::Picture& picture) {
#ifdef KV_HAVE_METAFILES
  // Fonts need a QGuiApplication; a tool draws off screen.
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  int argc = 1;
  char name[] = "kvtool";
  char* argv[] = {name, nullptr};
  QGuiApplication app(argc, argv);
  return imaging::RenderMetafile(bytes, type, picture);
#else
  (void)bytes, (void)type, (void)picture;
  return {imaging::PicError::kUnsupported, "WMF and EMF metafiles are not rendered by this build"};
#endif
}

}  // namespace

const CommandSpec kPictureSpec{"picture", "FILE", "decode a picture the player reads and write it as PNG",
                               kPictureOptions};

int RunPicture(int argc, char** argv) {
  const ParsedArgs args = ParseArgs(kPictureSpec, argc, argv);
  RequireOperands(kPictureSpec, args, 1, 1);
  if (!args.Has("-o")) UsageError(kPictureSpec, "-o OUT.png is required");
  const std::string& input = args.operands[0];
  const std::string output = args.Value("-o");
  const std::string bytes = ReadInputFile(input, false);
  const std::span<const uint8_t> view(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
  imaging::Picture picture;
  imaging::Outcome read;
  const imaging::MetafileType metafile = imaging::DetectMetafile(view);
  if (metafile != imaging::MetafileType::kNone)
    read = PlayMetafile(view, metafile, picture);
  else
    read = imaging::Decode(view, imaging::DetectType(view, input), picture);
  if (!read) return Fail(ExitFor(read.error), "%s: %s (error %d)", input.c_str(), read.detail.c_str(), int(read.error));
  const imaging::Outcome written = imaging::EncodeFile(picture.pixels.View(), imaging::FileType::kPng, output);
  if (!written) return Fail(kExitFailed, "%s: %s", output.c_str(), written.detail.c_str());
  return kExitOk;
}

}  // namespace kv::tool
