#include "media/mci_errors.h"

#include <algorithm>
#include <iterator>
#include <utility>

namespace kv {

namespace {
constexpr std::pair<uint32_t, const char*> kTexts[] = {
    {mci_err::kInvalidDeviceId, "The device id is not that of an open device."},
    {mci_err::kUnrecognizedKeyword, "The command has a word this device does not know."},
    {mci_err::kUnrecognizedCommand, "The command is not one this player knows."},
    {mci_err::kHardware, "The sound output reported a fault."},
    {mci_err::kInvalidDeviceName, "No open device has this name."},
    {mci_err::kDeviceOpen, "The device name is already in use; give an alias."},
    {mci_err::kCannotLoadDriver, "The device could not be started."},
    {mci_err::kMissingCommandString, "The command is empty."},
    {mci_err::kMissingStringArgument, "A word the command needs is missing."},
    {mci_err::kBadInteger, "A number in the command is missing or not a number."},
    {mci_err::kMissingParameter, "The command needs a further item."},
    {mci_err::kUnsupportedFunction, "This device cannot carry out the command."},
    {mci_err::kFileNotFound, "The file cannot be found."},
    {mci_err::kDeviceNotReady, "The device is not ready: there is no media to play."},
    {mci_err::kInternal, "The device failed inside."},
    {mci_err::kCannotUseAll, "\"all\" cannot be used with this command."},
    {mci_err::kExtensionNotFound, "No device plays files with this extension."},
    {mci_err::kOutOfRange, "The position lies outside the media."},
    {mci_err::kFlagsNotCompatible, "The command's words cannot be used together."},
    {mci_err::kDuplicateAlias, "The alias is already in use."},
    {mci_err::kBadConstant, "A value in the command is not one of those allowed."},
    {mci_err::kMissingDeviceName, "The command names no device."},
    {mci_err::kBadTimeFormat, "This device does not take that time format."},
    {mci_err::kNoClosingQuote, "A quoted name has no closing quotation mark."},
    {mci_err::kDuplicateFlags, "A word or value is given twice."},
    {mci_err::kInvalidFile, "The file cannot be played by this device."},
    {mci_err::kNewRequiresAlias, "A new recording needs an alias."},
    {mci_err::kFilenameRequired, "The device needs a file name."},
    {mci_err::kExtraCharacters, "The command has more after its end."},
    {mci_err::kDeviceNotInstalled, "This player has no device of that type; video arrives with movie playback."},
    {mci_err::kWaveOutputsInUse, "Every sound output is in use."},
    {mci_err::kSeqNoMidiPresent, "No General MIDI SoundFont is installed for the sequencer."},
};
}  // namespace

const char* MciErrorText(uint32_t code) {
  auto it = std::find_if(std::begin(kTexts), std::end(kTexts), [&](const auto& e) { return e.first == code; });
  return it != std::end(kTexts) ? it->second : "The media device reported an unknown error.";
}

}  // namespace kv
