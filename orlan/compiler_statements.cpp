#include "orlan/compiler_internal.h"

#include <cmath>

#include "orlan/ops.h"
#include "orlan/runtime.h"

namespace kv::orlan::detail {

bool Compiler::AtBlockEnd(const std::vector<const char*>& enders) const {
  for (const char* e : enders) {
    std::string s = e;
    size_t sp = s.find(' ');
    if (sp == std::string::npos) {
      if (IsKw(s.c_str())) return true;
    } else {
      if (IsKw(s.substr(0, sp).c_str()) && IsKw(Peek(), s.substr(sp + 1).c_str())) return true;
    }
  }
  return false;
}

std::string Compiler::Expected(const std::vector<const char*>& enders) {
  std::string s = enders.back();
  bool up = true;
  for (char& c : s) {
    if (up) c = ToUpper1252(c);
    up = c == ' ';
  }
  return "Expected: " + s;
}

void Compiler::Block(const std::vector<const char*>& enders) {
  for (;;) {
    if (nextContinues_) {
      if (std::string_view(enders.back()) == "next") return;
      nextContinues_ = false;
      Error("Next without For");
    }
    SkipSeparators();
    if (AtBlockEnd(enders)) return;
    if (Cur().kind == Tok::End || (IsKw("End") && (IsKw(Peek(), "Sub") || IsKw(Peek(), "Function")))) {
      // Only the innermost open block reports; the ones around it end here quietly.
      if (p_ == unclosedAt_) throw Fail{Cur().line, ""};
      unclosedAt_ = p_;
      Error(Expected(enders));
    }
    size_t start = p_;
    try {
      LabelAndStatement();
    } catch (const Fail& f) {
      Recover(f, start);
    } catch (const ScriptError& e) {
      Recover(Fail{Cur().line, e.description}, start);
    }
  }
}

void Compiler::Recover(const Fail& f, size_t start) {
  Report(f);
  nextContinues_ = false;
  if (p_ == start) ++p_;
  // A block left open at "End Sub" was reported; the procedure still ends there.
  if (!(IsKw("End") && (IsKw(Peek(), "Sub") || IsKw(Peek(), "Function")))) SkipLine();
  freereg_ = nactive_;
}

void Compiler::LabelAndStatement() {
  const Token& tk = Cur();
  bool lineStart = p_ == 0 || t_[p_ - 1].kind == Tok::Newline;
  // Labels have a name space of their own: "err:" is a label like any other;
  // only the statement words cannot be one.
  bool labelName = !IsKeyword(tk.text) || EqualsNoCase(tk.text, "err") || EqualsNoCase(tk.text, "mid");
  if ((tk.kind == Tok::Ident && lineStart && Peek().kind == Tok::Colon && labelName) ||
      (tk.kind == Tok::Integer && lineStart)) {
    std::string name = tk.kind == Tok::Integer ? LineLabel(tk) : Lower(tk.text);
    if (labels_.count(name)) Error("Duplicate label: " + tk.text);
    labels_[name] = Pc();
    AddLine(tk.line);
    if (tk.kind == Tok::Integer) {
      auto number = static_cast<uint32_t>(tk.number);
      Emit(Op::SetErl, static_cast<uint16_t>(number), static_cast<uint16_t>(number >> 16));
    }
    ++p_;
    if (Cur().kind == Tok::Colon) ++p_;
    return;
  }
  Statement();
}

void Compiler::Statement() {
  Nest nest(*this, blockDepth_, kMaxBlockDepth, "Nesting too deep", true);
  AddLine(Cur().line);
  freereg_ = nactive_;
  const Token& tk = Cur();
  if (tk.kind == Tok::Op && tk.text == ".") {
    IdentStatement();
  } else if (tk.kind != Tok::Ident) {
    Error("Syntax error");
  } else {
    std::string k = Lower(tk.text);
    if (k == "dim" || k == "static") SkipDeclaration();  // declared when the procedure began
    else if (k == "const") { ++p_; ConstDecl(false); }
    else if (k == "redim") { ++p_; ReDimStatement(); }
    else if (k == "if") IfStatement();
    else if (k == "select") SelectStatement();
    else if (k == "for") ForStatement();
    else if (k == "do") DoStatement();
    else if (k == "while") WhileStatement();
    else if (k == "exit") ExitStatement();
    else if (k == "goto") { ++p_; GotoStatement(); }
    else if (k == "on") OnStatement();
    else if (k == "resume") ResumeStatement();
    else if (k == "set") { ++p_; Assignment(true); }
    else if (k == "let") { ++p_; Assignment(false); }
    else if (k == "call") { ++p_; CallStatement(true); }
    else if (k == "with") WithStatement();
    else if (k == "erase") EraseStatement();
    else if (k == "end" || k == "stop") {
      ++p_;
      if (!AtStatementEnd()) Error("Syntax error");
      Emit(Op::EndProgram);
    } else if (k == "gosub") {
      ++p_;
      uint32_t line = Cur().line;
      std::string name = LabelName();
      gotos_.push_back({Emit(Op::GoSub), name, line, false});
    } else if (k == "return") {
      ++p_;
      Emit(Op::Return);
    }
    else if (k == "loop") Error("Loop without Do");
    else if (k == "next") Error("Next without For");
    else if (k == "wend") Error("Wend without While");
    else if (k == "else" || k == "elseif") Error("Else without If");
    else if (k == "case") Error("Case without Select Case");
    else if (k == "sub" || k == "function" || k == "option" || k == "type" || k == "declare" || k == "public" || k == "private")
      Error("Invalid inside procedure");
    else if ((k == "mid" || k == "mid$") && IsOp(Peek(), "(") && IsMidAssignment()) MidStatement();
    else if (k == "debug" && IsOp(Peek(), ".")) DebugPrint();
    else if (k == "print" && pendingPrint_ != kNoRegister) PrintStatement();
    else IdentStatement();
  }
  freereg_ = nactive_;
  if (!AtStatementEnd() && !nextContinues_) Error("Expected: end of statement");
}

void Compiler::DimStatement(bool isStatic) {
  do {
    AcceptKw("WithEvents");
    std::string name = Cur().text;
    char suffix = Cur().suffix;
    ExpectIdent();
    bool isArray = false;
    std::vector<ArrayObj::Dim> dims;
    if (AcceptOp("(")) {
      isArray = true;
      size_t open = p_ - 1;
      try {
        if (!AcceptOp(")")) dims = ParseBounds();
      } catch (const Fail& f) {
        // The name is still declared, so its uses report nothing further.
        Report(f);
        p_ = MatchParen(open) + 1;
      }
    }
    TypeRef t = ParseAsClause(suffix);
    t.isArray = isArray;
    std::string k = Lower(name);
    if (locals_.count(k)) Error("Duplicate declaration in current scope: " + name);
    Var v;
    v.type = t;
    if (!WithinArrayLimit(dims)) {
      // Module and Static arrays exist from load on, so they are refused here;
      // a local one raises error 7 at its Dim when the procedure starts.
      if (isStatic) Error(ErrorText(err::kOutOfMemory));
      if (oversized_.dims.empty()) oversized_ = {Cur().line, static_cast<uint16_t>(0), dims};
      dims.clear();
      v.type.isArray = true;
    }
    if (isStatic) {
      GlobalInfo g;
      g.name = proc_->name + "." + name;
      g.type = t;
      g.dims = dims;
      v.kind = Var::Global;
      v.index = static_cast<uint16_t>(prog_.globals.size());
      prog_.globals.push_back(g);
    } else {
      v.kind = Var::Local;
      v.index = Hidden();
      AddInit(v.index, t, dims);
      if (!oversized_.dims.empty() && oversized_.slot == 0) oversized_.slot = v.index;
    }
    locals_[k] = v;
  } while (AcceptOp(","));
}

void Compiler::ReDimStatement() {
  uint8_t preserve = AcceptKw("Preserve") ? 1 : 0;
  do {
    uint16_t target = Alloc();
    LV lv = LValue(true);
    MakeRef(lv, target);
    ExpectOp("(");
    std::vector<std::pair<Ex, Ex>> bounds;
    uint16_t base = freereg_;
    uint16_t count = 0;
    do {
      uint16_t lo = Alloc(), hi = Alloc();
      Ex a = Expr();
      if (AcceptKw("To")) {
        MoveTo(lo, a);
        MoveTo(hi, Expr());
      } else {
        MoveTo(hi, a);
        Emit(Op::Move, lo, Const(Value::Int(prog_.optionBase)));
      }
      freereg_ = hi + 1;
      ++count;
    } while (AcceptOp(","));
    ExpectOp(")");
    if (AcceptKw("As")) ParseTypeName();
    Emit(Op::ReDim, target, base, count, preserve);
    freereg_ = target;
  } while (AcceptOp(","));
}

void Compiler::EraseStatement() {
  ++p_;
  do {
    uint16_t target = Alloc();
    LV lv = LValue(false);
    MakeRef(lv, target);
    Emit(Op::Erase, target);
    freereg_ = target;
  } while (AcceptOp(","));
}

size_t Compiler::CondJumpIfFalse() {
  size_t mark = Pc();
  uint16_t mark_free = freereg_;
  Ex e = Expr();
  // Fuse a trailing comparison into the jump.
  if (optimize_ && e.temp && Pc() > mark) {
    Ins& last = Fn().code.back();
    if (IsComparison(last.op) && last.a == e.rk) {
      uint8_t cmp = static_cast<uint8_t>(static_cast<int>(last.op) - static_cast<int>(Op::Eq));
      uint8_t f = cmp | JumpFlagsOf(last.f);
      uint16_t b = last.b, c = last.c;
      Fn().code.pop_back();
      freereg_ = mark_free;
      return Emit(static_cast<Op>(static_cast<int>(Op::JmpCmpEq) + cmp), 0, b, c, f);
    }
  }
  Free(e);
  return Emit(Op::JmpIfNot, 0, e.rk);
}

void Compiler::IfStatement() {
  ++p_;
  size_t jf = CondJumpIfFalse();
  ExpectKw("Then");
  freereg_ = nactive_;
  if (!(Cur().kind == Tok::Newline || Cur().kind == Tok::End)) {
    // Single-line If: statements up to Else or the end of the line.
    ++singleIf_;
    SingleLineStatements();
    if (AcceptKw("Else")) {
      size_t jend = Emit(Op::Jmp);
      PatchA(jf, Pc());
      SingleLineStatements();
      PatchA(jend, Pc());
    } else {
      PatchA(jf, Pc());
    }
    --singleIf_;
    return;
  }
  std::vector<size_t> ends;
  Block({"elseif", "else", "end if"});
  for (;;) {
    if (AcceptKw("ElseIf")) {
      ends.push_back(Emit(Op::Jmp));
      PatchA(jf, Pc());
      AddLine(Cur().line);
      jf = CondJumpIfFalse();
      ExpectKw("Then");
      Block({"elseif", "else", "end if"});
      continue;
    }
    if (AcceptKw("Else")) {
      ends.push_back(Emit(Op::Jmp));
      PatchA(jf, Pc());
      jf = SIZE_MAX;
      Block({"end if"});
      continue;
    }
    break;
  }
  ExpectKw("End");
  ExpectKw("If");
  if (jf != SIZE_MAX) PatchA(jf, Pc());
  for (size_t j : ends) PatchA(j, Pc());
}

void Compiler::SingleLineStatements() {
  // "Then: x" and "Else: y": a colon may open the statements.
  while (Cur().kind == Tok::Colon) ++p_;
  if (Cur().kind == Tok::Newline || Cur().kind == Tok::End || IsKw("Else")) return;
  for (;;) {
    if (Cur().kind == Tok::Integer) {
      // "If x Then 100" jumps to line label 100.
      std::string name = LineLabel(Cur());
      ++p_;
      gotos_.push_back({Emit(Op::Jmp), name, Cur().line, false});
    } else {
      Statement();
    }
    if (Cur().kind == Tok::Colon) {
      ++p_;
      if (Cur().kind == Tok::Newline || Cur().kind == Tok::End || IsKw("Else")) return;
      continue;
    }
    return;
  }
}

void Compiler::SelectStatement() {
  ++p_;
  ExpectKw("Case");
  uint16_t s = BlockRegisters(1);
  Ex e = Expr();
  TypeRef st = e.type;
  MoveTo(s, e);
  std::vector<size_t> ends;
  SkipSeparators();
  size_t nextCase = SIZE_MAX;
  while (AcceptKw("Case")) {
    if (nextCase != SIZE_MAX) PatchA(nextCase, Pc());
    nextCase = SIZE_MAX;
    AddLine(Cur().line);
    if (AcceptKw("Else")) {
      Block({"end select"});
      break;
    }
    std::vector<size_t> toBody;
    do {
      freereg_ = nactive_;
      uint16_t r = Alloc();
      if (AcceptKw("Is")) {
        static const std::map<std::string, Op> kCmp = {{"=", Op::Eq}, {"<>", Op::Ne}, {"<", Op::Lt}, {"<=", Op::Le}, {">", Op::Gt}, {">=", Op::Ge}};
        auto it = Cur().kind == Tok::Op ? kCmp.find(Cur().text) : kCmp.end();
        if (it == kCmp.end()) Error("Expected: comparison operator");
        ++p_;
        Ex v = Expr();
        Emit(it->second, r, s, v.rk, CmpFlags(st, v.type));
      } else {
        Ex lo = Expr();
        if (AcceptKw("To")) {
          uint16_t lor = ToReg(lo);
          Ex hi = Expr();
          uint16_t r2 = Alloc();
          Emit(Op::Ge, r, s, lor, CmpFlags(st, lo.type));
          Emit(Op::Le, r2, s, hi.rk, CmpFlags(st, hi.type));
          Emit(Op::And, r, r, r2);
        } else {
          Emit(Op::Eq, r, s, lo.rk, CmpFlags(st, lo.type));
        }
      }
      toBody.push_back(Emit(Op::JmpIf, 0, r));
    } while (AcceptOp(","));
    freereg_ = nactive_;
    nextCase = Emit(Op::Jmp);
    for (size_t j : toBody) PatchA(j, Pc());
    Block({"case", "end select"});
    ends.push_back(Emit(Op::Jmp));
  }
  if (nextCase != SIZE_MAX) PatchA(nextCase, Pc());
  ExpectKw("End");
  ExpectKw("Select");
  for (size_t j : ends) PatchA(j, Pc());
  Emit(Op::LoadEmpty, s);
}

uint8_t Compiler::CmpFlags(const TypeRef& a, const TypeRef& b) const {
  uint8_t f = prog_.compare == CompareMode::Text ? kTextCmp : 0;
  if (!IsVariantLike(a)) f |= kTypedLeft;
  if (!IsVariantLike(b)) f |= kTypedRight;
  if ((f & kTypedLeft) && (f & kTypedRight)) f |= kStrict;
  return f;
}

void Compiler::ForStatement() {
  ++p_;
  if (AcceptKw("Each")) {
    ForEach();
    return;
  }
  LV lv = LValue(false);
  if (lv.kind == LV::Index || lv.kind == LV::Member || lv.kind == LV::Field) Error("For counter must be a variable");
  ExpectOp("=");
  bool direct = lv.kind == LV::Reg;
  uint16_t counter = direct ? lv.reg : Hidden();
  uint16_t limit = BlockRegisters(2);  // the step follows the limit
  Ex start = Expr();
  if (direct) Store(lv, start);
  else MoveTo(counter, Coerced(start, lv.type));
  ExpectKw("To");
  MoveTo(limit, Expr());
  bool stepOne = !AcceptKw("Step");
  if (!stepOne) MoveTo(limit + 1, Expr());
  else Emit(Op::Move, limit + 1, Const(Value::Int(1)));
  uint8_t vt = static_cast<uint8_t>(std::min<int>(static_cast<int>(lv.type.vt), 255));
  size_t prep = Emit(Op::ForPrep, counter, limit, 0, vt);
  size_t top = Pc();
  if (!direct) StoreFromReg(lv, counter);
  loops_.push_back({LoopCtx::For, {}});
  Block({"next"});
  ExpectNext();
  if (!direct) {
    Ex cur = Load(lv);
    MoveTo(counter, cur);
  }
  Emit(optimize_ && stepOne ? Op::ForInc : Op::ForLoop, counter, limit, static_cast<uint16_t>(top), vt);
  PatchC(prep, Pc());
  for (size_t j : loops_.back().exits) PatchA(j, Pc());
  loops_.pop_back();
}

void Compiler::ExpectNext() {
  // After "Next j," the enclosing loop's counter follows the comma.
  if (nextContinues_) nextContinues_ = false;
  else ExpectKw("Next");
  AddLine(t_[p_ - 1].line);
  if (Cur().kind != Tok::Ident) return;
  ExpectIdent();
  if (!AcceptOp(",")) return;
  if (Cur().kind != Tok::Ident) Error("Expected: identifier");
  nextContinues_ = true;
}

void Compiler::ForEach() {
  LV lv = LValue(false);
  ExpectKw("In");
  uint16_t state = BlockRegisters(3);
  uint16_t elem = static_cast<uint16_t>(state + 2);
  Ex src = Expr();
  size_t prep = Emit(Op::EachPrep, state, src.rk, 0);
  size_t top = Pc();
  size_t next = Emit(Op::EachNext, state, elem, 0);
  freereg_ = nactive_;
  StoreFromReg(lv, elem);
  loops_.push_back({LoopCtx::For, {}});
  Block({"next"});
  ExpectNext();
  Emit(Op::Jmp, static_cast<uint16_t>(top));
  PatchC(prep, Pc());
  PatchC(next, Pc());
  for (size_t j : loops_.back().exits) PatchA(j, Pc());
  loops_.pop_back();
  Emit(Op::LoadEmpty, state);
}

void Compiler::DoStatement() {
  ++p_;
  size_t top = Pc();
  size_t exitJump = SIZE_MAX;
  if (AcceptKw("While")) {
    exitJump = CondJumpIfFalse();
  } else if (AcceptKw("Until")) {
    Ex e = Expr();
    Free(e);
    exitJump = Emit(Op::JmpIf, 0, e.rk);
  }
  freereg_ = nactive_;
  loops_.push_back({LoopCtx::Do, {}});
  Block({"loop"});
  ExpectKw("Loop");
  AddLine(t_[p_ - 1].line);
  if (AcceptKw("While")) {
    if (exitJump != SIZE_MAX) Error("Loop condition given twice");
    Ex e = Expr();
    Free(e);
    Emit(Op::JmpIf, static_cast<uint16_t>(top), e.rk);
  } else if (AcceptKw("Until")) {
    if (exitJump != SIZE_MAX) Error("Loop condition given twice");
    size_t j = CondJumpIfFalse();
    PatchA(j, top);
  } else {
    Emit(Op::Jmp, static_cast<uint16_t>(top));
  }
  if (exitJump != SIZE_MAX) PatchA(exitJump, Pc());
  for (size_t j : loops_.back().exits) PatchA(j, Pc());
  loops_.pop_back();
}

void Compiler::WhileStatement() {
  ++p_;
  size_t top = Pc();
  size_t exitJump = CondJumpIfFalse();
  freereg_ = nactive_;
  loops_.push_back({LoopCtx::While, {}});
  Block({"wend"});
  ExpectKw("Wend");
  AddLine(t_[p_ - 1].line);
  Emit(Op::Jmp, static_cast<uint16_t>(top));
  PatchA(exitJump, Pc());
  loops_.pop_back();
}

void Compiler::ExitStatement() {
  ++p_;
  if (AcceptKw("Sub") || AcceptKw("Function")) {
    EmitReturn();
    return;
  }
  LoopCtx::Kind kind;
  if (AcceptKw("For")) kind = LoopCtx::For;
  else if (AcceptKw("Do")) kind = LoopCtx::Do;
  else Error("Expected: Sub, Function, For or Do");
  for (auto it = loops_.rbegin(); it != loops_.rend(); ++it) {
    if (it->kind == kind) {
      it->exits.push_back(Emit(Op::Jmp));
      return;
    }
  }
  Error(kind == LoopCtx::For ? "Exit For not within For...Next" : "Exit Do not within Do...Loop");
}

std::string Compiler::LineLabel(const Token& tk) const {
  if (!(tk.number >= 0 && tk.number <= 2147483647.0) || tk.number != std::floor(tk.number))
    throw Fail{tk.line, "Invalid line number"};
  return std::to_string(static_cast<long long>(tk.number));
}

std::string Compiler::LabelName() {
  const Token& tk = Cur();
  if (tk.kind == Tok::Integer) {
    ++p_;
    return LineLabel(tk);
  }
  return Lower(ExpectIdent());
}

void Compiler::GotoStatement() {
  uint32_t line = Cur().line;
  std::string name = LabelName();
  gotos_.push_back({Emit(Op::Jmp), name, line, false});
}

void Compiler::OnStatement() {
  ++p_;
  AcceptKw("Local");
  ExpectKw("Error");
  if (AcceptKw("Resume")) {
    ExpectKw("Next");
    Emit(Op::OnError, 0, 0, 0, 1);
    return;
  }
  ExpectKw("GoTo");
  if (Cur().kind == Tok::Integer && Cur().number == 0) {
    ++p_;
    Emit(Op::OnError, 0, 0, 0, 0);
    return;
  }
  if (AcceptOp("-")) {
    if (Cur().kind != Tok::Integer || Cur().number != 1) Error("Syntax error");
    ++p_;
    Emit(Op::OnError, 0, 0, 0, 3);
    return;
  }
  uint32_t line = Cur().line;
  std::string name = LabelName();
  gotos_.push_back({Emit(Op::OnError, 0, 0, 0, 2), name, line, true});
}

void Compiler::ResumeStatement() {
  ++p_;
  if (AcceptKw("Next")) {
    Emit(Op::Resume, 0, 0, 0, 1);
  } else if (AtStatementEnd() || (Cur().kind == Tok::Integer && Cur().number == 0)) {
    if (!AtStatementEnd()) ++p_;
    Emit(Op::Resume, 0, 0, 0, 0);
  } else {
    uint32_t line = Cur().line;
    std::string name = LabelName();
    gotos_.push_back({Emit(Op::Resume, 0, 0, 0, 2), name, line, true});
  }
}

void Compiler::WithStatement() {
  ++p_;
  uint16_t r = BlockRegisters(1);
  Ex e = Expr();
  TypeRef t = e.type;
  MoveTo(r, e);
  withStack_.push_back({r, t});
  Block({"end with"});
  ExpectKw("End");
  ExpectKw("With");
  withStack_.pop_back();
  Emit(Op::LoadEmpty, r);
}

bool Compiler::IsMidAssignment() {
  size_t q = p_ + 1;
  int depth = 0;
  for (; q < t_.size(); ++q) {
    if (t_[q].kind == Tok::Newline || t_[q].kind == Tok::End) return false;
    if (IsOp(t_[q], "(")) ++depth;
    else if (IsOp(t_[q], ")") && --depth == 0) break;
  }
  return q + 1 < t_.size() && IsOp(t_[q + 1], "=");
}

void Compiler::MidStatement() {
  ++p_;
  ExpectOp("(");
  uint16_t base = Alloc();
  uint16_t ref = Alloc();
  LV lv = LValue(false);
  MakeRef(lv, ref);
  ExpectOp(",");
  freereg_ = ref + 1;
  uint16_t startR = Alloc();
  MoveTo(startR, Expr());
  freereg_ = startR + 1;
  uint16_t lenR = Alloc();
  if (AcceptOp(",")) MoveTo(lenR, Expr());
  else Emit(Op::LoadEmpty, lenR, 0, 0, 2);
  freereg_ = lenR + 1;
  ExpectOp(")");
  ExpectOp("=");
  uint16_t valR = Alloc();
  MoveTo(valR, Expr());
  Emit(Op::CallLib, static_cast<uint16_t>(FindLibFunc("$midset")), base, 4);
}

bool Compiler::PrintItems(uint16_t text) {
  bool open = false;
  while (!AtStatementEnd()) {
    open = true;
    if (AcceptOp(";")) continue;
    if (AcceptOp(",")) {
      Emit(Op::Cat, text, text, Const(Value::Str("\t")));
      continue;
    }
    Ex e = Expr();
    Free(e);
    Emit(Op::Cat, text, text, e.rk);
    open = false;
  }
  return open;
}

void Compiler::DebugPrint() {
  p_ += 2;
  if (!IsKw("Print")) Error("Expected: Print");
  ++p_;
  uint16_t base = Alloc();
  uint16_t text = Alloc();
  Emit(Op::Move, text, Const(Value::Str("")));
  PrintItems(text);
  Emit(Op::CallLib, static_cast<uint16_t>(FindLibFunc("$debugprint")), base, 1);
}

void Compiler::PrintStatement() {
  ++p_;
  if (PrintItems(pendingPrint_)) return;  // a trailing ; or , keeps the line open
  CallPrint();
}

void Compiler::CallPrint() {
  uint16_t base = Alloc();
  uint16_t slot = Alloc();
  Emit(Op::Move, slot, pendingPrint_);
  Emit(Op::Move, pendingPrint_, Const(Value::Str("")));
  auto pit = procs_.find("print");
  if (pit == procs_.end()) {
    Emit(Op::CallHost, static_cast<uint16_t>(ImportIndex("Print")), base, 1);
  } else {
    if (pit->second.params.empty()) Error("Wrong number of arguments");
    Emit(Op::Call, static_cast<uint16_t>(pit->second.index), base, 1);
  }
  freereg_ = base;
}

void Compiler::EmitReturn() {
  if (pendingPrint_ != kNoRegister) {
    // A line left open by "Print x;" is written when the procedure returns.
    uint16_t open = Alloc();
    Emit(Op::Ne, open, pendingPrint_, Const(Value::Str("")));
    size_t skip = Emit(Op::JmpIfNot, 0, open);
    CallPrint();
    PatchA(skip, Pc());
    freereg_ = open;
  }
  Emit(Op::Ret);
}

void Compiler::IdentStatement() {
  if (LooksLikeAssignment()) {
    Assignment(false);
    return;
  }
  CallStatement(false);
}

bool Compiler::LooksLikeAssignment() const {
  size_t q = p_;
  if (IsOp(t_[q], ".")) ++q;
  if (t_[q].kind != Tok::Ident) return false;
  // "Print (a) = b" calls Print with a comparison: only a variable takes an
  // indexed assignment.
  if (q == p_ && IsOp(t_[q + 1], "(") && !FindVar(Lower(t_[q].text))) return false;
  ++q;
  int depth = 0;
  for (; q < t_.size(); ++q) {
    const Token& tk = t_[q];
    if (tk.kind == Tok::Newline || tk.kind == Tok::Colon || tk.kind == Tok::End) return false;
    if (IsOp(tk, "(")) {
      ++depth;
      continue;
    }
    if (IsOp(tk, ")")) {
      --depth;
      continue;
    }
    if (depth > 0) continue;
    if (IsOp(tk, ".") || IsOp(tk, "!")) {
      ++q;
      continue;
    }
    return IsOp(tk, "=");
  }
  return false;
}

void Compiler::Assignment(bool isSet) {
  LV lv = LValue(false);
  ExpectOp("=");
  Ex e = Expr();
  if (isSet && e.type.vt != VarType::Variant && e.type.vt != VarType::Object && e.type.vt != VarType::Record)
    Error("Object required");
  if (lv.kind == LV::Member) {
    uint16_t v = ToReg(e);
    Emit(Op::SetMember, lv.reg, v, lv.idx, isSet ? 1 : 0);
    return;
  }
  Store(lv, e);
}

void Compiler::CallStatement(bool explicitCall) {
  bool leadingDot = IsOp(".");
  if (!leadingDot && Cur().kind != Tok::Ident) Error("Expected: procedure name");
  if (!leadingDot) {
    std::string name = Cur().text;
    std::string k = Lower(name);
    bool hasMember = IsOp(Peek(), ".") || IsOp(Peek(), "!");
    if (k == "err" && hasMember) {
      ErrMember(true);
      return;
    }
    if (!hasMember) {
      ++p_;
      bool paren = explicitCall && AcceptOp("(");
      CallByName(name, k, paren, true);
      if (paren) ExpectOp(")");
      return;
    }
  }
  // A method call on an object: obj.Method args, or a With member.
  uint16_t base = Alloc();
  LV lv = LValue(false, true);
  if (lv.kind != LV::Member) Error("Expected: procedure call");
  Emit(Op::Move, base, lv.reg);
  freereg_ = base + 1;
  bool paren = AcceptOp("(");
  uint8_t n = ArgList(paren ? ")" : nullptr, base);
  if (paren) ExpectOp(")");
  Emit(Op::CallMethod, base, lv.idx, 1, n);
}

uint8_t Compiler::ArgList(const char* closer, uint16_t base) {
  uint8_t n = 0;
  if ((closer && IsOp(closer)) || (!closer && AtStatementEnd())) return 0;
  do {
    if (IsNamedArgument()) Error("Named arguments need a procedure of this module");
    uint16_t slot = Alloc();
    if (slot != base + 1 + n) Error("Internal: argument registers");
    if (IsOp(",") || (closer && IsOp(closer))) Emit(Op::LoadEmpty, slot, 0, 0, 2);
    else MoveTo(slot, Expr());
    freereg_ = slot + 1;
    if (++n == 255) Error("Too many arguments");
  } while (AcceptOp(","));
  return n;
}

bool Compiler::IsNamedArgument() const { return Cur().kind == Tok::Ident && IsOp(Peek(), ":="); }

void Compiler::ParamArrayArguments(const char* closer) {
  static const int arrayFn = FindLibFunc("array");
  uint16_t slot = Alloc();
  uint8_t k = 0;
  do {
    if (IsNamedArgument()) Error("Named arguments cannot follow the ParamArray's");
    uint16_t r = Alloc();
    if (IsOp(",") || (closer && IsOp(closer))) Emit(Op::LoadEmpty, r, 0, 0, 2);
    else MoveTo(r, Expr());
    freereg_ = r + 1;
    if (++k == 255) Error("Too many arguments");
  } while (AcceptOp(","));
  Emit(Op::CallLib, static_cast<uint16_t>(arrayFn), slot, k);
  freereg_ = slot + 1;
}

uint8_t Compiler::NamedArguments(const Proc& proc, uint16_t base, uint8_t given) {
  // Every parameter gets its register; those not named stay Missing. The
  // arguments are evaluated in the order written.
  const size_t np = proc.params.size();
  while (freereg_ < base + 1 + np) Alloc();
  std::vector<bool> done(np, false);
  for (size_t i = 0; i < given; ++i) done[i] = true;
  for (size_t i = given; i < np; ++i) Emit(Op::LoadEmpty, static_cast<uint16_t>(base + 1 + i), 0, 0, 2);
  const uint16_t top = freereg_;
  do {
    if (!IsNamedArgument()) Error("Expected: named argument");
    std::string pname = Cur().text;
    p_ += 2;
    size_t i = 0;
    while (i < np && !(EqualsNoCase(proc.params[i].name, pname) && !proc.params[i].paramArray)) ++i;
    if (i == np) Error("Named argument not found: " + pname);
    if (done[i]) Error("Named argument already specified: " + pname);
    done[i] = true;
    Argument(static_cast<uint16_t>(base + 1 + i), proc.params[i]);
    freereg_ = top;
  } while (AcceptOp(","));
  for (size_t i = 0; i < np; ++i)
    if (!done[i] && !proc.params[i].optional && !proc.params[i].paramArray) Error("Argument not optional");
  return static_cast<uint8_t>(np);
}

Ex Compiler::CallByName(const std::string& name, const std::string& k, bool paren, bool statement) {
  const char* closer = paren ? ")" : nullptr;
  auto pit = procs_.find(k);
  uint16_t base = Alloc();
  if (pit != procs_.end()) {
    const Proc& proc = pit->second;
    if (!statement && !proc.isFunction) Error("Expected: function or variable");
    const size_t np = proc.params.size();
    const size_t fixed = np && proc.params.back().paramArray ? np - 1 : np;
    uint8_t n = 0;
    bool named = false;
    if (!((closer && IsOp(closer)) || (!closer && AtStatementEnd()))) {
      do {
        if (IsNamedArgument()) {
          named = true;
          break;
        }
        if (n == fixed && fixed < np) {
          ParamArrayArguments(closer);
          n = static_cast<uint8_t>(np);
          break;
        }
        if (n >= np) Error("Wrong number of arguments");
        uint16_t slot = Alloc();
        const ParamInfo& pi = proc.params[n];
        if (IsOp(",") || (closer && IsOp(closer))) {
          if (!pi.optional) Error("Argument not optional");
          Emit(Op::LoadEmpty, slot, 0, 0, 2);
        } else {
          Argument(slot, pi);
        }
        freereg_ = slot + 1;
        ++n;
      } while (AcceptOp(","));
    }
    if (named) n = NamedArguments(proc, base, n);
    for (size_t i = n; i < fixed; ++i)
      if (!proc.params[i].optional) Error("Argument not optional");
    Emit(Op::Call, static_cast<uint16_t>(proc.index), base, n);
    freereg_ = base + 1;
    return Ex{base, proc.result, true};
  }
  std::string lib = k;
  if (!lib.empty() && lib.back() == '$' && FindLibFunc(lib) < 0) lib.pop_back();
  int id = FindLibFunc(lib);
  if (id >= 0 && lib[0] != '$') {
    const LibFunc& f = GetLibFunc(id);
    uint8_t n = ArgList(closer, base);
    if (n < f.minArgs || n > f.maxArgs) Error("Wrong number of arguments: " + name);
    Emit(Op::CallLib, static_cast<uint16_t>(id), base, n);
    freereg_ = base + 1;
    return Ex{base, T(f.result), true};
  }
  // Host library procedure (or Declare): arguments go by reference when
  // they are variables, so the host can fill them.
  int imp = ImportIndex(name);
  uint8_t n = 0;
  if (!((closer && IsOp(closer)) || (!closer && AtStatementEnd()))) {
    do {
      if (IsNamedArgument()) Error("Named arguments need a procedure of this module: " + name);
      uint16_t slot = Alloc();
      if (IsOp(",") || (closer && IsOp(closer))) {
        Emit(Op::LoadEmpty, slot, 0, 0, 2);
      } else {
        ParamInfo any;
        any.byRef = true;
        Argument(slot, any);
        // A String constant is handed over in place, without counting a
        // reference to it; the engine never lets a host write it.
        Ins& last = Fn().code.back();
        if (optimize_ && last.op == Op::Move && last.a == slot && (last.b & kConstBit) &&
            prog_.constants[last.b & 0x7FFF].tag == Tag::String)
          last.op = Op::ConstRef;
      }
      freereg_ = slot + 1;
      if (++n == 255) Error("Too many arguments");
    } while (AcceptOp(","));
  }
  Emit(Op::CallHost, static_cast<uint16_t>(imp), base, n);
  freereg_ = base + 1;
  return Ex{base, T(VarType::Variant), true};
}

void Compiler::Argument(uint16_t slot, const ParamInfo& pi) {
  if (pi.byRef && TryRefArgument(slot, pi)) return;
  Ex e = Expr();
  if (!pi.type.isArray && pi.type.vt != VarType::Variant && pi.type.vt != VarType::Record && e.type != pi.type) {
    Free(e);
    Emit(Op::Cvt, slot, e.rk, static_cast<uint16_t>(pi.type.vt));
    return;
  }
  if (IsVariantLike(pi.type) && !pi.byRef && IsVariantLike(e.type)) {
    Free(e);
    Emit(Op::Copy, slot, e.rk);
    return;
  }
  MoveTo(slot, e);
}

bool Compiler::TryRefArgument(uint16_t slot, const ParamInfo& pi) {
  const Token& tk = Cur();
  bool dot = IsOp(tk, ".") && !withStack_.empty();
  if (!dot && tk.kind != Tok::Ident) return false;
  if (!dot) {
    const Var* v = FindVar(Lower(tk.text));
    if (!v || v->kind == Var::Constant) return false;
    // "F(x)" inside Function F is a call of F, never an element of its result.
    if (v == &resultVar_ && IsOp(Peek(), "(")) return false;
  }
  size_t savePos = p_, savePc = Pc();
  uint16_t saveFree = freereg_;
  try {
    // "obj.M(x)" stops before its "(": a member with arguments is a call,
    // compiled below as an expression, as it is everywhere else.
    LV lv = LValue(false, true);
    bool end = IsOp(",") || IsOp(")") || AtStatementEnd();
    bool typeOk = pi.type.vt == VarType::Variant || pi.type.isArray || lv.type == pi.type || lv.kind == LV::Member ||
                  lv.kind == LV::Index || lv.kind == LV::Field;
    if (end && typeOk) {
      MakeRef(lv, slot);
      freereg_ = slot + 1;
      return true;
    }
  } catch (const Fail&) {
    // Not a plain variable: compiled again below as an expression.
  }
  p_ = savePos;
  Fn().code.resize(savePc);
  freereg_ = saveFree;
  return false;
}

}  // namespace kv::orlan::detail
