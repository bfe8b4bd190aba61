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
    // Transition effect names, by effect number.
    {4000, "(None)"},
    {4001, "Wipe top to bottom"},
    {4002, "Wipe bottom to top"},
    {4003, "Wipe left to right"},
    {4004, "Wipe right to left"},
    {4005, "Horizontal close"},
    {4006, "Horizontal open"},
    {4007, "Curtain close"},
    {4008, "Curtain open"},
    {4009, "Blinds, horizontal"},
    {4010, "Blinds, vertical"},
    {4011, "Growing rectangle"},
    {4012, "Slide down"},
    {4013, "Slide up"},
    {4014, "Slide right"},
    {4015, "Slide left"},
    {4016, "Blocks down"},
    {4017, "Blocks up"},
    {4018, "Blocks right"},
    {4019, "Blocks left"},
    {4020, "Slide/push down"},
    {4021, "Slide/push up"},
    {4022, "Slide/push right"},
    {4023, "Slide/push left"},
    {4024, "Stack up"},
    {4025, "Stack down"},
    {4026, "Stack left"},
    {4027, "Stack right"},
    {4028, "Small diamonds"},
    {4029, "Small horizontal lines"},
    {4030, "Small triangles"},
    {4031, "Small hatch"},
    {4032, "Small X"},
    {4033, "Small smiles"},
    {4034, "Random circles"},
    {4035, "Random polygons"},
    {4036, "Random rectangles"},
    {4037, "Pattern circles"},
    {4038, "Pattern diamonds"},
    {4039, "Pixel fade"},
    {4040, "Wave down"},
    {4041, "Wave up"},
    {4042, "Wave right"},
    {4043, "Wave left"},
    {4044, "Clock"},
    {4045, "Spiral out"},
    {4046, "Puzzle"},
    {4047, "Circuit board"},
    {4048, "Skip lines up/down"},
    {4049, "Skip lines left/right"},
    {4050, "Mosaic"},
    {4051, "Mosaic stage "},
    {4052, "Mosaic implode"},
    {4053, "Mosaic implode stage"},
    {4054, "Mosaic down"},
    {4055, "Mosaic up"},
    {4056, "Mosaic right"},
    {4057, "Mosaic left"},
    {4058, "Stretch explode"},
    {4059, "Stretch down"},
    {4060, "Stretch up"},
    {4061, "Stretch right"},
    {4062, "Stretch left"},
    {4063, "Stretch close"},
    {4064, "Stretch open"},
    {4065, "Stretch open vertical "},
    {4066, "Stretch close vertical"},
    {4067, "Palette fade in"},
    {4068, "Palette fade color1"},
    {4069, "Palette fade color2"},
    {4070, "Palette fade color3"},
    {4071, "Palette fade color4"},
    {4072, "Palette fade color5"},
    {4073, "Palette fade color6"},
    {4074, "Roll down"},
    {4075, "Roll up"},
    {4076, "Roll right"},
    {4077, "Roll left"},
    {4078, "Roll away down"},
    {4079, "Roll away up"},
    {4080, "Roll away right"},
    {4081, "Roll away left"},
    {4082, "Growing circles"},
    {4083, "Growing star"},
    {4084, "Circles"},
    {4085, "Growing random stars"},
    {4086, "Growing random octagons"},
    {4087, "Growing random diamonds"},
    {4088, "Growing random 4stars"},
    {4089, "Growing random X's"},
    {4090, "Move away right"},
    {4091, "Move away down/right"},
    {4092, "Move away down"},
    {4093, "Move away down/left"},
    {4094, "Move away left"},
    {4095, "Move away up/left"},
    {4096, "Move away up"},
    {4097, "Move away up/right"},
    {4098, "Move away spiral/right"},
    {4099, "Move away spiral/left"},
    {4100, "Growing lines down"},
    {4101, "Growing lines up"},
    {4102, "Growing lines right"},
    {4103, "Growing lines left"},
    {4104, "Stretch right down"},
    {4105, "Stretch left down"},
    {4106, "Stretch left up"},
    {4107, "Stretch right up"},
    // File dialog filters of media files.
    {5017, "Wave Files|*.wav||"},
    {5018, "AVI Files|*.avi||"},
    // File dialog filters of the project document.
    {5019, "Korvel Files|*.kvs;*.kvp||"},
    // File dialogs.
    {5025, "MIDI & RMI Files|*.mid; *.rmi;*.midi||"},
    {5032, "All Files|*.*||"},
    {5033, "QuickTime Movies|*.mov;*.qt||"},
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
    {5111, "Movie (MPEG) Files|*.mpg;*.mpeg;*.mpe||"},
    {5113, "Korvel Templates|*.kvt||"},
    {5200, "Compiled Scripts|*.ebc||"},
    {5202, "Orlan Scripts|*.ebs||"},
    // Project document.
    {5517, "Project Standbys"},
    {5737, "There is no default viewer for the specified file type."},
    // Extension libraries.
    {5792, "Not a valid 32 bit DLL file"},
    {5793, "Procedure not found in DLL"},
    {5795, "Unknown parameter type"},
    {5796, "Error reading DLL file"},
    {5797, "Select File"},
    {6000, "Error Playing Sound"},
    {6002, "Execution Failed"},
    {6004, "There is no variable: "},
    {6008, "Invalid Variable Type"},
    {6009, "Invalid Result Type"},
    {6010, "Invalid Operand Type"},
    {6011, "NOT FOUND"},
    {6012, "Missing Korvel variable"},
    {6016, "Wrong Korvel variable type"},
    {6041, "Project Message"},
    {6051, "Unable to open file"},
    {6053, "Unknown file type"},
    {6056, "Not enough memory to complete request"},
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
    // The Orlan binding.
    {6800, "Unable to initialize Orlan"},
    {6806, "No compiled file available"},
    {6807, "Orlan Runtime Error"},
    {6808, "Error creating Orlan script object"},
    {6809, "Error creating Orlan thread"},
    {6810, "Korvel Extension Error"},
    {6815, "Subroutine missing or bad parameters"},
    // Open-remote dialog.
    {6817, "The resource '%s' cannot be found or is not available."},
    {6818, "Initializing socket connection..."},
    {6819, "Connecting to host..."},
    {6820, "Requesting resource from host..."},
    {6821, "Received %lu of %lu bytes"},
    {6822, "Resource successfully retrieved"},
    {6824, "This extension must run from the Top Thread."},
    {7000, "Internal Program Error"},
    {7001, "Not enough memory"},
    {7004, "Too many nested script calls"},
    {7005, "Orlan Error"},
    {7009, "Run Time Error"},
    {7010, "Variables are not resident.  Open project with Global Variables."},
    {7012, "Run Time Error, Halting..."},
    {7014, "Unable to locate project script"},
    {7016, "Edit Error"},
    {7018, "MCI Error->"},
    {7019, ".  Continue?  (Yes or No)"},
    {7023, "Invalid image rectangle."},
    {7024, "Invalid image device context."},
    {7025, "Unknown image error."},
    {7028, "Threaded objects should use Project Subs. Consider moving "},
    {7029, "Unable to locate Cursor "},
    {7033, "Attempt to print an object that is not on the Stage. "},
    {7034, "Object Crashed."},
    {7119, "Invalid track for this compact disc."},
    {7120, "Error initializing audio"},
    {7121, "Error playing audio segment."},
    {7139, "Attempt to Preload a Non-FreeStyle script from a threaded FreeStyle Script."},
    {8001, "No such label"},
    {8002, "Unable to locate Korvel script"},
    {8003, "Math Exception"},
    {8015, "Error reading file"},
    // The 3D object's.
    {8023, "Unable to find QD3D.DLL"},
    {8024, "Korvel requires QuickDraw 3D version 1.5 or greater."},
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
    {31466, "RTF file %s"},
    {31470, "Label"},
    {31475, " is not in project"},
    // Orlan BASIC script errors.
    {31476, " in "},
    {31477, "Error %d (Line %u): %s"},
    {41489, "This script is an older version. Please re-compile in the Orlan Editor."},
    {51452, "Error. Out of memory."},
    {51457, "Access denied: file's permission\nsetting does not allow specified access"},
    {51458, "Filename or path not found"},
    {51467, "Function not implemented"},
    {51475, "Cannot read file as a Korvel script."},
    {51497, " with frame"},
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

// The lookup is a binary search: a text merged out of order would vanish.
constexpr bool SortedById() {
  for (size_t i = 1; i < std::size(kStrings); ++i)
    if (kStrings[i - 1].id >= kStrings[i].id) return false;
  return true;
}
static_assert(SortedById(), "the string table must stay sorted by id, without repeats");

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
