// The file, picture and process builtins of the Orlan library as plain
// functions: the dispatcher reads a script's arguments, calls these and sets
// the result. Every write, copy and delete first asks the run's FileGuard.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "imaging/palette.h"
#include "stage/picture.h"
#include "stage/pixel_buffer.h"

namespace kv {

class ClipboardService;
struct ClipboardBitmap;
class DocumentOpener;
class DriveMap;
class FileDialog;
class LaunchedProgram;
class ProgramLauncher;
class VariableStore;

// --- paths

// `part` of kvExtractFromPath.
namespace path_part {
inline constexpr int32_t kExtension = 2;     // ".ext", with its dot
inline constexpr int32_t kDriveAndDir = 3;   // "C:\dir\"
inline constexpr int32_t kNameAndExt = 4;    // "name.ext"
}  // namespace path_part

// One part of a stored name ("\" and "/" both separate); any other `part`
// answers the file name without its extension.
std::string ExtractFromPath(std::string_view path, int32_t part);

// --- the guard

// Judges the writes, copies and deletes of a run's scripts. Changes are
// confined to the allowed folders (given; FileGuard::ForRun names them)
// unless the guard is unconfined, and the key folders a run depends on are
// protected even there: a folder is protected when it is one of them or
// holds one (the root holds them all). Paths are judged as written: ".." is
// taken away as a name, and a symbolic link on the way, below the allowed
// (or key) folder holding the path, refuses it: no change follows a link.
class FileGuard {
 public:
  // `allowed`: the folders changes are confined to; nothing: anywhere.
  explicit FileGuard(const std::vector<std::string>& keyFolders,
                     std::optional<std::vector<std::string>> allowed = std::nullopt);

  // The guard of a run: the key folders are the project's and the program's
  // folders and the temporary and runtime folders it uses (host paths; empty
  // ones are left out), with the user's home, settings and cache folders.
  // Changes are confined to the project's folder, the folders `drives` maps
  // (but not the whole file system that Z: stands for), the player's data
  // folder and the folders of the setting [Files] Allowed (absolute host
  // paths separated by ";"); [Files] Unrestricted=1 lifts the confinement.
  static FileGuard ForRun(const std::string& projectFolder, const std::string& programFolder,
                          const std::string& temporaryFolder, const std::string& runtimeFolder,
                          const DriveMap& drives);

  bool IsProtected(const std::filesystem::path& folder) const;
  // A file may be created or replaced there: its folder is not protected.
  // A link standing at the file's own name is replaced, not written through.
  bool MayWriteFile(const std::filesystem::path& file) const;
  // Files may be copied into the folder (and folders made in it).
  bool MayFillFolder(const std::filesystem::path& folder) const;
  // The entry may be removed with all it holds. A link is judged where it
  // stands, since removing it leaves its target alone.
  bool MayRemove(const std::filesystem::path& entry) const;
  // Files may be copied out of the folder: neither it nor a folder on its way
  // is a link. Reading is not confined.
  bool MayCopyFrom(const std::filesystem::path& folder) const;
  // A document may be opened with the desktop's handler: under confinement
  // it lies in an allowed folder and neither it nor a folder on its way
  // there is a link, as for a change.
  bool MayOpen(const std::filesystem::path& document) const;

  // The path the checks judge and the changes must use: absolute, without a
  // trailing separator, "." and ".." taken away as names (as the original's
  // path functions did), so no change goes through a link that a ".." passes.
  static std::filesystem::path Normal(const std::filesystem::path& p);

  bool confined() const { return allowed_.has_value(); }
  const std::vector<std::filesystem::path>& keyFolders() const { return keys_; }

 private:
  // The folder below which `normal` must be free of links: the allowed
  // folder holding it most closely; for reading, or without confinement, the
  // closest allowed or key folder or else the root. Empty when refused.
  std::filesystem::path WalkFrom(const std::filesystem::path& normal, bool forChange) const;
  bool Reaches(const std::filesystem::path& normal, bool withLast, bool forChange) const;

  std::vector<std::filesystem::path> keys_;  // canonical
  // Each allowed folder as written (normal) and where it really is.
  std::optional<std::vector<std::filesystem::path>> allowed_;
};

// The user's home, settings ($XDG_CONFIG_HOME/Dunmere Corp.) and cache
// ($XDG_CACHE_HOME, else ~/.cache) folders, from the environment.
std::vector<std::string> UserKeyFolders();

// The folders a run's scripts may change (before any [Files] Unrestricted):
// the project's, the drive map's except "/", the player's data folder and
// those of [Files] Allowed.
std::vector<std::string> AllowedFolders(const std::string& projectFolder, const DriveMap& drives);

// What the file builtins of one run share: how stored names become host
// paths, and the guard.
struct FileContext {
  const DriveMap& drives;
  std::string baseDir;  // host folder relative names start from (the project's)
  const FileGuard& guard;
};

// The host path a stored name stands for: folders on the way are looked up
// without regard to case; missing ones keep the name's spelling (for folders
// about to be made). Nothing for an empty name or a share.
std::optional<std::filesystem::path> HostPathFor(std::string_view stored, const FileContext& files);

// --- project folders

// Script-given counts of the list builtins are cut to this before anything
// is looked up or allocated.
inline constexpr int32_t kMaxListCount = 4096;

// The script's String variables by name, as the list builtins fill them.
class StringVariables {
 public:
  enum class Kind { kMissing, kString, kOther };
  virtual ~StringVariables() = default;
  virtual Kind KindOf(const std::string& name) = 0;
  virtual void Set(const std::string& name, const std::string& text) = 0;
};

// The variable store as StringVariables; lookups report nothing to the user.
class StoreStringVariables : public StringVariables {
 public:
  explicit StoreStringVariables(VariableStore& store) : store_(store) {}
  Kind KindOf(const std::string& name) override;
  void Set(const std::string& name, const std::string& text) override;

