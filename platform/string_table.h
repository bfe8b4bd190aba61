// The system's user-visible texts, addressed by their string ids as the
// original's string table was. Messages are built from here, never retyped.
#pragma once

#include <cstdint>
#include <string>

namespace kv {

// The text of a string id (Windows-1252 bytes); empty when the id is unknown.
const char* LoadString(uint32_t id);

// printf-style "%s" filling of a table text with one argument.
std::string FormatString(uint32_t id, const std::string& arg);

// Named ids used from more than one place.
namespace sid {
inline constexpr uint32_t kAppName = 57344;
inline constexpr uint32_t kUnnamedFile = 61446;
inline constexpr uint32_t kArchiveExceptionBase = 61872;
inline constexpr uint32_t kProjectMessage = 6041;
inline constexpr uint32_t kNewFileFormat = 6177;
inline constexpr uint32_t kNewFileFormatPlugin = 6178;
inline constexpr uint32_t kExceptionPreparing = 6323;
inline constexpr uint32_t kUnableToPrepareKvg = 6325;
inline constexpr uint32_t kRunTimeError = 7009;
inline constexpr uint32_t kUnableToLocateProject = 7014;
inline constexpr uint32_t kContinueYesNo = 7019;
inline constexpr uint32_t kUnableToLocateScript = 8002;
inline constexpr uint32_t kInsufficientMemory = 8026;
inline constexpr uint32_t kNotInProject = 31475;
inline constexpr uint32_t kCannotReadScript = 51475;
inline constexpr uint32_t kSocketsUnavailable = 5080;
inline constexpr uint32_t kHostNotResponding = 5081;
inline constexpr uint32_t kAllFilesFilter = 5032;
inline constexpr uint32_t kSelectFile = 5797;
}  // namespace sid

}  // namespace kv
