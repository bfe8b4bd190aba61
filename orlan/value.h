// The run-time values of Orlan BASIC: the tagged Value every register and
// variable holds, the reference-counted heap objects (strings, arrays,
// records, host objects) and VBA's coercions. Used by the VM, the runtime
// library and the engine interface.
#pragma once

#include <atomic>
#include <bit>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kv::orlan {

// Declared types, numbered as OLE Automation variants (what VarType answers).
enum class VarType : uint16_t {
  Empty = 0,
  Null = 1,
  Integer = 2,
  Long = 3,
  Single = 4,
  Double = 5,
  Date = 7,
  String = 8,
  Object = 9,
  Error = 10,
  Boolean = 11,
  Variant = 12,
  Byte = 17,
  Record = 36,  // a user-defined type; host declarations write it as 15
  Array = 8192,
};

// Run-time tags. Heap-owning tags form one range; code files store tags as
// numbers, so new tags are appended after it.
enum class Tag : uint8_t {
  Empty,
  Null,
  Missing,  // an Optional Variant argument that was left out
  Integer,
  Long,
  Boolean,
  Single,
  Double,
  Ref,  // a ByRef argument: points at the caller's variable
  String,
  Object,
  Record,
  Array,
  RefBox,  // a ByRef argument into an array element or record field
  Date,    // a date serial in `d`
};

static_assert(std::endian::native == std::endian::little, "Value::SetInt writes `i` as the low half of `raw`");

inline bool IsHeap(Tag t) { return t >= Tag::String && t <= Tag::RefBox; }

struct HeapObj {
  std::atomic<int32_t> refs{1};
  Tag kind;
  explicit HeapObj(Tag k) : kind(k) {}
};

void ReleaseHeap(HeapObj* h);
inline void Retain(HeapObj* h) { h->refs.fetch_add(1, std::memory_order_relaxed); }
inline void Release(HeapObj* h) {
  if (h->refs.fetch_sub(1, std::memory_order_acq_rel) == 1) ReleaseHeap(h);
}

struct Value {
  Tag tag = Tag::Empty;
  union {
    int32_t i;
    float f;
    double d;
    HeapObj* h;
    Value* ref;
    uint64_t raw;
  };

  Value() : raw(0) {}
  Value(const Value& o) : tag(o.tag), raw(o.raw) {
    if (IsHeap(tag)) Retain(h);
  }
  Value(Value&& o) noexcept : tag(o.tag), raw(o.raw) { o.tag = Tag::Empty; }
  // Safe when `o` lives inside the object this value releases.
  Value& operator=(const Value& o) {
    Tag t = o.tag;
    uint64_t bits = o.raw;
    if (IsHeap(t)) Retain(o.h);
    HeapObj* old = IsHeap(tag) ? h : nullptr;
    tag = t;
    raw = bits;
    if (old) Release(old);
    return *this;
  }
  Value& operator=(Value&& o) noexcept {
    if (this != &o) {
      HeapObj* old = IsHeap(tag) ? h : nullptr;
      tag = o.tag;
      raw = o.raw;
      o.tag = Tag::Empty;
      if (old) Release(old);
    }
    return *this;
  }
  ~Value() {
    if (IsHeap(tag)) Release(h);
  }

  void Clear() {
    if (IsHeap(tag)) Release(h);
    tag = Tag::Empty;
  }
  void SetInt(Tag t, int32_t v) {
    if (IsHeap(tag)) Release(h);
    tag = t;
    // One store of all 8 bytes (`i` is the low half): a 4-byte store after
    // clearing them would make the next 8-byte read wait for both.
    raw = static_cast<uint32_t>(v);
  }
  void SetDouble(double v) {
    if (IsHeap(tag)) Release(h);
    tag = Tag::Double;
    d = v;
  }
  // Takes over one reference of `obj`.
  void SetHeap(Tag t, HeapObj* obj) {
    if (IsHeap(tag)) Release(h);
    tag = t;
    h = obj;
  }