 private:
  VariableStore& store_;
};

// kvCountProjects: the number of subfolders (links are not folders); 0 when
// the folder does not exist.
int32_t CountProjects(std::string_view folder, const FileContext& files);

// kvLoadProjects: empties stem1 ... stem<count>, then stores the subfolder
// names from the `first`-th (from 1) on. False when a variable of another
// type is met or the folder does not exist.
bool LoadProjects(std::string_view folder, const std::string& stem, int32_t count, int32_t first,
                  StringVariables& variables, const FileContext& files);

// Whether the picture library reads the file, or it is a metafile by name.
bool IsPictureFile(const std::filesystem::path& file);

// kvLoadImages: as LoadProjects with the folder's picture files (full stored
// paths): types the picture library reads, and ".wmf" and ".emf".
bool LoadImages(std::string_view folder, const std::string& stem, int32_t count, int32_t first,
                StringVariables& variables, const FileContext& files);

// kvCopyProject: copies the source folder's files and subfolders into the
// destination (made when missing, same names replaced), then renames there
// `oldName` + ".kvp", ".kvg", ".kvb", ".ebs", ".ebc" and ".jpg" to `newName`.
// Links and special files are skipped; the destination's own subtree is
// never copied into itself. Answers whether the copy succeeded.
bool CopyProject(std::string_view source, std::string_view oldName, std::string_view destination,
                 std::string_view newName, const FileContext& files);

// kvDeleteProject: refuses a name of 3 characters or fewer and the project
// directory (`projectDirectory`, compared without regard to case); removes
// the folder with all it holds, a link only as a link. Answers whether the
// folder is gone.
bool DeleteProject(std::string_view folder, std::string_view projectDirectory, const FileContext& files);

// --- pictures

// kvConvertImage: reads `source` with the picture library and saves it by
// the target's extension; `value` is the JPEG quality or the PCX/TGA/TIFF depth.
bool ConvertImage(std::string_view source, std::string_view target, int32_t value, const FileContext& files);

// kvWriteStageToFile and kvWriteObjectToFile: captured pixels (8-bit ones
// with `palette`'s colours) saved by the file's extension, resized first
// unless `width` is 0 or -1.
bool WritePictureToFile(const PictureView& pixels, const imaging::Palette& palette, std::string_view file,
                        int32_t width, int32_t height, int32_t value, const FileContext& files);

// --- the clipboard

// The clipboard's bitmap as a 32-bit picture view over its pixels.
PictureView ViewOf(const ClipboardBitmap& bitmap);
// The part `part` (inside the buffer) of stage pixels of either format as a
// clipboard bitmap.
ClipboardBitmap ClipboardBitmapOf(const PixelBuffer& pixels, const Rect& part);

// The bytes of the enhanced metafile a picture was loaded from, read again
// for the clipboard; empty for any other file, one that no longer holds an
// EMF, or one larger than kMaxClipboardMetafile.
inline constexpr uint64_t kMaxClipboardMetafile = 64u << 20;
std::string EnhancedMetafileOf(const std::string& hostPath);

// kvWriteClipboardToFile: a name with the extension ".emf" (any case) gets
// the clipboard's enhanced metafile as it is; any other name the clipboard's
// bitmap saved by its extension at its own size. Answers whether a file was
// written: False for an empty clipboard, content that is not an EMF, or a
// target the guard refuses. The content is taken under the picture lock.
bool WriteClipboardToFile(ClipboardService& clipboard, std::string_view file, const FileContext& files);

// --- dialogs

// The filter list of kvBrowse's dialog for a kind ("audio", "image", "movie"
// without regard to case; anything else gets all files only).
std::vector<std::string> BrowseFilters(std::string_view kind);
// Filter texts ("Name|*.x||" each) as one dialog filter ("A|*.a|B|*.b||").
std::string JoinFilters(const std::vector<std::string>& filters);

// kvBrowse: the chosen file's stored name, or "" (also with no dialog: a
// headless run answers "").
std::string Browse(std::string_view kind, std::string_view initialFile, FileDialog* dialog);
// kvBrowseDir: the chosen folder with trailing blanks removed, or "".
std::string BrowseDir(std::string_view startFolder, std::string_view caption, std::string_view title,
                      std::string_view rootFolder, FileDialog* dialog);

// --- processes

// The processes kvShellExecute started, by handle. kvShellTerminate ends only
// these. Handles count up from 1 and are never reused in a run. Thread-safe.
class ProcessTable {
 public:
  // Either may be null: without a launcher every target is a document.
  ProcessTable(ProgramLauncher* launcher, DocumentOpener* documents);
  // Programs still running are left to run, as a shell-started program is.
  ~ProcessTable();

  // Starts `target`, a command line: when the launcher knows its program the
  // program runs and its handle is answered; anything else (a document, an
  // address) opens with the desktop's handler and answers 0. Nothing when it
  // could not be started. Throws KVRunException for a document when the run
  // has no opener.
  std::optional<int32_t> Execute(const std::string& target);
  // Ends the program of `handle` and forgets it. False for a handle this
  // table did not give out or already forgot.
  bool Terminate(int32_t handle);
  // The handle of the last program started; 0 after it was terminated.
  int32_t last() const;
  // Programs kept (ended ones go at the next Execute).
  size_t size() const;

 private:
  ProgramLauncher* launcher_;
  DocumentOpener* documents_;
  mutable std::mutex mutex_;
  std::map<int32_t, std::unique_ptr<LaunchedProgram>> programs_;
  int32_t nextHandle_ = 1;
  int32_t last_ = 0;
};

}  // namespace kv
