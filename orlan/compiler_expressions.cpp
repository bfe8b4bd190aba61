#include "orlan/compiler_internal.h"

#include "orlan/ops.h"
#include "orlan/runtime.h"

namespace kv::orlan::detail {

LV Compiler::VarPlace(const Var& v) {
  LV lv;
  lv.type = v.type;
  switch (v.kind) {
    case Var::Local: lv.kind = LV::Reg; lv.reg = v.index; break;
    case Var::ByRefParam: lv.kind = LV::RefReg; lv.reg = v.index; break;
    case Var::Global: lv.kind = LV::Global; lv.idx = v.index; break;
    case Var::Constant: Error("Assignment to constant not permitted");
  }
  return lv;
}

LV Compiler::LValue(bool forReDim, bool methodCall) {
  LV lv;
  if (AcceptOp(".")) {
    if (withStack_.empty()) Error("Invalid or unqualified reference");
    lv.kind = LV::Reg;
    lv.reg = withStack_.back().reg;
    lv.type = withStack_.back().type;
    std::string member = ExpectIdent();
    lv = MemberPlace(lv, member);
  } else {
    const Token& tk = Cur();
    std::string name = ExpectIdent();
    std::string k = Lower(name);
    const Var* v = FindVar(k);
    if (!v) {
      if (procs_.count(k) || FindLibFunc(k) >= 0) Error("Function call on left-hand side of assignment");
      throw Fail{tk.line, "Variable not defined: " + name};
    }
    lv = VarPlace(*v);
  }
  for (;;) {
    if (IsOp("(") && methodCall && lv.kind == LV::Member && !IsOp(t_[MatchParen(p_) + 1], ".") &&
        !IsOp(t_[MatchParen(p_) + 1], "!"))
      break;
    if (IsOp("(") && !forReDim) {
      ++p_;
      uint16_t arr = Materialize(lv);
      uint8_t n = 0;
      uint16_t base = IndexList(n);
      LV e;
      e.kind = LV::Index;
      e.reg = arr;
      e.idx = base;
      e.count = n;
      e.type = lv.type;
      e.type.isArray = false;
      lv = e;
      continue;
    }
    if (IsOp(".") || IsOp("!")) {
      ++p_;
      std::string member = ExpectIdent();
      lv = MemberPlace(lv, member);
      continue;
    }
    break;
  }
  (void)methodCall;
  return lv;
}

uint16_t Compiler::IndexList(uint8_t& n) {
  uint16_t base = freereg_;
  n = 0;
  do {
    Ex e = Expr();
    if (optimize_ && n == 0 && !e.isConst() && !IsOp(",")) {
      ExpectOp(")");
      n = 1;
      return e.rk;
    }
    // Index n belongs in base + n; a computed index may have landed above it.
    uint16_t r = static_cast<uint16_t>(base + n);
    if (e.isConst() || e.rk != r) {
      Free(e);
      while (freereg_ <= r) Alloc();
      Emit(Op::Move, r, e.rk);
    }
    freereg_ = r + 1;
    ++n;
  } while (AcceptOp(","));
  ExpectOp(")");
  return base;
}

bool Compiler::FoldIndexOffset(uint16_t index, uint16_t& reg, uint8_t& offset) {
  if (!optimize_ || Pc() == 0) return false;
  const Ins& last = Fn().code.back();
  if ((last.op != Op::AddLK && last.op != Op::SubLK) || last.a != index || last.a < nactive_ || (last.b & kConstBit)) return false;
  const Value& k = prog_.constants[last.c & 0x7FFF];
  if (k.tag != Tag::Long || k.i < -127 || k.i > 127) return false;
  reg = last.b;
  offset = static_cast<uint8_t>(static_cast<int8_t>(last.op == Op::AddLK ? k.i : -k.i));
  Fn().code.pop_back();
  return true;
}

size_t Compiler::MatchParen(size_t q) const {
  int depth = 0;
  for (; q + 1 < t_.size(); ++q) {
    if (t_[q].kind == Tok::Newline || t_[q].kind == Tok::End) return q > 0 ? q - 1 : q;
    if (IsOp(t_[q], "(")) ++depth;
    else if (IsOp(t_[q], ")") && --depth == 0) return q;
  }
  return q;
}

LV Compiler::MemberPlace(const LV& owner, const std::string& member) {
  uint16_t obj = Materialize(owner);
  LV lv;
  lv.reg = obj;
  if (IsOwnRecord(owner.type)) {
    const RecordDecl& rd = prog_.records[owner.type.record];
    for (size_t i = 0; i < rd.fields.size(); ++i) {
      if (EqualsNoCase(rd.fields[i].name, member)) {
        lv.kind = LV::Field;
        lv.idx = static_cast<uint16_t>(i);
        lv.type = TypeRef{rd.fields[i].type, static_cast<int16_t>(rd.fields[i].recordType), false};
        return lv;
      }
    }
    Error("Method or data member not found: " + member);
  }
  lv.kind = LV::Member;
  lv.idx = Const(Value::Str(member));
  lv.type = T(VarType::Variant);
  return lv;
}

uint16_t Compiler::Materialize(const LV& lv) {
  if (lv.kind == LV::Reg || lv.kind == LV::RefReg) return lv.reg;
  Ex e = Load(lv);
  return e.rk;
}

Ex Compiler::Load(const LV& lv) {
  switch (lv.kind) {
    case LV::Reg:
    case LV::RefReg: return Ex{lv.reg, lv.type, false};
    default: break;
  }
  uint16_t r = Alloc();
  switch (lv.kind) {
    case LV::Global: Emit(Op::LoadG, r, lv.idx); break;
    case LV::Index: {
      uint16_t j;
      uint8_t off;
      if (lv.count == 1 && FoldIndexOffset(lv.idx, j, off)) Emit(Op::IndexOff, r, lv.reg, j, off);
      else Emit(Op::Index, r, lv.reg, lv.idx, lv.count);
      break;
    }
    case LV::Field: Emit(Op::GetField, r, lv.reg, lv.idx); break;
    case LV::Member: Emit(Op::GetMember, r, lv.reg, lv.idx); break;
    default: break;
  }
  return Ex{r, lv.type, true};
}

void Compiler::MakeRef(const LV& lv, uint16_t slot) {
  switch (lv.kind) {
    case LV::Reg:
    case LV::RefReg: Emit(Op::MakeRef, slot, lv.reg); break;
    case LV::Global: Emit(Op::MakeRefG, slot, lv.idx); break;
    case LV::Index: Emit(Op::RefIndex, slot, lv.reg, lv.idx, lv.count); break;
    case LV::Field: Emit(Op::RefField, slot, lv.reg, lv.idx); break;
    case LV::Member: Emit(Op::RefMember, slot, lv.reg, lv.idx); break;
  }
}

Ex Compiler::Coerced(Ex e, const TypeRef& type) {
  if (type.isArray || type.vt == VarType::Variant || type.vt == VarType::Record || e.type == type) return e;
  if (type.vt == VarType::Object) return e;
  Free(e);
  uint16_t r = Alloc();
  Emit(Op::Cvt, r, e.rk, static_cast<uint16_t>(type.vt));
  return Ex{r, type, true};
}

bool Compiler::NeedsCopy(const TypeRef& source) const {
  return source.isArray || source.vt == VarType::Variant || source.vt == VarType::Record;
}

void Compiler::Store(const LV& lv, Ex e) {
  bool copy = NeedsCopy(e.type) && lv.type.vt != VarType::Object;
  switch (lv.kind) {
    case LV::Reg: {
      if (!lv.type.isArray && lv.type.vt != VarType::Variant && lv.type.vt != VarType::Record && lv.type.vt != VarType::Object &&
          e.type != lv.type) {
        Free(e);
        Emit(Op::Cvt, lv.reg, e.rk, static_cast<uint16_t>(lv.type.vt));
        return;
      }
      if (copy) {
        Free(e);
        Emit(Op::Copy, lv.reg, e.rk);
        return;
      }
      MoveTo(lv.reg, e);
      return;
    }
    case LV::RefReg: {
      Ex v = Coerced(e, lv.type);
      Emit(Op::SetRef, lv.reg, v.rk, 0, copy ? 1 : 0);
      return;
    }
    case LV::Global: {
      Ex v = Coerced(e, lv.type);
      Emit(Op::StoreG, lv.idx, v.rk, 0, copy ? 1 : 0);
      return;
    }
    case LV::Index: {
      uint16_t v = ToReg(e);
      uint16_t j;
      uint8_t off;
      if (lv.count == 1 && FoldIndexOffset(lv.idx, j, off)) Emit(Op::SetIndexOff, lv.reg, v, j, off);
      else Emit(Op::SetIndex, lv.reg, v, lv.idx, lv.count);
      return;
    }
    case LV::Field: Emit(Op::SetField, lv.reg, e.rk, lv.idx); return;
    case LV::Member: Emit(Op::SetMember, lv.reg, ToReg(e), lv.idx); return;
  }
}

void Compiler::MoveTo(uint16_t target, Ex e) {
  if (!e.isConst() && e.rk == target) return;
  if (optimize_ && e.temp && !e.isConst() && Pc() > 0 && e.rk + 1 == freereg_) {
    Ins& last = Fn().code.back();
    Op g = GenericOp(last.op);
    bool retargetable = (g >= Op::Add && g <= Op::Not) || last.op == Op::LoadG || last.op == Op::Index ||
                        last.op == Op::GetField || last.op == Op::GetMember || last.op == Op::Cvt || last.op == Op::Move ||
                        last.op == Op::Copy;
    bool isJumpTarget = false;
    for (const auto& [name, pc] : labels_)
      if (pc == Pc()) isJumpTarget = true;
    if (retargetable && last.a == e.rk && !isJumpTarget) {
      last.a = target;
      --freereg_;
      return;
    }
  }
  Free(e);
  Emit(Op::Move, target, e.rk);
}

uint16_t Compiler::ToReg(Ex e) {
  if (!e.isConst()) return e.rk;
  uint16_t r = Alloc();
  Emit(Op::Move, r, e.rk);
  return r;
}

Ex Compiler::Widen(Ex k, const TypeRef& other) {
  if (!optimize_ || !k.isConst() || other.isArray) return k;
  const Value& v = ConstValue(k);
  if (other.vt == VarType::Long && v.tag == Tag::Integer) return ConstEx(Value::Lng(v.i));
  if (other.vt == VarType::Double && (v.tag == Tag::Integer || v.tag == Tag::Long)) return ConstEx(Value::Dbl(v.i));
  return k;
}

Ex Compiler::Binary(Op op, Ex a, Ex b) {
  if (op != Op::Cat && op != Op::Like && op != Op::Is && !(a.isConst() && b.isConst())) {
    a = Widen(a, b.type);
    b = Widen(b, a.type);
  }
  TypeRef rt = ResultType(op, a.type, b.type);
  uint8_t f = (!IsVariantLike(a.type) && !IsVariantLike(b.type)) ? kStrict : 0;
  if (IsComparison(op)) f = CmpFlags(a.type, b.type);
  else if (op == Op::Like && prog_.compare == CompareMode::Text) f |= kTextCmp;
  if (optimize_ && a.isConst() && b.isConst() && op != Op::Is) {
    try {
      Value v = BinaryOp(op, ConstValue(a), ConstValue(b), f);
      return ConstEx(v);
    } catch (const ScriptError&) {
      // Left to run time, where it raises with the statement's line.
    }
  }
  Free(b);
  Free(a);
  uint16_t r = Alloc();
  if (optimize_ && a.type == b.type && !a.type.isArray && TypedOp(op, a.type.vt, false) != op) {
    bool commutes = op == Op::Add || op == Op::Mul || op == Op::And || op == Op::Or;
    if (commutes && a.isConst() && !b.isConst()) std::swap(a, b);
    if (!a.isConst()) op = TypedOp(op, a.type.vt, b.isConst());
  }
  Emit(op, r, a.rk, b.rk, f);
  return Ex{r, rt, true};
}

bool Compiler::AcceptWord(const char* w) {
  if (IsKw(w)) {
    ++p_;
    return true;
  }
  return false;
}

const std::vector<std::vector<Compiler::BinOpText>>& Compiler::Levels() {
  static const std::vector<std::vector<BinOpText>> kLevels = {
      {{"imp", Op::Imp}},
      {{"eqv", Op::Eqv}},
      {{"xor", Op::Xor}},
      {{"or", Op::Or}},
      {{"and", Op::And}},
      {},  // Not
      {{"=", Op::Eq}, {"<>", Op::Ne}, {"<", Op::Lt}, {"<=", Op::Le}, {">", Op::Gt}, {">=", Op::Ge}, {"like", Op::Like}, {"is", Op::Is}},
      {{"&", Op::Cat}},
      {{"+", Op::Add}, {"-", Op::Sub}},
      {{"mod", Op::Mod}},
      {{"\\", Op::IDiv}},
      {{"*", Op::Mul}, {"/", Op::Div}},
      {},  // unary minus
      {{"^", Op::Pow}},
  };
  return kLevels;
}

std::optional<Op> Compiler::MatchOp(int level) const {
  const Token& tk = Cur();
  for (const auto& [text, op] : Levels()[level]) {
    if (tk.kind == Tok::Op && tk.text == text) return op;
    if (tk.kind == Tok::Ident && EqualsNoCase(tk.text, text)) return op;
  }
  return std::nullopt;
}

Ex Compiler::Level(int level) {
  Nest nest(*this, exprDepth_, kMaxExpressionDepth, "Expression too complex");
  if (level == kNotLevel) {
    if (AcceptWord("Not")) return Unary(Op::Not, Level(level));
    return Level(level + 1);
  }
  if (level == kNegLevel) {
    if (AcceptOp("-")) return Unary(Op::Neg, Level(level));
    if (AcceptOp("+")) return Level(level);
    return Level(level + 1);
  }
  if (level == kPowLevel) {
    Ex a = Primary();
    while (AcceptOp("^")) {
      // "2 ^ -1" takes a negated operand.
      Ex b = AcceptOp("-") ? Unary(Op::Neg, Primary()) : Primary();
      a = Binary(Op::Pow, a, b);
    }
    return a;
  }
  Ex a = Level(level + 1);
  while (auto op = MatchOp(level)) {
    ++p_;
    a = Binary(*op, a, Level(level + 1));
  }
  return a;
}

Ex Compiler::Unary(Op op, Ex a) {
  if (optimize_ && a.isConst()) {
    try {
      return ConstEx(UnaryOp(op, ConstValue(a)));
    } catch (const ScriptError&) {
      // Raised at run time instead.
    }
  }
  TypeRef rt = ResultType(op, a.type, a.type);
  Free(a);
  uint16_t r = Alloc();
  Emit(op, r, a.rk);
  return Ex{r, rt, true};
}

Ex Compiler::Primary() {
  const Token& tk = Cur();
  switch (tk.kind) {
    case Tok::Integer:
    case Tok::Float: ++p_; return ConstEx(NumberValue(tk));
    case Tok::String: ++p_; return ConstEx(Value::Str(tk.text));
    case Tok::Date: ++p_; return ConstEx(Value::DateValue(tk.number));
    case Tok::Op:
      if (tk.text == "(") {
        ++p_;
        Ex e = Expr();
        ExpectOp(")");
        return e;
      }
      if (tk.text == ".") return Postfix(WithMember());
      Error("Expected: expression");
    case Tok::Ident: break;
    default: Error("Expected: expression");
  }
  std::string k = Lower(tk.text);
  if (k == "true") { ++p_; return ConstEx(Value::Bool(true)); }
  if (k == "false") { ++p_; return ConstEx(Value::Bool(false)); }
  if (k == "nothing" || k == "empty" || k == "null") {
    ++p_;
    uint16_t r = Alloc();
    Emit(Op::LoadEmpty, r, 0, 0, k == "nothing" ? 1 : k == "null" ? 3 : 0);
    return Ex{r, T(k == "nothing" ? VarType::Object : VarType::Variant), true};
  }
  if (k == "new") {
    ++p_;
    std::string cls = ExpectIdent();
    uint16_t r = Alloc();
    Emit(Op::NewObject, r, Const(Value::Str(cls)));
    return Ex{r, T(VarType::Object), true};
  }
  // "x & Not b", "a = Not b": an operand may begin with Not, which takes
  // what follows at its own precedence.
  if (k == "not") {
    ++p_;
    return Unary(Op::Not, Level(kNotLevel));
  }
  if (k == "err") return Postfix(ErrMember(false));
  if (k == "me" || k == "typeof" || k == "addressof") Error(tk.text + " is not supported");
  if (IsKeyword(tk.text) && k != "mid") Error("Expected: expression");
  return Postfix(NameExpr());
}

Ex Compiler::WithMember() {
  ++p_;
  if (withStack_.empty()) Error("Invalid or unqualified reference");
  LV owner;
  owner.kind = LV::Reg;
  owner.reg = withStack_.back().reg;
  owner.type = withStack_.back().type;
  std::string member = ExpectIdent();
  LV lv = MemberPlace(owner, member);
  if (lv.kind == LV::Member && IsOp("(")) return MethodCall(lv);
  return Load(lv);
}

Ex Compiler::MethodCall(const LV& lv) {
  uint16_t base = Alloc();
  Emit(Op::Move, base, lv.reg);
  ExpectOp("(");
  uint8_t n = ArgList(")", base);
  ExpectOp(")");
  Emit(Op::CallMethod, base, lv.idx, 0, n);
  freereg_ = base + 1;
  return Ex{base, T(VarType::Variant), true};
}

Ex Compiler::Postfix(Ex e) {
  for (;;) {
    if (IsOp(".") || IsOp("!")) {
      ++p_;
      std::string member = ExpectIdent();
      LV owner;
      owner.kind = LV::Reg;
      owner.reg = ToReg(e);
      owner.type = e.type;
      LV lv = MemberPlace(owner, member);
      if (lv.kind == LV::Member && IsOp("(")) e = MethodCall(lv);
      else e = Load(lv);
      continue;
    }
    if (IsOp("(") && (e.type.isArray || e.type.vt == VarType::Variant || e.type.vt == VarType::Object) && !e.isConst()) {
      ++p_;
      uint16_t arr = e.rk;
      uint16_t mark = freereg_;
      uint8_t n = 0;
      uint16_t base = IndexList(n);
      freereg_ = mark;
      Free(e);
      uint16_t r = Alloc();
      uint16_t j;
      uint8_t off;
      if (n == 1 && FoldIndexOffset(base, j, off)) Emit(Op::IndexOff, r, arr, j, off);
      else Emit(Op::Index, r, arr, base, n);
      TypeRef t = e.type;
      t.isArray = false;
      e = Ex{r, t, true};
      continue;
    }
    return e;
  }
}

Ex Compiler::ErrMember(bool statement) {
  ++p_;
  std::string member = "number";
  if (AcceptOp(".")) member = Lower(ExpectIdent());
  const char* fn = nullptr;
  if (member == "number") fn = "$errnumber";
  else if (member == "description") fn = "$errdescription";
  else if (member == "source") fn = "$errsource";
  else if (member == "raise") fn = "$errraise";
  else if (member == "clear") fn = "$errclear";
  else Error("Method or data member not found: " + member);
  bool isCall = member == "raise" || member == "clear";
  if (isCall != statement && member == "raise") Error("Expected: expression");
  uint16_t base = Alloc();
  uint8_t n = 0;
  if (member == "raise") {
    bool paren = AcceptOp("(");
    n = ArgList(paren ? ")" : nullptr, base);
    if (paren) ExpectOp(")");
    if (n < 1) Error("Argument not optional");
  }
  Emit(Op::CallLib, static_cast<uint16_t>(FindLibFunc(fn)), base, n);
  freereg_ = base + 1;
  return Ex{base, T(member == "number" ? VarType::Long : VarType::String), true};
}

Ex Compiler::NameExpr() {
  const Token& tk = Cur();
  std::string name = tk.text;
  std::string k = Lower(name);
  // Date$ and Time$ are functions of their own (they answer text); other
  // "$" forms are the plain function.
  if (tk.suffix == '$' && FindLibFunc(k + "$") >= 0) k += "$";
  const Var* v = FindVar(k);
  if (!v) {
    if (auto member = EnumMember()) return ConstEx(Value::Lng(*member));
  }
  ++p_;
  bool paren = IsOp("(");
  bool isSelf = proc_ && proc_->isFunction && Lower(proc_->name) == k;
  if (v && !(isSelf && paren)) {
    if (v->kind == Var::Constant) return ConstEx(v->constant);
    // "arr()" names the whole array.
    if (paren && v->type.isArray && IsOp(Peek(), ")")) p_ += 2;
    return Load(VarPlace(*v));
  }
  if (paren) {
    ++p_;
    Ex e = CallByName(name, k, true, false);
    ExpectOp(")");
    return e;
  }
  if (procs_.count(k) || FindLibFunc(k) >= 0) {
    // Without parentheses a function call takes no arguments here.
    return CallByNameNoArgs(name, k);
  }
  // An unknown name: a host function without arguments, resolved at load.
  uint16_t base = Alloc();
  Emit(Op::CallHost, static_cast<uint16_t>(ImportIndex(name)), base, 0);
  return Ex{base, T(VarType::Variant), true};
}

Ex Compiler::CallByNameNoArgs(const std::string& name, const std::string& k) {
  auto pit = procs_.find(k);
  uint16_t base = Alloc();
  if (pit != procs_.end()) {
    if (!pit->second.isFunction) Error("Expected: function or variable");
    for (const auto& pi : pit->second.params)
      if (!pi.optional) Error("Argument not optional");
    Emit(Op::Call, static_cast<uint16_t>(pit->second.index), base, 0);
    return Ex{base, pit->second.result, true};
  }
  const LibFunc& f = GetLibFunc(FindLibFunc(k));
  if (f.minArgs > 0 || k[0] == '$') Error("Argument not optional: " + name);
  Emit(Op::CallLib, static_cast<uint16_t>(FindLibFunc(k)), base, 0);
  return Ex{base, T(f.result), true};
}

}  // namespace kv::orlan::detail
