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
  // Without --key the reader takes the key its header names.
  auto open = [&](bool index, KvgError* error) {
    return key ? KvgReader::Open(path, *key, index, error) : KvgReader::OpenWithOwnKey(path, index, error);
  };
  KvgError error = KvgError::None;
  auto reader = open(true, &error);
  if (!reader && error == KvgError::NoLookup) reader = open(false, &error);
  if (reader) return reader;
  if (error == KvgError::WrongKey)
    exitCode = Fail(kExitBadData, "%s: %s: it was not packed with key 0x%08X", path.c_str(), KvgErrorText(error), *key);
  else
    exitCode = Fail(error == KvgError::Unreadable ? kExitNotFound : kExitBadData, "%s: %s", path.c_str(),
                    KvgErrorText(error));
  return nullptr;
}

}  // namespace kv::tool
