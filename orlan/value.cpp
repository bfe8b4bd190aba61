#include "orlan/value.h"

#include "orlan/dates.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "orlan/automation.h"
#include "orlan/collection.h"
#include "platform/text.h"

namespace kv::orlan {

// Heap objects are intrusively counted; this is the one place that frees them.
void ReleaseHeap(HeapObj* h) {
  switch (h->kind) {
    case Tag::String: std::unique_ptr<StrObj>(static_cast<StrObj*>(h)).reset(); break;
    case Tag::Array: std::unique_ptr<ArrayObj>(static_cast<ArrayObj*>(h)).reset(); break;
    case Tag::Record: std::unique_ptr<RecordObj>(static_cast<RecordObj*>(h)).reset(); break;
    case Tag::Object:
      if (static_cast<ObjectObj*>(h)->library == kOwnObjectLibrary) std::unique_ptr<CollectionObj>(static_cast<CollectionObj*>(h)).reset();
      else if (static_cast<ObjectObj*>(h)->library == kAutomationLibrary)
        std::unique_ptr<AutomationObj>(static_cast<AutomationObj*>(h)).reset();
      else {
        std::unique_ptr<ObjectObj> box(static_cast<ObjectObj*>(h));
        if (box->owner) box->owner->Released(*box);
      }
      break;
    case Tag::RefBox: std::unique_ptr<RefBoxObj>(static_cast<RefBoxObj*>(h)).reset(); break;
    default: break;
  }
}

Value WrapOwnObject(std::unique_ptr<ObjectObj> made, std::atomic<uint32_t>& handles) {
  uint32_t h = handles.fetch_add(1);
  if (h == 0) h = handles.fetch_add(1);
  made->handle.store(h);
  Value r;
  r.tag = Tag::Object;
  r.h = made.release();
  return r;
}

RefBoxObj::~RefBoxObj() {
  if (owner.tag == Tag::Array) ArrOf(owner)->locks.fetch_sub(1, std::memory_order_relaxed);
}

Value Value::Str(std::string s) {
  Value r;
  r.tag = Tag::String;
  r.h = std::make_unique<StrObj>(std::move(s)).release();
  return r;
}

Value Value::Nothing() {
  Value r;
  r.tag = Tag::Object;
  r.h = std::make_unique<ObjectObj>().release();
  return r;
}

int RecordType::FieldIndex(std::string_view field) const {
  for (size_t i = 0; i < fields.size(); ++i)
    if (EqualsNoCase(fields[i].name, field)) return static_cast<int>(i);
  return -1;
}

RecordObj::RecordObj(const RecordType* t) : HeapObj(Tag::Record), type(t) {
  fields.reserve(t->fields.size());
  for (size_t i = 0; i < t->fields.size(); ++i) {
    const RecordField& f = t->fields[i];
    Value v = DefaultOf(f.type, i < t->fieldTypes.size() ? t->fieldTypes[i] : nullptr);
    if (f.fixedLength > 0) v = Value::Str(std::string(static_cast<size_t>(f.fixedLength), '\0'));
    fields.push_back(std::move(v));
  }
}

void Raise(int number) { throw ScriptError{number, ErrorText(number)}; }
void Raise(int number, std::string description) { throw ScriptError{number, std::move(description)}; }

void CheckStringLength(size_t length) {
  if (length > kMaxStringLength) Raise(err::kOutOfStringSpace);
}

void AppendBounded(std::string& out, std::string_view piece) {
  if (piece.size() > kMaxStringLength - std::min(out.size(), kMaxStringLength)) Raise(err::kOutOfStringSpace);
  out.append(piece);
}

std::string ErrorText(int number) {
  switch (number) {
    case 3: return "Return without GoSub";
    case 5: return "Invalid procedure call or argument";
    case 6: return "Overflow";
    case 7: return "Out of memory";
    case 9: return "Subscript out of range";
    case 10: return "This array is fixed or temporarily locked";
    case 11: return "Division by zero";
    case 13: return "Type mismatch";
    case 14: return "Out of string space";
    case 18: return "User interrupt occurred";
    case 20: return "Resume without error";
    case 28: return "Out of stack space";
    case 35: return "Sub or Function not defined";
    case 91: return "Object variable or With block variable not set";
    case 92: return "For loop not initialized";
    case 94: return "Invalid use of Null";
    case 424: return "Object required";
    case 438: return "Object doesn't support this property or method";
    case 449: return "Argument not optional";
    case 450: return "Wrong number of arguments or invalid property assignment";
    case 453: return "Specified DLL function not found";
    default: return "Application-defined or object-defined error";
  }
}

bool IsNumericTag(Tag t) { return t >= Tag::Integer && t <= Tag::Double; }

VarType TypeOfValue(const Value& v0) {
  const Value& v = Deref(v0);
  switch (v.tag) {
    case Tag::Empty: return VarType::Empty;
    case Tag::Null: return VarType::Null;
    case Tag::Missing: return VarType::Error;
    case Tag::Integer: return VarType::Integer;
    case Tag::Long: return VarType::Long;
    case Tag::Boolean: return VarType::Boolean;
    case Tag::Single: return VarType::Single;
    case Tag::Double: return VarType::Double;
    case Tag::Date: return VarType::Date;
    case Tag::String: return VarType::String;
    case Tag::Object: return VarType::Object;
    case Tag::Record: return VarType::Record;
    case Tag::Array: {
      VarType e = ArrOf(v)->elemType;
      return static_cast<VarType>(static_cast<uint16_t>(VarType::Array) | static_cast<uint16_t>(e));
    }
    default: return VarType::Variant;
  }
}

namespace {
const char* BaseTypeName(VarType t) {
  switch (t) {
    case VarType::Empty: return "Empty";
    case VarType::Null: return "Null";
    case VarType::Integer: return "Integer";
    case VarType::Long: return "Long";
    case VarType::Single: return "Single";
    case VarType::Double: return "Double";
    case VarType::Date: return "Date";
    case VarType::String: return "String";
    case VarType::Object: return "Object";
    case VarType::Error: return "Error";
    case VarType::Boolean: return "Boolean";
    case VarType::Byte: return "Byte";
    default: return "Variant";
  }
}
}  // namespace

std::string TypeNameOf(const Value& v0) {
  const Value& v = Deref(v0);
  if (v.tag == Tag::Record) return RecOf(v)->type->name;
  if (v.tag == Tag::Object) return ObjOf(v)->handle.load() == 0 ? "Nothing" : CollectionOf(v) ? "Collection" : "Object";
  if (v.tag == Tag::Array) return std::string(BaseTypeName(ArrOf(v)->elemType)) + "()";
  return BaseTypeName(TypeOfValue(v));
}

double RoundHalfEven(double x) {
  double r = std::nearbyint(x);  // default rounding mode is to nearest, ties to even
  return r;
}

bool ParseNumber(std::string_view text, double& out) {
  std::string_view t = Trim(text);
  if (t.empty()) return false;
  if (t.size() > 2 && t[0] == '&' && (t[1] == 'H' || t[1] == 'h' || t[1] == 'O' || t[1] == 'o')) {
    int base = (t[1] == 'H' || t[1] == 'h') ? 16 : 8;
    uint64_t v = 0;
    for (size_t i = 2; i < t.size(); ++i) {
      char c = t[i];
      int d = (c >= '0' && c <= '9') ? c - '0' : (c >= 'a' && c <= 'f') ? c - 'a' + 10 : (c >= 'A' && c <= 'F') ? c - 'A' + 10 : 99;
      if (d >= base) return false;
      v = v * base + d;
      if (v > 0xFFFFFFFFull) return false;
    }
    // &H literals are 32-bit two's complement, as in VBA.
    out = (v <= 0xFFFF && t.size() <= 6) ? static_cast<int16_t>(v) : static_cast<int32_t>(static_cast<uint32_t>(v));
    return true;
  }
  size_t i = 0;
  std::string buf;
  if (t[i] == '+' || t[i] == '-') buf += t[i++];
  bool digits = false;
  while (i < t.size() && t[i] >= '0' && t[i] <= '9') { buf += t[i++]; digits = true; }
  if (i < t.size() && t[i] == '.') {
    buf += t[i++];
    while (i < t.size() && t[i] >= '0' && t[i] <= '9') { buf += t[i++]; digits = true; }
  }
  if (!digits) return false;
  if (i < t.size() && (t[i] == 'e' || t[i] == 'E' || t[i] == 'd' || t[i] == 'D')) {
    buf += 'e';
    ++i;
    if (i < t.size() && (t[i] == '+' || t[i] == '-')) buf += t[i++];
    bool ed = false;
    while (i < t.size() && t[i] >= '0' && t[i] <= '9') { buf += t[i++]; ed = true; }
    if (!ed) return false;
  }
  if (i != t.size()) return false;
  out = std::strtod(buf.c_str(), nullptr);
  return std::isfinite(out);
}

std::string FormatDouble(double d, int digits) {
  if (d == 0) return "0";
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.*G", digits, d);
  std::string s = buf;
  // VBA writes exponents with at least two digits: 1E+20, 1.5E-07.
  size_t e = s.find('E');
  if (e != std::string::npos) {
    std::string mant = s.substr(0, e), ex = s.substr(e + 1);
    char sign = ex[0];
    std::string num = ex.substr(1);
    while (num.size() > 2 && num[0] == '0') num.erase(0, 1);
    if (num.size() < 2) num = "0" + num;
    s = mant + "E" + sign + num;
  }
  return s;
}

double ToDouble(const Value& v0) {
  const Value& v = Deref(v0);
  switch (v.tag) {
    case Tag::Integer:
    case Tag::Long:
    case Tag::Boolean: return v.i;
    case Tag::Single: return v.f;
    case Tag::Double:
    case Tag::Date: return v.d;
    case Tag::Empty: return 0;
    case Tag::String: {
      double d;
      const std::string& s = StrOf(v);
      if (ParseNumber(s, d)) return d;
      if (EqualsNoCase(Trim(s), "True")) return -1;
      if (EqualsNoCase(Trim(s), "False")) return 0;
      Raise(err::kTypeMismatch);
    }
    case Tag::Null: Raise(err::kInvalidUseOfNull);
    default: Raise(err::kTypeMismatch);
  }
}

int32_t ToLong(const Value& v0) {
  const Value& v = Deref(v0);
  if (v.tag == Tag::Long || v.tag == Tag::Integer || v.tag == Tag::Boolean) return v.i;
  double d = RoundHalfEven(ToDouble(v));
  if (!(d >= -2147483648.0 && d <= 2147483647.0)) Raise(err::kOverflow);
  return static_cast<int32_t>(d);
}

int16_t ToInteger(const Value& v0) {
  const Value& v = Deref(v0);
  int32_t r;
  if (v.tag == Tag::Long || v.tag == Tag::Integer || v.tag == Tag::Boolean) {
    r = v.i;
  } else {
    double d = RoundHalfEven(ToDouble(v));
    if (!(d >= -32768.0 && d <= 32767.0)) Raise(err::kOverflow);
    r = static_cast<int32_t>(d);
  }
  if (r < -32768 || r > 32767) Raise(err::kOverflow);
  return static_cast<int16_t>(r);
}

float ToSingle(const Value& v) {
  double d = ToDouble(v);
  if (std::fabs(d) > 3.402823466e38) Raise(err::kOverflow);
  return static_cast<float>(d);
}

bool ToBool(const Value& v0) {
  const Value& v = Deref(v0);
  switch (v.tag) {
    case Tag::Integer:
    case Tag::Long:
    case Tag::Boolean: return v.i != 0;
    case Tag::Single: return v.f != 0;
    case Tag::Double: return v.d != 0;
    case Tag::Empty: return false;
    default: return ToDouble(v) != 0;
  }
}

std::string ToStr(const Value& v0) {
  const Value& v = Deref(v0);
  switch (v.tag) {
    case Tag::String: return StrOf(v);
    case Tag::Integer:
    case Tag::Long: return std::to_string(v.i);
    case Tag::Boolean: return v.i ? "True" : "False";
    case Tag::Single: return FormatDouble(v.f, 7);
    case Tag::Double: return FormatDouble(v.d, 15);
    case Tag::Date: return DateText(v.d);
    case Tag::Empty: return "";
    case Tag::Null: Raise(err::kInvalidUseOfNull);
    default: Raise(err::kTypeMismatch);
  }
}

double ToDate(const Value& v0) {
  const Value& v = Deref(v0);
  if (v.tag == Tag::Date) return v.d;
  double d;
  if (v.tag == Tag::String) {
    if (!ParseDate(StrOf(v), d)) {
      if (!ParseNumber(StrOf(v), d)) Raise(err::kTypeMismatch);
    }
  } else if (IsNumericTag(v.tag) || v.tag == Tag::Empty) {
    d = ToDouble(v);
  } else {
    d = ToDouble(v);  // raises the error that fits (94 for Null, 13 otherwise)
  }
  if (!InDateRange(d)) Raise(err::kOverflow);
  return d;
}

Value Coerce(const Value& v0, VarType type) {
  const Value& v = Deref(v0);
  switch (type) {
    case VarType::Integer: return Value::Int(ToInteger(v));
    case VarType::Long: return Value::Lng(ToLong(v));
    case VarType::Byte: {
      int32_t x = ToLong(v);
      if (x < 0 || x > 255) Raise(err::kOverflow);
      return Value::Int(x);
    }
    case VarType::Double: return v.tag == Tag::Double ? v : Value::Dbl(ToDouble(v));
    case VarType::Single: return Value::Sng(ToSingle(v));
    case VarType::Date: return Value::DateValue(ToDate(v));
    case VarType::Boolean: return Value::Bool(ToBool(v));
    case VarType::String: return v.tag == Tag::String ? v : Value::Str(ToStr(v));
    case VarType::Object:
      if (v.tag != Tag::Object) Raise(err::kTypeMismatch);
      return v;
    case VarType::Record:
      if (v.tag != Tag::Record) Raise(err::kTypeMismatch);
      return CopyForAssign(v);
    default:
      if (v.tag == Tag::Missing) return v;
      return CopyForAssign(v);
  }
}

Value DefaultOf(VarType type, const RecordType* record) {
  switch (type) {
    case VarType::Integer:
    case VarType::Byte: return Value::Int(0);
    case VarType::Long: return Value::Lng(0);
    case VarType::Double: return Value::Dbl(0);
    case VarType::Date: return Value::DateValue(0);
    case VarType::Single: return Value::Sng(0);
    case VarType::Boolean: return Value::Bool(false);
    case VarType::String: return Value::Str("");
    case VarType::Object: return Value::Nothing();
    case VarType::Record: return record ? NewRecord(record) : Value();
    default: return Value();
  }
}

Value NewRecord(const RecordType* type) {
  Value r;
  r.tag = Tag::Record;
  r.h = std::make_unique<RecordObj>(type).release();
  return r;
}

bool WithinArrayLimit(const std::vector<ArrayObj::Dim>& dims) {
  uint64_t total = 1;
  for (const auto& d : dims) {
    total *= static_cast<uint64_t>(std::max(d.count, 0));
    if (total > kMaxArrayElements) return false;
  }
  return true;
}

Value NewArray(VarType elem, const RecordType* rec, const std::vector<ArrayObj::Dim>& dims) {
  auto arr = std::make_unique<ArrayObj>();
  arr->elemType = elem;
  arr->elemRecord = rec;
  arr->SetDims(dims);
  uint64_t total = dims.empty() ? 0 : 1;
  for (const auto& d : dims) {
    if (d.count < 0) Raise(err::kSubscript);
    total *= static_cast<uint64_t>(d.count);
    if (total > kMaxArrayElements) Raise(err::kOutOfMemory);
  }
  arr->data.reserve(total);
  for (uint64_t k = 0; k < total; ++k) arr->data.push_back(DefaultOf(elem, rec));
  Value r;
  r.tag = Tag::Array;
  r.h = arr.release();
  return r;
}

Value CopyForAssign(const Value& v0) {
  const Value& v = Deref(v0);
  if (v.tag == Tag::Record) {
    const RecordObj* src = RecOf(v);
    Value r = NewRecord(src->type);
    RecordObj* dst = RecOf(r);
    for (size_t i = 0; i < src->fields.size(); ++i) dst->fields[i] = CopyForAssign(src->fields[i]);
    return r;
  }
  if (v.tag == Tag::Array) {
    const ArrayObj* src = ArrOf(v);
    auto arr = std::make_unique<ArrayObj>();
    arr->elemType = src->elemType;
    arr->elemRecord = src->elemRecord;
    arr->SetDims(src->dims);
    arr->data.reserve(src->data.size());
    for (const Value& e : src->data) arr->data.push_back(CopyForAssign(e));
    Value r;
    r.tag = Tag::Array;
    r.h = arr.release();
    return r;
  }
  return v;
}

}  // namespace kv::orlan
