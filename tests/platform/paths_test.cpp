#include "platform/paths.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <unistd.h>

namespace kv {
namespace {

TEST(Paths, DriveAndNetworkPaths) {
  const std::tuple<const char*, bool, bool> cases[] = {
      {"C:", true, false},        {"  d:\\x", true, false}, {"x:y", true, false},   {"C", false, false},
      {"\\\\srv\\s", false, true}, {" \\\\srv", false, true}, {"\\x", false, false}, {"", false, false},
      {"//srv/s", false, false},
  };
  for (auto [text, drive, network] : cases) {
    EXPECT_EQ(IsDrivePath(text), drive) << text;
    EXPECT_EQ(IsNetworkPath(text), network) << text;
  }
}

TEST(Paths, Split) {
  struct Case {
    const char* path;
    const char* drive;
    const char* dir;
    const char* name;
    const char* ext;
  } cases[] = {
      {"C:\\dir\\sub\\name.ext", "C:", "\\dir\\sub\\", "name", ".ext"},
      {"dir/a.b.c", "", "dir/", "a.b", ".c"},
      {"noext", "", "", "noext", ""},
      {"C:file.kvs", "C:", "", "file", ".kvs"},
      {"\\\\srv\\share\\f.kvp", "", "\\\\srv\\share\\", "f", ".kvp"},
      {"dir.d\\file", "", "dir.d\\", "file", ""},
  };
  for (const Case& c : cases) {
    PathParts p = SplitPath(c.path);
    EXPECT_EQ(p.drive, c.drive) << c.path;
    EXPECT_EQ(p.dir, c.dir) << c.path;
    EXPECT_EQ(p.name, c.name) << c.path;
    EXPECT_EQ(p.ext, c.ext) << c.path;
  }
  EXPECT_EQ(ReplaceExtension("C:\\p\\proj.kvp", ".kvb"), "C:\\p\\proj.kvb");
  EXPECT_EQ(ReplaceExtension("proj", ".kvb"), "proj.kvb");
  EXPECT_EQ(FileTitle("a\\b\\c.kvs"), "c.kvs");
}

TEST(Paths, ResolveHostPathIgnoresCase) {
  auto dir = std::filesystem::temp_directory_path() / ("kvpaths" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir / "Media" / "Pics");
  std::ofstream(dir / "Media" / "Pics" / "Logo.BMP") << "x";
  std::ofstream(dir / "caf\xC3\xA9.kvs") << "x";  // a UTF-8 name on disk
  DriveMap drives;
  drives.Map('C', dir.string());
  const std::string base = dir.string();
  struct Case {
    const char* stored;
    std::optional<std::string> host;
  } cases[] = {
      {"media\\pics\\logo.bmp", base + "/Media/Pics/Logo.BMP"},
      {"C:\\MEDIA\\Pics\\LOGO.bmp", base + "/Media/Pics/Logo.BMP"},
      {"\\media\\pics\\new.bmp", base + "/Media/Pics/new.bmp"},  // rooted: on drive C
      {"media\\gone\\x.bmp", std::nullopt},                      // a folder on the way is missing
      {"CAF\xC9.KVS", base + "/caf\xC3\xA9.kvs"},                // Windows-1252 name, UTF-8 on disk
      {"Q:\\x", std::nullopt},                                   // no such drive
      {"\\\\server\\share\\x", std::nullopt},
      {"Z:\\", std::string("/")},
  };
  for (const Case& c : cases) EXPECT_EQ(ResolveHostPath(c.stored, drives, base), c.host) << c.stored;
  drives.SetDefault(base);
  EXPECT_EQ(ResolveHostPath("Q:\\media", drives, "/"), base + "/Media");
  EXPECT_TRUE(IsDirectory(base + "/Media"));
  EXPECT_FALSE(IsDirectory(base + "/Media/Pics/Logo.BMP"));
  std::filesystem::remove_all(dir);
}

TEST(Paths, DrivesByType) {
  DriveMap drives;
  EXPECT_EQ(drives.Letters(DriveType::Fixed), std::vector<char>{'Z'});  // no project: no C:
  drives.SetDefault("/home/u/proj");
  drives.Map('r', "/media/cdrom", DriveType::CdRom);
  drives.Map('D', "/srv/data");
  drives.Map('F', "/media/usb", DriveType::Removable);
  EXPECT_EQ(drives.Letters(DriveType::Fixed), (std::vector<char>{'C', 'D', 'Z'}));
  EXPECT_EQ(drives.Letters(DriveType::CdRom), std::vector<char>{'R'});
  EXPECT_EQ(drives.Letters(DriveType::Removable), std::vector<char>{'F'});
  EXPECT_TRUE(drives.Letters(DriveType::Network).empty());
  drives.Map('C', "/srv/c", DriveType::RamDisk);  // a mapping replaces the default's drive
  EXPECT_EQ(drives.Letters(DriveType::Fixed), (std::vector<char>{'D', 'Z'}));
}

TEST(Paths, StoredFormOfHostPaths) {
  DriveMap drives;
  drives.SetDefault("/home/u/proj/");
  drives.Map('D', "/home/u/proj/data");
  struct Case {
    const char* host;
    const char* stored;
  };
  const Case cases[] = {
      {"/home/u/proj", "C:\\"},
      {"/home/u/proj/sub/a.bmp", "C:\\sub\\a.bmp"},
      {"/home/u/proj/data/x", "D:\\x"},        // the closest folder wins
      {"/home/u/projects/x", "Z:\\home\\u\\projects\\x"},  // not a folder boundary
      {"/", "Z:\\"},
      {"/tmp/caf\xC3\xA9", "Z:\\tmp\\caf\xE9"},
  };
  for (const Case& c : cases) EXPECT_EQ(drives.StoredPathOf(c.host), c.stored) << c.host;
}

TEST(Paths, SystemErrorText) {
  EXPECT_EQ(SystemErrorText(0), "");
  EXPECT_FALSE(SystemErrorText(ENOENT).empty());
}

}  // namespace
}  // namespace kv

namespace kv {
namespace {

// One rule for every layer: an existing absolute host path is taken as it is
// (a project named on the command line); any other name is stored form, and
// a host-looking path that does not exist is read as a rooted name on C:.
TEST(Paths, HostPathOfTakesHostPathsThenStoredNames) {
  auto dir = std::filesystem::temp_directory_path() / ("kvhost" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir / "Proj");
  std::ofstream(dir / "Proj" / "Main.kvp") << "x";
  DriveMap& drives = ProcessDriveMap();
  auto saved = drives.Folder('C');
  drives.Map('C', (dir / "Proj").string());
  const std::string host = (dir / "Proj" / "Main.kvp").string();
  struct Case {
    std::string name;
    std::optional<std::string> host;
  } cases[] = {
      {host, host},                                           // a host path that exists
      {"C:\\MAIN.KVP", host},                                 // stored, found without case
      {"\\main.kvp", host},                                   // rooted: on drive C
      {"/no/such/folder/main.kvp", std::nullopt},             // neither a host file nor a C: path
      {"", std::nullopt},
  };
  for (const Case& c : cases) EXPECT_EQ(HostPathOf(c.name), c.host) << c.name;
  if (saved) drives.Map('C', *saved);
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace kv
