#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <vector>

#include "platform/text.h"
#include "tools/kvtool/commands.h"
#include "tools/kvtool/kvg_common.h"

namespace kv::tool {

namespace {
constexpr OptionSpec kOptions[] = {
    {"-o", "FILE.kvg", "the compilation to write (required)"},
    {"--method", "M", "none, predictor, lzss or lzhuf (default none)"},
    {"--key", "N", "the key to pack with (decimal or 0x...; default 0)"},
    {"--description", "TEXT", "the description stored in the header"},
    {"--narrow-names", nullptr, "store names and description as 8-bit text"},
};
}  // namespace

const CommandSpec kPackKvgSpec{"pack-kvg", "DIR", "write a folder's files as a compilation", kOptions};

int RunPackKvg(int argc, char** argv) {
  const ParsedArgs args = ParseArgs(kPackKvgSpec, argc, argv);
  RequireOperands(kPackKvgSpec, args, 1, 1);
  if (!args.Has("-o")) UsageError(kPackKvgSpec, "-o FILE.kvg is required");
  const char* dir = args.operands[0].c_str();
  const char* out = args.Value("-o");
  uint32_t method = kKvgStored;
  if (const char* m = args.Value("--method")) {
    if (!std::strcmp(m, "none")) method = kKvgStored;
    else if (!std::strcmp(m, "predictor")) method = kKvgPredictor;
    else if (!std::strcmp(m, "lzss")) method = kKvgLzss;
    else if (!std::strcmp(m, "lzhuf")) method = kKvgLzhuf;
    else UsageError(kPackKvgSpec, std::string("unknown method '") + m + "'");
  }
  const uint32_t key = KeyOption(kPackKvgSpec, args).value_or(0);
  const std::string description = Utf8ToCp1252(args.Value("--description") ? args.Value("--description") : "");
  const bool wide = !args.Has("--narrow-names");
  namespace fs = std::filesystem;
  std::error_code ec;
  if (!fs::is_directory(dir, ec)) return Fail(kExitNotFound, "%s is not a folder", dir);

  std::vector<fs::path> files;
  for (auto it = fs::recursive_directory_iterator(dir, ec); !ec && it != fs::recursive_directory_iterator();
       it.increment(ec)) {
    if (it->is_regular_file()) files.push_back(it->path());
  }
  if (ec) return Fail(kExitNotFound, "cannot list %s: %s", dir, ec.message().c_str());
  std::sort(files.begin(), files.end());

  std::vector<KvgInput> entries;
  for (const fs::path& p : files) {
    const std::string bytes = ReadInputFile(p.string());
    KvgInput e;
    std::string rel = fs::relative(p, dir).generic_string();
    std::replace(rel.begin(), rel.end(), '/', '\\');
    e.name = Utf8ToCp1252(rel);
    e.data.assign(bytes.begin(), bytes.end());
    e.method = method;
    e.wideName = wide;
    entries.push_back(std::move(e));
  }
  std::vector<uint8_t> bytes = BuildKvg(entries, key, description, wide);
  WriteOutputFile(out, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
  std::printf("%s: %zu entries, %zu bytes\n", out, entries.size(), bytes.size());
  return kExitOk;
}

}  // namespace kv::tool
