#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "platform/text.h"
#include "platform/files.h"
#include "tools/kvtool/commands.h"
#include "tools/kvtool/kvg_common.h"

namespace kv::tool {

int RunPackKvg(int argc, char** argv) {
  const char* usage =
      "usage: kvtool pack-kvg DIR -o FILE.kvg [--method none|predictor|lzss|lzhuf] [--key N] "
      "[--description TEXT] [--narrow-names]";
  const char* dir = nullptr;
  const char* out = nullptr;
  uint32_t method = kKvgStored;
  uint32_t key = 0;
  std::string description;
  bool wide = true;
  for (int i = 0; i < argc; ++i) {
    const char* a = argv[i];
    if (!std::strcmp(a, "-o") && i + 1 < argc) {
      out = argv[++i];
    } else if (!std::strcmp(a, "--method") && i + 1 < argc) {
      const char* m = argv[++i];
      if (!std::strcmp(m, "none")) method = kKvgStored;
      else if (!std::strcmp(m, "predictor")) method = kKvgPredictor;
      else if (!std::strcmp(m, "lzss")) method = kKvgLzss;
      else if (!std::strcmp(m, "lzhuf")) method = kKvgLzhuf;
      else return Fail("pack-kvg", kExitUsage, "unknown method '%s'", m);
    } else if (!std::strcmp(a, "--key") && i + 1 < argc) {
      auto k = ParseKey(argv[++i]);
      if (!k) return Fail("pack-kvg", kExitUsage, "bad key '%s'", argv[i]);
      key = *k;
    } else if (!std::strcmp(a, "--description") && i + 1 < argc) {
      description = Utf8ToCp1252(argv[++i]);
    } else if (!std::strcmp(a, "--narrow-names")) {
      wide = false;
    } else if (a[0] != '-' && !dir) {
      dir = a;
    } else {
      return Fail("pack-kvg", kExitUsage, "%s", usage);
    }
  }
  if (!dir || !out) return Fail("pack-kvg", kExitUsage, "%s", usage);
  namespace fs = std::filesystem;
  std::error_code ec;
  if (!fs::is_directory(dir, ec)) return Fail("pack-kvg", kExitNotFound, "%s is not a folder", dir);

  std::vector<fs::path> files;
  for (auto it = fs::recursive_directory_iterator(dir, ec); !ec && it != fs::recursive_directory_iterator();
       it.increment(ec)) {
    if (it->is_regular_file()) files.push_back(it->path());
  }
  if (ec) return Fail("pack-kvg", kExitFailed, "cannot list %s: %s", dir, ec.message().c_str());
  std::sort(files.begin(), files.end());

  std::vector<KvgInput> entries;
  for (const fs::path& p : files) {
    std::ifstream in(p, std::ios::binary);
    if (!in) return Fail("pack-kvg", kExitNotFound, "cannot read %s", p.c_str());
    KvgInput e;
    std::string rel = fs::relative(p, dir).generic_string();
    std::replace(rel.begin(), rel.end(), '/', '\\');
    e.name = Utf8ToCp1252(rel);
    e.data.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    e.method = method;
    e.wideName = wide;
    entries.push_back(std::move(e));
  }
  std::vector<uint8_t> bytes = BuildKvg(entries, key, description, wide);
  if (!WriteFileAtomically(out, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size())))
    return Fail("pack-kvg", kExitFailed, "cannot write %s", out);
  std::printf("%s: %zu entries, %zu bytes\n", out, entries.size(), bytes.size());
  return kExitOk;
}

}  // namespace kv::tool
