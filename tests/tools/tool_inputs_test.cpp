// Every tool, run as the built binary on inputs a new user may give it: a
// folder, a missing file, an empty one, random bytes and a valid file cut
// short. None may die of a signal; each failure is one status of the shared
// list and a message that starts with the tool's name.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <set>
#include <string>

namespace kv {
namespace {

namespace fs = std::filesystem;

struct ToolRun {
  bool exited = false;
  int status = -1;
  std::string errors;  // standard error
};

// Captures standard error, or both streams when `output`.
ToolRun Execute(const std::string& command, bool output = false) {
  ToolRun r;
  FILE* pipe = popen((command + (output ? " 2>&1" : " 2>&1 >/dev/null") + " </dev/null").c_str(), "r");
  if (!pipe) return r;
  char buffer[4096];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) r.errors.append(buffer, n);
  const int st = pclose(pipe);
  r.exited = WIFEXITED(st);
  r.status = r.exited ? WEXITSTATUS(st) : -1;
  return r;
}

std::string Quote(const fs::path& p) { return "'" + p.string() + "'"; }

void WriteFile(const fs::path& p, const std::string& bytes) { std::ofstream(p, std::ios::binary) << bytes; }

std::string ReadFile(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

const std::string kKvtool = KVTOOL_PATH;
const std::string kOrlanc = ORLANC_PATH;

// One way of calling a tool on an input; `ext` is the name the input is given.
struct Use {
  const char* name;
  std::string tool;  // the message prefix
  std::string command;  // with {IN} and {OUT}
  const char* ext;
  const char* verdict = nullptr;  // how a failure's verdict on standard output starts
};

class ToolInputs : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("kv_tool_inputs_" + std::to_string(::getpid()));
    fs::remove_all(dir_);
    fs::create_directories(dir_ / "folder.in");
    fs::create_directories(dir_ / "pack");
    WriteFile(dir_ / "pack" / "a.txt", std::string(3000, 'a'));
    // Valid files of each kind, to be cut short.
    ASSERT_EQ(Execute(kKvtool + " pack-kvg " + Quote(dir_ / "pack") + " -o " + Quote(dir_ / "valid.kvg") +
                      " --method lzhuf")
                  .status,
              0);
    ASSERT_EQ(Execute(kKvtool + " pack " + Quote(fs::path(KV_SOURCE_DIR) / "tests/tools/fixtures/label.json") +
                      " -o " + Quote(dir_ / "valid.kvs"))
                  .status,
              0);
    WriteFile(dir_ / "valid.ebs", "Sub Main()\nPrint \"x\"\nEnd Sub\n");
    ASSERT_EQ(Execute(kOrlanc + " " + Quote(dir_ / "valid.ebs") + " -o " + Quote(dir_ / "valid.ebc")).status, 0);
    WriteFile(dir_ / "valid.xml", "<?xml version=\"1.0\"?>\n<r><a>1</a><b>2</b></r>\n");
    WriteFile(dir_ / "valid.json", R"({"width": 4, "height": 4, "sprites": [{"rect": [0, 0, 2, 2]}]})");
  }
  void TearDown() override { fs::remove_all(dir_); }

  // Writes `bytes` as the input for `use`; the path to give it.
  fs::path Input(const std::string& label, const Use& use, const std::string& bytes) {
    fs::path p = dir_ / (label + use.ext);
    WriteFile(p, bytes);
    return p;
  }

  static std::string Command(const Use& use, const fs::path& in, const fs::path& out) {
    std::string c = use.command;
    c.replace(c.find("{IN}"), 4, Quote(in));
    if (size_t at = c.find("{OUT}"); at != std::string::npos) c.replace(at, 5, Quote(out));
    return c;
  }

  // The tool ended by itself with one of `allowed`, and a failure says so in
  // a line that starts with the tool's name (or, for compile errors, the
  // source's own FILE(LINE) form).
  void Expect(const Use& use, const std::string& label, const fs::path& in, std::set<int> allowed) {
    const ToolRun r = Execute(Command(use, in, dir_ / "out"), use.verdict != nullptr);
    const std::string what = std::string(use.name) + " on " + label;
    ASSERT_TRUE(r.exited) << what << " died of a signal: " << r.errors;
    EXPECT_TRUE(allowed.count(r.status)) << what << " exited " << r.status << ": " << r.errors;
    if (r.status == 0) return;
    const bool named = r.errors.rfind(use.tool + ":", 0) == 0 || r.errors.rfind(use.tool + " ", 0) == 0 ||
                       (use.verdict && r.errors.rfind(use.verdict, 0) == 0);
    const bool diagnostic = r.errors.rfind(in.string() + "(", 0) == 0;
    EXPECT_TRUE(named || diagnostic) << what << ": " << r.errors;
    EXPECT_EQ(r.errors.find("terminate called"), std::string::npos) << what;
  }

