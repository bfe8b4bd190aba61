// The project document: one project, scene, background, freestyle or
// standbys file, with its header, its ordered inserts and, for a project, the
// project tree and the stage settings. The file layout and its versions live
// in document.cpp.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "persist/archive.h"
#include "platform/message_box.h"

namespace kv {

class CProjNode;

inline constexpr uint16_t kFormatTagExtended = 0x4401;
inline constexpr uint16_t kNewestDocumentVersion = 8;

// The stage settings a project carries; process-wide while it is current.
struct ProjectSettings {
  uint32_t clientColor = 0x00FFFFFF;  // the system window colour
  uint32_t stageStyle = 0x00040000;   // sizing frame
  int32_t stageLeft = 0, stageTop = 0, stageRight = 0, stageBottom = 0;
  uint32_t showCaption = 1;
  std::string stageCaption;
  uint32_t frameColor = 0x00808080;  // the system grey-text colour
  uint32_t clientWidth = 0, clientHeight = 0;
  uint32_t maximizeStage = 1;
  uint32_t placement = 1266;
  int32_t placementX = 0, placementY = 0;
  uint32_t placementOption = 1;
  uint8_t stageMode = 0;
  uint8_t stageShape = 0;
  uint8_t saverOption = 0;
  uint8_t keepCaptionOnRestart = 0;
  uint32_t exitKey = 27;
  uint8_t presentationOption = 0;
  uint8_t auxFlag = 0;
  uint8_t tileBackImage = 1;
  std::string backImage;

  // Program-start values, with the stage rectangle covering the screen.
  static ProjectSettings Defaults();
};

// The collection record of a version-5 project part, kept so the file can be
// written back.
struct CollectionRecord {
  uint16_t recordVersion = 3;
  uint8_t byteA = 0, byteB = 0;  // version 3
  uint32_t lead = 0;             // version 2 and later
  std::array<uint32_t, 4> values{};
  std::array<std::string, 4> texts;
  std::vector<std::string> list;
  // The data-collection object stores the same layout.
  template <class W>
  void Walk(W& w);
};


// One control window of a control table; its text is stored in one of two
// fixed-size forms.
struct ControlRecord {
  std::array<int32_t, 5> values{};  // centre x, centre y and three more
  bool wide = false;
  std::string text;                 // Windows-1252
  std::vector<uint8_t> tail;        // bytes after the text's terminator, kept as read
};

struct ControlTables {
  std::vector<ControlRecord> first, second;
};

class CStgDoc : public CObject {
  KV_DECLARE_CLASS(CStgDoc)
 public:
  CStgDoc();
  ~CStgDoc() override;

  uint16_t loadedVersion = 0;
  uint16_t formatTag = kFormatTagExtended;
  int32_t useCount = 0;
  int32_t leadLong = 20;
  uint8_t leadByte = 0;
  uint8_t isProject = 0;
  uint8_t isBackground = 0;
  uint8_t isScene = 0;
  std::array<uint8_t, 6> headerFlags{};
  uint32_t headerWord = 0;
  uint16_t pageWord = 0;
  uint16_t settingsWord = 0;
  std::string defaultGroup, secondText, thirdText;
  std::vector<ObjectPtr> items;
  std::vector<std::shared_ptr<CProjNode>> projectTree;
  std::weak_ptr<CStgDoc> sourceDoc;  // empty: the document itself
  std::weak_ptr<CStgDoc> threadCopy;
  ObjectPtr attachedObject;
  uint8_t positiveLead = 1;

  // Project part: what the file says, before the process-wide copy.
  ProjectSettings settings;
  CollectionRecord collection;
  ControlTables controlTables;

  // Set by the caller before loading: the file is a compilation or web page
  // (the root node then keeps its stored path), and the file's name.
  bool fromCompilation = false;
  std::string pathName;  // the document's path (stored form)
  bool modified = false;

  template <class W>
  void Walk(W& w);
  void Serialize(Archive& ar) override;
  void DescribeFields(FieldVisitor& v) override;

  // A copy for a script thread: header flags, group, a clone of every insert
  // (through the clone hook) and the path; links source and copy.
  static std::shared_ptr<CStgDoc> Clone(const std::shared_ptr<CStgDoc>& source, bool whilePlaying);
  void DeleteContents();
  static bool IsStandbysFile(const std::string& path);

  // Writes the whole layout the loader reads, at the newest version, to a
  // temporary file renamed over `hostPath`. Failures are reported through
  // ReportFileFailure and answer false.
  // `messages` is the run's box (the process's outside a run).
  bool SaveDocument(const std::string& hostPath, MessageBoxService& messages = MessageBoxes());
  // The bytes SaveDocument writes.
  std::vector<uint8_t> Store() const;
};

// How inserts are cloned for a thread copy; the insert layer installs it.
using InsertCloner = ObjectPtr (*)(const ObjectPtr& insert, bool whilePlaying);
void SetInsertCloner(InsertCloner cloner);

// Reads a whole document from bytes (the caller holds the file contents),
// for the run of `session` when there is one. Throws CArchiveException.
std::shared_ptr<CStgDoc> LoadDocument(std::span<const uint8_t> bytes, const std::string& fileName,
                                      bool fromCompilation = false, const ProjectSession* session = nullptr);

// The file-kind code of a path's extension (0 when none matches).
int ClassifyFile(const std::string& path);

// Reports a failed save or load as the user sees it.
void ReportFileFailure(const CArchiveException& e, const std::string& fileTitle,
                       MessageBoxService& messages = MessageBoxes());

// Whether the player runs hosted (changes texts and path handling).
bool IsPluginMode();
void SetPluginMode(bool plugin);

}  // namespace kv
