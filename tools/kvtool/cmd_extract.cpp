#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <vector>

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

int RunExtract(int argc, char** argv) {
  const char* usage = "usage: kvtool extract FILE.kvg [NAME...] -o DIR [--key N]";
  const char* file = nullptr;
  const char* dir = nullptr;
  std::optional<uint32_t> key;
  std::vector<std::string> names;
  for (int i = 0; i < argc; ++i) {
    if (!std::strcmp(argv[i], "-o") && i + 1 < argc) {
      dir = argv[++i];
    } else if (!std::strcmp(argv[i], "--key") && i + 1 < argc) {
      key = ParseKey(argv[++i]);
      if (!key) return Fail("extract", kExitUsage, "bad key '%s'", argv[i]);
    } else if (argv[i][0] == '-') {
      return Fail("extract", kExitUsage, "%s", usage);
    } else if (!file) {
      file = argv[i];
    } else {
      names.push_back(Utf8ToCp1252(argv[i]));
    }
  }
  if (!file || !dir) return Fail("extract", kExitUsage, "%s", usage);
  int code = kExitOk;
  auto reader = OpenKvgForTool("extract", file, key, code);
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
      std::fprintf(stderr, "kvtool extract: skipped '%s': the name leads out of the output folder\n", e.name.c_str());
      result = kExitBadData;
      return true;
    }
    std::vector<uint8_t> data;
    if (KvgError error = reader->ReadEntry(e, data); error != KvgError::None) {
      std::fprintf(stderr, "kvtool extract: %s: %s\n", e.name.c_str(), KvgErrorText(error));
      result = kExitBadData;
      return true;
    }
    std::filesystem::path out = std::filesystem::path(dir) / *rel;
    std::error_code ec;
    std::filesystem::create_directories(out.parent_path(), ec);
    std::ofstream f(out, std::ios::binary);
    f.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
    if (!f) {
      std::fprintf(stderr, "kvtool extract: cannot write %s\n", out.c_str());
      result = kExitFailed;
      return false;
    }
    std::printf("%s\n", out.c_str());
    return true;
  });
  if (walk != KvgError::None) return Fail("extract", kExitBadData, "%s: %s", file, KvgErrorText(walk));
  for (size_t i = 0; i < names.size(); ++i) {
    if (!matched[i]) {
      std::fprintf(stderr, "kvtool extract: no entry named '%s'\n", Cp1252ToUtf8(names[i]).c_str());
      if (result == kExitOk) result = kExitNotFound;
    }
  }
  return result;
}

}  // namespace kv::tool
