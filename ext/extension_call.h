// Calling an extension's procedure with the typed entries of a DLL insert:
// arguments built from literals and variables, the call made through libffi,
// the result and the by-reference arguments written back to variables.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace kv {

class VariableStore;
struct DllFields;

// The entry type codes (see include/korvel/extension.h).
namespace entry_type {
inline constexpr uint8_t kNone = 0;
inline constexpr uint8_t kVariable = 1;
inline constexpr uint8_t kChar = 2;
inline constexpr uint8_t kWChar = 4;
inline constexpr uint8_t kByte = 6;
inline constexpr uint8_t kInt16 = 8;
inline constexpr uint8_t kUInt16 = 10;
inline constexpr uint8_t kBool = 12;
inline constexpr uint8_t kInt32 = 14;
inline constexpr uint8_t kUInt32 = 16;
inline constexpr uint8_t kFloat = 18;
inline constexpr uint8_t kDouble = 20;
inline constexpr uint8_t kString = 22;
inline constexpr uint8_t kWString = 23;
inline constexpr uint8_t kLast = 23;
}  // namespace entry_type

inline constexpr size_t kStringBufferSize = 1024;
inline constexpr size_t kStringResultLimit = 65535;

using ExtensionProcedure = void (*)();

// Calls `procedure` with the entries of `fields` on the calling thread.
// Failures raise KVRunException: 5795 for an entry
// that cannot be passed, 6004 for a missing variable, 6008 for a float or
// double result, 7034 for a text that overran its buffer; the detail names
// the entry.
// A fault inside the procedure raises 7034 naming the signal.
void CallExtensionProcedure(VariableStore& variables, const DllFields& fields, ExtensionProcedure procedure);

// The literal conversions of the entries, exposed for tests.
int64_t LiteralInteger(const std::string& text);
int32_t LiteralBool(const std::string& text);

}  // namespace kv
