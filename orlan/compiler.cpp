#include "orlan/compiler.h"

#include <set>

#include "orlan/compiler_internal.h"
#include "orlan/ops.h"
#include "orlan/runtime.h"

namespace kv::orlan {

namespace detail {

void Compiler::Run() {
  CollectEnumNames();
  PrePass(true);
  PrePass(false);
  for (auto& entry : procOrder_) CompileProc(*entry);
}

bool Compiler::AcceptKw(const char* kw) {
  if (!IsKw(kw)) return false;
  ++p_;
  return true;
}

bool Compiler::AcceptOp(const char* op) {
  if (!IsOp(op)) return false;
  ++p_;
  return true;
}

void Compiler::ExpectKw(const char* kw) {
  if (!AcceptKw(kw)) Error(std::string("Expected: ") + kw);
}

void Compiler::ExpectOp(const char* op) {
  if (!AcceptOp(op)) Error(std::string("Expected: ") + op);
}

std::string Compiler::ExpectIdent() {
  if (Cur().kind != Tok::Ident) Error("Expected: identifier");
  return t_[p_++].text;
}

bool Compiler::AtStatementEnd() const {
  Tok k = Cur().kind;
  if (k == Tok::Newline || k == Tok::Colon || k == Tok::End) return true;
  return singleIf_ > 0 && IsKw("Else");
}

void Compiler::ExpectStatementEnd() {
  if (!AtStatementEnd()) Error("Expected: end of statement");
}

void Compiler::SkipLine() {
  while (Cur().kind != Tok::Newline && Cur().kind != Tok::End) ++p_;
}

void Compiler::SkipSeparators() {
  while (Cur().kind == Tok::Newline || Cur().kind == Tok::Colon) ++p_;
}

uint16_t Compiler::Const(const Value& v) {
  std::string key = std::to_string(static_cast<int>(v.tag)) + ":" + (v.tag == Tag::String ? StrOf(v) : ToStr(v));
  if (v.tag == Tag::Double || v.tag == Tag::Date) {
    char buf[40];
    std::snprintf(buf, sizeof buf, "%a", v.d);
    key += buf;
  }
  auto it = constIndex_.find(key);
  if (it != constIndex_.end()) return it->second;
  if (prog_.constants.size() >= 0x7FFF) Error("Too many constants");
  uint16_t k = static_cast<uint16_t>(prog_.constants.size()) | kConstBit;
  prog_.constants.push_back(v);
  constIndex_[key] = k;
  return k;
}

Ex Compiler::ConstEx(const Value& v) {
  Ex e;
  e.rk = Const(v);
  switch (v.tag) {
    case Tag::Integer: e.type = T(VarType::Integer); break;
    case Tag::Long: e.type = T(VarType::Long); break;
    case Tag::Double: e.type = T(VarType::Double); break;
    case Tag::Date: e.type = T(VarType::Date); break;
    case Tag::Single: e.type = T(VarType::Single); break;
    case Tag::String: e.type = T(VarType::String); break;
    case Tag::Boolean: e.type = T(VarType::Boolean); break;
    default: e.type = T(VarType::Variant); break;
  }
  return e;
}

size_t Compiler::Emit(Op op, uint16_t a, uint16_t b, uint16_t c, uint8_t f) {
  if (Fn().code.size() >= 0xFFFF) Error("Procedure too large");
  Fn().code.push_back(Ins{op, f, a, b, c});
  return Fn().code.size() - 1;
}

uint16_t Compiler::Alloc() {
  if (freereg_ >= 0x7FF0) Error("Procedure too complex");
  uint16_t r = freereg_++;
  if (freereg_ > maxreg_) maxreg_ = freereg_;
  return r;
}

void Compiler::Free(const Ex& e) {
  if (optimize_ && e.temp && !e.isConst() && e.rk + 1 == freereg_) --freereg_;
}

uint16_t Compiler::Hidden() {
  // Registers that live for a block (With, For, Select); never reused.
  uint16_t r = Alloc();
  nactive_ = freereg_;
  return r;
}

uint16_t Compiler::BlockRegisters(int count) {
  uint16_t first = Hidden();
  for (int n = 1; n < count; ++n) Hidden();
  // Cleared each time the block begins: after an error in its header and
  // Resume Next, the block must not see a value a temporary left there.
  for (int n = 0; n < count; ++n) Emit(Op::LoadEmpty, static_cast<uint16_t>(first + n));
  return first;
}

void Compiler::CompileProc(Proc& proc) {
  proc_ = &proc;
  locals_.clear();
  labels_.clear();
  gotos_.clear();
  loops_.clear();
  withStack_.clear();
  singleIf_ = 0;
  nextContinues_ = false;
  Function& fn = Fn();
  uint16_t n = static_cast<uint16_t>(proc.params.size());
  nactive_ = freereg_ = maxreg_ = static_cast<uint16_t>(1 + n);
  resultVar_ = Var{};
  resultVar_.type = proc.result;
  for (uint16_t i = 0; i < n; ++i) {
    const ParamInfo& pi = proc.params[i];
    Var v;
    v.kind = pi.byRef ? Var::ByRefParam : Var::Local;
    v.index = static_cast<uint16_t>(1 + i);
    v.type = pi.type;
    locals_[Lower(pi.name)] = v;
  }
  p_ = proc.bodyTok;
  oversized_ = {};
  HoistDeclarations();
  RaiseForOversizedLocal();
  p_ = proc.bodyTok;
  DeclareImplicitLocals();
  p_ = proc.bodyTok;
  ReservePrintLine();
  try {
    Block({"end sub", "end function"});
    uint32_t line = Cur().line;
    bool isFunctionEnd = IsKw(Peek(), "Function");
    if (isFunctionEnd != proc.isFunction) Error(proc.isFunction ? "Expected: End Function" : "Expected: End Sub");
    AddLine(line);
    EmitReturn();
  } catch (const Fail& f) {
    Report(f);
  } catch (const AbandonProcedure& a) {
    Report(a.fail);
    blockDepth_ = 0;
  } catch (const ScriptError& e) {
    Report(Fail{Cur().line, e.description});
  }
  for (auto& g : gotos_) {
    auto it = labels_.find(g.label);
    if (it == labels_.end()) {
      errors_.push_back({g.line, "Label not defined: " + g.label});
      continue;
    }
    PatchA(g.at, it->second);
  }
  if (optimize_) {
    // A jump to a return returns at once.
    for (Ins& in : fn.code)
      if (in.op == Op::Jmp && in.a < fn.code.size() && fn.code[in.a].op == Op::Ret) in = Ins{Op::Ret, 0, 0, 0, 0};
  }
  fn.numRegs = std::max<uint16_t>(maxreg_, 1);
  proc_ = nullptr;
}

void Compiler::HoistDeclarations() {
  while (Cur().kind != Tok::End) {
    if (IsKw("End") && (IsKw(Peek(), "Sub") || IsKw(Peek(), "Function"))) break;
    const Token& prev = t_[p_ - 1];
    bool start = p_ == proc_->bodyTok || prev.kind == Tok::Newline || prev.kind == Tok::Colon || IsKw(prev, "Then") ||
                 IsKw(prev, "Else");
    if (start && IsKw("Const")) {
      // Known from here on, so the bounds of a later Dim may use it; the
      // statement itself reports any error when it is compiled in turn.
      ++p_;
      try {
        ConstDecl(false);
      } catch (const Fail&) {
      } catch (const ScriptError&) {
      }
      while (!(Cur().kind == Tok::Newline || Cur().kind == Tok::Colon || Cur().kind == Tok::End)) ++p_;
      continue;
    }
    if (start && (IsKw("Dim") || IsKw("Static"))) {
      bool isStatic = IsKw("Static");
      ++p_;
      try {
        DimStatement(isStatic);
        if (!(Cur().kind == Tok::Newline || Cur().kind == Tok::Colon || Cur().kind == Tok::End || IsKw("Else")))
          Error("Expected: end of statement");
      } catch (const Fail& f) {
        Report(f);
      } catch (const ScriptError& e) {
        Report(Fail{Cur().line, e.description});
      }
      while (!(Cur().kind == Tok::Newline || Cur().kind == Tok::Colon || Cur().kind == Tok::End)) ++p_;
      continue;
    }
    ++p_;
  }
}

void Compiler::ReservePrintLine() {
  pendingPrint_ = kNoRegister;
  if (FindVar("print")) return;
  for (size_t q = p_; q < t_.size() && t_[q].kind != Tok::End; ++q) {
    if (IsKw(t_[q], "End") && (IsKw(t_[q + 1], "Sub") || IsKw(t_[q + 1], "Function"))) break;
    if (IsKw(t_[q], "Print") && !IsOp(t_[q - 1], ".")) {
      pendingPrint_ = Hidden();
      AddInit(pendingPrint_, T(VarType::String), {});
      return;
    }
  }
}

void Compiler::RaiseForOversizedLocal() {
  if (oversized_.dims.empty()) return;
  // Dimensioned first thing, under the Dim's line, the array raises error 7 there.
  AddLine(oversized_.line);
  uint16_t base = freereg_;
  for (const auto& d : oversized_.dims) {
    Emit(Op::Move, Alloc(), Const(Value::Lng(d.lower)));
    Emit(Op::Move, Alloc(), Const(Value::Lng(static_cast<int32_t>(d.lower + (d.count - 1)))));
  }
  uint16_t target = Alloc();
  Emit(Op::MakeRef, target, oversized_.slot);
  Emit(Op::ReDim, target, base, static_cast<uint16_t>(oversized_.dims.size()));
  freereg_ = nactive_;
}

void Compiler::SkipDeclaration() {
  ++p_;
  while (!AtStatementEnd()) ++p_;
}

void Compiler::DeclareImplicitLocals() {
  if (optionExplicit_) return;
  // Names a Dim, Static or Const of the procedure declares are not implicit.
  std::set<std::string> declared;
  for (size_t q = p_; q < t_.size() && t_[q].kind != Tok::End; ++q) {
    if (IsKw(t_[q], "End") && (IsKw(t_[q + 1], "Sub") || IsKw(t_[q + 1], "Function"))) break;
    if (!(IsKw(t_[q], "Dim") || IsKw(t_[q], "Static") || IsKw(t_[q], "Const"))) continue;
    int depth = 0;
    bool expectName = true;
    for (++q; q < t_.size() && t_[q].kind != Tok::Newline && t_[q].kind != Tok::Colon && t_[q].kind != Tok::End; ++q) {
      const Token& tk = t_[q];
      if (IsOp(tk, "(")) ++depth;
      else if (IsOp(tk, ")")) --depth;
      else if (IsOp(tk, ",") && depth == 0) expectName = true;
      else if (expectName && tk.kind == Tok::Ident && !IsKw(tk, "WithEvents")) {
        declared.insert(Lower(tk.text));
        expectName = false;
      }
    }
  }
  bool statementStart = true;
  while (Cur().kind != Tok::End) {
    const Token& tk = Cur();
    if (IsKw(tk, "End") && (IsKw(Peek(), "Sub") || IsKw(Peek(), "Function"))) break;
    if (tk.kind == Tok::Newline || tk.kind == Tok::Colon || IsKw(tk, "Then") || IsKw(tk, "Else")) {
      statementStart = true;
      ++p_;
      continue;
    }
    if (statementStart) {
      size_t q = p_;
      if (IsKw(t_[q], "For")) {
        ++q;
        if (IsKw(t_[q], "Each")) ++q;
      } else if (IsKw(t_[q], "Set") || IsKw(t_[q], "Let") || IsKw(t_[q], "ReDim")) {
        ++q;
        if (IsKw(t_[q], "Preserve")) ++q;
      }
      const Token& name = t_[q];
      const Token& next = t_[std::min(q + 1, t_.size() - 1)];
      bool assigned = IsOp(next, "=") || IsKw(next, "In") || (IsKw(t_[p_], "ReDim") && IsOp(next, "("));
      if (name.kind == Tok::Ident && assigned && !IsKeyword(name.text)) {
        std::string k = Lower(name.text);
        if (!FindVar(k) && !procs_.count(k) && !declared.count(k)) {
          Var v;
          v.kind = Var::Local;
          v.index = Hidden();
          v.type = SuffixType(name.suffix);
          if (IsKw(t_[p_], "ReDim")) v.type.isArray = true;
          locals_[k] = v;
          AddInit(v.index, v.type, {});
        }
      }
    }
    statementStart = false;
    ++p_;
  }
}

bool Compiler::IsKeyword(const std::string& s) {
  static const std::set<std::string> kw = {"if", "then", "else", "elseif", "end", "for", "next", "do", "loop", "while", "wend",
                                           "until", "select", "case", "dim", "redim", "set", "let", "call", "with", "exit",
                                           "goto", "on", "resume", "sub", "function", "const", "static", "each", "in", "to",
                                           "step", "and", "or", "not", "xor", "eqv", "imp", "mod", "is", "like", "new", "me",
                                           "true", "false", "nothing", "empty", "null", "err", "mid", "erase", "option",
                                           "gosub", "return"};
  return kw.count(Lower(s)) > 0;
}

void Compiler::AddInit(uint16_t slot, const TypeRef& type, std::vector<ArrayObj::Dim> dims) {
  if (type.vt == VarType::Variant && !type.isArray) {
    // Variants still need resetting: a register may hold a value from an earlier call.
  }
  Fn().inits.push_back(LocalInit{slot, type, std::move(dims)});
}

void Compiler::AddLine(uint32_t line) {
  auto& lines = Fn().lines;
  uint32_t pc = static_cast<uint32_t>(Pc());
  if (!lines.empty() && lines.back().pc == pc) lines.back().line = line;
  else lines.push_back({pc, line});
}

const Var* Compiler::FindVar(const std::string& k) const {
  if (proc_) {
    auto it = locals_.find(k);
    if (it != locals_.end()) return &it->second;
    if (proc_->isFunction && Lower(proc_->name) == k) return &resultVar_;
  }
  auto it = moduleVars_.find(k);
  if (it != moduleVars_.end()) return &it->second;
  return BuiltinConstant(k);
}

const Var* Compiler::BuiltinConstant(const std::string& k) {
  static const std::map<std::string, Var> kConstants = [] {
    std::map<std::string, Var> m;
    auto add = [&m](const char* name, Value v, VarType t) {
      Var var;
      var.kind = Var::Constant;
      var.constant = std::move(v);
      var.type = T(t);
      m[name] = var;
    };
    auto str = [&](const char* name, const char* text) { add(name, Value::Str(text), VarType::String); };
    str("vbcrlf", "\r\n");
    str("vbnewline", "\r\n");
    str("vbcr", "\r");
    str("vblf", "\n");
    str("vbtab", "\t");
    str("vbback", "\b");
    str("vbformfeed", "\f");
    str("vbverticaltab", "\v");
    str("vbnullstring", "");
    add("vbnullchar", Value::Str(std::string(1, '\0')), VarType::String);
    add("vbtrue", Value::Int(-1), VarType::Integer);
    add("vbfalse", Value::Int(0), VarType::Integer);
    add("vbobjecterror", Value::Lng(-2147221504), VarType::Long);
    const std::pair<const char*, int> ints[] = {
        {"vbbinarycompare", 0}, {"vbtextcompare", 1}, {"vbokonly", 0}, {"vbokcancel", 1}, {"vbabortretryignore", 2},
        {"vbyesnocancel", 3}, {"vbyesno", 4}, {"vbretrycancel", 5}, {"vbcritical", 16}, {"vbquestion", 32},
        {"vbexclamation", 48}, {"vbinformation", 64}, {"vbok", 1}, {"vbcancel", 2}, {"vbabort", 3}, {"vbretry", 4},
        {"vbignore", 5}, {"vbyes", 6}, {"vbno", 7}, {"vbempty", 0}, {"vbnull", 1}, {"vbinteger", 2}, {"vblong", 3},
        {"vbsingle", 4}, {"vbdouble", 5}, {"vbstring", 8}, {"vbobject", 9}, {"vberror", 10}, {"vbboolean", 11},
        {"vbvariant", 12}, {"vbbyte", 17}, {"vbarray", 8192},
        {"vbusesystem", 0}, {"vbusesystemdayofweek", 0}, {"vbsunday", 1}, {"vbmonday", 2}, {"vbtuesday", 3},
        {"vbwednesday", 4}, {"vbthursday", 5}, {"vbfriday", 6}, {"vbsaturday", 7}, {"vbfirstjan1", 1},
        {"vbfirstfourdays", 2}, {"vbfirstfullweek", 3}, {"vbgeneraldate", 0}, {"vblongdate", 1}, {"vbshortdate", 2},
        {"vblongtime", 3}, {"vbshorttime", 4},
    };
    for (const auto& [name, v] : ints) add(name, Value::Int(v), VarType::Integer);
    return m;
  }();
  auto it = kConstants.find(k);
  return it == kConstants.end() ? nullptr : &it->second;
}

}  // namespace detail

int Program::FindFunction(std::string_view name) const {
  for (size_t i = 0; i < functions.size(); ++i)
    if (EqualsNoCase(functions[i].name, name)) return static_cast<int>(i);
  return -1;
}

CompileResult Compile(std::string_view source, const CompileOptions& options) {
  CompileResult result;
  std::vector<Token> tokens;
  try {
    tokens = Tokenize(source);
  } catch (const LexError& e) {
    result.errors.push_back({e.line, e.message});
    return result;
  }
  detail::Compiler c(std::move(tokens), result.program, result.errors, options.optimize);
  c.Run();
  std::stable_sort(result.errors.begin(), result.errors.end(),
                   [](const CompileError& a, const CompileError& b) { return a.line < b.line; });
  return result;
}

}  // namespace kv::orlan
