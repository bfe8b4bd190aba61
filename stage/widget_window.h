// The seam between window-based kinds and the native widgets that show them.
// A kind asks the stage's ChildWindowFactory for a widget by type name and
// talks to it through WidgetWindow; the shell implements both with Qt
// widgets (in the window, or off screen for headless frames). Qt-free.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "stage/hooks.h"

namespace kv {

// One piece of keyboard input as the focused widget is offered it.
struct KeyStroke {
  enum class Kind { kDown, kUp, kChar };
  Kind kind = Kind::kDown;
  uint32_t key = 0;        // virtual key (kDown, kUp)
  uint32_t modifiers = 0;  // 1 Shift, 2 Ctrl, 4 Alt
  std::string text;        // kChar: Windows-1252
};

// What a widget tells the object that owns it. Called on the GUI thread: an
// implementation must not wait for an engine thread.
class WidgetListener {
 public:
  virtual ~WidgetListener() = default;
  // The user moved the keyboard focus into the widget (a click on it).
  virtual void WidgetFocused() {}
  // A property changed through input ("text" of an entry field). Windows-1252.
  virtual void WidgetChanged(const std::string& /*property*/, const std::string& /*value*/) {}
  // Whether the widget may read the file a "file:" address names (a page's
  // own pictures, frames and links). Windows-1252.
  virtual bool MayReadAddress(const std::string& /*address*/) { return true; }
};

// A native widget behind a window sprite. Every call returns at once: the
// work reaches the GUI thread through its port, in order of the calls.
class WidgetWindow : public ChildWindow {
 public:
  // Sets a property of the widget type ("text", "font", ...). Windows-1252.
  virtual void SetProperty(const std::string& name, const std::string& value) = 0;
  // The property's value as last set or changed by input.
  virtual std::string Property(const std::string& name) const = 0;
  // Shows (or removes) the keyboard focus in the widget.
  virtual void SetFocus(bool focused) = 0;
  // Offers keyboard input to the widget; true when the widget took it, false
  // when it declined (the key then goes on to hotkeys and the stage). The
  // caller holds no stage lock; this may wait for the GUI thread.
  virtual bool OfferKey(const KeyStroke& stroke) = 0;
};

// Makes native widgets for window sprites; owned by the host that builds the
// stage (the shell), lent to the stage.
class ChildWindowFactory {
 public:
  virtual ~ChildWindowFactory() = default;
  // A widget of the named type ("line edit", ...), not yet visible. Throws
  // std::invalid_argument naming a type this factory cannot make.
  virtual std::unique_ptr<WidgetWindow> Create(const std::string& type, WidgetListener& listener) = 0;
};

}  // namespace kv
