#include "ext/orlan_files.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <sstream>
#include <unistd.h>

#include "engine/clock.h"
#include "engine/run_error.h"
#include "engine/runner.h"
#include "engine/var.h"
#include "engine/variables.h"
#include "imaging/picture_codec.h"
#include "imaging/picture_file.h"
#include "persist/document.h"
#include "platform/clipboard.h"
#include "platform/file_dialog.h"
#include "platform/launcher.h"
#include "platform/message_box.h"
#include "platform/paths.h"
#include "platform/settings.h"
#include "platform/text.h"
#include "tests/imaging/metafile_bytes.h"

namespace kv {
namespace {

namespace fs = std::filesystem;

// --- kvExtractFromPath

struct PathCase {
  const char* path;
  int32_t part;
  const char* expected;
  friend void PrintTo(const PathCase& c, std::ostream* os) { *os << '"' << c.path << "\" " << c.part; }
};

class ExtractFromPathTest : public ::testing::TestWithParam<PathCase> {};

TEST_P(ExtractFromPathTest, SplitsAsTheSystemDid) {
  EXPECT_EQ(ExtractFromPath(GetParam().path, GetParam().part), GetParam().expected);
}

// The drive is the two characters before a colon in second place, the
// directory runs to the last "\" or "/", the extension from the last dot after it.
INSTANTIATE_TEST_SUITE_P(Parts, ExtractFromPathTest,
                         ::testing::Values(PathCase{"C:\\dir\\sub\\file.txt", 2, ".txt"},
                                           PathCase{"C:\\dir\\sub\\file.txt", 3, "C:\\dir\\sub\\"},
                                           PathCase{"C:\\dir\\sub\\file.txt", 4, "file.txt"},
                                           PathCase{"C:\\dir\\sub\\file.txt", 1, "file"},
                                           PathCase{"C:\\dir\\sub\\file.txt", 0, "file"},
                                           PathCase{"C:\\dir\\sub\\file.txt", -7, "file"},
                                           // Only the last dot starts the extension.
                                           PathCase{"archive.tar.gz", 2, ".gz"},
                                           PathCase{"archive.tar.gz", 5, "archive.tar"},
                                           // Both separators count; the text keeps its own.
                                           PathCase{"C:/mixed\\seps/name.EXT", 3, "C:/mixed\\seps/"},
                                           // A dot in a folder name is no extension.
                                           PathCase{"dir.d\\file", 2, ""},
                                           PathCase{"dir.d\\file", 1, "file"},
                                           PathCase{"\\\\server\\share\\doc", 3, "\\\\server\\share\\"},
                                           PathCase{"C:file.bmp", 3, "C:"},
                                           PathCase{"folder\\", 4, ""},
                                           PathCase{"folder\\", 3, "folder\\"},
                                           PathCase{".profile", 2, ".profile"},
                                           PathCase{".profile", 1, ""},
                                           PathCase{"", 3, ""}));

// --- a scratch tree with drive C: on it

class Scratch {
 public:
  Scratch() {
    std::string templ = (fs::temp_directory_path() / "kvorlanfiles-XXXXXX").string();
    std::vector<char> buf(templ.begin(), templ.end());
    buf.push_back('\0');
    root_ = fs::path(::mkdtemp(buf.data()));
    drives_.Map('C', root_.string());
  }
  ~Scratch() {
    std::error_code ec;
    fs::remove_all(root_, ec);
  }
  const fs::path& root() const { return root_; }
  fs::path operator/(const std::string& rel) const { return root_ / rel; }
  const DriveMap& drives() const { return drives_; }

  void Write(const std::string& rel, const std::string& text) const {
    fs::create_directories((root_ / rel).parent_path());
    std::ofstream(root_ / rel, std::ios::binary) << text;
  }
  std::string Read(const std::string& rel) const { return ReadPath(root_ / rel); }
  static std::string ReadPath(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
  }
  void Folder(const std::string& rel) const { fs::create_directories(root_ / rel); }
  bool IsLink(const std::string& rel) const { return fs::is_symlink(fs::symlink_status(root_ / rel)); }
  bool Has(const std::string& rel) const { return fs::exists(fs::symlink_status(root_ / rel)); }

 private:
  fs::path root_;
  DriveMap drives_;
};

// The run's own folders in the scratch tree: the project in C:\work\proj,
// the program in C:\program.
class GuardedFilesTest : public ::testing::Test {
 protected:
  GuardedFilesTest() {
    s_.Folder("work/proj");
    s_.Folder("program");
    s_.Folder("outside");
    s_.Write("outside/secret.txt", "secret");
  }
  Scratch s_;
  FileGuard guard_{{(s_ / "work/proj").string(), (s_ / "program").string()}};
  FileContext files_{s_.drives(), (s_ / "work/proj").string(), guard_};
};

// --- the guard

struct GuardCase {
  const char* rel;  // "" for the scratch root
  bool isProtected;
  friend void PrintTo(const GuardCase& c, std::ostream* os) { *os << '"' << c.rel << '"'; }
};

class FileGuardTest : public GuardedFilesTest, public ::testing::WithParamInterface<GuardCase> {};

TEST_P(FileGuardTest, ProtectsTheKeyFoldersAndWhatHoldsThem) {
  s_.Folder("other");
  fs::create_directory_symlink(s_ / "work", s_ / "alias");
  const fs::path p = s_ / GetParam().rel;
  EXPECT_EQ(guard_.IsProtected(p), GetParam().isProtected) << p;
  EXPECT_EQ(guard_.MayFillFolder(p), !GetParam().isProtected) << p;
  EXPECT_EQ(guard_.MayWriteFile(p / "file.bmp"), !GetParam().isProtected) << p;
}

INSTANTIATE_TEST_SUITE_P(Folders, FileGuardTest,
                         ::testing::Values(GuardCase{"", true}, GuardCase{"work", true}, GuardCase{"work/proj", true},
                                           GuardCase{"work/proj/", true}, GuardCase{"work/other/../proj", true},
                                           GuardCase{"alias/proj", true},  // a link on the way is resolved
                                           GuardCase{"program", true}, GuardCase{"work/proj/sub", false},
                                           GuardCase{"work/proj/sub/deeper", false}, GuardCase{"other", false},
                                           GuardCase{"outside", false}));

TEST_F(GuardedFilesTest, RootIsProtectedAndALinkIsJudgedWhereItStands) {
  FileGuard none({});
  EXPECT_TRUE(none.IsProtected("/"));
  EXPECT_FALSE(none.MayRemove("/"));
  fs::create_directory_symlink(s_ / "work", s_ / "outside/link");
  // Removing the link leaves the folder it names alone.
  EXPECT_TRUE(guard_.MayRemove(s_ / "outside/link"));
  EXPECT_FALSE(guard_.MayFillFolder(s_ / "outside/link"));
  EXPECT_FALSE(guard_.MayRemove(s_ / "outside/link/proj"));
  EXPECT_FALSE(guard_.MayRemove(s_ / "work"));
  EXPECT_FALSE(guard_.MayRemove(s_ / "work/proj/.."));
  EXPECT_TRUE(guard_.MayRemove(s_ / "work/proj/sub"));
}

TEST(FileGuardUserTest, UserFoldersComeFromTheEnvironment) {
  struct Env {
    const char* name;
    const char* saved;
  };
  std::vector<Env> saved;
  for (const char* name : {"HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME"}) {
    const char* v = std::getenv(name);
    saved.push_back({name, v ? strdup(v) : nullptr});
  }
  ::setenv("HOME", "/home/someone", 1);
  ::setenv("XDG_CONFIG_HOME", "/conf", 1);
  ::unsetenv("XDG_CACHE_HOME");
  EXPECT_EQ(UserKeyFolders(),
            (std::vector<std::string>{"/home/someone", "/conf/Dunmere Corp.", "/home/someone/.cache"}));
  ::setenv("XDG_CACHE_HOME", "/var/cache/someone", 1);
  ::unsetenv("XDG_CONFIG_HOME");
  EXPECT_EQ(UserKeyFolders(), (std::vector<std::string>{"/home/someone", "/home/someone/.config/Dunmere Corp.",
                                                        "/var/cache/someone"}));
  FileGuard guard = FileGuard::ForRun("/srv/projects/p1", "/opt/korvel/bin", "/tmp/korvel-1", "", DriveMap());
  for (const char* p : {"/home", "/home/someone", "/home/someone/.config", "/srv/projects", "/opt/korvel", "/tmp",
                        "/var/cache"})
    EXPECT_TRUE(guard.IsProtected(p)) << p;
  for (const char* p : {"/home/someone/Documents", "/srv/projects/p2", "/tmp/other", "/var/log"})
    EXPECT_FALSE(guard.IsProtected(p)) << p;
  for (const Env& e : saved) {
    if (e.saved) ::setenv(e.name, e.saved, 1);
    else ::unsetenv(e.name);
    std::free(const_cast<char*>(e.saved));
  }
}

// A 3 x 2 picture of 24 bits: rows of B, G, R padded to 12 bytes.
struct SmallPicture {
  std::vector<uint8_t> bits = {0, 0, 255, 0, 255, 0, 255, 0, 0, 0, 0, 0,
                               255, 255, 255, 0, 0, 0, 128, 128, 128, 0, 0, 0};
  PictureView View() const { return PictureView{3, 2, 24, Layout16::k555, bits.data(), 12, {}}; }
};

// --- confinement and links

// An environment variable set for one test and put back afterwards.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) saved_ = old;
    if (value) ::setenv(name, value, 1);
    else ::unsetenv(name);
  }
  ~ScopedEnv() {
    if (saved_) ::setenv(name_, saved_->c_str(), 1);
    else ::unsetenv(name_);
  }

