// The runtime library of Orlan BASIC: string, conversion, math and
// inspection functions that scripts call by name. The compiler looks names up
// here; the VM calls the functions by their index.
#pragma once

#include <cstdint>
#include <string_view>

#include "orlan/value.h"

namespace kv::orlan {

class Thread;

// frame[0] receives the result, frame[1..count] are the arguments (ByRef
// arguments arrive as references; read them through Deref).
using LibFn = void (*)(Thread& thread, Value* frame, int count);

struct LibFunc {
  const char* name;
  int8_t minArgs;
  int16_t maxArgs;
  VarType result;  // static result type, Variant when it depends
  LibFn fn;
};

int FindLibFunc(std::string_view name);  // -1 when unknown
const LibFunc& GetLibFunc(int id);
int LibFuncCount();

// Compares two strings as StrComp does (-1, 0, 1); text mode folds case.
int CompareStrings(std::string_view a, std::string_view b, bool text);
// VBA's Like operator on Windows-1252 bytes.
bool LikeMatch(std::string_view text, std::string_view pattern, bool textCompare);
// VBA's Format for the numeric and string formats scripts use.
std::string FormatValue(const Value& v, std::string_view format);

}  // namespace kv::orlan
