#include "orlan/engine.h"

#include <algorithm>
#include <cstdio>
#include <thread>
#include <unordered_map>

#include "orlan/codefile.h"
#include "orlan/collection.h"
#include "orlan/compiler.h"
#include "platform/string_table.h"
#include "platform/text.h"

namespace kv::orlan {

namespace {
constexpr uint32_t kScriptErrorFormat = 31477;

// Appends without operator+, which draws a false -Wrestrict from GCC 12.
std::string Join(std::string_view a, std::string_view b) {
  std::string s;
  s.reserve(a.size() + b.size());
  s.append(a);
  s.append(b);
  return s;
}
constexpr int kCannotCreateObject = 429;

VarType VarTypeOfHost(const HostType& t) {
  switch (t.vt) {
    case HostType::kInteger: return VarType::Integer;
    case HostType::kLong: return VarType::Long;
    case HostType::kDouble: return VarType::Double;
    case HostType::kString: return VarType::String;
    case HostType::kObject: return VarType::Object;
    case HostType::kBoolean: return VarType::Boolean;
    case HostType::kRecord: return VarType::Record;
    default: return VarType::Variant;
  }
}

// The tag of a value already of a scalar host type, or Empty when the type
// is not one (a result of it is always converted).
Tag ScalarTagOfHost(const HostType& t) {
  switch (t.vt) {
    case HostType::kInteger: return Tag::Integer;
    case HostType::kLong: return Tag::Long;
    case HostType::kDouble: return Tag::Double;
    case HostType::kString: return Tag::String;
    case HostType::kBoolean: return Tag::Boolean;
    default: return Tag::Empty;
  }
}

}  // namespace

std::string FormatScriptError(int number, uint32_t line, const std::string& text) {
  std::string fmt = LoadString(kScriptErrorFormat);
  std::string out;
  for (size_t i = 0; i < fmt.size(); ++i) {
    if (fmt[i] == '%' && i + 1 < fmt.size()) {
      char c = fmt[++i];
      if (c == 'd') out += std::to_string(number);
      else if (c == 'u') out += std::to_string(line);
      else if (c == 's') out += text;
      else out += c;
    } else {
      out += fmt[i];
    }
  }
  return out;
}

// ---- declarations ----

const RecordType* HostLibrary::FindRecord(std::string_view name) const {
  for (const auto& r : records)
    if (EqualsNoCase(r->name, name)) return r.get();
  return nullptr;
}

const HostProc* HostLibrary::FindCallback(std::string_view name) const {
  for (const auto& c : callbacks)
    if (EqualsNoCase(c.name, name)) return &c;
  return nullptr;
}

void LibraryBuilder::Fail(std::string message) {
  if (error_.empty()) error_ = std::move(message);
}

bool LibraryBuilder::CheckType(const HostType& t) {
  switch (t.vt) {
    case HostType::kInteger:
    case HostType::kLong:
    case HostType::kDouble:
    case HostType::kString:
    case HostType::kObject:
    case HostType::kBoolean:
    case HostType::kVariant: return true;
    case HostType::kRecord:
      if (lib_->FindRecord(t.record)) return true;
      Fail(Join("unknown record type ", t.record));
      return false;
    default: Fail(Join("unknown value type ", std::to_string(t.vt))); return false;
  }
}

void LibraryBuilder::AddRecordType(std::string name) {
  if (lib_->FindRecord(name)) return Fail(Join("record type declared twice: ", name));
  auto r = std::make_unique<RecordType>();
  r->name = std::move(name);
  lib_->records.push_back(std::move(r));
}

void LibraryBuilder::AddField(std::string name, HostType type) {
  if (lib_->records.empty()) return Fail(Join("field without a record type: ", name));
  if (!CheckType(type)) return;
  RecordType& r = *lib_->records.back();
  RecordField f;
  f.name = std::move(name);
  f.type = VarTypeOfHost(type);
  r.fields.push_back(f);
  r.fieldTypes.push_back(type.vt == HostType::kRecord ? lib_->FindRecord(type.record) : nullptr);
}

void LibraryBuilder::AddFunction(uint32_t flags, std::string name, uint32_t id, HostType result, int minArgs, int maxArgs,
                                 std::vector<HostType> types) {
  bool exists = std::any_of(lib_->procs.begin(), lib_->procs.end(), [&](const HostProc& p) { return EqualsNoCase(p.name, name); });
  if (exists && (flags & kOverloadFlag) != kOverloadFlag) return Fail(Join("declared twice without the overload flag: ", name));
  if (minArgs < 0 || maxArgs < minArgs || static_cast<size_t>(maxArgs) != types.size())
    return Fail(Join("argument counts do not match the types: ", name));
  for (const auto& t : types)
    if (!CheckType(t)) return;
  if (!CheckType(result)) return;
  HostProc p;
  p.name = std::move(name);
  p.id = id;
  p.isFunction = true;
  p.result = std::move(result);
  p.minArgs = minArgs;
  p.maxArgs = maxArgs;
  p.args = std::move(types);
  p.quick = (flags & kQuickFlag) != 0;
  lib_->procs.push_back(std::move(p));
}

void LibraryBuilder::AddSub(uint32_t flags, std::string name, uint32_t id, int minArgs, int maxArgs, std::vector<HostType> types) {
  size_t before = lib_->procs.size();
  AddFunction(flags, std::move(name), id, HostType{HostType::kVariant, {}}, minArgs, maxArgs, std::move(types));
  if (lib_->procs.size() > before) lib_->procs.back().isFunction = false;
}

void LibraryBuilder::AddCallback(std::string name, int minArgs, int maxArgs, std::vector<HostType> types) {
  if (lib_->FindCallback(name)) return Fail(Join("callback prototype declared twice: ", name));
  if (minArgs < 0 || maxArgs < minArgs || static_cast<size_t>(maxArgs) != types.size())
    return Fail(Join("argument counts do not match the types: ", name));
  HostProc p;
  p.name = std::move(name);
  p.minArgs = minArgs;
  p.maxArgs = maxArgs;
  p.args = std::move(types);
  lib_->callbacks.push_back(std::move(p));
}

void LibraryBuilder::AddClass(std::string name, uint32_t constructorId) {
  for (const auto& c : lib_->classes)
    if (EqualsNoCase(c.name, name)) return Fail(Join("class declared twice: ", name));
  HostClass c;
  c.name = std::move(name);
  c.constructorId = constructorId;
  lib_->classes.push_back(std::move(c));
}

void LibraryBuilder::AddMethod(std::string name, uint32_t id, int minArgs, int maxArgs, std::vector<HostType> types) {
  AddFunctionMethod(std::move(name), id, HostType{HostType::kVariant, {}}, minArgs, maxArgs, std::move(types));
  if (!lib_->classes.empty() && !lib_->classes.back().methods.empty()) lib_->classes.back().methods.back().isFunction = false;
}

void LibraryBuilder::AddFunctionMethod(std::string name, uint32_t id, HostType result, int minArgs, int maxArgs,
                                       std::vector<HostType> types) {
  if (lib_->classes.empty()) return Fail(Join("method without a class: ", name));
  if (minArgs < 0 || maxArgs < minArgs || static_cast<size_t>(maxArgs) != types.size())
    return Fail(Join("argument counts do not match the types: ", name));
  for (const auto& t : types)
    if (!CheckType(t)) return;
  HostProc p;
  p.name = std::move(name);
  p.id = id;
  p.isFunction = true;
  p.result = std::move(result);
  p.minArgs = minArgs;
  p.maxArgs = maxArgs;
  p.args = std::move(types);
  lib_->classes.back().methods.push_back(std::move(p));
}

void LibraryBuilder::AddProperty(uint32_t /*flags*/, std::string name, uint16_t setId, uint16_t getId, HostType type) {
  if (lib_->classes.empty()) return Fail(Join("property without a class: ", name));
  if (setId == kNoAccessor && getId == kNoAccessor) return Fail(Join("property without accessors: ", name));
  if (!CheckType(type)) return;
  lib_->classes.back().properties.push_back(HostProperty{std::move(name), setId, getId, std::move(type)});
}

std::unique_ptr<HostLibrary> LibraryBuilder::Finish(std::string& error) {
  if (!error_.empty()) {
    error = error_;
    return nullptr;
  }
  auto lib = std::move(lib_);
  lib_ = std::make_unique<HostLibrary>();
  return lib;
}

// ---- records and arguments ----

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

// ---- script objects ----

ScriptObject::ScriptObject(Engine& engine, Program program) : engine_(engine), program_(std::move(program)) {}

bool ScriptObject::Link(std::string& error) {
  const auto& libs = engine_.libraries();
  size_t n = program_.records.size();
  records_.assign(n, nullptr);
  typeClass_.assign(n, -1);
  for (size_t i = 0; i < n; ++i) {
    const RecordDecl& d = program_.records[i];
    if (!d.external) {
      auto r = std::make_unique<RecordType>();
      r->name = d.name;
      r->fields = d.fields;
      records_[i] = r.get();
      ownRecords_.push_back(std::move(r));
      continue;
    }
    for (const auto& l : libs)
      if (!records_[i]) records_[i] = l.lib->FindRecord(d.name);
    if (records_[i]) continue;
    auto [lib, cls] = engine_.FindClass(d.name);
    if (cls >= 0) {
      typeClass_[i] = cls;
      continue;
    }
    error = Join("User-defined type not defined: ", d.name);
    return false;
  }
  for (auto& r : ownRecords_) {
    r->fieldTypes.clear();
    for (auto& f : r->fields) {
      const RecordType* ft = nullptr;
      if (f.type == VarType::Record && f.recordType >= 0 && static_cast<size_t>(f.recordType) < n) {
        if (typeClass_[f.recordType] >= 0) f.type = VarType::Object;
        else ft = records_[f.recordType];
        if (ft == r.get()) {
          error = Join("A record type cannot contain itself: ", r->name);
          return false;
        }
      }
      r->fieldTypes.push_back(ft);
    }
  }
  // A record may not contain itself through other records either.
  for (auto& r : ownRecords_) {
    std::vector<const RecordType*> path{r.get()};
    std::function<bool(const RecordType*, int)> cyclic = [&](const RecordType* t, int depth) {
      if (depth > 64) return true;
      for (const RecordType* ft : t->fieldTypes) {
        if (!ft) continue;
        if (ft == r.get() || cyclic(ft, depth + 1)) return true;
      }
      return false;
    };
    if (cyclic(r.get(), 0)) {
      error = Join("A record type cannot contain itself: ", r->name);
      return false;
    }
  }
  globals.clear();
  for (const auto& g : program_.globals) globals.push_back(DefaultFor(g.type, g.dims));
  entries_.assign(program_.functions.size(), EntryInfo{});
  for (size_t i = 0; i < program_.functions.size(); ++i) {
    const Function& f = program_.functions[i];
    EntryInfo& e = entries_[i];
    e.fn = &f;
    e.params = static_cast<uint16_t>(f.params.size());
    e.registers = f.numRegs;
    if (f.isFunction) e.result = DefaultFor(f.result, {});
    e.plain = f.inits.empty() && !IsHeap(e.result.tag) &&
              std::none_of(f.params.begin(), f.params.end(), [](const ParamInfo& p) { return p.optional || p.paramArray; });
  }
  imports.assign(program_.imports.size(), ImportLink{});
  for (size_t i = 0; i < program_.imports.size(); ++i) {
    const ImportDecl& d = program_.imports[i];
    imports[i].isDeclare = d.isDeclare;
    for (size_t l = 0; l < libs.size() && imports[i].library < 0; ++l) {
      for (const auto& p : libs[l].lib->procs) {
        if (EqualsNoCase(p.name, d.name)) {
          imports[i].library = static_cast<int>(l);
          imports[i].overloads.push_back(&p);
        }
      }
    }
    ImportLink& link = imports[i];
    if (link.overloads.size() != 1) continue;
    const HostProc& only = *link.overloads.front();
    const Engine::Library& lib = libs[link.library];
    link.only = &only;
    if (only.quick && (only.quickEntry || lib.quick))
      link.quick = only.quickEntry ? only.quickEntry : lib.quick, link.quickExtra = lib.extra;
    if (only.isFunction) {
      link.result = DefaultOf(VarTypeOfHost(only.result));
      link.resultTag = ScalarTagOfHost(only.result);
    }
    const size_t nargs = only.args.size();
    link.scalarArgs = nargs <= ImportLink::kScalarArgs && only.minArgs >= 0 && only.maxArgs <= static_cast<int>(nargs) &&
                      only.minArgs <= only.maxArgs;
    for (size_t a = 0; a < nargs && link.scalarArgs; ++a)
      if ((link.argTags[a] = ScalarTagOfHost(only.args[a])) == Tag::Empty) link.scalarArgs = false;
    if (link.scalarArgs) link.minArgs = static_cast<uint8_t>(only.minArgs), link.maxArgs = static_cast<uint8_t>(only.maxArgs);
  }
  return true;
}

int ScriptObject::FindSub(std::string_view name) const {
  for (size_t i = 0; i < program_.functions.size(); ++i)
    if (EqualsNoCase(program_.functions[i].name, name)) return static_cast<int>(i);
  return -1;
}

Value ScriptObject::DefaultFor(const TypeRef& t, const std::vector<ArrayObj::Dim>& dims) const {
  const RecordType* rec = nullptr;
  VarType vt = t.vt;
  if (vt == VarType::Record) {
    if (t.record < 0 || static_cast<size_t>(t.record) >= records_.size()) return Value();
    if (typeClass_[t.record] >= 0) vt = VarType::Object;
    else rec = records_[t.record];
  }
  if (t.isArray) {
    Value a = NewArray(vt, rec, dims);
    if (!dims.empty()) ArrOf(a)->fixed = true;
    return a;
  }
  return DefaultOf(vt, rec);
}

// ---- host calls ----

namespace {
bool SameValue(const Value& a, const Value& b) {
  if (a.tag != b.tag) return false;
  if (a.tag == Tag::String) return StrOf(a) == StrOf(b);
  return IsHeap(a.tag) ? a.h == b.h : a.raw == b.raw;
}

// Writes into `dst` the fields the host changed from `before` to `after`.
void MergeRecord(RecordObj& dst, const RecordObj& before, const RecordObj& after) {
  size_t n = std::min({dst.fields.size(), before.fields.size(), after.fields.size()});
  for (size_t f = 0; f < n; ++f) {
    const Value &b = before.fields[f], &a = after.fields[f];
    Value& d = dst.fields[f];
    if (a.tag == Tag::Record && b.tag == Tag::Record && d.tag == Tag::Record) MergeRecord(*RecOf(d), *RecOf(b), *RecOf(a));
    else if (!SameValue(a, b)) d = a;
  }
}

// A by-reference argument taken out of the shared variables for a host call.
struct Detached {
  int slot = 0;
  Value target;  // the Ref or RefBox naming the variable, or the shared record or array
  Value before;  // a record as it was handed over
};

// Up to this many are kept on the stack; more take the heap.
constexpr int kInlineDetached = 4;
}  // namespace

void Thread::Dispatch(int library, uint32_t id, Value* base, int count, int firstArg, const HostType* types) {
  const Engine::Library& lib = engine_.libraries()[library];
  if (!lib.dispatcher) return;
  // The host runs without the script's lock, so it must see nothing another
  // script thread may change meanwhile: arguments that name module variables
  // or array elements, and records and arrays (shared by value copies),
  // become private copies now and what the host changed goes back after the
  // lock is taken again. A scalar local of this thread's own frames is no
  // other thread's business and stays a reference, as does a constant (a
  // host that writes one gets its own copy, see ArgBlock::Slot).
  const Value* stackBegin = stack_.data();
  const Value* stackEnd = stackBegin + stack_.size();
  Detached inlineBuf[kInlineDetached];
  std::unique_ptr<Detached[]> heapBuf;
  Detached* detached = inlineBuf;
  int nDetached = 0;
  for (int k = firstArg; k < count; ++k) {
    Value& slot = base[k];
    Tag t = Deref(slot).tag;
    bool ownLocal = slot.tag == Tag::Ref && std::less_equal<const Value*>()(stackBegin, slot.ref) &&
                    std::less<const Value*>()(slot.ref, stackEnd);
    bool constant = slot.tag == Tag::Ref && script_->IsConstant(slot.ref);
    bool shared = (slot.tag == Tag::Ref && !ownLocal && !constant) || slot.tag == Tag::RefBox || t == Tag::Record ||
                  t == Tag::Array;
    if (!shared) continue;
    if (nDetached == kInlineDetached && !heapBuf) {
      heapBuf = std::make_unique<Detached[]>(static_cast<size_t>(count));
      for (int d = 0; d < nDetached; ++d) heapBuf[d] = std::move(inlineBuf[d]);
      detached = heapBuf.get();
    }
    Detached& d = detached[nDetached++];
    d.slot = k;
    Value own = CopyForAssign(Deref(slot));
    if (t == Tag::Record) d.before = CopyForAssign(own);
    d.target = std::move(slot);
    slot = std::move(own);
  }
  ArgBlock block(*this, base, count);
  {
    Unlock unlock(*this);
    lib.dispatcher(*this, id, block, lib.extra);
  }
  for (int i = 0; i < nDetached; ++i) {
    Detached& d = detached[i];
    Value& own = base[d.slot];
    bool isRef = d.target.tag == Tag::Ref || d.target.tag == Tag::RefBox;
    Value& var = isRef ? Deref(d.target) : d.target;
    if (d.before.tag == Tag::Record && own.tag == Tag::Record && var.tag == Tag::Record && !block.Written(d.slot)) {
      MergeRecord(*RecOf(var), *RecOf(d.before), *RecOf(own));
    } else if (isRef && block.Written(d.slot)) {
      const HostType* type = types ? &types[d.slot - firstArg] : nullptr;
      VarType vt = type ? VarTypeOfHost(*type) : VarType::Variant;
      try {
        var = vt == VarType::Variant || vt == VarType::Record || vt == VarType::Object ? std::move(own) : Coerce(own, vt);
      } catch (const ScriptError& e) {
        RaiseError(e.number);
      }
    }
    own = std::move(d.target);  // the caller clears its argument slots
  }
}

namespace {
// Puts argument `slot` into the declared host type: variables of the right
// type stay references, others become converted copies.
void ConvertArg(Value& slot, const HostType& t) {
  Value& v = Deref(slot);
  if (v.tag == Tag::Missing) return;
  switch (t.vt) {
    case HostType::kInteger:
      if (v.tag != Tag::Integer) slot = Value::Int(ToInteger(v));
      break;
    case HostType::kLong:
      if (v.tag != Tag::Long) slot = Value::Lng(ToLong(v));
      break;
    case HostType::kDouble:
      if (v.tag != Tag::Double) slot = Value::Dbl(ToDouble(v));
      break;
    case HostType::kString:
      if (v.tag != Tag::String) slot = Value::Str(ToStr(v));
      break;
    case HostType::kBoolean:
      if (v.tag != Tag::Boolean) slot = Value::Bool(ToBool(v));
      break;
    case HostType::kObject:
      if (v.tag != Tag::Object) Raise(err::kTypeMismatch);
      break;
    case HostType::kRecord:
      if (v.tag != Tag::Record || !EqualsNoCase(RecOf(v)->type->name, t.record)) Raise(err::kTypeMismatch);
      break;
    default: break;
  }
}

bool Accepts(const HostProc& p, const Value* base, int nargs) {
  if (nargs < p.minArgs || nargs > p.maxArgs) return false;
  for (int i = 0; i < nargs; ++i) {
    const Value& v = Deref(base[1 + i]);
    const HostType& t = p.args[i];
    if (t.vt == HostType::kRecord && (v.tag != Tag::Record || !EqualsNoCase(RecOf(v)->type->name, t.record))) return false;
    if (t.vt == HostType::kObject && v.tag != Tag::Object) return false;
    if (t.vt != HostType::kRecord && v.tag == Tag::Record) return false;
  }
  return true;
}

void ConvertResult(Value& slot, const HostProc& p) {
  if (!p.isFunction) {
    slot.Clear();
    return;
  }
  VarType vt = VarTypeOfHost(p.result);
  if (vt == VarType::Variant || vt == VarType::Record || TypeOfValue(slot) == vt) return;
  if (vt == VarType::Object) {
    if (slot.tag != Tag::Object) slot = Value::Nothing();
    return;
  }
  slot = Coerce(slot, vt);
}
}  // namespace

void Thread::CallHost(Value* base, int import, int nargs) {
  const ScriptObject::ImportLink& link = script_->imports[import];
  // The common quick call: one overload, scalar arguments already of their
  // declared tags, a scalar result. Nothing to convert before the call; a
  // declined call goes the whole way below, which does the same again.
  if (link.quick && link.scalarArgs && nargs >= link.minArgs && nargs <= link.maxArgs && !IsHeap(link.result.tag)) {
    int ready = 0;
    while (ready < nargs && Deref(base[1 + ready]).tag == link.argTags[ready]) ++ready;
    if (ready == nargs) {
      base[0] = link.result;
      ArgBlock quick(*this, base, nargs + 1);
      bool answered = false;
      try {
        answered = link.quick(*this, link.only->id, quick, link.quickExtra);
        if (answered && (base[0].tag != link.resultTag || link.resultTag == Tag::Empty)) {
          if (link.only->isFunction)
            ConvertResult(base[0], *link.only);
          else
            base[0].Clear();
        }
      } catch (...) {
        for (int k = 1; k <= nargs; ++k) base[k].Clear();
        throw;
      }
      if (answered) {
        for (int k = 1; k <= nargs; ++k) base[k].Clear();
        if (pendingError_ || stop_.load(std::memory_order_relaxed)) CheckPending();
        return;
      }
    }
  }
  const HostProc* proc = link.only;
  bool accepted = proc && link.scalarArgs && nargs >= link.minArgs && nargs <= link.maxArgs;
  for (int i = 0; i < nargs && accepted; ++i) accepted = Deref(base[1 + i]).tag != Tag::Record;
  if (!accepted && !(proc && Accepts(*proc, base, nargs))) {
    if (link.library < 0) {
      for (int k = 1; k <= nargs; ++k) base[k].Clear();
      const std::string& name = script_->program().imports[import].name;
      if (link.isDeclare) Raise(err::kDllEntryNotFound, Join("Declare is not bound to native libraries: ", name));
      Raise(err::kSubNotDefined, Join("Sub or Function not defined: ", name));
    }
    proc = nullptr;
    for (const HostProc* p : link.overloads)
      if (!proc && Accepts(*p, base, nargs)) proc = p;
    if (!proc) {
      for (int k = 1; k <= nargs; ++k) base[k].Clear();
      Raise(err::kWrongArgCount);
    }
  }
  const bool only = proc == link.only;
  try {
    for (int i = 0; i < nargs; ++i)
      if (!accepted || Deref(base[1 + i]).tag != link.argTags[i]) ConvertArg(base[1 + i], proc->args[i]);
    if (only && !IsHeap(link.result.tag))  // a heap value is not shared between threads
      base[0] = link.result;
    else
      base[0] = proc->isFunction ? DefaultOf(VarTypeOfHost(proc->result)) : Value();
    bool answered = false;
    if (only ? link.quick != nullptr : proc->quick) {
      const Engine::Library& lib = engine_.libraries()[link.library];
      ArgBlock quick(*this, base, nargs + 1);
      answered = only ? link.quick(*this, proc->id, quick, link.quickExtra)
                      : lib.quick && lib.quick(*this, proc->id, quick, lib.extra);
    }
    if (!answered) Dispatch(link.library, proc->id, base, nargs + 1, 1, proc->args.data());
    if (!only || base[0].tag != link.resultTag || link.resultTag == Tag::Empty) {
      if (proc->isFunction)
        ConvertResult(base[0], *proc);
      else
        base[0].Clear();
    }
  } catch (...) {
    for (int k = 1; k <= nargs; ++k) base[k].Clear();
    throw;
  }
  for (int k = 1; k <= nargs; ++k) base[k].Clear();
  if (pendingError_ || stop_.load(std::memory_order_relaxed)) CheckPending();
}

void Thread::CallMember(Value* base, const std::string& name, int nargs, int kind) {
  Value obj(Deref(base[0]));
  auto fail = [&](int number) {
    for (int k = 1; k <= nargs + 1; ++k) base[k].Clear();
    Raise(number);
  };
  if (obj.tag != Tag::Object) fail(err::kObjectRequired);
  ObjectObj* o = ObjOf(obj);
  if (o->handle.load() == 0) fail(err::kObjectNotSet);
  if (CollectionObj* c = CollectionOf(obj)) {
    try {
      CollectionMember(*c, name, base[0], base + 1, nargs, kind);
    } catch (...) {
      for (int k = 1; k <= nargs; ++k) base[k].Clear();
      throw;
    }
    for (int k = 1; k <= nargs; ++k) base[k].Clear();
    return;
  }
  const auto& libs = engine_.libraries();
  if (o->library < 0 || o->library >= static_cast<int>(libs.size())) fail(err::kNoSuchMember);
  const HostLibrary& lib = *libs[o->library].lib;
  if (o->hostClass < 0 || o->hostClass >= static_cast<int>(lib.classes.size())) fail(err::kNoSuchMember);
  const HostClass& cls = lib.classes[o->hostClass];
  if (base + nargs + 2 > stack_.data() + stack_.size()) fail(err::kOutOfStack);
  uint32_t id = 0;
  const HostProc* method = nullptr;
  HostType valueType;
  bool found = false;
  for (const auto& p : cls.properties) {
    if (!EqualsNoCase(p.name, name)) continue;
    if (kind == 0 && p.getId != kNoAccessor) id = p.getId, found = true, valueType = p.type;
    if (kind == 2 && p.setId != kNoAccessor) id = p.setId, found = true, valueType = p.type;
  }
  if (!found && kind != 2) {
    for (const auto& m : cls.methods) {
      if (EqualsNoCase(m.name, name) && nargs >= m.minArgs && nargs <= m.maxArgs) {
        method = &m;
        id = m.id;
        found = true;
        break;
      }
    }
  }
  if (!found) fail(err::kNoSuchMember);
  // Layout for the host: result, object, arguments.
  for (int k = nargs; k >= 1; --k) base[k + 1] = std::move(base[k]);
  base[1] = obj;
  base[0].Clear();
  try {
    if (method) {
      for (int i = 0; i < nargs; ++i) ConvertArg(base[2 + i], method->args[i]);
      if (method->isFunction) base[0] = DefaultOf(VarTypeOfHost(method->result));
    } else if (kind == 2) {
      ConvertArg(base[2], valueType);
    } else {
      base[0] = DefaultOf(VarTypeOfHost(valueType));
    }
    Dispatch(o->library, id, base, nargs + 2, 2, method ? method->args.data() : kind == 2 ? &valueType : nullptr);
    if (method) ConvertResult(base[0], *method);
    if (kind == 3) base[0].Clear();
  } catch (...) {
    for (int k = 1; k <= nargs + 1; ++k) base[k].Clear();
    throw;
  }
  for (int k = 1; k <= nargs + 1; ++k) base[k].Clear();
  CheckPending();
}

void Thread::NewObject(Value* dst, const std::string& cls) {
  if (EqualsNoCase(cls, "Collection")) {
    *dst = NewCollection();
    return;
  }
  auto [lib, idx] = engine_.FindClass(cls);
  if (idx < 0) Raise(kCannotCreateObject, Join("ActiveX component can't create object: ", cls));
  dst->Clear();
  Dispatch(lib, engine_.libraries()[lib].lib->classes[idx].constructorId, dst, 1);
  CheckPending();
  if (dst->tag != Tag::Object || ObjOf(*dst)->handle.load() == 0)
    Raise(kCannotCreateObject, Join("ActiveX component can't create object: ", cls));
  ObjectObj* made = ObjOf(*dst);
  if (made->hostClass < 0) made->library = lib, made->hostClass = idx;  // a box may be shared already
}

// ---- host objects ----

// One box per live handle. A box whose count reached 0 may still be listed
// until its release takes the table's lock, so a lookup takes a reference
// only while the count is above 0, and otherwise makes a new box.
class ObjectTable final : public ObjectRegistry {
 public:
  explicit ObjectTable(Engine& engine) : engine_(engine) {}
  ~ObjectTable() {
    // Boxes a host still holds outlive the engine: they stop reporting here.
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto& [handle, box] : live_) box->owner = nullptr;
  }