 private:
  const char* name_;
  std::optional<std::string> saved_;
};

// A run confined to its folders: the project in C:\proj (C: is the scratch
// folder "c"), the data folder and a listed folder beside "c", and links in
// the project at each level, to a folder outside and to one inside.
class ConfinedFilesTest : public ::testing::Test {
 protected:
  ConfinedFilesTest() {
    for (const char* f : {"c/proj/sub/deeper", "c/proj/target", "c/other", "data", "extra", "outside/inner"})
      s_.Folder(f);
    s_.Write("outside/secret.bmp", "secret");
    s_.Write("c/proj/sub/old.kvp", "project");
    fs::create_directory_symlink(s_ / "outside", s_ / "c/proj/lnkdir");
    fs::create_directory_symlink(s_ / "c/proj/target", s_ / "c/proj/sub/lnk2");
    fs::create_directory_symlink(s_ / "outside", s_ / "c/proj/sub/deeper/lnk3");
    fs::create_directory_symlink(s_ / "c/proj", s_ / "c/alias");
    fs::create_symlink(s_ / "outside/secret.bmp", s_ / "c/proj/sub/filelink.bmp");
    drives_.Map('C', (s_ / "c").string());
  }
  std::string Z(const std::string& rel) const { return "Z:" + (s_ / rel).string(); }

  Scratch s_;
  DriveMap drives_;
  const std::vector<std::string> keys_{(s_ / "c/proj").string()};
  FileGuard confined_{keys_, std::vector<std::string>{(s_ / "c/proj").string(), (s_ / "c").string(),
                                                      (s_ / "data").string(), (s_ / "extra").string()}};
  FileGuard unconfined_{keys_};
  FileContext files_{drives_, (s_ / "c/proj").string(), confined_};
};

enum class Change { kWrite, kFill, kRemove, kCopyFrom, kOpen };

TEST_F(ConfinedFilesTest, ChangesStayInsideTheAllowedFoldersAndNeverFollowALink) {
  const struct {
    std::string stored;
    Change change;
    bool confined;    // allowed by the confined guard
    bool unconfined;  // allowed by a guard with [Files] Unrestricted=1
  } kCases[] = {
      {"sub\\shot.bmp", Change::kWrite, true, true},
      {"c:\\PROJ\\SUB\\shot.bmp", Change::kWrite, true, true},  // found without regard to case
      {"C:\\other\\shot.bmp", Change::kWrite, true, true},      // the drive's folder
      {"lnkdir\\shot.bmp", Change::kWrite, false, false},       // a link right below the project
      {"sub\\lnk2\\shot.bmp", Change::kWrite, false, false},    // one level deeper, even leading inside
      {"sub\\deeper\\lnk3\\shot.bmp", Change::kWrite, false, false},
      {"C:\\alias\\sub\\shot.bmp", Change::kWrite, false, false},  // a link below the drive's folder
      {"sub\\filelink.bmp", Change::kWrite, true, true},           // replaced, not written through
      {"..\\..\\outside\\shot.bmp", Change::kWrite, false, true},  // ".." out of every allowed folder
      {"sub\\..\\..\\..\\extra\\shot.bmp", Change::kWrite, true, true},
      {Z("outside") + "\\shot.bmp", Change::kWrite, false, true},  // Z: is the whole file system
      {Z("data") + "\\shot.bmp", Change::kWrite, true, true},
      {Z("extra") + "\\shot.bmp", Change::kWrite, true, true},
      {"D:\\shot.bmp", Change::kWrite, false, false},  // no such drive
      {"sub\\lnk2", Change::kRemove, true, true},      // a link goes as a link
      {"lnkdir\\inner", Change::kRemove, false, false},
      {"sub\\deeper", Change::kRemove, true, true},
      {"..\\other", Change::kRemove, true, true},
      {"..\\..\\outside\\inner", Change::kRemove, false, true},
      {"lnkdir", Change::kFill, false, false},  // a link named as a copy's destination
      {"C:\\alias", Change::kFill, false, false},
      {"sub\\new", Change::kFill, true, true},
      {Z("outside") + "\\new", Change::kFill, false, true},
      {"sub\\lnk2", Change::kCopyFrom, false, false},  // a copy's source that is itself a link
      {"lnkdir", Change::kCopyFrom, false, false},
      {"C:\\alias\\sub", Change::kCopyFrom, false, false},
      {"sub", Change::kCopyFrom, true, true},
      {"..\\..\\outside", Change::kCopyFrom, true, true},  // reading is not confined
      // A document the desktop's handler opens: confined as a change, but
      // the project's own folder, protected from changes, is open to it.
      {"read me.txt", Change::kOpen, true, true},
      {"sub\\old.kvp", Change::kOpen, true, true},
      {Z("extra") + "\\list.pdf", Change::kOpen, true, true},
      {"sub\\filelink.bmp", Change::kOpen, false, true},  // a link to a file outside
      {"lnkdir\\secret.bmp", Change::kOpen, false, true},
      {"C:\\alias\\sub\\old.kvp", Change::kOpen, false, true},
      {"..\\..\\outside\\secret.bmp", Change::kOpen, false, true},
      {Z("outside") + "\\secret.bmp", Change::kOpen, false, true},
  };
  for (const auto& c : kCases) {
    for (const FileGuard* guard : {&confined_, &unconfined_}) {
      const FileContext files{drives_, files_.baseDir, *guard};
      const auto host = HostPathFor(c.stored, files);
      bool allowed = false;
      if (host) {
        switch (c.change) {
          case Change::kWrite: allowed = guard->MayWriteFile(*host); break;
          case Change::kFill: allowed = guard->MayFillFolder(*host); break;
          case Change::kRemove: allowed = guard->MayRemove(*host); break;
          case Change::kCopyFrom: allowed = guard->MayCopyFrom(*host); break;
          case Change::kOpen: allowed = guard->MayOpen(*host); break;
        }
      }
      EXPECT_EQ(allowed, guard == &confined_ ? c.confined : c.unconfined)
          << c.stored << (guard == &confined_ ? " confined" : " unconfined");
    }
  }
}

