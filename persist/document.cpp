#include "persist/document.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

#include "persist/field_walk.h"
#include "persist/hooks.h"
#include "persist/project_session.h"
#include "persist/project_tree.h"
#include "platform/byte_reader.h"
#include "platform/files.h"
#include "platform/message_box.h"
#include "platform/paths.h"
#include "platform/string_table.h"
#include "platform/text.h"

namespace kv {

template <class W>
void CollectionRecord::Walk(W& w) {
  const uint16_t v = w.Version("recordVersion", recordVersion, 3, 1, "collection record");
  if (v >= 3) {
    w("byteA", byteA);
    w("byteB", byteB);
  }
  if (v >= 2) w("lead", lead);
  w("values", values);
  w("texts", texts);
  w.Records("list", nullptr, list, CountForm::kU32, 1, [&w](std::string& s) { w(nullptr, s); });
}

template void CollectionRecord::Walk(ArchiveWalk&);
template void CollectionRecord::Walk(JsonWalk&);

// The document is not written through the object mechanism; its class entry
// names it for the registry and the dump.
KV_IMPLEMENT_CLASS(CStgDoc, CObject, 0)

namespace {

InsertCloner g_cloner = nullptr;
bool g_plugin = false;

// Screen size used for the default stage rectangle until the shell reports
// the real one.
int32_t g_screenWidth = 1024, g_screenHeight = 768;

const ClassInfo* InsertClass() { return ClassRegistry::Find("CInsert"); }

constexpr uint32_t kControlRecordSize = 44;
constexpr size_t kNarrowTextBytes = 24;  // 21 characters and 3 padding bytes
constexpr size_t kWideTextBytes = 43;    // 21 UTF-16 characters and 1 padding byte

// The record's text area, in whichever of its two forms it was read.
void SerializeControlText(Archive& ar, ControlRecord& r) {
  if (ar.IsStoring()) {
    if (r.wide) {
      ar.WriteU16(0xFFFE);
      std::vector<uint8_t> area;
      for (char c : r.text) {
        char32_t cp = Cp1252ToUnicode(static_cast<uint8_t>(c));
        area.push_back(static_cast<uint8_t>(cp));
        area.push_back(static_cast<uint8_t>(cp >> 8));
      }
      area.insert(area.end(), r.tail.begin(), r.tail.end());
      area.resize(kWideTextBytes, 0);
      ar.WriteBytes(area.data(), area.size());
    } else {
      std::vector<uint8_t> area(r.text.begin(), r.text.end());
      area.insert(area.end(), r.tail.begin(), r.tail.end());
      area.resize(kNarrowTextBytes, 0);
      ar.WriteBytes(area.data(), area.size());
    }
    return;
  }
  std::vector<uint8_t> head = ar.ReadBlock(2);
  if (head[0] == 0xFE && head[1] == 0xFF) {
    r.wide = true;
    std::vector<uint8_t> area = ar.ReadBlock(kWideTextBytes);
    std::u16string units;
    size_t i = 0;
    for (; i + 1 < 42; i += 2) {
      char16_t u = LoadLe16(&area[i]);
      if (u == 0) break;
      units += u;
    }
    r.text = Utf16ToCp1252(units);
    r.tail.assign(area.begin() + static_cast<std::ptrdiff_t>(i), area.end());
  } else {
    r.wide = false;
    std::vector<uint8_t> area = head;
    std::vector<uint8_t> rest = ar.ReadBlock(kNarrowTextBytes - 2);
    area.insert(area.end(), rest.begin(), rest.end());
    size_t i = 0;
    while (i < 21 && area[i] != 0) ++i;
    r.text.assign(area.begin(), area.begin() + static_cast<std::ptrdiff_t>(i));
    r.tail.assign(area.begin() + static_cast<std::ptrdiff_t>(i), area.end());
  }
}

// A restart of the presentation keeps the stage; only its caption changes.
template <class W>
bool Restarting(W& w) {
  const ProjectSession* session = SessionOf(w);
  return session && session->play().IsRestarting();
}

}  // namespace

ProjectSettings ProjectSettings::Defaults() {
  ProjectSettings s;
  s.stageRight = g_screenWidth;
  s.stageBottom = g_screenHeight;
  return s;
}

CStgDoc::CStgDoc() : settings(ProjectSettings::Defaults()) {}

CStgDoc::~CStgDoc() {
  if (auto source = sourceDoc.lock()) source->threadCopy.reset();
}

bool CStgDoc::IsStandbysFile(const std::string& path) { return EqualsNoCase(ExtensionOf(path), ".kvb"); }

void SetInsertCloner(InsertCloner cloner) { g_cloner = cloner; }
bool IsPluginMode() { return g_plugin; }
void SetPluginMode(bool plugin) { g_plugin = plugin; }

// Stored order, with the project part's fields in the print's groups.
template <class W>
void CStgDoc::Walk(W& w) {
  const uint16_t version = w.Version("loadedVersion", loadedVersion, kNewestDocumentVersion, 1, "document");
  w("leadLong", leadLong);
  if (w.Filling() || W::kArchive) positiveLead = leadLong > 0;
  if constexpr (W::kJson) w.v.Derived("positiveLead", positiveLead);
  w("leadByte", leadByte);
  w("formatTag", formatTag);
  if (!W::kArchive || formatTag == kFormatTagExtended) {
    w("isProject", isProject);
    w("isBackground", isBackground);
    w("isScene", isScene);
    w("headerFlags", headerFlags);
    w("headerWord", headerWord);
    w("defaultGroup", defaultGroup);
    w("secondText", secondText);
    w("thirdText", thirdText);
  }
  w.Objects("items", items, CountForm::kCompact, nullptr, InsertClass());
  if (!isProject) return;

  w.Objects("projectTree", projectTree);
  ProjectSettings& s = settings;
  const bool loading = W::kArchive && w.Filling();
  if constexpr (W::kArchive) {
    if (loading && !fromCompilation && !projectTree.empty() && projectTree.front() &&
        projectTree.front()->kind == kNodeProject && !w.ar.fileName().empty())
      projectTree.front()->path = FileNameAndExt(w.ar.fileName());
  }
  if (loading) {
    // Every field an older version lacks starts from the program-start value,
    // never from what an earlier project left.
    bool keepCaption = Restarting(w) && SessionOf(w)->loadedSettings.keepCaptionOnRestart;
    s = ProjectSettings::Defaults();
    collection = {};
    controlTables = {};
    pageWord = settingsWord = 0;
    s.keepCaptionOnRestart = keepCaption ? 1 : 0;
  }
  auto settingsGroup = [&](auto&& each) { w.Group("settings", each); };
  if (version >= 8) settingsGroup([&] {
      w("tileBackImage", s.tileBackImage);
      w("backImage", s.backImage);
    });
  if (version >= 7) {
    w("settingsWord", settingsWord);
    settingsGroup([&] {
      w("stageMode", s.stageMode);
      w("stageShape", s.stageShape);
      w("saverOption", s.saverOption);
    });
  }
  if (version >= 6) settingsGroup([&] {
      const uint8_t keep = s.keepCaptionOnRestart;
      w("keepCaptionOnRestart", s.keepCaptionOnRestart);
      if (loading && keep) s.keepCaptionOnRestart = 1;
      w("exitKey", s.exitKey);
      if (W::kArchive && s.exitKey == 0) s.exitKey = 27;
    });
  if (version >= 5) {
    w.Group("collection", [&] { collection.Walk(w); });
    w("pageWord", pageWord);
    settingsGroup([&] {
      w("presentationOption", s.presentationOption);
      w("auxFlag", s.auxFlag);
    });
  }
  if (version >= 4) w.Group("controlTables", [&] {
      if constexpr (W::kArchive) {
        uint32_t size = kControlRecordSize;
        w.ar.Io(size);
        if (size != kControlRecordSize) w.ar.Fail(CArchiveException::badSchema, "control-table record size");
      }
      for (auto [name, list] : {std::pair{"first", &controlTables.first}, std::pair{"second", &controlTables.second}}) {
        w.Records(name, nullptr, *list, CountForm::kU32, kControlRecordSize, [&w](ControlRecord& r) {
          w("values", r.values);
          if constexpr (W::kArchive) {
            SerializeControlText(w.ar, r);
          } else {
            uint8_t wide = r.wide;
            w("wide", wide);
            r.wide = wide != 0;
            w("text", r.text);
            w("tail", r.tail);
          }
        });
      }
    });
  settingsGroup([&] {
    if (version >= 3) {
      w("placement", s.placement);
      w("placementX", s.placementX);
      w("placementY", s.placementY);
      w("placementOption", s.placementOption);
    }
    if (version >= 2) {
      w("frameColor", s.frameColor);
      w("clientWidth", s.clientWidth);
      w("clientHeight", s.clientHeight);
      w("maximizeStage", s.maximizeStage);
    }
    w("clientColor", s.clientColor);
    w("stageStyle", s.stageStyle);
    w.Group("stageRect", [&] {
      w("left", s.stageLeft);
      w("top", s.stageTop);
      w("right", s.stageRight);
      w("bottom", s.stageBottom);
    });
    w("showCaption", s.showCaption);
    w("stageCaption", s.stageCaption);
  });
  if (!loading) return;
  if (version < 2) {
    // A version-1 stage has no canvas size of its own: the canvas is the window.
    // In 64 bits: a hostile rectangle must not overflow.
    s.clientWidth = static_cast<uint32_t>(std::clamp<int64_t>(int64_t{s.stageRight} - s.stageLeft, 0, INT32_MAX));
    s.clientHeight = static_cast<uint32_t>(std::clamp<int64_t>(int64_t{s.stageBottom} - s.stageTop, 0, INT32_MAX));
  }
  const ProjectSession* session = SessionOf(w);
  if (!session) return;
  if (Restarting(w) && s.keepCaptionOnRestart) {
    session->loadedSettings.stageCaption = s.stageCaption;
  } else {
    session->loadedSettings = s;
  }
}

KV_FIELD_WALK_IO(CStgDoc)

std::shared_ptr<CStgDoc> CStgDoc::Clone(const std::shared_ptr<CStgDoc>& source, bool whilePlaying) {
  auto copy = std::make_shared<CStgDoc>();
  copy->formatTag = source->formatTag;
  copy->defaultGroup = source->defaultGroup;
  copy->isProject = source->isProject;
  copy->isBackground = source->isBackground;
  copy->isScene = source->isScene;
  copy->sourceDoc = source;
  source->threadCopy = copy;
  for (const ObjectPtr& insert : source->items) {
    if (!g_cloner) throw std::logic_error("cloning a document needs the insert layer's clone operation");
    copy->items.push_back(g_cloner(insert, whilePlaying));
  }
  copy->pathName = source->pathName;
  copy->modified = source->modified;
  return copy;
}

void CStgDoc::DeleteContents() {
  items.clear();
  projectTree.clear();
}

std::vector<uint8_t> CStgDoc::Store() const {
  Archive ar(pathName);
  const_cast<CStgDoc*>(this)->Serialize(ar);
  return ar.buffer();
}

bool CStgDoc::SaveDocument(const std::string& hostPath, MessageBoxService& messages) {
  std::vector<uint8_t> bytes;
  try {
    bytes = Store();
  } catch (const CArchiveException& e) {
    ReportFileFailure(e, FileTitle(hostPath), messages);
    return false;
  }
  if (!WriteFileAtomically(hostPath, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()))) {
    ReportFileFailure(CArchiveException(CArchiveException::genericException, hostPath), FileTitle(hostPath),
                      messages);
    return false;
  }
  return true;
}

