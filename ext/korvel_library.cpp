#include "ext/korvel_library.h"

#include <array>
#include <cstring>

#include "platform/text.h"

namespace kv {

namespace {

constexpr const char* kAuthoring = "the authoring tool";

// In registration order; synonyms follow the name they share an id with.
constexpr BuiltinSpec kBuiltins[] = {
    // Project and flow.
    {"kvClearStage", 1, 0, ""},
    {"JustBeep", 2, 0, ""},
    {"kvCallScript", 3, 0, "S"},
    {"kvCallFreestyleScript", 3, 0, "S"},
    {"kvGotoScript", 44, 0, "S"},
    {"kvGotoFreestyleScript", 44, 0, "S"},
    {"kvRunProject", 45, 0, "S"},
    {"kvGotoScene", 146, 0, "S"},
    {"kvHaltTitle", 24, 0, ""},
    {"kvHaltProject", 24, 0, ""},
    {"kvAdvance", 25, 0, ""},
    {"kvRetreat", 26, 0, ""},
    {"kvWait", 151, 'B', "L"},
    // Variables.
    {"kvGetInt2", 4, 'I', "S"},
    {"kvGetWord", 4, 'I', "S"},
    {"kvGetBool", 4, 'I', "S"},
    {"kvSetInt2", 5, 0, "SI"},
    {"kvSetWord", 5, 0, "SI"},
    {"kvSetBool", 5, 0, "SI"},
    {"kvGetInt4", 6, 'L', "S"},
    {"kvGetDWord", 6, 'L', "S"},
    {"kvSetInt4", 7, 0, "SL"},
    {"kvSetDWord", 7, 0, "SL"},
    {"kvGetDouble", 8, 'D', "S"},
    {"kvSetDouble", 9, 0, "SD"},
    {"kvGetString", 10, 'S', "S"},
    {"kvSetString", 11, 0, "SS"},
    {"kvPermVar", 97, 0, "S"},
    // Object content.
    {"kvoGetText", 12, 'S', "S"},
    {"kvoSetText", 13, 0, "SS"},
    {"kvoGetFilename", 14, 'S', "S"},
    {"kvoSetFilename", 15, 0, "SS"},
    {"kvoGetFilename2", 127, 'S', "S"},
    {"kvoSetFilename2", 128, 0, "SS"},
    {"kvoGetSoundFilename", 133, 'S', "S"},
    {"kvoSetSoundFilename", 134, 0, "SS"},
    {"kvoGetCursorFilename", 135, 'S', "S"},
    {"kvoSetCursorFilename", 136, 0, "SS"},
    {"kvoGetMediaString1", 122, 'S', "S"},
    {"kvoSetMediaString1", 123, 0, "SS"},
    {"kvoGetMediaString2", 124, 'S', "S"},
    {"kvoSetMediaString2", 125, 0, "SS"},
    {"kvoGetComment", 132, 'S', "S"},
    {"kvoGetName", 23, 'S', ""},
    {"kvoGetEventObject", 23, 'S', ""},
    {"kvoSetName", 145, 0, "SS"},
    {"kvoChangeAlias", 50, 0, "SS"},
    {"kvoGetObject", 42, 'O', "S"},
    {"kvoReload", 129, 0, "S"},
    // Geometry.
    {"kvoGetPosition", 16, 0, "Sr"},
    {"kvoSetPosition", 17, 0, "Sr"},
    {"kvoSetPositionNoRefresh", 149, 0, "Sr"},
    {"kvoSetPositionPoint", 47, 0, "Sp"},
    {"kvoMoveTo", 46, 0, "SrDB"},
    {"kvoGetSize", 27, 0, "Sz"},
    {"kvoSetSize", 28, 0, "Sz"},
    {"kvoSetCurrentSize", 29, 0, "Sz"},
    {"kvoGetDefaultSize", 95, 0, "Sz"},
    {"kvoGetWidth", 62, 'L', "S"},
    {"kvoGetHeight", 63, 'L', "S"},
    {"kvoSetWidth", 48, 0, "SL"},
    {"kvoSetHeight", 49, 0, "SL"},
    {"kvoGetZorder", 18, 'L', "S"},
    {"kvoSetZorder", 19, 0, "SL"},
    {"kvoRotateAbsolute", 89, 0, "SIII"},
    {"kvoSpin", 88, 0, "SIIII"},
    {"kvoGetRotateInfo", 90, 0, "SIII"},
    // Colours.
    {"kvoSetForegroundColor", 51, 0, "Sc"},
    {"kvoSetShadowColor", 52, 0, "Sc"},
    {"kvoSetBackgroundColor", 53, 0, "Sc"},
    {"kvoSetLineColor", 54, 0, "Sc"},
    {"kvoSetHighlightColor", 55, 0, "Sc"},
    {"kvoSetTextColor", 79, 0, "Sc"},
    {"kvoSetTextShadowColor", 80, 0, "Sc"},
    {"kvoSetFaceColor", 81, 0, "Sc"},
    {"kvoGetForegroundColor", 64, 0, "Sc"},
    {"kvoGetShadowColor", 65, 0, "Sc"},
    {"kvoGetBackgroundColor", 66, 0, "Sc"},
    {"kvoGetLineColor", 67, 0, "Sc"},
    {"kvoGetHighlightColor", 68, 0, "Sc"},
    {"kvoGetTextColor", 82, 0, "Sc"},
    {"kvoGetTextShadowColor", 83, 0, "Sc"},
    {"kvoGetFaceColor", 84, 0, "Sc"},
    {"kvoGetTranspColor", 130, 0, "Sc"},
    {"kvoSetTranspColor", 131, 0, "Sc"},
    {"kvoGetTextFontSize", 118, 'L', "S"},
    {"kvoSetTextFontSize", 119, 0, "SL"},
    // Media.
    {"kvoSetStart", 56, 0, "SD"},
    {"kvoSetStop", 57, 0, "SD"},
    {"kvoGetStart", 69, 'D', "S"},
    {"kvoGetStop", 70, 'D', "S"},
    {"kvoSetVolume", 58, 0, "SI"},
    {"kvoSetBalance", 59, 0, "SI"},
    {"kvoSetFrequency", 86, 0, "SI"},
    {"kvoChangeFrequency", 60, 0, "SI"},
    {"kvoGetVolume", 71, 'I', "S"},
    {"kvoGetBalance", 72, 'I', "S"},
    {"kvoGetFrequency", 73, 'L', "S"},
    {"kvoStopSound", 148, 0, "S"},
    {"kvDisableDirectSound", 91, 0, ""},
    {"kvEnableDirectSound", 92, 0, ""},
    // Object state.
    {"kvoUpdate", 20, 0, "S"},
    {"kvoPutOnStage", 21, 0, ""},
    {"kvoPutOnStage", 21, 0, "S"},
    {"kvoTakeOffStage", 22, 0, "S"},
    {"kvoShow", 35, 0, "S"},
    {"kvoHide", 36, 0, "S"},
    {"kvoDisable", 37, 0, "S"},
    {"kvoEnable", 38, 0, "S"},
    {"kvoRemove", 39, 0, "S"},
    {"kvoRefresh", 40, 0, "S"},
    {"kvoDoClick", 41, 0, "S"},
    {"kvoPlayObject", 74, 0, "S"},
    {"kvoPlay", 74, 0, "S"},
    {"kvoStop", 93, 0, "S"},
    {"kvoPauseObject", 75, 0, "S"},
    {"kvoPause", 75, 0, "S"},
    {"kvoResumeObject", 76, 0, "S"},
    {"kvoResume", 76, 0, "S"},
    {"kvoInitialize", 77, 0, "S"},
    {"kvoPlayThreaded", 104, 0, "S"},
    {"kvoWaitForPriorRequests", 158, 0, "S"},
    {"kvoClone", 78, 0, "SS"},
    {"kvoCloneToScript", 117, 0, "SSS"},
    {"kvoDelete", 85, 0, "S"},
    {"kvoPermObject", 139, 0, "S"},
    {"kvoEditObject", 43, 0, "S", kAuthoring},
    {"kvoSetDesignMode", 94, 0, "SI"},
    {"kvoGetShowFX", 100, 'I', "S"},
    {"kvoGetRemoveFX", 102, 'I', "S"},
    {"kvoSetShowFX", 101, 0, "SI"},
    {"kvoSetRemoveFX", 103, 0, "SI"},
    {"kvoPrintObject", 99, 0, "S"},
    {"kvoTwain", 87, 0, "SIII"},
    // Stage.
    {"kvGetStageSize", 30, 0, "z"},
    {"kvSetStageSize", 31, 0, "z"},
    {"kvMaximizeStage", 32, 0, ""},
    {"kvMinimizeStage", 166, 0, ""},
    {"kvGetStagePosition", 33, 0, "r"},
    {"kvSetStagePosition", 34, 0, "r"},
    {"kvSetRedraw", 61, 0, "B"},
    {"kvPrintStage", 98, 0, ""},
    {"kvPositionWindow", 143, 0, "SLLLL"},
    // Project tree.
    {"kvGetCurrentScript", 108, 'S', ""},
    {"kvGetFirstScene", 109, 'S', ""},
    {"kvGetNextScene", 110, 'S', "S"},
    {"kvGetPriorScene", 111, 'S', "S"},
    {"kvGetParent", 112, 'S', "S"},
    {"kvGetScriptDescription", 113, 'S', "S"},
    {"kvGetNodeDescription", 120, 'S', "S"},
    {"kvSetScriptDescription", 114, 0, "SS"},
    {"kvSetNodeDescription", 121, 0, "SS"},
    {"kvScanScript", 115, 'S', "SS"},
    {"kvStartScan", 116, 'L', "S"},
    {"kvAddScript", 106, 0, "SS"},
    {"kvMoveScriptInTree", 140, 0, "SS"},
    {"kvSaveScript", 107, 0, "S"},
    {"kvSaveProjectScript", 96, 0, ""},
    {"kvcrEditScript", 105, 0, "SSSSS"},
    {"kvcrSetImageEditor", 150, 0, "S", kAuthoring},
    // Remote resources.
    {"kvGetRemoteResource", 126, 'S', "S"},
    {"kvIsRemoteResourceAvailable", 137, 'B', "S"},
    {"kvGetRemoteResourceSize", 138, 'L', "S"},
    {"kvGetRemoteBasePath", 144, 'S', "S"},
    {"kvGetRemoteHostName", 170, 'S', "S"},
    {"kvIsSceneDownloaded", 152, 'B', "S"},
    // Files, images and processes.
    {"kvBrowse", 147, 'S', "SS"},
    {"kvBrowseDir", 167, 'S', "SSSS"},
    {"kvExtractFromPath", 165, 'S', "SL"},
    {"kvCopyProject", 153, 'B', "SSSS"},
    {"kvDeleteProject", 154, 'B', "S"},
    {"kvLoadProjects", 155, 'B', "SSLL"},
    {"kvCountProjects", 156, 'L', "S"},
    {"kvLoadImages", 161, 'B', "SSLL"},
    {"kvConvertImage", 159, 'B', "SSL"},
    {"kvWriteStageToFile", 157, 'B', "SLLL"},
    {"kvWriteObjectToFile", 163, 'B', "SSLLL"},
    {"kvoWriteToFile", 163, 'B', "SSLLL"},
    {"kvImageProcessObject", 164, 'B', "SLLLr"},
    {"kvoImageProcesst", 164, 'B', "SLLLr"},
    {"kvoToClipboard", 160, 'B', "S"},
    {"kvWriteClipboardToFile", 168, 'B', "SL"},
    {"kvShellExecute", 141, 0, "S"},
    {"kvShellTerminate", 142, 0, "L"},
    // Network.
    {"kvHTTPUpload", 171, 'B', "SSSSSSS"},
    {"kvHTTPUploadMultipartForm", 162, 'B', "SSLSSSSSS"},
    {"kvWebPost", 169, 'L', "SSSL"},
};

// Members of the object classes; a property carries its set and get ids.
struct MemberSpec {
  enum Kind : uint8_t { kMethod, kFunction, kProperty } kind;
  const char* name;
  uint16_t id;  // the method's id, or the property's set id
  uint16_t getId;
  char type;  // result or property type
  const char* args;
};

struct ClassSpec {
  const char* name;
  uint16_t constructorId;
  std::span<const MemberSpec> members;
};

constexpr uint16_t kNo = orlan::kNoAccessor;

constexpr MemberSpec kXmlReader[] = {
    {MemberSpec::kFunction, "LoadFile", 173, kNo, 'B', "S"},
    {MemberSpec::kProperty, "ScanContinueFlag", 174, kNo, 'I', ""},
    {MemberSpec::kProperty, "ScanResultName", kNo, 175, 'S', ""},
    {MemberSpec::kProperty, "ScanResultValue", kNo, 176, 'S', ""},
    {MemberSpec::kProperty, "ScanResultType", kNo, 177, 'S', ""},
    {MemberSpec::kMethod, "StartScan", 178, kNo, 0, "S"},
    {MemberSpec::kProperty, "ScanResultLevel", kNo, 179, 'I', ""},
};

// The seven reserved methods share one stem; a number tells them apart.
constexpr MemberSpec kFileBrowser[] = {
    {MemberSpec::kProperty, "Directory", 181, kNo, 'S', ""},
    {MemberSpec::kProperty, "BaseVariable", 182, kNo, 'S', ""},
    {MemberSpec::kProperty, "NumberOfVariables", 183, kNo, 'I', ""},
    {MemberSpec::kProperty, "ActiveIndex", 184, 185, 'I', ""},
    {MemberSpec::kProperty, "ControlFlag", 186, kNo, 'I', ""},
    {MemberSpec::kProperty, "AlphaFilter", 187, kNo, 'S', ""},
    {MemberSpec::kProperty, "DaysFilter", 188, kNo, 'I', ""},
    {MemberSpec::kProperty, "SortOption", 189, kNo, 'I', ""},
    {MemberSpec::kProperty, "FilterOption", 190, kNo, 'I', ""},
    {MemberSpec::kProperty, "SubDirsOption", 191, kNo, 'I', ""},
    {MemberSpec::kProperty, "ResponseFlag", kNo, 192, 'I', ""},
    {MemberSpec::kMethod, "StartBrowse", 193, kNo, 0, "S"},
    {MemberSpec::kProperty, "ActiveTotal", kNo, 194, 'I', ""},
    {MemberSpec::kProperty, "ScanningDrive", kNo, 195, 'S', ""},
    {MemberSpec::kProperty, "SystemFiles", 196, kNo, 'I', ""},
    {MemberSpec::kMethod, "StopBrowse", 197, kNo, 0, ""},
    {MemberSpec::kMethod, "fbReserved1", 198, kNo, 0, ""},
    {MemberSpec::kMethod, "fbReserved2", 199, kNo, 0, ""},
    {MemberSpec::kMethod, "fbReserved3", 200, kNo, 0, ""},
    {MemberSpec::kMethod, "fbReserved4", 201, kNo, 0, ""},
    {MemberSpec::kMethod, "fbReserved5", 202, kNo, 0, ""},
    {MemberSpec::kMethod, "fbReserved6", 203, kNo, 0, ""},
    {MemberSpec::kMethod, "fbReserved7", 204, kNo, 0, ""},
};

// The reserved properties pair the set ids 213 to 215 with the get ids 217
// and 218 in order; the third has no getter.
constexpr MemberSpec kTwain[] = {
    {MemberSpec::kMethod, "Start", 206, kNo, 0, "S"},
    {MemberSpec::kMethod, "Stop", 207, kNo, 0, ""},
    {MemberSpec::kMethod, "ChooseSource", 208, kNo, 0, ""},
    {MemberSpec::kMethod, "Acquire", 209, kNo, 0, ""},
    {MemberSpec::kProperty, "ShowUI", 210, kNo, 'B', ""},
    {MemberSpec::kProperty, "WarningLevel", 211, kNo, 'I', ""},
    {MemberSpec::kProperty, "TargetObject", 212, kNo, 'S', ""},
    {MemberSpec::kProperty, "twReserved1", 213, 217, 'I', ""},
    {MemberSpec::kProperty, "twReserved2", 214, 218, 'I', ""},
    {MemberSpec::kProperty, "twReserved3", 215, kNo, 'I', ""},
    {MemberSpec::kProperty, "LastErrorMsg", kNo, 216, 'S', ""},
};

const ClassSpec kClasses[] = {
    {"kboXMLReader", 172, kXmlReader},
    {"kboFileBrowser", 180, kFileBrowser},
    {"kboTwain", 205, kTwain},
};

struct IdInfo {
  const char* name = nullptr;
  const char* needs = nullptr;
};

// Dispatch id → first registered name and what it waits for.
const std::array<IdInfo, kDispatchTableSize>& IdTable() {
  static const auto table = [] {
    std::array<IdInfo, kDispatchTableSize> t{};
    for (const BuiltinSpec& b : kBuiltins)
      if (!t[b.id].name) t[b.id] = {b.name, b.needs};
    for (const ClassSpec& c : kClasses) {
      t[c.constructorId] = {c.name, nullptr};
      for (const MemberSpec& m : c.members)
        for (uint16_t id : {m.id, m.getId})
          if (id != kNo && !t[id].name) t[id] = {c.name, nullptr};
    }
    return t;
  }();
  return table;
}

std::vector<orlan::HostType> TypesOf(const char* codes) {
  std::vector<orlan::HostType> types;
  for (const char* p = codes; *p; ++p) types.push_back(HostTypeOf(*p));
  return types;
}

}  // namespace

orlan::HostType HostTypeOf(char code) {
  using orlan::HostType;
  switch (code) {
    case 'S': return {HostType::kString, {}};
    case 'L': return {HostType::kLong, {}};
    case 'I': return {HostType::kInteger, {}};
    case 'D': return {HostType::kDouble, {}};
    case 'B': return {HostType::kBoolean, {}};
    case 'O': return {HostType::kObject, {}};
    case 'r': return {HostType::kRecord, "kvrect"};
    case 'z': return {HostType::kRecord, "kvsize"};
    case 'p': return {HostType::kRecord, "kvpoint"};
    case 'c': return {HostType::kRecord, "kvcolor"};
    default: return {HostType::kVariant, {}};
  }
}

std::span<const BuiltinSpec> KorvelBuiltins() { return kBuiltins; }

const char* BuiltinNameOf(uint32_t id) { return id < kDispatchTableSize ? IdTable()[id].name : nullptr; }

std::string MissingBuiltinText(uint32_t id) {
  const IdInfo info = id < kDispatchTableSize ? IdTable()[id] : IdInfo{};
  if (!info.name) return "no builtin has the dispatch id " + std::to_string(id);
  if (info.needs) return std::string(info.name) + " needs " + info.needs;
  return std::string(info.name) + " is not built yet";
}

std::unique_ptr<orlan::HostLibrary> BuildKorvelLibrary(std::string& error, const std::function<bool(uint32_t id)>& quick) {
  using orlan::HostType;
  orlan::LibraryBuilder b;
  const HostType lng{HostType::kLong, {}}, integer{HostType::kInteger, {}};
  b.AddRecordType("kvrect");
  for (const char* f : {"left", "top", "right", "bottom"}) b.AddField(f, lng);
  b.AddRecordType("kvsize");
  for (const char* f : {"cx", "cy"}) b.AddField(f, lng);
  b.AddRecordType("kvpoint");
  for (const char* f : {"x", "y"}) b.AddField(f, lng);
  b.AddRecordType("kvcolor");
  for (const char* f : {"red", "green", "blue"}) b.AddField(f, integer);

  const std::span<const BuiltinSpec> all = kBuiltins;
  for (size_t i = 0; i < all.size(); ++i) {
    const BuiltinSpec& s = all[i];
    // A name declared before gets this signature as an overload.
    uint32_t flags = 0;
    for (size_t j = 0; j < i; ++j)
      if (EqualsNoCase(all[j].name, s.name)) flags = orlan::kOverloadFlag;
    if (quick && quick(s.id)) flags |= orlan::kQuickFlag;
    const int n = static_cast<int>(std::strlen(s.args));
    if (s.result)
      b.AddFunction(flags, s.name, s.id, HostTypeOf(s.result), n, n, TypesOf(s.args));
    else
      b.AddSub(flags, s.name, s.id, n, n, TypesOf(s.args));
  }
  b.AddCallback("kvoRender", 5, 5, TypesOf("LLLLL"));
  b.AddCallback("kvoAction", 4, 4, TypesOf("LLLL"));
  for (const ClassSpec& c : kClasses) {
    b.AddClass(c.name, c.constructorId);
    for (const MemberSpec& m : c.members) {
      const int n = static_cast<int>(std::strlen(m.args));
      switch (m.kind) {
        case MemberSpec::kMethod: b.AddMethod(m.name, m.id, n, n, TypesOf(m.args)); break;
        case MemberSpec::kFunction: b.AddFunctionMethod(m.name, m.id, HostTypeOf(m.type), n, n, TypesOf(m.args)); break;
        case MemberSpec::kProperty: b.AddProperty(0x4000, m.name, m.id, m.getId, HostTypeOf(m.type)); break;
      }
    }
  }
  return b.Finish(error);
}

}  // namespace kv
