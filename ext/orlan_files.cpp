#include "ext/orlan_files.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <system_error>

#include "engine/run_error.h"
#include "engine/strings.h"
#include "engine/variables.h"
#include "imaging/metafile.h"
#include "imaging/picture_codec.h"
#include "imaging/picture_file.h"
#include "platform/clipboard.h"
#include "platform/file_dialog.h"
#include "platform/files.h"
#include "platform/launcher.h"
#include "platform/paths.h"
#include "platform/settings.h"
#include "platform/string_table.h"
#include "platform/text.h"
#include "stage/locks.h"

namespace kv {

namespace fs = std::filesystem;

// --- paths

std::string ExtractFromPath(std::string_view path, int32_t part) {
  switch (part) {
    case path_part::kExtension: return ExtensionOf(path);
    case path_part::kDriveAndDir: return DriveAndDir(path);
    case path_part::kNameAndExt: return FileNameAndExt(path);
    default: return FileNameOnly(path);
  }
}

namespace {

// "/a/b/" and "/a/b" are one folder.
fs::path WithoutTrailingSeparator(fs::path p) {
  if (!p.has_filename() && p.has_relative_path()) p = p.parent_path();
  return p;
}

// Where `p` really leads; empty when that cannot be told.
fs::path RealPath(const fs::path& p) {
  std::error_code ec;
  fs::path real = fs::weakly_canonical(fs::absolute(p, ec), ec);
  return ec ? fs::path() : WithoutTrailingSeparator(real);
}

// `outer` is `inner` or a folder above it (both canonical).
bool HoldsOrIs(const fs::path& outer, const fs::path& inner) {
  auto [o, i] = std::mismatch(outer.begin(), outer.end(), inner.begin(), inner.end());
  return o == outer.end();
}

bool IsLink(const fs::path& p) {
  std::error_code ec;
  return fs::is_symlink(fs::symlink_status(p, ec));
}

bool Exists(const fs::path& p) {
  std::error_code ec;
  return fs::exists(fs::symlink_status(p, ec));
}

// Host names are UTF-8; scripts see Windows-1252.
std::string StoredName(const fs::path& p) { return Utf8ToCp1252(p.filename().string()); }

}  // namespace

FileGuard::FileGuard(const std::vector<std::string>& keyFolders, std::optional<std::vector<std::string>> allowed) {
  for (const std::string& folder : keyFolders) {
    if (folder.empty()) continue;
    fs::path real = RealPath(folder);
    if (!real.empty()) keys_.push_back(std::move(real));
  }
  if (!allowed) return;
  allowed_.emplace();
  for (const std::string& folder : *allowed) {
    if (folder.empty()) continue;
    // A folder reached through a link is allowed by either spelling.
    for (fs::path p : {Normal(folder), RealPath(folder)})
      if (!p.empty() && p != p.root_path()) allowed_->push_back(std::move(p));
  }
}

std::vector<std::string> UserKeyFolders() {
  std::vector<std::string> folders;
  const char* home = std::getenv("HOME");
  if (home && *home == '/') folders.push_back(home);
  if (std::string settings = SettingsStore::DefaultPath(); !settings.empty())
    folders.push_back(fs::path(settings).parent_path().string());
  if (const char* cache = std::getenv("XDG_CACHE_HOME"); cache && *cache == '/')
    folders.push_back(cache);
  else if (home && *home == '/')
    folders.push_back(std::string(home) + "/.cache");
  return folders;
}

std::vector<std::string> AllowedFolders(const std::string& projectFolder, const DriveMap& drives) {
  std::vector<std::string> folders{projectFolder};
  // Every letter answers a folder: its own, or the default one.
  for (char letter = 'A'; letter <= 'Z'; ++letter) {
    std::optional<std::string> folder = drives.Folder(letter);
    if (!folder || folder->empty() || fs::path(*folder) == fs::path(*folder).root_path()) continue;
    if (std::find(folders.begin(), folders.end(), *folder) == folders.end()) folders.push_back(std::move(*folder));
  }
  folders.push_back(PlayerDataFolder());
  const std::string listed = GetSetting("Files", "Allowed", std::string());
  for (size_t at = 0; at <= listed.size();) {
    const size_t end = std::min(listed.find(';', at), listed.size());
    const std::string_view folder = Trim(std::string_view(listed).substr(at, end - at));
    if (!folder.empty() && folder[0] == '/') folders.emplace_back(folder);
    at = end + 1;
  }
  return folders;
}

FileGuard FileGuard::ForRun(const std::string& projectFolder, const std::string& programFolder,
                            const std::string& temporaryFolder, const std::string& runtimeFolder,
                            const DriveMap& drives) {
  std::vector<std::string> keys = UserKeyFolders();
  for (const std::string* folder : {&projectFolder, &programFolder, &temporaryFolder, &runtimeFolder})
    keys.push_back(*folder);
  if (GetSetting("Files", "Unrestricted", 0) == 1) return FileGuard(keys);
  return FileGuard(keys, AllowedFolders(projectFolder, drives));
}

namespace {

bool HoldsAnyKey(const fs::path& real, const std::vector<fs::path>& keys) {
  // A path that cannot be judged, and the root, are never changed.
  if (real.empty() || real == real.root_path()) return true;
  return std::any_of(keys.begin(), keys.end(), [&](const fs::path& key) { return HoldsOrIs(real, key); });
}

}  // namespace

fs::path FileGuard::Normal(const fs::path& p) {
  std::error_code ec;
  fs::path a = fs::absolute(p, ec);
  return ec ? fs::path() : WithoutTrailingSeparator(a.lexically_normal());
}

fs::path FileGuard::WalkFrom(const fs::path& normal, bool forChange) const {
  fs::path best;
  auto consider = [&](const fs::path& folder) {
    if (HoldsOrIs(folder, normal) && folder.native().size() > best.native().size()) best = folder;
  };
  if (allowed_)
    for (const fs::path& folder : *allowed_) consider(folder);
  if (forChange && allowed_) return best;
  for (const fs::path& key : keys_) consider(key);
  return best.empty() ? normal.root_path() : best;
}

bool FileGuard::Reaches(const fs::path& normal, bool withLast, bool forChange) const {
  if (normal.empty()) return false;
  const fs::path from = WalkFrom(normal, forChange);
  return !from.empty() && NoLinkBelow(from.string(), normal.string(), withLast);
}

bool FileGuard::IsProtected(const fs::path& folder) const { return HoldsAnyKey(RealPath(folder), keys_); }

bool FileGuard::MayWriteFile(const fs::path& file) const {
  const fs::path f = Normal(file);
  if (!f.has_filename() || !Reaches(f, false, true)) return false;
  return !IsProtected(f.parent_path());
}

bool FileGuard::MayFillFolder(const fs::path& folder) const {
  const fs::path f = Normal(folder);
  return Reaches(f, true, true) && !IsProtected(f);
}

bool FileGuard::MayRemove(const fs::path& entry) const {
  const fs::path e = Normal(entry);
  if (!e.has_filename() || !Reaches(e, false, true)) return false;
  // The entry itself is not resolved: a link goes, not what it names.
  fs::path parent = RealPath(e.parent_path());
  if (parent.empty()) return false;
  return !HoldsAnyKey(parent / e.filename(), keys_);
}

bool FileGuard::MayCopyFrom(const fs::path& folder) const { return Reaches(Normal(folder), true, false); }

std::optional<fs::path> HostPathFor(std::string_view stored, const FileContext& files) {
  std::string_view name = Trim(stored);
  if (name.empty()) return std::nullopt;
  if (auto resolved = ResolveHostPath(name, files.drives, files.baseDir)) return fs::path(*resolved);
  // A folder on the way is missing: resolve what exists and keep the rest as spelt.
  while (!name.empty() && IsSeparator(name.back())) name.remove_suffix(1);
  size_t sep = name.find_last_of("\\/");
  if (sep == std::string_view::npos || sep == 0) return std::nullopt;
  std::string_view parent = name.substr(0, sep);
  if (parent.size() == 2 && parent[1] == ':') return std::nullopt;  // a drive resolves or nothing does
  auto base = HostPathFor(parent, files);
  if (!base) return std::nullopt;
  return *base / Cp1252ToUtf8(name.substr(sep + 1));
}

// --- project folders

StringVariables::Kind StoreStringVariables::KindOf(const std::string& name) {
  auto item = store_.FindVariable(name, nullptr, {}, false);
  if (!item) return Kind::kMissing;
  return item->type == var_type::kString ? Kind::kString : Kind::kOther;
}

void StoreStringVariables::Set(const std::string& name, const std::string& text) {
  if (auto item = store_.FindVariable(name, nullptr, {}, false)) store_.SetText(*item, text);
}

namespace {

// Entries of a folder that satisfy `keep` (given the entry and its own,
// unfollowed status), in the order of their names without regard to case.
// Nothing when `folder` is not a folder.
template <class Keep>
std::optional<std::vector<fs::path>> ListFolder(const fs::path& folder, Keep keep) {
  std::error_code ec;
  if (!fs::is_directory(folder, ec)) return std::nullopt;
  std::vector<fs::path> entries;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    std::error_code statError;
    fs::file_status status = it->symlink_status(statError);
    if (!statError && keep(it->path(), status)) entries.push_back(it->path());
  }
  std::sort(entries.begin(), entries.end(), [](const fs::path& a, const fs::path& b) {
    const std::string sa = StoredName(a), sb = StoredName(b);
    const int c = CompareNoCase(sa, sb);
    return c != 0 ? c < 0 : sa < sb;
  });
  return entries;
}

std::optional<std::vector<fs::path>> Subfolders(std::string_view folder, const FileContext& files) {
  auto host = HostPathFor(folder, files);
  if (!host) return std::nullopt;
  return ListFolder(*host, [](const fs::path&, fs::file_status s) { return fs::is_directory(s); });
}

// The list builtins' filling: stem1 ... stem<count> emptied, then given
// `values` from the `first`-th on. False at a variable of another type.
bool EmptyVariables(const std::string& stem, int32_t count, StringVariables& variables) {
  count = std::clamp(count, 0, kMaxListCount);
  for (int32_t i = 1; i <= count; ++i) {
    const std::string name = stem + std::to_string(i);
    switch (variables.KindOf(name)) {
      case StringVariables::Kind::kOther: return false;
      case StringVariables::Kind::kString: variables.Set(name, {}); break;
      case StringVariables::Kind::kMissing: break;
    }
  }
  return true;
}

bool StoreValues(const std::string& stem, int32_t count, int32_t first, const std::vector<std::string>& values,
                 StringVariables& variables) {
  count = std::clamp(count, 0, kMaxListCount);
  const size_t start = static_cast<size_t>(std::max(first, 1)) - 1;
  for (int32_t i = 1; i <= count && start + size_t(i - 1) < values.size(); ++i) {
    const std::string name = stem + std::to_string(i);
    switch (variables.KindOf(name)) {
      case StringVariables::Kind::kOther: return false;
      case StringVariables::Kind::kString: variables.Set(name, values[start + size_t(i - 1)]); break;
      case StringVariables::Kind::kMissing: break;
    }
  }
  return true;
}

}  // namespace

