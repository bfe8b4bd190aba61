// The interpreter loop: a register machine over verified code. Operand
// checks were done by the loader, so the loop indexes without bounds tests.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <thread>

#include "orlan/collection.h"
#include "orlan/engine.h"
#include "orlan/ops.h"
#include "orlan/runtime.h"
#include "platform/text.h"

namespace kv::orlan {
namespace {

constexpr size_t kStackValues = 1 << 16;
constexpr size_t kMaxFrames = 3000;
constexpr size_t kMaxGoSubs = 1 << 16;  // pending GoSubs of a thread, then error 28
constexpr int kPollInterval = 1024;
constexpr int64_t kYieldIntervalNs = 10'000'000;

struct StopSignal {};
struct EndSignal {};

int64_t NowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

inline bool IntLike(Tag t) { return t == Tag::Integer || t == Tag::Long; }

// And and Or in the shape of __builtin_add_overflow, for the typed forms' macro.
inline bool AndBits(int32_t x, int32_t y, int32_t* r) {
  *r = x & y;
  return false;
}
inline bool OrBits(int32_t x, int32_t y, int32_t* r) {
  *r = x | y;
  return false;
}

inline bool Truth(const Value& v) {
  if (v.tag == Tag::Boolean || v.tag == Tag::Long || v.tag == Tag::Integer) return v.i != 0;
  if (v.tag == Tag::Null) return false;
  return ToBool(v);
}


// The linear element index of `idx` in `arr`, or error 9.
inline size_t ElementIndex(const ArrayObj* arr, const Value* idx, int n) {
  if (n == 1 && arr->dims.size() == 1) {
    const Value& iv = Deref(idx[0]);
    if (IntLike(iv.tag)) {
      int64_t off = static_cast<int64_t>(iv.i) - arr->dims[0].lower;
      if (off < 0 || off >= arr->dims[0].count) Raise(err::kSubscript);
      return static_cast<size_t>(off);
    }
  }
  if (static_cast<size_t>(n) != arr->dims.size()) Raise(err::kSubscript);
  size_t lin = 0;
  for (int k = 0; k < n; ++k) {
    const Value& iv = Deref(idx[k]);
    int32_t i = IntLike(iv.tag) ? iv.i : ToLong(iv);
    const ArrayObj::Dim& d = arr->dims[k];
    int64_t off = static_cast<int64_t>(i) - d.lower;
    if (off < 0 || off >= d.count) Raise(err::kSubscript);
    lin = lin * static_cast<size_t>(d.count) + static_cast<size_t>(off);
  }
  return lin;
}

// The index j + k of IndexOff and SetIndexOff, added as the Long addition
// it replaces (overflow raises 6 before the array is looked at).
Value OffsetIndex(const Value& j, uint8_t k) {
  const Value& v = Deref(j);
  if (v.tag == Tag::Long) {
    int64_t i = static_cast<int64_t>(v.i) + static_cast<int8_t>(k);
    if (i >= INT32_MIN && i <= INT32_MAX) return Value::Lng(static_cast<int32_t>(i));
  }
  return BinaryOp(Op::Add, v, Value::Lng(static_cast<int8_t>(k)), kStrict);
}

// The element at index i of a one-dimensional array value, or null (not an
// array, another shape, out of range): the one lookup of the element fast paths.
inline Value* Element1(const Value& av, int64_t i) {
  if (av.tag != Tag::Array) return nullptr;
  ArrayObj* arr = ArrOf(av);
  uint64_t off = static_cast<uint64_t>(i - arr->lower1);
  return off < arr->count1 ? &arr->data[off] : nullptr;
}

// Whether v may overwrite slot bit for bit: numbers of the slot's own kind.
inline bool SameScalar(const Value& slot, const Value& v) {
  return slot.tag == v.tag && (v.tag == Tag::Long || v.tag == Tag::Double || v.tag == Tag::Integer);
}

ArrayObj* ArrayOperand(const Value& v) {
  const Value& a = Deref(v);
  if (a.tag != Tag::Array) Raise(err::kTypeMismatch);
  return ArrOf(a);
}

RecordObj* RecordOperand(const Value& v) {
  const Value& r = Deref(v);
  if (r.tag != Tag::Record) Raise(err::kObjectRequired);
  return RecOf(r);
}

Value StoreAs(const Value& v, VarType type, const RecordType* rec) {
  if (type == VarType::Variant) return CopyForAssign(v);
  if (type == VarType::Record && rec) {
    const Value& r = Deref(v);
    if (r.tag != Tag::Record || RecOf(r)->type != rec) Raise(err::kTypeMismatch);
    return CopyForAssign(r);
  }
  return Coerce(v, type);
}

Value FieldStore(const RecordType* type, int field, const Value& v) {
  const RecordField& f = type->fields[field];
  if (f.fixedLength > 0) {
    std::string s = ToStr(v);
    s.resize(static_cast<size_t>(f.fixedLength), ' ');
    return Value::Str(std::move(s));
  }
  return StoreAs(v, f.type, field < static_cast<int>(type->fieldTypes.size()) ? type->fieldTypes[field] : nullptr);
}

Value MakeBox(Value* slot, const Value& owner) {
  if (owner.tag == Tag::Array) ArrOf(owner)->locks.fetch_add(1, std::memory_order_relaxed);
  Value r;
  r.tag = Tag::RefBox;
  r.h = std::make_unique<RefBoxObj>(slot, owner).release();
  return r;
}

bool ForDone(const Value& v, const Value& limit, const Value& step) {
  if (IntLike(v.tag) && IntLike(limit.tag) && IntLike(step.tag)) return step.i >= 0 ? v.i > limit.i : v.i < limit.i;
  double s = ToDouble(step);
  double x = ToDouble(v), l = ToDouble(limit);
  return s >= 0 ? x > l : x < l;
}

void ReDimArray(Value& var, const Value* bounds, int ndims, bool preserve) {
  std::vector<ArrayObj::Dim> dims;
  for (int k = 0; k < ndims; ++k) {
    int32_t lo = ToLong(bounds[2 * k]), hi = ToLong(bounds[2 * k + 1]);
    if (hi < lo - 1) Raise(err::kSubscript);
    if (static_cast<int64_t>(hi) - lo + 1 > static_cast<int64_t>(kMaxArrayElements)) Raise(err::kOutOfMemory);
    dims.push_back({lo, hi - lo + 1});
  }
  VarType elem = VarType::Variant;
  const RecordType* rec = nullptr;
  if (var.tag == Tag::Array) {
    ArrayObj* old = ArrOf(var);
    if (old->fixed || old->locks.load() > 0) Raise(err::kArrayLocked);
    elem = old->elemType;
    rec = old->elemRecord;
  } else if (var.tag != Tag::Empty && var.tag != Tag::Missing) {
    Raise(err::kTypeMismatch);
  }
  Value fresh = NewArray(elem, rec, dims);
  if (preserve && var.tag == Tag::Array) {
    ArrayObj* old = ArrOf(var);
    ArrayObj* now = ArrOf(fresh);
    if (!old->dims.empty()) {
      // Only the last dimension may change size, as in VBA.
      if (old->dims.size() != dims.size()) Raise(err::kSubscript);
      for (size_t k = 0; k + 1 < dims.size(); ++k)
        if (old->dims[k].count != dims[k].count || old->dims[k].lower != dims[k].lower) Raise(err::kSubscript);
      size_t lastOld = old->dims.back().count, lastNew = dims.back().count;
      size_t rows = lastOld ? old->data.size() / lastOld : 0;
      size_t keep = std::min(lastOld, lastNew);
      for (size_t r = 0; r < rows; ++r)
        for (size_t c = 0; c < keep; ++c) now->data[r * lastNew + c] = std::move(old->data[r * lastOld + c]);
    }
  }
  var = std::move(fresh);
}

uint32_t NextStatementPc(const Function* fn, uint32_t pc) {
  const auto& lines = fn->lines;
  auto it = std::upper_bound(lines.begin(), lines.end(), pc, [](uint32_t p, const LineEntry& e) { return p < e.pc; });
  if (it == lines.end()) return static_cast<uint32_t>(fn->code.size() - 1);
  return it->pc;
}

uint32_t StatementStartPc(const Function* fn, uint32_t pc) {
  const auto& lines = fn->lines;
  auto it = std::upper_bound(lines.begin(), lines.end(), pc, [](uint32_t p, const LineEntry& e) { return p < e.pc; });
  if (it == lines.begin()) return 0;
  return std::prev(it)->pc;
}

uint32_t LineAt(const Function* fn, uint32_t pc) {
  const auto& lines = fn->lines;
  auto it = std::upper_bound(lines.begin(), lines.end(), pc, [](uint32_t p, const LineEntry& e) { return p < e.pc; });
  if (it == lines.begin()) return lines.empty() ? 0 : lines.front().line;
  return std::prev(it)->line;
}

}  // namespace

Thread::Thread(Engine& engine, std::shared_ptr<ScriptObject> script, int function)
    : engine_(engine),
      script_(std::move(script)),
      function_(function),
      stack_(kStackValues),
      stackEnd_(stack_.data() + stack_.size()),
      frames_(kMaxFrames) {
  engine_.AddThread(this);
}

Thread::~Thread() { engine_.RemoveThread(this); }

const std::string& Thread::SubName() const { return script_->program().functions[function_].name; }

bool Thread::Retarget(std::string_view name) {
  if (active_.load()) return false;
  int f = script_->FindSub(name);
  if (f < 0) return false;
  function_ = f;
  return true;
}

void Thread::Stop(bool abort) {
  if (abort) abort_.store(true);
  {
    std::lock_guard<std::mutex> lock(stopMutex_);
    stop_.store(true);
  }
  stopCv_.notify_all();
}

bool Thread::WaitForStop(std::chrono::milliseconds timeout) {
  std::unique_lock<std::mutex> lock(stopMutex_);
  return stopCv_.wait_for(lock, timeout, [this] { return stop_.load(); });
}

void Thread::RaiseError(int number, std::string description) {
  pendingError_ = number;
  pendingText_ = description.empty() ? ErrorText(number) : std::move(description);
}

// Every host call lets the lock go and takes it again, so the uncontended
// path is kept to one atomic exchange each way. The owner is only compared
// with the reading thread's own id, which no other thread ever stores, so
// relaxed order suffices for it.
void Thread::LockScript() {
  if (locked_) return;
  if (!script_->gil.try_lock()) {
    script_->waiters.fetch_add(1);
    script_->gil.lock();
    script_->waiters.fetch_sub(1);
  }
  script_->gilOwner.store(std::this_thread::get_id(), std::memory_order_relaxed);
  locked_ = true;
}

void Thread::UnlockScript() {
  if (!locked_) return;
  locked_ = false;
  script_->gilOwner.store(std::thread::id(), std::memory_order_relaxed);
  script_->gil.unlock();
}

Thread::Unlock::Unlock(Thread& t) : t_(t), unlocked_(t.locked_) { t_.UnlockScript(); }
Thread::Unlock::~Unlock() {
  if (unlocked_) t_.LockScript();
}

uint32_t Thread::CurrentLine() const {
  if (frames_.empty()) return errLine;
  const Frame& f = frames_.back();
  uint32_t pc = static_cast<uint32_t>(f.ip - f.fn->code.data());
  return LineAt(f.fn, pc ? pc - 1 : 0);
}

void Thread::Poll() {
  if (stop_.load(std::memory_order_relaxed)) throw StopSignal{};
  if (locked_ && script_->waiters.load(std::memory_order_relaxed) > 0) {
    UnlockScript();
    std::this_thread::yield();
    LockScript();
  }
  const YieldCallback& cb = engine_.yieldCallback();
  if (cb && !holdYield_) {
    int64_t now = NowNs();
    if (now - lastYieldNs_ >= kYieldIntervalNs) {
      lastYieldNs_ = now;
      Unlock unlock(*this);
      cb(*this);
    }
  }
  if (stop_.load(std::memory_order_relaxed)) throw StopSignal{};
}

void Thread::Yield() {
  const YieldCallback& cb = engine_.yieldCallback();
  if (cb && !holdYield_) {
    lastYieldNs_ = NowNs();
    Unlock unlock(*this);
    cb(*this);
  } else {
    Unlock unlock(*this);
    std::this_thread::yield();
  }
  if (stop_.load()) throw StopSignal{};
}

inline void Thread::PushFrame(int index, Value* base, int nargs) {
  const ScriptObject::EntryInfo& entry = script_->Entries()[index];
  const Function* fn = entry.fn;
  if (frames_.full() || base + entry.registers > stackEnd_) Raise(err::kOutOfStack);
  const int np = entry.params;
  if (!entry.plain || nargs != np) return PushFrameSlow(fn, base, nargs);
  for (int p = 1; p <= np; ++p)
    if (base[p].tag == Tag::Missing) return PushFrameSlow(fn, base, nargs);
  if (IsHeap(base[0].tag)) base[0].Clear();
  base[0].tag = entry.result.tag;
  base[0].raw = entry.result.raw;
  frames_.push(fn, base, fn->code.data());
}

void Thread::PushFrameSlow(const Function* fn, Value* base, int nargs) {
  size_t np = fn->params.size();
  for (size_t p = 0; p < np; ++p) {
    Value& slot = base[1 + p];
    const ParamInfo& pi = fn->params[p];
    if (static_cast<int>(p) >= nargs || slot.tag == Tag::Missing) {
      if (pi.paramArray) {
        slot = NewArray(VarType::Variant, nullptr, {{0, 0}});  // no extra arguments: UBound is -1
        continue;
      }
      if (!pi.optional) Raise(err::kArgNotOptional);
      if (pi.defaultConst >= 0) slot = script_->program().constants[pi.defaultConst];
      else if (pi.type.vt == VarType::Variant && !pi.type.isArray) slot = Value::MissingValue();
      else slot = script_->DefaultFor(pi.type, {});
    }
  }
  if (!fn->isFunction) base[0].Clear();
  else if (fn->result.vt == VarType::Long && !fn->result.isArray) base[0].SetInt(Tag::Long, 0);
  else if (fn->result.vt == VarType::Double && !fn->result.isArray) base[0].SetDouble(0);
  else base[0] = script_->DefaultFor(fn->result, {});
  for (const LocalInit& li : fn->inits) base[li.slot] = script_->DefaultFor(li.type, li.dims);
  frames_.push(fn, base, fn->code.data());
}

inline void Thread::PopFrame() {
  while (!gosubs_.empty() && gosubs_.back().frame >= frames_.size()) gosubs_.pop_back();
  Frame& f = frames_.back();
  // The bound is read once: a release in between could otherwise make the
  // compiler reload it on every register.
  for (Value *v = f.base + 1, *end = f.base + f.fn->numRegs; v < end; ++v) v->Clear();
  if (f.inHandler) ClearError();
  frames_.pop_back();
}

int Thread::Run(std::span<const Value> args) {
  if (Claim()) return RunClaimed(args);
  // Busy: a second run would share this one's frames and stack.
  Thread fresh(engine_, script_, function_);
  fresh.userData_ = userData_;
  fresh.errorCallback_ = errorCallback_;
  fresh.errorData_ = errorData_;
  fresh.holdYield_ = holdYield_;
  return fresh.Run(args);
}

int Thread::RunClaimed(std::span<const Value> args) {
  {
    std::lock_guard<std::mutex> lock(stopMutex_);
    stop_.store(false);
  }
  abort_.store(false);
  errorResult_ = 0;
  pendingError_ = 0;
  ClearError();
  // A host call may run another subroutine of the same script on this OS
  // thread; it then runs inside the lock the outer run holds.
  bool nested = script_->gilOwner.load(std::memory_order_relaxed) == std::this_thread::get_id();
  if (!nested) LockScript();
  const Function* fn = &script_->program().functions[function_];
  try {
    for (size_t i = 0; i < args.size() && i < fn->params.size(); ++i) stack_[1 + i] = args[i];
    for (size_t i = args.size(); i < fn->params.size(); ++i) stack_[1 + i] = Value::MissingValue();
    PushFrame(function_, stack_.data(), static_cast<int>(std::min(args.size(), fn->params.size())));
    Execute();
  } catch (const ScriptError& e) {
    // An error before the first instruction (missing argument, no stack):
    // no line ran, so the message names the subroutine.
    errorResult_ = e.number;
    errLine = 0;
    std::string text = e.description + " (calling " + fn->name;
    for (size_t i = args.size(); i < fn->params.size(); ++i)
      if (!fn->params[i].optional && e.number == err::kArgNotOptional) {
        text += ", parameter " + fn->params[i].name;
        break;
      }
    text += ")";
    if (errorCallback_) errorCallback_(*this, e.number, errLine, text, errorData_);
  }
  while (!frames_.empty()) PopFrame();
  stack_[0].Clear();
  if (!nested) UnlockScript();
  active_.store(false);
  return errorResult_;
}

bool Thread::HandleError(const ScriptError& e) {
  {
    const Frame& f = frames_.back();
    uint32_t pc = static_cast<uint32_t>(f.ip - f.fn->code.data());
    errLine = LineAt(f.fn, pc ? pc - 1 : 0);
  }
  errNumber = e.number;
  errDescription = e.description;
  for (;;) {
    Frame& f = frames_.back();
    uint32_t pc = static_cast<uint32_t>(f.ip - f.fn->code.data());
    pc = pc ? pc - 1 : 0;
    if (!f.inHandler && f.onError != 0) errErl = f.lastLabel;
    if (!f.inHandler && f.onError == 1) {
      f.ip = f.fn->code.data() + NextStatementPc(f.fn, pc);
      return true;
    }
    if (!f.inHandler && f.onError == 2) {
      f.inHandler = true;
      f.errPc = pc;
      f.ip = f.fn->code.data() + f.handler;
      return true;
    }
    if (frames_.size() == 1) return false;
    f.inHandler = false;  // the error travels on to the caller
    PopFrame();
  }
}

void Thread::CheckPending() {
  if (pendingError_) {
    int n = pendingError_;
    pendingError_ = 0;
    throw ScriptError{n, std::move(pendingText_)};
  }
  if (stop_.load(std::memory_order_relaxed)) throw StopSignal{};
}

#define IOP static_cast<Op>(in & 0xFF)
#define IF static_cast<uint8_t>(in >> 8)
#define IA static_cast<uint16_t>(in >> 16)
#define IB static_cast<uint16_t>(in >> 32)
#define IC static_cast<uint16_t>(in >> 48)
#define RK(x) (((x) & kConstBit) ? K[(x) & 0x7FFF] : Deref(R[(x)]))

// Threaded dispatch: handlers end in their own indirect jump, which the
// branch predictor learns per opcode. Handlers with locals that need
// destroying leave through `break` and the loop's dispatch instead.
#define KV_NEXT                                           \
  do {                                                    \
    std::memcpy(&in, ip++, sizeof in);                    \
    goto* kDispatch[in & 0xFF];                           \
  } while (0)

void Thread::Execute() {
  static const void* const kDispatch[] = {
#define KV_ORLAN_LABEL(name) &&L_##name,
      KV_ORLAN_OPCODES(KV_ORLAN_LABEL)
#undef KV_ORLAN_LABEL
  };
  const Program& prog = script_->program();
  const Value* K = prog.constants.data();
  // The poll budget lives in a register; Poll itself is called on its expiry.
  int budget = kPollInterval;
  for (;;) {
    Frame* fr = &frames_.back();
    const Function* fn = fr->fn;
    const Ins* code = fn->code.data();
    const Ins* ip = fr->ip;
    Value* R = fr->base;
    // The instruction as one word, its fields taken apart where used, so
    // the dispatch does not spill them.
    uint64_t in;
    try {
      for (;;) {
        std::memcpy(&in, ip++, sizeof in);
        switch (IOP) {
          case Op::Nop: L_Nop: KV_NEXT;
          case Op::Move: L_Move: {
            const Value& v = RK(IB);
            if (!IsHeap(v.tag) && !IsHeap(R[IA].tag)) {
              R[IA].tag = v.tag;
              R[IA].raw = v.raw;
            } else {
              Value t(v);
              R[IA] = std::move(t);
            }
            KV_NEXT;
          }
          case Op::Copy: L_Copy: R[IA] = CopyForAssign(RK(IB)); KV_NEXT;
          case Op::LoadEmpty: L_LoadEmpty:
            switch (IF) {
              case 1: R[IA] = Value::Nothing(); break;
              case 2: R[IA] = Value::MissingValue(); break;
              case 3: R[IA] = Value::NullValue(); break;
              default: R[IA].Clear(); break;
            }
            KV_NEXT;
          case Op::LoadG: L_LoadG: {
            Value t(script_->globals[IB]);
            R[IA] = std::move(t);
            break;
          }
          case Op::StoreG: L_StoreG: {
            Value t = IF ? CopyForAssign(RK(IB)) : Value(RK(IB));
            script_->globals[IA] = std::move(t);
            break;
          }
          case Op::SetRef: L_SetRef: {
            Value t = IF ? CopyForAssign(RK(IB)) : Value(RK(IB));
            Deref(R[IA]) = std::move(t);
            break;
          }
          case Op::MakeRef: L_MakeRef: {
            Value& src = R[IB];
            if (src.tag == Tag::Ref || src.tag == Tag::RefBox) {
              Value t(src);
              R[IA] = std::move(t);
            } else {
              R[IA].Clear();
              R[IA].tag = Tag::Ref;
              R[IA].ref = &src;
            }
            KV_NEXT;
          }
          case Op::MakeRefG: L_MakeRefG:
            R[IA].Clear();
            R[IA].tag = Tag::Ref;
            R[IA].ref = &script_->globals[IB];
            KV_NEXT;
          case Op::Cvt: L_Cvt: {
            const Value& v = RK(IB);
            VarType vt = static_cast<VarType>(IC);
            if ((vt == VarType::Long && v.tag == Tag::Long) || (vt == VarType::Double && v.tag == Tag::Double)) {
              R[IA].tag = v.tag;
              R[IA].raw = v.raw;
            } else if (vt == VarType::Long && v.tag == Tag::Integer) {
              R[IA].SetInt(Tag::Long, v.i);
            } else if (vt == VarType::Double && IntLike(v.tag)) {
              R[IA].SetDouble(v.i);
            } else {
              R[IA] = Coerce(v, vt);
            }
            KV_NEXT;
          }
#define KV_ARITH(OPNAME, CHECKED, EXPR)                                   \
  case Op::OPNAME: L_##OPNAME: {                                                    \
    const Value& x = RK(IB);                                            \
    const Value& y = RK(IC);                                            \
    if (IntLike(x.tag) && IntLike(y.tag)) {                               \
      int32_t r;                                                          \
      if (!CHECKED(x.i, y.i, &r)) {                                       \
        if (x.tag == Tag::Long || y.tag == Tag::Long) {                   \
          R[IA].SetInt(Tag::Long, r);                                   \
          KV_NEXT;                                                          \
        }                                                                 \
        if (r >= -32768 && r <= 32767) {                                  \
          R[IA].SetInt(Tag::Integer, r);                                \
          KV_NEXT;                                                          \
        }                                                                 \
      }                                                                   \
    } else if (x.tag == Tag::Double && y.tag == Tag::Double) {            \
      double r = x.d EXPR y.d;                                            \
      if (std::isfinite(r)) {                                             \
        R[IA].SetDouble(r);                                             \
        KV_NEXT;                                                            \
      }                                                                   \
    }                                                                     \
    R[IA] = BinaryOp(Op::OPNAME, x, y, IF);                           \
    KV_NEXT;                                                                \
  }
          KV_ARITH(Add, __builtin_add_overflow, +)
          KV_ARITH(Sub, __builtin_sub_overflow, -)
          KV_ARITH(Mul, __builtin_mul_overflow, *)
#undef KV_ARITH
          case Op::Mod: L_Mod:
          case Op::IDiv: L_IDiv: {
            const Value& x = RK(IB);
            const Value& y = RK(IC);
            if (x.tag == Tag::Long && y.tag == Tag::Long && y.i != 0 && !(y.i == -1 && x.i == INT32_MIN)) {
              R[IA].SetInt(Tag::Long, IOP == Op::Mod ? x.i % y.i : x.i / y.i);
              KV_NEXT;
            }
            R[IA] = BinaryOp(IOP, x, y, IF);
            KV_NEXT;
          }
          case Op::Cat: L_Cat: {
            Value& dst = R[IA];
            const Value& y = RK(IC);
            // s = s & x appends in place when nothing else shares the string.
            if (IB == IA && dst.tag == Tag::String && dst.h->refs.load(std::memory_order_relaxed) == 1 &&
                y.tag == Tag::String && &y != &dst && StrOf(dst).size() + StrOf(y).size() <= kMaxStringLength) {
              std::string& s = static_cast<StrObj*>(dst.h)->s;
              size_t need = s.size() + StrOf(y).size();
              // Growing fourfold touches fewer fresh pages than doubling when strings get long.
              if (need > s.capacity()) s.reserve(std::max(need, std::min(s.capacity() * 4, kMaxStringLength)));
              s += StrOf(y);
              KV_NEXT;
            }
            R[IA] = BinaryOp(Op::Cat, RK(IB), y, IF);
            KV_NEXT;
          }
// The operator is fixed per label, not read from the instruction: the typed
// And and Or forms jump here with their own opcodes.
#define KV_BITS(OPNAME, EXPR)                                                  \
  case Op::OPNAME: L_##OPNAME: {                                               \
    const Value& x = RK(IB);                                                   \
    const Value& y = RK(IC);                                                   \
    if (IntLike(x.tag) && IntLike(y.tag)) {                                    \
      R[IA].SetInt(x.tag == Tag::Long || y.tag == Tag::Long ? Tag::Long : Tag::Integer, x.i EXPR y.i); \
      KV_NEXT;                                                                 \
    }                                                                          \
    R[IA] = BinaryOp(Op::OPNAME, x, y, IF);                                    \
    KV_NEXT;                                                                   \
  }
          KV_BITS(And, &)
          KV_BITS(Or, |)
          KV_BITS(Xor, ^)
#undef KV_BITS
          case Op::Div: L_Div:
          case Op::Pow: L_Pow:
          case Op::Eqv: L_Eqv:
          case Op::Imp: L_Imp:
          case Op::Like: L_Like:
          case Op::Is: L_Is: R[IA] = BinaryOp(IOP, RK(IB), RK(IC), IF); KV_NEXT;
          case Op::Eq: L_Eq:
          case Op::Ne: L_Ne:
          case Op::Lt: L_Lt:
          case Op::Le: L_Le:
          case Op::Gt: L_Gt:
          case Op::Ge: L_Ge: {
            const Value& x = RK(IB);
            const Value& y = RK(IC);
            if (IntLike(x.tag) && IntLike(y.tag)) {
              int c = x.i < y.i ? -1 : x.i > y.i ? 1 : 0;
              bool r;
              switch (IOP) {
                case Op::Eq: r = c == 0; break;
                case Op::Ne: r = c != 0; break;
                case Op::Lt: r = c < 0; break;
                case Op::Le: r = c <= 0; break;
                case Op::Gt: r = c > 0; break;
                default: r = c >= 0; break;
              }
              R[IA].SetInt(Tag::Boolean, r ? -1 : 0);
              KV_NEXT;
            }
            R[IA] = BinaryOp(IOP, x, y, IF);
            KV_NEXT;
          }
          case Op::Neg: L_Neg:
          case Op::Not: L_Not: R[IA] = UnaryOp(IOP, RK(IB)); KV_NEXT;
          case Op::Jmp: L_Jmp: {
            const Ins* target = code + IA;
            bool back = target < ip;
            ip = target;
            if (back && --budget <= 0) {
              fr->ip = ip;
              budget = kPollInterval, Poll();
            }
            KV_NEXT;
          }
          case Op::JmpIf: L_JmpIf:
          case Op::JmpIfNot: L_JmpIfNot: {
            bool t = Truth(RK(IB));
            if (t == (IOP == Op::JmpIf)) {
              const Ins* target = code + IA;
              if (target < ip && --budget <= 0) {
                fr->ip = target;
                ip = target;
                budget = kPollInterval, Poll();
              }
              ip = target;
            }
            KV_NEXT;
          }
          case Op::JmpCmp: L_JmpCmp: {
            const Value& x = RK(IB);
            const Value& y = RK(IC);
            int c;
            if (IntLike(x.tag) && IntLike(y.tag)) {
              c = x.i < y.i ? -1 : x.i > y.i ? 1 : 0;
            } else if (x.tag == Tag::Double && y.tag == Tag::Double) {
              c = x.d < y.d ? -1 : x.d > y.d ? 1 : 0;
            } else {
              bool isNull;
              c = CompareValues(x, y, CmpJumpFlags(IF), isNull);
              if (isNull) {
                ip = code + IA;
                KV_NEXT;
              }
            }
            bool r;
            switch (IF & 7) {
              case 0: r = c == 0; break;
              case 1: r = c != 0; break;
              case 2: r = c < 0; break;
              case 3: r = c <= 0; break;
              case 4: r = c > 0; break;
              default: r = c >= 0; break;
            }
            if (!r) {
              const Ins* target = code + IA;
              if (target < ip && --budget <= 0) {
                ip = target;
                fr->ip = ip;
                budget = kPollInterval, Poll();
              }
              ip = target;
            }
            KV_NEXT;
          }
          case Op::ForPrep: L_ForPrep: {
            Value& v = R[IA];
            if (ForDone(Deref(v), Deref(R[IB]), Deref(R[IB + 1]))) ip = code + IC;
            KV_NEXT;
          }
          case Op::ForLoop: L_ForLoop: {
            Value& v = R[IA];
            const Value& limit = Deref(R[IB]);
            const Value& step = Deref(R[IB + 1]);
            if (v.tag == Tag::Long && IntLike(step.tag) && IntLike(limit.tag)) {
              int32_t n;
              if (__builtin_add_overflow(v.i, step.i, &n)) Raise(err::kOverflow);
              v.i = n;
              if (step.i >= 0 ? n <= limit.i : n >= limit.i) {
                ip = code + IC;
                if (--budget <= 0) {
                  fr->ip = ip;
                  budget = kPollInterval, Poll();
                }
              }
              KV_NEXT;
            }
            VarType vt = static_cast<VarType>(IF);
            Value next = BinaryOp(Op::Add, v, step, 0);
            if (vt != VarType::Variant) next = Coerce(next, vt);
            v = std::move(next);
            if (!ForDone(v, limit, step)) {
              ip = code + IC;
              if (--budget <= 0) {
                fr->ip = ip;
                budget = kPollInterval, Poll();
              }
            }
            break;
          }
          case Op::EachPrep: L_EachPrep: {
            const Value& src = RK(IB);
            const CollectionObj* items = CollectionOf(src);
            if (src.tag != Tag::Array && !items) Raise(src.tag == Tag::Object ? err::kNoSuchMember : err::kTypeMismatch);
            // A collection is walked as it stood when the loop began.
            Value t(items ? CollectionSnapshot(*items) : src);
            R[IA] = std::move(t);
            R[IA + 1].SetInt(Tag::Long, 0);
            if (ArrOf(R[IA])->data.empty()) ip = code + IC;
            break;
          }
          case Op::EachNext: L_EachNext: {
            if (R[IA].tag != Tag::Array || R[IA + 1].tag != Tag::Long) Raise(err::kForNotInitialized);
            ArrayObj* arr = ArrOf(R[IA]);
            size_t idx = static_cast<size_t>(R[IA + 1].i);
            if (idx >= arr->data.size()) {
              ip = code + IC;
              KV_NEXT;
            }
            Value t(arr->data[idx]);
            R[IB] = std::move(t);
            R[IA + 1].i = static_cast<int32_t>(idx + 1);
            break;
          }
          case Op::Call: L_Call: {
            fr->ip = ip;
            if (--budget <= 0) budget = kPollInterval, Poll();
            PushFrame(IA, R + IB, IC);
            fr = &frames_.back();
            fn = fr->fn;
            code = fn->code.data();
            ip = code;
            R = fr->base;
            KV_NEXT;
          }
          case Op::CallHost: L_CallHost:
            fr->ip = ip;
            CallHost(R + IB, IA, IC);
            KV_NEXT;
          case Op::CallLib: L_CallLib:
            fr->ip = ip;
            GetLibFunc(IA).fn(*this, R + IB, IC);
            KV_NEXT;
          case Op::Ret: L_Ret: {
            if (frames_.size() == 1) {
              PopFrame();
              return;
            }
            PopFrame();
            fr = &frames_.back();
            fn = fr->fn;
            code = fn->code.data();
            ip = fr->ip;
            R = fr->base;
            KV_NEXT;
          }
          case Op::Index: L_Index: {
            // One index into a one-dimensional array, neither passed by reference.
            if (IntLike(R[IC].tag) && IF == 1 && !IsHeap(R[IA].tag)) {
              const Value* e = Element1(R[IB], R[IC].i);
              if (e && !IsHeap(e->tag)) {
                R[IA].tag = e->tag;
                R[IA].raw = e->raw;
                KV_NEXT;
              }
            }
            if (const CollectionObj* c = CollectionOf(Deref(R[IB]))) {
              // c(i) is c.Item(i), the default member.
              if (IF != 1) Raise(err::kWrongArgCount);
              Value t(CollectionItem(*c, R[IC]));
              R[IA] = std::move(t);
              break;
            }
            ArrayObj* arr = ArrayOperand(R[IB]);
            size_t lin = ElementIndex(arr, R + IC, IF);
            const Value& e = arr->data[lin];
            if (!IsHeap(e.tag) && !IsHeap(R[IA].tag)) {
              R[IA].tag = e.tag;
              R[IA].raw = e.raw;
              KV_NEXT;
            }
            Value t(e);
            R[IA] = std::move(t);
            break;
          }
          case Op::SetIndex: L_SetIndex: {
            // A Long, Integer or Double over an element of its own kind, one index, nothing by reference.
            if (IntLike(R[IC].tag) && IF == 1) {
              Value* slot = Element1(R[IA], R[IC].i);
              const Value& v = (IB & kConstBit) ? K[IB & 0x7FFF] : R[IB];
              if (slot && SameScalar(*slot, v)) {
                slot->raw = v.raw;
                KV_NEXT;
              }
            }
            ArrayObj* arr = ArrayOperand(R[IA]);
            size_t lin = ElementIndex(arr, R + IC, IF);
            const Value& v = RK(IB);
            Value& slot = arr->data[lin];
            if (SameScalar(slot, v)) {
              slot.raw = v.raw;
            } else {
              Value t = StoreAs(v, arr->elemType, arr->elemRecord);
              slot = std::move(t);
            }
            KV_NEXT;
          }
          case Op::RefIndex: L_RefIndex: {
            Value owner(Deref(R[IB]));
            ArrayObj* arr = ArrayOperand(owner);
            size_t lin = ElementIndex(arr, R + IC, IF);
            R[IA] = MakeBox(&arr->data[lin], owner);
            break;
          }
          case Op::GetField: L_GetField: {
            RecordObj* rec = RecordOperand(R[IB]);
            if (IC >= rec->fields.size()) Raise(err::kTypeMismatch);
            Value t(rec->fields[IC]);
            R[IA] = std::move(t);
            break;
          }
          case Op::SetField: L_SetField: {
            RecordObj* rec = RecordOperand(R[IA]);
            if (IC >= rec->fields.size()) Raise(err::kTypeMismatch);
            Value t = FieldStore(rec->type, IC, RK(IB));
            rec->fields[IC] = std::move(t);
            break;
          }
          case Op::RefField: L_RefField: {
            Value owner(Deref(R[IB]));
            RecordObj* rec = RecordOperand(owner);
            if (IC >= rec->fields.size()) Raise(err::kTypeMismatch);
            R[IA] = MakeBox(&rec->fields[IC], owner);
            break;
          }
          case Op::GetMember: L_GetMember:
          case Op::RefMember: L_RefMember: {
            fr->ip = ip;
            const Value& obj = Deref(R[IB]);
            const std::string& name = StrOf(K[IC & 0x7FFF]);
            if (obj.tag == Tag::Record) {
              RecordObj* rec = RecOf(obj);
              int fi = rec->type->FieldIndex(name);
              if (fi < 0) Raise(err::kNoSuchMember);
              if (IOP == Op::RefMember) {
                Value owner(obj);
                R[IA] = MakeBox(&rec->fields[fi], owner);
              } else {
                Value t(rec->fields[fi]);
                R[IA] = std::move(t);
              }
              KV_NEXT;
            }
            // A property read; the value lands in R[a] through a call frame there.
            Value target(obj);
            R[IA] = std::move(target);
            CallMember(R + IA, name, 0, 0);
            break;
          }
          case Op::SetMember: L_SetMember: {
            fr->ip = ip;
            const Value& obj = Deref(R[IA]);
            const std::string& name = StrOf(K[IC & 0x7FFF]);
            if (obj.tag == Tag::Record) {
              RecordObj* rec = RecOf(obj);
              int fi = rec->type->FieldIndex(name);
              if (fi < 0) Raise(err::kNoSuchMember);
              Value t = FieldStore(rec->type, fi, RK(IB));
              rec->fields[fi] = std::move(t);
              break;
            }
            // Property put: the engine builds a small frame above the registers in use.
            Value* scratch = R + fn->numRegs;
            if (scratch + 3 > stack_.data() + stack_.size()) Raise(err::kOutOfStack);
            scratch[0] = obj;
            scratch[1] = RK(IB);
            CallMember(scratch, name, 1, 2);
            scratch[0].Clear();
            scratch[1].Clear();
            KV_NEXT;
          }
          case Op::CallMethod: L_CallMethod: {
            fr->ip = ip;
            const std::string& name = StrOf(K[IB & 0x7FFF]);
            Value& recv = R[IA];
            const Value& obj = Deref(recv);
            if (obj.tag == Tag::Record) {
              RecordObj* rec = RecOf(obj);
              int fi = rec->type->FieldIndex(name);
              if (fi < 0) Raise(err::kNoSuchMember);
              Value field(rec->fields[fi]);
              if (IF > 0) {
                ArrayObj* arr = ArrayOperand(field);
                size_t lin = ElementIndex(arr, R + IA + 1, IF);
                Value t(arr->data[lin]);
                field = std::move(t);
              }
              for (int k = 1; k <= IF; ++k) R[IA + k].Clear();
              recv = std::move(field);
              break;
            }
            CallMember(R + IA, name, IF, IC ? 3 : 4);
            KV_NEXT;
          }
          case Op::NewObject: L_NewObject:
            fr->ip = ip;
            NewObject(&R[IA], StrOf(K[IB & 0x7FFF]));
            KV_NEXT;
          case Op::ReDim: L_ReDim: ReDimArray(Deref(R[IA]), R + IB, IC, IF != 0); KV_NEXT;
          case Op::Erase: L_Erase: {
            Value& var = Deref(R[IA]);
            if (var.tag != Tag::Array) Raise(err::kTypeMismatch);
            ArrayObj* arr = ArrOf(var);
            if (arr->locks.load() > 0) Raise(err::kArrayLocked);
            if (arr->fixed) {
              for (Value& e : arr->data) e = DefaultOf(arr->elemType, arr->elemRecord);
            } else {
              arr->data.clear();
              arr->SetDims({});
            }
            KV_NEXT;
          }
          case Op::OnError: L_OnError:
            ClearError();
            switch (IF) {
              case 0: fr->onError = 0; break;
              case 1: fr->onError = 1; break;
              case 2:
                fr->onError = 2;
                fr->handler = IA;
                break;
              default: fr->inHandler = false; break;
            }
            KV_NEXT;
          case Op::Resume: L_Resume: {
            if (!fr->inHandler) Raise(err::kResumeWithoutError);
            fr->inHandler = false;
            ClearError();
            if (IF == 0) ip = code + StatementStartPc(fn, fr->errPc);
            else if (IF == 1) ip = code + NextStatementPc(fn, fr->errPc);
            else ip = code + IA;
            KV_NEXT;
          }
          case Op::EndProgram: L_EndProgram: throw EndSignal{};
// Typed forms read registers without following references: a reference, a
// constant of another type or a result out of range takes the generic path.
// Their b is a register; c is a register too, or a constant in the K forms.
#define KV_RK_PLAIN(x) (((x) & kConstBit) ? K[(x) & 0x7FFF] : R[(x)])
#define KV_TYPED_INT(OPNAME, GENERIC, X, Y, TAG, CHECKED, LO, HI)                           \
  case Op::OPNAME: L_##OPNAME: {                                                         \
    const Value& x = X;                                                                  \
    const Value& y = Y;                                                                  \
    Value& d = R[IA];                                                                    \
    int32_t r;                                                                           \
    if (x.tag == TAG && y.tag == TAG && !IsHeap(d.tag) && !CHECKED(x.i, y.i, &r) && r >= (LO) && r <= (HI)) { \
      d.tag = TAG;                                                                       \
      d.raw = static_cast<uint32_t>(r);                                                  \
      KV_NEXT;                                                                           \
    }                                                                                    \
    goto L_##GENERIC;                                                                    \
  }
          KV_TYPED_INT(AddL, Add, R[IB], R[IC], Tag::Long, __builtin_add_overflow, INT32_MIN, INT32_MAX)
          KV_TYPED_INT(AddLK, Add, R[IB], K[IC & 0x7FFF], Tag::Long, __builtin_add_overflow, INT32_MIN, INT32_MAX)
          KV_TYPED_INT(SubL, Sub, R[IB], R[IC], Tag::Long, __builtin_sub_overflow, INT32_MIN, INT32_MAX)
          KV_TYPED_INT(SubLK, Sub, R[IB], K[IC & 0x7FFF], Tag::Long, __builtin_sub_overflow, INT32_MIN, INT32_MAX)
          KV_TYPED_INT(MulL, Mul, R[IB], R[IC], Tag::Long, __builtin_mul_overflow, INT32_MIN, INT32_MAX)
          KV_TYPED_INT(MulLK, Mul, R[IB], K[IC & 0x7FFF], Tag::Long, __builtin_mul_overflow, INT32_MIN, INT32_MAX)
          KV_TYPED_INT(AddI, Add, R[IB], R[IC], Tag::Integer, __builtin_add_overflow, -32768, 32767)
          KV_TYPED_INT(AddIK, Add, R[IB], K[IC & 0x7FFF], Tag::Integer, __builtin_add_overflow, -32768, 32767)
          KV_TYPED_INT(SubI, Sub, R[IB], R[IC], Tag::Integer, __builtin_sub_overflow, -32768, 32767)
          KV_TYPED_INT(SubIK, Sub, R[IB], K[IC & 0x7FFF], Tag::Integer, __builtin_sub_overflow, -32768, 32767)
          KV_TYPED_INT(MulI, Mul, R[IB], R[IC], Tag::Integer, __builtin_mul_overflow, -32768, 32767)
          KV_TYPED_INT(MulIK, Mul, R[IB], K[IC & 0x7FFF], Tag::Integer, __builtin_mul_overflow, -32768, 32767)
          KV_TYPED_INT(AndL, And, R[IB], R[IC], Tag::Long, AndBits, INT32_MIN, INT32_MAX)
          KV_TYPED_INT(AndLK, And, R[IB], K[IC & 0x7FFF], Tag::Long, AndBits, INT32_MIN, INT32_MAX)
          KV_TYPED_INT(OrL, Or, R[IB], R[IC], Tag::Long, OrBits, INT32_MIN, INT32_MAX)
          KV_TYPED_INT(OrLK, Or, R[IB], K[IC & 0x7FFF], Tag::Long, OrBits, INT32_MIN, INT32_MAX)
#undef KV_TYPED_INT
#define KV_TYPED_DOUBLE(OPNAME, GENERIC, X, Y, EXPR)                                        \
  case Op::OPNAME: L_##OPNAME: {                                                         \
    const Value& x = X;                                                                  \
    const Value& y = Y;                                                                  \
    Value& d = R[IA];                                                                    \
    if (x.tag == Tag::Double && y.tag == Tag::Double && !IsHeap(d.tag)) {                \
      double r = x.d EXPR y.d;                                                           \
      if (std::isfinite(r)) {                                                            \
        d.tag = Tag::Double;                                                             \
        d.d = r;                                                                         \
        KV_NEXT;                                                                         \
      }                                                                                  \
    }                                                                                    \
    goto L_##GENERIC;                                                                    \
  }
          KV_TYPED_DOUBLE(AddD, Add, R[IB], R[IC], +)
          KV_TYPED_DOUBLE(AddDK, Add, R[IB], K[IC & 0x7FFF], +)
          KV_TYPED_DOUBLE(SubD, Sub, R[IB], R[IC], -)
          KV_TYPED_DOUBLE(SubDK, Sub, R[IB], K[IC & 0x7FFF], -)
          KV_TYPED_DOUBLE(MulD, Mul, R[IB], R[IC], *)
          KV_TYPED_DOUBLE(MulDK, Mul, R[IB], K[IC & 0x7FFF], *)
#undef KV_TYPED_DOUBLE
#define KV_JMP_CMP(OPNAME, CMP)                                                          \
  case Op::OPNAME: L_##OPNAME: {                                                         \
    const Value& x = KV_RK_PLAIN(IB);                                                    \
    const Value& y = KV_RK_PLAIN(IC);                                                    \
    bool r;                                                                              \
    if (IntLike(x.tag) && IntLike(y.tag)) r = x.i CMP y.i;                               \
    else if (x.tag == Tag::Double && y.tag == Tag::Double) r = x.d CMP y.d;              \
    else goto L_JmpCmp;                                                                  \
    if (!r) {                                                                            \
      const Ins* target = code + IA;                                                     \
      if (target < ip && --budget <= 0) {                                                \
        fr->ip = target;                                                                 \
        ip = target;                                                                     \
        budget = kPollInterval, Poll();                                                  \
      }                                                                                  \
      ip = target;                                                                       \
    }                                                                                    \
    KV_NEXT;                                                                             \
  }
          KV_JMP_CMP(JmpCmpEq, ==)
          KV_JMP_CMP(JmpCmpNe, !=)
          KV_JMP_CMP(JmpCmpLt, <)
          KV_JMP_CMP(JmpCmpLe, <=)
          KV_JMP_CMP(JmpCmpGt, >)
          KV_JMP_CMP(JmpCmpGe, >=)
#undef KV_JMP_CMP
#undef KV_RK_PLAIN
          case Op::IndexOff: L_IndexOff: {
            // Past the Long range j + k is past every array's bounds too.
            if (R[IC].tag == Tag::Long && !IsHeap(R[IA].tag)) {
              const Value* e = Element1(R[IB], static_cast<int64_t>(R[IC].i) + static_cast<int8_t>(IF));
              if (e && !IsHeap(e->tag)) {
                R[IA].tag = e->tag;
                R[IA].raw = e->raw;
                KV_NEXT;
              }
            }
            Value index = OffsetIndex(R[IC], IF);
            ArrayObj* arr = ArrayOperand(R[IB]);
            Value t(arr->data[ElementIndex(arr, &index, 1)]);
            R[IA] = std::move(t);
            break;
          }
          case Op::SetIndexOff: L_SetIndexOff: {
            Value index = OffsetIndex(R[IC], IF);
            ArrayObj* arr = ArrayOperand(R[IA]);
            Value& slot = arr->data[ElementIndex(arr, &index, 1)];
            const Value& v = RK(IB);
            if (SameScalar(slot, v)) {
              slot.raw = v.raw;
              break;
            }
            Value t = StoreAs(v, arr->elemType, arr->elemRecord);
            slot = std::move(t);
            break;
          }
          case Op::GoSub: L_GoSub:
            if (gosubs_.size() >= kMaxGoSubs) Raise(err::kOutOfStack);
            gosubs_.push_back({frames_.size(), ip});
            ip = code + IA;
            if (--budget <= 0) {
              fr->ip = ip;
              budget = kPollInterval, Poll();
            }
            KV_NEXT;
          case Op::Return: L_Return:
            if (gosubs_.empty() || gosubs_.back().frame != frames_.size()) Raise(err::kReturnWithoutGoSub);
            ip = gosubs_.back().ip;
            gosubs_.pop_back();
            KV_NEXT;
          case Op::SetErl: L_SetErl:
            fr->lastLabel = IA | static_cast<uint32_t>(IB) << 16;
            KV_NEXT;
          case Op::ConstRef: L_ConstRef:
            R[IA].Clear();
            R[IA].tag = Tag::Ref;
            R[IA].ref = const_cast<Value*>(&K[IB & 0x7FFF]);
            KV_NEXT;
          case Op::ForInc: L_ForInc: {
            // Below the limit the step of 1 cannot overflow; the last step,
            // which may, and anything not Long or Integer go the generic way.
            Value& v = R[IA];
            const Value& limit = R[IB];
            if (IntLike(limit.tag) && v.i < limit.i && (v.tag == Tag::Long || (v.tag == Tag::Integer && v.i < 32767))) {
              ++v.i;
              ip = code + IC;
              if (--budget <= 0) {
                fr->ip = ip;
                budget = kPollInterval, Poll();
              }
              KV_NEXT;
            }
            goto L_ForLoop;
          }
          case Op::Count: __builtin_unreachable();  // the loader admits only known opcodes
        }
      }
    } catch (const ScriptError& e) {
      frames_.back().ip = ip;
      if (!HandleError(e)) {
        errorResult_ = e.number;
        if (errorCallback_) errorCallback_(*this, e.number, errLine, e.description, errorData_);
        return;
      }
    } catch (const StopSignal&) {
      errorResult_ = abort_.load() ? err::kUserInterrupt : 0;
      return;
    } catch (const EndSignal&) {
      return;
    }
  }
}

#undef IOP
#undef IF
#undef IA
#undef IB
#undef IC
#undef RK
#undef KV_NEXT

void Thread::VisitValues(const std::function<void(Value&)>& fn) {
  if (frames_.empty()) return;
  const Frame& top = frames_.back();
  Value* end = top.base + top.fn->numRegs;
  for (Value* v = stack_.data(); v < end; ++v) fn(*v);
}

}  // namespace kv::orlan
