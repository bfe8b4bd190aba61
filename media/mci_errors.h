// MCI error numbers (the platform's published values, MCIERR_BASE 256 on)
// and this player's texts for them.
#pragma once

#include <cstdint>

namespace kv {

namespace mci_err {
inline constexpr uint32_t kInvalidDeviceId = 257;
inline constexpr uint32_t kUnrecognizedKeyword = 259;
inline constexpr uint32_t kUnrecognizedCommand = 261;
inline constexpr uint32_t kHardware = 262;
inline constexpr uint32_t kInvalidDeviceName = 263;
inline constexpr uint32_t kDeviceOpen = 265;
inline constexpr uint32_t kCannotLoadDriver = 266;
inline constexpr uint32_t kMissingCommandString = 267;
inline constexpr uint32_t kMissingStringArgument = 269;
inline constexpr uint32_t kBadInteger = 270;
inline constexpr uint32_t kMissingParameter = 273;
inline constexpr uint32_t kUnsupportedFunction = 274;
inline constexpr uint32_t kFileNotFound = 275;
inline constexpr uint32_t kDeviceNotReady = 276;
inline constexpr uint32_t kInternal = 277;
inline constexpr uint32_t kCannotUseAll = 279;
inline constexpr uint32_t kExtensionNotFound = 281;
inline constexpr uint32_t kOutOfRange = 282;
inline constexpr uint32_t kFlagsNotCompatible = 284;
inline constexpr uint32_t kDuplicateAlias = 289;
inline constexpr uint32_t kBadConstant = 290;
inline constexpr uint32_t kMissingDeviceName = 292;
inline constexpr uint32_t kBadTimeFormat = 293;
inline constexpr uint32_t kNoClosingQuote = 294;
inline constexpr uint32_t kDuplicateFlags = 295;
inline constexpr uint32_t kInvalidFile = 296;
inline constexpr uint32_t kNewRequiresAlias = 299;
inline constexpr uint32_t kFilenameRequired = 304;
inline constexpr uint32_t kExtraCharacters = 305;
inline constexpr uint32_t kDeviceNotInstalled = 306;
inline constexpr uint32_t kWaveOutputsInUse = 320;  // never shown in an error box
inline constexpr uint32_t kSeqNoMidiPresent = 343;
}  // namespace mci_err

// Notification codes handed to a command's notify callback.
namespace mci_notify {
inline constexpr uint32_t kSuccessful = 1;
inline constexpr uint32_t kSuperseded = 2;
inline constexpr uint32_t kAborted = 4;
inline constexpr uint32_t kFailure = 8;
}  // namespace mci_notify

// The text of an error number; a generic text for numbers without one.
const char* MciErrorText(uint32_t code);

struct MciError {
  uint32_t code;
};

}  // namespace kv