bool IsPictureFile(const fs::path& file) {
  const std::string name = file.filename().string();
  const std::string ext = ToUpper1252(ExtensionOf(name));
  if (ext == ".WMF" || ext == ".EMF") return true;
  // PCX is told by its 128-byte header; the other formats need fewer bytes.
  std::array<uint8_t, 128> head{};
  std::ifstream in(file, std::ios::binary);
  in.read(reinterpret_cast<char*>(head.data()), head.size());
  const auto got = static_cast<size_t>(std::max<std::streamsize>(in.gcount(), 0));
  return imaging::DetectType(std::span<const uint8_t>(head.data(), got), name) != imaging::FileType::kUnknown;
}

int32_t CountProjects(std::string_view folder, const FileContext& files) {
  auto folders = Subfolders(folder, files);
  return folders ? static_cast<int32_t>(std::min<size_t>(folders->size(), INT32_MAX)) : 0;
}

bool LoadProjects(std::string_view folder, const std::string& stem, int32_t count, int32_t first,
                  StringVariables& variables, const FileContext& files) {
  if (!EmptyVariables(stem, count, variables)) return false;
  auto folders = Subfolders(folder, files);
  if (!folders) return false;
  std::vector<std::string> names;
  names.reserve(folders->size());
  for (const fs::path& f : *folders) names.push_back(StoredName(f));
  return StoreValues(stem, count, first, names, variables);
}

