// Finding and loading an author's extension library: the stored DLL name
// becomes a Linux shared object beside it, in the project's folder or in the
// folders of [Extensions] Path; a library loads once per process and stays.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace kv {

// What the first bytes of a file say it is.
enum class LibraryFileKind {
  kSharedObject,     // an ELF shared object for this machine
  kNotSharedObject,  // ELF, but an executable, a relocatable object or a core
  kOtherMachine,     // ELF built for another architecture or word size
  kWindowsLibrary,   // a Windows executable or DLL ("MZ", then "PE\0\0")
  kUnknown,          // anything else, or too short to tell
};

// Reads at most the first 4096 bytes; never trusts an offset it finds there.
LibraryFileKind ClassifyLibraryFile(std::span<const uint8_t> head);
const char* DescribeLibraryFileKind(LibraryFileKind kind);

struct ExtensionSearch {
  std::string namedFile;                 // host path of the stored name (may not exist)
  std::string storedName;                // the name as the project gives it, for errors
  std::string projectFolder;             // host path
  std::vector<std::string> extraFolders;  // [Extensions] Path, absolute host paths
  // Folders a library may come from; a candidate outside all of them (after
  // links are followed) is passed over. Empty: the project's folder, the
  // folder of the named file when it is inside it, and the extra folders.
  std::vector<std::string> allowedFolders;
};

struct FoundLibrary {
  std::string path;      // the library to load; empty on failure
  uint32_t errorId = 0;  // string id of the failure
  std::string detail;
};

// The candidate names of stored file `X.DLL`: X.so, libX.so, x.so, libx.so
// (without repeats).
std::vector<std::string> LibraryNamesFor(const std::string& storedFileName);
// The folders of an [Extensions] Path setting (";" separated; relative
// folders are ignored).
std::vector<std::string> SplitExtensionPath(const std::string& setting);

// Looks for the library as the search says; a Windows DLL found where no
// Linux build is gives 5792 naming it.
FoundLibrary FindExtensionLibrary(const ExtensionSearch& search);

// A library loaded with RTLD_NOW | RTLD_LOCAL, kept for the whole process.
class ExtensionLibrary {
 public:
  // The library at `path` (loaded once per real path); null with `error`
  // set (dlerror's text) when it cannot be loaded.
  static std::shared_ptr<ExtensionLibrary> Load(const std::string& path, std::string& error);
  void* Symbol(const std::string& name) const;
  const std::string& path() const { return path_; }

  explicit ExtensionLibrary(void* handle, std::string path) : handle_(handle), path_(std::move(path)) {}

 private:
  void* handle_;
  std::string path_;
};

}  // namespace kv
