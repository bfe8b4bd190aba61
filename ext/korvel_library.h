// The "Korvel" library that the player registers with the Orlan engine: one
// table of every builtin (name, dispatch id, result and argument types), the
// record types, the callback prototypes and the object classes. The table
// drives both the registration and the dispatcher's error for an id whose
// implementation this build lacks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>

#include "orlan/engine.h"

namespace kv {

// Type codes of the table: S String, L Long, I Integer, D Double, B Boolean,
// O Object, and the records r kvrect, z kvsize, p kvpoint, c kvcolor.
struct BuiltinSpec {
  const char* name;
  uint16_t id;
  char result;       // 0 for a subroutine
  const char* args;  // one type code per argument
  // The subsystem the builtin waits for when this build has none; null when
  // the builtin belongs to a subsystem that exists.
  const char* needs = nullptr;
};

inline constexpr size_t kDispatchTableSize = 219;
inline constexpr const char* kKorvelLibraryName = "Korvel";

std::span<const BuiltinSpec> KorvelBuiltins();
// The first name registered for a dispatch id (builtins and class members);
// null for an id nothing is registered under.
const char* BuiltinNameOf(uint32_t id);
// What an id needs when this build has no implementation for it.
std::string MissingBuiltinText(uint32_t id);
orlan::HostType HostTypeOf(char code);

// The whole library, declared in the engine's order; the builtins `quick`
// names are declared with the engine's quick flag.
std::unique_ptr<orlan::HostLibrary> BuildKorvelLibrary(std::string& error,
                                                       const std::function<bool(uint32_t id)>& quick = {});

}  // namespace kv
