#include "persist/project_tree.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <unistd.h>

#include "persist/document.h"
#include "persist/hooks.h"
#include "persist/project_session.h"
#include "platform/message_box.h"

namespace kv {
namespace {

class FakeEngine : public PlayState {
 public:
  bool playing = true;
  int lastError = 0;
  int aborts = 0;
  bool IsPlaying() override { return playing; }
  void SetLastError(int code) override { lastError = code; }
  void AbortProject() override { ++aborts; }
};

class FakeLocator : public ResourceResolver {
 public:
  std::optional<std::string> FindCachedName(const std::string& local) override {
    if (local == "glm0001.tmp") return std::string("http://host/dir/Menu.KVS");
    return std::nullopt;
  }
};

std::shared_ptr<CProjNode> Node(const char* path, int kind, int level, const char* orlan = "") {
  auto n = std::make_shared<CProjNode>();
  n->path = path;
  n->kind = static_cast<uint8_t>(kind);
  n->level = static_cast<uint16_t>(level);
  n->orlanFile = orlan;
  n->description = std::string("about ") + path;
  return n;
}

// The sample tree, in list order:
//   0 proj.kvp     level 0  project
//   1 intro.kvs    level 1  scene
//   2 part1.kvs    level 2  scene
//   3 free.kvs     level 2  freestyle
//   4 back.kvs     level 1  background
//   5 menu.kvs     level 1  scene      (its tree path names another folder)
//   6 deep.kvs     level 2  scene
//   7 deeper.kvs   level 3  scene
//   8 last.kvs     level 1  scene
class ProjectTreeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    RegisterPersistClasses();
    auto doc = std::make_shared<CStgDoc>();
    doc->isProject = 1;
    doc->projectTree = {Node("proj.kvp", kNodeProject, 0, "proj.ebc"),
                        Node("intro.kvs", kNodeScene, 1),
                        Node("part1.kvs", kNodeScene, 2),
                        Node("free.kvs", kNodeFreestyle, 2),
                        Node("back.kvs", kNodeBackground, 1),
                        Node("C:\\elsewhere\\Menu.kvs", kNodeScene, 1, "menu.ebc"),
                        Node("deep.kvs", kNodeScene, 2),
                        Node("deeper.kvs", kNodeScene, 3),
                        Node("last.kvs", kNodeScene, 1)};
    session_.project = doc;
    session_.standbysPath = "C:\\proj\\proj.kvb";
    SetMessageBoxes(&box_);
  }
  void TearDown() override { SetMessageBoxes(nullptr); }
  FakeEngine engine_;
  FakeLocator locator_;
  ProjectSession session_{locator_, engine_};
  ScriptedMessageBox box_;
};

std::string PathOr(const std::optional<std::string>& p) { return p ? *p : "(none)"; }
std::string PathOf(const std::shared_ptr<CProjNode>& n) { return n ? n->path : "(none)"; }

TEST_F(ProjectTreeTest, SiblingMode) {
  struct Case {
    const char* name;
    const char* next;
    const char* prior;
    const char* parent;
    const char* firstChild;
  } cases[] = {
      {"intro.kvs", "back.kvs", "(none)", "(none)", "part1.kvs"},  // parent at level 0 is none
      {"part1.kvs", "free.kvs", "(none)", "intro.kvs", "(none)"},
      {"free.kvs", "(none)", "part1.kvs", "intro.kvs", "(none)"},
      {"deep.kvs", "(none)", "(none)", "C:\\elsewhere\\Menu.kvs", "deeper.kvs"},
      {"last.kvs", "(none)", "C:\\elsewhere\\Menu.kvs", "(none)", "(none)"},
      {"proj.kvp", "(none)", "(none)", "(none)", "intro.kvs"},  // the root: no parent, no prior
  };
  for (const Case& c : cases) {
    TreeNeighbours r = GetTreeNeighbours(session_, c.name, false, false);
    EXPECT_TRUE(r.found) << c.name;
    EXPECT_EQ(PathOf(r.next), c.next) << c.name;
    EXPECT_EQ(PathOf(r.prior), c.prior) << c.name;
    EXPECT_EQ(PathOf(r.parent), c.parent) << c.name;
    EXPECT_EQ(PathOf(r.firstChild), c.firstChild) << c.name;
  }
}

