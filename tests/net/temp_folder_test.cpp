#include "net/temp_folder.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <optional>

#include "platform/paths.h"
#include "tests/net/locator_test_util.h"

namespace kv {
namespace {

namespace fs = std::filesystem;

// A child process that joins the instances, reports whether it purged, and
// holds its unit until the parent closes `release`.
struct Instance {
  pid_t pid = -1;
  int release = -1;
  bool purged = false;
};

// Write ends held for earlier children; a later child must not keep them
// open, or closing them would not release the earlier one.
std::vector<int>& OpenReleases() {
  static std::vector<int> fds;
  return fds;
}

Instance StartInstance(const std::string& runtime, const TempFolder& temp) {
  int report[2], hold[2];
  EXPECT_EQ(pipe(report), 0);
  EXPECT_EQ(pipe(hold), 0);
  Instance inst;
  inst.pid = fork();
  if (inst.pid == 0) {
    close(report[0]);
    close(hold[1]);
    for (int fd : OpenReleases()) close(fd);
    bool purged = false;
    auto unit = InstanceUnit::Join(runtime, temp, &purged);
    char answer = unit ? (purged ? 'P' : 'J') : 'F';
    if (write(report[1], &answer, 1) != 1) _exit(2);
    char c;
    while (read(hold[0], &c, 1) > 0) {
    }
    _exit(0);
  }
  close(report[1]);
  close(hold[0]);
  char answer = 0;
  EXPECT_EQ(read(report[0], &answer, 1), 1);
  close(report[0]);
  EXPECT_NE(answer, 'F');
  inst.purged = answer == 'P';
  inst.release = hold[1];
  OpenReleases().push_back(hold[1]);
  return inst;
}

void Stop(Instance& inst) {
  std::erase(OpenReleases(), inst.release);
  close(inst.release);
  int status = 0;
  waitpid(inst.pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

void Touch(const std::string& path) { test::WriteBytes(path, {'x'}); }

TEST(InstanceUnit, OnlyTheFirstInstancePurges) {
  test::ScratchDir dir;
  auto prepared = PrepareUserFolder(dir / "tmp");
  ASSERT_TRUE(prepared);
  TempFolder temp(*prepared);
  const std::string runtime = dir / "run";
  Touch(temp.path() + "/glm1.bmp");
  Touch(temp.path() + "/glmA");
  Touch(temp.path() + "/Glm2.bmp");  // the prefix is compared with case
  Touch(temp.path() + "/keep.txt");
  fs::create_directory(temp.path() + "/glmdir");  // folders stay
  Touch(temp.path() + "/glmdir/inner");

  Instance first = StartInstance(runtime, temp);
  EXPECT_TRUE(first.purged);
  EXPECT_EQ(test::ListDir(temp.path()), (std::vector<std::string>{"Glm2.bmp", "glmdir", "keep.txt"}));

  // While the first runs, a second leaves the first one's files alone.
  Touch(temp.path() + "/glm3.wav");
  Instance second = StartInstance(runtime, temp);
  EXPECT_FALSE(second.purged);
  EXPECT_TRUE(fs::exists(temp.path() + "/glm3.wav"));
  Stop(first);
  // The second still holds its unit: a third does not purge either.
  Instance third = StartInstance(runtime, temp);
  EXPECT_FALSE(third.purged);
  Stop(second);
  Stop(third);

  // Once every instance has gone (or crashed), the next one purges again.
  bool purged = false;
  auto unit = InstanceUnit::Join(runtime, temp, &purged);
  ASSERT_TRUE(unit);
  EXPECT_TRUE(purged);
  EXPECT_FALSE(fs::exists(temp.path() + "/glm3.wav"));
  EXPECT_TRUE(fs::exists(temp.path() + "/glmdir/inner"));
}

TEST(InstanceUnit, CrashedInstanceReleasesItsUnit) {
  test::ScratchDir dir;
  auto prepared = PrepareUserFolder(dir / "tmp");
  ASSERT_TRUE(prepared);
  TempFolder temp(*prepared);
  Instance crashed = StartInstance(dir / "run", temp);
  kill(crashed.pid, SIGKILL);
  int status;
  waitpid(crashed.pid, &status, 0);
  std::erase(OpenReleases(), crashed.release);
  close(crashed.release);
  Touch(temp.path() + "/glmleft");
  bool purged = false;
  auto unit = InstanceUnit::Join(dir / "run", temp, &purged);
  ASSERT_TRUE(unit);
  EXPECT_TRUE(purged);
  EXPECT_FALSE(fs::exists(temp.path() + "/glmleft"));
}

TEST(InstanceUnit, UnusableRuntimeFolderFails) {
  test::ScratchDir dir;
  TempFolder temp(*PrepareUserFolder(dir / "tmp"));
  Touch(dir / "file");
  std::string error;
  EXPECT_FALSE(InstanceUnit::Join(dir / "file", temp, nullptr, &error));
  EXPECT_FALSE(error.empty());
}

// The temporary folder is made private, or taken again when it already is
// this user's private folder (a second instance, a later run); anything
// else at the name is refused with the reason.
TEST(PrepareUserFolder, MakesOrReusesOnlyAPrivateFolder) {
  test::ScratchDir dir;
  fs::create_directory(dir / "private");
  fs::permissions(dir / "private", fs::perms::owner_all, fs::perm_options::replace);
  fs::create_directory(dir / "shared");
  fs::permissions(dir / "shared", fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                      fs::perms::others_read | fs::perms::others_exec,
                  fs::perm_options::replace);
  fs::create_directory_symlink(dir / "private", dir / "link");
  Touch(dir / "file");
  const struct {
    std::string name;
    bool accepted;
    std::string error;  // the end of the error text when refused
  } kCases[] = {
      {"new", true, ""},
      {"private", true, ""},
      {"shared", false, ": not a private folder of this user"},
      {"link", false, ": not a private folder of this user"},
      {"file", false, ": not a private folder of this user"},
      {"missing/new", false, ": " + SystemErrorText(ENOENT)},
      {"file/new", false, ": " + SystemErrorText(ENOTDIR)},
  };
  for (const auto& c : kCases) {
    std::string error;
    const std::optional<std::string> prepared = PrepareUserFolder(dir / c.name, &error);
    EXPECT_EQ(prepared.has_value(), c.accepted) << c.name << ": " << error;
    if (c.accepted) {
      EXPECT_EQ(*prepared, fs::canonical(dir / c.name).string()) << c.name;
      EXPECT_EQ(fs::status(*prepared).permissions() & fs::perms::all, fs::perms::owner_all) << c.name;
    } else {
      EXPECT_EQ(error, (dir / c.name) + c.error) << c.name;
    }
  }
}

TEST(TempFolder, UniqueFilesAndContainment) {
  test::ScratchDir dir;
  TempFolder temp(*PrepareUserFolder(dir / "tmp"));
  auto a = temp.CreateUnique("glm", ".bmp");
  auto b = temp.CreateUnique("glm", "../x/.b.m.p");
  ASSERT_TRUE(a && b);
  close(a->fd);
  close(b->fd);
  EXPECT_NE(a->path, b->path);
  EXPECT_EQ(fs::path(a->path).extension(), ".bmp");
  EXPECT_EQ(fs::path(b->path).extension(), ".p");
  EXPECT_EQ(fs::path(b->path).parent_path(), temp.path());
  struct Case {
    std::string path;
    bool inside;
  };
  fs::create_directory(temp.path() + "/sub");
  fs::create_symlink(dir.path(), temp.path() + "/out");
  const Case cases[] = {
      {a->path, true},
      {temp.path() + "/not-yet", true},
      {temp.path() + "/../tmp/" + fs::path(a->path).filename().string(), true},
      {temp.path() + "/../file", false},
      {temp.path() + "/sub/x", false},   // only entries directly inside
      {temp.path() + "/out/file", false},  // a link leading out
      {temp.path(), false},
      {"", false},
      {"relative/glm", false},
  };
  for (const Case& c : cases) EXPECT_EQ(temp.Contains(c.path), c.inside) << c.path;
}

}  // namespace
}  // namespace kv