bool LoadImages(std::string_view folder, const std::string& stem, int32_t count, int32_t first,
                StringVariables& variables, const FileContext& files) {
  if (!EmptyVariables(stem, count, variables)) return false;
  auto host = HostPathFor(folder, files);
  if (!host) return false;
  auto pictures =
      ListFolder(*host, [](const fs::path& p, fs::file_status s) { return fs::is_regular_file(s) && IsPictureFile(p); });
  if (!pictures) return false;
  // Full paths in the script's own spelling of the folder.
  std::string prefix(TrimRight(folder));
  if (prefix.empty() || !IsSeparator(prefix.back())) prefix += '\\';
  std::vector<std::string> paths;
  paths.reserve(pictures->size());
  for (const fs::path& p : *pictures) paths.push_back(prefix + StoredName(p));
  return StoreValues(stem, count, first, paths, variables);
}

namespace {

// Nesting deeper than this is refused rather than followed (a loop through a
// bind mount would otherwise never end).
constexpr int kMaxCopyDepth = 256;

// The entry of `folder` named `name` without regard to case (its real
// spelling), or `name` itself when there is none.
fs::path EntryNamed(const fs::path& folder, const std::string& name) {
  if (Exists(folder / name)) return folder / name;
  const std::string want = Utf8ToCp1252(name);
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
    if (EqualsNoCase(StoredName(it->path()), want)) return it->path();
  return folder / name;
}

class FolderCopy {
 public:
  explicit FolderCopy(fs::path destinationRoot) : destinationRoot_(std::move(destinationRoot)) {}

