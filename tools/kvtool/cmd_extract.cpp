#include <cstdio>
#include <cstring>
#include <filesystem>
#include <vector>

#include "platform/files.h"
#include "platform/text.h"
#include "tools/kvtool/commands.h"
#include "tools/kvtool/kvg_common.h"

namespace kv::tool {
namespace {

// The entry's name as a path below the output folder; nothing for names that
// would lead out of it.
std::optional<std::filesystem::path> OutputPath(const std::string& name) {
  std::filesystem::path out;
  std::string part;
  auto flush = [&]() -> bool {
    if (part == "..") return false;
    if (!part.empty() && part != ".") out /= Cp1252ToUtf8(part);
    part.clear();
    return true;
  };
  for (char c : name) {
    if (c == '\\' || c == '/') {
      if (!flush()) return std::nullopt;
    } else if (c == ':') {
      return std::nullopt;  // drive letters
    } else {
      part += c;
    }
  }
  if (!flush() || out.empty()) return std::nullopt;
  return out;
}

}  // namespace

namespace {
constexpr OptionSpec kOptions[] = {
    {"-o", "DIR", "the folder to write into (required)"},
    kReadKeyOption,
};
}  // namespace

const CommandSpec kExtractSpec{"extract", "FILE.kvg [NAME...]", "extract all or the named entries of a compilation",
                               kOptions};

int RunExtract(int argc, char** argv) {
  const ParsedArgs args = ParseArgs(kExtractSpec, argc, argv);
  RequireOperands(kExtractSpec, args, 1, size_t(-1));
  if (!args.Has("-o")) UsageError(kExtractSpec, "-o DIR is required");
  const char* file = args.operands[0].c_str();
  const char* dir = args.Value("-o");
  std::vector<std::string> names;
  for (size_t i = 1; i < args.operands.size(); ++i) names.push_back(Utf8ToCp1252(args.operands[i]));
  int code = kExitOk;
  auto reader = OpenKvgForTool(file, KeyOption(kExtractSpec, args), code);
  if (!reader) return code;

  std::vector<bool> matched(names.size(), false);
  int result = kExitOk;
  KvgError walk = reader->ForEachEntry([&](const KvgEntry& e) {
    bool wanted = names.empty();
    for (size_t i = 0; i < names.size(); ++i)
      if (EqualsNoCase(names[i], e.name)) wanted = matched[i] = true;
    if (!wanted) return true;
    auto rel = OutputPath(e.name);
    if (!rel) {
      Warn("skipped '%s': the name leads out of the output folder", Cp1252ToUtf8(e.name).c_str());
      result = kExitBadData;
      return true;
    }
    std::vector<uint8_t> data;
    if (KvgError error = reader->ReadEntry(e, data); error != KvgError::None) {
      Warn("%s: %s", Cp1252ToUtf8(e.name).c_str(), KvgErrorText(error));
      result = kExitBadData;
      return true;
    }
    std::filesystem::path out = std::filesystem::path(dir) / *rel;
    std::error_code ec;
    std::filesystem::create_directories(out.parent_path(), ec);
    int err = 0;
    if (!WriteFileAtomically(out.string(), std::string_view(reinterpret_cast<const char*>(data.data()), data.size()),
                             &err)) {
      Warn("cannot write %s: %s", out.c_str(), ErrnoText(err).c_str());
      result = kExitFailed;
      return false;
    }
    std::printf("%s\n", out.c_str());
    return true;
  });
  if (walk != KvgError::None) return Fail(kExitBadData, "%s: %s", file, KvgErrorText(walk));
  for (size_t i = 0; i < names.size(); ++i) {
    if (!matched[i]) {
      Warn("no entry named '%s'", Cp1252ToUtf8(names[i]).c_str());
      if (result == kExitOk) result = kExitNotFound;
    }
  }
  return result;
}

}  // namespace kv::tool
