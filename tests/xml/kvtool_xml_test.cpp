// kvtool xml check and format, run as the built binary.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace {

namespace fs = std::filesystem;

struct ToolRun {
  int status;
  std::string out;
};

ToolRun RunTool(const std::string& args) {
  std::string command = std::string(KVTOOL_PATH) + " " + args + " 2>/dev/null";
  FILE* pipe = popen(command.c_str(), "r");
  ToolRun run{-1, {}};
  if (!pipe) return run;
  char buffer[4096];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) run.out.append(buffer, n);
  int status = pclose(pipe);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

class KvtoolXml : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::path(KV_BINARY_DIR) / "kvtool_xml_test" / ::testing::UnitTest::GetInstance()->current_test_info()->name();
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  std::string Write(const char* name, const std::string& bytes) {
    fs::path path = dir_ / name;
    std::ofstream(path, std::ios::binary) << bytes;
    return path.string();
  }
  static std::string Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }
  fs::path dir_;
};

TEST_F(KvtoolXml, CheckReportsOkOrTheErrorWithItsPosition) {
  ToolRun ok = RunTool("xml check " + Write("good.xml", "<?xml version=\"1.0\"?>\r\n<a b='1'>x</a>\r\n"));
  EXPECT_EQ(ok.status, 0);
  EXPECT_EQ(ok.out, "ok\n");

  ToolRun bad = RunTool("xml check " + Write("bad.xml", "<a>\n  <b>\n</a>\n"));
  EXPECT_EQ(bad.status, 2);
  EXPECT_EQ(bad.out, "error 12 at line 3, column 3\n");

  ToolRun missing = RunTool("xml check " + (dir_ / "none.xml").string());
  EXPECT_EQ(missing.status, 1);
  EXPECT_EQ(missing.out, "");

  EXPECT_EQ(RunTool("xml check").status, 64);
  EXPECT_EQ(RunTool("xml frobnicate x").status, 64);
}

TEST_F(KvtoolXml, FormatWritesThroughTheWriter) {
  std::string in = Write("in.xml", "<r><a>1</a><b><c>2 &amp; 3</c></b></r>");
  std::string out = (dir_ / "out.xml").string();
  ToolRun run = RunTool("xml format " + in + " -o " + out + " --indent 2");
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(Read(out),
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n\n<r>\n  <a>1</a>\n  <b>\n    <c>2 &amp; 3</c>\n  </b>\n</r>");

  ToolRun to_stdout = RunTool("xml format " + in);
  EXPECT_EQ(to_stdout.status, 0);
  EXPECT_EQ(to_stdout.out,
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n\n<r>\n <a>1</a>\n <b>\n  <c>2 &amp; 3</c>\n </b>\n</r>");

  EXPECT_EQ(RunTool("xml format " + Write("bad.xml", "<r>") + " -o " + out).status, 2);
  EXPECT_EQ(RunTool("xml format " + in + " --indent x").status, 64);
  EXPECT_EQ(RunTool("xml format " + in + " --indent -1").status, 64);
  EXPECT_EQ(RunTool("xml format " + (dir_ / "none.xml").string()).status, 1);
  EXPECT_EQ(RunTool("xml format " + in + " -o " + (dir_ / "no" / "such" / "dir.xml").string()).status, 4);
}

}  // namespace