TEST_F(ConfinedFilesTest, BuiltinsWriteCopyAndDeleteNothingThroughALink) {
  SmallPicture small;
  // The picture named through a link to a folder is not written there.
  EXPECT_FALSE(WritePictureToFile(small.View(), {}, "sub\\deeper\\lnk3\\x.bmp", 0, 0, 0, files_));
  EXPECT_FALSE(WritePictureToFile(small.View(), {}, "lnkdir\\x.bmp", 0, 0, 0, files_));
  EXPECT_FALSE(s_.Has("outside/x.bmp"));
  // A link at the picture's own name is replaced by the picture.
  ASSERT_TRUE(WritePictureToFile(small.View(), {}, "sub\\filelink.bmp", 0, 0, 0, files_));
  EXPECT_FALSE(s_.IsLink("c/proj/sub/filelink.bmp"));
  EXPECT_EQ(s_.Read("outside/secret.bmp"), "secret");
  // Neither side of a copy may be a link.
  EXPECT_FALSE(CopyProject("sub\\lnk2", "old", "sub\\copy", "new", files_));
  EXPECT_FALSE(CopyProject("sub", "old", "lnkdir\\copy", "new", files_));
  EXPECT_FALSE(CopyProject("sub", "old", "C:\\alias\\copy", "new", files_));
  EXPECT_FALSE(s_.Has("outside/copy"));
  EXPECT_FALSE(s_.Has("c/proj/copy"));
  EXPECT_FALSE(s_.Has("c/proj/sub/copy"));
  ASSERT_TRUE(CopyProject("sub", "old", "C:\\other\\copy", "new", files_));
  EXPECT_EQ(s_.Read("c/other/copy/new.kvp"), "project");
  // Nothing is deleted past a link or outside the allowed folders.
  EXPECT_FALSE(DeleteProject("lnkdir\\inner", "", files_));
  EXPECT_FALSE(DeleteProject("..\\..\\outside\\inner", "", files_));
  EXPECT_TRUE(s_.Has("outside/inner"));
  EXPECT_TRUE(DeleteProject("C:\\other\\copy", "", files_));
  EXPECT_FALSE(s_.Has("c/other/copy"));
}

// kvShellExecute and the launch insert open documents through the run's
// opener, which judges each by the run's guard before the handler sees it.
TEST_F(ConfinedFilesTest, ShellExecuteOpensOnlyDocumentsInsideTheAllowedFolders) {
  s_.Write("c/proj/sub/read.txt", "inside");
  for (const FileGuard* guard : {&confined_, &unconfined_}) {
    const bool confined = guard == &confined_;
    RecordingLauncher launcher;
    XdgDocumentOpener opener(launcher, drives_, files_.baseDir,
                             [guard](const std::string& host) { return guard->MayOpen(host); });
    ProcessTable processes(nullptr, &opener);
    const struct {
      std::string target;
      bool opens;  // when confined
      bool opensUnconfined = true;
    } kCases[] = {
        {"sub\\read.txt", true},
        {"C:\\proj\\sub\\old.kvp", true},
        {"http://example.org/page", true},
        {"sub\\filelink.bmp", false},
        {"lnkdir\\secret.bmp", false},
        {Z("outside") + "\\secret.bmp", false},
        {"file://" + (s_ / "outside/secret.bmp").string(), false},
        {"FILE://localhost" + (s_ / "c/proj/sub/read.txt").string(), true},
        {"file:" + (s_ / "c/proj/sub/%2e%2e/%2E%2E/../outside/secret.bmp").string(), false},
        // Another machine's file cannot be judged, so it is never opened.
        {"file://elsewhere" + (s_ / "c/proj/sub/read.txt").string(), false, false},
    };
    for (const auto& c : kCases) {
      const size_t before = launcher.startCount();
      const bool opened = processes.Execute(c.target).has_value();
      EXPECT_EQ(opened, confined ? c.opens : c.opensUnconfined) << c.target << (confined ? " confined" : " unconfined");
      EXPECT_EQ(launcher.startCount(), before + (opened ? 1 : 0)) << c.target;
    }
  }
}

TEST_F(ConfinedFilesTest, OutsideTheAllowedFoldersOnlyAnUnrestrictedRunWrites) {
  SmallPicture small;
  const std::string target = Z("outside") + "\\shot.bmp";
  EXPECT_FALSE(WritePictureToFile(small.View(), {}, target, 0, 0, 0, files_));
  EXPECT_FALSE(CopyProject("sub", "old", Z("outside") + "\\copy", "new", files_));
  EXPECT_FALSE(s_.Has("outside/shot.bmp"));
  EXPECT_FALSE(s_.Has("outside/copy"));
  const FileContext trusted{drives_, files_.baseDir, unconfined_};
  EXPECT_TRUE(WritePictureToFile(small.View(), {}, target, 0, 0, 0, trusted));
  EXPECT_TRUE(s_.Has("outside/shot.bmp"));
}