  bool BoxFor(uint32_t handle, int library, int hostClass, Value& out) {
    out.Clear();  // what it held may be a box of this table, whose release takes the lock
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = live_.find(handle);
    if (it != live_.end()) {
      ObjectObj* box = it->second;
      bool known = box->hostClass >= 0 && hostClass >= 0;
      if (known && (box->library != library || box->hostClass != hostClass)) return false;
      if (TryRetain(*box)) {
        if (box->hostClass < 0) box->library = library, box->hostClass = hostClass;
        out.SetHeap(Tag::Object, box);
        return true;
      }
    }
    auto box = std::make_unique<ObjectObj>();
    box->handle.store(handle);
    box->library = library;
    box->hostClass = hostClass;
    box->owner = this;
    live_[handle] = box.get();
    out.SetHeap(Tag::Object, box.release());
    return true;
  }

  void Released(ObjectObj& box) override {
    uint32_t handle = 0;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      handle = box.handle.load();
      auto it = live_.find(handle);
      if (handle == 0 || it == live_.end() || it->second != &box) return;
      live_.erase(it);
    }
    if (engine_.objectReleased) engine_.objectReleased(box.library, box.hostClass, handle);
  }

  void Clear(uint32_t handle) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = live_.find(handle);
    if (it == live_.end()) return;
    it->second->handle.store(0);  // every copy of the reference shares the box
    live_.erase(it);
  }

  bool Contains(uint32_t handle) const {
    std::lock_guard<std::mutex> lock(mutex_);
    return live_.count(handle) != 0;
  }

  uint32_t NewHandle() {
    std::lock_guard<std::mutex> lock(mutex_);
    for (;;) {
      uint32_t h = next_++;
      if (h != 0 && live_.count(h) == 0) return h;
    }
  }

 private:
  static bool TryRetain(ObjectObj& box) {
    int32_t n = box.refs.load(std::memory_order_relaxed);
    while (n > 0)
      if (box.refs.compare_exchange_weak(n, n + 1, std::memory_order_acq_rel)) return true;
    return false;
  }

  Engine& engine_;
  mutable std::mutex mutex_;
  std::unordered_map<uint32_t, ObjectObj*> live_;
  uint32_t next_ = 1;
};

