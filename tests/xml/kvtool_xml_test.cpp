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

// Captures standard output, or standard error alone when `errors`.
ToolRun RunTool(const std::string& args, bool errors = false) {
  std::string command = std::string(KVTOOL_PATH) + " " + args + (errors ? " 2>&1 >/dev/null" : " 2>/dev/null");
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
  EXPECT_EQ(bad.out, "error 12 (mismatched end tag) at line 3, column 3\n");

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
  EXPECT_EQ(RunTool("xml format " + in + " -o " + (dir_ / "no" / "such" / "dir.xml").string()).status, 3);
}

// The writer leaves out elements without text; the tool says how many, and a
// dropped root is a failed format, not an empty success.
TEST_F(KvtoolXml, FormatWarnsOfElementsItCouldNotWrite) {
  struct Case {
    const char* xml;
    int status;
    const char* warning;  // expected on standard error, "" for none
  };
  const Case cases[] = {
      {"<r><a>1</a></r>", 0, ""},
      {"<r><a/><b>t</b></r>", 0, "1 element without text was not written"},
      {"<r><a><c/></a><b>t</b><d/></r>", 0, "3 elements without text were not written"},
      {"<r><a/></r>", 3, "2 elements without text were not written"},
      {"<r x='1'/>", 3, "1 element without text was not written"},
  };
  for (const Case& c : cases) {
    ToolRun run = RunTool("xml format " + Write("w.xml", c.xml), true);
    EXPECT_EQ(run.status, c.status) << c.xml;
    if (*c.warning) {
      EXPECT_NE(run.out.find(c.warning), std::string::npos) << c.xml << ": " << run.out;
      EXPECT_EQ(run.out.rfind("kvtool xml: ", 0), 0u) << run.out;
    } else {
      EXPECT_EQ(run.out, "") << c.xml;
    }
    EXPECT_EQ(run.out.find("root element was dropped") != std::string::npos, c.status == 3) << c.xml;
  }
}

}  // namespace
