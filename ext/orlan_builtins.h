// How a builtin of the "Korvel" library is written: it receives one
// BuiltinCall (the run, the engine thread, its arguments and the Orlan
// insert it runs for) and is installed in the dispatch table by id. Each
// subsystem's builtins live in their own file with one Install function.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "orlan/engine.h"

namespace kv {

class CBasic;
class CInsert;
class OrlanBinding;
class Runner;
class ScriptThreadContext;
struct Request;

// The run-time error number of a builtin that refuses (what the text says).
inline constexpr int kBuiltinError = 5;

struct BuiltinCall {
  OrlanBinding& binding;
  Runner& runner;
  orlan::Thread& thread;
  orlan::ArgBlock& args;
  uint32_t id;

  // The Orlan insert the thread runs for (its user data); null on a thread
  // that runs for none.
  CBasic* Caller() const;
  // An object name as builtins read it: "" or "THIS" (any case) is the Orlan
  // insert, or the object whose event it handles; any other name is looked
  // up from the calling thread's script outward. Null when unresolved.
  std::shared_ptr<CInsert> FindObject(const std::string& name) const;
  std::shared_ptr<CInsert> ObjectArg(int i) const { return FindObject(args.GetString(i)); }
  // Raises a run-time error in the script (once the builtin returns).
  void Fail(const std::string& text, int number = kBuiltinError) const;
  // Stops the script (engine control 11, abort) once the builtin returns.
  void StopScript() const;
  // Posts request `code` (a Script Flow command) with its argument and
  // source to `target`; `direct` hands it to a thread waiting for one (scene
  // changes and jumps). False when the target cannot take it.
  bool Post(ScriptThreadContext* target, uint16_t code, const std::string& argument,
            const std::shared_ptr<CInsert>& source, bool direct = false) const;
};

using BuiltinFn = void (*)(BuiltinCall& call);
// The same builtin's answer under the script's lock, for the calls that can
// neither block, ask the user, take the stage lock nor run a script: true
// when it answered, false (having written nothing) to go the ordinary way.
using QuickFn = bool (*)(BuiltinCall& call);

// Dispatch id → implementation. An id left empty raises the error that
// names what it is missing.
class BuiltinTable {
 public:
  static constexpr size_t kSize = 219;
  void Set(uint32_t id, BuiltinFn fn) {
    if (id < kSize) fns_[id] = fn;
  }
  BuiltinFn Get(uint32_t id) const { return id < kSize ? fns_[id] : nullptr; }
  // `entry` answers the engine's call of `fn` directly (see SetQuick in
  // orlan_binding.h, which makes one).
  void SetQuick(uint32_t id, QuickFn fn, orlan::QuickDispatcher entry = nullptr) {
    if (id < kSize) quick_[id] = fn, entries_[id] = entry;
  }
  QuickFn GetQuick(uint32_t id) const { return id < kSize ? quick_[id] : nullptr; }
  orlan::QuickDispatcher GetQuickEntry(uint32_t id) const { return id < kSize ? entries_[id] : nullptr; }

 private:
  std::array<BuiltinFn, kSize> fns_{};
  std::array<QuickFn, kSize> quick_{};
  std::array<orlan::QuickDispatcher, kSize> entries_{};
};

// One per subsystem file.
void InstallVariableBuiltins(BuiltinTable& table);
void InstallFlowBuiltins(BuiltinTable& table);
void InstallTreeBuiltins(BuiltinTable& table);
void InstallRemoteBuiltins(BuiltinTable& table);
void InstallStageBuiltins(BuiltinTable& table);
void InstallMediaBuiltins(BuiltinTable& table);
void InstallFileBuiltins(BuiltinTable& table);
// The library's object classes and the uploads.
void InstallObjectBuiltins(BuiltinTable& table);
void InstallUploadBuiltins(BuiltinTable& table);
void InstallScanBuiltins(BuiltinTable& table);

// What the object builtins answer for an unknown object or a missing field.
inline constexpr int16_t kUnavailable16 = static_cast<int16_t>(0xDDDD);
inline constexpr int32_t kUnavailable32 = static_cast<int32_t>(0xDDDDDDDDu);
inline constexpr double kUnavailableDouble = 3722304989.0;

// Posts an object command for `object` to the thread that serves it: stop,
// pause, resume and update go to the main thread; the others to the
// object's own thread (its thread copy's while one plays), else play and
// initialise to the project thread and the rest to the main thread, which
// serves any object. The request names the object and carries it as its
// source; `number` is the media time of commands 77 and 78, `argument` the
// file of command 54 (in place of the name). False when no thread took it.
// Gives `original` the stored state its thread copy `copy` has now, keeping
// what makes it itself: handlers, request and thread links, run state, and
// while the player runs its editor flag.
void KeepStateOf(CInsert& original, const CInsert& copy, bool whilePlaying);

bool PostForObject(BuiltinCall& call, uint16_t code, const std::shared_ptr<CInsert>& object, double number = 0.0,
                   const std::string* argument = nullptr);
// The same for callers outside a builtin (extension callbacks).
bool PostForObject(Runner& runner, uint16_t code, const std::shared_ptr<CInsert>& object, double number = 0.0,
                   const std::string* argument = nullptr);

}  // namespace kv