  static Value Int(int32_t v) { Value r; r.tag = Tag::Integer; r.i = v; return r; }
  static Value Lng(int32_t v) { Value r; r.tag = Tag::Long; r.i = v; return r; }
  static Value Bool(bool b) { Value r; r.tag = Tag::Boolean; r.i = b ? -1 : 0; return r; }
  static Value Dbl(double v) { Value r; r.tag = Tag::Double; r.d = v; return r; }
  static Value DateValue(double serial) { Value r; r.tag = Tag::Date; r.d = serial; return r; }
  static Value Sng(float v) { Value r; r.tag = Tag::Single; r.f = v; return r; }
  static Value Str(std::string s);
  static Value NullValue() { Value r; r.tag = Tag::Null; return r; }
  static Value MissingValue() { Value r; r.tag = Tag::Missing; return r; }
  static Value Nothing();
};

struct StrObj : HeapObj {
  std::string s;
  explicit StrObj(std::string v) : HeapObj(Tag::String), s(std::move(v)) {}
};

struct RecordType;

struct RecordField {
  std::string name;
  VarType type = VarType::Variant;
  int recordType = -1;  // index into the owner's record types when type is Record
  int fixedLength = 0;  // String * n
};

struct RecordType {
  std::string name;
  std::vector<RecordField> fields;
  // Record types nested in fields, resolved when the owner is built.
  std::vector<const RecordType*> fieldTypes;
  int FieldIndex(std::string_view field) const;
};

struct RecordObj : HeapObj {
  const RecordType* type;
  std::vector<Value> fields;
  explicit RecordObj(const RecordType* t);
};

struct ArrayObj : HeapObj {
  struct Dim {
    int32_t lower;
    int32_t count;
  };
  VarType elemType = VarType::Variant;
  const RecordType* elemRecord = nullptr;
  std::vector<Dim> dims;
  std::vector<Value> data;
  // A one-dimensional array's bounds again, for the VM's element fast paths;
  // count1 is 0 for any other shape. Kept by SetDims, the only writer of dims.
  int32_t lower1 = 0;
  uint32_t count1 = 0;
  bool fixed = false;             // declared with bounds: ReDim not allowed
  std::atomic<int32_t> locks{0};  // elements passed ByRef right now
  ArrayObj() : HeapObj(Tag::Array) {}
  void SetDims(std::vector<Dim> d) {
    dims = std::move(d);
    lower1 = dims.size() == 1 ? dims[0].lower : 0;
    count1 = dims.size() == 1 ? static_cast<uint32_t>(dims[0].count) : 0;
  }
};

struct ObjectObj;

// Keeps one box per live host object, so the box's death is the death of the
// last script reference to the object.
class ObjectRegistry {
 public:
  virtual void Released(ObjectObj& box) = 0;

 protected:
  ~ObjectRegistry() = default;
};

// A host object as scripts see it. `handle` 0 is a cleared reference.
struct ObjectObj : HeapObj {
  std::atomic<uint32_t> handle{0};
  int library = -1;
  int hostClass = -1;
  ObjectRegistry* owner = nullptr;  // the engine's registry holding this box, if any
  ObjectObj() : HeapObj(Tag::Object) {}
};

struct RefBoxObj : HeapObj {
  Value* slot;
  Value owner;  // keeps the array or record alive while the reference lives
  RefBoxObj(Value* s, Value o) : HeapObj(Tag::RefBox), slot(s), owner(std::move(o)) {}
  ~RefBoxObj();
};

// Bounds that keep hostile scripts from exhausting memory.
inline constexpr size_t kMaxStringLength = 64u << 20;
inline constexpr uint64_t kMaxArrayElements = 8u << 20;

// A script run-time error with VBA's number.
struct ScriptError {
  int number;
  std::string description;
};

// A VM-made object (a collection, an automation object) as a value: it
// takes the next of `handles` (never 0, which is Nothing).
Value WrapOwnObject(std::unique_ptr<ObjectObj> made, std::atomic<uint32_t>& handles);