TEST(AllowedFoldersTest, ComeFromTheProjectTheDrivesTheDataFolderAndTheSetting) {
  SettingsStore settings("");
  SettingsStore::SetProcess(&settings);
  ScopedEnv data("XDG_DATA_HOME", "/home/someone/.data");
  ScopedEnv home("HOME", "/home/someone");
  DriveMap drives;  // Z: is "/"
  drives.Map('D', "/media/disc");
  drives.SetDefault("/srv/projects/p1");
  settings.SetString("Files", "Allowed", " /srv/kiosk/saves ;relative/ignored;;/mnt/usb");
  EXPECT_EQ(AllowedFolders("/srv/projects/p1", drives),
            (std::vector<std::string>{"/srv/projects/p1", "/media/disc", "/home/someone/.data/Dunmere Corp./Korvel",
                                      "/srv/kiosk/saves", "/mnt/usb"}));
  {
    ScopedEnv noData("XDG_DATA_HOME", nullptr);
    EXPECT_EQ(PlayerDataFolder(), "/home/someone/.local/share/Dunmere Corp./Korvel");
  }
  EXPECT_TRUE(FileGuard::ForRun("/srv/projects/p1", "", "", "", drives).confined());
  settings.SetInt("Files", "Unrestricted", 1);
  EXPECT_FALSE(FileGuard::ForRun("/srv/projects/p1", "", "", "", drives).confined());
  SettingsStore::SetProcess(nullptr);
}

// --- kvCountProjects, kvLoadProjects, kvLoadImages

// String variables in a map; the kind of a name not in it is kMissing.
class MapVariables : public StringVariables {
 public:
  struct Var {
    Kind kind;
    std::string text;
  };
  Kind KindOf(const std::string& name) override {
    ++lookups;
    auto it = vars.find(name);
    return it == vars.end() ? Kind::kMissing : it->second.kind;
  }
  void Set(const std::string& name, const std::string& text) override {
    ASSERT_EQ(vars.at(name).kind, Kind::kString) << name;
    vars.at(name).text = text;
  }
  void AddStrings(const std::string& stem, int n, const std::string& text) {
    for (int i = 1; i <= n; ++i) vars[stem + std::to_string(i)] = {Kind::kString, text};
  }
  std::vector<std::string> Texts(const std::string& stem, int n) const {
    std::vector<std::string> texts;
    for (int i = 1; i <= n; ++i) texts.push_back(vars.at(stem + std::to_string(i)).text);
    return texts;
  }
  std::map<std::string, Var> vars;
  long lookups = 0;
};

class ProjectListTest : public GuardedFilesTest {
 protected:
  ProjectListTest() {
    for (const char* f : {"lib/beta", "lib/Alpha", "lib/gamma/inner"}) s_.Folder(f);
    s_.Write("lib/notes.txt", "a file is no project");
    fs::create_directory_symlink(s_ / "outside", s_ / "lib/link");
  }
};

TEST_F(ProjectListTest, CountsSubfoldersButNotFilesOrLinks) {
  const struct {
    const char* folder;
    int32_t count;
  } kCases[] = {{"C:\\lib", 3}, {"c:\\LIB\\", 3}, {"C:\\lib\\gamma", 1}, {"C:\\lib\\notes.txt", 0},
                {"C:\\missing", 0}, {"", 0}};
  for (const auto& c : kCases) EXPECT_EQ(CountProjects(c.folder, files_), c.count) << c.folder;
}

struct LoadCase {
  int32_t count;
  int32_t first;
  std::vector<std::string> expected;  // stem1 .. stem4 afterwards
  friend void PrintTo(const LoadCase& c, std::ostream* os) { *os << "count " << c.count << " first " << c.first; }
};

class LoadProjectsTest : public ProjectListTest, public ::testing::WithParamInterface<LoadCase> {};

TEST_P(LoadProjectsTest, EmptiesThenStoresFromFirst) {
  MapVariables vars;
  vars.AddStrings("p", 4, "old");
  EXPECT_TRUE(LoadProjects("C:\\lib", "p", GetParam().count, GetParam().first, vars, files_));
  EXPECT_EQ(vars.Texts("p", 4), GetParam().expected);
}

// Names in order without regard to case: Alpha, beta, gamma.
INSTANTIATE_TEST_SUITE_P(
    Windows, LoadProjectsTest,
    ::testing::Values(LoadCase{4, 1, {"Alpha", "beta", "gamma", ""}}, LoadCase{2, 1, {"Alpha", "beta", "old", "old"}},
                      LoadCase{3, 2, {"beta", "gamma", "", "old"}}, LoadCase{4, 3, {"gamma", "", "", ""}},
                      LoadCase{2, 9, {"", "", "old", "old"}},
                      LoadCase{2, 0, {"Alpha", "beta", "old", "old"}},  // before the first is the first
                      LoadCase{-3, 1, {"old", "old", "old", "old"}}));

TEST_F(ProjectListTest, AWrongTypedVariableEndsTheCallWithFalse) {
  MapVariables vars;
  vars.AddStrings("p", 3, "old");
  vars.vars["p2"] = {StringVariables::Kind::kOther, ""};
  EXPECT_FALSE(LoadProjects("C:\\lib", "p", 3, 1, vars, files_));
  // Emptying stopped at p2: nothing was stored.
  EXPECT_EQ(vars.vars["p1"].text, "");
  EXPECT_EQ(vars.vars["p3"].text, "old");
  // Missing variables are passed over.
  MapVariables sparse;
  sparse.vars["p2"] = {StringVariables::Kind::kString, "old"};
  EXPECT_TRUE(LoadProjects("C:\\lib", "p", 3, 1, sparse, files_));
  EXPECT_EQ(sparse.vars["p2"].text, "beta");
}

TEST_F(ProjectListTest, TheVariableStoreServesAsStringVariables) {
  Clock clock(true);
  ScriptedMessageBox boxes;
  RunnerServices services;
  services.clock = &clock;
  services.messages = &boxes;
  Runner runner(services, RuntimeFacts{});
  auto doc = std::make_shared<CStgDoc>();
  auto group = std::make_shared<CVar>();
  group->groupName = "G";
  for (auto [name, type] : {std::pair{"proj1", var_type::kString}, std::pair{"proj2", var_type::kString},
                            std::pair{"other1", var_type::kInt4}}) {
    auto item = std::make_shared<CVarsItem>();
    item->name = name;
    item->type = type;
    group->items.push_back(item);
  }
  doc->items = {group};
  runner.Start(doc, nullptr);
  runner.Shutdown();
  StoreStringVariables vars(runner.variables());
  EXPECT_EQ(vars.KindOf("PROJ1"), StringVariables::Kind::kString);
  EXPECT_EQ(vars.KindOf("other1"), StringVariables::Kind::kOther);
  EXPECT_EQ(vars.KindOf("proj3"), StringVariables::Kind::kMissing);
  EXPECT_TRUE(LoadProjects("C:\\lib", "proj", 3, 2, vars, files_));
  auto text = [&](const char* name) {
    return runner.variables().Text(*runner.variables().FindVariable(name, nullptr, {}, false));
  };
  EXPECT_EQ(text("proj1"), "beta");
  EXPECT_EQ(text("proj2"), "gamma");
  EXPECT_FALSE(LoadProjects("C:\\lib", "other", 1, 1, vars, files_));
  // Nothing was asked of the user on the way.
  EXPECT_TRUE(boxes.shown().empty());
}

