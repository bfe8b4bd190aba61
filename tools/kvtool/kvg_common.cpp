#include "tools/kvtool/kvg_common.h"

#include <cerrno>
#include <cstdlib>
#include <fstream>

#include "tools/kvtool/commands.h"

namespace kv::tool {

std::optional<uint32_t> ParseKey(const char* text) {
  if (!text || !*text) return std::nullopt;
  errno = 0;
  char* end = nullptr;
  unsigned long long v = std::strtoull(text, &end, 0);
  if (errno || *end || v > 0xFFFFFFFFull || text[0] == '-') return std::nullopt;
  return static_cast<uint32_t>(v);
}

std::unique_ptr<KvgReader> OpenKvgForTool(const char* command, const std::string& path, std::optional<uint32_t> key,
                                          int& exitCode) {
  if (!key) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
      exitCode = Fail(command, kExitNotFound, "cannot read %s", path.c_str());
      return nullptr;
    }
    unsigned char head[28] = {};
    in.read(reinterpret_cast<char*>(head), sizeof head);
    key = uint32_t(head[24]) | uint32_t(head[25]) << 8 | uint32_t(head[26]) << 16 | uint32_t(head[27]) << 24;
  }
  KvgError error = KvgError::None;
  auto reader = KvgReader::Open(path, *key, true, &error);
  if (!reader && error == KvgError::NoLookup) reader = KvgReader::Open(path, *key, false, &error);
  if (!reader) {
    exitCode = Fail(command, error == KvgError::Unreadable ? kExitNotFound : kExitBadData, "%s: %s", path.c_str(),
                    KvgErrorText(error));
  }
  return reader;
}

}  // namespace kv::tool