[[noreturn]] void Raise(int number);
[[noreturn]] void Raise(int number, std::string description);
std::string ErrorText(int number);

// Every builder of a string asks before it grows one, so no script gets a
// string past kMaxStringLength: raises "Out of string space" (14).
void CheckStringLength(size_t length);
// Appends `piece` to `out`, raising as CheckStringLength before it grows.
void AppendBounded(std::string& out, std::string_view piece);

namespace err {
inline constexpr int kReturnWithoutGoSub = 3;
inline constexpr int kInvalidCall = 5;
inline constexpr int kOverflow = 6;
inline constexpr int kOutOfMemory = 7;
inline constexpr int kSubscript = 9;
inline constexpr int kArrayLocked = 10;
inline constexpr int kDivByZero = 11;
inline constexpr int kTypeMismatch = 13;
inline constexpr int kOutOfStringSpace = 14;
inline constexpr int kResumeWithoutError = 20;
inline constexpr int kOutOfStack = 28;
inline constexpr int kSubNotDefined = 35;
inline constexpr int kUserInterrupt = 18;
inline constexpr int kObjectRequired = 424;
inline constexpr int kObjectNotSet = 91;
inline constexpr int kForNotInitialized = 92;
inline constexpr int kInvalidUseOfNull = 94;
inline constexpr int kNoSuchMember = 438;
inline constexpr int kArgNotOptional = 449;
inline constexpr int kWrongArgCount = 450;
inline constexpr int kDllEntryNotFound = 453;
inline constexpr int kApplicationDefined = 1004;
}  // namespace err

// Follows a ByRef reference to the variable it names.
inline Value& Deref(Value& v) {
  if (v.tag == Tag::Ref) return *v.ref;
  if (v.tag == Tag::RefBox) return *static_cast<RefBoxObj*>(v.h)->slot;
  return v;
}
inline const Value& Deref(const Value& v) { return Deref(const_cast<Value&>(v)); }

inline const std::string& StrOf(const Value& v) { return static_cast<const StrObj*>(v.h)->s; }
inline ArrayObj* ArrOf(const Value& v) { return static_cast<ArrayObj*>(v.h); }
inline RecordObj* RecOf(const Value& v) { return static_cast<RecordObj*>(v.h); }
inline ObjectObj* ObjOf(const Value& v) { return static_cast<ObjectObj*>(v.h); }

bool IsNumericTag(Tag t);
VarType TypeOfValue(const Value& v);  // VarType()
std::string TypeNameOf(const Value& v);

// VBA's coercions; each raises 13 (type mismatch), 6 (overflow) or 94 (Null).
double ToDouble(const Value& v);
int32_t ToLong(const Value& v);
int16_t ToInteger(const Value& v);
bool ToBool(const Value& v);
float ToSingle(const Value& v);
std::string ToStr(const Value& v);
// A date serial: numbers as they are, strings parsed as dates; error 13 when
// not a date, 6 outside 1 January 100 to 31 December 9999.
double ToDate(const Value& v);
// The value converted to a declared type (what a typed variable stores).
Value Coerce(const Value& v, VarType type);
// A default-initialised variable of a declared type.
Value DefaultOf(VarType type, const RecordType* record = nullptr);

// Round half to even, as VBA's CInt/CLng/Round do.
double RoundHalfEven(double x);
// Parses a whole numeric string (blanks around it, &H and &O prefixes).
bool ParseNumber(std::string_view text, double& out);
std::string FormatDouble(double d, int digits = 15);

// The deep copy of an assignment: arrays and records are values in BASIC.
Value CopyForAssign(const Value& v);
// Whether fixed bounds stay within kMaxArrayElements: the compiler, the
// loader and the VM apply the same limit.
bool WithinArrayLimit(const std::vector<ArrayObj::Dim>& dims);
Value NewArray(VarType elem, const RecordType* rec, const std::vector<ArrayObj::Dim>& dims);
Value NewRecord(const RecordType* type);

}  // namespace kv::orlan