TEST_F(ProjectListTest, AMissingFolderEmptiesAndAnswersFalse) {
  MapVariables vars;
  vars.AddStrings("p", 2, "old");
  EXPECT_FALSE(LoadProjects("C:\\nothing", "p", 2, 1, vars, files_));
  EXPECT_EQ(vars.Texts("p", 2), (std::vector<std::string>{"", ""}));
}

TEST_F(ProjectListTest, AHugeCountIsCutBeforeAnyLookup) {
  MapVariables vars;
  EXPECT_TRUE(LoadProjects("C:\\lib", "p", INT32_MAX, 1, vars, files_));
  EXPECT_LE(vars.lookups, 2L * kMaxListCount);
  MapVariables images;
  EXPECT_TRUE(LoadImages("C:\\lib", "p", INT32_MAX, 1, images, files_));
  EXPECT_LE(images.lookups, 2L * kMaxListCount);
}

TEST_F(GuardedFilesTest, LoadImagesTakesPicturesByContentAndMetafilesByName) {
  s_.Write("pics/b.bmp", "BM and then anything");
  s_.Write("pics/a.dat", std::string("\x89PNG\r\n\x1A\n", 8));  // a PNG under another name
  s_.Write("pics/c.WMF", "named a metafile");
  s_.Write("pics/d.tga", "TGA has only its name");
  s_.Write("pics/e.bmp", "not a picture at all");
  s_.Write("pics/f.txt", "text");
  s_.Folder("pics/g.bmp");
  fs::create_symlink(s_ / "pics/b.bmp", s_ / "pics/h.bmp");
  MapVariables vars;
  vars.AddStrings("img", 5, "old");
  EXPECT_TRUE(LoadImages("C:\\pics", "img", 5, 1, vars, files_));
  EXPECT_EQ(vars.Texts("img", 5), (std::vector<std::string>{"C:\\pics\\a.dat", "C:\\pics\\b.bmp", "C:\\pics\\c.WMF",
                                                             "C:\\pics\\d.tga", ""}));
  EXPECT_FALSE(LoadImages("C:\\none\\", "img", 5, 1, vars, files_));
}

// --- kvCopyProject

class CopyProjectTest : public GuardedFilesTest {
 protected:
  CopyProjectTest() {
    s_.Write("src/old.kvp", "project");
    s_.Write("src/old.EBC", "code");
    s_.Write("src/old.txt", "notes");
    s_.Write("src/sub/deep/file.bin", "deep");
    fs::create_directory_symlink(s_ / "outside", s_ / "src/dirlink");
    fs::create_symlink(s_ / "outside/secret.txt", s_ / "src/filelink");
  }
};

TEST_F(CopyProjectTest, CopiesTreeRenamesProjectFilesAndSkipsLinks) {
  ASSERT_TRUE(CopyProject("C:\\src", "old", "C:\\copies\\new", "new", files_));
  EXPECT_EQ(s_.Read("copies/new/new.kvp"), "project");
  EXPECT_EQ(s_.Read("copies/new/new.ebc"), "code");  // found without regard to case
  EXPECT_EQ(s_.Read("copies/new/old.txt"), "notes");
  EXPECT_EQ(s_.Read("copies/new/sub/deep/file.bin"), "deep");
  for (const char* gone : {"copies/new/old.kvp", "copies/new/old.EBC", "copies/new/dirlink", "copies/new/filelink"})
    EXPECT_FALSE(s_.Has(gone)) << gone;
  // The source is left as it was.
  EXPECT_EQ(s_.Read("src/old.kvp"), "project");
}

TEST_F(CopyProjectTest, ReplacesSameNamesWithoutFollowingLinksThere) {
  s_.Write("dst/OLD.TXT", "stale");
  fs::create_directory_symlink(s_ / "outside", s_ / "dst/sub");
  fs::create_symlink(s_ / "outside/secret.txt", s_ / "dst/old.kvp");
  ASSERT_TRUE(CopyProject("C:\\src", "old", "C:\\dst", "old", files_));
  EXPECT_EQ(s_.Read("dst/OLD.TXT"), "notes");
  EXPECT_FALSE(s_.Has("dst/old.txt"));
  EXPECT_FALSE(s_.IsLink("dst/sub"));
  EXPECT_FALSE(s_.IsLink("dst/old.kvp"));
  EXPECT_EQ(s_.Read("dst/old.kvp"), "project");
  EXPECT_EQ(s_.Read("outside/secret.txt"), "secret");
  EXPECT_FALSE(s_.Has("outside/deep"));
}

TEST_F(CopyProjectTest, ADestinationInsideTheSourceIsNotCopiedIntoItself) {
  ASSERT_TRUE(CopyProject("C:\\src", "old", "C:\\src\\backup", "bak", files_));
  EXPECT_EQ(s_.Read("src/backup/bak.kvp"), "project");
  EXPECT_EQ(s_.Read("src/backup/sub/deep/file.bin"), "deep");
  EXPECT_FALSE(s_.Has("src/backup/backup"));
  // Once more: the earlier copy inside the source is copied, this one's destination is not.
  ASSERT_TRUE(CopyProject("C:\\src", "old", "C:\\src\\sub\\again", "x", files_));
  EXPECT_TRUE(s_.Has("src/sub/again/backup/bak.kvp"));
  EXPECT_FALSE(s_.Has("src/sub/again/sub/again"));
}

TEST_F(CopyProjectTest, RefusalsWriteNothing) {
  const struct {
    const char* source;
    const char* destination;
    const char* newName;
  } kCases[] = {
      {"C:\\src", "C:\\src", "new"},           // onto itself
      {"C:\\SRC\\", "c:\\src", "new"},         // onto itself, spelt otherwise
      {"C:\\src", "C:\\work\\proj", "new"},    // the project's folder
      {"C:\\src", "C:\\work", "new"},          // a folder holding it
      {"C:\\src", "C:\\program", "new"},       // the program's folder
      {"C:\\src", "C:\\", "new"},              // the root of it all
      {"C:\\missing", "C:\\dst", "new"},       // no source
      {"C:\\src\\old.txt", "C:\\dst", "new"},  // a file is no folder
  };
  for (const auto& c : kCases) {
    EXPECT_FALSE(CopyProject(c.source, "old", c.destination, c.newName, files_)) << c.source << " " << c.destination;
    EXPECT_FALSE(s_.Has("dst")) << c.destination;
  }
  EXPECT_FALSE(s_.Has("work/proj/old.kvp"));
  EXPECT_FALSE(s_.Has("src/new.kvp"));
}

TEST_F(CopyProjectTest, NamesThatLeaveTheDestinationRenameNothing) {
  for (const char* name : {"..\\evil", "../evil", "..", ""}) {
    ASSERT_TRUE(CopyProject("C:\\src", "old", "C:\\dst", name, files_)) << name;
    EXPECT_TRUE(s_.Has("dst/old.kvp")) << name;
  }
  EXPECT_FALSE(s_.Has("evil.kvp"));
}

