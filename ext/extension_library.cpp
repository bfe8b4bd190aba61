#include "ext/extension_library.h"

#include <dlfcn.h>
#include <elf.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>

#include "engine/strings.h"

namespace kv {

namespace fs = std::filesystem;

namespace {

uint16_t Le16(std::span<const uint8_t> b, size_t at) { return uint16_t(b[at] | b[at + 1] << 8); }
uint32_t Le32(std::span<const uint8_t> b, size_t at) {
  return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 | uint32_t(b[at + 3]) << 24;
}

// The ELF class and machine this player runs as.
constexpr unsigned char kOwnClass = sizeof(void*) == 8 ? ELFCLASS64 : ELFCLASS32;
#if defined(__x86_64__)
constexpr uint16_t kOwnMachine = EM_X86_64;
#elif defined(__aarch64__)
constexpr uint16_t kOwnMachine = EM_AARCH64;
#elif defined(__i386__)
constexpr uint16_t kOwnMachine = EM_386;
#elif defined(__arm__)
constexpr uint16_t kOwnMachine = EM_ARM;
#elif defined(__riscv)
constexpr uint16_t kOwnMachine = EM_RISCV;
#else
constexpr uint16_t kOwnMachine = EM_NONE;
#endif

std::string Lower(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
  return s;
}

bool Inside(const fs::path& file, const fs::path& folder) {
  auto f = file.begin(), d = folder.begin();
  for (; d != folder.end(); ++d, ++f) {
    if (d->empty()) continue;  // a trailing separator
    if (f == file.end() || *f != *d) return false;
  }
  return true;
}

fs::path Real(const fs::path& p) {
  std::error_code ec;
  fs::path r = fs::weakly_canonical(p, ec);
  return ec ? fs::path() : r;
}

std::vector<uint8_t> ReadHead(const fs::path& file, bool& readable) {
  std::ifstream in(file, std::ios::binary);
  readable = bool(in);
  std::vector<uint8_t> head(4096);
  if (!in) return {};
  in.read(reinterpret_cast<char*>(head.data()), std::streamsize(head.size()));
  head.resize(size_t(in.gcount()));
  return head;
}

}  // namespace

LibraryFileKind ClassifyLibraryFile(std::span<const uint8_t> head) {
  if (head.size() >= 20 && std::memcmp(head.data(), ELFMAG, SELFMAG) == 0) {
    const unsigned char cls = head[EI_CLASS];
    if (head[EI_DATA] != ELFDATA2LSB || (cls != ELFCLASS32 && cls != ELFCLASS64)) return LibraryFileKind::kOtherMachine;
    if (cls != kOwnClass || Le16(head, 18) != kOwnMachine) return LibraryFileKind::kOtherMachine;
    return Le16(head, 16) == ET_DYN ? LibraryFileKind::kSharedObject : LibraryFileKind::kNotSharedObject;
  }
  if (head.size() >= 0x40 && head[0] == 'M' && head[1] == 'Z') {
    const uint32_t pe = Le32(head, 0x3C);
    if (pe <= head.size() - 4 && std::memcmp(head.data() + pe, "PE\0\0", 4) == 0) return LibraryFileKind::kWindowsLibrary;
  }
  return LibraryFileKind::kUnknown;
}

const char* DescribeLibraryFileKind(LibraryFileKind kind) {
  switch (kind) {
    case LibraryFileKind::kSharedObject: return "a shared library";
    case LibraryFileKind::kNotSharedObject: return "not a shared library";
    case LibraryFileKind::kOtherMachine: return "built for another machine";
    case LibraryFileKind::kWindowsLibrary: return "a Windows library";
    case LibraryFileKind::kUnknown: break;
  }
  return "not a library";
}

std::vector<std::string> LibraryNamesFor(const std::string& storedFileName) {
  std::string stem = fs::path(storedFileName).stem().string();
  std::vector<std::string> names;
  if (stem.empty()) return names;
  for (const std::string& s : {stem, Lower(stem)})
    for (const std::string& n : {s + ".so", "lib" + s + ".so"})
      if (std::find(names.begin(), names.end(), n) == names.end()) names.push_back(n);
  return names;
}

std::vector<std::string> SplitExtensionPath(const std::string& setting) {
  std::vector<std::string> folders;
  size_t start = 0;
  while (start <= setting.size()) {
    size_t end = setting.find(';', start);
    if (end == std::string::npos) end = setting.size();
    std::string part = setting.substr(start, end - start);
    while (!part.empty() && part.front() == ' ') part.erase(part.begin());
    while (!part.empty() && part.back() == ' ') part.pop_back();
    if (!part.empty() && part.front() == '/') folders.push_back(part);
    start = end + 1;
  }
  return folders;
}

FoundLibrary FindExtensionLibrary(const ExtensionSearch& search) {
  const fs::path named(search.namedFile);
  std::vector<fs::path> allowed;
  for (const std::string& f : search.allowedFolders)
    if (fs::path r = Real(f); !r.empty()) allowed.push_back(r);
  std::vector<fs::path> folders;
  if (!named.parent_path().empty()) folders.push_back(named.parent_path());
  if (!search.projectFolder.empty()) folders.push_back(search.projectFolder);
  for (const std::string& f : search.extraFolders) folders.push_back(f);
  if (search.allowedFolders.empty()) {
    if (fs::path r = Real(search.projectFolder); !r.empty()) allowed.push_back(r);
    for (const std::string& f : search.extraFolders)
      if (fs::path r = Real(f); !r.empty()) allowed.push_back(r);
  }
  auto permitted = [&](const fs::path& real) {
    for (const fs::path& a : allowed)
      if (Inside(real, a)) return true;
    return false;
  };

  FoundLibrary found;
  const std::vector<std::string> names = LibraryNamesFor(named.filename().string());
  std::string refused;
  for (const fs::path& folder : folders) {
    for (const std::string& name : names) {
      const fs::path candidate = folder / name;
      std::error_code ec;
      if (!fs::is_regular_file(candidate, ec)) continue;
      const fs::path real = Real(candidate);
      if (real.empty() || !permitted(real)) {
        if (refused.empty()) refused = candidate.string();
        continue;
      }
      bool readable = false;
      const std::vector<uint8_t> head = ReadHead(real, readable);
      if (!readable) {
        found.errorId = sid::kErrorReadingDll;
        found.detail = candidate.string();
        return found;
      }
      const LibraryFileKind kind = ClassifyLibraryFile(head);
      if (kind != LibraryFileKind::kSharedObject) {
        found.errorId = sid::kNotValidDll;
        found.detail = candidate.string() + " is " + DescribeLibraryFileKind(kind);
        return found;
      }
      found.path = real.string();
      return found;
    }
  }
  // No Linux build: say so when the stored name is a Windows library.
  std::error_code ec;
  if (fs::is_regular_file(named, ec)) {
    bool readable = false;
    const std::vector<uint8_t> head = ReadHead(named, readable);
    if (ClassifyLibraryFile(head) == LibraryFileKind::kWindowsLibrary) {
      found.errorId = sid::kNotValidDll;
      found.detail = named.filename().string() + " is a Windows library; a Linux build of the extension is needed (" +
                     (names.empty() ? std::string("NAME.so") : names[0]) + " or " +
                     (names.size() > 1 ? names[1] : std::string("libNAME.so")) + ")";
      return found;
    }
  }
  found.errorId = sid::kNotFound;
  found.detail = refused.empty() ? (search.storedName.empty() ? search.namedFile : search.storedName)
                                 : refused + " is outside the folders the project may load extensions from";
  return found;
}

namespace {

std::mutex& LoadedLock() {
  static std::mutex m;
  return m;
}

std::map<std::string, std::shared_ptr<ExtensionLibrary>>& Loaded() {
  static auto* loaded = new std::map<std::string, std::shared_ptr<ExtensionLibrary>>();
  return *loaded;
}

}  // namespace

std::shared_ptr<ExtensionLibrary> ExtensionLibrary::Load(const std::string& path, std::string& error) {
  const std::string real = Real(path).string();
  std::lock_guard lock(LoadedLock());
  auto& loaded = Loaded();
  if (auto it = loaded.find(real); it != loaded.end()) return it->second;
  void* handle = ::dlopen(real.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    const char* text = ::dlerror();
    error = text ? text : "the library cannot be loaded";
    return nullptr;
  }
  // Never closed: code of the library may still run on threads it made.
  auto library = std::make_shared<ExtensionLibrary>(handle, real);
  loaded.emplace(real, library);
  return library;
}

void* ExtensionLibrary::Symbol(const std::string& name) const {
  if (name.empty()) return nullptr;
  return ::dlsym(handle_, name.c_str());
}

}  // namespace kv
