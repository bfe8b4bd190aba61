// kvtool picture: decodes any picture the player reads and writes it as PNG,
// so authors and tests can see exactly the pixels the player will show.
#include <cstring>
#include <string>
#include <string_view>

#include "imaging/picture_codec.h"
#include "tools/kvtool/commands.h"

namespace kv::tool {

namespace {

constexpr const char* kName = "picture";

int ExitFor(imaging::PicError error) {
  switch (error) {
    case imaging::PicError::kCannotOpen: return kExitNotFound;
    case imaging::PicError::kUnsupported: return kExitUnsupported;
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

int RunPicture(int argc, char** argv) {
  const char* input = nullptr;
  const char* output = nullptr;
  for (int i = 0; i < argc; ++i) {
    if (!std::strcmp(argv[i], "-o") && i + 1 < argc)
      output = argv[++i];
    else if (!input && argv[i][0] != '-')
      input = argv[i];
    else
      return Fail(kName, kExitUsage, "unexpected argument '%s' (usage: picture FILE -o OUT.png)", argv[i]);
  }
  if (!input || !output) return Fail(kName, kExitUsage, "usage: picture FILE -o OUT.png");
  if (IsMetafile(input)) return Fail(kName, kExitUnsupported, "%s: WMF and EMF metafiles are not rendered by this build", input);

  imaging::Picture picture;
  imaging::FileType type = imaging::FileType::kUnknown;
  const imaging::Outcome read = imaging::DecodeFile(input, picture, &type);
  if (!read) return Fail(kName, ExitFor(read.error), "%s: %s (error %d)", input, read.detail.c_str(), int(read.error));
  const imaging::Outcome written = imaging::EncodeFile(picture.pixels.View(), imaging::FileType::kPng, output);
  if (!written) return Fail(kName, kExitFailed, "%s: %s", output, written.detail.c_str());
  return kExitOk;
}

}  // namespace kv::tool