// --- kvDeleteProject

TEST_F(GuardedFilesTest, DeleteRemovesTheTreeButNeverALinksTarget) {
  s_.Write("old/a.kvp", "a");
  s_.Write("old/sub/b.bin", "b");
  fs::create_directory_symlink(s_ / "outside", s_ / "old/sub/link");
  fs::create_symlink(s_ / "outside/secret.txt", s_ / "old/filelink");
  EXPECT_TRUE(DeleteProject("C:\\old", "C:\\work\\proj\\", files_));
  EXPECT_FALSE(s_.Has("old"));
  EXPECT_EQ(s_.Read("outside/secret.txt"), "secret");
  // A link named as the folder goes itself.
  fs::create_directory_symlink(s_ / "outside", s_ / "linked");
  EXPECT_TRUE(DeleteProject("C:\\linked", "C:\\work\\proj\\", files_));
  EXPECT_FALSE(s_.Has("linked"));
  EXPECT_EQ(s_.Read("outside/secret.txt"), "secret");
}

TEST_F(GuardedFilesTest, DeleteRefusesShortNamesTheProjectAndProtectedFolders) {
  s_.Folder("abc");
  s_.Folder("elsewhere/copy");
  s_.Write("work/proj/p.kvp", "p");
  const struct {
    const char* folder;
    const char* projectDirectory;
    const char* survivor;  // a folder that must still be there
  } kCases[] = {
      {"C:\\", "", ""},
      {"abc", "", ""},  // three characters
      {"C:\\elsewhere\\copy", "c:\\ELSEWHERE\\COPY\\", "elsewhere/copy"},  // the project directory, any case
      {"c:\\elsewhere\\copy\\", "C:\\elsewhere\\copy", "elsewhere/copy"},
      {"C:\\work\\proj", "C:\\other\\", "work/proj"},  // the running project's folder
      {"C:\\work", "C:\\other\\", "work/proj"},        // a folder holding it
      {"C:\\program", "", "program"},
      {"C:\\work\\proj\\p.kvp", "", "work/proj/p.kvp"},  // a file is no folder
      {"C:\\nothing", "", ""},
  };
  for (const auto& c : kCases) {
    EXPECT_FALSE(DeleteProject(c.folder, c.projectDirectory, files_)) << c.folder;
    if (*c.survivor) {
      EXPECT_TRUE(s_.Has(c.survivor)) << c.folder;
    }
  }
  EXPECT_TRUE(DeleteProject("C:\\elsewhere\\copy", "C:\\work\\proj\\", files_));
}

// --- pictures

struct ConvertCase {
  const char* target;
  bool written;
  friend void PrintTo(const ConvertCase& c, std::ostream* os) { *os << c.target; }
};

class ConvertImageTest : public GuardedFilesTest, public ::testing::WithParamInterface<ConvertCase> {};

TEST_P(ConvertImageTest, WritesByTheTargetsExtension) {
  SmallPicture small;
  imaging::PictureFile source;
  ASSERT_TRUE(source.FromBitmap(small.View(), {}));
  s_.Folder("pics");
  ASSERT_TRUE(source.Save((s_ / "pics/in.bmp").string(), 1));
  const std::string target = std::string("C:\\pics\\") + GetParam().target;
  EXPECT_EQ(ConvertImage("C:\\pics\\in.bmp", target, 0, files_), GetParam().written);
  const fs::path host = *HostPathFor(target, files_);
  ASSERT_EQ(fs::exists(host), GetParam().written);
  if (!GetParam().written) return;
  imaging::PictureFile back;
  ASSERT_TRUE(back.Load(host.string()));
  EXPECT_EQ(back.image().width, 3);
  EXPECT_EQ(back.image().height, 2);
}

INSTANTIATE_TEST_SUITE_P(Formats, ConvertImageTest,
                         ::testing::Values(ConvertCase{"out.bmp", true}, ConvertCase{"out.PCX", true},
                                           ConvertCase{"out.tga", true}, ConvertCase{"out.gif", true},
                                           ConvertCase{"out.jpg", true}, ConvertCase{"out.tif", true},
                                           ConvertCase{"out.xyz", false}));

TEST_F(GuardedFilesTest, PictureWritesRefuseProtectedFoldersAndBadSizes) {
  SmallPicture small;
  s_.Folder("pics");
  s_.Write("pics/in.bmp", "not a picture");
  EXPECT_FALSE(ConvertImage("C:\\pics\\in.bmp", "C:\\pics\\out.bmp", 0, files_));
  EXPECT_FALSE(ConvertImage("C:\\pics\\none.bmp", "C:\\pics\\out.bmp", 0, files_));
  EXPECT_FALSE(WritePictureToFile(small.View(), {}, "C:\\work\\proj\\shot.bmp", 0, 0, 0, files_));
  EXPECT_FALSE(WritePictureToFile(small.View(), {}, "C:\\program\\shot.bmp", 0, 0, 0, files_));
  EXPECT_FALSE(s_.Has("work/proj/shot.bmp"));
  EXPECT_FALSE(WritePictureToFile(small.View(), {}, "C:\\pics\\shot.bmp", -5, 2, 0, files_));
  s_.Folder("work/proj/sub");
  const struct {
    int32_t width, height, outWidth, outHeight;
  } kSizes[] = {{0, 0, 3, 2}, {-1, 99, 3, 2}, {6, 4, 6, 4}};
  for (const auto& c : kSizes) {
    ASSERT_TRUE(WritePictureToFile(small.View(), {}, "C:\\work\\proj\\sub\\shot.bmp", c.width, c.height, 0, files_));
    imaging::PictureFile back;
    ASSERT_TRUE(back.Load((s_ / "work/proj/sub/shot.bmp").string()));
    EXPECT_EQ(back.image().width, c.outWidth);
    EXPECT_EQ(back.image().height, c.outHeight);
  }
}

// --- the clipboard

// 2 x 2: red, green over blue, white (0x00RRGGBB words, top row first).
ClipboardBitmap Quadrants() { return {2, 2, {0xFF0000, 0x00FF00, 0x0000FF, 0xFFFFFF}}; }

// A real EMF (header, EMR_EOF) and bytes that only carry its name.
std::string SmallEmf() {
  const imaging::test::Bytes b = imaging::test::Emf({}, 20, 20);
  return std::string(b.begin(), b.end());
}

// A pixel of a decoded 24- or 32-bit picture as 0x00RRGGBB (rows hold B, G, R).
uint32_t RgbAt(const DecodedPicture& p, int x, int y) {
  const uint8_t* px = p.bits.data() + y * p.stride + x * (p.bitsPerPixel / 8);
  return uint32_t(px[2]) << 16 | uint32_t(px[1]) << 8 | px[0];
}

enum class Held { kNothing, kText, kBitmap, kBitmapAndEmf, kFalseEmf };

