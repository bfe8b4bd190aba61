// Feeds arbitrary file contents to the check of an extension library's
// first bytes, and to the search as the library a stored DLL name finds in a
// project's folder. A file is only taken for loading when the check calls it
// a shared object of this machine; everything else is refused with 5792.
// Nothing is loaded.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <span>
#include <string>

#include "engine/strings.h"
#include "ext/extension_library.h"

namespace {

namespace fs = std::filesystem;

void Require(bool condition) {
  if (!condition) std::abort();
}

// A project folder of this process's own, removed when it ends.
struct ProjectFolder {
  ProjectFolder() : path(fs::temp_directory_path() / ("kvextfuzz-" + std::to_string(::getpid()))) {
    fs::create_directories(path);
  }
  ~ProjectFolder() {
    std::error_code ec;
    fs::remove_all(path, ec);
  }
  fs::path path;
};

const fs::path& Folder() {
  static const ProjectFolder folder;
  return folder.path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::span<const uint8_t> bytes(data, size);
  const kv::LibraryFileKind kind = kv::ClassifyLibraryFile(bytes);
  Require(kv::DescribeLibraryFileKind(kind) != nullptr);
  // Only the first 4096 bytes decide.
  if (size > 4096) Require(kv::ClassifyLibraryFile(bytes.first(4096)) == kind);

  const fs::path file = Folder() / "libfz.so";
  std::ofstream(file, std::ios::binary | std::ios::trunc).write(reinterpret_cast<const char*>(data), std::streamsize(size));
  kv::ExtensionSearch search;
  search.namedFile = (Folder() / "Fz.DLL").string();
  search.projectFolder = Folder().string();
  const kv::FoundLibrary found = kv::FindExtensionLibrary(search);
  if (kind == kv::LibraryFileKind::kSharedObject) {
    Require(found.path == fs::weakly_canonical(file).string() && found.errorId == 0);
  } else {
    Require(found.path.empty() && found.errorId == kv::sid::kNotValidDll);
    Require(found.detail.find("libfz.so") != std::string::npos);
  }
  return 0;
}
