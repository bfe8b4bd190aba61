// The saver list read for a run and edited by the dialog's model. The
// expected bytes are written by hand from the list's layout: the declaration
// line, an empty line, one element per line indented one space per level
// below the root, a leaf's text and end tag on its start tag's line, and CR
// LF after the root's end tag.
#include "saver/saver_list.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <unistd.h>

namespace kv::saver {
namespace {

namespace fs = std::filesystem;

constexpr char kOneProject[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "\n<savers>"
    "\n <selected>"
    "\n  <name>demo</name>"
    "\n </selected>"
    "\n <project name=\"demo\">"
    "\n  <path>/home/u/demo.kvp</path>"
    "\n  <interactive>no</interactive>"
    "\n  <sound>high</sound>"
    "\n  <directdraw>no</directdraw>"
    "\n  <modeswitch>default</modeswitch>"
    "\n </project>"
    "\n</savers>\r\n";

constexpr char kNoneSelectedOnly[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "\n<savers>"
    "\n <selected>"
    "\n  <name>None Selected</name>"
    "\n </selected>"
    "\n</savers>";

// A list of projects a, b and c (in that order) with `selected` and the
// given element text for b.
std::string ThreeProjects(const std::string& selected, const std::string& bInteractive = "no",
                          const std::string& bSound = "high", const std::string& bMode = "default",
                          const std::string& aName = "a") {
  std::string s = "<?xml version=\"1.0\"?>\r\n<savers>\r\n <selected><name>" + selected + "</name></selected>\r\n";
  auto project = [&](const std::string& name, const std::string& interactive, const std::string& sound,
                     const std::string& mode) {
    s += " <project name=\"" + name + "\">\r\n  <path>/p/" + (name.empty() ? "x" : name) + ".kvp</path>\r\n"
         "  <interactive>" + interactive + "</interactive>\r\n  <sound>" + sound + "</sound>\r\n"
         "  <directdraw>yes</directdraw>\r\n  <modeswitch>" + mode + "</modeswitch>\r\n </project>\r\n";
  };
  project(aName, "yes", "low", "none");
  project("b", bInteractive, bSound, bMode);
  project("c", "no", "high", "full");
  return s + "</savers>\r\n";
}

class TempDir : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("kv_saver_" + std::to_string(::getpid()) + "_" +
                                        ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }
  fs::path Write(const std::string& name, const std::string& bytes) {
    std::ofstream(dir_ / name, std::ios::binary) << bytes;
    return dir_ / name;
  }
  static std::string Read(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
  }
  fs::path dir_;
};

struct RunCase {
  const char* what;
  std::string list;
  ReadOutcome outcome;
  std::string path;
  int interactive;
  uint8_t sound;
  int mode;
};

TEST(SaverRun, ReadsTheSelectedProjectsOptions) {
  const RunCase cases[] = {
      {"written by the dialog", kOneProject, ReadOutcome::kFound, "/home/u/demo.kvp", 0, 1, 0},
      {"first of three", ThreeProjects("a"), ReadOutcome::kFound, "/p/a.kvp", 1, 0, 1},
      {"name without regard to case", ThreeProjects("B"), ReadOutcome::kFound, "/p/b.kvp", 0, 1, 0},
      {"values compared exactly", ThreeProjects("b", "Yes", "HIGH", "FLIP"), ReadOutcome::kFound, "/p/b.kvp", 0, 0,
       0},
      {"flip", ThreeProjects("b", "yes", "high", "flip"), ReadOutcome::kFound, "/p/b.kvp", 1, 1, 3},
      {"unknown mode text", ThreeProjects("c", "no", "high", "x"), ReadOutcome::kFound, "/p/c.kvp", 0, 1, 2},
      {"none selected", ThreeProjects("None Selected"), ReadOutcome::kNotSelected, "", 0, 0, 0},
      {"selected names nothing", ThreeProjects("zz"), ReadOutcome::kNotSelected, "", 0, 0, 0},
      {"no selected element", "<savers><project name=\"a\"><path>p</path></project></savers>",
       ReadOutcome::kNotSelected, "", 0, 0, 0},
      {"an empty name ends the list", ThreeProjects("b", "no", "high", "default", ""), ReadOutcome::kNotSelected, "",
       0, 0, 0},
      {"malformed", "<savers><selected><name>a</name></savers>", ReadOutcome::kMalformed, "", 0, 0, 0},
      {"empty file", "", ReadOutcome::kMalformed, "", 0, 0, 0},
      {"a NUL byte ends the input", std::string("<savers/>\0<x", 12), ReadOutcome::kNotSelected, "", 0, 0, 0},
  };
  for (const RunCase& c : cases) {
    SCOPED_TRACE(c.what);
    SaverRunSettings s;
    ASSERT_EQ(ReadSaverConfigurationFrom(c.list, s), c.outcome);
    if (c.outcome != ReadOutcome::kFound) continue;
    EXPECT_EQ(s.projectPath, c.path);
    EXPECT_EQ(s.interactive, c.interactive);
    EXPECT_EQ(s.saverOption, c.sound);
    EXPECT_EQ(s.modeSwitch, c.mode);
  }
}

TEST(SaverRun, TenThousandProjectsAreReadInLinearTime) {
  std::string list = "<savers><selected><name>p9999</name></selected>";
  for (int i = 0; i < 10000; ++i)
    list += "<project name=\"p" + std::to_string(i) + "\"><path>/x/p" + std::to_string(i) +
            ".kvp</path><modeswitch>full</modeswitch></project>";
  list += "</savers>";
  SaverRunSettings s;
  const auto start = std::chrono::steady_clock::now();
  ASSERT_EQ(ReadSaverConfigurationFrom(list, s), ReadOutcome::kFound);
  EXPECT_EQ(s.projectPath, "/x/p9999.kvp");
  SaverConfig config;
  const auto loaded = config.LoadBytes(list);
  EXPECT_EQ(loaded.names.size(), 10000u);
  EXPECT_EQ(loaded.selected, 9999);
  EXPECT_EQ(loaded.status, "(10000) Screen saver projects installed.");
  // A quadratic walk takes tens of seconds here; a linear one milliseconds.
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

TEST(SaverModes, IndexTextCaptionAndOverride) {
  struct Case {
    std::string_view text;
    int index;
    std::string_view caption;
    std::optional<uint8_t> stageMode;
  } const cases[] = {
      {"default", 0, "&Use the original project settings ", std::nullopt},
      {"none", 1, "&None, disable mode switching ", 0},
      {"full", 2, "&Run full screen at the same color depth ", 1},
      {"flip", 3, "&Full screen exclusive with DirectDraw page flipping", 2},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ModeSwitchIndexOf(c.text), c.index);
    EXPECT_EQ(ModeSwitchText(c.index), c.text);
    EXPECT_EQ(ModeSwitchCaption(c.index), c.caption);
    EXPECT_EQ(StageModeOverride(c.index), c.stageMode);
    EXPECT_EQ(ForcesPresentationOption(c.index), c.index == 3);
  }
  EXPECT_EQ(ModeSwitchText(-1), "default");
  EXPECT_EQ(ModeSwitchIndexOf("Full"), 0);
}

TEST(SaverNames, ProjectNameOfAPath) {
  const std::pair<std::string, std::string> cases[] = {
      {"/home/u/Demo.kvp", "Demo"}, {"C:\\Games\\tour.KVG", "tour"}, {"plain", "plain"},
      {"/a.b/c.d.kvp", "c.d"},      {"/x/", ""},
  };
  for (const auto& [path, name] : cases) EXPECT_EQ(ProjectNameOf(path), name) << path;
  EXPECT_TRUE(SameName("Demo", "dEMO"));
  EXPECT_FALSE(SameName("Demo", "Demo2"));
}

using SaverFile = TempDir;

TEST_F(SaverFile, RunOutcomesOfFiles) {
  SaverRunSettings s;
  EXPECT_EQ(ReadSaverConfiguration(dir_ / "missing.xml", s), ReadOutcome::kNoFile);
  EXPECT_EQ(ReadSaverConfiguration(dir_, s), ReadOutcome::kNoFile);
  EXPECT_EQ(ReadSaverConfiguration(Write("ok.xml", kOneProject), s), ReadOutcome::kFound);
  // Past the bound the list is not read at all (a sparse file: no disk used).
  const fs::path huge = Write("huge.xml", kOneProject);
  fs::resize_file(huge, kMaxListBytes + 1);
  EXPECT_EQ(ReadSaverConfiguration(huge, s), ReadOutcome::kUnreadable);
  SaverConfig config;
  EXPECT_EQ(config.Load(huge).outcome, SaverConfig::LoadOutcome::kCannotAccess);
  EXPECT_EQ(s.projectPath, "/home/u/demo.kvp");
  EXPECT_NE(ReadOutcomeText(ReadOutcome::kNotSelected, "/l.xml").find("selects no installed project"),
            std::string::npos);
}

TEST_F(SaverFile, FirstOpeningCreatesAListWithNothingSelected) {
  SaverConfig config;
  const auto r = config.Load(dir_ / "korvel" / "savers.xml");
  EXPECT_EQ(r.outcome, SaverConfig::LoadOutcome::kCreated);
  EXPECT_TRUE(r.names.empty());
  EXPECT_EQ(Read(dir_ / "korvel" / "savers.xml"), kNoneSelectedOnly);
  EXPECT_EQ(config.currentName, "None Selected");
  EXPECT_FALSE(config.modified);
}

TEST_F(SaverFile, ListThatCannotBeCreatedOrAccessed) {
  Write("plain", "x");
  SaverConfig config;
  auto r = config.Load(dir_ / "plain" / "savers.xml");
  EXPECT_EQ(r.outcome, SaverConfig::LoadOutcome::kCannotCreate);
  EXPECT_EQ(r.status, "Unable to open Screen Saver data file");
  fs::create_directories(dir_ / "folder.xml");
  r = config.Load(dir_ / "folder.xml");
  EXPECT_EQ(r.outcome, SaverConfig::LoadOutcome::kCannotAccess);
}

TEST(SaverDialog, LoadSelectsAndShows) {
  struct Case {
    const char* what;
    std::string list;
    std::vector<std::string> names;
    int selected;
    std::string current;
    std::string status;
  } const cases[] = {
      {"None Selected picks the first", ThreeProjects("None Selected"), {"a", "b", "c"}, 0, "a",
       "(3) Screen saver projects installed."},
      {"the selected one", ThreeProjects("C"), {"a", "b", "c"}, 2, "c", "(3) Screen saver projects installed."},
      {"a name that is not listed", ThreeProjects("q"), {"a", "b", "c"}, -1, "q",
       "(3) Screen saver projects installed."},
      {"an empty name hides the rest", ThreeProjects("c", "no", "high", "default", ""), {}, -1, "c", ""},
      {"syntax error", "<savers>\n<selected>\n</savers>", {}, -1, "",
       "Config file xml syntax error near line(3). Any changes will replace the bad file."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    SaverConfig config;
    const auto r = config.LoadBytes(c.list);
    EXPECT_EQ(r.names, c.names);
    EXPECT_EQ(r.selected, c.selected);
    EXPECT_EQ(config.currentName, c.current);
    EXPECT_EQ(r.status, c.status);
  }
  SaverConfig config;
  config.LoadBytes(ThreeProjects("a"));
  EXPECT_EQ(config.options.path, "/p/a.kvp");
  EXPECT_TRUE(config.options.interactive);
  EXPECT_FALSE(config.options.highQualitySound);
  EXPECT_TRUE(config.options.directDraw);
  EXPECT_EQ(config.options.modeSwitch, 1);
}

TEST(SaverDialog, SyntaxErrorKeepsAFreshDocumentThatReplacesTheFile) {
  SaverConfig config;
  config.LoadBytes("<savers><project name='a'>");
  EXPECT_EQ(config.Install("/home/u/demo.kvp"), "demo");
  // The document has no "selected" yet: the new project comes first.
  const std::string bytes = config.Bytes();
  EXPECT_LT(bytes.find("<project"), bytes.find("<selected"));
  SaverRunSettings s;
  ASSERT_EQ(ReadSaverConfigurationFrom(bytes, s), ReadOutcome::kFound);
  EXPECT_EQ(s.projectPath, "/home/u/demo.kvp");
}

TEST(SaverDialog, AnEmptyListIsWrittenReadably) {
  SaverConfig config;
  config.LoadBytes("<savers>\n<selected>\n</savers>");
  EXPECT_EQ(config.Bytes(), std::string(kNoneSelectedOnly) + "\r\n");
}

TEST(SaverDialog, InstallIntoAnEmptyListWritesTheLayout) {
  SaverConfig config;
  config.LoadBytes(kNoneSelectedOnly);
  ASSERT_EQ(config.Install("/home/u/demo.kvp"), "demo");
  EXPECT_TRUE(config.modified);
  EXPECT_EQ(config.currentName, "demo");
  EXPECT_EQ(config.options.path, "/home/u/demo.kvp");
  EXPECT_TRUE(config.options.highQualitySound);
  EXPECT_EQ(config.options.modeSwitch, 0);
  EXPECT_EQ(config.Bytes(), kOneProject);
}

TEST(SaverDialog, InstallingAListedPathChangesNothingButTheFlag) {
  SaverConfig config;
  config.LoadBytes(kOneProject);
  EXPECT_FALSE(config.modified);
  EXPECT_EQ(config.Install("/HOME/u/Demo.KVP"), std::nullopt);
  EXPECT_TRUE(config.modified);
  EXPECT_EQ(config.Bytes(), kOneProject);
}

TEST(SaverDialog, RemovingTheOnlyProjectLeavesNoneSelected) {
  SaverConfig config;
  config.LoadBytes(kOneProject);
  ASSERT_TRUE(config.Remove());
  EXPECT_EQ(config.currentName, "None Selected");
  EXPECT_EQ(config.Bytes(), std::string(kNoneSelectedOnly) + "\r\n");
}

TEST(SaverDialog, RemovedSlotIsTakenByTheNextInstall) {
  SaverConfig config;
  config.LoadBytes(kNoneSelectedOnly);
  config.Install("/p/one.kvp");
  config.Install("/p/two.kvp");
  config.currentName = "ONE";
  ASSERT_TRUE(config.Remove());
  // Until the list is written the emptied slot ends it: two is hidden.
  SaverRunSettings s;
  EXPECT_EQ(ReadSaverConfigurationFrom(config.Bytes(), s), ReadOutcome::kNotSelected);
  ASSERT_EQ(config.Install("/p/three.kvp"), "three");
  const std::string bytes = config.Bytes();
  EXPECT_LT(bytes.find("name=\"three\""), bytes.find("name=\"two\""));
  SaverConfig again;
  EXPECT_EQ(again.LoadBytes(bytes).names, (std::vector<std::string>{"three", "two"}));
}

TEST(SaverDialog, StoreSettingsWritesEveryOptionAndSelects) {
  SaverConfig config;
  config.LoadBytes(ThreeProjects("a"));
  config.currentName = "B";
  ASSERT_TRUE(config.ShowSettings());
  config.options = {"/q/b.kvp", true, false, true, 3};
  config.StoreSettings();
  EXPECT_TRUE(config.modified);
  SaverRunSettings s;
  ASSERT_EQ(ReadSaverConfigurationFrom(config.Bytes(), s), ReadOutcome::kFound);
  EXPECT_EQ(s.projectPath, "/q/b.kvp");
  EXPECT_EQ(s.interactive, 1);
  EXPECT_EQ(s.saverOption, 0);
  EXPECT_EQ(s.modeSwitch, 3);
  EXPECT_NE(config.Bytes().find("<project name=\"b\">"), std::string::npos);
  // No radio button checked writes "default".
  config.options.modeSwitch = -1;
  config.StoreSettings();
  ASSERT_EQ(ReadSaverConfigurationFrom(config.Bytes(), s), ReadOutcome::kFound);
  EXPECT_EQ(s.modeSwitch, 0);
}

TEST(SaverDialog, EditingThePathRenamesTheProject) {
  SaverConfig config;
  config.LoadBytes(kOneProject);
  EXPECT_EQ(config.EditPath("/home/u/DEMO.kvp"), std::nullopt);  // same name, another case
  EXPECT_FALSE(config.modified);
  EXPECT_EQ(config.EditPath("/elsewhere/tour.kvg"), "demo");
  EXPECT_TRUE(config.modified);
  EXPECT_EQ(config.currentName, "tour");
  SaverRunSettings s;
  ASSERT_EQ(ReadSaverConfigurationFrom(config.Bytes(), s), ReadOutcome::kFound);
  EXPECT_EQ(s.projectPath, "/elsewhere/tour.kvg");
  config.currentName = "gone";
  EXPECT_EQ(config.EditPath("/x/y.kvp"), std::nullopt);
}

TEST(SaverDialog, ShowingAnUnknownNameChangesNothing) {
  SaverConfig config;
  config.LoadBytes(ThreeProjects("a"));
  config.currentName = "zz";
  EXPECT_FALSE(config.ShowSettings());
  EXPECT_EQ(config.options.path, "/p/a.kvp");
  EXPECT_FALSE(config.Remove());
}

TEST_F(SaverFile, SaveWritesCrLfAfterTheDocumentAndPictureFollowsThePath) {
  SaverConfig config;
  config.LoadBytes(kNoneSelectedOnly);
  config.Install((dir_ / "show.kvp").string());
  ASSERT_TRUE(config.Save(dir_ / "list.xml"));
  EXPECT_EQ(Read(dir_ / "list.xml"), config.Bytes());
  EXPECT_EQ(config.PicturePath(), (dir_ / "show.JPG").string());
  Write("show.jpg", "x");
  EXPECT_EQ(config.PicturePath(), (dir_ / "show.jpg").string());
}

}  // namespace
}  // namespace kv::saver