  fs::path dir_;
};

const Use kUses[] = {
    {"dump", "kvtool dump", kKvtool + " dump {IN}", ".kvs"},
    {"dump kvg", "kvtool dump", kKvtool + " dump {IN}", ".kvg"},
    {"pack", "kvtool pack", kKvtool + " pack {IN} -o {OUT}", ".json"},
    {"ls", "kvtool ls", kKvtool + " ls {IN}", ".kvg"},
    {"extract", "kvtool extract", kKvtool + " extract {IN} -o {OUT}", ".kvg"},
    {"compose", "kvtool compose", kKvtool + " compose {IN} -o {OUT}", ".json"},
    {"xml check", "kvtool xml", kKvtool + " xml check {IN}", ".xml", "error "},
    {"xml format", "kvtool xml", kKvtool + " xml format {IN} -o {OUT}", ".xml"},
    {"orlanc", "orlanc", kOrlanc + " {IN} -o {OUT}", ".ebs"},
    {"orlanc run", "orlanc run", kOrlanc + " run {IN}", ".ebs"},
    {"orlanc run ebc", "orlanc run", kOrlanc + " run {IN}", ".ebc"},
};

TEST_F(ToolInputs, FoldersAndMissingFilesAreUnreadable) {
  for (const Use& use : kUses) {
    const fs::path folder = dir_ / (std::string("folder") + use.ext);
    fs::create_directories(folder);
    Expect(use, "a folder", folder, {1});
    Expect(use, "a missing file", dir_ / (std::string("missing") + use.ext), {1});
  }
}

TEST_F(ToolInputs, EmptyFilesAreCorruptOrHarmless) {
  for (const Use& use : kUses) {
    // An empty source is an empty program: it compiles, and has no main to run.
    std::set<int> allowed = {2};
    if (std::string(use.name) == "orlanc") allowed = {0};
    Expect(use, "an empty file", Input("empty", use, ""), allowed);
  }
}

TEST_F(ToolInputs, RandomBytesAreCorrupt) {
  std::mt19937 random(20261209);
  for (int round = 0; round < 8; ++round) {
    std::string bytes(size_t(random() % 2000 + 1), '\0');
    for (char& c : bytes) c = char(random());
    for (const Use& use : kUses) {
      std::set<int> allowed = {2};
      // Random text can still hold a source whose run fails.
      if (std::string(use.name) == "orlanc run") allowed = {2, 3, 64};
      Expect(use, "random bytes " + std::to_string(round), Input("random", use, bytes), allowed);
    }
  }
}

TEST_F(ToolInputs, TruncatedFilesAreCorrupt) {
  struct Cut {
    const char* use;
    const char* valid;
    std::set<int> allowed;
  };
  const Cut cuts[] = {
      {"dump", "valid.kvs", {2}},
      {"dump kvg", "valid.kvg", {2}},
      {"ls", "valid.kvg", {2}},
      {"extract", "valid.kvg", {2}},
      {"compose", "valid.json", {2}},
      {"xml check", "valid.xml", {2}},
      {"xml format", "valid.xml", {2}},
      {"orlanc", "valid.ebs", {2}},
      {"orlanc run ebc", "valid.ebc", {2}},
  };
  for (const Cut& cut : cuts) {
    const Use* use = nullptr;
    for (const Use& u : kUses)
      if (std::string(u.name) == cut.use) use = &u;
    ASSERT_NE(use, nullptr) << cut.use;
    const std::string valid = ReadFile(dir_ / cut.valid);
    ASSERT_GT(valid.size(), 8u) << cut.valid;
    for (size_t keep : {size_t(1), valid.size() / 3, valid.size() / 2, valid.size() - 3})
      Expect(*use, std::string(cut.valid) + " cut to " + std::to_string(keep),
             Input("cut", *use, valid.substr(0, keep)), cut.allowed);
  }
}

}  // namespace
}  // namespace kv
