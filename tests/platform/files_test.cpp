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

}  // namespace
}  // namespace kv