std::shared_ptr<CStgDoc> LoadDocument(std::span<const uint8_t> bytes, const std::string& fileName,
                                      bool fromCompilation, const ProjectSession* session) {
  RegisterPersistClasses();
  auto doc = std::make_shared<CStgDoc>();
  doc->fromCompilation = fromCompilation;
  doc->pathName = fileName;
  Archive ar(bytes, fileName, doc.get());
  ar.SetSession(session);
  doc->Serialize(ar);
  return doc;
}

int ClassifyFile(const std::string& path) {
  static const char* const kRows[] = {
      "|AVI|",     "|MOV|",         "|FLI|FLC|CEL|", "|DIB|BMP|RLE|", "|RDI|",     "|GIF|",     "|PCX|PCC|",
      "|TIF|",     "|JPG|",         "|WAV|",         "|MID|RMI|",     "|PAL|",     "|EXE|COM|BAT|CMD|",
      "|DLL|DRV|CPL|", "|CUR|ANI|", "|ICO|",         "|WMF|EMF|",     "|CLP|",     "|FSS|",     "|KVP|",
      "|KVS|KVB|", "|EBS|",         "|EBC|",         "|3DM|3DMF|",    "|MPG|MPEG|MPE|",
  };
  std::string ext = ExtensionOf(path);
  if (ext.empty()) return 0;
  std::string key = "|" + ToUpper1252(Trim(std::string_view(ext).substr(1))) + "|";
  if (key == "||") return 0;
  for (size_t i = 0; i < std::size(kRows); ++i)
    if (std::string_view(kRows[i]).find(key) != std::string_view::npos) return static_cast<int>(i + 1);
  return 0;
}

void ReportFileFailure(const CArchiveException& e, const std::string& fileTitle, MessageBoxService& messages) {
  switch (e.m_cause) {
    case CArchiveException::endOfFile:
    case CArchiveException::badIndex:
    case CArchiveException::badClass:
    case CArchiveException::badSchema:
      messages.Show(FormatString(IsPluginMode() ? sid::kNewFileFormatPlugin : sid::kNewFileFormat, fileTitle),
                    LoadString(sid::kAppName), MsgButtons::Ok, MsgIcon::Exclamation);
      break;
    default:
      messages.Show(e.Message(), LoadString(sid::kAppName), MsgButtons::Ok, MsgIcon::Exclamation);
      break;
  }
}

}  // namespace kv
