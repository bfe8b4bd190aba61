// Helpers shared by the locator tests: the shared test data folder, scratch
// folders that clean up after themselves, whole-file reads and writes.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace kv::test {

inline constexpr const char* kSharedDirMissing =
    "the tests expect the shared/ folder beside the checkout, or its path in KV_SHARED_DIR";

// KV_SHARED_DIR in the environment wins over the build's guess; a worktree
// sits one level deeper than the checkout the build assumes. Empty when none
// is a folder: the shared_folder test then fails once with the reason, and
// the tests that read the folder skip (KV_SHARED_DIR_OR_SKIP).
inline std::string SharedDir() {
  std::error_code ec;
  const char* env = std::getenv("KV_SHARED_DIR");
  if (env && *env) return std::filesystem::is_directory(env, ec) ? env : "";
  for (std::string dir : {std::string(KV_SHARED_DIR), std::string(KV_SOURCE_DIR) + "/../../shared"})
    if (std::filesystem::is_directory(dir, ec)) return dir;
  return "";
}

#define KV_SHARED_DIR_OR_SKIP(var)                    \
  const std::string var = ::kv::test::SharedDir();    \
  if (var.empty()) GTEST_SKIP() << ::kv::test::kSharedDirMissing

inline std::vector<uint8_t> ReadBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

inline void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

class ScratchDir {
 public:
  ScratchDir() {
    std::string templ = (std::filesystem::temp_directory_path() / "kvloc-XXXXXX").string();
    std::vector<char> buf(templ.begin(), templ.end());
    buf.push_back('\0');
    path_ = mkdtemp(buf.data());
  }
  ~ScratchDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// The names of the entries in `dir`, sorted.
inline std::vector<std::string> ListDir(const std::string& dir) {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator(dir, ec)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace kv::test
