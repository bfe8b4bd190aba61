// Error codes of loading and drawing a 3D model, and the message each one
// shows. The codes keep the values the object's error table is keyed by, so
// codes from any source map through the one table.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace kv::threed {

namespace err {
inline constexpr int kNone = 0;
inline constexpr int kOutOfMemory = -28483;
inline constexpr int kUnknownFileType = -28474;
inline constexpr int kAccessDenied = -28469;
inline constexpr int kReadFailed = -28458;
inline constexpr int kFileNotFound = -28442;
inline constexpr int kLibraryTooOld = -28420;
inline constexpr int kLibraryMissing = -28395;
inline constexpr int kCrashed = -28500;
}  // namespace err

// The message ids of the error table.
namespace msg {
inline constexpr uint32_t kOutOfMemory = 51452;
inline constexpr uint32_t kUnknownFileType = 6053;
inline constexpr uint32_t kAccessDenied = 51457;
inline constexpr uint32_t kErrorReadingFile = 8015;
inline constexpr uint32_t kFileNotFound = 51458;
inline constexpr uint32_t kLibraryTooOld = 8024;
inline constexpr uint32_t kLibraryMissing = 8023;
inline constexpr uint32_t kInternalError = 7000;
}  // namespace msg

// 0 for no error.
uint32_t MessageIdForError(int code);

// A model that cannot be read or drawn: the code of the table and a detail
// naming what was wrong.
class ModelError : public std::runtime_error {
 public:
  ModelError(int code, const std::string& detail) : std::runtime_error(detail), code_(code) {}
  int code() const { return code_; }

 private:
  int code_;
};

}  // namespace kv::threed