// ---- the engine ----

Engine::Engine() : objects_(std::make_unique<ObjectTable>(*this)) { options_[0] = 0; }

Engine::~Engine() = default;

bool Engine::ObjectBox(uint32_t handle, int library, int hostClass, Value& out) {
  return objects_->BoxFor(handle, library, hostClass, out);
}

uint32_t Engine::NewObjectHandle() { return objects_->NewHandle(); }

bool Engine::IsObjectReferenced(uint32_t handle) const { return handle != 0 && objects_->Contains(handle); }

bool Engine::RegisterLibrary(std::string name, std::unique_ptr<HostLibrary> lib, Dispatcher dispatcher, void* extra,
                             QuickDispatcher quick) {
  if (!lib) return false;
  for (const auto& l : libraries_)
    if (EqualsNoCase(l.name, name)) return false;
  libraries_.push_back(Library{std::move(name), std::move(lib), std::move(dispatcher), extra, quick});
  return true;
}

std::pair<int, int> Engine::FindClass(std::string_view name) const {
  if (name.empty()) return {-1, -1};
  for (size_t l = 0; l < libraries_.size(); ++l) {
    const auto& classes = libraries_[l].lib->classes;
    for (size_t c = 0; c < classes.size(); ++c)
      if (EqualsNoCase(classes[c].name, name)) return {static_cast<int>(l), static_cast<int>(c)};
  }
  return {-1, -1};
}

