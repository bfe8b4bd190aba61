#include "platform/launcher.h"
#include "platform/message_box.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <thread>

namespace kv {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

TEST(SplitArguments, WindowsRules) {
  struct Case {
    const char* line;
    std::vector<std::string> args;
  };
  const Case cases[] = {
      {"", {}},
      {" \t ", {}},
      {"\"a b c\" d e", {"a b c", "d", "e"}},
      {"\"ab\\\"c\" \"\\\\\" d", {"ab\"c", "\\", "d"}},
      {"a\\\\\\b d\"e f\"g h", {"a\\\\\\b", "de fg", "h"}},
      {"a\\\\\\\"b c d", {"a\\\"b", "c", "d"}},
      {"a\\\\\\\\\"b c\" d e", {"a\\\\b c", "d", "e"}},
      {"a\"b\"\" c d", {"ab\"", "c", "d"}},  // "" inside quotes: a quote, and the group ends
      {"\"\" x", {"", "x"}},
      {"C:\\dir\\ \"open end", {"C:\\dir\\", "open end"}},
      {"a\tb", {"a", "b"}},
  };
  for (const Case& c : cases) EXPECT_EQ(SplitArguments(c.line), c.args) << c.line;
}

TEST(CommandFromLine, ProgramNameAsTheSystemFoundIt) {
  const std::set<std::string> programs = {"C:\\Program Files\\app.exe", "C:\\My Tools\\run me", "C:\\My"};
  auto isProgram = [&](const std::string& name) { return programs.count(name) > 0; };
  struct Case {
    const char* line;
    LaunchCommand command;
  };
  const Case cases[] = {
      {"C:\\Program Files\\app.exe -x \"a b\"", {"C:\\Program Files\\app.exe", {"-x", "a b"}}},
      {"\"C:\\Other Dir\\y.exe\" arg", {"C:\\Other Dir\\y.exe", {"arg"}}},
      {"\"C:\\Other\"Dir\\y.exe arg", {"C:\\OtherDir\\y.exe", {"arg"}}},
      {"  missing.exe a  b ", {"missing.exe", {"a", "b"}}},
      {"C:\\My Tools\\run me", {"C:\\My", {"Tools\\run", "me"}}},  // the shortest name wins
      {"C:\\Program Files\\app.exe caf\xE9", {"C:\\Program Files\\app.exe", {"caf\xC3\xA9"}}},
      {"", {"", {}}},
  };
  for (const Case& c : cases) EXPECT_EQ(CommandFromLine(c.line, isProgram), c.command) << c.line;
}

class LauncherTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() / ("kvlaunch" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir_);
    drives_.Map('C', dir_.string());
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  // A /bin/sh script in the test folder; its stored name is returned.
  std::string Script(const std::string& name, const std::string& body, bool executable = true) {
    std::filesystem::path path = dir_ / name;
    std::ofstream(path) << "#!/bin/sh\n" << body << "\n";
    ::chmod(path.c_str(), executable ? 0755 : 0644);
    return "C:\\" + name;
  }
  std::string Read(const std::string& name) {
    std::ifstream in(dir_ / name);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  bool Exists(const std::string& name) { return std::filesystem::exists(dir_ / name); }
  static bool Reaped(pid_t pid) {
    // A zombie still answers kill(pid, 0); only a reaped process is gone.
    for (auto end = Clock::now() + 5s; Clock::now() < end; std::this_thread::sleep_for(10ms))
      if (::kill(pid, 0) != 0 && errno == ESRCH) return true;
    return false;
  }
  static std::set<std::string> Descriptors(pid_t pid) {
    std::set<std::string> fds;
    std::error_code ec;
    for (auto& e : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd", ec))
      fds.insert(e.path().filename().string());
    return fds;
  }

  std::filesystem::path dir_;
  DriveMap drives_;
  PosixLauncher launcher_{drives_, "/"};
};

TEST_F(LauncherTest, ArgumentsReachTheProgramWithoutAShell) {
  std::filesystem::create_directories(dir_ / "My Tools");
  Script("My Tools/run me", "printf '%s\\n' \"$@\" > \"$(dirname \"$0\")/../args.txt\"");
  LaunchCommand command = launcher_.Command("C:\\my tools\\RUN ME a \"b c\" '$HOME' ;ls *");
  EXPECT_EQ(command.program, "C:\\my tools\\RUN ME");
  LaunchResult started = launcher_.Start(command);
  ASSERT_TRUE(started.program) << started.error;
  EXPECT_EQ(started.program->Resume(), 0);
  EXPECT_TRUE(started.program->Wait(5000));
  EXPECT_EQ(Read("args.txt"), "a\nb c\n'$HOME'\n;ls\n*\n");
}

TEST_F(LauncherTest, StartFailuresGiveTheSystemError) {
  Script("plain.sh", "true", false);
  std::ofstream(dir_ / "noformat") << "\x7f" << "garbage";
  ::chmod((dir_ / "noformat").c_str(), 0755);
  struct Case {
    const char* program;
    int error;
  };
  const Case cases[] = {
      {"C:\\missing", ENOENT},
      {"C:\\nodir\\x", ENOENT},
      {"C:\\plain.sh", EACCES},  // not executable
      {"C:\\", EACCES},          // a folder
      {"no-such-program-kv", ENOENT},
      {"", ENOENT},
  };
  for (const Case& c : cases) {
    LaunchResult r = launcher_.Start({c.program, {}});
    EXPECT_FALSE(r.program) << c.program;
    EXPECT_EQ(r.error, c.error) << c.program;
  }
  // An exec that fails after the start is reported by Resume.
  LaunchResult r = launcher_.Start({"C:\\noformat", {}});
  ASSERT_TRUE(r.program);
  EXPECT_EQ(r.program->Resume(), ENOEXEC);
  EXPECT_TRUE(r.program->Wait(5000));
}

TEST_F(LauncherTest, NoDescriptorOfOursIsInherited) {
  int leaky = ::open("/dev/null", O_RDONLY);  // deliberately without close-on-exec
  int pipeFds[2];
  ASSERT_EQ(::pipe(pipeFds), 0);
  LaunchResult r = launcher_.Start({"sleep", {"5"}});
  ASSERT_TRUE(r.program) << r.error;
  pid_t pid = r.program->Pid();
  EXPECT_EQ(::getpgid(pid), pid);  // its own process group
  ASSERT_EQ(r.program->Resume(), 0);
  std::set<std::string> fds;
  // The program may open and close files of its own while it starts.
  for (auto end = Clock::now() + 3s; Clock::now() < end; std::this_thread::sleep_for(10ms))
    if ((fds = Descriptors(pid)) == std::set<std::string>{"0", "1", "2"}) break;
  EXPECT_EQ(fds, (std::set<std::string>{"0", "1", "2"}));
  EXPECT_EQ(std::filesystem::read_symlink("/proc/" + std::to_string(pid) + "/fd/0"), "/dev/null");
  r.program->Close(2000);
  EXPECT_TRUE(Reaped(pid));
  ::close(leaky);
  ::close(pipeFds[0]);
  ::close(pipeFds[1]);
}

TEST_F(LauncherTest, AStopBeforeResumeNeverRunsTheProgram) {
  std::string script = Script("mark.sh", "touch \"$(dirname \"$0\")/ran\"");
  for (bool viaClose : {true, false}) {
    LaunchResult r = launcher_.Start({script, {}});
    ASSERT_TRUE(r.program);
    pid_t pid = r.program->Pid();
    EXPECT_TRUE(r.program->Running());
    auto begin = Clock::now();
    if (viaClose)
      r.program->Close(3000);
    else
      r.program.reset();
    EXPECT_LT(Clock::now() - begin, 2s) << viaClose;
    EXPECT_TRUE(Reaped(pid)) << viaClose;
  }
  std::this_thread::sleep_for(50ms);
  EXPECT_FALSE(Exists("ran"));
}

TEST_F(LauncherTest, EndedAndAbandonedProgramsAreReaped) {
  LaunchResult quick = launcher_.Start({"true", {}});
  ASSERT_TRUE(quick.program);
  pid_t quickPid = quick.program->Pid();
  ASSERT_EQ(quick.program->Resume(), 0);
  EXPECT_TRUE(quick.program->Wait(5000));
  EXPECT_FALSE(quick.program->Running());
  EXPECT_TRUE(quick.program->Wait(0));
  quick.program.reset();
  EXPECT_TRUE(Reaped(quickPid));

  // Dropped while it still runs: it keeps running and is reaped when it ends.
  LaunchResult slow = launcher_.Start({"sleep", {"0.3"}});
  ASSERT_TRUE(slow.program);
  pid_t slowPid = slow.program->Pid();
  ASSERT_EQ(slow.program->Resume(), 0);
  EXPECT_FALSE(slow.program->Wait(20));
  slow.program.reset();
  EXPECT_EQ(::kill(slowPid, 0), 0);
  EXPECT_TRUE(Reaped(slowPid));
}

TEST_F(LauncherTest, CloseAsksThenKills) {
  LaunchResult polite = launcher_.Start({"sleep", {"30"}});
  ASSERT_TRUE(polite.program);
  ASSERT_EQ(polite.program->Resume(), 0);
  auto begin = Clock::now();
  polite.program->Close(30000);
  EXPECT_LT(Clock::now() - begin, 15s);  // ended by SIGTERM, no need to wait the full time
  EXPECT_TRUE(Reaped(polite.program->Pid()));

  // Ignores SIGTERM, and so does the child it starts in its group.
  std::string stubborn = Script("stubborn.sh",
                                "trap '' TERM\n"
                                "sleep 30 &\n"
                                "echo $! > \"$(dirname \"$0\")/child\"\n"
                                "while :; do sleep 0.05; done");
  LaunchResult r = launcher_.Start({stubborn, {}});
  ASSERT_TRUE(r.program);
  ASSERT_EQ(r.program->Resume(), 0);
  for (auto end = Clock::now() + 5s; Clock::now() < end && Read("child").empty();) std::this_thread::sleep_for(10ms);
  pid_t child = std::stoi(Read("child"));
  begin = Clock::now();
  r.program->Close(300);
  auto took = Clock::now() - begin;
  EXPECT_GE(took, 250ms);  // it waited (the wait's own clock may end a little early)
  EXPECT_LT(took, 15s);  // bounded by the kill after the wait, with room for a loaded machine
  EXPECT_TRUE(Reaped(r.program->Pid()));
  // The whole group was killed; the orphan is reaped by init, not by us.
  bool childGone = false;
  for (auto end = Clock::now() + 5s; !childGone && Clock::now() < end; std::this_thread::sleep_for(10ms)) {
    std::ifstream stat("/proc/" + std::to_string(child) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    childGone = text.empty() || text.find(") Z ") != std::string::npos;
  }
  EXPECT_TRUE(childGone);
}

TEST(RecordingLauncher, RecordsStartsAndStops) {
  RecordingLauncher launcher;
  launcher.programs = {"C:\\Apps\\View Er.exe"};
  LaunchCommand command = launcher.Command("c:\\apps\\view er.exe doc.txt");
  EXPECT_EQ(command, (LaunchCommand{"c:\\apps\\view er.exe", {"doc.txt"}}));
  LaunchResult r = launcher.Start(command);
  ASSERT_TRUE(r.program);
  EXPECT_TRUE(r.program->Running());
  r.program->Resume();
  r.program->Close(3000);
  EXPECT_TRUE(launcher.started(0).resumed);
  EXPECT_EQ(launcher.started(0).closeWaitMs, 3000);
  EXPECT_FALSE(r.program->Running());
  launcher.failNext = ENOENT;
  EXPECT_EQ(launcher.Start(command).error, ENOENT);
  EXPECT_EQ(launcher.startCount(), 1u);
}

TEST(XdgDocumentOpener, DocumentsAndAddresses) {
  auto dir = std::filesystem::temp_directory_path() / ("kvopen" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir / "Docs");
  std::ofstream(dir / "Docs" / "Read Me.TXT") << "x";
  DriveMap drives;
  drives.Map('C', dir.string());
  RecordingLauncher launcher;
  XdgDocumentOpener opener(launcher, drives, dir.string());
  struct Case {
    const char* target;
    LaunchCommand command;
  };
  const Case cases[] = {
      {"http://example.org/a b", {"xdg-open", {"http://example.org/a b"}}},
      {"mailto:x@example.org", {"xdg-open", {"mailto:x@example.org"}}},
      {"svn+ssh://host/x", {"xdg-open", {"svn+ssh://host/x"}}},
      // A scheme is a letter, then letters, digits, "+", "-" or "."; other
      // names before a colon are (missing) files.
      {"no_scheme:x.txt", {}},
      {"1http:x", {}},
      {"C:\\docs\\read me.txt", {"xdg-open", {(dir / "Docs" / "Read Me.TXT").string()}}},
      {"docs\\read me.txt", {"xdg-open", {(dir / "Docs" / "Read Me.TXT").string()}}},
      {"C:\\docs\\missing.txt", {}},
      {"", {}},
  };
  for (const Case& c : cases) EXPECT_EQ(opener.CommandFor(c.target), c.command) << c.target;
  EXPECT_TRUE(opener.Open("C:\\docs\\read me.txt"));
  EXPECT_FALSE(opener.Open("C:\\docs\\missing.txt"));
  ASSERT_EQ(launcher.startCount(), 1u);
  EXPECT_TRUE(launcher.started(0).resumed);
  launcher.failNext = ENOENT;
  EXPECT_FALSE(opener.Open("http://example.org"));
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace kv

namespace kv {
namespace {

// Choices answered from a list, each recorded.
class ListedChoices : public MessageBoxService {
 public:
  explicit ListedChoices(std::vector<int> answers) : answers_(std::move(answers)) {}
  MsgAnswer Show(const std::string&, const std::string&, MsgButtons, MsgIcon) override { return MsgAnswer::Ok; }
  int Choose(const std::string& text, const std::string& title, const std::vector<std::string>& choices) override {
    asked.push_back(title + "|" + text + "|" + std::to_string(choices.size()));
    const int a = next_ < answers_.size() ? answers_[next_] : 1;
    ++next_;
    return a;
  }
  std::vector<std::string> asked;

 private:
  std::vector<int> answers_;
  size_t next_ = 0;
};

struct CloseCase {
  const char* name;
  bool stubborn;  // ignores the polite request
  bool ask;
  std::vector<int> choices;  // 0 terminate, 1 ignore, 2 wait
  bool ended;
  size_t asked;
};

class CloseApplicationTest : public LauncherTest, public ::testing::WithParamInterface<CloseCase> {};

TEST_P(CloseApplicationTest, EndsAsTheUserChooses) {
  const CloseCase& c = GetParam();
  const std::string program = c.stubborn ? Script("stubborn.sh", "trap '' TERM\nwhile :; do sleep 0.05; done")
                                         : Script("polite.sh", "exec sleep 30");
  LaunchResult r = launcher_.Start({program, {}});
  ASSERT_TRUE(r.program);
  ASSERT_EQ(r.program->Resume(), 0);
  std::this_thread::sleep_for(100ms);  // the trap is set
  ListedChoices boxes(c.choices);
  // The same steps with shorter waits.
  const CloseTimes quick{300, 300, 300};
  EXPECT_EQ(CloseApplication(r.program.get(), c.ask, "Still busy", boxes, quick), c.ended) << c.name;
  EXPECT_EQ(boxes.asked.size(), c.asked) << c.name;
  if (!boxes.asked.empty()) {
    EXPECT_EQ(boxes.asked[0], "Terminate Application|Still busy|3");
  }
  EXPECT_EQ(r.program->Running(), !c.ended) << c.name;
  r.program->Close(0);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CloseApplicationTest,
    ::testing::Values(CloseCase{"polite ends on the request", false, true, {}, true, 0},
                      CloseCase{"stubborn killed unasked", true, false, {}, true, 0},
                      CloseCase{"stubborn terminated", true, true, {0}, true, 1},
                      CloseCase{"stubborn ignored", true, true, {1}, false, 1},
                      CloseCase{"stubborn waited for then terminated", true, true, {2, 0}, true, 2}),
    [](const auto& info) {
      std::string n = info.param.name;
      for (char& ch : n)
        if (!isalnum(static_cast<unsigned char>(ch))) ch = '_';
      return n;
    });

TEST(CloseApplication, NothingToCloseIsSuccess) {
  ListedChoices boxes({});
  EXPECT_TRUE(CloseApplication(nullptr, true, "x", boxes));
  EXPECT_TRUE(boxes.asked.empty());
}

}  // namespace
}  // namespace kv
