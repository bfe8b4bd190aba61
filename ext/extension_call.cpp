#include "ext/extension_call.h"

#include <ffi.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "engine/run_error.h"
#include "engine/strings.h"
#include "engine/var.h"
#include "engine/variables.h"
#include "ext/dll_insert.h"
#include "ext/extension_guard.h"

namespace kv {

namespace {

using namespace entry_type;

// One argument: its 8-byte holding area (or text buffer) and what libffi
// reads for it. Never moves once the call is being built.
struct Slot {
  uint64_t hold = 0;
  std::vector<char> text;
  std::vector<uint16_t> wideText;
  void* pointer = nullptr;  // a by-reference argument's value
  ffi_type* type = nullptr;
  void* value = nullptr;
  uint8_t code = kNone;  // code 1 already replaced by the variable's own
};

[[noreturn]] void Fail(uint32_t id, size_t entry, const std::string& why = {}) {
  throw KVRunException(id, why.empty() ? std::to_string(entry) : std::to_string(entry) + ": " + why);
}

// Code 1 takes its meaning from the variable's type.
uint8_t CodeForVariableType(uint16_t type) {
  static constexpr uint8_t kByType[] = {9, 11, 13, 15, 17, 21, 22};
  return type < std::size(kByType) ? kByType[type] : kInt32 + 1;
}

bool ByReference(uint8_t code) { return (code & 1) != 0 || code == kString || code == kWString; }

ffi_type* ValueType(uint8_t code) {
  switch (code) {
    case kChar: return &ffi_type_schar;
    case kWChar: return &ffi_type_uint16;
    case kByte: return &ffi_type_uint8;
    case kInt16: return &ffi_type_sint16;
    case kUInt16: return &ffi_type_uint16;
    case kBool:
    case kInt32: return &ffi_type_sint32;
    case kUInt32: return &ffi_type_uint32;
    case kFloat: return &ffi_type_float;
    case kDouble: return &ffi_type_double;
    default: return &ffi_type_pointer;
  }
}

ffi_type* ResultType(uint8_t code) {
  if (code == kNone) return &ffi_type_void;
  if (code == kVariable || ByReference(code)) return &ffi_type_pointer;
  // Float and double results are refused after the call; only the integer
  // register is read.
  if (code == kFloat || code == kDouble) return &ffi_type_sint32;
  return ValueType(code);
}

void FillText(Slot& s, const std::string& text) {
  s.text.assign(std::max(text.size() + 1, kStringBufferSize), '\0');
  std::memcpy(s.text.data(), text.data(), text.size());
  s.pointer = s.text.data();
}

// 8-bit characters widen with their sign, as the original's did.
void FillWideText(Slot& s, const std::string& text) {
  s.wideText.assign(std::max(text.size() + 1, kStringBufferSize), 0);
  for (size_t i = 0; i < text.size(); ++i) s.wideText[i] = uint16_t(int16_t(int8_t(text[i])));
  s.pointer = s.wideText.data();
}

char NarrowChar(uint16_t unit) {
  const int16_t s = int16_t(unit);
  return s >= -128 && s <= 255 ? char(uint8_t(s)) : '?';
}

void SetLiteral(Slot& s, const std::string& text, size_t entry) {
  switch (s.code & ~1u) {
    case kNone:  // code 1 from a literal has no variable to take a type from
      Fail(sid::kUnknownParameterType, entry);
    case kChar: s.hold = uint8_t(text.empty() ? 0 : text[0]); break;
    case kWChar: s.hold = uint8_t(text.size() > 0 ? text[0] : 0) | uint16_t(uint8_t(text.size() > 1 ? text[1] : 0)) << 8; break;
    case kBool: s.hold = uint32_t(LiteralBool(text)); break;
    case kByte:
    case kInt16:
    case kUInt16:
    case kInt32:
    case kUInt32: s.hold = uint64_t(LiteralInteger(text)); break;
    case kFloat: {
      const float f = std::strtof(text.c_str(), nullptr);
      std::memcpy(&s.hold, &f, sizeof f);
      break;
    }
    case kDouble: {
      const double d = std::strtod(text.c_str(), nullptr);
      std::memcpy(&s.hold, &d, sizeof d);
      break;
    }
    case kString:
      if (s.code == kString) FillText(s, text);
      else FillWideText(s, text);
      break;
    default: Fail(sid::kUnknownParameterType, entry);
  }
}

void SetFromVariable(Slot& s, VariableStore& vars, const CVarsItem& item) {
  switch (s.code) {
    case kChar:
    case kChar + 1:
    case kWChar:
    case kWChar + 1: {
      const std::string text = vars.Text(item);
      const int8_t c = int8_t(text.empty() ? 0 : text[0]);
      s.hold = s.code < kWChar ? uint64_t(uint8_t(c)) : uint64_t(uint16_t(int16_t(c)));
      break;
    }
    case kString: FillText(s, vars.Text(item)); break;
    case kWString: FillWideText(s, vars.Text(item)); break;
    default: {
      const auto bytes = item.CurrentBytes();
      std::memcpy(&s.hold, bytes.data(), sizeof s.hold);
    }
  }
}

// The calculation's store rule keeps only the magnitude of a signed 32-bit
// value in a DWord; an unsigned number an extension hands back is kept whole.
void StoreNumber(VariableStore& vars, CVarsItem& item, const std::string& name, double x) {
  if (item.type == var_type::kDWord && x >= 0 && x <= 4294967295.0 && x == std::floor(x))
    vars.SetInt32(name, uint32_t(x));
  else
    vars.StoreNumber(item, x);
}

template <class T>
T Read(const void* p) {
  T v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

// Stores what `p` points to as `code` says (a by-reference code, 22 or 23).
// `capacity`: the size of the player's own text buffer, or 0 for a text the
// procedure returned.
void StorePointed(VariableStore& vars, CVarsItem& item, const std::string& name, uint8_t code, const void* p, size_t capacity, size_t entry) {
  if (!p) Fail(sid::kObjectCrashed, entry, "the procedure returned a null pointer");
  switch (code) {
    case kChar + 1: vars.SetText(item, std::string(1, Read<char>(p))); break;
    case kWChar + 1: vars.SetText(item, std::string(1, char(Read<uint16_t>(p) & 0xFF))); break;
    case kByte + 1: StoreNumber(vars, item, name, Read<uint8_t>(p)); break;
    case kInt16 + 1: StoreNumber(vars, item, name, Read<int16_t>(p)); break;
    case kUInt16 + 1: StoreNumber(vars, item, name, Read<uint16_t>(p)); break;
    case kBool + 1:
    case kInt32 + 1: StoreNumber(vars, item, name, Read<int32_t>(p)); break;
    case kUInt32 + 1: StoreNumber(vars, item, name, Read<uint32_t>(p)); break;
    case kFloat + 1: StoreNumber(vars, item, name, Read<float>(p)); break;
    case kDouble + 1: StoreNumber(vars, item, name, Read<double>(p)); break;
    case kString: {
      const char* text = static_cast<const char*>(p);
      const size_t limit = capacity ? capacity : kStringResultLimit + 1;
      const size_t n = strnlen(text, limit);
      if (n == limit)
        Fail(sid::kObjectCrashed, entry,
             capacity ? "the text fills its buffer of " + std::to_string(capacity) + " bytes with no terminating zero"
                      : "the text result is longer than " + std::to_string(kStringResultLimit) + " characters");
      vars.SetText(item, std::string(text, n));
      break;
    }
    case kWString: {
      const uint16_t* units = static_cast<const uint16_t*>(p);
      const size_t limit = capacity ? capacity : kStringResultLimit + 1;
      std::string text;
      size_t n = 0;
      for (; n < limit; ++n) {
        const uint16_t u = Read<uint16_t>(units + n);
        if (u == 0) break;
        text.push_back(NarrowChar(u));
      }
      if (n == limit)
        Fail(sid::kObjectCrashed, entry,
             capacity ? "the text fills its buffer of " + std::to_string(capacity) + " units with no terminating zero"
                      : "the text result is longer than " + std::to_string(kStringResultLimit) + " characters");
      vars.SetText(item, text);
      break;
    }
    default: Fail(sid::kUnknownParameterType, entry);
  }
}

void StoreResult(VariableStore& vars, CVarsItem& item, const std::string& name, uint8_t code, uint64_t raw, void* pointer) {
  switch (code) {
    case kChar:
    case kWChar: vars.SetText(item, std::string(1, char(raw & 0xFF))); break;
    case kByte: StoreNumber(vars, item, name, uint8_t(raw)); break;
    case kInt16: StoreNumber(vars, item, name, int16_t(raw)); break;
    case kUInt16: StoreNumber(vars, item, name, uint16_t(raw)); break;
    case kBool:
    case kInt32: StoreNumber(vars, item, name, int32_t(raw)); break;
    case kUInt32: StoreNumber(vars, item, name, uint32_t(raw)); break;
    case kFloat:
    case kDouble: throw KVRunException(sid::kInvalidVariableType, "0");
    default: StorePointed(vars, item, name, code, pointer, 0, 0);
  }
}

std::shared_ptr<CVarsItem> Variable(VariableStore& vars, const std::string& name, size_t entry) {
  auto item = vars.FindVariable(name, nullptr, {}, false);
  if (!item) throw KVRunException(sid::kNoSuchVariable, std::to_string(entry));
  return item;
}

}  // namespace

int64_t LiteralInteger(const std::string& text) { return std::strtoll(text.c_str(), nullptr, 10); }

int32_t LiteralBool(const std::string& text) {
  if (text == "TRUE") return 1;
  if (text == "FALSE") return 0;
  return int32_t(LiteralInteger(text));
}

void CallExtensionProcedure(VariableStore& vars, const DllFields& f, ExtensionProcedure procedure) {
  const std::string& procedureName = f.procedureName;
  const size_t count = f.entryCount;
  if (count == 0 || count > DllFields::kMaxEntries)
    throw KVRunException(sid::kUnknownParameterType, "entry count " + std::to_string(count));
  std::array<Slot, DllFields::kMaxEntries> slots;
  std::array<ffi_type*, DllFields::kMaxEntries> types{};
  std::array<void*, DllFields::kMaxEntries> values{};
  for (size_t i = 0; i < count; ++i)
    if (f.typeCodes[i] > kLast) Fail(sid::kUnknownParameterType, i);

  // Step 3: the arguments.
  for (size_t i = 1; i < count; ++i) {
    Slot& s = slots[i];
    s.code = f.typeCodes[i];
    if (s.code == kNone) Fail(sid::kUnknownParameterType, i);
    if (f.sources[i] == 0) {
      auto item = Variable(vars, f.texts[i], i);
      if (s.code == kVariable) s.code = CodeForVariableType(item->type);
      SetFromVariable(s, vars, *item);
    } else {
      SetLiteral(s, f.texts[i], i);
    }
    if (ByReference(s.code)) {
      if (!s.pointer) s.pointer = &s.hold;
      s.type = &ffi_type_pointer;
      s.value = &s.pointer;
    } else {
      s.type = ValueType(s.code);
      s.value = &s.hold;
    }
    types[i - 1] = s.type;
    values[i - 1] = s.value;
  }

  // Step 5: the call.
  const uint8_t resultCode = f.typeCodes[0];
  ffi_cif cif;
  if (ffi_prep_cif(&cif, FFI_DEFAULT_ABI, unsigned(count - 1), ResultType(resultCode), types.data()) != FFI_OK)
    throw KVRunException(sid::kUnknownParameterType, "the entries cannot be passed on this machine");
  alignas(16) uint64_t ret[2] = {0, 0};
  std::string fault;
  if (!CallCatchingFaults([&] { ffi_call(&cif, procedure, ret, values.data()); }, fault))
    throw KVRunException(sid::kObjectCrashed, procedureName + ": " + fault);

  // Step 6: the write-back.
  for (size_t i = 0; i < count; ++i) {
    if (f.sources[i] != 0 || f.typeCodes[i] == kNone) continue;
    if (i > 0 && !ByReference(slots[i].code)) continue;
    auto item = Variable(vars, f.texts[i], i);
    if (i == 0) {
      const uint8_t code = resultCode == kVariable ? CodeForVariableType(item->type) : resultCode;
      void* pointer = nullptr;
      std::memcpy(&pointer, ret, sizeof pointer);
      StoreResult(vars, *item, f.texts[i], code, ret[0], pointer);
      continue;
    }
    const Slot& s = slots[i];
    const size_t capacity = s.code == kString ? s.text.size() : s.code == kWString ? s.wideText.size() : 0;
    StorePointed(vars, *item, f.texts[i], s.code, s.pointer, capacity, i);
  }
}

}  // namespace kv
