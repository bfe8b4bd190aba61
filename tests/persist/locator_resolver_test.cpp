// OpenProject through the resource locator: compilations of every method, an
// archive already open, a corrupt archive, a project missing from it.
#include "persist/locator_resolver.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <unistd.h>

#include "net/kvg_archive.h"
#include "persist/document.h"
#include "persist/open_project.h"
#include "persist/project_session.h"
#include "persist/project_tree.h"
#include "platform/message_box.h"
#include "platform/paths.h"

namespace kv {
namespace {

// A small project stored by the document writer itself.
std::vector<uint8_t> ProjectBytes(const std::string& caption) {
  CStgDoc doc;
  doc.isProject = 1;
  doc.settings.stageCaption = caption;
  auto root = std::make_shared<CProjNode>();
  root->path = "inside.kvp";
  root->kind = kNodeProject;
  root->level = 0;
  doc.projectTree.push_back(root);
  return doc.Store();
}

class CountingResolver : public LocatorResolver {
 public:
  using LocatorResolver::LocatorResolver;
  int opens = 0;
  bool OpenArchive(const std::string& path, int key) override {
    ++opens;
    return LocatorResolver::OpenArchive(path, key);
  }
};

class ResolverTest : public ::testing::Test {
 protected:
  void SetUp() override {
    RegisterPersistClasses();
    char cwd[4096];
    old_ = ::getcwd(cwd, sizeof cwd);
    dir_ = std::filesystem::temp_directory_path() / ("kvresolver" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir_ / "temp");
    // The locator only trusts a private folder.
    std::filesystem::permissions(dir_ / "temp", std::filesystem::perms::owner_all);
    ASSERT_EQ(::chdir(dir_.c_str()), 0);
    LocatorOptions options;
    options.temporaryFolder = (dir_ / "temp").string();
    locator_ = std::make_unique<CResourceLocator>(options);
    resolver_ = std::make_unique<CountingResolver>(*locator_);
    session_ = std::make_unique<ProjectSession>(*resolver_);
    SetMessageBoxes(&box_);
  }
  void TearDown() override {
    SetMessageBoxes(nullptr);
    session_.reset();
    resolver_.reset();
    locator_.reset();
    ASSERT_EQ(::chdir(old_.c_str()), 0);
    std::filesystem::remove_all(dir_);
  }
  void Write(const std::string& name, const std::vector<uint8_t>& bytes) {
    std::ofstream(dir_ / name, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  }
  std::string old_;
  std::filesystem::path dir_;
  std::unique_ptr<CResourceLocator> locator_;
  std::unique_ptr<CountingResolver> resolver_;
  std::unique_ptr<ProjectSession> session_;
  ScriptedMessageBox box_;
};

TEST_F(ResolverTest, CompilationOfEachMethodOpens) {
  for (uint32_t method : {kKvgStored, kKvgPredictor, kKvgLzss, kKvgLzhuf}) {
    std::vector<KvgInput> entries{{"inside.kvp", ProjectBytes("method " + std::to_string(method)), method, true}};
    Write("pack.kvg", BuildKvg(entries, 0, "demo", true));
    ASSERT_TRUE(OpenProject(*session_, "pack.kvg", "inside.kvp")) << method << (box_.shown().empty() ? "" : box_.shown().back().title + ": " + box_.shown().back().text);
    EXPECT_EQ(session_->project->settings.stageCaption, "method " + std::to_string(method));
    EXPECT_TRUE(session_->opened.compilation);
    EXPECT_EQ(session_->opened.compilationName, "inside.kvg");
    // The file read is an extracted "glm" file in the locator's folder.
    EXPECT_NE(session_->projectPath.find("glm"), std::string::npos) << session_->projectPath;
    EXPECT_EQ(session_->standbysPath, "inside.kvb");
    // In a compilation the root keeps its stored name.
    EXPECT_EQ(session_->project->projectTree[0]->path, "inside.kvp");
    // Drive C: is the folder of the .kvg, not the one its entries went to.
    EXPECT_EQ(ResolveHostPath("C:\\media.bmp", session_->drives, "/"), dir_.string() + "/media.bmp");
    CloseDocument(*session_, session_->project);
  }
  EXPECT_TRUE(box_.shown().empty());
}

TEST_F(ResolverTest, ArchiveAlreadyOpenIsNotOpenedAgain) {
  Write("pack.kvg", BuildKvg({{"pack.kvp", ProjectBytes("x"), kKvgLzss, false}}, 0, "", false));
  ASSERT_TRUE(locator_->OpenArchive("pack.kvg", 0, true));
  ASSERT_TRUE(OpenProject(*session_, "pack.kvg", ""));
  EXPECT_EQ(resolver_->opens, 0);
  EXPECT_EQ(session_->project->settings.stageCaption, "x");
}

TEST_F(ResolverTest, CorruptCompilationIsFatal) {
  Write("bad.kvg", {'*', 'P', 'S', 'B', 1, 2, 3});
  EXPECT_THROW(OpenProject(*session_, "bad.kvg", ""), FatalProjectError);
  ASSERT_EQ(box_.shown().size(), 1u);
  EXPECT_EQ(box_.shown()[0].text, "Unable to prepare .KVG file For: bad.kvp");
  EXPECT_EQ(session_->project, nullptr);
}

TEST_F(ResolverTest, ProjectMissingFromCompilation) {
  Write("pack.kvg", BuildKvg({{"other.kvp", ProjectBytes("x"), kKvgStored, true}}, 0, "", true));
  EXPECT_FALSE(OpenProject(*session_, "pack.kvg", ""));
  ASSERT_EQ(box_.shown().size(), 1u);
  EXPECT_EQ(box_.shown()[0].title, "Unable to locate Korvel script");
  EXPECT_EQ(box_.shown()[0].text, "pack.kvp -> pack.kvp\r in Consolidated File: pack.kvg");
}

TEST_F(ResolverTest, OpeningAnotherProjectResetsTheCache) {
  Write("pack.kvg", BuildKvg({{"pack.kvp", ProjectBytes("first"), kKvgStored, true}}, 0, "", true));
  ASSERT_TRUE(OpenProject(*session_, "pack.kvg", ""));
  std::string extracted = session_->projectPath;
  ASSERT_TRUE(std::filesystem::exists(extracted));
  Write("plain.kvp", ProjectBytes("second"));
  ASSERT_TRUE(OpenProject(*session_, dir_.string() + "/plain.kvp", ""));
  EXPECT_EQ(session_->project->settings.stageCaption, "second");
  EXPECT_FALSE(std::filesystem::exists(extracted));  // the last project's extracted file is gone
  EXPECT_FALSE(locator_->IsArchiveOpen("pack.kvg"));
}

}  // namespace
}  // namespace kv