  bool Copy(const fs::path& from, const fs::path& to, int depth) {
    if (depth > kMaxCopyDepth) return false;
    std::error_code ec;
    for (fs::directory_iterator it(from, ec), end; !ec && it != end; it.increment(ec)) {
      std::error_code statError;
      const fs::file_status status = it->symlink_status(statError);
      if (statError) return false;
      // Links and special files are not copied: a link could lead anywhere.
      if (fs::is_regular_file(status)) {
        const fs::path target = EntryNamed(to, it->path().filename().string());
        if (!CopyFileAtomically(it->path().string(), target.string())) return false;
      } else if (fs::is_directory(status)) {
        // The copy's own destination, when it lies in the source, is not copied into itself.
        std::error_code sameError;
        if (fs::equivalent(it->path(), destinationRoot_, sameError)) continue;
        const fs::path target = EntryNamed(to, it->path().filename().string());
        if (!MakeFolder(target) || !Copy(it->path(), target, depth + 1)) return false;
      }
    }
    return !ec;
  }

  // A folder at `target`: an existing one is used, a link there is replaced
  // (the link, not what it names), a file there fails the copy.
  static bool MakeFolder(const fs::path& target) {
    std::error_code ec;
    if (IsLink(target) && !fs::remove(target, ec)) return false;
    const fs::file_status status = fs::symlink_status(target, ec);
    if (fs::is_directory(status)) return true;
    if (fs::exists(status)) return false;
    return fs::create_directory(target, ec) && !ec;
  }

