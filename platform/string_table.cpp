#include "platform/string_table.h"

#include <algorithm>
#include <iterator>

namespace kv {
namespace {

struct Entry {
  uint32_t id;
  const char* text;
};

// Sorted by id. Each subsystem keeps its texts together under its comment.
constexpr Entry kStrings[] = {
    // File dialog filters of the project document.
    {5019, "Korvel Files|*.kvs;*.kvp||"},
    // File dialogs.
    {5032, "All Files|*.*||"},
    {5040, "Korvel Scripts|*.kvs||"},
    {5041, "Korvel Projects|*.kvp||"},
    {5047, "Framed Sprite Sequence|*.fss||"},
    // Sockets.
    // Insert record.
    {5070, "Undefined"},
    {5080, "Unable to initialize socket services.  Remote file access will be disabled."},
    {5083, "Zure Files|*.kvg||"},
    {5093, "Korvel Standbys|*.kvb||"},
    {5109, "Korvel Compilation|*.kvg||"},
    {5113, "Korvel Templates|*.kvt||"},
    {5200, "Compiled Scripts|*.ebc||"},
    {5202, "Orlan Scripts|*.ebs||"},
    {5797, "Select File"},
    // Project document.
    {5517, "Project Standbys"},
    {5737, "There is no default viewer for the specified file type."},
    {6002, "Execution Failed"},
    {6004, "There is no variable: "},
    {6009, "Invalid Result Type"},
    {6010, "Invalid Operand Type"},
    {6012, "Missing Korvel variable"},
    {6016, "Wrong Korvel variable type"},
    {6041, "Project Message"},
    // HTTP progress.
    {6087, "Connecting to %s, port %lu..."},
    {6088, "Requesting resource %s..."},
    {6089, "Received %lu bytes%%s of %s"},
    {6097, "The system is running low on memory.  Some operations may fail."},
    {6177, "The file '%s' could not be processed because it is a new file format.\r\n\r\nPlease upgrade to a newer "
           "version of the Korvel Runtime Player or check the file for validity."},
    {6178, "The file '%s' could not be processed because it is a new file format.\r\n\r\nPlease upgrade to a newer "
           "version of ~Tarn."},
    {6217, "%sObject  %u"},
    {6218, "in script %s"},
    {6323, "Exception while preparing:"},
    {6325, "Unable to prepare .KVG file"},
    // Open-remote dialog.
    {6817, "The resource '%s' cannot be found or is not available."},
    {6818, "Initializing socket connection..."},
    {6819, "Connecting to host..."},
    {6820, "Requesting resource from host..."},
    {6821, "Received %lu of %lu bytes"},
    {6822, "Resource successfully retrieved"},
    {7004, "Too many nested script calls"},
    {7009, "Run Time Error"},
    {7010, "Variables are not resident.  Open project with Global Variables."},
    {7012, "Run Time Error, Halting..."},
    {7014, "Unable to locate project script"},
    {7016, "Edit Error"},
    {7019, ".  Continue?  (Yes or No)"},
    {7028, "Threaded objects should use Project Subs. Consider moving "},
    {7033, "Attempt to print an object that is not on the Stage. "},
    {7034, "Object Crashed."},
    {7139, "Attempt to Preload a Non-FreeStyle script from a threaded FreeStyle Script."},
    {8001, "No such label"},
    {8002, "Unable to locate Korvel script"},
    {8003, "Math Exception"},
    {8015, "Error reading file"},
    {8025, "Unable to locate object"},
    {8026, "Insufficient Memory"},
    // Insert events.
    {8027, "Jumping from a (Threaded) object is invalid."},
    {8028, "Attempt to Hide All Objects while scene is loading."},
    {8029, "Script name is blank."},
    {9000, "Stop Playing"},
    {9003, "Loaded"},
    {9004, "On-Stage"},
    {9005, "Left Button Pressed"},
    {9006, "Left Button Released"},
    {9007, "A = B (equal)"},
    {9008, "A != B (Not equal)"},
    {9009, "A > B (Greater than)"},
    {9010, "A < B (Less than)"},
    {9011, "A >= B (Greater than or equal)"},
    {9012, "A <= B (Less than or equal)"},
    {9013, "Setup"},
    {9014, "File Change"},
    {9015, "Right Button Pressed"},
    {9016, "Right Button Released"},
    {9017, "Middle Button Pressed"},
    {9018, "Middle Button Released"},
    {9019, "Left mouse no action"},
    {9020, "Cursor Entering Object"},
    {9021, "Cursor Leaving Object"},
    {9022, "Off-Stage"},
    {9023, "Timer period expired"},
    {9024, "Timer dead"},
    {9026, "Sprite auto-centered"},
    {9027, "Sprite center frame cycling starts"},
    {9028, "Hotkey pressed"},
    {9030, "Hotkey released"},
    {9031, "Dragging Within Object"},
    {9032, "Going On-Stage"},
    {9033, "Enabled"},
    {9034, "Disabled"},
    {9035, "Shown"},
    {9036, "Hidden"},
    {9037, "Paused"},
    {9038, "Unpaused"},
    {9039, "Start Playing"},
    {9040, "Cursor Moving Within Object"},
    {9043, "Double Click"},
    {9044, "Drop from Drag Action"},
    {31470, "Label"},
    {31475, " is not in project"},
    // Orlan BASIC script errors.
    {31476, " in "},
    {31477, "Error %d (Line %u): %s"},
    {51467, "Function not implemented"},
    {51475, "Cannot read file as a Korvel script."},
    {57344, "Korvel"},
    // Archive failures: 61872 + cause.
    {61446, "an unnamed file"},
    {61872, "No error occurred."},
    {61873, "An unknown error occurred while accessing %1."},
    {61874, "An attempt was made to write to the reading %1."},
    {61875, "An attempt was made to access %1 past its end."},
    {61876, "An attempt was made to read from the writing %1."},
    {61877, "%1 has a bad format."},
    {61878, "%1 contained an unexpected object."},
    {61879, "%1 contains an incorrect schema."},
};

}  // namespace

const char* LoadString(uint32_t id) {
  auto it = std::lower_bound(std::begin(kStrings), std::end(kStrings), id,
                             [](const Entry& e, uint32_t key) { return e.id < key; });
  if (it == std::end(kStrings) || it->id != id) return "";
  return it->text;
}

std::string FormatString(uint32_t id, const std::string& arg) {
  std::string text = LoadString(id);
  std::string out;
  out.reserve(text.size() + arg.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 1 < text.size() && text[i + 1] == 's') {
      out += arg;
      ++i;
    } else {
      out += text[i];
    }
  }
  return out;
}

}  // namespace kv
