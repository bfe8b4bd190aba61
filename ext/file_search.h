// The file browser's search as plain functions: wildcard patterns, the
// picture keyword filters, one folder's walk (never through a symbolic
// link), the sort orders and the roots of a whole-computer search. The
// scriptable file browser runs them on its worker thread.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace kv {

class DriveMap;

// A file name matches a pattern of '*' (any run) and '?' (one character)
// without regard to case; "*.*" matches every name, with a dot or without.
// An empty pattern matches nothing. A pattern that needs more characters
// than the name has fails at once; otherwise the work is at most the product
// of the two lengths.
bool MatchesWildcard(std::string_view pattern, std::string_view name);

enum class PictureFilter { kNone, kAllImages, kRasters, kVectors };
// "<ALLIMAGES>", "<RASTERS>" or "<VECTORS>" (any case); kNone otherwise.
PictureFilter PictureFilterOf(std::string_view filter);

struct FoundFile {
  std::string path;       // the full path in the caller's spelling
  int64_t writeTime = 0;  // last write, seconds since the epoch
};

struct SearchOptions {
  std::string pattern = "*.*";  // used when `pictures` is kNone
  PictureFilter pictures = PictureFilter::kNone;
  int32_t days = 0;             // not 0: written within that many days of `now`
  int64_t now = 0;              // seconds since the epoch
  bool subfolders = false;
  bool systemFiles = false;     // hidden, special-purpose and temporary files too
  std::vector<std::filesystem::path> skip;  // folders left out (a root searched apart)
};

// Folders nest at most this deep below the searched one.
inline constexpr int kMaxSearchDepth = 256;

// Walks `folder`: each accepted file is handed to `found` with its path as
// `prefix` followed by its relative path (backslashes between names, names
// in the stored encoding). `stop` is asked before each entry; true ends the
// walk. Symbolic links are neither followed nor reported; files that are not
// regular files are never reported. Answers the number of files reported.
size_t SearchFolder(const std::filesystem::path& folder, const std::string& prefix, const SearchOptions& options,
                    const std::function<bool()>& stop, const std::function<void(FoundFile&&)>& found);

// 0 name ascending, 1 name descending (the name without folder and extension,
// without regard to case), 2 oldest first, 3 newest first; others leave the
// order alone. Equal keys keep their order.
void SortFound(std::vector<FoundFile>& files, int option);

struct SearchRoot {
  std::string label;             // "C:\" as the script sees it
  std::filesystem::path folder;  // where it is
  std::vector<std::filesystem::path> skip;
};
// The roots of a whole-computer search: every drive of the map that is fixed,
// removable or a CD, from A: to Z:, but for one that is the whole of "/". A map with nothing but its fallback Z:
// ("/") gives the user's home first (`home`, when not empty) and then "/"
// without the home and the kernel's pseudo file systems.
std::vector<SearchRoot> ComputerRoots(const DriveMap& drives, const std::string& home);

}  // namespace kv