TEST_F(ProjectTreeTest, SceneMode) {
  EXPECT_EQ(PathOr(GetNextScene(session_, "intro.kvs")), "part1.kvs");
  EXPECT_EQ(PathOr(GetNextScene(session_, "free.kvs")), "C:\\elsewhere\\Menu.kvs");  // the background is skipped
  EXPECT_EQ(PathOr(GetNextScene(session_, "last.kvs")), "(none)");
  EXPECT_EQ(PathOr(GetPriorScene(session_, "back.kvs", false)), "part1.kvs");
  EXPECT_EQ(PathOr(GetPriorScene(session_, "intro.kvs", false)), "(none)");
}

TEST_F(ProjectTreeTest, PriorSceneAmongSiblings) {
  // last.kvs's prior sibling Menu.kvs is a scene with the same (no) parent.
  EXPECT_EQ(PathOr(GetPriorScene(session_, "last.kvs", true)), "C:\\elsewhere\\Menu.kvs");
  // menu.kvs's prior sibling is the background: not a scene.
  EXPECT_EQ(PathOr(GetPriorScene(session_, "menu.kvs", true)), "(none)");
}

TEST_F(ProjectTreeTest, DerivedQueries) {
  EXPECT_EQ(PathOr(GetNextSibling(session_, "intro.kvs")), "back.kvs");
  EXPECT_EQ(PathOr(GetParentNode(session_, "deeper.kvs")), "deep.kvs");
  std::shared_ptr<CProjNode> node;
  EXPECT_EQ(PathOr(GetFirstChild(session_, "MENU.KVS", &node)), "deep.kvs");
  EXPECT_EQ(PathOf(node), "C:\\elsewhere\\Menu.kvs");
  EXPECT_EQ(PathOr(GetNodeDescription(session_, "deep.kvs")), "about deep.kvs");
  EXPECT_EQ(GetNodeKind(session_, "back.kvs"), kNodeBackground);
  EXPECT_EQ(GetNodeKind(session_, "nowhere.kvs"), kNodeNotInProject);
}

TEST_F(ProjectTreeTest, FoundByFileNameAndThroughTheCache) {
  EXPECT_EQ(PathOf(FindTreeNode(session_, "D:\\any\\dir\\menu.kvs")), "C:\\elsewhere\\Menu.kvs");
  EXPECT_EQ(PathOf(FindTreeNode(session_, "glm0001.tmp")), "C:\\elsewhere\\Menu.kvs");
  EXPECT_EQ(FindTreeNode(session_, "menu"), nullptr);
}

TEST_F(ProjectTreeTest, LaterMatchReplacesEarlier) {
  // A second node of the same file name. In scene mode nothing ends the query,
  // so the walk resumes after the first match's forward walk and the later
  // match's neighbours replace the earlier ones.
  auto& tree = session_.project->projectTree;
  tree.push_back(Node("again.kvs", kNodeScene, 2));
  tree.insert(tree.begin() + 2, Node("again.kvs", kNodeScene, 2));
  // Now: proj intro again part1 free back menu deep deeper last again
  TreeNeighbours scene = GetTreeNeighbours(session_, "again.kvs", true, false);
  EXPECT_EQ(scene.node, tree.back());
  EXPECT_EQ(PathOf(scene.prior), "last.kvs");
  EXPECT_EQ(PathOf(scene.next), "(none)");
  // In sibling mode the first match's backward walk meets its parent and the
  // query ends there.
  TreeNeighbours sibling = GetTreeNeighbours(session_, "again.kvs", false, false);
  EXPECT_EQ(sibling.node, tree[2]);
  EXPECT_EQ(PathOf(sibling.parent), "intro.kvs");
  EXPECT_EQ(PathOf(sibling.next), "part1.kvs");
}