std::shared_ptr<ScriptObject> Engine::LoadProgram(Program program, std::string& error) {
  // Compiled programs pass the same verifier as loaded code blocks.
  if (!VerifyProgram(program, error)) return nullptr;
  auto script = std::make_shared<ScriptObject>(*this, std::move(program));
  if (!script->Link(error)) return nullptr;
  std::lock_guard<std::mutex> lock(scriptsMutex_);
  scripts_.erase(std::remove_if(scripts_.begin(), scripts_.end(), [](const auto& w) { return w.expired(); }), scripts_.end());
  scripts_.push_back(script);
  return script;
}

std::shared_ptr<ScriptObject> Engine::LoadScript(std::span<const uint8_t> codeBlock, std::string& error) {
  Program program;
  if (!ReadCodeBlock(codeBlock, program, error)) return nullptr;
  return LoadProgram(std::move(program), error);
}

std::shared_ptr<ScriptObject> Engine::LoadSource(std::string_view source, std::string& error) {
  CompileResult r = Compile(source);
  if (!r.ok()) {
    error = Join(Join("(", std::to_string(r.errors[0].line)), Join("): ", r.errors[0].message));
    return nullptr;
  }
  return LoadProgram(std::move(r.program), error);
}

bool Engine::HasSubroutine(const ScriptObject& script, std::string_view name, std::string_view prototype) const {
  int f = script.FindSub(name);
  if (f < 0) return false;
  const Function& fn = script.program().functions[f];
  if (fn.isFunction) return false;
  const HostProc* proto = nullptr;
  for (const auto& l : libraries_)
    if (!proto) proto = l.lib->FindCallback(prototype);
  if (!proto) return false;
  int required = 0;
  for (const auto& p : fn.params)
    if (!p.optional) ++required;
  if (required > proto->maxArgs || static_cast<int>(fn.params.size()) < proto->minArgs) return false;
  for (size_t i = 0; i < fn.params.size() && i < proto->args.size(); ++i) {
    const TypeRef& t = fn.params[i].type;
    VarType want = VarTypeOfHost(proto->args[i]);
    if (t.isArray) return false;
    if (t.vt != VarType::Variant && t.vt != want) return false;
  }
  return true;
}

