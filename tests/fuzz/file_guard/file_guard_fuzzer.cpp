// Feeds arbitrary stored names to the path rules of the file builtins over a
// small tree with links in it. Whatever the guard lets a script change must,
// once the kernel has resolved every link (canonical), be where the name
// says and inside an allowed folder: no change may pass through a link.
// Nothing is written; the guard is only asked.
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "ext/orlan_files.h"
#include "platform/paths.h"

namespace {

namespace fs = std::filesystem;

void Require(bool condition) {
  if (!condition) std::abort();
}

// C: is "c", the project "c/proj"; links lead out of the project, back into
// it, and from the drive's folder into the project.
struct Tree {
  Tree() {
    std::string pattern = (fs::temp_directory_path() / "kvguardfuzz-XXXXXX").string();
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    Require(::mkdtemp(name.data()) != nullptr);
    root = fs::canonical(name.data());
    for (const char* f : {"c/proj/sub/deep", "c/other", "outside/inner"}) fs::create_directories(root / f);
    fs::create_directory_symlink(root / "outside", root / "c/proj/lnk");
    fs::create_directory_symlink(root / "c/proj", root / "c/proj/sub/up");
    fs::create_directory_symlink(root / "c/proj", root / "c/alias");
    fs::create_symlink(root / "outside/inner", root / "c/proj/sub/deep/file.bmp");
    drives.Map('C', (root / "c").string());
    guard = std::make_unique<kv::FileGuard>(std::vector<std::string>{(root / "c/proj").string()},
                                            std::vector<std::string>{(root / "c").string()});
  }
  ~Tree() {
    std::error_code ec;
    fs::remove_all(root, ec);
  }
  fs::path root;
  kv::DriveMap drives;
  std::unique_ptr<kv::FileGuard> guard;
};

// `folder` as written is where it really is, inside the drive's folder: the
// deepest part of it that exists resolves to itself.
void RequireReallyInside(const Tree& tree, fs::path folder) {
  std::error_code ec;
  while (!folder.empty() && !fs::exists(fs::symlink_status(folder, ec)) && folder != folder.root_path())
    folder = folder.parent_path();
  const fs::path real = fs::canonical(folder, ec);
  Require(!ec && real == folder);
  const fs::path allowed = tree.root / "c";
  auto [a, r] = std::mismatch(allowed.begin(), allowed.end(), real.begin(), real.end());
  Require(a == allowed.end());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const Tree tree;
  if (size > 512) return 0;
  const std::string stored(reinterpret_cast<const char*>(data), size);
  const kv::FileContext files{tree.drives, (tree.root / "c/proj").string(), *tree.guard};
  const auto host = kv::HostPathFor(stored, files);
  if (!host) return 0;
  const fs::path normal = kv::FileGuard::Normal(*host);
  if (tree.guard->MayWriteFile(*host) || tree.guard->MayRemove(*host)) RequireReallyInside(tree, normal.parent_path());
  if (tree.guard->MayFillFolder(*host)) RequireReallyInside(tree, normal);
  return 0;
}
