// The seam between menu objects and the system menus of the stage frame: a
// menu bar attached to the frame and a pop-up menu opened at the pointer.
// The shell implements it with Qt menus in the window; a headless run has a
// model of its own that scripted input drives and frames show. Qt-free.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/geometry.h"

namespace kv {

// One entry of a system menu. Texts are Windows-1252 with their "&" marks.
struct FrameMenuEntry {
  std::string text;
  uint16_t id = 0;  // reported when the entry is chosen
  bool separator = false;
  bool checked = false;
  bool grayed = false;
  std::vector<FrameMenuEntry> sub;  // not empty: the entry opens a sub-menu
};

class FrameMenus {
 public:
  virtual ~FrameMenus() = default;
  // Attaches a menu bar to the frame, replacing none: the caller removes a
  // bar first. `chosen` receives the id of each entry chosen, on any thread.
  virtual void ShowBar(std::vector<FrameMenuEntry> entries, std::function<void(uint16_t)> chosen) = 0;
  virtual void RemoveBar() = 0;
  // Opens a pop-up menu at stage point `at` and tracks it until an entry is
  // chosen or it is dismissed; `ended` receives the chosen id, or 0. Returns
  // at once.
  virtual void OpenPopup(std::vector<FrameMenuEntry> entries, Point at, std::function<void(uint16_t)> ended) = 0;
  // Dismisses an open pop-up (its `ended` receives 0); nothing when none is open.
  virtual void CancelPopup() = 0;
};

}  // namespace kv
