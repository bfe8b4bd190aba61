// The player's side of the callback interface extensions call
// (include/korvel/extension.h): which run a calling thread reaches and which
// object "THIS" names to it.
#pragma once

#include <memory>

namespace kv {

class CInsert;
class Runner;

// While it lives, threads that run no scripts (an extension's own, or the
// thread composing the stage) reach `runner` through the callbacks. One run
// at a time; the latest registration wins until it goes.
class ExtensionRunScope {
 public:
  explicit ExtensionRunScope(Runner& runner);
  ~ExtensionRunScope();
  ExtensionRunScope(const ExtensionRunScope&) = delete;
  ExtensionRunScope& operator=(const ExtensionRunScope&) = delete;

 private:
  Runner* previous_;
  Runner& runner_;
};

// Makes `object` the calling thread's extension object ("THIS"): the
// thread's script context when it has one, otherwise a slot of the thread's
// own.
void SetCallingExtensionObject(const std::shared_ptr<CInsert>& object);
std::shared_ptr<CInsert> CallingExtensionObject();

// The calling object for the length of one call into an extension; the one
// before comes back after it, so a redraw or event that calls another
// object's entry point from inside a callback leaves "THIS" as it was.
class CallingObjectScope {
 public:
  explicit CallingObjectScope(const std::shared_ptr<CInsert>& object) : previous_(CallingExtensionObject()) {
    SetCallingExtensionObject(object);
  }
  ~CallingObjectScope() { SetCallingExtensionObject(previous_.lock()); }
  CallingObjectScope(const CallingObjectScope&) = delete;
  CallingObjectScope& operator=(const CallingObjectScope&) = delete;

 private:
  std::weak_ptr<CInsert> previous_;
};

}  // namespace kv
