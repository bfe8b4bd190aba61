// The screen saver's list of installed projects: reading it for a run
// (ReadSaverConfiguration), and the model behind the configuration dialog,
// which edits the list document and writes it back. Qt-free; the dialog in
// shell/ only binds controls to SaverConfig.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "xml/node.h"

namespace kv::saver {

inline constexpr std::string_view kNoneSelected = "None Selected";
// A list file larger than this is refused as unreadable: the list holds a
// line or two per project, and the whole file is read into memory.
inline constexpr size_t kMaxListBytes = 16u << 20;

// The mode-switch option: its index (the dialog's radio group, the run's
// display override) and its text in the file.
enum ModeSwitch : int { kModeDefault = 0, kModeNone = 1, kModeFull = 2, kModeFlip = 3 };
// "default", "none", "full", "flip"; any other text is 0.
int ModeSwitchIndexOf(std::string_view text);
// The file's text of an index; anything outside 1..3 is "default".
std::string_view ModeSwitchText(int index);
// The radio button caption of an index 0..3.
std::string_view ModeSwitchCaption(int index);
// The stage display mode a run uses instead of the project's own; none for
// "default".
std::optional<uint8_t> StageModeOverride(int index);
// "flip" also forces the compositor's memory surface.
inline bool ForcesPresentationOption(int index) { return index == kModeFlip; }

// The list file: $XDG_CONFIG_HOME/korvel/savers.xml (or ~/.config/...).
std::filesystem::path SaverListPath();

// What a run takes from the list.
struct SaverRunSettings {
  std::string projectPath;
  int interactive = 0;
  int modeSwitch = 0;
  uint8_t saverOption = 0;  // the high-quality sound flag
};

// Why a run found no project; kFound when it did.
enum class ReadOutcome { kFound, kNoFile, kUnreadable, kMalformed, kNotSelected };
ReadOutcome ReadSaverConfiguration(const std::filesystem::path& file, SaverRunSettings& out);
// The same over the file's bytes.
ReadOutcome ReadSaverConfigurationFrom(std::string bytes, SaverRunSettings& out);
// A line for the user about an outcome other than kFound.
std::string ReadOutcomeText(ReadOutcome outcome, const std::filesystem::path& file);

// The project name of a path: its file name without directory and extension.
std::string ProjectNameOf(std::string_view path);
// Project names (and paths, where the dialog compares them) are compared
// without regard to ASCII letter case; the file holds UTF-8.
bool SameName(std::string_view a, std::string_view b);

// The option values the dialog's controls show.
struct SaverOptions {
  std::string path;
  bool interactive = false;
  bool highQualitySound = false;
  bool directDraw = false;
  int modeSwitch = -1;  // -1: no radio button checked
};

// The configuration dialog's state and every edit it makes on the document.
class SaverConfig {
 public:
  SaverConfig();
  ~SaverConfig();

  enum class LoadOutcome { kLoaded, kCreated, kCannotAccess, kSyntaxError, kCannotCreate };
  struct LoadResult {
    LoadOutcome outcome = LoadOutcome::kLoaded;
    std::vector<std::string> names;  // the combo box's entries, in file order
    int selected = -1;               // the entry to select, -1 for none
    std::string status;              // the status line ("" leaves it as it is)
    int errorLine = 0;
  };
  // Reads the list into the dialog; a missing file is created with nothing
  // selected.
  LoadResult Load(const std::filesystem::path& file);
  // Parses bytes as Load does with a file's content.
  LoadResult LoadBytes(std::string bytes);

  // The current project's settings into `options`; false when no project has
  // the current name (nothing changes then).
  bool ShowSettings();
  // `options` into the current project's element, which becomes the
  // selected one; sets the modified flag.
  void StoreSettings();
  // The path edit lost the focus with `path`. When the project's name
  // changes, answers the old name (to replace in the combo box).
  std::optional<std::string> EditPath(const std::string& path);
  // Adds a project file; answers its name, or none when the path is already
  // listed. Sets the modified flag either way.
  std::optional<std::string> Install(const std::string& path);
  // Removes the current project; false when no project has the current name.
  bool Remove();

  // The text written to the file: the document, one space per level, then
  // CR LF. An empty list is written with nothing selected, so it reads back.
  std::string Bytes();
  // Writes the file anew; false when it cannot be created.
  bool Save(const std::filesystem::path& file);

  // The picture shown for the current project: its path with the extension
  // ".JPG" (or ".jpg", whichever exists).
  std::string PicturePath() const;

  const AdvXMLParser::Document& document() const { return *doc_; }

  SaverOptions options;
  std::string currentName;
  bool modified = false;

 private:
  AdvXMLParser::Element* FindProject(std::string_view name) const;
  AdvXMLParser::Element& Root() const { return *doc_->Root(); }
  void SetSelected(std::string_view name);

  std::unique_ptr<AdvXMLParser::Document> doc_;
};

}  // namespace kv::saver
