// kvtool picture: decodes any picture the player reads and writes it as PNG,
// so authors and tests can see exactly the pixels the player will show.
#include <cstring>
#include <string>
#include <string_view>

#include "imaging/picture_codec.h"
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

bool IsMetafile(std::string_view name) {
  if (name.size() < 4) return false;
  const std::string_view ext = name.substr(name.size() - 4);
  return strncasecmp(ext.data(), ".WMF", 4) == 0 || strncasecmp(ext.data(), ".EMF", 4) == 0;
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
  if (IsMetafile(input))
    return Fail(kExitFailed, "%s: WMF and EMF metafiles are not rendered by this build", input.c_str());
  const std::span<const uint8_t> view(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
  imaging::Picture picture;
  const imaging::Outcome read = imaging::Decode(view, imaging::DetectType(view, input), picture);
  if (!read) return Fail(ExitFor(read.error), "%s: %s (error %d)", input.c_str(), read.detail.c_str(), int(read.error));
  const imaging::Outcome written = imaging::EncodeFile(picture.pixels.View(), imaging::FileType::kPng, output);
  if (!written) return Fail(kExitFailed, "%s: %s", output.c_str(), written.detail.c_str());
  return kExitOk;
}

}  // namespace kv::tool
