#include "persist/document.h"
#include "persist/project_session.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>

#include "persist/hooks.h"
#include "persist/project_tree.h"
#include "platform/message_box.h"
#include "tests/persist/bytes.h"

namespace kv {
namespace {

using test::Bytes;

// The header every layout below starts with: version, leadLong 20, leadByte
// 0, formatTag 0x4401 with project, background and scene flags, six header
// flags, the header word and the three strings.
Bytes Header(uint16_t version, bool project, const std::string& group = "") {
  Bytes b;
  b.u16(version).u32(20).u8(0).u16(0x4401);
  b.u8(project ? 1 : 0).u8(0).u8(project ? 0 : 1);
  b.raw({0, 0, 3, 0, 0, 0});
  b.u32(0x11223344).str(group).str("second").str("third");
  return b;
}

// A tree of one root node (version 4) named "stored.kvp".
Bytes OneNodeTree() {
  Bytes b;
  b.u16(1).newClass("CProjNode").u16(4).str("root desc").str("note").str("main.ebc").u16(9);
  b.u8(0).u16(0).str("stored.kvp");
  return b;
}

// Version-1 settings: clientColor, stageStyle, stage rectangle, showCaption, caption.
Bytes V1Settings() {
  Bytes b;
  b.u32(0x00112233).u32(0x00040001).u32(10).u32(20).u32(650).u32(500).u32(0).str("My Stage");
  return b;
}
Bytes V2Settings() {
  Bytes b;
  b.u32(0x00445566).u32(800).u32(600).u32(0);
  return b;
}
Bytes V3Settings() {
  Bytes b;
  b.u32(1265).u32(static_cast<uint32_t>(-5)).u32(7).u32(2);
  return b;
}
// Control tables with one narrow record and one wide record (0xFFFE form).
Bytes V4Tables() {
  Bytes b;
  b.u32(44);
  b.u32(1).u32(100).u32(200).u32(1).u32(2).u32(3).chars("OK").raw({0});
  for (int i = 0; i < 21; ++i) b.u8(0);  // 2 characters, NUL padding to 21, 3 padding bytes
  b.u32(1).u32(5).u32(6).u32(7).u32(8).u32(9).u16(0xFFFE).u16('H').u16(0x20AC);
  for (int i = 0; i < 19; ++i) b.u16(0);
  b.u8(0);  // the wide form's one padding byte: 20 + 2 + 42 + 1 = 65 bytes
  return b;
}
Bytes V5Part() {
  Bytes b;
  // Collection record version 3: two bytes, a u32, four u32, four strings, a list.
  b.u16(3).u8(1).u8(2).u32(3).u32(4).u32(5).u32(6).u32(7).str("a").str("b").str("c").str("d").u32(1).str("e");
  b.u16(0x0102).u8(1).u8(9);  // pageWord, presentationOption, auxFlag
  return b;
}
Bytes V6Part(uint32_t exitKey) {
  Bytes b;
  b.u8(1).u32(exitKey);
  return b;
}
Bytes V7Part() {
  Bytes b;
  b.u16(0x0707).u8(2).u8(3).u8(1);
  return b;
}
Bytes V8Part() {
  Bytes b;
  b.u8(0).str("back.bmp");
  return b;
}

Bytes Project(uint16_t version, uint32_t exitKey = 113) {
  Bytes b = Header(version, true);
  b.u16(0);  // no inserts
  b.append(OneNodeTree());
  if (version >= 8) b.append(V8Part());
  if (version >= 7) b.append(V7Part());
  if (version >= 6) b.append(V6Part(exitKey));
  if (version >= 5) b.append(V5Part());
  if (version >= 4) b.append(V4Tables());
  if (version >= 3) b.append(V3Settings());
  if (version >= 2) b.append(V2Settings());
  b.append(V1Settings());
  return b;
}

std::shared_ptr<CStgDoc> Load(const Bytes& b, const std::string& name = "proj.kvp",
                              const ProjectSession* session = nullptr) {
  return LoadDocument(std::span(b.b.data(), b.b.size()), name, false, session);
}

int CauseOf(const Bytes& b) {
  try {
    Load(b);
  } catch (const CArchiveException& e) {
    return e.m_cause;
  }
  return -1;
}

class DocumentTest : public ::testing::Test {
 protected:
  void SetUp() override {
    RegisterPersistClasses();
    SetMessageBoxes(&box_);
  }
  void TearDown() override { SetMessageBoxes(nullptr); }
  ScriptedMessageBox box_;
};

TEST_F(DocumentTest, ScriptEndsAfterItems) {
  Bytes b = Header(8, false, "Globals");
  b.u16(0);
  auto doc = Load(b, "scene.kvs");
  EXPECT_EQ(doc->loadedVersion, 8);
  EXPECT_EQ(doc->isScene, 1);
  EXPECT_EQ(doc->headerFlags[2], 3);
  EXPECT_EQ(doc->headerWord, 0x11223344u);
  EXPECT_EQ(doc->defaultGroup, "Globals");
  EXPECT_EQ(doc->thirdText, "third");
  EXPECT_TRUE(doc->projectTree.empty());
  // Nothing more is read: the same bytes with a trailing settings block load the same.
  EXPECT_EQ(doc->Store(), b.b);
}

TEST_F(DocumentTest, HeaderWithoutExtendedTag) {
  Bytes b;
  b.u16(8).u32(static_cast<uint32_t>(-1)).u8(7).u16(0x1234).u16(0);
  auto doc = Load(b, "old.kvs");
  EXPECT_EQ(doc->formatTag, 0x1234);
  EXPECT_EQ(doc->positiveLead, 0);
  EXPECT_EQ(doc->leadByte, 7);
  EXPECT_EQ(doc->isProject, 0);
  EXPECT_EQ(doc->Store(), b.b);
}

TEST_F(DocumentTest, Version8ProjectReadsEveryField) {
  auto doc = Load(Project(8));
  const ProjectSettings& s = doc->settings;
  EXPECT_EQ(s.tileBackImage, 0);
  EXPECT_EQ(s.backImage, "back.bmp");
  EXPECT_EQ(doc->settingsWord, 0x0707);
  EXPECT_EQ(s.stageMode, 2);
  EXPECT_EQ(s.stageShape, 3);
  EXPECT_EQ(s.saverOption, 1);
  EXPECT_EQ(s.keepCaptionOnRestart, 1);
  EXPECT_EQ(s.exitKey, 113u);
  EXPECT_EQ(doc->collection.values[3], 7u);
  EXPECT_EQ(doc->collection.list, std::vector<std::string>{"e"});
  EXPECT_EQ(doc->pageWord, 0x0102);
  EXPECT_EQ(s.presentationOption, 1);
  EXPECT_EQ(s.auxFlag, 9);
  ASSERT_EQ(doc->controlTables.first.size(), 1u);
  EXPECT_EQ(doc->controlTables.first[0].text, "OK");
  ASSERT_EQ(doc->controlTables.second.size(), 1u);
  EXPECT_TRUE(doc->controlTables.second[0].wide);
  EXPECT_EQ(doc->controlTables.second[0].text, "H\x80");
  EXPECT_EQ(s.placement, 1265u);
  EXPECT_EQ(s.placementX, -5);
  EXPECT_EQ(s.placementY, 7);
  EXPECT_EQ(s.placementOption, 2u);
  EXPECT_EQ(s.frameColor, 0x00445566u);
  EXPECT_EQ(s.clientWidth, 800u);
  EXPECT_EQ(s.clientHeight, 600u);
  EXPECT_EQ(s.maximizeStage, 0u);
  EXPECT_EQ(s.clientColor, 0x00112233u);
  EXPECT_EQ(s.stageStyle, 0x00040001u);
  EXPECT_EQ(s.stageRight, 650);
  EXPECT_EQ(s.showCaption, 0u);
  EXPECT_EQ(s.stageCaption, "My Stage");
  // The root node takes the project file's own name.
  ASSERT_EQ(doc->projectTree.size(), 1u);
  EXPECT_EQ(doc->projectTree[0]->path, "proj.kvp");
  EXPECT_EQ(doc->projectTree[0]->orlanFile, "main.ebc");
  EXPECT_EQ(doc->projectTree[0]->extraWord, 9);
  // And the session's settings are the project's.
  ProjectSession session;
  Load(Project(8), "proj.kvp", &session);
  EXPECT_EQ(session.loadedSettings.stageCaption, "My Stage");
}

TEST_F(DocumentTest, ExitKeyZeroMeansEscape) {
  auto doc = Load(Project(8, 0));
  EXPECT_EQ(doc->settings.exitKey, 27u);
}

TEST_F(DocumentTest, OlderVersionsTakeDefaults) {
  ProjectSession session;
  Load(Project(8), "proj.kvp", &session);  // leaves non-default values behind in the session
  struct Case {
    uint16_t version;
    uint8_t stageMode;
    uint32_t exitKey;
    uint8_t tile;
    uint32_t placement;
    uint32_t clientWidth;
  } cases[] = {
      {7, 2, 113, 1, 1265, 800},
      {6, 0, 113, 1, 1265, 800},
      {5, 0, 27, 1, 1265, 800},
      {4, 0, 27, 1, 1265, 800},
      {3, 0, 27, 1, 1265, 800},
      {2, 0, 27, 1, 1266, 800},
      {1, 0, 27, 1, 1266, 640},  // a version-1 canvas is the stage rectangle: 650 - 10
  };
  for (const Case& c : cases) {
    auto doc = Load(Project(c.version), "proj.kvp", &session);
    const ProjectSettings& s = doc->settings;
    EXPECT_EQ(doc->loadedVersion, c.version);
    EXPECT_EQ(s.stageMode, c.stageMode) << c.version;
    EXPECT_EQ(s.exitKey, c.exitKey) << c.version;
    EXPECT_EQ(s.tileBackImage, c.tile) << c.version;
    EXPECT_EQ(s.backImage, "") << c.version;
    EXPECT_EQ(s.placement, c.placement) << c.version;
    EXPECT_EQ(s.clientWidth, c.clientWidth) << c.version;
    if (c.version < 3) {
      EXPECT_EQ(s.placementX, 0) << c.version;
      EXPECT_EQ(s.placementOption, 1u) << c.version;
    }
    if (c.version < 2) {
      EXPECT_EQ(s.clientHeight, 480u) << c.version;
    }
    if (c.version < 6) {
      EXPECT_EQ(s.keepCaptionOnRestart, 0) << c.version;
    }
    if (c.version < 5) {
      EXPECT_EQ(s.presentationOption, 0) << c.version;
    }
    EXPECT_EQ(s.stageCaption, "My Stage");
    EXPECT_EQ(session.loadedSettings.stageMode, c.stageMode) << c.version;
  }
}

TEST_F(DocumentTest, WideControlRecordIs65Bytes) {
  // Project version 4 ends with the version 1 block right after the tables;
  // a wrong record length would misread the caption.
  auto doc = Load(Project(4));
  EXPECT_EQ(doc->settings.stageCaption, "My Stage");
  EXPECT_EQ(doc->controlTables.second[0].values[4], 9);
}

TEST_F(DocumentTest, BadLayouts) {
  Bytes v9 = Project(8);
  v9.b[0] = 9;
  EXPECT_EQ(CauseOf(v9), CArchiveException::badSchema);
  Bytes v0 = Project(8);
  v0.b[0] = 0;
  EXPECT_EQ(CauseOf(v0), CArchiveException::badSchema);
  Bytes truncated = Project(8);
  truncated.b.resize(truncated.b.size() - 3);
  EXPECT_EQ(CauseOf(truncated), CArchiveException::endOfFile);
  // A control table whose record size is not 44.
  Bytes tables = Header(4, true);
  tables.u16(0).append(OneNodeTree()).u32(45);
  EXPECT_EQ(CauseOf(tables), CArchiveException::badSchema);
  // A control-table count larger than the file.
  Bytes lie = Header(4, true);
  lie.u16(0).append(OneNodeTree()).u32(44).u32(0x10000000);
  EXPECT_EQ(CauseOf(lie), CArchiveException::endOfFile);
  // A collection record of version 4.
  Bytes coll = Header(5, true);
  coll.u16(0).append(OneNodeTree()).u16(4);
  EXPECT_EQ(CauseOf(coll), CArchiveException::badSchema);
  // A tree node of version 5.
  Bytes node = Header(8, true);
  node.u16(0).u16(1).newClass("CProjNode").u16(5);
  EXPECT_EQ(CauseOf(node), CArchiveException::badSchema);
  // An item of a class the registry does not know.
  Bytes item = Header(8, false);
  item.u16(1).newClass("CNoSuchInsert");
  EXPECT_EQ(CauseOf(item), CArchiveException::badClass);
}

TEST_F(DocumentTest, OldNodeVersions) {
  Bytes b = Header(8, true);
  b.u16(0).u16(2).newClass("CProjNode").u16(1).u8(0).u16(0).str("root");
  b.u16(0x8001).u16(2).u8(4).u16(1).str("scene1");  // version 2: no texts, no extension added
  b.append(V8Part()).append(V7Part()).append(V6Part(27)).append(V5Part()).append(V4Tables());
  b.append(V3Settings()).append(V2Settings()).append(V1Settings());
  auto doc = LoadDocument(std::span(b.b.data(), b.b.size()), "proj.kvp", /*fromCompilation=*/true);
  ASSERT_EQ(doc->projectTree.size(), 2u);
  EXPECT_EQ(doc->projectTree[0]->path, "root.kvs");  // a version-1 node gets ".kvs"; compilations keep the path
  EXPECT_EQ(doc->projectTree[0]->nodeVersion, 1);
  EXPECT_EQ(doc->projectTree[1]->path, "scene1");
  EXPECT_EQ(doc->projectTree[1]->extraWord, 0);
  EXPECT_EQ(doc->projectTree[1]->level, 1);
}

TEST_F(DocumentTest, StoreWritesWhatTheLoaderReads) {
  Bytes b = Project(8);
  auto doc = Load(b, "stored.kvp");  // the root keeps the name it was stored with
  EXPECT_EQ(doc->Store(), b.b);
}

TEST_F(DocumentTest, SaveDocumentReplacesTheFileAtomically) {
  auto dir = std::filesystem::temp_directory_path() / ("kvsave" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  auto path = (dir / "stored.kvp").string();
  { std::ofstream(path) << "old contents"; }
  auto doc = Load(Project(5), "stored.kvp");
  ASSERT_TRUE(doc->SaveDocument(path));
  std::ifstream in(path, std::ios::binary);
  std::vector<uint8_t> written((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  auto again = LoadDocument(std::span(written.data(), written.size()), "stored.kvp");
  EXPECT_EQ(again->loadedVersion, 8);  // written at the newest version
  EXPECT_EQ(again->Store(), written);
  EXPECT_EQ(again->settings.placementX, -5);
  EXPECT_EQ(again->collection.texts[2], "c");
  // No temporary file is left beside it.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir), {}), 1);
  // A folder that cannot be written: false, and the failure is reported.
  EXPECT_FALSE(doc->SaveDocument((dir / "missing" / "x.kvp").string()));
  EXPECT_FALSE(box_.shown().empty());
  std::filesystem::remove_all(dir);
}

TEST_F(DocumentTest, ClassifyFile) {
  const std::pair<const char*, int> cases[] = {
      {"a.avi", 1},    {"A.MOV", 2},     {"x.cel", 3},   {"pic.Bmp", 4},    {"x.rle", 4},   {"x.gif", 6},
      {"x.pcc", 7},    {"x.tif", 8},     {"x.jpg", 9},   {"x.wav", 10},     {"x.rmi", 11},  {"x.exe", 13},
      {"x.cpl", 14},   {"x.ani", 15},    {"x.emf", 17},  {"x.fss", 19},     {"x.kvp", 20},  {"x.kvb", 21},
      {"x.ebs", 22},   {"x.ebc", 23},    {"m.3dmf", 24}, {"C:\\d.x\\v.mpe", 25}, {"noext", 0}, {"x.", 0},
      {"x.tiff", 0},   {"x.M", 0},       {"x.kv", 0},    {"x. wav ", 10},
  };
  for (auto [path, code] : cases) EXPECT_EQ(ClassifyFile(path), code) << path;
}

TEST_F(DocumentTest, IsStandbysFile) {
  EXPECT_TRUE(CStgDoc::IsStandbysFile("C:\\p\\Proj.KVB"));
  EXPECT_FALSE(CStgDoc::IsStandbysFile("proj.kvp"));
}

TEST_F(DocumentTest, CloneLinksSourceAndCopy) {
  auto doc = Load(Header(8, false, "G").u16(0));
  doc->pathName = "scene.kvs";
  auto copy = CStgDoc::Clone(doc, false);
  EXPECT_EQ(copy->sourceDoc.lock(), doc);
  EXPECT_EQ(doc->threadCopy.lock(), copy);
  EXPECT_EQ(copy->defaultGroup, "G");
  EXPECT_EQ(copy->isScene, 1);
  EXPECT_EQ(copy->pathName, "scene.kvs");
  copy.reset();  // destroying the copy clears the source's link
  EXPECT_TRUE(doc->threadCopy.expired());
}

TEST_F(DocumentTest, NewFileFormatReport) {
  ReportFileFailure(CArchiveException(CArchiveException::badSchema, "x"), "proj.kvp");
  ASSERT_EQ(box_.shown().size(), 1u);
  EXPECT_EQ(box_.shown()[0].text,
            "The file 'proj.kvp' could not be processed because it is a new file format.\r\n\r\nPlease upgrade to "
            "a newer version of the Korvel Runtime Player or check the file for validity.");
  ReportFileFailure(CArchiveException(CArchiveException::genericException, "x.kvp"), "x.kvp");
  EXPECT_EQ(box_.shown()[1].text, "An unknown error occurred while accessing x.kvp.");
}

}  // namespace
}  // namespace kv
