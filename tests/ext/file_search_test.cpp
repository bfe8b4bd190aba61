#include "ext/file_search.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <sys/stat.h>
#include <utime.h>

#include "platform/paths.h"

namespace kv {
namespace {

namespace fs = std::filesystem;

TEST(MatchesWildcard, Table) {
  const struct {
    const char* pattern;
    const char* name;
    bool want;
  } cases[] = {
      {"*.*", "readme", true},  // every name, with or without a dot
      {"*.*", "a.b.c", true},
      {"*.txt", "NOTES.TXT", true},  // without regard to case
      {"*.txt", "notes.txt.bak", false},
      {"*.txt", "txt", false},
      {"?.bmp", "a.bmp", true},
      {"?.bmp", "ab.bmp", false},
      {"a*b*c", "aXbYc", true},
      {"a*b*c", "aXbYcZ", false},
      {"a*b*c", "abbbc", true},
      {"*", "", true},
      {"", "anything", false},  // an empty pattern finds nothing
      {"***", "x", true},
      {"*?*?*", "x", false},
      {"*?*?*", "xy", true},
      {"pic?", "pic", false},
  };
  for (const auto& c : cases) EXPECT_EQ(MatchesWildcard(c.pattern, c.name), c.want) << c.pattern << " " << c.name;
}

TEST(MatchesWildcard, HugePatternsAnswerAtOnce) {
  const std::string stars(10000, '*');
  const std::string letters(10000, 'a');
  std::string mixed;
  for (int i = 0; i < 5000; ++i) mixed += "*a";
  const std::string name(200, 'a');
  const auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(MatchesWildcard(stars, name));
  EXPECT_FALSE(MatchesWildcard(letters, name));
  EXPECT_FALSE(MatchesWildcard(mixed, name));
  EXPECT_TRUE(MatchesWildcard(mixed.substr(0, 400), name));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
}

class SearchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string tmpl = (fs::temp_directory_path() / "kvsearchXXXXXX").string();
    root_ = ::mkdtemp(tmpl.data());
    Write("b.txt", 100);
    Write("A.TXT", 300);
    Write("c.bmp", 200, std::string("BM") + std::string(60, '\0'));
    Write(".hidden.txt", 50);
    Write("draft.txt~", 50);
    Write("sub/d.txt", 400);
    Write("sub/deeper/e.txt", 500);
    Write(".secret/f.txt", 600);
    Write("shape.WMF", 700);
    fs::create_directory_symlink(root_, root_ / "sub" / "loop");  // a loop back to the top
    fs::create_symlink(root_ / "b.txt", root_ / "link.txt");
  }
  void TearDown() override { fs::remove_all(root_); }

  // A file whose last write lies `age` seconds before kNow.
  void Write(const std::string& rel, int64_t age, const std::string& bytes = "x") {
    fs::create_directories((root_ / rel).parent_path());
    std::ofstream(root_ / rel, std::ios::binary) << bytes;
    struct utimbuf t {static_cast<time_t>(kNow - age), static_cast<time_t>(kNow - age)};
    ::utime((root_ / rel).c_str(), &t);
  }
  std::vector<std::string> Search(SearchOptions o) {
    o.now = kNow;
    std::vector<std::string> got;
    SearchFolder(root_, "C:\\T", o, [] { return false; }, [&](FoundFile&& f) { got.push_back(f.path); });
    std::sort(got.begin(), got.end());
    return got;
  }

  static constexpr int64_t kNow = 1'700'000'000;
  fs::path root_;
};

TEST_F(SearchTest, OptionsTable) {
  auto opts = [](const char* pattern, bool sub, bool system, int days = 0,
                 PictureFilter pictures = PictureFilter::kNone) {
    SearchOptions o;
    o.pattern = pattern;
    o.subfolders = sub;
    o.systemFiles = system;
    o.days = days;
    o.pictures = pictures;
    return o;
  };
  using V = std::vector<std::string>;
  const struct {
    const char* name;
    SearchOptions options;
    V want;
  } cases[] = {
      {"top only, links never reported", opts("*.txt", false, false), V{"C:\\T\\A.TXT", "C:\\T\\b.txt"}},
      {"subfolders, the loop not followed", opts("*.txt", true, false),
       V{"C:\\T\\A.TXT", "C:\\T\\b.txt", "C:\\T\\sub\\d.txt", "C:\\T\\sub\\deeper\\e.txt"}},
      {"system files and folders", opts("*.txt", true, true),
       V{"C:\\T\\.hidden.txt", "C:\\T\\.secret\\f.txt", "C:\\T\\A.TXT", "C:\\T\\b.txt", "C:\\T\\sub\\d.txt",
         "C:\\T\\sub\\deeper\\e.txt"}},
      {"temporary names only with system files", opts("*~", false, true), V{"C:\\T\\draft.txt~"}},
      {"written within a day", opts("*.*", true, false, 1),
       V{"C:\\T\\A.TXT", "C:\\T\\b.txt", "C:\\T\\c.bmp", "C:\\T\\shape.WMF", "C:\\T\\sub\\d.txt",
         "C:\\T\\sub\\deeper\\e.txt"}},
      {"empty pattern", opts("", true, true), V{}},
      {"all images", opts("*.*", false, false, 0, PictureFilter::kAllImages), V{"C:\\T\\c.bmp", "C:\\T\\shape.WMF"}},
      {"rasters", opts("*.*", false, false, 0, PictureFilter::kRasters), V{"C:\\T\\c.bmp"}},
      {"vectors", opts("*.*", false, false, 0, PictureFilter::kVectors), V{"C:\\T\\shape.WMF"}},
  };
  for (const auto& c : cases) EXPECT_EQ(Search(c.options), c.want) << c.name;
}

