#include "tools/kvtool/kvg_common.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "tools/common/toolkit.h"

namespace kv::tool {

std::optional<uint32_t> ParseKey(const char* text) {
  if (!text || !*text) return std::nullopt;
  errno = 0;
  char* end = nullptr;
  unsigned long long v = std::strtoull(text, &end, 0);
  if (errno || *end || v > 0xFFFFFFFFull || text[0] == '-') return std::nullopt;
  return static_cast<uint32_t>(v);
}

std::optional<uint32_t> KeyOption(const CommandSpec& spec, const ParsedArgs& args) {
  const char* text = args.Value("--key");
  if (!text) return std::nullopt;
  auto key = ParseKey(text);
  if (!key) UsageError(spec, std::string("--key takes a number from 0 to 0xFFFFFFFF, not '") + text + "'");
  return key;
}

std::unique_ptr<KvgReader> OpenKvgForTool(const std::string& path, std::optional<uint32_t> key, int& exitCode) {
  CheckInputFile(path);
  if (!key) {
    // The key sits at offset 24 of the header; a file too short for it is
    // refused by the reader as a bad header.
    unsigned char head[28] = {};
    if (FILE* f = std::fopen(path.c_str(), "rb")) {
      if (std::fread(head, 1, sizeof head, f) != sizeof head) std::fill(std::begin(head), std::end(head), 0);
      std::fclose(f);
    }
    key = uint32_t(head[24]) | uint32_t(head[25]) << 8 | uint32_t(head[26]) << 16 | uint32_t(head[27]) << 24;
  }
  KvgError error = KvgError::None;
  auto reader = KvgReader::Open(path, *key, true, &error);
  if (!reader && error == KvgError::NoLookup) reader = KvgReader::Open(path, *key, false, &error);
  if (reader) return reader;
  if (error == KvgError::WrongKey)
    exitCode = Fail(kExitBadData, "%s: %s: it was not packed with key 0x%08X", path.c_str(), KvgErrorText(error), *key);
  else
    exitCode = Fail(error == KvgError::Unreadable ? kExitNotFound : kExitBadData, "%s: %s", path.c_str(),
                    KvgErrorText(error));
  return nullptr;
}

}  // namespace kv::tool
