#include "persist/document.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

#include "persist/fields.h"
#include "persist/hooks.h"
#include "persist/project_tree.h"
#include "platform/files.h"
#include "platform/message_box.h"
#include "platform/paths.h"
#include "platform/string_table.h"
#include "platform/text.h"

namespace kv {

void SerializeCollection(Archive& ar, CollectionRecord& c) {
  uint16_t v = ar.Version(3, 1, "collection record");
  c.recordVersion = v;
  if (v >= 3) {
    ar.Io(c.byteA);
    ar.Io(c.byteB);
  }
  if (v >= 2) ar.Io(c.lead);
  for (uint32_t& x : c.values) ar.Io(x);
  for (std::string& s : c.texts) ar.Io(s);
  if (ar.IsStoring()) {
    ar.WriteU32(static_cast<uint32_t>(c.list.size()));
    for (std::string& s : c.list) ar.WriteString(s);
  } else {
    uint32_t n = ar.ReadCheckedU32(1);
    c.list.clear();
    for (uint32_t i = 0; i < n; ++i) c.list.push_back(ar.ReadString());
  }
}

void DescribeCollection(FieldVisitor& v, CollectionRecord& c) {
  v.Field("recordVersion", c.recordVersion);
  v.Field("byteA", c.byteA);
  v.Field("byteB", c.byteB);
  v.Field("lead", c.lead);
  v.BeginArray("values", 4);
  for (size_t i = 0; i < 4; ++i) {
    v.BeginElement(i);
    v.Field(nullptr, c.values[i]);
    v.EndElement();
  }
  v.EndArray();
  v.BeginArray("texts", 4);
  for (size_t i = 0; i < 4; ++i) {
    v.BeginElement(i);
    v.Field(nullptr, c.texts[i]);
    v.EndElement();
  }
  v.EndArray();
  v.Values("list", c.list);
}

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

void SerializeControlRecord(Archive& ar, ControlRecord& r) {
  for (int32_t& v : r.values) ar.Io(v);
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
      char16_t u = static_cast<char16_t>(area[i] | (area[i + 1] << 8));
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

void SerializeControlTables(Archive& ar, ControlTables& t) {
  uint32_t size = kControlRecordSize;
  ar.Io(size);
  if (size != kControlRecordSize) ar.Fail(CArchiveException::badSchema, "control-table record size");
  for (std::vector<ControlRecord>* list : {&t.first, &t.second}) {
    if (ar.IsStoring()) {
      ar.WriteU32(static_cast<uint32_t>(list->size()));
    } else {
      list->resize(ar.ReadCheckedU32(kControlRecordSize));
    }
    for (ControlRecord& r : *list) SerializeControlRecord(ar, r);
  }
}

void DescribeSettings(FieldVisitor& v, ProjectSettings& s) {
  v.Field("clientColor", s.clientColor);
  v.Field("stageStyle", s.stageStyle);
  v.BeginGroup("stageRect");
  v.Field("left", s.stageLeft);
  v.Field("top", s.stageTop);
  v.Field("right", s.stageRight);
  v.Field("bottom", s.stageBottom);
  v.EndGroup();
  v.Field("showCaption", s.showCaption);
  v.Field("stageCaption", s.stageCaption);
  v.Field("frameColor", s.frameColor);
  v.Field("clientWidth", s.clientWidth);
  v.Field("clientHeight", s.clientHeight);
  v.Field("maximizeStage", s.maximizeStage);
  v.Field("placement", s.placement);
  v.Field("placementX", s.placementX);
  v.Field("placementY", s.placementY);
  v.Field("placementOption", s.placementOption);
  v.Field("stageMode", s.stageMode);
  v.Field("stageShape", s.stageShape);
  v.Field("saverOption", s.saverOption);
  v.Field("keepCaptionOnRestart", s.keepCaptionOnRestart);
  v.Field("exitKey", s.exitKey);
  v.Field("presentationOption", s.presentationOption);
  v.Field("auxFlag", s.auxFlag);
  v.Field("tileBackImage", s.tileBackImage);
  v.Field("backImage", s.backImage);
}

}  // namespace

ProjectSettings ProjectSettings::Defaults() {
  ProjectSettings s;
  s.stageRight = g_screenWidth;
  s.stageBottom = g_screenHeight;
  return s;
}

ProjectSettings& CurrentProjectSettings() {
  static ProjectSettings settings = ProjectSettings::Defaults();
  return settings;
}

CStgDoc::CStgDoc() : settings(ProjectSettings::Defaults()) {}

CStgDoc::~CStgDoc() {
  if (auto source = sourceDoc.lock()) source->threadCopy.reset();
}

bool CStgDoc::IsStandbysFile(const std::string& path) { return EqualsNoCase(ExtensionOf(path), ".kvb"); }

void SetInsertCloner(InsertCloner cloner) { g_cloner = cloner; }
bool IsPluginMode() { return g_plugin; }
void SetPluginMode(bool plugin) { g_plugin = plugin; }

void CStgDoc::Serialize(Archive& ar) {
  uint16_t version = ar.Version(kNewestDocumentVersion, 1, "document");
  if (ar.IsLoading()) loadedVersion = version;
  ar.Io(leadLong);
  positiveLead = leadLong > 0;
  ar.Io(leadByte);
  ar.Io(formatTag);
  if (formatTag == kFormatTagExtended) {
    ar.Io(isProject);
    ar.Io(isBackground);
    ar.Io(isScene);
    for (uint8_t& f : headerFlags) ar.Io(f);
    ar.Io(headerWord);
    ar.Io(defaultGroup);
    ar.Io(secondText);
    ar.Io(thirdText);
  }
  if (ar.IsStoring()) {
    ar.WriteObjectList(items);
  } else {
    items = ar.ReadObjectList(InsertClass());
  }
  if (!isProject) return;

  ar.IoList(projectTree);
  if (ar.IsLoading() && !fromCompilation && !projectTree.empty() && projectTree.front() &&
      projectTree.front()->kind == kNodeProject && !ar.fileName().empty())
    projectTree.front()->path = FileNameAndExt(ar.fileName());

  ProjectSettings& s = settings;
  if (ar.IsLoading()) {
    // Every field an older version lacks starts from the program-start value,
    // never from what an earlier project left.
    bool keepCaption = Engine().IsRestarting() && CurrentProjectSettings().keepCaptionOnRestart;
    s = ProjectSettings::Defaults();
    collection = {};
    controlTables = {};
    pageWord = settingsWord = 0;
    s.keepCaptionOnRestart = keepCaption ? 1 : 0;
  }
  if (version >= 8) {
    ar.Io(s.tileBackImage);
    ar.Io(s.backImage);
  }
  if (version >= 7) {
    ar.Io(settingsWord);
    ar.Io(s.stageMode);
    ar.Io(s.stageShape);
    ar.Io(s.saverOption);
  }
  if (version >= 6) {
    uint8_t keep = s.keepCaptionOnRestart;
    ar.Io(s.keepCaptionOnRestart);
    if (ar.IsLoading() && keep) s.keepCaptionOnRestart = 1;
    ar.Io(s.exitKey);
    if (s.exitKey == 0) s.exitKey = 27;
  }
  if (version >= 5) {
    SerializeCollection(ar, collection);
    ar.Io(pageWord);
    ar.Io(s.presentationOption);
    ar.Io(s.auxFlag);
  }
  if (version >= 4) SerializeControlTables(ar, controlTables);
  if (version >= 3) {
    ar.Io(s.placement);
    ar.Io(s.placementX);
    ar.Io(s.placementY);
    ar.Io(s.placementOption);
  }
  bool hasClientSize = version >= 2;
  if (hasClientSize) {
    ar.Io(s.frameColor);
    ar.Io(s.clientWidth);
    ar.Io(s.clientHeight);
    ar.Io(s.maximizeStage);
  }
  ar.Io(s.clientColor);
  ar.Io(s.stageStyle);
  ar.Io(s.stageLeft);
  ar.Io(s.stageTop);
  ar.Io(s.stageRight);
  ar.Io(s.stageBottom);
  ar.Io(s.showCaption);
  ar.Io(s.stageCaption);
  if (ar.IsLoading() && !hasClientSize) {
    // A version-1 stage has no canvas size of its own: the canvas is the window.
    // In 64 bits: a hostile rectangle must not overflow.
    s.clientWidth = static_cast<uint32_t>(std::clamp<int64_t>(int64_t{s.stageRight} - s.stageLeft, 0, INT32_MAX));
    s.clientHeight = static_cast<uint32_t>(std::clamp<int64_t>(int64_t{s.stageBottom} - s.stageTop, 0, INT32_MAX));
  }
  if (ar.IsLoading()) {
    ProjectSettings& current = CurrentProjectSettings();
    if (Engine().IsRestarting() && s.keepCaptionOnRestart) {
      current.stageCaption = s.stageCaption;
    } else {
      current = s;
    }
  }
}

void CStgDoc::DescribeFields(FieldVisitor& v) {
  v.Field("loadedVersion", loadedVersion);
  v.Field("leadLong", leadLong);
  if (v.IsReading()) positiveLead = leadLong > 0;
  v.Derived("positiveLead", positiveLead);
  v.Field("leadByte", leadByte);
  v.Field("formatTag", formatTag);
  v.Field("isProject", isProject);
  v.Field("isBackground", isBackground);
  v.Field("isScene", isScene);
  v.BeginArray("headerFlags", headerFlags.size());
  for (size_t i = 0; i < headerFlags.size(); ++i) {
    v.BeginElement(i);
    v.Field(nullptr, headerFlags[i]);
    v.EndElement();
  }
  v.EndArray();
  v.Field("headerWord", headerWord);
  v.Field("defaultGroup", defaultGroup);
  v.Field("secondText", secondText);
  v.Field("thirdText", thirdText);
  v.Field("items", items);
  if (!isProject) return;
  v.Objects("projectTree", projectTree);
  v.Field("pageWord", pageWord);
  v.Field("settingsWord", settingsWord);
  v.BeginGroup("settings");
  DescribeSettings(v, settings);
  v.EndGroup();
  v.BeginGroup("collection");
  DescribeCollection(v, collection);
  v.EndGroup();
  v.BeginGroup("controlTables");
  for (auto [name, list] : {std::pair{"first", &controlTables.first}, std::pair{"second", &controlTables.second}}) {
    v.Records(name, *list, [&v](ControlRecord& r) {
      v.BeginArray("values", 5);
      for (size_t i = 0; i < 5; ++i) {
        v.BeginElement(i);
        v.Field(nullptr, r.values[i]);
        v.EndElement();
      }
      v.EndArray();
      uint8_t wide = r.wide;
      v.Field("wide", wide);
      r.wide = wide != 0;
      v.Field("text", r.text);
      v.Field("tail", r.tail);
    });
  }
  v.EndGroup();
}

std::shared_ptr<CStgDoc> CStgDoc::Clone(const std::shared_ptr<CStgDoc>& source) {
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
    copy->items.push_back(g_cloner(insert));
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

bool CStgDoc::SaveDocument(const std::string& hostPath) {
  std::vector<uint8_t> bytes;
  try {
    bytes = Store();
  } catch (const CArchiveException& e) {
    ReportFileFailure(e, FileTitle(hostPath));
    return false;
  }
  if (!WriteFileAtomically(hostPath, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()))) {
    ReportFileFailure(CArchiveException(CArchiveException::genericException, hostPath), FileTitle(hostPath));
    return false;
  }
  return true;
}

std::shared_ptr<CStgDoc> LoadDocument(std::span<const uint8_t> bytes, const std::string& fileName,
                                      bool fromCompilation) {
  RegisterPersistClasses();
  auto doc = std::make_shared<CStgDoc>();
  doc->fromCompilation = fromCompilation;
  doc->pathName = fileName;
  Archive ar(bytes, fileName, doc.get());
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

void ReportFileFailure(const CArchiveException& e, const std::string& fileTitle) {
  switch (e.m_cause) {
    case CArchiveException::endOfFile:
    case CArchiveException::badIndex:
    case CArchiveException::badClass:
    case CArchiveException::badSchema:
      ShowMessage(FormatString(IsPluginMode() ? sid::kNewFileFormatPlugin : sid::kNewFileFormat, fileTitle),
                  LoadString(sid::kAppName), MsgButtons::Ok, MsgIcon::Exclamation);
      break;
    default:
      ShowMessage(e.Message(), LoadString(sid::kAppName), MsgButtons::Ok, MsgIcon::Exclamation);
      break;
  }
}

}  // namespace kv
