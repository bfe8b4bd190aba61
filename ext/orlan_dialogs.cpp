// The file and folder dialogs the browse builtins show, with their filters.
#include "ext/orlan_files.h"

#include "platform/file_dialog.h"
#include "platform/paths.h"
#include "platform/string_table.h"
#include "platform/text.h"

namespace kv {

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

}  // namespace kv
