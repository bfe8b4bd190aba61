#include "platform/files.h"

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kv {
namespace {

namespace fs = std::filesystem;

class FilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("kvfiles" + std::to_string(::getpid()));
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }
  fs::path dir_;
};

TEST_F(FilesTest, WriteReplacesAndReadsBack) {
  const std::string path = (dir_ / "a.bin").string();
  std::ofstream(path) << "old contents, longer than the new ones";
  const std::string bytes("new\0bytes", 9);
  ASSERT_TRUE(WriteFileAtomically(path, bytes));
  std::string read;
  ASSERT_TRUE(ReadHostFile(path, read));
  EXPECT_EQ(read, bytes);
  // Nothing but the target is left in the folder.
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_), {}), 1);
  // The usual permissions, not the temporary file's private ones.
  mode_t mask = ::umask(022);
  ASSERT_TRUE(WriteFileAtomically(path, "x"));
  ::umask(mask);
  struct stat st {};
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0644u);
}

TEST_F(FilesTest, FailedWriteLeavesNothing) {
  int error = 0;
  EXPECT_FALSE(WriteFileAtomically((dir_ / "missing" / "a.bin").string(), "x", &error));
  EXPECT_EQ(error, ENOENT);
  // A target that is a folder cannot be replaced; the temporary file goes.
  fs::create_directories(dir_ / "folder");
  EXPECT_FALSE(WriteFileAtomically((dir_ / "folder").string(), "x", &error));
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_), {}), 1);
}

TEST_F(FilesTest, ReadRefusesFoldersAndMissingFiles) {
  std::string bytes = "kept";
  EXPECT_FALSE(ReadHostFile(dir_.string(), bytes));
  EXPECT_FALSE(ReadHostFile((dir_ / "none").string(), bytes));
  std::ofstream(dir_ / "empty");
  EXPECT_TRUE(ReadHostFile((dir_ / "empty").string(), bytes));
  EXPECT_EQ(bytes, "");
}

TEST_F(FilesTest, ReadRefusesFilesOverTheCap) {
  const std::string path = (dir_ / "ten.bin").string();
  std::ofstream(path) << "0123456789";
  struct Case {
    uint64_t cap;
    bool read;
  };
  for (const Case c : {Case{10, true}, Case{9, false}, Case{0, false}}) {
    SCOPED_TRACE(c.cap);
    std::string bytes;
    int error = 0;
    EXPECT_EQ(ReadHostFile(path, bytes, &error, c.cap), c.read);
    EXPECT_EQ(error, c.read ? 0 : EFBIG);
    EXPECT_EQ(bytes, c.read ? "0123456789" : "");
  }
}


TEST_F(FilesTest, CopyReplacesALinkAtTheTargetAndKeepsTheMode) {
  const fs::path source = dir_ / "source.bin", victim = dir_ / "victim.txt", target = dir_ / "target.bin";
  std::ofstream(source) << "copied bytes";
  ::chmod(source.c_str(), 0751);
  std::ofstream(victim) << "must stay";
  fs::create_symlink(victim, target);
  mode_t mask = ::umask(022);
  ASSERT_TRUE(CopyFileAtomically(source.string(), target.string()));
  ::umask(mask);
  std::string read;
  ASSERT_TRUE(ReadHostFile(victim.string(), read));
  EXPECT_EQ(read, "must stay");
  EXPECT_FALSE(fs::is_symlink(fs::symlink_status(target)));
  ASSERT_TRUE(ReadHostFile(target.string(), read));
  EXPECT_EQ(read, "copied bytes");
  EXPECT_EQ(fs::status(target).permissions() & fs::perms::all, fs::perms(0751));
}

TEST_F(FilesTest, CopyRefusesWhatIsNotARegularFile) {
  std::ofstream(dir_ / "real.txt") << "x";
  fs::create_symlink(dir_ / "real.txt", dir_ / "link.txt");
  fs::create_directories(dir_ / "folder");
  ASSERT_EQ(::mkfifo((dir_ / "fifo").c_str(), 0600), 0);
  const struct {
    const char* name;
    int error;
  } kCases[] = {{"link.txt", ELOOP}, {"folder", EISDIR}, {"fifo", ENODEV}, {"none", ENOENT}};
  for (const auto& c : kCases) {
    int error = 0;
    EXPECT_FALSE(CopyFileAtomically((dir_ / c.name).string(), (dir_ / "out").string(), &error)) << c.name;
    EXPECT_EQ(error, c.error) << c.name;
    EXPECT_FALSE(fs::exists(dir_ / "out")) << c.name;
  }
}

// A link at each level below the folder, or none: only the levels below the
// folder are looked at, the last one only when asked, and a missing part ends
// the walk.
TEST_F(FilesTest, NoLinkBelowLooksAtEachLevelUnderTheFolder) {
  fs::create_directories(dir_ / "top/a/b");
  fs::create_directories(dir_ / "elsewhere");
  fs::create_directory_symlink(dir_ / "elsewhere", dir_ / "top/lnk");
  fs::create_directory_symlink(dir_ / "top/a", dir_ / "top/a/b/up");
  fs::create_symlink(dir_ / "elsewhere", dir_ / "top/a/filelink");
  fs::create_directory_symlink(dir_ / "top", dir_ / "via");
  const std::string top = (dir_ / "top").string();
  const struct {
    std::string folder, path;
    bool withLast, linkFree;
  } kCases[] = {
      {top, top + "/a/b", true, true},
      {top, top + "/a/b/new/file", true, true},  // missing parts are made, not followed
      {top, top + "/lnk", true, false},
      {top, top + "/lnk", false, true},  // the last part only when asked
      {top, top + "/lnk/x.bmp", false, false},
      {top, top + "/a/b/up/x", false, false},
      {top, top + "/a/filelink", true, false},
      {top, top + "/a/filelink", false, true},
      {(dir_ / "via").string(), (dir_ / "via/a/b").string(), true, true},  // the folder itself may be a link
      {dir_.string(), (dir_ / "via/a/b").string(), true, false},
      {top, (dir_ / "topper/a").string(), true, false},  // not inside the folder
      {top, top + "/a/../lnk/x", false, false},         // ".." is walked as written
  };
  for (const auto& c : kCases)
    EXPECT_EQ(NoLinkBelow(c.folder, c.path, c.withLast), c.linkFree) << c.path << " below " << c.folder;
}

}  // namespace
}  // namespace kv
