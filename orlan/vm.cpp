// The interpreter loop: a register machine over verified code. Operand
// checks were done by the loader, so the loop indexes without bounds tests.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <thread>

#include "orlan/engine.h"
#include "orlan/ops.h"
#include "orlan/runtime.h"
#include "platform/text.h"

namespace kv::orlan {
namespace {

constexpr size_t kStackValues = 1 << 16;
constexpr size_t kMaxFrames = 3000;
constexpr int kPollInterval = 1024;
constexpr int64_t kYieldIntervalNs = 10'000'000;

struct StopSignal {};
struct EndSignal {};

int64_t NowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

inline bool IntLike(Tag t) { return t == Tag::Integer || t == Tag::Long; }

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
    : engine_(engine), script_(std::move(script)), function_(function), stack_(kStackValues) {
  frames_.reserve(kMaxFrames);
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
  stop_.store(true);
}

void Thread::RaiseError(int number, std::string description) {
  pendingError_ = number;
  pendingText_ = description.empty() ? ErrorText(number) : std::move(description);
}

void Thread::LockScript() {
  if (locked_) return;
  script_->waiters.fetch_add(1);
  script_->gil.lock();
  script_->waiters.fetch_sub(1);
  script_->gilOwner.store(std::this_thread::get_id());
  locked_ = true;
}

void Thread::UnlockScript() {
  if (!locked_) return;
  locked_ = false;
  script_->gilOwner.store(std::thread::id());
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
  budget_ = kPollInterval;
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

inline void Thread::PushFrame(const Function* fn, Value* base, int nargs) {
  if (frames_.size() >= kMaxFrames || base + fn->numRegs > stack_.data() + stack_.size()) Raise(err::kOutOfStack);
  size_t np = fn->params.size();
  for (size_t p = 0; p < np; ++p) {
    Value& slot = base[1 + p];
    const ParamInfo& pi = fn->params[p];
    if (static_cast<int>(p) >= nargs || slot.tag == Tag::Missing) {
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
  // Built in place: a frame assembled on the stack and copied stalls the
  // store-to-load forwarding of the copy.
  Frame& f = frames_.emplace_back();
  f.fn = fn;
  f.base = base;
  f.ip = fn->code.data();
}

inline void Thread::PopFrame() {
  Frame& f = frames_.back();
  for (uint16_t r = 1; r < f.fn->numRegs; ++r) f.base[r].Clear();
  if (f.inHandler) ClearError();
  frames_.pop_back();
}

int Thread::Run(std::span<const Value> args) {
  if (active_.exchange(true)) return errorResult_;
  stop_.store(false);
  abort_.store(false);
  errorResult_ = 0;
  pendingError_ = 0;
  ClearError();
  // A host call may run another subroutine of the same script on this OS
  // thread; it then runs inside the lock the outer run holds.
  bool nested = script_->gilOwner.load() == std::this_thread::get_id();
  if (!nested) LockScript();
  const Function* fn = &script_->program().functions[function_];
  try {
    for (size_t i = 0; i < args.size() && i < fn->params.size(); ++i) stack_[1 + i] = args[i];
    for (size_t i = args.size(); i < fn->params.size(); ++i) stack_[1 + i] = Value::MissingValue();
    PushFrame(fn, stack_.data(), static_cast<int>(std::min(args.size(), fn->params.size())));
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

#define RK(x) (((x) & kConstBit) ? K[(x) & 0x7FFF] : Deref(R[(x)]))

// Threaded dispatch: handlers end in their own indirect jump, which the
// branch predictor learns per opcode. Handlers with locals that need
// destroying leave through `break` and the loop's dispatch instead.
#define KV_NEXT                                           \
  do {                                                    \
    in = *ip++;                                           \
    goto* kDispatch[static_cast<uint8_t>(in.op)];         \
  } while (0)

void Thread::Execute() {
  static const void* const kDispatch[] = {
#define KV_ORLAN_LABEL(name) &&L_##name,
      KV_ORLAN_OPCODES(KV_ORLAN_LABEL)
#undef KV_ORLAN_LABEL
  };
  const Program& prog = script_->program();
  const Value* K = prog.constants.data();
  const Function* fns = prog.functions.data();
  budget_ = kPollInterval;
  for (;;) {
    Frame* fr = &frames_.back();
    const Function* fn = fr->fn;
    const Ins* code = fn->code.data();
    const Ins* ip = fr->ip;
    Value* R = fr->base;
    Ins in;
    try {
      for (;;) {
        in = *ip++;
        switch (in.op) {
          case Op::Nop: L_Nop: KV_NEXT;
          case Op::Move: L_Move: {
            const Value& v = RK(in.b);
            if (!IsHeap(v.tag) && !IsHeap(R[in.a].tag)) {
              R[in.a].tag = v.tag;
              R[in.a].raw = v.raw;
            } else {
              Value t(v);
              R[in.a] = std::move(t);
            }
            KV_NEXT;
          }
          case Op::Copy: L_Copy: R[in.a] = CopyForAssign(RK(in.b)); KV_NEXT;
          case Op::LoadEmpty: L_LoadEmpty:
            switch (in.f) {
              case 1: R[in.a] = Value::Nothing(); break;
              case 2: R[in.a] = Value::MissingValue(); break;
              case 3: R[in.a] = Value::NullValue(); break;
              default: R[in.a].Clear(); break;
            }
            KV_NEXT;
          case Op::LoadG: L_LoadG: {
            Value t(script_->globals[in.b]);
            R[in.a] = std::move(t);
            break;
          }
          case Op::StoreG: L_StoreG: {
            Value t = in.f ? CopyForAssign(RK(in.b)) : Value(RK(in.b));
            script_->globals[in.a] = std::move(t);
            break;
          }
          case Op::SetRef: L_SetRef: {
            Value t = in.f ? CopyForAssign(RK(in.b)) : Value(RK(in.b));
            Deref(R[in.a]) = std::move(t);
            break;
          }
          case Op::MakeRef: L_MakeRef: {
            Value& src = R[in.b];
            if (src.tag == Tag::Ref || src.tag == Tag::RefBox) {
              Value t(src);
              R[in.a] = std::move(t);
            } else {
              R[in.a].Clear();
              R[in.a].tag = Tag::Ref;
              R[in.a].ref = &src;
            }
            KV_NEXT;
          }
          case Op::MakeRefG: L_MakeRefG:
            R[in.a].Clear();
            R[in.a].tag = Tag::Ref;
            R[in.a].ref = &script_->globals[in.b];
            KV_NEXT;
          case Op::Cvt: L_Cvt: {
            const Value& v = RK(in.b);
            VarType vt = static_cast<VarType>(in.c);
            if ((vt == VarType::Long && v.tag == Tag::Long) || (vt == VarType::Double && v.tag == Tag::Double)) {
              R[in.a].tag = v.tag;
              R[in.a].raw = v.raw;
            } else if (vt == VarType::Long && v.tag == Tag::Integer) {
              R[in.a].SetInt(Tag::Long, v.i);
            } else if (vt == VarType::Double && IntLike(v.tag)) {
              R[in.a].SetDouble(v.i);
            } else {
              R[in.a] = Coerce(v, vt);
            }
            KV_NEXT;
          }
#define KV_ARITH(OPNAME, CHECKED, EXPR)                                   \
  case Op::OPNAME: L_##OPNAME: {                                                    \
    const Value& x = RK(in.b);                                            \
    const Value& y = RK(in.c);                                            \
    if (IntLike(x.tag) && IntLike(y.tag)) {                               \
      int32_t r;                                                          \
      if (!CHECKED(x.i, y.i, &r)) {                                       \
        if (x.tag == Tag::Long || y.tag == Tag::Long) {                   \
          R[in.a].SetInt(Tag::Long, r);                                   \
          KV_NEXT;                                                          \
        }                                                                 \
        if (r >= -32768 && r <= 32767) {                                  \
          R[in.a].SetInt(Tag::Integer, r);                                \
          KV_NEXT;                                                          \
        }                                                                 \
      }                                                                   \
    } else if (x.tag == Tag::Double && y.tag == Tag::Double) {            \
      double r = x.d EXPR y.d;                                            \
      if (std::isfinite(r)) {                                             \
        R[in.a].SetDouble(r);                                             \
        KV_NEXT;                                                            \
      }                                                                   \
    }                                                                     \
    R[in.a] = BinaryOp(Op::OPNAME, x, y, in.f);                           \
    KV_NEXT;                                                                \
  }
          KV_ARITH(Add, __builtin_add_overflow, +)
          KV_ARITH(Sub, __builtin_sub_overflow, -)
          KV_ARITH(Mul, __builtin_mul_overflow, *)
#undef KV_ARITH
          case Op::Mod: L_Mod:
          case Op::IDiv: L_IDiv: {
            const Value& x = RK(in.b);
            const Value& y = RK(in.c);
            if (x.tag == Tag::Long && y.tag == Tag::Long && y.i != 0 && !(y.i == -1 && x.i == INT32_MIN)) {
              R[in.a].SetInt(Tag::Long, in.op == Op::Mod ? x.i % y.i : x.i / y.i);
              KV_NEXT;
            }
            R[in.a] = BinaryOp(in.op, x, y, in.f);
            KV_NEXT;
          }
          case Op::Cat: L_Cat: {
            Value& dst = R[in.a];
            const Value& y = RK(in.c);
            // s = s & x appends in place when nothing else shares the string.
            if (in.b == in.a && dst.tag == Tag::String && dst.h->refs.load(std::memory_order_relaxed) == 1 &&
                y.tag == Tag::String && &y != &dst && StrOf(dst).size() + StrOf(y).size() <= kMaxStringLength) {
              std::string& s = static_cast<StrObj*>(dst.h)->s;
              size_t need = s.size() + StrOf(y).size();
              // Growing fourfold touches fewer fresh pages than doubling when strings get long.
              if (need > s.capacity()) s.reserve(std::max(need, std::min(s.capacity() * 4, kMaxStringLength)));
              s += StrOf(y);
              KV_NEXT;
            }
            R[in.a] = BinaryOp(Op::Cat, RK(in.b), y, in.f);
            KV_NEXT;
          }
          case Op::And: L_And:
          case Op::Or: L_Or:
          case Op::Xor: L_Xor: {
            const Value& x = RK(in.b);
            const Value& y = RK(in.c);
            if (IntLike(x.tag) && IntLike(y.tag)) {
              int32_t r = in.op == Op::And ? (x.i & y.i) : in.op == Op::Or ? (x.i | y.i) : (x.i ^ y.i);
              R[in.a].SetInt(x.tag == Tag::Long || y.tag == Tag::Long ? Tag::Long : Tag::Integer, r);
              KV_NEXT;
            }
            R[in.a] = BinaryOp(in.op, x, y, in.f);
            KV_NEXT;
          }
          case Op::Div: L_Div:
          case Op::Pow: L_Pow:
          case Op::Eqv: L_Eqv:
          case Op::Imp: L_Imp:
          case Op::Like: L_Like:
          case Op::Is: L_Is: R[in.a] = BinaryOp(in.op, RK(in.b), RK(in.c), in.f); KV_NEXT;
          case Op::Eq: L_Eq:
          case Op::Ne: L_Ne:
          case Op::Lt: L_Lt:
          case Op::Le: L_Le:
          case Op::Gt: L_Gt:
          case Op::Ge: L_Ge: {
            const Value& x = RK(in.b);
            const Value& y = RK(in.c);
            if (IntLike(x.tag) && IntLike(y.tag)) {
              int c = x.i < y.i ? -1 : x.i > y.i ? 1 : 0;
              bool r;
              switch (in.op) {
                case Op::Eq: r = c == 0; break;
                case Op::Ne: r = c != 0; break;
                case Op::Lt: r = c < 0; break;
                case Op::Le: r = c <= 0; break;
                case Op::Gt: r = c > 0; break;
                default: r = c >= 0; break;
              }
              R[in.a].SetInt(Tag::Boolean, r ? -1 : 0);
              KV_NEXT;
            }
            R[in.a] = BinaryOp(in.op, x, y, in.f);
            KV_NEXT;
          }
          case Op::Neg: L_Neg:
          case Op::Not: L_Not: R[in.a] = UnaryOp(in.op, RK(in.b)); KV_NEXT;
          case Op::Jmp: L_Jmp: {
            const Ins* target = code + in.a;
            bool back = target < ip;
            ip = target;
            if (back && --budget_ <= 0) {
              fr->ip = ip;
              Poll();
            }
            KV_NEXT;
          }
          case Op::JmpIf: L_JmpIf:
          case Op::JmpIfNot: L_JmpIfNot: {
            bool t = Truth(RK(in.b));
            if (t == (in.op == Op::JmpIf)) {
              const Ins* target = code + in.a;
              if (target < ip && --budget_ <= 0) {
                fr->ip = target;
                ip = target;
                Poll();
              }
              ip = target;
            }
            KV_NEXT;
          }
          case Op::JmpCmp: L_JmpCmp: {
            const Value& x = RK(in.b);
            const Value& y = RK(in.c);
            int c;
            if (IntLike(x.tag) && IntLike(y.tag)) {
              c = x.i < y.i ? -1 : x.i > y.i ? 1 : 0;
            } else if (x.tag == Tag::Double && y.tag == Tag::Double) {
              c = x.d < y.d ? -1 : x.d > y.d ? 1 : 0;
            } else {
              bool isNull;
              c = CompareValues(x, y, static_cast<uint8_t>(((in.f & 8) ? kTextCmp : 0) | ((in.f & 16) ? kStrict : 0)), isNull);
              if (isNull) {
                ip = code + in.a;
                KV_NEXT;
              }
            }
            bool r;
            switch (in.f & 7) {
              case 0: r = c == 0; break;
              case 1: r = c != 0; break;
              case 2: r = c < 0; break;
              case 3: r = c <= 0; break;
              case 4: r = c > 0; break;
              default: r = c >= 0; break;
            }
            if (!r) {
              const Ins* target = code + in.a;
              if (target < ip && --budget_ <= 0) {
                ip = target;
                fr->ip = ip;
                Poll();
              }
              ip = target;
            }
            KV_NEXT;
          }
          case Op::ForPrep: L_ForPrep: {
            Value& v = R[in.a];
            if (ForDone(Deref(v), Deref(R[in.b]), Deref(R[in.b + 1]))) ip = code + in.c;
            KV_NEXT;
          }
          case Op::ForLoop: L_ForLoop: {
            Value& v = R[in.a];
            const Value& limit = Deref(R[in.b]);
            const Value& step = Deref(R[in.b + 1]);
            if (v.tag == Tag::Long && IntLike(step.tag) && IntLike(limit.tag)) {
              int32_t n;
              if (__builtin_add_overflow(v.i, step.i, &n)) Raise(err::kOverflow);
              v.i = n;
              if (step.i >= 0 ? n <= limit.i : n >= limit.i) {
                ip = code + in.c;
                if (--budget_ <= 0) {
                  fr->ip = ip;
                  Poll();
                }
              }
              KV_NEXT;
            }
            VarType vt = static_cast<VarType>(in.f);
            Value next = BinaryOp(Op::Add, v, step, 0);
            if (vt != VarType::Variant) next = Coerce(next, vt);
            v = std::move(next);
            if (!ForDone(v, limit, step)) {
              ip = code + in.c;
              if (--budget_ <= 0) {
                fr->ip = ip;
                Poll();
              }
            }
            break;
          }
          case Op::EachPrep: L_EachPrep: {
            const Value& src = RK(in.b);
            if (src.tag != Tag::Array) Raise(src.tag == Tag::Object ? err::kNoSuchMember : err::kTypeMismatch);
            Value t(src);
            R[in.a] = std::move(t);
            R[in.a + 1].SetInt(Tag::Long, 0);
            if (ArrOf(R[in.a])->data.empty()) ip = code + in.c;
            break;
          }
          case Op::EachNext: L_EachNext: {
            if (R[in.a].tag != Tag::Array || R[in.a + 1].tag != Tag::Long) Raise(err::kForNotInitialized);
            ArrayObj* arr = ArrOf(R[in.a]);
            size_t idx = static_cast<size_t>(R[in.a + 1].i);
            if (idx >= arr->data.size()) {
              ip = code + in.c;
              KV_NEXT;
            }
            Value t(arr->data[idx]);
            R[in.b] = std::move(t);
            R[in.a + 1].i = static_cast<int32_t>(idx + 1);
            break;
          }
          case Op::Call: L_Call: {
            fr->ip = ip;
            if (--budget_ <= 0) Poll();
            PushFrame(&fns[in.a], R + in.b, in.c);
            fr = &frames_.back();
            fn = fr->fn;
            code = fn->code.data();
            ip = code;
            R = fr->base;
            KV_NEXT;
          }
          case Op::CallHost: L_CallHost:
            fr->ip = ip;
            CallHost(R + in.b, in.a, in.c);
            KV_NEXT;
          case Op::CallLib: L_CallLib:
            fr->ip = ip;
            GetLibFunc(in.a).fn(*this, R + in.b, in.c);
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
            ArrayObj* arr = ArrayOperand(R[in.b]);
            size_t lin = ElementIndex(arr, R + in.c, in.f);
            const Value& e = arr->data[lin];
            if (!IsHeap(e.tag) && !IsHeap(R[in.a].tag)) {
              R[in.a].tag = e.tag;
              R[in.a].raw = e.raw;
              KV_NEXT;
            }
            Value t(e);
            R[in.a] = std::move(t);
            break;
          }
          case Op::SetIndex: L_SetIndex: {
            ArrayObj* arr = ArrayOperand(R[in.a]);
            size_t lin = ElementIndex(arr, R + in.c, in.f);
            const Value& v = RK(in.b);
            Value& slot = arr->data[lin];
            if (slot.tag == Tag::Long && v.tag == Tag::Long) {
              slot.i = v.i;
            } else {
              Value t = StoreAs(v, arr->elemType, arr->elemRecord);
              slot = std::move(t);
            }
            KV_NEXT;
          }
          case Op::RefIndex: L_RefIndex: {
            Value owner(Deref(R[in.b]));
            ArrayObj* arr = ArrayOperand(owner);
            size_t lin = ElementIndex(arr, R + in.c, in.f);
            R[in.a] = MakeBox(&arr->data[lin], owner);
            break;
          }
          case Op::GetField: L_GetField: {
            RecordObj* rec = RecordOperand(R[in.b]);
            if (in.c >= rec->fields.size()) Raise(err::kTypeMismatch);
            Value t(rec->fields[in.c]);
            R[in.a] = std::move(t);
            break;
          }
          case Op::SetField: L_SetField: {
            RecordObj* rec = RecordOperand(R[in.a]);
            if (in.c >= rec->fields.size()) Raise(err::kTypeMismatch);
            Value t = FieldStore(rec->type, in.c, RK(in.b));
            rec->fields[in.c] = std::move(t);
            break;
          }
          case Op::RefField: L_RefField: {
            Value owner(Deref(R[in.b]));
            RecordObj* rec = RecordOperand(owner);
            if (in.c >= rec->fields.size()) Raise(err::kTypeMismatch);
            R[in.a] = MakeBox(&rec->fields[in.c], owner);
            break;
          }
          case Op::GetMember: L_GetMember:
          case Op::RefMember: L_RefMember: {
            fr->ip = ip;
            const Value& obj = Deref(R[in.b]);
            const std::string& name = StrOf(K[in.c & 0x7FFF]);
            if (obj.tag == Tag::Record) {
              RecordObj* rec = RecOf(obj);
              int fi = rec->type->FieldIndex(name);
              if (fi < 0) Raise(err::kNoSuchMember);
              if (in.op == Op::RefMember) {
                Value owner(obj);
                R[in.a] = MakeBox(&rec->fields[fi], owner);
              } else {
                Value t(rec->fields[fi]);
                R[in.a] = std::move(t);
              }
              KV_NEXT;
            }
            // A property read; the value lands in R[a] through a call frame there.
            Value target(obj);
            R[in.a] = std::move(target);
            CallMember(R + in.a, name, 0, 0);
            break;
          }
          case Op::SetMember: L_SetMember: {
            fr->ip = ip;
            const Value& obj = Deref(R[in.a]);
            const std::string& name = StrOf(K[in.c & 0x7FFF]);
            if (obj.tag == Tag::Record) {
              RecordObj* rec = RecOf(obj);
              int fi = rec->type->FieldIndex(name);
              if (fi < 0) Raise(err::kNoSuchMember);
              Value t = FieldStore(rec->type, fi, RK(in.b));
              rec->fields[fi] = std::move(t);
              break;
            }
            // Property put: the engine builds a small frame above the registers in use.
            Value* scratch = R + fn->numRegs;
            if (scratch + 3 > stack_.data() + stack_.size()) Raise(err::kOutOfStack);
            scratch[0] = obj;
            scratch[1] = RK(in.b);
            CallMember(scratch, name, 1, 2);
            scratch[0].Clear();
            scratch[1].Clear();
            KV_NEXT;
          }
          case Op::CallMethod: L_CallMethod: {
            fr->ip = ip;
            const std::string& name = StrOf(K[in.b & 0x7FFF]);
            Value& recv = R[in.a];
            const Value& obj = Deref(recv);
            if (obj.tag == Tag::Record) {
              RecordObj* rec = RecOf(obj);
              int fi = rec->type->FieldIndex(name);
              if (fi < 0) Raise(err::kNoSuchMember);
              Value field(rec->fields[fi]);
              if (in.f > 0) {
                ArrayObj* arr = ArrayOperand(field);
                size_t lin = ElementIndex(arr, R + in.a + 1, in.f);
                Value t(arr->data[lin]);
                field = std::move(t);
              }
              for (int k = 1; k <= in.f; ++k) R[in.a + k].Clear();
              recv = std::move(field);
              break;
            }
            CallMember(R + in.a, name, in.f, in.c ? 3 : 4);
            KV_NEXT;
          }
          case Op::NewObject: L_NewObject:
            fr->ip = ip;
            NewObject(&R[in.a], StrOf(K[in.b & 0x7FFF]));
            KV_NEXT;
          case Op::ReDim: L_ReDim: ReDimArray(Deref(R[in.a]), R + in.b, in.c, in.f != 0); KV_NEXT;
          case Op::Erase: L_Erase: {
            Value& var = Deref(R[in.a]);
            if (var.tag != Tag::Array) Raise(err::kTypeMismatch);
            ArrayObj* arr = ArrOf(var);
            if (arr->locks.load() > 0) Raise(err::kArrayLocked);
            if (arr->fixed) {
              for (Value& e : arr->data) e = DefaultOf(arr->elemType, arr->elemRecord);
            } else {
              arr->data.clear();
              arr->dims.clear();
            }
            KV_NEXT;
          }
          case Op::OnError: L_OnError:
            ClearError();
            switch (in.f) {
              case 0: fr->onError = 0; break;
              case 1: fr->onError = 1; break;
              case 2:
                fr->onError = 2;
                fr->handler = in.a;
                break;
              default: fr->inHandler = false; break;
            }
            KV_NEXT;
          case Op::Resume: L_Resume: {
            if (!fr->inHandler) Raise(err::kResumeWithoutError);
            fr->inHandler = false;
            ClearError();
            if (in.f == 0) ip = code + StatementStartPc(fn, fr->errPc);
            else if (in.f == 1) ip = code + NextStatementPc(fn, fr->errPc);
            else ip = code + in.a;
            KV_NEXT;
          }
          case Op::EndProgram: L_EndProgram: throw EndSignal{};
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

#undef RK
#undef KV_NEXT

void Thread::VisitValues(const std::function<void(Value&)>& fn) {
  if (frames_.empty()) return;
  const Frame& top = frames_.back();
  Value* end = top.base + top.fn->numRegs;
  for (Value* v = stack_.data(); v < end; ++v) fn(*v);
}

}  // namespace kv::orlan
