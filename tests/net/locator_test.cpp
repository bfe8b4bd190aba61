#include "net/locator.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <thread>

#include "tests/net/locator_test_util.h"

namespace kv {
namespace {

using Bytes = std::vector<uint8_t>;
namespace fs = std::filesystem;

class LocatorTest : public testing::Test {
 protected:
  LocatorTest() : locator_(Options()) {}
  LocatorOptions Options() {
    LocatorOptions o;
    o.temporaryFolder = dir_ / "tmp";
    return o;
  }
  std::string Temp() { return locator_.GetTemporaryDirectory(); }
  std::string Archive(const std::vector<KvgInput>& entries, uint32_t key = 0, const std::string& name = "c.kvg") {
    std::string path = dir_ / name;
    test::WriteBytes(path, BuildKvg(entries, key, "demo", true));
    return path;
  }
  std::string UserFile(const std::string& name) {
    std::string path = dir_ / name;
    test::WriteBytes(path, {'u'});
    return path;
  }

  test::ScratchDir dir_;
  CResourceLocator locator_;
};

TEST_F(LocatorTest, TemporaryFolderIsPrivate) {
  std::string temp = Temp();
  ASSERT_FALSE(temp.empty());
  struct stat st;
  ASSERT_EQ(stat(temp.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  // A folder others may write to is not taken.
  std::string open = dir_ / "open";
  ASSERT_EQ(mkdir(open.c_str(), 0777), 0);
  chmod(open.c_str(), 0777);
  std::string error;
  EXPECT_FALSE(PrepareUserFolder(open, &error));
  EXPECT_FALSE(error.empty());
  // Nor a link to our own folder.
  fs::create_directory_symlink(temp, dir_ / "link");
  EXPECT_FALSE(PrepareUserFolder(dir_ / "link"));
}

TEST_F(LocatorTest, BasePaths) {
  struct Case {
    const char* base;
    bool strip;
    const char* expectBase;
    const char* name;
    const char* expectName;
  };
  const Case cases[] = {
      {"http://h/dir/", false, "http://h/dir/", "/a.kvs", "http://h/dir/a.kvs"},  // no doubled slash
      {"http://h/dir/proj.kvp", true, "http://h/dir/", "a.kvs", "http://h/dir/a.kvs"},
      {"http://h/dir", false, "http://h/dir/", "\\a.kvs", "http://h/dir/a.kvs"},
      {"  C:\\games\\proj.kvp ", true, "C:\\games\\", "pics\\a.bmp", "C:\\games\\pics\\a.bmp"},
      {"C:\\games", false, "C:\\games\\", "\\a.bmp", "C:\\games\\a.bmp"},
      {"C:\\games\\", false, "C:\\games\\", "D:\\x.bmp", "D:\\x.bmp"},            // absolute stays
      {"C:\\games\\", false, "C:\\games\\", "\\\\srv\\s\\x.bmp", "\\\\srv\\s\\x.bmp"},
      {"C:\\games\\", false, "C:\\games\\", "http://o/x.bmp", "http://o/x.bmp"},
      {"   ", false, "", "  a.bmp ", "a.bmp"},                                      // empty base
      {"proj.kvp", true, "", "a.bmp", "a.bmp"},                                      // nothing left
  };
  for (const Case& c : cases) {
    locator_.SetBasePath(c.base, c.strip);
    EXPECT_EQ(locator_.BasePath(), c.expectBase) << c.base;
    EXPECT_EQ(locator_.RetrieveResource(c.name, false), c.expectName) << c.base << " + " << c.name;
  }
}

TEST_F(LocatorTest, CacheLooksUpWithoutCaseAndDropsVanishedFiles) {
  std::string file = UserFile("pic.bmp");
  locator_.AddCachedResource("Pics\\Pic.BMP", file);
  EXPECT_EQ(locator_.LookupCached("pics\\pic.bmp"), file);
  EXPECT_EQ(locator_.RetrieveResource("PICS\\PIC.bmp"), file);
  EXPECT_EQ(locator_.FindCachedName(file), "pics\\pic.bmp");
  EXPECT_EQ(locator_.FindCachedName("/elsewhere"), "/elsewhere");
  fs::remove(file);
  EXPECT_EQ(locator_.LookupCached("pics\\pic.bmp"), "");
  EXPECT_EQ(locator_.CacheSize(), 0u);
}

TEST_F(LocatorTest, SentinelAnswersAreNeverCached) {
  locator_.AddCachedResource("a", kAbortAnswer);
  locator_.AddCachedResource("b", kFailAnswer);
  EXPECT_EQ(locator_.CacheSize(), 0u);
}

TEST_F(LocatorTest, ArchiveKeptOpenExtractsOnDemandWithoutCase) {
  std::vector<KvgInput> in = {{"Scene1.kvs", {'s', '1'}, kKvgLzss, true},
                              {"pics\\Logo.BMP", {'b', 'm'}, kKvgPredictor, false},  // 8-bit name
                              {"snd.wav", {'w'}, kKvgLzhuf, true}};
  std::string kvg = Archive(in, 0x55);
  EXPECT_FALSE(locator_.OpenArchive(kvg, 0x56, true));  // wrong key
  ASSERT_TRUE(locator_.OpenArchive(kvg, 0x55, true));
  EXPECT_TRUE(locator_.IsArchiveOpen(kvg));
  EXPECT_EQ(locator_.CacheSize(), 0u);  // nothing extracted yet

  std::string logo = locator_.RetrieveResource("PICS\\logo.bmp");
  EXPECT_EQ(fs::path(logo).parent_path(), Temp());
  EXPECT_EQ(fs::path(logo).filename().string().substr(0, 3), "glm");
  EXPECT_EQ(fs::path(logo).extension(), ".BMP");
  EXPECT_EQ(test::ReadBytes(logo), (Bytes{'b', 'm'}));
  EXPECT_EQ(test::ReadBytes(locator_.RetrieveResource("scene1.KVS")), (Bytes{'s', '1'}));
  EXPECT_EQ(test::ReadBytes(locator_.FindInArchives("SND.WAV")), (Bytes{'w'}));
  EXPECT_EQ(locator_.FindInArchives("c.kvg"), "");  // never looked up

  // The cached copy answers next time; a deleted copy is extracted again.
  EXPECT_EQ(locator_.RetrieveResource("pics\\logo.bmp"), logo);
  fs::remove(logo);
  std::string again = locator_.RetrieveResource("pics\\logo.bmp");
  EXPECT_NE(again, logo);
  EXPECT_EQ(test::ReadBytes(again), (Bytes{'b', 'm'}));

  locator_.CloseArchive(kvg);
  EXPECT_FALSE(locator_.IsArchiveOpen(kvg));
  EXPECT_EQ(locator_.FindInArchives("snd.wav"), "");
}

TEST_F(LocatorTest, ArchiveExtractedWholeAndRolledBackOnFailure) {
  std::string kvg = Archive({{"a.txt", {'a'}, kKvgStored, true}, {"b.txt", {'b'}, kKvgLzhuf, false}}, 9);
  ASSERT_TRUE(locator_.OpenArchive(kvg, 9, false));
  EXPECT_FALSE(locator_.IsArchiveOpen(kvg));
  EXPECT_EQ(test::ReadBytes(locator_.LookupCached("A.TXT")), (Bytes{'a'}));
  EXPECT_EQ(test::ReadBytes(locator_.LookupCached("b.txt")), (Bytes{'b'}));
  locator_.Reset();
  EXPECT_TRUE(test::ListDir(Temp()).empty());

  // The second entry's LZHUF length says 4 GB: the whole compilation fails
  // and leaves neither files nor cache entries.
  Bytes archive = BuildKvg({{"a.txt", {'a'}, kKvgStored, false}, {"b.txt", {0xFF, 0xFF, 0xFF, 0xFF, 0x00}, kKvgStored, false}}, 0, "", false);
  archive[48 + 16 + 5 + 1 + 1] = 0x50;  // entry 2 flags := 0x5000
  test::WriteBytes(dir_ / "bad.kvg", archive);
  EXPECT_FALSE(locator_.OpenArchive(dir_ / "bad.kvg", 0, false));
  EXPECT_EQ(locator_.CacheSize(), 0u);
  EXPECT_TRUE(test::ListDir(Temp()).empty());
  // Kept open, the bad entry fails alone, again leaving nothing.
  ASSERT_TRUE(locator_.OpenArchive(dir_ / "bad.kvg", 0, true));
  EXPECT_EQ(locator_.FindInArchives("b.txt"), "");
  EXPECT_EQ(locator_.CacheSize(), 0u);
  EXPECT_TRUE(test::ListDir(Temp()).empty());
}

TEST_F(LocatorTest, HostileEntryNamesStayInTheTemporaryFolder) {
  const std::vector<std::string> names = {"..\\..\\evil.sh", "../../evil2.sh", "x.\\..\\..\\evil3", "a/b/../../../e.s/h",
                                          "..", "/etc/passwd", "pic.b$m/p", "long.abcdefghijklmnopqrstuvwxyz"};
  std::vector<KvgInput> in;
  for (const std::string& n : names) in.push_back({n, {'x'}, kKvgStored, true});
  std::string kvg = Archive(in, 0, "hostile.kvg");
  ASSERT_FALSE(Temp().empty());
  const auto before = test::ListDir(dir_.path());
  ASSERT_TRUE(locator_.OpenArchive(kvg, 0, false));
  EXPECT_EQ(test::ListDir(dir_.path()), before);  // nothing new beside the temporary folder
  const auto files = test::ListDir(Temp());
  ASSERT_EQ(files.size(), names.size());
  for (const std::string& f : files) {
    EXPECT_EQ(f.substr(0, 3), "glm") << f;
    for (char c : f.substr(3)) EXPECT_TRUE(std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '_') << f;
  }
  EXPECT_EQ(fs::path(locator_.LookupCached("..\\..\\evil.sh")).extension(), ".sh");
  EXPECT_EQ(fs::path(locator_.LookupCached("x.\\..\\..\\evil3")).extension(), "");
  EXPECT_EQ(fs::path(locator_.LookupCached("pic.b$m/p")).extension(), "");
}

TEST_F(LocatorTest, ResetDeletesOnlyFilesInsideTheTemporaryFolder) {
  std::string user = UserFile("mine.txt");
  locator_.AddCachedResource("mine", user);
  // A path that names the temporary folder but leads out of it.
  locator_.AddCachedResource("sneaky", Temp() + "/../mine.txt");
  ASSERT_TRUE(locator_.OpenArchive(Archive({{"a.txt", {'a'}, kKvgStored, true}}), 0, false));
  std::string extracted = locator_.LookupCached("a.txt");
  locator_.SetBasePath("http://h/", false);
  locator_.Reset();
  EXPECT_TRUE(fs::exists(user));
  EXPECT_FALSE(fs::exists(extracted));
  EXPECT_EQ(locator_.CacheSize(), 0u);
  EXPECT_EQ(locator_.BasePath(), "");
}

TEST_F(LocatorTest, PluginModeCachesOnlyTemporaryFiles) {
  locator_.SetStandAlone(false);
  LocatorProject project;
  project.open = true;
  project.isCompilation = true;
  project.compilationDir = dir_.path() + "/";
  locator_.SetProject(project);
  locator_.AddCachedResource("beside", UserFile("beside.bmp"));
  EXPECT_EQ(locator_.CacheSize(), 0u);
  ASSERT_TRUE(locator_.OpenArchive(Archive({{"a.txt", {'a'}, kKvgStored, true}}), 0, true));
  std::string a = locator_.FindInArchives("a.txt");
  EXPECT_FALSE(a.empty());
  EXPECT_EQ(locator_.LookupCached("a.txt"), a);
  // A file of the compilation's own folder is not cached, even there.
  project.compilationDir = Temp() + "/";
  locator_.SetProject(project);
  auto made = TempFolder(Temp()).CreateUnique("glm", ".bmp");
  ASSERT_TRUE(made);
  close(made->fd);
  locator_.AddCachedResource("c.bmp", made->path);
  EXPECT_EQ(locator_.LookupCached("c.bmp"), "");
  // In stand-alone mode both are cached.
  locator_.SetStandAlone(true);
  locator_.AddCachedResource("c.bmp", made->path);
  locator_.AddCachedResource("beside", dir_ / "beside.bmp");
  EXPECT_EQ(locator_.LookupCached("c.bmp"), made->path);
  EXPECT_EQ(locator_.LookupCached("beside"), dir_ / "beside.bmp");
}

class FakeRequestor : public RemoteRequestor {
 public:
  std::string PluginGetRemoteResource(const std::string& name, int* found) override {
    asked.push_back(name);
    if (answer == kAbortAnswer || answer == kFailAnswer) {
      if (found) *found = 0;
    }
    return answer;
  }
  std::vector<std::string> asked;
  std::string answer;
};

TEST_F(LocatorTest, HostedFetchRulesAndSentinels) {
  FakeRequestor requestor;
  locator_.SetRequestor(&requestor);
  locator_.SetStandAlone(false);
  locator_.SetBasePath("http://h/p/", false);
  struct Case {
    const char* name;
    bool compilation;
    uint8_t flags;
    bool asked;
  };
  const Case cases[] = {
      {"scene.kvs", false, 0, true},
      {"demo.kvb", false, 0, false},   // standbys need bit 1
      {"demo.kvb", false, 2, true},
      {"demo.kvb", true, 2, false},    // never from a compilation
      {"other.ebc", false, 0, true},   // Orlan code of another name
      {"Demo.ebc", false, 0, false},   // the project's own needs bit 0
      {"demo.ebc", false, 1, true},
      {"demo.ebc", true, 1, false},    // never for a compilation
      {"C:\\local.bmp", false, 0, false},  // drive paths are not fetched
      {"\\\\srv\\x.bmp", false, 0, false},
  };
  for (const Case& c : cases) {
    LocatorProject project;
    project.open = true;
    project.isCompilation = c.compilation;
    project.fetchFlags = c.flags;
    project.projectFileName = "C:\\work\\demo.kvp";
    locator_.SetProject(project);
    requestor.asked.clear();
    locator_.RetrieveResource(c.name);
    EXPECT_EQ(!requestor.asked.empty(), c.asked) << c.name << " flags " << int(c.flags);
  }
  // A refusal is returned to the caller, clears `found` and is not cached.
  requestor.answer = kAbortAnswer;
  int found = 1;
  EXPECT_EQ(locator_.RetrieveResource("x.bmp", true, &found), kAbortAnswer);
  EXPECT_EQ(found, 0);
  requestor.answer = kFailAnswer;
  EXPECT_EQ(locator_.RetrieveResource("y.bmp", true, &found), kFailAnswer);
  EXPECT_EQ(locator_.CacheSize(), 0u);
  // A "file://" base fetches nothing.
  locator_.SetLocalBase(true);
  requestor.asked.clear();
  EXPECT_EQ(locator_.RetrieveResource("z.bmp", true, &found), "http://h/p/z.bmp");
  EXPECT_TRUE(requestor.asked.empty());
  EXPECT_EQ(found, 1);
}

class SwapExpander : public NameExpander {
 public:
  std::string ExpandNames(std::string_view text, int maxPasses) override {
    passes = maxPasses;
    std::string s(text);
    size_t at = s.find("%CACHE%");
    if (at != std::string::npos) s.replace(at, 7, "C:\\cache\\");
    return s;
  }
  int passes = 0;
};

TEST_F(LocatorTest, NamesAreExpandedFirst) {
  SwapExpander expander;
  locator_.SetNameExpander(&expander);
  locator_.SetBasePath("C:\\base", false);
  EXPECT_EQ(locator_.RetrieveResource("%CACHE%a.bmp"), "C:\\cache\\a.bmp");
  EXPECT_EQ(expander.passes, 255);
  EXPECT_EQ(locator_.RetrieveResource(""), "");
}

TEST_F(LocatorTest, ThreadsResolveConcurrently) {
  std::vector<KvgInput> in;
  for (int i = 0; i < 8; ++i) in.push_back({"f" + std::to_string(i) + ".txt", Bytes(500, uint8_t('0' + i)), kKvgLzss, true});
  ASSERT_TRUE(locator_.OpenArchive(Archive(in), 0, true));
  std::vector<std::thread> threads;
  std::atomic<int> wrong{0};
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int k = 0; k < 50; ++k) {
        int i = (t + k) % 8;
        std::string path = locator_.RetrieveResource("F" + std::to_string(i) + ".TXT");
        Bytes got = test::ReadBytes(path);
        // Another thread may have found the file missing and extracted anew.
        if (!got.empty() && got != Bytes(500, uint8_t('0' + i))) ++wrong;
        if (k % 10 == 0) fs::remove(path);
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(wrong.load(), 0);
  EXPECT_LE(locator_.CacheSize(), 8u);
}

TEST(SafeExtension, LastComponentOnly) {
  struct Case {
    const char* name;
    const char* ext;
  };
  const Case cases[] = {{"a.bmp", ".bmp"},        {"dir.x\\file", ""},  {"a/b.c/d.Wav", ".Wav"},
                        {"..\\..\\e.sh", ".sh"}, {"x.b$d", ".bd"},     {"noext", ""},
                        {"t.", ""},              {"a.$$", ""},        {"a.abcdefghijklmnopqrst", ".abcdefghijklmnop"}};
  for (const Case& c : cases) EXPECT_EQ(SafeExtension(c.name), c.ext) << c.name;
}

}  // namespace
}  // namespace kv
