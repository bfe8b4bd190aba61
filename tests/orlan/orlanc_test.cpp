// The orlanc command line: compile errors as FILE(LINE): message, the
// .ebc it writes, run mode with its host Print, and the exit codes.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

struct Result {
  int status;
  std::string output;  // stdout and stderr together
};

Result RunOrlanc(const std::string& args) {
  std::string cmd = std::string(KV_BINARY_DIR) + "/tools/orlanc/orlanc " + args + " 2>&1";
  FILE* p = popen(cmd.c_str(), "r");
  Result r{-1, {}};
  if (!p) return r;
  char buf[512];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) r.output.append(buf, n);
  int st = pclose(p);
  r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  return r;
}

class Orlanc : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("orlanc_test_" + std::to_string(::getpid()));
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }
  std::string Write(const char* name, const std::string& text) {
    fs::path p = dir_ / name;
    std::ofstream(p, std::ios::binary) << text;
    return p.string();
  }
  fs::path dir_;
};

TEST_F(Orlanc, CompilesAndRunsCodeFiles) {
  std::string src = Write("hello.ebs", "Sub Main()\nPrint \"hello \" & (6 * 7)\nEnd Sub\nSub Greet(name)\nPrint \"hi \" & name\nEnd Sub\n");
  Result c = RunOrlanc("'" + src + "'");
  EXPECT_EQ(c.status, 0) << c.output;
  fs::path ebc = dir_ / "hello.ebc";
  ASSERT_TRUE(fs::exists(ebc));
  std::ifstream in(ebc, std::ios::binary);
  char head[4];
  in.read(head, 4);
  EXPECT_EQ(std::string(head, 4), std::string("BE\x05\x00", 4));
  Result r = RunOrlanc("run '" + ebc.string() + "'");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.output, "hello 42\n");
  r = RunOrlanc("run '" + src + "' --sub Greet Ann");
  EXPECT_EQ(r.output, "hi Ann\n");
}

// Code files are Windows-1252; a UTF-8 file says so by its byte-order mark.
TEST_F(Orlanc, ReadsUtf8FilesByTheirMark) {
  struct Case {
    const char* name;
    std::string head, e;  // the file's first bytes and its spelling of e-acute
    const char* output;
  };
  const Case cases[] = {
      {"utf8.ebs", "\xEF\xBB\xBF", "\xC3\xA9", "1 233\n"},
      {"cp1252.ebs", "", "\xE9", "1 233\n"},
      // Two bytes of a mark are not a mark: the file is Windows-1252 and they are code.
      {"half.ebs", "\xEF\xBB", "\xE9", nullptr},
  };
  for (const Case& c : cases) {
    const std::string src =
        Write(c.name, c.head + "Sub Main()\nPrint Len(\"" + c.e + "\") & \" \" & Asc(\"" + c.e + "\")\nEnd Sub\n");
    const Result r = RunOrlanc("run '" + src + "'");
    if (c.output) {
      EXPECT_EQ(r.status, 0) << c.name << ": " << r.output;
      EXPECT_EQ(r.output, c.output) << c.name;
    } else {
      EXPECT_EQ(r.status, 2) << c.name << ": " << r.output;
    }
  }
}

TEST_F(Orlanc, ReportsEveryCompileError) {
  std::string src = Write("bad.ebs", "Sub Main()\nx = \nGoTo nowhere\nEnd Sub\n");
  Result r = RunOrlanc("'" + src + "' -o '" + (dir_ / "out.ebc").string() + "'");
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.output, src + "(2): Expected: expression\n" + src + "(3): Label not defined: nowhere\n");
  EXPECT_FALSE(fs::exists(dir_ / "out.ebc"));
}

TEST_F(Orlanc, RunTimeErrorsAndUsage) {
  std::string src = Write("err.ebs", "Sub Main()\nPrint \"before\"\nPrint 1 / 0\nEnd Sub\n");
  Result r = RunOrlanc("run '" + src + "'");
  EXPECT_EQ(r.status, 3);
  EXPECT_EQ(r.output, "before\n" + src + "(3): Error 11 (Line 3): Division by zero\n");
  EXPECT_EQ(RunOrlanc("").status, 64);
  EXPECT_EQ(RunOrlanc("--help").status, 0);
  EXPECT_NE(RunOrlanc("--version").output.find("orlanc"), std::string::npos);
  std::string junk = Write("junk.ebc", "BE\x05");
  EXPECT_EQ(RunOrlanc("run '" + junk + "'").output, "orlanc run: " + junk + ": Unknown file type\n");
}

// A file without the subroutine asked for, main by default or the one --sub
// names, is bad input; the message names the subroutine.
TEST_F(Orlanc, MissingSubroutineIsBadInput) {
  std::string src = Write("nomain.ebs", "Sub Other()\nPrint 1\nEnd Sub\n");
  const struct {
    std::string args;
    std::string message;
  } kCases[] = {
      {"", "Subroutine missing: main"},
      {" --sub Missing", "Subroutine missing: Missing"},
  };
  for (const auto& c : kCases) {
    Result r = RunOrlanc("run '" + src + "'" + c.args);
    EXPECT_EQ(r.status, 2) << c.args;
    EXPECT_EQ(r.output, "orlanc run: " + src + ": " + c.message + "\n") << c.args;
  }
  EXPECT_EQ(RunOrlanc("run '" + src + "' --sub").status, 64);
}

// A missing file is status 1 for compiling and running alike; a subroutine
// called without the arguments it requires is a usage error that names it
// and the parameter.
TEST_F(Orlanc, MissingFilesAndArguments) {
  const std::string missing = (dir_ / "none.ebs").string();
  EXPECT_EQ(RunOrlanc("'" + missing + "'").status, 1);
  EXPECT_EQ(RunOrlanc("run '" + missing + "'").status, 1);
  std::string src = Write("args.ebs", "Sub Greet(name, other)\nPrint name & other\nEnd Sub\n");
  Result r = RunOrlanc("run '" + src + "' --sub Greet x");
  EXPECT_EQ(r.status, 64);
  EXPECT_NE(r.output.find("Greet: Argument not optional (calling Greet, parameter other)"), std::string::npos) << r.output;
  EXPECT_EQ(RunOrlanc("run '" + src + "' --sub Greet x y").output, "xy\n");
}

}  // namespace