namespace {
// The procedure a new run starts at, or -1 with the reason in `error`.
int SubroutineIndex(const ScriptObject* script, std::string_view name, std::string& error) {
  if (!script) {
    error = "No script object";
    return -1;
  }
  int f = script->FindSub(name);
  if (f < 0) error = Join("Subroutine missing: ", std::string(name));
  return f;
}
}  // namespace

bool Engine::HasSubroutine(const ScriptObject& script, std::string_view name) const {
  int f = script.FindSub(name);
  return f >= 0 && !script.program().functions[f].isFunction;
}

ThreadLease Engine::LeaseThread(std::unique_ptr<Thread>& own, std::shared_ptr<ScriptObject> script, std::string_view name,
                                std::string& error) {
  ThreadLease lease;
  int f = SubroutineIndex(script.get(), name, error);
  if (f < 0) return lease;
  if (own && own->script_ != script && !own->IsActive()) own.reset();
  if (!own) own = std::make_unique<Thread>(*this, script, f);
  if (own->script_ == script && own->Claim()) {
    own->function_ = f;
    lease.thread_ = own.get();
    lease.claimed_ = true;
  } else {
    lease.fresh_ = std::make_unique<Thread>(*this, std::move(script), f);
    lease.thread_ = lease.fresh_.get();
  }
  return lease;
}

