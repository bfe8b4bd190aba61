// Finding an extension library: what a file's first bytes say it is (vectors
// written from the ELF and PE layouts), the candidate names of a stored DLL
// name, the search order, the Windows-only case and the folders a project
// may not load from.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>

#include "engine/strings.h"
#include "ext/extension_library.h"

namespace kv {
namespace {

namespace fs = std::filesystem;

// An ELF identification and header start: class, data order, type, machine.
std::vector<uint8_t> Elf(uint8_t cls, uint8_t data, uint16_t type, uint16_t machine) {
  std::vector<uint8_t> b(64, 0);
  b[0] = 0x7F, b[1] = 'E', b[2] = 'L', b[3] = 'F';
  b[4] = cls, b[5] = data, b[6] = 1;
  b[16] = uint8_t(type), b[17] = uint8_t(type >> 8);
  b[18] = uint8_t(machine), b[19] = uint8_t(machine >> 8);
  return b;
}

// "MZ", the PE header's offset at 0x3C, and "PE\0\0" there.
std::vector<uint8_t> Pe(uint32_t offset, size_t size, bool signature = true) {
  std::vector<uint8_t> b(size, 0);
  b[0] = 'M', b[1] = 'Z';
  for (int i = 0; i < 4; ++i) b[0x3C + i] = uint8_t(offset >> (8 * i));
  if (signature && uint64_t(offset) + 4 <= size) std::memcpy(&b[offset], "PE\0\0", 4);
  return b;
}

std::vector<uint8_t> Cut(std::vector<uint8_t> b, size_t n) {
  b.resize(n);
  return b;
}

TEST(LibraryFile, KindsFromTheFirstBytes) {
  const struct {
    const char* what;
    std::vector<uint8_t> head;
    LibraryFileKind kind;
  } cases[] = {
      {"x86-64 shared object", Elf(2, 1, 3, 62), LibraryFileKind::kSharedObject},
      {"x86-64 executable", Elf(2, 1, 2, 62), LibraryFileKind::kNotSharedObject},
      {"relocatable object", Elf(2, 1, 1, 62), LibraryFileKind::kNotSharedObject},
      {"32-bit i386 shared object", Elf(1, 1, 3, 3), LibraryFileKind::kOtherMachine},
      {"AArch64 shared object", Elf(2, 1, 3, 183), LibraryFileKind::kOtherMachine},
      {"big-endian", Elf(2, 2, 3, 62), LibraryFileKind::kOtherMachine},
      {"bad class", Elf(7, 1, 3, 62), LibraryFileKind::kOtherMachine},
      {"ELF cut at 19 bytes", Cut(Elf(2, 1, 3, 62), 19), LibraryFileKind::kUnknown},
      {"Windows DLL", Pe(0x80, 0x200), LibraryFileKind::kWindowsLibrary},
      {"MZ without PE", Pe(0x80, 0x200, false), LibraryFileKind::kUnknown},
      {"PE offset past the bytes read", Pe(0x1000, 0x200), LibraryFileKind::kUnknown},
      {"PE offset at the very end", Pe(0x1FC, 0x200), LibraryFileKind::kWindowsLibrary},
      {"PE offset 0xFFFFFFFF", Pe(0xFFFFFFFFu, 0x200), LibraryFileKind::kUnknown},
      {"text", {'h', 'e', 'l', 'l', 'o'}, LibraryFileKind::kUnknown},
      {"nothing", {}, LibraryFileKind::kUnknown},
  };
  for (const auto& c : cases) EXPECT_EQ(ClassifyLibraryFile(c.head), c.kind) << c.what;
}

TEST(LibraryFile, CandidateNamesAndThePathSetting) {
  EXPECT_EQ(LibraryNamesFor("MyExt.DLL"),
            (std::vector<std::string>{"MyExt.so", "libMyExt.so", "myext.so", "libmyext.so"}));
  EXPECT_EQ(LibraryNamesFor("ext.dll"), (std::vector<std::string>{"ext.so", "libext.so"}));
  EXPECT_EQ(LibraryNamesFor(""), std::vector<std::string>{});
  EXPECT_EQ(SplitExtensionPath(" /opt/ext ;relative;;/srv/a b"), (std::vector<std::string>{"/opt/ext", "/srv/a b"}));
}

class Search : public ::testing::Test {
 protected:
  Search() {
    root_ = fs::temp_directory_path() / ("kv_ext_search_" + std::to_string(::getpid()));
    fs::remove_all(root_);
    for (const char* d : {"project/sub", "extra", "outside"}) fs::create_directories(root_ / d);
  }
  ~Search() override { fs::remove_all(root_); }
  void Write(const std::string& rel, const std::vector<uint8_t>& bytes) {
    std::ofstream(root_ / rel, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  }
  ExtensionSearch For(const std::string& named) {
    ExtensionSearch s;
    s.namedFile = (root_ / named).string();
    s.projectFolder = (root_ / "project").string();
    s.extraFolders = {(root_ / "extra").string()};
    return s;
  }
  std::string Path(const std::string& rel) { return (root_ / rel).string(); }
  fs::path root_;
};

TEST_F(Search, OrderOfPlacesAndNames) {
  const auto lib = Elf(2, 1, 3, 62);
  Write("extra/libMyExt.so", lib);
  EXPECT_EQ(FindExtensionLibrary(For("project/sub/MyExt.DLL")).path, Path("extra/libMyExt.so"));
  Write("project/myext.so", lib);
  EXPECT_EQ(FindExtensionLibrary(For("project/sub/MyExt.DLL")).path, Path("project/myext.so"));
  Write("project/sub/libmyext.so", lib);
  EXPECT_EQ(FindExtensionLibrary(For("project/sub/MyExt.DLL")).path, Path("project/sub/libmyext.so"));
  Write("project/sub/MyExt.so", lib);
  EXPECT_EQ(FindExtensionLibrary(For("project/sub/MyExt.DLL")).path, Path("project/sub/MyExt.so"));
}

TEST_F(Search, FailuresNameTheFile) {
  Write("project/Win.DLL", Pe(0x80, 0x200));
  FoundLibrary f = FindExtensionLibrary(For("project/Win.DLL"));
  EXPECT_EQ(f.errorId, sid::kNotValidDll);
  EXPECT_EQ(f.detail, "Win.DLL is a Windows library; a Linux build of the extension is needed (Win.so or libWin.so)");

  Write("project/bad.so", {'n', 'o', 't', ' ', 'E', 'L', 'F'});
  f = FindExtensionLibrary(For("project/bad.DLL"));
  EXPECT_EQ(f.errorId, sid::kNotValidDll);
  EXPECT_EQ(f.detail, Path("project/bad.so") + " is not a library");

  Write("project/arm.so", Elf(2, 1, 3, 183));
  f = FindExtensionLibrary(For("project/arm.DLL"));
  EXPECT_EQ(f.detail, Path("project/arm.so") + " is built for another machine");

  f = FindExtensionLibrary(For("project/none.DLL"));
  EXPECT_EQ(f.errorId, sid::kNotFound);
  EXPECT_EQ(f.detail, Path("project/none.DLL"));
}

TEST_F(Search, NothingIsLoadedFromOutsideTheAllowedFolders) {
  Write("outside/libfar.so", Elf(2, 1, 3, 62));
  // Named beside a file outside, and linked into the project from outside.
  FoundLibrary f = FindExtensionLibrary(For("outside/far.DLL"));
  EXPECT_EQ(f.errorId, sid::kNotFound);
  EXPECT_EQ(f.detail, Path("outside/libfar.so") + " is outside the folders the project may load extensions from");
  fs::create_symlink(root_ / "outside/libfar.so", root_ / "project/libfar.so");
  f = FindExtensionLibrary(For("project/far.DLL"));
  EXPECT_TRUE(f.path.empty());
  EXPECT_EQ(f.errorId, sid::kNotFound);
  EXPECT_EQ(f.detail, Path("project/libfar.so") + " is outside the folders the project may load extensions from");
}

TEST(ExtensionLibrary, LoadsOncePerProcessAndReportsWhatCannotLoad) {
  std::string error;
  auto a = ExtensionLibrary::Load(KV_TYPED_EXTENSION, error);
  auto b = ExtensionLibrary::Load(KV_TYPED_EXTENSION, error);
  ASSERT_TRUE(a);
  EXPECT_EQ(a, b);
  EXPECT_TRUE(a->Symbol("AddFour"));
  EXPECT_FALSE(a->Symbol("NoSuchProcedure"));
  EXPECT_FALSE(a->Symbol(""));
  const fs::path junk = fs::temp_directory_path() / ("kv_junk_" + std::to_string(::getpid()) + ".so");
  std::ofstream(junk) << "junk";
  EXPECT_FALSE(ExtensionLibrary::Load(junk.string(), error));
  EXPECT_NE(error.find("junk"), std::string::npos) << error;
  fs::remove(junk);
}

}  // namespace
}  // namespace kv