TEST_F(ProjectTreeTest, ResumeAfterForwardWalkWithoutRoot) {
  // Without a shallower node before it, a sibling query goes on to a later
  // match, resuming after the node where the forward walk stopped.
  session_.project->projectTree = {Node("a.kvs", kNodeScene, 1), Node("b.kvs", kNodeScene, 1),
                                   Node("a.kvs", kNodeScene, 1), Node("c.kvs", kNodeScene, 1)};
  TreeNeighbours r = GetTreeNeighbours(session_, "a.kvs", false, false);
  EXPECT_EQ(r.node, session_.project->projectTree[2]);
  EXPECT_EQ(PathOf(r.next), "c.kvs");
  EXPECT_EQ(PathOf(r.prior), "b.kvs");
}

TEST_F(ProjectTreeTest, StandbysCountsAsFoundWithoutNode) {
  TreeNeighbours r = GetTreeNeighbours(session_, "PROJ.KVB", false, true);
  EXPECT_TRUE(r.found);
  EXPECT_EQ(r.node, nullptr);
  EXPECT_TRUE(box_.shown().empty());
  EXPECT_EQ(engine_.lastError, 0);
}

TEST_F(ProjectTreeTest, MissingNameAsksWhenReporting) {
  box_ = ScriptedMessageBox({MsgAnswer::No});
  EXPECT_FALSE(GetNodeDescription(session_, "lost.kvs").has_value());
  EXPECT_EQ(engine_.lastError, 4);
  ASSERT_EQ(box_.shown().size(), 1u);
  EXPECT_EQ(box_.shown()[0].title, "Project Message");
  EXPECT_EQ(box_.shown()[0].text, "lost.kvs is not in project.  Continue?  (Yes or No)");
  EXPECT_EQ(box_.shown()[0].buttons, MsgButtons::YesNo);
  EXPECT_EQ(engine_.aborts, 1);
}

TEST_F(ProjectTreeTest, MissingNameSilentWithoutReport) {
  EXPECT_FALSE(GetNextSibling(session_, "lost.kvs"));
  EXPECT_FALSE(GetNextScene(session_, "lost.kvs"));
  EXPECT_FALSE(GetPriorScene(session_, "lost.kvs", false));
  EXPECT_FALSE(GetParentNode(session_, "lost.kvs"));
  EXPECT_TRUE(box_.shown().empty());
  EXPECT_EQ(engine_.lastError, 0);
  // Not playing: no question even with report.
  engine_.playing = false;
  EXPECT_FALSE(GetFirstChild(session_, "lost.kvs"));
  EXPECT_TRUE(box_.shown().empty());
}

TEST_F(ProjectTreeTest, SceneBranch) {
  auto names = [](const std::vector<std::shared_ptr<CProjNode>>& v) {
    std::vector<std::string> out;
    for (const auto& n : v) out.push_back(n->path);
    return out;
  };
  EXPECT_EQ(names(GetSceneBranch(session_, "deeper.kvs")), (std::vector<std::string>{"deep.kvs", "C:\\elsewhere\\Menu.kvs"}));
  EXPECT_EQ(names(GetSceneBranch(session_, "back.kvs")), std::vector<std::string>{});
  EXPECT_EQ(names(GetSceneBranch(session_, "free.kvs")), std::vector<std::string>{});  // not a scene or background
  // The cache mapping is not used here: the cached name finds nothing and asks.
  EXPECT_TRUE(GetSceneBranch(session_, "glm0001.tmp").empty());
  EXPECT_EQ(box_.shown().size(), 1u);
  EXPECT_EQ(engine_.lastError, 0);
}

class ProjectTreeDirTest : public ProjectTreeTest {
 protected:
  void SetUp() override {
    ProjectTreeTest::SetUp();
    char cwd[4096];
    old_ = ::getcwd(cwd, sizeof cwd);
    dir_ = std::filesystem::temp_directory_path() / ("kvtree" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir_);
    ASSERT_EQ(::chdir(dir_.c_str()), 0);
  }
  void TearDown() override {
    ASSERT_EQ(::chdir(old_.c_str()), 0);
    std::filesystem::remove_all(dir_);
    ProjectTreeTest::TearDown();
  }
  void Touch(const char* name) { std::ofstream(dir_ / name) << "x"; }
  std::string old_;
  std::filesystem::path dir_;
};

