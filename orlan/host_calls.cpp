// Host calls from a running script: converting arguments to the declared
// types, dispatching to the host, merging records back, members of host
// objects and creating objects.
#include "orlan/engine.h"

#include <algorithm>

#include "orlan/automation.h"
#include "orlan/collection.h"
#include "orlan/engine_internal.h"
#include "platform/text.h"

namespace kv::orlan {

namespace {

constexpr int kCannotCreateObject = 429;

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
  if (AutomationObj* a = AutomationOf(obj)) {
    // The target may be reached from several threads; this call holds it.
    const std::shared_ptr<Automation> target = a->target;
    try {
      std::vector<Value> args;
      args.reserve(size_t(nargs));
      for (int k = 1; k <= nargs; ++k) args.emplace_back(Deref(base[k]));
      Value result;
      target->Invoke(name, kind, args.data(), nargs, result);
      base[0] = kind == 3 ? Value() : std::move(result);
    } catch (...) {
      for (int k = 1; k <= nargs; ++k) base[k].Clear();
      throw;
    }
    for (int k = 1; k <= nargs; ++k) base[k].Clear();
    CheckPending();
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

}  // namespace kv::orlan