TEST_F(SearchTest, DaysFilterDropsOldFiles) {
  Write("old.txt", 3 * 86400);
  SearchOptions o;
  o.pattern = "*.txt";
  o.days = 2;
  o.now = kNow;
  std::vector<std::string> got;
  SearchFolder(root_, "C:\\T\\", o, [] { return false; }, [&](FoundFile&& f) { got.push_back(f.path); });
  EXPECT_EQ(std::count(got.begin(), got.end(), "C:\\T\\old.txt"), 0);
  EXPECT_EQ(got.size(), 2u);
}

TEST_F(SearchTest, StopEndsTheWalk) {
  SearchOptions o;
  o.subfolders = true;
  int asked = 0;
  size_t n = SearchFolder(root_, "C:\\T", o, [&] { return ++asked > 2; }, [](FoundFile&&) {});
  EXPECT_LE(n, 2u);
}

TEST(SortFound, Orders) {
  const std::vector<FoundFile> files = {
      {"C:\\x\\beta.txt", 30}, {"C:\\y\\Alpha.bmp", 10}, {"C:\\a\\gamma", 20}, {"C:\\b\\alpha.txt", 40}};
  auto names = [](std::vector<FoundFile> f, int option) {
    SortFound(f, option);
    std::vector<std::string> out;
    for (auto& x : f) out.push_back(x.path);
    return out;
  };
  using V = std::vector<std::string>;
  // Names compare without folder and extension, without regard to case;
  // equal names keep their order.
  EXPECT_EQ(names(files, 0), (V{"C:\\y\\Alpha.bmp", "C:\\b\\alpha.txt", "C:\\x\\beta.txt", "C:\\a\\gamma"}));
  EXPECT_EQ(names(files, 1), (V{"C:\\a\\gamma", "C:\\x\\beta.txt", "C:\\y\\Alpha.bmp", "C:\\b\\alpha.txt"}));
  EXPECT_EQ(names(files, 2), (V{"C:\\y\\Alpha.bmp", "C:\\a\\gamma", "C:\\x\\beta.txt", "C:\\b\\alpha.txt"}));
  EXPECT_EQ(names(files, 3), (V{"C:\\b\\alpha.txt", "C:\\x\\beta.txt", "C:\\a\\gamma", "C:\\y\\Alpha.bmp"}));
  EXPECT_EQ(names(files, 4), (V{"C:\\x\\beta.txt", "C:\\y\\Alpha.bmp", "C:\\a\\gamma", "C:\\b\\alpha.txt"}));
}

TEST(ComputerRoots, DrivesOrHomeThenRoot) {
  DriveMap fallback;
  auto roots = ComputerRoots(fallback, "/home/me");
  ASSERT_EQ(roots.size(), 2u);
  EXPECT_EQ(roots[0].folder, "/home/me");
  EXPECT_EQ(roots[0].label, "Z:\\home\\me");
  EXPECT_EQ(roots[1].folder, "/");
  EXPECT_EQ(roots[1].label, "Z:\\");
  EXPECT_NE(std::find(roots[1].skip.begin(), roots[1].skip.end(), fs::path("/home/me")), roots[1].skip.end());
  EXPECT_NE(std::find(roots[1].skip.begin(), roots[1].skip.end(), fs::path("/proc")), roots[1].skip.end());

  DriveMap mapped;
  mapped.Map('D', "/media/cd", DriveType::CdRom);
  mapped.Map('C', "/srv/c", DriveType::Fixed);
  mapped.Map('N', "/net/share", DriveType::Network);
  roots = ComputerRoots(mapped, "/home/me");
  std::vector<std::string> labels;
  for (auto& r : roots) labels.push_back(r.label + "=" + r.folder.string());
  EXPECT_EQ(labels, (std::vector<std::string>{"C:\\=/srv/c", "D:\\=/media/cd"}));
}

}  // namespace
}  // namespace kv