struct ClipboardCase {
  const char* label;
  Held held;
  const char* target;
  bool written;
  friend void PrintTo(const ClipboardCase& c, std::ostream* os) { *os << c.label; }
};

class WriteClipboardTest : public GuardedFilesTest, public ::testing::WithParamInterface<ClipboardCase> {};

TEST_P(WriteClipboardTest, WritesWhatTheExtensionAsksForWhenTheClipboardHoldsIt) {
  const ClipboardCase& c = GetParam();
  MemoryClipboard clipboard;
  switch (c.held) {
    case Held::kNothing: break;
    case Held::kText: clipboard.PutText("words"); break;
    case Held::kBitmap: clipboard.PutPicture(Quadrants(), {}); break;
    case Held::kBitmapAndEmf: clipboard.PutPicture(Quadrants(), SmallEmf()); break;
    case Held::kFalseEmf: clipboard.PutPicture(Quadrants(), "not an enhanced metafile, only named one"); break;
  }
  s_.Folder("pics");
  EXPECT_EQ(WriteClipboardToFile(clipboard, c.target, files_), c.written);
  const fs::path host = *HostPathFor(c.target, files_);
  ASSERT_EQ(fs::exists(host), c.written);
  if (!c.written) return;
  if (EqualsNoCase(host.extension().string(), ".emf")) {
    EXPECT_EQ(Scratch::ReadPath(host), SmallEmf());
    return;
  }
  imaging::PictureFile back;
  ASSERT_TRUE(back.Load(host.string()));
  const DecodedPicture& p = back.image();
  ASSERT_EQ(p.width, 2);
  ASSERT_EQ(p.height, 2);
  ASSERT_GE(p.bitsPerPixel, 24);
  EXPECT_EQ(RgbAt(p, 0, 0), 0xFF0000u);
  EXPECT_EQ(RgbAt(p, 1, 0), 0x00FF00u);
  EXPECT_EQ(RgbAt(p, 0, 1), 0x0000FFu);
  EXPECT_EQ(RgbAt(p, 1, 1), 0xFFFFFFu);
}

INSTANTIATE_TEST_SUITE_P(
    Contents, WriteClipboardTest,
    ::testing::Values(ClipboardCase{"empty to bmp", Held::kNothing, "C:\\pics\\out.bmp", false},
                      ClipboardCase{"empty to emf", Held::kNothing, "C:\\pics\\out.emf", false},
                      ClipboardCase{"text to bmp", Held::kText, "C:\\pics\\out.bmp", false},
                      ClipboardCase{"bitmap to bmp", Held::kBitmap, "C:\\pics\\out.bmp", true},
                      ClipboardCase{"bitmap to TGA", Held::kBitmap, "C:\\pics\\out.TGA", true},
                      // Saving goes by the picture library's extensions, which have no PNG.
                      ClipboardCase{"bitmap to png", Held::kBitmap, "C:\\pics\\out.png", false},
                      ClipboardCase{"bitmap alone to emf", Held::kBitmap, "C:\\pics\\out.emf", false},
                      ClipboardCase{"metafile to EMF", Held::kBitmapAndEmf, "C:\\pics\\out.EMF", true},
                      ClipboardCase{"metafile's bitmap to bmp", Held::kBitmapAndEmf, "C:\\pics\\out.bmp", true},
                      ClipboardCase{"emf inside a name", Held::kBitmapAndEmf, "C:\\pics\\out.emf.bmp", true},
                      ClipboardCase{"not an EMF", Held::kFalseEmf, "C:\\pics\\out.emf", false},
                      ClipboardCase{"project folder", Held::kBitmapAndEmf, "C:\\work\\proj\\out.emf", false},
                      ClipboardCase{"program folder", Held::kBitmap, "C:\\program\\out.bmp", false}),
    [](const ::testing::TestParamInfo<ClipboardCase>& info) { return "Case" + std::to_string(info.index); });

struct StagePixelsCase {
  const char* label;
  PixelFormat format;
  std::vector<uint32_t> want;  // red, green, blue, white as the format holds them
};

class ClipboardBitmapOfTest : public ::testing::TestWithParam<StagePixelsCase> {};

TEST_P(ClipboardBitmapOfTest, TakesThePartAsRgbWords) {
  // 4 x 3: the part (1,1)-(3,3) holds red, green over blue, white; the rest
  // and the 32-bit spare byte must not reach the bitmap.
  PixelBuffer stage(4, 3, GetParam().format);
  stage.Fill(ColorRef(0x00808080));
  stage.SetPixel(1, 1, ColorRef(0x000000FF));
  stage.SetPixel(2, 1, ColorRef(0x0000FF00));
  stage.SetPixel(1, 2, ColorRef(0x00FF0000));
  stage.SetPixel(2, 2, ColorRef(0x00FFFFFF));
  if (GetParam().format == PixelFormat::kXrgb32) stage.At(1, 1)[3] = 0xAB;
  const ClipboardBitmap b = ClipboardBitmapOf(stage, Rect{1, 1, 3, 3});
  EXPECT_EQ(b.width, 2);
  EXPECT_EQ(b.height, 2);
  EXPECT_EQ(b.pixels, GetParam().want);
}

INSTANTIATE_TEST_SUITE_P(Formats, ClipboardBitmapOfTest,
                         ::testing::Values(StagePixelsCase{"32 bits", PixelFormat::kXrgb32,
                                                           {0xFF0000, 0x00FF00, 0x0000FF, 0xFFFFFF}},
                                           // 5-6-5 widened with zero low bits, as a 16-bit display's
                                           // pictures read back: 31 << 3 = 0xF8, 63 << 2 = 0xFC.
                                           StagePixelsCase{"16 bits", PixelFormat::kRgb565,
                                                           {0xF80000, 0x00FC00, 0x0000F8, 0xF8FCF8}}),
                         [](const ::testing::TestParamInfo<StagePixelsCase>& info) {
                           return info.param.format == PixelFormat::kXrgb32 ? "Xrgb32" : "Rgb565";
                         });

TEST_F(GuardedFilesTest, OnlyAnUnchangedEnhancedMetafileIsTakenFromThePicturesFile) {
  s_.Write("pics/real.emf", SmallEmf());
  s_.Write("pics/REAL2.EMF", SmallEmf());
  s_.Write("pics/named.emf", "BM not a metafile");
  s_.Write("pics/real.wmf", SmallEmf());
  EXPECT_EQ(EnhancedMetafileOf((s_ / "pics/real.emf").string()), SmallEmf());
  EXPECT_EQ(EnhancedMetafileOf((s_ / "pics/REAL2.EMF").string()), SmallEmf());
  EXPECT_EQ(EnhancedMetafileOf((s_ / "pics/named.emf").string()), "");
  EXPECT_EQ(EnhancedMetafileOf((s_ / "pics/real.wmf").string()), "");
  EXPECT_EQ(EnhancedMetafileOf((s_ / "pics/gone.emf").string()), "");
  EXPECT_EQ(EnhancedMetafileOf(""), "");
}

// --- dialogs