 private:
  fs::path destinationRoot_;
};

// A project name stays inside the destination: no separators, not "." or "..".
bool IsPlainName(std::string_view name) {
  return !name.empty() && name != "." && name != ".." && name.find_first_of("\\/") == std::string_view::npos;
}

void RenameProjectFiles(const fs::path& folder, std::string_view oldName, std::string_view newName) {
  if (!IsPlainName(oldName) || !IsPlainName(newName) || oldName == newName) return;
  static constexpr const char* kExtensions[] = {".kvp", ".kvg", ".kvb", ".ebs", ".ebc", ".jpg"};
  for (const char* ext : kExtensions) {
    const fs::path from = EntryNamed(folder, Cp1252ToUtf8(std::string(oldName) + ext));
    std::error_code ec;
    if (!fs::is_regular_file(fs::symlink_status(from, ec))) continue;
    // A failed rename leaves the copied file under its old name; the copy itself succeeded.
    fs::rename(from, folder / Cp1252ToUtf8(std::string(newName) + ext), ec);
  }
}

}  // namespace

bool CopyProject(std::string_view source, std::string_view oldName, std::string_view destination,
                 std::string_view newName, const FileContext& files) {
  auto from = HostPathFor(source, files);
  auto to = HostPathFor(destination, files);
  if (!from || !to) return false;
  // Both sides as written: a link on the way to either refuses the copy.
  const fs::path fromPath = FileGuard::Normal(*from);
  const fs::path toPath = FileGuard::Normal(*to);
  std::error_code ec;
  if (fromPath.empty() || toPath.empty() || !files.guard.MayCopyFrom(fromPath)) return false;
  if (!fs::is_directory(fs::symlink_status(fromPath, ec))) return false;
  if (!files.guard.MayFillFolder(toPath)) return false;
  // A folder copied onto itself would only be renamed in place.
  if (fromPath == toPath || fs::equivalent(fromPath, toPath, ec)) return false;
  if (!fs::is_directory(fs::symlink_status(toPath, ec))) {
    fs::create_directories(toPath, ec);
    if (ec) return false;
  }
  if (!FolderCopy(toPath).Copy(fromPath, toPath, 0)) return false;
  RenameProjectFiles(toPath, oldName, newName);
  return true;
}

bool DeleteProject(std::string_view folder, std::string_view projectDirectory, const FileContext& files) {
  if (folder.size() <= 3) return false;
  // "C:\proj" and "C:\proj\" name one folder.
  auto bare = [](std::string_view s) {
    s = Trim(s);
    while (!s.empty() && IsSeparator(s.back())) s.remove_suffix(1);
    return s;
  };
  if (!projectDirectory.empty() && EqualsNoCase(bare(folder), bare(projectDirectory))) return false;
  auto host = HostPathFor(folder, files);
  if (!host) return false;
  const fs::path entry = FileGuard::Normal(*host);
  std::error_code ec;
  const fs::file_status status = fs::symlink_status(entry, ec);
  if (!fs::is_directory(status) && !fs::is_symlink(status)) return false;
  if (!files.guard.MayRemove(entry)) return false;
  // remove_all removes links as links and never descends through them.
  fs::remove_all(entry, ec);
  return !Exists(entry);
}

// --- pictures

namespace {

std::optional<fs::path> WritableTarget(std::string_view file, const FileContext& files) {
  auto host = HostPathFor(file, files);
  if (!host || !files.guard.MayWriteFile(*host)) return std::nullopt;
  return FileGuard::Normal(*host);
}

}  // namespace

