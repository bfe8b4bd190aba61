// Argument marshalling for host calls: reading and writing the arguments
// and record fields a script passes to its host.
#include "orlan/engine.h"

#include "orlan/engine_internal.h"

namespace kv::orlan {

Value* RecordRef::Field(int field) const {
  if (!rec_ || field < 0 || field >= static_cast<int>(rec_->fields.size())) return nullptr;
  return &rec_->fields[field];
}

namespace {
// A field read with a conversion; a value that does not convert reads as `fallback`.
template <class T, class Conv>
T ReadField(Value* v, Conv conv, T fallback) {
  if (!v) return fallback;
  try {
    return conv(*v);
  } catch (const ScriptError&) {
    return fallback;
  }
}
}  // namespace

int32_t RecordRef::GetLong(int field) const { return ReadField<int32_t>(Field(field), ToLong, 0); }
int16_t RecordRef::GetInteger(int field) const { return ReadField<int16_t>(Field(field), ToInteger, 0); }
double RecordRef::GetDouble(int field) const { return ReadField<double>(Field(field), ToDouble, 0.0); }
std::string RecordRef::GetString(int field) const { return ReadField<std::string>(Field(field), ToStr, std::string()); }

namespace {
// Stores into a record field with the field's declared type.
void PutField(RecordObj* rec, Value* slot, int field, Value v) {
  VarType t = rec->type->fields[field].type;
  try {
    *slot = t == VarType::Variant ? std::move(v) : Coerce(v, t);
  } catch (const ScriptError&) {
    // An out-of-range value from the host leaves the field as it was.
  }
}
}  // namespace

void RecordRef::SetLong(int field, int32_t v) {
  if (Value* s = Field(field)) PutField(rec_, s, field, Value::Lng(v));
}
void RecordRef::SetInteger(int field, int16_t v) {
  if (Value* s = Field(field)) PutField(rec_, s, field, Value::Int(v));
}
void RecordRef::SetDouble(int field, double v) {
  if (Value* s = Field(field)) PutField(rec_, s, field, Value::Dbl(v));
}
void RecordRef::SetString(int field, std::string v) {
  CheckStringLength(v.size());
  if (Value* s = Field(field)) PutField(rec_, s, field, Value::Str(std::move(v)));
}

bool ArgBlock::IsMissing(int i) const { return !InRange(i) || Peek(i).tag == Tag::Missing; }

#define KV_ARG_GET(Type, Name, Conv, Default)             \
  Type ArgBlock::Name(int i) const {                      \
    if (!InRange(i) || Peek(i).tag == Tag::Missing) return Default; \
    try {                                                 \
      return Conv(Peek(i));                               \
    } catch (const ScriptError& e) {                      \
      thread_.RaiseError(e.number);                       \
      return Default;                                     \
    }                                                     \
  }
KV_ARG_GET(int16_t, GetInteger, ToInteger, 0)
KV_ARG_GET(int32_t, GetLong, ToLong, 0)
KV_ARG_GET(double, GetDouble, ToDouble, 0)
KV_ARG_GET(std::string, GetString, ToStr, std::string())
KV_ARG_GET(bool, GetBoolean, ToBool, false)
#undef KV_ARG_GET

RecordRef ArgBlock::GetRecord(int i) const {
  if (!InRange(i) || Peek(i).tag != Tag::Record) return RecordRef();
  return RecordRef(RecOf(Peek(i)));
}

uint32_t ArgBlock::GetObject(int i) const {
  if (!InRange(i) || Peek(i).tag != Tag::Object) return 0;
  return ObjOf(Peek(i))->handle.load();
}

void ArgBlock::SetString(int i, std::string v) {
  CheckStringLength(v.size());
  if (InRange(i)) Slot(i) = Value::Str(std::move(v));
}
void ArgBlock::SetObject(int i, uint32_t handle, std::string_view className) {
  if (!InRange(i)) return;
  Value v = Value::Nothing();
  if (handle != 0) {
    auto [lib, cls] = thread_.engine().FindClass(className);
    if (!thread_.engine().ObjectBox(handle, lib, cls, v)) {
      thread_.RaiseError(err::kInvalidCall, Join("Object handle in use by another class: ", std::to_string(handle)));
      return;
    }
  }
  Slot(i) = std::move(v);
}

}  // namespace kv::orlan
