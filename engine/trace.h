// What the engine tells an observer of the run (the headless harness's
// trace). Every call may come from any engine thread; texts are stored
// Windows-1252 bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/variables.h"

namespace kv {

class TraceSink {
 public:
  virtual ~TraceSink() = default;
  virtual void Start(const std::string& file) = 0;
  virtual void Script(const std::string& thread, const std::string& path) = 0;
  virtual void Run(const std::string& thread, const std::string& script, int64_t index,
                   const std::string& insert, const std::string& className) = 0;
  virtual void Event(const std::string& thread, const std::string& insert, uint32_t code) = 0;
  virtual void Handler(const std::string& thread, const std::string& insert, uint32_t code,
                       uint16_t command) = 0;
  virtual void Set(const VariableView& value) = 0;
  virtual void Rw(const VariableView& value) = 0;
  virtual void MessageShown(uint32_t id, const std::string& title, const std::string& text,
                       const std::string& answer) = 0;
  virtual void Launch(const std::string& program, const std::vector<std::string>& args) = 0;
  // A visible insert became visible ([left, top, right, bottom]) or left the stage.
  virtual void Show(const std::string& insert, int32_t left, int32_t top, int32_t right, int32_t bottom) = 0;
  virtual void Hide(const std::string& insert) = 0;
  // A transition effect began ("start"), finished ("end") or was cut short ("abort").
  virtual void Effect(const std::string& insert, uint32_t id, const char* op, int steps) = 0;
  // A motion path moved an insert to [left, top, right, bottom]; `node` is the node last passed.
  virtual void Path(const std::string& insert, size_t node, int32_t left, int32_t top, int32_t right,
                    int32_t bottom) = 0;
  // A sound started (`play`), was paused, resumed, or ended (`stop`); for
  // MCI playing `insert` names the device (the MCI insert's target).
  virtual void Sound(const std::string& /*thread*/, const std::string& /*insert*/, const char* /*op*/) {}
  // An MCI command string was sent: its sender, the expanded string, the
  // error number (0 on success) and the return text.
  virtual void Mci(const std::string& /*thread*/, const std::string& /*insert*/, const std::string& /*command*/,
                   uint32_t /*result*/, const std::string& /*ret*/) {}
  // An Orlan script printed a line for debugging (Debug.Print); `insert`
  // is the Orlan object whose code printed it.
  // A movie or media object started ("play"), paused, resumed or stopped,
  // with the frame shown then.
  virtual void Movie(const std::string& /*insert*/, const char* /*op*/, int64_t /*frame*/) {}
  virtual void Print(const std::string& thread, const std::string& insert, const std::string& text) = 0;
  // Keyboard focus moved to a window object (empty: it left every object).
  virtual void Focus(const std::string& /*insert*/) {}
  // The stage's cursor changed: the object that set it (empty for the
  // player), a system shape name or "", the cursor file or "", hidden.
  virtual void Cursor(const std::string& /*insert*/, const std::string& /*shape*/, const std::string& /*file*/,
                      bool /*hidden*/) {}
  // A menu item was chosen: the menu object, the item's text without its
  // accelerator marks, its command code.
  virtual void Menu(const std::string& /*insert*/, const std::string& /*item*/, uint16_t /*command*/) {}
  // A print request finished: the pages written and the stage rectangle
  // printed [left, top, right, bottom].
  virtual void Printed(int /*pages*/, int32_t /*left*/, int32_t /*top*/, int32_t /*right*/, int32_t /*bottom*/) {}
  virtual void End(int code, const std::vector<VariableView>& vars, const std::vector<VariableView>& rw) = 0;
};

}  // namespace kv