TEST_F(ProjectTreeDirTest, ResolveScriptPath) {
  std::string path = "unchanged";
  EXPECT_EQ(ResolveScriptPath(session_, "x.KVB", path), kNodeStandbys);
  EXPECT_EQ(path, "unchanged");
  EXPECT_EQ(ResolveScriptPath(session_, "nowhere.kvs", path), kNodeNotInProject);
  EXPECT_EQ(path, "unchanged");
  // An absolute tree path with no local file: the tree's path.
  EXPECT_EQ(ResolveScriptPath(session_, "menu.kvs", path), kNodeScene);
  EXPECT_EQ(path, "C:\\elsewhere\\Menu.kvs");
  // With a file of that name in the current directory (any case): the bare name.
  Touch("MENU.KVS");
  EXPECT_EQ(ResolveScriptPath(session_, "menu.kvs", path), kNodeScene);
  EXPECT_EQ(path, "menu.kvs");
  // A relative tree path stays as it is even with a local file.
  Touch("intro.kvs");
  EXPECT_EQ(ResolveScriptPath(session_, "intro.kvs", path), kNodeScene);
  EXPECT_EQ(path, "intro.kvs");
  // A directory of that name does not count.
  std::filesystem::create_directories(dir_ / "part1.kvs");
  session_.project->projectTree[2]->path = "\\\\server\\share\\part1.kvs";
  EXPECT_EQ(ResolveScriptPath(session_, "part1.kvs", path), kNodeScene);
  EXPECT_EQ(path, "\\\\server\\share\\part1.kvs");
  // In a compilation the tree's path stays.
  session_.project->fromCompilation = true;
  EXPECT_EQ(ResolveScriptPath(session_, "menu.kvs", path), kNodeScene);
  EXPECT_EQ(path, "C:\\elsewhere\\Menu.kvs");
}

TEST_F(ProjectTreeDirTest, GetOrlanFile) {
  // Relative: used unchanged.
  EXPECT_EQ(PathOr(GetOrlanFile(session_, "proj.kvp")), "proj.ebc");
  // No Orlan file on the node: none.
  EXPECT_FALSE(GetOrlanFile(session_, "intro.kvs"));
  // Absolute and missing, with a local name.ebc: the local file.
  session_.project->projectTree[5]->orlanFile = "C:\\gone\\menu.ebc";
  EXPECT_EQ(PathOr(GetOrlanFile(session_, "menu.kvs")), "C:\\gone\\menu.ebc");
  Touch("Menu.ebc");
  EXPECT_EQ(PathOr(GetOrlanFile(session_, "menu.kvs")), "menu.ebc");
  // Absolute and existing: as it is.
  session_.project->projectTree[5]->orlanFile = "Z:" + (dir_ / "Menu.ebc").string();
  EXPECT_EQ(PathOr(GetOrlanFile(session_, "menu.kvs")), "Z:" + (dir_ / "Menu.ebc").string());
}

TEST(ProjectOrlanFile, OnlyTheProjectNodeNamesTheProjectsCode) {
  using Tree = std::vector<std::shared_ptr<CProjNode>>;
  struct Case {
    const char* what;
    Tree tree;
    const char* file;
  };
  const Case cases[] = {
      {"first node", {Node("p.kvp", kNodeProject, 0, "p.ebc"), Node("a.kvs", kNodeScene, 1, "a.ebc")}, "p.ebc"},
      {"a scene's code comes first", {Node("a.kvs", kNodeScene, 1, "a.ebc"), Node("p.kvp", kNodeProject, 0, "p.ebc")},
       "p.ebc"},
      {"an empty project node is passed over",
       {Node("p.kvp", kNodeProject, 0), nullptr, Node("q.kvp", kNodeProject, 0, "q.ebc")}, "q.ebc"},
      {"none", {Node("p.kvp", kNodeProject, 0), Node("a.kvs", kNodeScene, 1, "a.ebc")}, ""},
      {"no nodes", {}, ""},
  };
  for (const Case& c : cases) EXPECT_EQ(ProjectOrlanFile(c.tree), c.file) << c.what;
}

}  // namespace
}  // namespace kv
