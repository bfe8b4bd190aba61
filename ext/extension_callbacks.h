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
// own. It stays until the next call sets another.
void SetCallingExtensionObject(const std::shared_ptr<CInsert>& object);
std::shared_ptr<CInsert> CallingExtensionObject();

}  // namespace kv
