#include <cstdio>
#include <cstring>

#include "platform/text.h"
#include "tools/kvtool/commands.h"
#include "tools/kvtool/kvg_common.h"

namespace kv::tool {

namespace {
constexpr OptionSpec kOptions[] = {
    kReadKeyOption,
};
}  // namespace

const CommandSpec kLsSpec{"ls", "FILE.kvg", "list the description and every entry of a compilation", kOptions};

int RunLs(int argc, char** argv) {
  const ParsedArgs args = ParseArgs(kLsSpec, argc, argv);
  RequireOperands(kLsSpec, args, 1, 1);
  const char* file = args.operands[0].c_str();
  int code = kExitOk;
  auto reader = OpenKvgForTool(file, KeyOption(kLsSpec, args), code);
  if (!reader) return code;
  std::printf("description: %s\n", Cp1252ToUtf8(reader->description()).c_str());
  std::printf("key: 0x%08X\nentries: %u\n", reader->key(), reader->entryCount());
  std::printf("%-10s %12s %12s  %s\n", "method", "stored", "decoded", "name");
  int result = kExitOk;
  KvgError walk = reader->ForEachEntry([&](const KvgEntry& e) {
    std::vector<uint8_t> data;
    KvgError error = reader->ReadEntry(e, data);
    char decoded[32];
    if (error == KvgError::None) {
      std::snprintf(decoded, sizeof decoded, "%zu", data.size());
    } else {
      std::snprintf(decoded, sizeof decoded, "error");
      result = kExitBadData;
    }
    std::printf("%-10s %12llu %12s  %s%s\n", KvgMethodName(e.method()), static_cast<unsigned long long>(e.storedSize),
                decoded, Cp1252ToUtf8(e.name).c_str(), e.wideName() ? "" : "  (8-bit name)");
    if (error != KvgError::None) Warn("%s: %s", Cp1252ToUtf8(e.name).c_str(), KvgErrorText(error));
    return true;
  });
  if (walk != KvgError::None) return Fail(kExitBadData, "%s: %s", file, KvgErrorText(walk));
  return result;
}

}  // namespace kv::tool