bool ConvertImage(std::string_view source, std::string_view target, int32_t value, const FileContext& files) {
  auto from = HostPathFor(source, files);
  auto to = WritableTarget(target, files);
  if (!from || !to) return false;
  imaging::PictureFile picture;
  return picture.Load(from->string()) && picture.SaveByExtension(to->string(), 0, 0, value);
}

bool WritePictureToFile(const PictureView& pixels, const imaging::Palette& palette, std::string_view file,
                        int32_t width, int32_t height, int32_t value, const FileContext& files) {
  auto to = WritableTarget(file, files);
  if (!to) return false;
  imaging::PictureFile picture;
  return picture.FromBitmap(pixels, palette) && picture.SaveByExtension(to->string(), width, height, value);
}

// --- the clipboard

PictureView ViewOf(const ClipboardBitmap& bitmap) {
  PictureView v;
  v.width = bitmap.width;
  v.height = bitmap.height;
  v.bitsPerPixel = 32;
  v.bits = reinterpret_cast<const uint8_t*>(bitmap.pixels.data());
  v.stride = ptrdiff_t(bitmap.width) * 4;
  return v;
}

namespace {

bool IsEnhancedMetafile(std::string_view bytes) {
  const std::span<const uint8_t> view(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
  return imaging::DetectMetafile(view) == imaging::MetafileType::kEmf;
}

}  // namespace

ClipboardBitmap ClipboardBitmapOf(const PixelBuffer& pixels, const Rect& part) {
  ClipboardBitmap bitmap;
  bitmap.width = part.Width();
  bitmap.height = part.Height();
  bitmap.pixels.resize(size_t(bitmap.width) * size_t(bitmap.height));
  uint32_t* out = bitmap.pixels.data();
  for (int y = part.top; y < part.bottom; ++y) {
    if (pixels.Format() == PixelFormat::kXrgb32) {
      std::memcpy(out, pixels.At(part.left, y), size_t(bitmap.width) * 4);
      // The stage's spare byte is not the clipboard's.
      for (int x = 0; x < bitmap.width; ++x) out[x] &= 0x00FFFFFF;
    } else {
      for (int x = 0; x < bitmap.width; ++x) {
        const ColorRef c = pixels.GetPixel(part.left + x, y);
        out[x] = uint32_t(c.Red()) << 16 | uint32_t(c.Green()) << 8 | c.Blue();
      }
    }
    out += bitmap.width;
  }
  return bitmap;
}

std::string EnhancedMetafileOf(const std::string& hostPath) {
  if (hostPath.empty() || imaging::MetafileTypeFromName(hostPath) != imaging::MetafileType::kEmf) return {};
  std::string bytes;
  if (!ReadHostFile(hostPath, bytes, nullptr, kMaxClipboardMetafile)) return {};
  return IsEnhancedMetafile(bytes) ? bytes : std::string();
}

bool WriteClipboardToFile(ClipboardService& clipboard, std::string_view file, const FileContext& files) {
  auto to = WritableTarget(file, files);
  if (!to) return false;
  if (EqualsNoCase(ExtractFromPath(file, path_part::kExtension), ".emf")) {
    std::optional<std::string> emf;
    {
      std::lock_guard lock(PictureLock());
      emf = clipboard.GetMetafile();
    }
    // Another program's data under the metafile's name is written only
    // when it really is an enhanced metafile.
    return emf && IsEnhancedMetafile(*emf) && WriteFileAtomically(to->string(), *emf);
  }
  std::optional<ClipboardBitmap> bitmap;
  {
    std::lock_guard lock(PictureLock());
    bitmap = clipboard.GetBitmap();
  }
  if (!bitmap || bitmap->IsNull()) return false;
  return WritePictureToFile(ViewOf(*bitmap), imaging::Palette{}, file, 0, 0, 0, files);
}

// --- dialogs

namespace {

// The formats the picture library reads, as one filter.
constexpr const char* kPictureFilesFilter =
    "Picture Files|*.bmp;*.dib;*.rle;*.gif;*.pcx;*.tga;*.jpg;*.jpeg;*.tif;*.tiff;*.png||";

constexpr uint32_t kWaveFilesFilter = 5017;
constexpr uint32_t kAviFilesFilter = 5018;
constexpr uint32_t kMidiFilesFilter = 5025;
constexpr uint32_t kQuickTimeFilter = 5033;
constexpr uint32_t kMpegFilesFilter = 5111;

}  // namespace

std::vector<std::string> BrowseFilters(std::string_view kind) {
  if (EqualsNoCase(kind, "audio")) return {LoadString(kMidiFilesFilter), LoadString(kWaveFilesFilter)};
  if (EqualsNoCase(kind, "image")) return {kPictureFilesFilter};
  if (EqualsNoCase(kind, "movie"))
    return {LoadString(kAviFilesFilter), LoadString(kMpegFilesFilter), LoadString(kQuickTimeFilter),
            LoadString(sid::kAllFilesFilter)};
  return {LoadString(sid::kAllFilesFilter)};
}

std::string JoinFilters(const std::vector<std::string>& filters) {
  std::string joined;
  for (std::string_view f : filters) {
    while (f.ends_with('|')) f.remove_suffix(1);
    joined.append(f).append("|");
  }
  return joined + "|";
}

std::string Browse(std::string_view kind, std::string_view initialFile, FileDialog* dialog) {
  if (!dialog) return {};
  FileDialogRequest request{LoadString(sid::kSelectFile), JoinFilters(BrowseFilters(kind)), std::string(initialFile)};
  return dialog->OpenFile(request).value_or(std::string());
}

std::string BrowseDir(std::string_view startFolder, std::string_view caption, std::string_view title,
                      std::string_view rootFolder, FileDialog* dialog) {
  if (!dialog) return {};
  if (!startFolder.empty() && IsSeparator(startFolder.back())) startFolder.remove_suffix(1);
  FolderDialogRequest request{std::string(startFolder), std::string(caption), std::string(title),
                              std::string(rootFolder)};
  return std::string(TrimRight(dialog->ChooseFolder(request).value_or(std::string())));
}

// --- processes

ProcessTable::ProcessTable(ProgramLauncher* launcher, DocumentOpener* documents)
    : launcher_(launcher), documents_(documents) {}

ProcessTable::~ProcessTable() = default;

std::optional<int32_t> ProcessTable::Execute(const std::string& target) {
  if (Trim(target).empty()) return std::nullopt;
  std::lock_guard lock(mutex_);
  std::erase_if(programs_, [](auto& entry) { return !entry.second->Running(); });
  if (launcher_) {
    LaunchCommand command = launcher_->Command(target);
    if (!command.program.empty() && launcher_->IsProgram(command.program)) {
      if (nextHandle_ == INT32_MAX) return std::nullopt;  // handles are never reused
      LaunchResult started = launcher_->Start(command);
      if (!started.program) return std::nullopt;
      if (started.program->Resume() != 0) {
        started.program->Close(0);
        return std::nullopt;
      }
      const int32_t handle = nextHandle_++;
      programs_.emplace(handle, std::move(started.program));
      last_ = handle;
      return handle;
    }
  }
  if (!documents_) throw KVRunException(sid::kExecutionFailed, target + " (no document opener in this run)");
  return documents_->Open(target) ? std::optional<int32_t>(0) : std::nullopt;
}

bool ProcessTable::Terminate(int32_t handle) {
  std::lock_guard lock(mutex_);
  auto it = programs_.find(handle);
  if (it == programs_.end()) return false;
  // Ended at once, as a process is terminated; the exit status is the signal's.
  it->second->Close(0);
  programs_.erase(it);
  if (last_ == handle) last_ = 0;
  return true;
}

int32_t ProcessTable::last() const {
  std::lock_guard lock(mutex_);
  return last_;
}

size_t ProcessTable::size() const {
  std::lock_guard lock(mutex_);
  return programs_.size();
}

}  // namespace kv