struct FilterCase {
  const char* kind;
  const char* filter;
  friend void PrintTo(const FilterCase& c, std::ostream* os) { *os << '"' << c.kind << '"'; }
};

class BrowseTest : public ::testing::TestWithParam<FilterCase> {};

TEST_P(BrowseTest, FiltersByKind) {
  ScriptedFileDialog dialog({std::string("C:\\media\\chosen.wav")});
  EXPECT_EQ(Browse(GetParam().kind, "C:\\media\\start.wav", &dialog), "C:\\media\\chosen.wav");
  ASSERT_EQ(dialog.requests().size(), 1u);
  EXPECT_EQ(dialog.requests()[0].title, "Select File");
  EXPECT_EQ(dialog.requests()[0].filter, GetParam().filter);
  EXPECT_EQ(dialog.requests()[0].initialFile, "C:\\media\\start.wav");
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, BrowseTest,
    ::testing::Values(FilterCase{"audio", "MIDI & RMI Files|*.mid; *.rmi;*.midi|Wave Files|*.wav||"},
                      FilterCase{"AUDIO", "MIDI & RMI Files|*.mid; *.rmi;*.midi|Wave Files|*.wav||"},
                      FilterCase{"Movie",
                                 "AVI Files|*.avi|Movie (MPEG) Files|*.mpg;*.mpeg;*.mpe|QuickTime Movies|*.mov;*.qt|"
                                 "All Files|*.*||"},
                      FilterCase{"text", "All Files|*.*||"}, FilterCase{"", "All Files|*.*||"}));

TEST(BrowseFiltersTest, ThePictureFilterNamesOnlyFormatsTheLibraryReads) {
  const std::vector<std::string> filters = BrowseFilters("image");
  ASSERT_EQ(filters.size(), 1u);
  const std::string& f = filters[0];
  const size_t bar = f.find('|');
  ASSERT_NE(bar, std::string::npos);
  std::string patterns = f.substr(bar + 1, f.find('|', bar + 1) - bar - 1);
  std::stringstream list(patterns);
  int count = 0;
  for (std::string p; std::getline(list, p, ';'); ++count) {
    ASSERT_TRUE(p.starts_with("*.")) << p;
    EXPECT_NE(imaging::TypeFromExtension("x" + p.substr(1)), imaging::FileType::kUnknown) << p;
  }
  EXPECT_GE(count, 6);
}

TEST(BrowseDirTest, TrimsAndCancels) {
  ScriptedFileDialog dialog({std::string("C:\\chosen  "), std::nullopt});
  EXPECT_EQ(BrowseDir("C:\\start\\", "Caption", "Title", "C:\\", &dialog), "C:\\chosen");
  EXPECT_EQ(BrowseDir("C:/start/", "", "", "", &dialog), "");
  ASSERT_EQ(dialog.folderRequests().size(), 2u);
  EXPECT_EQ(dialog.folderRequests()[0].startFolder, "C:\\start");
  EXPECT_EQ(dialog.folderRequests()[0].caption, "Caption");
  EXPECT_EQ(dialog.folderRequests()[0].title, "Title");
  EXPECT_EQ(dialog.folderRequests()[0].rootFolder, "C:\\");
  EXPECT_EQ(dialog.folderRequests()[1].startFolder, "C:/start");
  // Headless: no dialog, no answer.
  EXPECT_EQ(Browse("audio", "", nullptr), "");
  EXPECT_EQ(BrowseDir("C:\\", "", "", "", nullptr), "");
}

// --- processes

TEST(ProcessTableTest, KeepsProgramsItStartedAndEndsOnlyThose) {
  RecordingLauncher launcher;
  launcher.programs = {"viewer"};
  RecordingDocumentOpener opener;
  ProcessTable table(&launcher, &opener);
  EXPECT_EQ(table.Execute("viewer file.txt"), 1);
  EXPECT_EQ(table.Execute("viewer other.txt"), 2);
  ASSERT_EQ(launcher.startCount(), 2u);
  EXPECT_EQ(launcher.started(0).command, (LaunchCommand{"viewer", {"file.txt"}}));
  EXPECT_TRUE(launcher.started(0).resumed);
  EXPECT_EQ(table.last(), 2);
  // A document or an address goes to the desktop's handler and has no handle.
  EXPECT_EQ(table.Execute("http://example.org/page"), 0);
  EXPECT_EQ(opener.opened, (std::vector<std::string>{"http://example.org/page"}));
  opener.answer = false;
  EXPECT_EQ(table.Execute("C:\\docs\\missing.pdf"), std::nullopt);
  EXPECT_EQ(table.Execute("   "), std::nullopt);

  const struct {
    int32_t handle;
    bool ends;
  } kTerminations[] = {{0, false}, {99, false}, {-1, false}, {2, true}, {2, false}, {1, true}};
  for (const auto& t : kTerminations) EXPECT_EQ(table.Terminate(t.handle), t.ends) << t.handle;
  EXPECT_EQ(launcher.started(1).closeWaitMs, 0);
  EXPECT_TRUE(launcher.started(0).ended);
  EXPECT_EQ(table.last(), 0);
  EXPECT_EQ(table.size(), 0u);
}

TEST(ProcessTableTest, ForgetsEndedProgramsAndFailedStarts) {
  RecordingLauncher launcher;
  launcher.programs = {"tool"};
  ProcessTable table(&launcher, nullptr);
  EXPECT_EQ(table.Execute("tool"), 1);
  launcher.Finish(0);
  EXPECT_EQ(table.Execute("tool"), 2);  // a new handle, never the old one again
  EXPECT_EQ(table.size(), 1u);
  EXPECT_FALSE(table.Terminate(1));
  launcher.failNext = ENOENT;
  EXPECT_EQ(table.Execute("tool"), std::nullopt);
  EXPECT_EQ(table.last(), 2);
  // Without an opener a document cannot be shown: said, not swallowed.
  EXPECT_THROW(table.Execute("readme.txt"), KVRunException);
}

TEST(ProcessTableTest, TerminateEndsARealProgram) {
  Scratch s;
  const fs::path pidFile = s / "pid";
  DriveMap drives;
  PosixLauncher launcher(drives);
  ProcessTable table(&launcher, nullptr);
  // The shell tells its process id, then becomes the long sleep.
  auto handle = table.Execute("sh -c \"echo $$ > " + pidFile.string() + "; exec sleep 30\"");
  ASSERT_TRUE(handle);
  EXPECT_GT(*handle, 0);
  pid_t pid = 0;
  for (int i = 0; i < 500 && pid <= 0; ++i) {
    std::ifstream(pidFile) >> pid;
    if (pid <= 0) ::usleep(10000);
  }
  ASSERT_GT(pid, 0);
  EXPECT_EQ(::kill(pid, 0), 0);
  EXPECT_TRUE(table.Terminate(*handle));
  // Ended and reaped: the process is gone.
  EXPECT_EQ(::kill(pid, 0), -1);
  EXPECT_EQ(errno, ESRCH);
  EXPECT_EQ(table.size(), 0u);
}

}  // namespace
}  // namespace kv