ThreadLease::ThreadLease(ThreadLease&& o) noexcept
    : thread_(std::exchange(o.thread_, nullptr)), fresh_(std::move(o.fresh_)), claimed_(std::exchange(o.claimed_, false)) {}

ThreadLease& ThreadLease::operator=(ThreadLease&& o) noexcept {
  if (this != &o) {
    Release();
    thread_ = std::exchange(o.thread_, nullptr);
    fresh_ = std::move(o.fresh_);
    claimed_ = std::exchange(o.claimed_, false);
  }
  return *this;
}

ThreadLease::~ThreadLease() { Release(); }

void ThreadLease::Release() {
  if (claimed_) thread_->active_.store(false);
  claimed_ = false;
  fresh_.reset();
  thread_ = nullptr;
}

int ThreadLease::Run(std::span<const Value> args) {
  if (!thread_) return err::kSubNotDefined;
  if (!claimed_) return thread_->Run(args);
  claimed_ = false;  // the run ends the claim
  return thread_->RunClaimed(args);
}

std::unique_ptr<Thread> Engine::CreateThread(std::shared_ptr<ScriptObject> script, std::string_view name, std::string& error) {
  int f = SubroutineIndex(script.get(), name, error);
  if (f < 0) return nullptr;
  return std::make_unique<Thread>(*this, std::move(script), f);
}

void Engine::SetOption(int code, uint32_t value) {
  if (code >= 0 && code < 32) options_[code] = value;
}

uint32_t Engine::Option(int code) const { return code >= 0 && code < 32 ? options_[code] : 0; }

void Engine::AddThread(Thread* t) {
  std::lock_guard<std::mutex> lock(threadsMutex_);
  threads_.push_back(t);
}

void Engine::RemoveThread(Thread* t) {
  std::lock_guard<std::mutex> lock(threadsMutex_);
  threads_.erase(std::remove(threads_.begin(), threads_.end(), t), threads_.end());
}

void Engine::ForEachThread(const std::function<void(Thread&)>& fn) {
  std::vector<Thread*> running;
  {
    std::lock_guard<std::mutex> lock(threadsMutex_);
    for (Thread* t : threads_)
      if (t->IsActive()) running.push_back(t);
  }
  for (Thread* t : running) fn(*t);
}

void Engine::ClearObjectReferences(uint32_t handle) {
  // Host objects have one box per handle, shared by every copy of the
  // reference, so no script value needs visiting and no script lock is taken
  // (a host holding its own lock here cannot deadlock against a script).
  if (handle != 0) objects_->Clear(handle);
}

}  // namespace kv::orlan
