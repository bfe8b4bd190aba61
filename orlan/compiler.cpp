#include "orlan/compiler.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <optional>
#include <set>

#include "orlan/lexer.h"
#include "orlan/ops.h"
#include "orlan/runtime.h"
#include "platform/text.h"

namespace kv::orlan {

int Program::FindFunction(std::string_view name) const {
  for (size_t i = 0; i < functions.size(); ++i)
    if (EqualsNoCase(functions[i].name, name)) return static_cast<int>(i);
  return -1;
}

namespace {

struct Fail {
  uint32_t line;
  std::string message;
};

// An operand: a register or constant (RK) with its static type.
struct Ex {
  uint16_t rk = 0;
  TypeRef type;
  bool temp = false;
  bool isConst() const { return rk & kConstBit; }
};

struct Var {
  enum Kind { Local, ByRefParam, Global, Constant } kind = Local;
  uint16_t index = 0;  // register or global index
  TypeRef type;
  Value constant;
};

struct Proc {
  std::string name;
  bool isFunction = false;
  bool isPublic = true;
  TypeRef result;
  std::vector<ParamInfo> params;
  int index = -1;
  size_t bodyTok = 0;
  uint32_t line = 0;
};

// An assignable place.
struct LV {
  enum Kind { Reg, RefReg, Global, Index, Field, Member } kind = Reg;
  uint16_t reg = 0;  // the register, the array or the record/object
  uint16_t idx = 0;  // global index, first index register, field index or name constant
  uint8_t count = 0;
  TypeRef type;
};

struct LoopCtx {
  enum Kind { For, Do, While } kind;
  std::vector<size_t> exits;
};

TypeRef T(VarType vt) { return TypeRef{vt, -1, false}; }
bool IsVariantLike(const TypeRef& t) {
  return t.vt == VarType::Variant || t.isArray || t.vt == VarType::Record || t.vt == VarType::Object;
}
std::string Lower(std::string_view s) { return ToLower1252(s); }

bool IsComparison(Op op) { return op >= Op::Eq && op <= Op::Ge; }

class Compiler {
 public:
  Compiler(std::vector<Token> tokens, Program& prog, std::vector<CompileError>& errors)
      : t_(std::move(tokens)), prog_(prog), errors_(errors) {}

  void Run() {
    PrePass(true);
    PrePass(false);
    for (auto& entry : procOrder_) CompileProc(*entry);
  }

 private:
  // ---- tokens ----
  const Token& Cur() const { return t_[p_]; }
  const Token& Peek(size_t k = 1) const { return t_[std::min(p_ + k, t_.size() - 1)]; }
  bool IsKw(const Token& t, const char* kw) const { return t.kind == Tok::Ident && EqualsNoCase(t.text, kw); }
  bool IsKw(const char* kw) const { return IsKw(Cur(), kw); }
  bool IsOp(const Token& t, const char* op) const { return t.kind == Tok::Op && t.text == op; }
  bool IsOp(const char* op) const { return IsOp(Cur(), op); }
  bool AcceptKw(const char* kw) {
    if (!IsKw(kw)) return false;
    ++p_;
    return true;
  }
  bool AcceptOp(const char* op) {
    if (!IsOp(op)) return false;
    ++p_;
    return true;
  }
  [[noreturn]] void Error(const std::string& msg) const { throw Fail{Cur().line, msg}; }
  void ExpectKw(const char* kw) {
    if (!AcceptKw(kw)) Error(std::string("Expected: ") + kw);
  }
  void ExpectOp(const char* op) {
    if (!AcceptOp(op)) Error(std::string("Expected: ") + op);
  }
  std::string ExpectIdent() {
    if (Cur().kind != Tok::Ident) Error("Expected: identifier");
    return t_[p_++].text;
  }
  bool AtStatementEnd() const {
    Tok k = Cur().kind;
    if (k == Tok::Newline || k == Tok::Colon || k == Tok::End) return true;
    return singleIf_ > 0 && IsKw("Else");
  }
  void ExpectStatementEnd() {
    if (!AtStatementEnd()) Error("Expected: end of statement");
  }
  void SkipLine() {
    while (Cur().kind != Tok::Newline && Cur().kind != Tok::End) ++p_;
  }
  void SkipSeparators() {
    while (Cur().kind == Tok::Newline || Cur().kind == Tok::Colon) ++p_;
  }
  void Report(const Fail& f) { errors_.push_back({f.line, f.message}); }

  // ---- constants ----
  uint16_t Const(const Value& v) {
    std::string key = std::to_string(static_cast<int>(v.tag)) + ":" + (v.tag == Tag::String ? StrOf(v) : ToStr(v));
    if (v.tag == Tag::Double) {
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
  Ex ConstEx(const Value& v) {
    Ex e;
    e.rk = Const(v);
    switch (v.tag) {
      case Tag::Integer: e.type = T(VarType::Integer); break;
      case Tag::Long: e.type = T(VarType::Long); break;
      case Tag::Double: e.type = T(VarType::Double); break;
      case Tag::Single: e.type = T(VarType::Single); break;
      case Tag::String: e.type = T(VarType::String); break;
      case Tag::Boolean: e.type = T(VarType::Boolean); break;
      default: e.type = T(VarType::Variant); break;
    }
    return e;
  }
  const Value& ConstValue(const Ex& e) const { return prog_.constants[e.rk & 0x7FFF]; }

  // ---- types ----
  TypeRef ParseTypeName() {
    std::string name = ExpectIdent();
    std::string k = Lower(name);
    TypeRef t;
    if (k == "integer") t.vt = VarType::Integer;
    else if (k == "long") t.vt = VarType::Long;
    else if (k == "double" || k == "date" || k == "currency") t.vt = VarType::Double;
    else if (k == "single") t.vt = VarType::Single;
    else if (k == "string") t.vt = VarType::String;
    else if (k == "boolean") t.vt = VarType::Boolean;
    else if (k == "byte") t.vt = VarType::Byte;
    else if (k == "variant" || k == "any") t.vt = VarType::Variant;
    else if (k == "object") t.vt = VarType::Object;
    else if (k == "new") Error("As New is not supported; use Set ... = New");
    else {
      // A record type of the module, or a host type (record or class) resolved at load.
      while (AcceptOp(".")) name = ExpectIdent();
      t.vt = VarType::Record;
      t.record = static_cast<int16_t>(RecordIndex(name));
    }
    return t;
  }
  int RecordIndex(const std::string& name) {
    std::string k = Lower(name);
    auto it = types_.find(k);
    if (it != types_.end()) return it->second;
    RecordDecl d;
    d.name = name;
    d.external = true;
    prog_.records.push_back(d);
    int idx = static_cast<int>(prog_.records.size()) - 1;
    types_[k] = idx;
    return idx;
  }
  bool IsOwnRecord(const TypeRef& t) const {
    return t.vt == VarType::Record && t.record >= 0 && !prog_.records[t.record].external && !t.isArray;
  }
  TypeRef SuffixType(char s) const {
    switch (s) {
      case '%': return T(VarType::Integer);
      case '&': return T(VarType::Long);
      case '!': return T(VarType::Single);
      case '#':
      case '@': return T(VarType::Double);
      case '$': return T(VarType::String);
      default: return T(VarType::Variant);
    }
  }
  // "[As Type]" after a name with an optional type character.
  TypeRef ParseAsClause(char suffix, int* fixedLen = nullptr) {
    TypeRef t = SuffixType(suffix);
    if (AcceptKw("As")) {
      t = ParseTypeName();
      if (AcceptOp("*")) {
        Value n = ConstExpr();
        if (fixedLen) *fixedLen = ToLong(n);
      }
    }
    return t;
  }

  // ---- constant expressions (Const, bounds, defaults) ----
  Value ConstExpr() { return ConstLevel(0); }
  Value ConstLevel(int level) {
    if (level == kNotLevel) {
      if (AcceptKw("Not")) return ConstFold(Op::Not, ConstLevel(level), Value());
      return ConstLevel(level + 1);
    }
    if (level == kNegLevel) {
      if (AcceptOp("-")) return ConstFold(Op::Neg, ConstLevel(level), Value());
      if (AcceptOp("+")) return ConstLevel(level);
      return ConstLevel(level + 1);
    }
    if (level == kPowLevel) {
      Value v = ConstUnary();
      while (AcceptOp("^")) v = ConstFold(Op::Pow, v, ConstUnary());
      return v;
    }
    Value v = ConstLevel(level + 1);
    while (auto op = MatchOp(level)) {
      ++p_;
      v = ConstFold(*op, v, ConstLevel(level + 1));
    }
    return v;
  }
  Value ConstFold(Op op, const Value& a, const Value& b) {
    try {
      return op == Op::Not || op == Op::Neg ? UnaryOp(op, a) : BinaryOp(op, a, b, kStrict);
    } catch (const ScriptError& e) {
      Error(e.description);
    }
  }
  Value ConstUnary() {
    if (AcceptOp("-")) return ConstFold(Op::Neg, ConstUnary(), Value());
    if (AcceptOp("+")) return ConstUnary();
    const Token& tk = Cur();
    if (tk.kind == Tok::Integer || tk.kind == Tok::Float) {
      ++p_;
      return NumberValue(tk);
    }
    if (tk.kind == Tok::String) {
      ++p_;
      return Value::Str(tk.text);
    }
    if (AcceptOp("(")) {
      Value v = ConstExpr();
      ExpectOp(")");
      return v;
    }
    if (tk.kind == Tok::Ident) {
      std::string k = Lower(tk.text);
      if (k == "true") { ++p_; return Value::Bool(true); }
      if (k == "false") { ++p_; return Value::Bool(false); }
      if (const Var* v = FindVar(k); v && v->kind == Var::Constant) {
        ++p_;
        return v->constant;
      }
      // A few pure functions are allowed in constants (Chr, Asc, Len of constants).
      if ((k == "chr" || k == "chr$") && Peek().kind == Tok::Op && Peek().text == "(") {
        p_ += 2;
        Value v = ConstExpr();
        ExpectOp(")");
        int32_t c = ToLong(v);
        if (c < 0 || c > 255) Error("Invalid procedure call or argument");
        return Value::Str(std::string(1, static_cast<char>(c)));
      }
    }
    Error("Constant expression required");
  }
  Value CoerceConst(const Value& v, VarType t) {
    if (t == VarType::Record || t == VarType::Object) Error("Type mismatch");
    try {
      return Coerce(v, t);
    } catch (const ScriptError& e) {
      Error(e.description);
    }
  }
  Value NumberValue(const Token& tk) {
    double d = tk.number;
    switch (tk.suffix) {
      case '%':
        if (d < -32768 || d > 32767) Error("Overflow");
        return Value::Int(static_cast<int32_t>(d));
      case '&':
        if (d < -2147483648.0 || d > 2147483647.0) Error("Overflow");
        return Value::Lng(static_cast<int32_t>(d));
      case '!': return Value::Sng(static_cast<float>(d));
      case '#':
      case '@': return Value::Dbl(d);
      default: break;
    }
    if (tk.kind == Tok::Float) return Value::Dbl(d);
    if (d >= -32768 && d <= 32767) return Value::Int(static_cast<int32_t>(d));
    if (d >= -2147483648.0 && d <= 2147483647.0) return Value::Lng(static_cast<int32_t>(d));
    return Value::Dbl(d);
  }

  // ---- module level ----
  void PrePass(bool typesPass) {
    p_ = 0;
    while (Cur().kind != Tok::End) {
      SkipSeparators();
      if (Cur().kind == Tok::End) break;
      try {
        ModuleStatement(typesPass);
      } catch (const Fail& f) {
        Report(f);
        SkipLine();
      } catch (const ScriptError& e) {
        // A conversion of a constant failed (an overflowing bound, say).
        Report(Fail{Cur().line, e.description});
        SkipLine();
      }
    }
  }

  void ModuleStatement(bool typesPass) {
    bool isPublic = false, isPrivate = false;
    size_t start = p_;
    if (AcceptKw("Public") || AcceptKw("Global")) isPublic = true;
    else if (AcceptKw("Private")) isPrivate = true;
    AcceptKw("Friend");
    bool isStatic = AcceptKw("Static");
    (void)isStatic;
    if (IsKw("Type")) {
      if (typesPass) TypeDecl();
      else SkipBlock("Type");
      return;
    }
    if (IsKw("Enum")) {
      if (typesPass) EnumDecl();
      else SkipBlock("Enum");
      return;
    }
    if (IsKw("Const")) {
      if (typesPass) {
        ++p_;
        ConstDecl(true);
      } else {
        SkipLine();
      }
      return;
    }
    if (IsKw("Sub") || IsKw("Function")) {
      if (typesPass) {
        SkipProcBody();
      } else {
        ProcDecl(!isPrivate);
      }
      return;
    }
    if (IsKw("Property")) Error("Property procedures are not supported");
    if (typesPass) {
      p_ = start;
      SkipLine();
      return;
    }
    if (AcceptKw("Option")) {
      if (AcceptKw("Explicit")) optionExplicit_ = true;
      else if (AcceptKw("Base")) {
        Value v = ConstExpr();
        int b = ToLong(v);
        if (b != 0 && b != 1) Error("Option Base must be 0 or 1");
        prog_.optionBase = b;
      } else if (AcceptKw("Compare")) {
        if (AcceptKw("Text")) prog_.compare = CompareMode::Text;
        else if (AcceptKw("Binary")) prog_.compare = CompareMode::Binary;
        else Error("Expected: Binary or Text");
      } else if (AcceptKw("Private")) {
        ExpectKw("Module");
      } else {
        Error("Expected: Explicit, Base or Compare");
      }
      ExpectStatementEnd();
      return;
    }
    if (AcceptKw("Declare")) {
      DeclareDecl();
      return;
    }
    if (AcceptKw("Dim") || isPublic || isPrivate) {
      GlobalDecl(isPublic);
      return;
    }
    Error("Invalid outside procedure");
  }

  void SkipBlock(const char* kw) {
    for (;;) {
      SkipLine();
      SkipSeparators();
      if (Cur().kind == Tok::End) return;  // reported by the first pass
      if (IsKw("End") && IsKw(Peek(), kw)) {
        SkipLine();
        return;
      }
    }
  }

  void SkipProcBody() {
    uint32_t line = Cur().line;
    bool isFunction = IsKw("Function");
    for (;;) {
      SkipLine();
      SkipSeparators();
      // A missing End is reported by the second pass.
      if (Cur().kind == Tok::End) return;
      if (IsKw("End") && (IsKw(Peek(), "Sub") || IsKw(Peek(), "Function"))) {
        SkipLine();
        return;
      }
    }
    (void)line;
    (void)isFunction;
  }

  void TypeDecl() {
    ExpectKw("Type");
    std::string name = ExpectIdent();
    std::string k = Lower(name);
    auto it = types_.find(k);
    int idx;
    if (it != types_.end()) {
      if (!prog_.records[it->second].external) Error("Ambiguous name detected: " + name);
      idx = it->second;
    } else {
      prog_.records.push_back(RecordDecl{});
      idx = static_cast<int>(prog_.records.size()) - 1;
      types_[k] = idx;
    }
    RecordDecl decl;
    decl.name = name;
    for (;;) {
      SkipSeparators();
      if (Cur().kind == Tok::End) Error("Expected: End Type");
      if (IsKw("End")) {
        ++p_;
        ExpectKw("Type");
        break;
      }
      RecordField f;
      f.name = Cur().text;
      char suffix = Cur().suffix;
      ExpectIdent();
      if (AcceptOp("(")) Error("Array fields are not supported; use a Variant field holding an array");
      int fixed = 0;
      TypeRef t = ParseAsClause(suffix, &fixed);
      f.type = t.vt;
      f.recordType = t.record;
      f.fixedLength = fixed;
      decl.fields.push_back(f);
    }
    prog_.records[idx] = decl;
  }

  void EnumDecl() {
    ExpectKw("Enum");
    ExpectIdent();
    int32_t next = 0;
    for (;;) {
      SkipSeparators();
      if (Cur().kind == Tok::End) Error("Expected: End Enum");
      if (IsKw("End")) {
        ++p_;
        ExpectKw("Enum");
        return;
      }
      std::string name = ExpectIdent();
      if (AcceptOp("=")) next = ToLong(ConstExpr());
      Var v;
      v.kind = Var::Constant;
      v.constant = Value::Lng(next);
      v.type = T(VarType::Long);
      moduleVars_[Lower(name)] = v;
      ++next;
    }
  }

  void ConstDecl(bool module) {
    do {
      std::string name = Cur().text;
      char suffix = Cur().suffix;
      ExpectIdent();
      TypeRef t = ParseAsClause(suffix);
      ExpectOp("=");
      Value v = ConstExpr();
      if (t.vt != VarType::Variant) v = CoerceConst(v, t.vt);
      Var var;
      var.kind = Var::Constant;
      var.constant = v;
      var.type = ConstEx(v).type;
      (module ? moduleVars_ : locals_)[Lower(name)] = var;
    } while (AcceptOp(","));
    ExpectStatementEnd();
  }

  std::vector<ArrayObj::Dim> ParseBounds() {
    std::vector<ArrayObj::Dim> dims;
    do {
      int32_t lo = prog_.optionBase;
      int32_t hi = ToLong(ConstExpr());
      if (AcceptKw("To")) {
        lo = hi;
        hi = ToLong(ConstExpr());
      }
      if (hi < lo - 1) Error("Subscript out of range");
      dims.push_back({lo, hi - lo + 1});
    } while (AcceptOp(","));
    ExpectOp(")");
    return dims;
  }

  void GlobalDecl(bool isPublic) {
    do {
      AcceptKw("WithEvents");
      std::string name = Cur().text;
      char suffix = Cur().suffix;
      ExpectIdent();
      GlobalInfo g;
      g.name = name;
      g.isPublic = isPublic;
      bool isArray = false;
      if (AcceptOp("(")) {
        isArray = true;
        if (!AcceptOp(")")) g.dims = ParseBounds();
      }
      g.type = ParseAsClause(suffix);
      g.type.isArray = isArray;
      std::string k = Lower(name);
      if (moduleVars_.count(k)) Error("Duplicate declaration in current scope: " + name);
      Var v;
      v.kind = Var::Global;
      v.index = static_cast<uint16_t>(prog_.globals.size());
      v.type = g.type;
      moduleVars_[k] = v;
      prog_.globals.push_back(g);
    } while (AcceptOp(","));
    ExpectStatementEnd();
  }

  std::vector<ParamInfo> ParseParams() {
    std::vector<ParamInfo> params;
    if (!AcceptOp("(")) return params;
    if (AcceptOp(")")) return params;
    bool sawOptional = false;
    do {
      ParamInfo pi;
      for (;;) {
        if (AcceptKw("Optional")) pi.optional = true;
        else if (AcceptKw("ByVal")) pi.byRef = false;
        else if (AcceptKw("ByRef")) pi.byRef = true;
        else if (AcceptKw("ParamArray")) pi.paramArray = true;
        else break;
      }
      pi.name = Cur().text;
      char suffix = Cur().suffix;
      ExpectIdent();
      bool isArray = false;
      if (AcceptOp("(")) {
        ExpectOp(")");
        isArray = true;
      }
      pi.type = ParseAsClause(suffix);
      pi.type.isArray = isArray || pi.paramArray;
      if (pi.paramArray) Error("ParamArray is not supported");
      if (pi.optional) {
        sawOptional = true;
        if (AcceptOp("=")) {
          Value d = ConstExpr();
          if (pi.type.vt != VarType::Variant && !pi.type.isArray) d = CoerceConst(d, pi.type.vt);
          pi.defaultConst = Const(d) & 0x7FFF;
        }
      } else if (sawOptional) {
        Error("Expected: Optional");
      }
      params.push_back(pi);
    } while (AcceptOp(","));
    ExpectOp(")");
    return params;
  }

  void ProcDecl(bool isPublic) {
    Proc proc;
    proc.isFunction = IsKw("Function");
    proc.line = Cur().line;
    ++p_;
    proc.name = Cur().text;
    char suffix = Cur().suffix;
    ExpectIdent();
    proc.isPublic = isPublic;
    proc.params = ParseParams();
    if (proc.isFunction) {
      proc.result = SuffixType(suffix);
      if (AcceptKw("As")) {
        proc.result = ParseTypeName();
        if (AcceptOp("(")) {
          ExpectOp(")");
          proc.result.isArray = true;
        }
      }
    }
    ExpectStatementEnd();
    std::string k = Lower(proc.name);
    if (procs_.count(k) || moduleVars_.count(k)) Error("Ambiguous name detected: " + proc.name);
    proc.index = static_cast<int>(prog_.functions.size());
    Function fn;
    fn.name = proc.name;
    fn.isFunction = proc.isFunction;
    fn.isPublic = isPublic;
    fn.result = proc.result;
    fn.params = proc.params;
    prog_.functions.push_back(std::move(fn));
    proc.bodyTok = p_;
    auto [it, inserted] = procs_.emplace(k, proc);
    procOrder_.push_back(&it->second);
    p_ = proc.bodyTok;
    // Skip the body; it is compiled once every signature is known.
    for (;;) {
      SkipLine();
      SkipSeparators();
      if (Cur().kind == Tok::End) throw Fail{proc.line, proc.isFunction ? "Expected: End Function" : "Expected: End Sub"};
      if (IsKw("End") && (IsKw(Peek(), "Sub") || IsKw(Peek(), "Function"))) {
        SkipLine();
        return;
      }
    }
  }

  void DeclareDecl() {
    AcceptKw("PtrSafe");
    bool isFunction = IsKw("Function");
    if (!isFunction && !IsKw("Sub")) Error("Expected: Sub or Function");
    ++p_;
    std::string name = ExpectIdent();
    ExpectKw("Lib");
    if (Cur().kind != Tok::String) Error("Expected: library name");
    std::string lib = t_[p_++].text;
    if (AcceptKw("Alias")) {
      if (Cur().kind != Tok::String) Error("Expected: alias name");
      ++p_;
    }
    ParseParams();
    if (isFunction) ParseAsClause(0);
    ExpectStatementEnd();
    int idx = ImportIndex(name);
    prog_.imports[idx].isDeclare = true;
    prog_.imports[idx].library = lib;
  }

  int ImportIndex(const std::string& name) {
    std::string k = Lower(name);
    auto it = imports_.find(k);
    if (it != imports_.end()) return it->second;
    if (prog_.imports.size() >= 0xFFFF) Error("Too many external procedures");
    prog_.imports.push_back(ImportDecl{name, false, {}});
    int idx = static_cast<int>(prog_.imports.size()) - 1;
    imports_[k] = idx;
    return idx;
  }

  // ---- procedures ----
  Function& Fn() { return prog_.functions[proc_->index]; }
  size_t Pc() { return Fn().code.size(); }
  size_t Emit(Op op, uint16_t a = 0, uint16_t b = 0, uint16_t c = 0, uint8_t f = 0) {
    if (Fn().code.size() >= 0xFFFF) Error("Procedure too large");
    Fn().code.push_back(Ins{op, f, a, b, c});
    return Fn().code.size() - 1;
  }
  void PatchA(size_t at, size_t target) { Fn().code[at].a = static_cast<uint16_t>(target); }
  void PatchC(size_t at, size_t target) { Fn().code[at].c = static_cast<uint16_t>(target); }
  uint16_t Alloc() {
    if (freereg_ >= 0x7FF0) Error("Procedure too complex");
    uint16_t r = freereg_++;
    if (freereg_ > maxreg_) maxreg_ = freereg_;
    return r;
  }
  void Free(const Ex& e) {
    if (e.temp && !e.isConst() && e.rk + 1 == freereg_) --freereg_;
  }
  uint16_t Hidden() {
    // Registers that live for a block (With, For, Select); never reused.
    uint16_t r = Alloc();
    nactive_ = freereg_;
    return r;
  }

  void CompileProc(Proc& proc) {
    proc_ = &proc;
    locals_.clear();
    labels_.clear();
    gotos_.clear();
    loops_.clear();
    withStack_.clear();
    singleIf_ = 0;
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
    HoistDeclarations();
    p_ = proc.bodyTok;
    DeclareImplicitLocals();
    p_ = proc.bodyTok;
    try {
      Block({"end sub", "end function"});
      uint32_t line = Cur().line;
      bool isFunctionEnd = IsKw(Peek(), "Function");
      if (isFunctionEnd != proc.isFunction) Error(proc.isFunction ? "Expected: End Function" : "Expected: End Sub");
      AddLine(line);
      Emit(Op::Ret);
    } catch (const Fail& f) {
      Report(f);
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
    fn.numRegs = std::max<uint16_t>(maxreg_, 1);
    proc_ = nullptr;
  }

  // Dim and Static declare for the whole procedure: their registers are
  // assigned and initialised at entry, before any statement runs, so no
  // earlier temporary can share a local's register.
  void HoistDeclarations() {
    while (Cur().kind != Tok::End) {
      if (IsKw("End") && (IsKw(Peek(), "Sub") || IsKw(Peek(), "Function"))) break;
      const Token& prev = t_[p_ - 1];
      bool start = p_ == proc_->bodyTok || prev.kind == Tok::Newline || prev.kind == Tok::Colon || IsKw(prev, "Then") ||
                   IsKw(prev, "Else");
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

  void SkipDeclaration() {
    ++p_;
    while (!AtStatementEnd()) ++p_;
  }

  // Names assigned without a Dim become Variant locals, as VBA allows
  // without Option Explicit. Collected up front so registers stay stable.
  void DeclareImplicitLocals() {
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

  static bool IsKeyword(const std::string& s) {
    static const std::set<std::string> kw = {"if", "then", "else", "elseif", "end", "for", "next", "do", "loop", "while", "wend",
                                             "until", "select", "case", "dim", "redim", "set", "let", "call", "with", "exit",
                                             "goto", "on", "resume", "sub", "function", "const", "static", "each", "in", "to",
                                             "step", "and", "or", "not", "xor", "eqv", "imp", "mod", "is", "like", "new", "me",
                                             "true", "false", "nothing", "empty", "null", "err", "mid", "erase", "option"};
    return kw.count(Lower(s)) > 0;
  }

  void AddInit(uint16_t slot, const TypeRef& type, std::vector<ArrayObj::Dim> dims) {
    if (type.vt == VarType::Variant && !type.isArray) {
      // Variants still need resetting: a register may hold a value from an earlier call.
    }
    Fn().inits.push_back(LocalInit{slot, type, std::move(dims)});
  }

  void AddLine(uint32_t line) {
    auto& lines = Fn().lines;
    uint32_t pc = static_cast<uint32_t>(Pc());
    if (!lines.empty() && lines.back().pc == pc) lines.back().line = line;
    else lines.push_back({pc, line});
  }

  const Var* FindVar(const std::string& k) const {
    if (proc_) {
      auto it = locals_.find(k);
      if (it != locals_.end()) return &it->second;
      if (proc_->isFunction && Lower(proc_->name) == k) return &resultVar_;
    }
    auto it = moduleVars_.find(k);
    if (it != moduleVars_.end()) return &it->second;
    return BuiltinConstant(k);
  }

  // VBA's named constants (vbCrLf, vbYesNo, ...), shadowed by the module's names.
  static const Var* BuiltinConstant(const std::string& k) {
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
      };
      for (const auto& [name, v] : ints) add(name, Value::Int(v), VarType::Integer);
      return m;
    }();
    auto it = kConstants.find(k);
    return it == kConstants.end() ? nullptr : &it->second;
  }

  // ---- statements ----
  bool AtBlockEnd(const std::vector<const char*>& enders) const {
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

  // Compiles statements until one of `enders` begins a statement; leaves it unread.
  // "End If" for the enders {"elseif", "else", "end if"}: the block's closing words.
  static std::string Expected(const std::vector<const char*>& enders) {
    std::string s = enders.back();
    bool up = true;
    for (char& c : s) {
      if (up) c = ToUpper1252(c);
      up = c == ' ';
    }
    return "Expected: " + s;
  }

  void Block(const std::vector<const char*>& enders) {
    for (;;) {
      SkipSeparators();
      if (Cur().kind == Tok::End) Error(Expected(enders));
      if (AtBlockEnd(enders)) return;
      if (IsKw("End") && (IsKw(Peek(), "Sub") || IsKw(Peek(), "Function"))) Error(Expected(enders));
      size_t start = p_;
      try {
        LabelAndStatement();
      } catch (const Fail& f) {
        Report(f);
        if (p_ == start) ++p_;
        SkipLine();
        freereg_ = nactive_;
      } catch (const ScriptError& e) {
        Report(Fail{Cur().line, e.description});
        if (p_ == start) ++p_;
        SkipLine();
        freereg_ = nactive_;
      }
    }
  }

  void LabelAndStatement() {
    const Token& tk = Cur();
    bool lineStart = p_ == 0 || t_[p_ - 1].kind == Tok::Newline;
    if ((tk.kind == Tok::Ident && lineStart && Peek().kind == Tok::Colon && !IsKeyword(tk.text)) ||
        (tk.kind == Tok::Integer && lineStart)) {
      std::string name = tk.kind == Tok::Integer ? LineLabel(tk) : Lower(tk.text);
      if (labels_.count(name)) Error("Duplicate label: " + tk.text);
      labels_[name] = Pc();
      AddLine(tk.line);
      ++p_;
      if (Cur().kind == Tok::Colon) ++p_;
      return;
    }
    Statement();
  }

  void Statement() {
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
      } else if (k == "gosub" || k == "return") Error("GoSub and Return are not supported");
      else if (k == "loop") Error("Loop without Do");
      else if (k == "next") Error("Next without For");
      else if (k == "wend") Error("Wend without While");
      else if (k == "else" || k == "elseif") Error("Else without If");
      else if (k == "case") Error("Case without Select Case");
      else if (k == "sub" || k == "function" || k == "option" || k == "type" || k == "declare" || k == "public" || k == "private")
        Error("Invalid inside procedure");
      else if ((k == "mid" || k == "mid$") && IsOp(Peek(), "(") && IsMidAssignment()) MidStatement();
      else if (k == "debug" && IsOp(Peek(), ".")) DebugPrint();
      else IdentStatement();
    }
    freereg_ = nactive_;
    if (!AtStatementEnd()) Error("Expected: end of statement");
  }

  void DimStatement(bool isStatic) {
    do {
      AcceptKw("WithEvents");
      std::string name = Cur().text;
      char suffix = Cur().suffix;
      ExpectIdent();
      bool isArray = false;
      std::vector<ArrayObj::Dim> dims;
      if (AcceptOp("(")) {
        isArray = true;
        if (!AcceptOp(")")) dims = ParseBounds();
      }
      TypeRef t = ParseAsClause(suffix);
      t.isArray = isArray;
      std::string k = Lower(name);
      if (locals_.count(k)) Error("Duplicate declaration in current scope: " + name);
      Var v;
      v.type = t;
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
      }
      locals_[k] = v;
    } while (AcceptOp(","));
  }

  void ReDimStatement() {
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

  void EraseStatement() {
    ++p_;
    do {
      uint16_t target = Alloc();
      LV lv = LValue(false);
      MakeRef(lv, target);
      Emit(Op::Erase, target);
      freereg_ = target;
    } while (AcceptOp(","));
  }

  // A condition jump: jumps to the returned instruction's target when `cond` is false.
  size_t CondJumpIfFalse() {
    size_t mark = Pc();
    uint16_t mark_free = freereg_;
    Ex e = Expr();
    // Fuse a trailing comparison into the jump.
    if (e.temp && Pc() > mark) {
      Ins& last = Fn().code.back();
      if (IsComparison(last.op) && last.a == e.rk) {
        uint8_t cmp = static_cast<uint8_t>(static_cast<int>(last.op) - static_cast<int>(Op::Eq));
        uint8_t f = cmp | ((last.f & kTextCmp) ? 8 : 0) | ((last.f & kStrict) ? 16 : 0);
        uint16_t b = last.b, c = last.c;
        Fn().code.pop_back();
        freereg_ = mark_free;
        return Emit(Op::JmpCmp, 0, b, c, f);
      }
    }
    Free(e);
    return Emit(Op::JmpIfNot, 0, e.rk);
  }

  void IfStatement() {
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

  void SingleLineStatements() {
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

  void SelectStatement() {
    ++p_;
    ExpectKw("Case");
    uint16_t s = Hidden();
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

  uint8_t CmpFlags(const TypeRef& a, const TypeRef& b) const {
    uint8_t f = prog_.compare == CompareMode::Text ? kTextCmp : 0;
    if (!IsVariantLike(a) && !IsVariantLike(b)) f |= kStrict;
    return f;
  }

  void ForStatement() {
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
    uint16_t limit = Hidden();
    uint16_t step = Hidden();
    (void)step;
    Ex start = Expr();
    if (direct) Store(lv, start);
    else MoveTo(counter, Coerced(start, lv.type));
    ExpectKw("To");
    MoveTo(limit, Expr());
    if (AcceptKw("Step")) MoveTo(limit + 1, Expr());
    else Emit(Op::Move, limit + 1, Const(Value::Int(1)));
    uint8_t vt = static_cast<uint8_t>(std::min<int>(static_cast<int>(lv.type.vt), 255));
    size_t prep = Emit(Op::ForPrep, counter, limit, 0, vt);
    size_t top = Pc();
    if (!direct) StoreFromReg(lv, counter);
    loops_.push_back({LoopCtx::For, {}});
    Block({"next"});
    ExpectKw("Next");
    AddLine(t_[p_ - 1].line);
    if (Cur().kind == Tok::Ident) {
      ExpectIdent();
      // "Next j, i" closes two loops: the outer loop's Next is implied.
      if (IsOp(",")) Error("Next with several counters is not supported; close each loop with its own Next");
    }
    if (!direct) {
      Ex cur = Load(lv);
      MoveTo(counter, cur);
    }
    Emit(Op::ForLoop, counter, limit, static_cast<uint16_t>(top), vt);
    PatchC(prep, Pc());
    for (size_t j : loops_.back().exits) PatchA(j, Pc());
    loops_.pop_back();
  }

  void ForEach() {
    LV lv = LValue(false);
    ExpectKw("In");
    uint16_t state = Hidden();
    Hidden();
    uint16_t elem = Hidden();
    Ex src = Expr();
    size_t prep = Emit(Op::EachPrep, state, src.rk, 0);
    size_t top = Pc();
    size_t next = Emit(Op::EachNext, state, elem, 0);
    freereg_ = nactive_;
    StoreFromReg(lv, elem);
    loops_.push_back({LoopCtx::For, {}});
    Block({"next"});
    ExpectKw("Next");
    AddLine(t_[p_ - 1].line);
    if (Cur().kind == Tok::Ident) ExpectIdent();
    Emit(Op::Jmp, static_cast<uint16_t>(top));
    PatchC(prep, Pc());
    PatchC(next, Pc());
    for (size_t j : loops_.back().exits) PatchA(j, Pc());
    loops_.pop_back();
    Emit(Op::LoadEmpty, state);
  }

  void DoStatement() {
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

  void WhileStatement() {
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

  void ExitStatement() {
    ++p_;
    if (AcceptKw("Sub") || AcceptKw("Function")) {
      Emit(Op::Ret);
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

  // A line-number label; VBA allows whole numbers up to 2^31.
  std::string LineLabel(const Token& tk) const {
    if (!(tk.number >= 0 && tk.number <= 2147483647.0) || tk.number != std::floor(tk.number))
      throw Fail{tk.line, "Invalid line number"};
    return std::to_string(static_cast<long long>(tk.number));
  }

  std::string LabelName() {
    const Token& tk = Cur();
    if (tk.kind == Tok::Integer) {
      ++p_;
      return LineLabel(tk);
    }
    return Lower(ExpectIdent());
  }

  void GotoStatement() {
    uint32_t line = Cur().line;
    std::string name = LabelName();
    gotos_.push_back({Emit(Op::Jmp), name, line, false});
  }

  void OnStatement() {
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

  void ResumeStatement() {
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

  void WithStatement() {
    ++p_;
    uint16_t r = Hidden();
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

  bool IsMidAssignment() {
    size_t q = p_ + 1;
    int depth = 0;
    for (; q < t_.size(); ++q) {
      if (t_[q].kind == Tok::Newline || t_[q].kind == Tok::End) return false;
      if (IsOp(t_[q], "(")) ++depth;
      else if (IsOp(t_[q], ")") && --depth == 0) break;
    }
    return q + 1 < t_.size() && IsOp(t_[q + 1], "=");
  }

  void MidStatement() {
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

  void DebugPrint() {
    p_ += 2;
    if (!IsKw("Print")) Error("Expected: Print");
    ++p_;
    uint16_t base = Alloc();
    uint16_t text = Alloc();
    Emit(Op::Move, text, Const(Value::Str("")));
    while (!AtStatementEnd()) {
      if (AcceptOp(";")) continue;
      if (AcceptOp(",")) {
        Emit(Op::Cat, text, text, Const(Value::Str("\t")));
        continue;
      }
      Ex e = Expr();
      Free(e);
      Emit(Op::Cat, text, text, e.rk);
    }
    Emit(Op::CallLib, static_cast<uint16_t>(FindLibFunc("$debugprint")), base, 1);
  }

  // An assignment "x = e", or a call "name args", "obj.method args".
  void IdentStatement() {
    if (LooksLikeAssignment()) {
      Assignment(false);
      return;
    }
    CallStatement(false);
  }

  bool LooksLikeAssignment() const {
    size_t q = p_;
    if (IsOp(t_[q], ".")) ++q;
    if (t_[q].kind != Tok::Ident) return false;
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

  void Assignment(bool isSet) {
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

  // ---- calls ----
  void CallStatement(bool explicitCall) {
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

  // Arguments into consecutive registers after `base`, by value.
  uint8_t ArgList(const char* closer, uint16_t base) {
    uint8_t n = 0;
    if ((closer && IsOp(closer)) || (!closer && AtStatementEnd())) return 0;
    do {
      uint16_t slot = Alloc();
      if (slot != base + 1 + n) Error("Internal: argument registers");
      if (IsOp(",") || (closer && IsOp(closer))) Emit(Op::LoadEmpty, slot, 0, 0, 2);
      else MoveTo(slot, Expr());
      freereg_ = slot + 1;
      if (++n == 255) Error("Too many arguments");
    } while (AcceptOp(","));
    return n;
  }

  // Calls `name` (a procedure, a runtime function or a host import) with
  // arguments that follow. Returns the result operand.
  Ex CallByName(const std::string& name, const std::string& k, bool paren, bool statement) {
    const char* closer = paren ? ")" : nullptr;
    auto pit = procs_.find(k);
    uint16_t base = Alloc();
    if (pit != procs_.end()) {
      const Proc& proc = pit->second;
      if (!statement && !proc.isFunction) Error("Expected: function or variable");
      uint8_t n = 0;
      if (!((closer && IsOp(closer)) || (!closer && AtStatementEnd()))) {
        do {
          if (n >= proc.params.size()) Error("Wrong number of arguments");
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
      for (size_t i = n; i < proc.params.size(); ++i)
        if (!proc.params[i].optional) Error("Argument not optional");
      Emit(Op::Call, static_cast<uint16_t>(proc.index), base, n);
      freereg_ = base + 1;
      return Ex{base, proc.result, true};
    }
    std::string lib = k;
    if (!lib.empty() && lib.back() == '$') lib.pop_back();
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
        uint16_t slot = Alloc();
        if (IsOp(",") || (closer && IsOp(closer))) {
          Emit(Op::LoadEmpty, slot, 0, 0, 2);
        } else {
          ParamInfo any;
          any.byRef = true;
          Argument(slot, any);
        }
        freereg_ = slot + 1;
        if (++n == 255) Error("Too many arguments");
      } while (AcceptOp(","));
    }
    Emit(Op::CallHost, static_cast<uint16_t>(imp), base, n);
    freereg_ = base + 1;
    return Ex{base, T(VarType::Variant), true};
  }

  // One argument into `slot`: a reference for ByRef parameters given a
  // variable, otherwise a value converted to the parameter's type.
  void Argument(uint16_t slot, const ParamInfo& pi) {
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

  bool TryRefArgument(uint16_t slot, const ParamInfo& pi) {
    const Token& tk = Cur();
    bool dot = IsOp(tk, ".") && !withStack_.empty();
    if (!dot && tk.kind != Tok::Ident) return false;
    if (!dot) {
      const Var* v = FindVar(Lower(tk.text));
      if (!v || v->kind == Var::Constant) return false;
    }
    size_t savePos = p_, savePc = Pc();
    uint16_t saveFree = freereg_;
    try {
      LV lv = LValue(false);
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

  // ---- places ----
  LV VarPlace(const Var& v) {
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

  // Parses a designator (name, indices, members) as a place. With
  // `methodCall`, a trailing ".name" stays unresolved for a call.
  LV LValue(bool forReDim, bool methodCall = false) {
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

  // Indices up to ")" in consecutive registers; returns the first. A single
  // index that already sits in a register is used where it is.
  uint16_t IndexList(uint8_t& n) {
    uint16_t base = freereg_;
    n = 0;
    do {
      Ex e = Expr();
      if (n == 0 && !e.isConst() && !IsOp(",") && !(e.temp && e.rk >= base)) {
        ExpectOp(")");
        n = 1;
        return e.rk;
      }
      if (n == 0 && e.temp && e.rk == base && !IsOp(",")) {
        ExpectOp(")");
        n = 1;
        return base;
      }
      uint16_t r = Alloc();
      MoveTo(r, e);
      freereg_ = r + 1;
      ++n;
    } while (AcceptOp(","));
    ExpectOp(")");
    return base;
  }

  // The index of the ")" matching the "(" at q (or the line end).
  size_t MatchParen(size_t q) const {
    int depth = 0;
    for (; q + 1 < t_.size(); ++q) {
      if (t_[q].kind == Tok::Newline || t_[q].kind == Tok::End) return q > 0 ? q - 1 : q;
      if (IsOp(t_[q], "(")) ++depth;
      else if (IsOp(t_[q], ")") && --depth == 0) return q;
    }
    return q;
  }

  LV MemberPlace(const LV& owner, const std::string& member) {
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

  // The value of a place in a register (for use as an array or object).
  uint16_t Materialize(const LV& lv) {
    if (lv.kind == LV::Reg || lv.kind == LV::RefReg) return lv.reg;
    Ex e = Load(lv);
    return e.rk;
  }

  Ex Load(const LV& lv) {
    switch (lv.kind) {
      case LV::Reg:
      case LV::RefReg: return Ex{lv.reg, lv.type, false};
      default: break;
    }
    uint16_t r = Alloc();
    switch (lv.kind) {
      case LV::Global: Emit(Op::LoadG, r, lv.idx); break;
      case LV::Index: Emit(Op::Index, r, lv.reg, lv.idx, lv.count); break;
      case LV::Field: Emit(Op::GetField, r, lv.reg, lv.idx); break;
      case LV::Member: Emit(Op::GetMember, r, lv.reg, lv.idx); break;
      default: break;
    }
    return Ex{r, lv.type, true};
  }

  void MakeRef(const LV& lv, uint16_t slot) {
    switch (lv.kind) {
      case LV::Reg:
      case LV::RefReg: Emit(Op::MakeRef, slot, lv.reg); break;
      case LV::Global: Emit(Op::MakeRefG, slot, lv.idx); break;
      case LV::Index: Emit(Op::RefIndex, slot, lv.reg, lv.idx, lv.count); break;
      case LV::Field: Emit(Op::RefField, slot, lv.reg, lv.idx); break;
      case LV::Member: Emit(Op::RefMember, slot, lv.reg, lv.idx); break;
    }
  }

  // The operand converted to a declared type when the static types differ.
  Ex Coerced(Ex e, const TypeRef& type) {
    if (type.isArray || type.vt == VarType::Variant || type.vt == VarType::Record || e.type == type) return e;
    if (type.vt == VarType::Object) return e;
    Free(e);
    uint16_t r = Alloc();
    Emit(Op::Cvt, r, e.rk, static_cast<uint16_t>(type.vt));
    return Ex{r, type, true};
  }

  bool NeedsCopy(const TypeRef& source) const {
    return source.isArray || source.vt == VarType::Variant || source.vt == VarType::Record;
  }

  void Store(const LV& lv, Ex e) {
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
      case LV::Index: Emit(Op::SetIndex, lv.reg, ToReg(e), lv.idx, lv.count); return;
      case LV::Field: Emit(Op::SetField, lv.reg, e.rk, lv.idx); return;
      case LV::Member: Emit(Op::SetMember, lv.reg, ToReg(e), lv.idx); return;
    }
  }

  void StoreFromReg(const LV& lv, uint16_t reg) { Store(lv, Ex{reg, T(VarType::Variant), false}); }

  // Puts an operand into register `target`, retargeting the instruction that
  // produced a temporary when it can.
  void MoveTo(uint16_t target, Ex e) {
    if (!e.isConst() && e.rk == target) return;
    if (e.temp && !e.isConst() && Pc() > 0 && e.rk + 1 == freereg_) {
      Ins& last = Fn().code.back();
      bool retargetable = (last.op >= Op::Add && last.op <= Op::Not) || last.op == Op::LoadG || last.op == Op::Index ||
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

  uint16_t ToReg(Ex e) {
    if (!e.isConst()) return e.rk;
    uint16_t r = Alloc();
    Emit(Op::Move, r, e.rk);
    return r;
  }

  // ---- expressions (VBA precedence, lowest first) ----
  Ex Expr() { return Level(0); }

  // A numeric constant beside a Long or Double operand takes that type, so
  // the VM's same-type fast paths apply; the result type is unchanged.
  Ex Widen(Ex k, const TypeRef& other) {
    if (!k.isConst() || other.isArray) return k;
    const Value& v = ConstValue(k);
    if (other.vt == VarType::Long && v.tag == Tag::Integer) return ConstEx(Value::Lng(v.i));
    if (other.vt == VarType::Double && (v.tag == Tag::Integer || v.tag == Tag::Long)) return ConstEx(Value::Dbl(v.i));
    return k;
  }

  Ex Binary(Op op, Ex a, Ex b) {
    if (op != Op::Cat && op != Op::Like && op != Op::Is && !(a.isConst() && b.isConst())) {
      a = Widen(a, b.type);
      b = Widen(b, a.type);
    }
    TypeRef rt = ResultType(op, a.type, b.type);
    uint8_t f = (!IsVariantLike(a.type) && !IsVariantLike(b.type)) ? kStrict : 0;
    if (op >= Op::Eq && op <= Op::Like && prog_.compare == CompareMode::Text) f |= kTextCmp;
    if (a.isConst() && b.isConst() && op != Op::Is) {
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
    Emit(op, r, a.rk, b.rk, f);
    return Ex{r, rt, true};
  }

  bool AcceptWord(const char* w) {
    if (IsKw(w)) {
      ++p_;
      return true;
    }
    return false;
  }

  // Binary operators by precedence, lowest first; the Not and unary minus
  // levels have no binary operators.
  struct BinOpText {
    const char* text;
    Op op;
  };
  static const std::vector<std::vector<BinOpText>>& Levels() {
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
  static constexpr int kNotLevel = 5, kNegLevel = 12, kPowLevel = 13;

  std::optional<Op> MatchOp(int level) const {
    const Token& tk = Cur();
    for (const auto& [text, op] : Levels()[level]) {
      if (tk.kind == Tok::Op && tk.text == text) return op;
      if (tk.kind == Tok::Ident && EqualsNoCase(tk.text, text)) return op;
    }
    return std::nullopt;
  }

  Ex Level(int level) {
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

  Ex Unary(Op op, Ex a) {
    if (a.isConst()) {
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

  Ex Primary() {
    const Token& tk = Cur();
    switch (tk.kind) {
      case Tok::Integer:
      case Tok::Float: ++p_; return ConstEx(NumberValue(tk));
      case Tok::String: ++p_; return ConstEx(Value::Str(tk.text));
      case Tok::Op:
        if (tk.text == "(") {
          ++p_;
          Ex e = Expr();
          ExpectOp(")");
          return e;
        }
        if (tk.text == ".") return Postfix(WithMember());
        if (tk.text == "#") Error("Date literals are not supported");
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
    if (k == "err") return Postfix(ErrMember(false));
    if (k == "me" || k == "typeof" || k == "addressof") Error(tk.text + " is not supported");
    if (IsKeyword(tk.text) && k != "mid") Error("Expected: expression");
    return Postfix(NameExpr());
  }

  Ex WithMember() {
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

  Ex MethodCall(const LV& lv) {
    uint16_t base = Alloc();
    Emit(Op::Move, base, lv.reg);
    ExpectOp("(");
    uint8_t n = ArgList(")", base);
    ExpectOp(")");
    Emit(Op::CallMethod, base, lv.idx, 0, n);
    freereg_ = base + 1;
    return Ex{base, T(VarType::Variant), true};
  }

  // Members and indices after a value: r.field, obj.Prop, f(1)(2).
  Ex Postfix(Ex e) {
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
      if (IsOp("(") && (e.type.isArray || e.type.vt == VarType::Variant) && !e.isConst()) {
        ++p_;
        uint16_t arr = e.rk;
        uint16_t mark = freereg_;
        uint8_t n = 0;
        uint16_t base = IndexList(n);
        freereg_ = mark;
        Free(e);
        uint16_t r = Alloc();
        Emit(Op::Index, r, arr, base, n);
        TypeRef t = e.type;
        t.isArray = false;
        e = Ex{r, t, true};
        continue;
      }
      return e;
    }
  }

  Ex ErrMember(bool statement) {
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

  Ex NameExpr() {
    const Token& tk = Cur();
    std::string name = tk.text;
    std::string k = Lower(name);
    ++p_;
    const Var* v = FindVar(k);
    bool paren = IsOp("(");
    bool isSelf = proc_ && proc_->isFunction && Lower(proc_->name) == k;
    if (v && !(isSelf && paren)) {
      if (v->kind == Var::Constant) return ConstEx(v->constant);
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

  Ex CallByNameNoArgs(const std::string& name, const std::string& k) {
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

  // CallByName for expressions stops at the closing parenthesis; statement
  // calls without parentheses read to the end of the statement.

  std::vector<Token> t_;
  size_t p_ = 0;
  Program& prog_;
  std::vector<CompileError>& errors_;
  std::map<std::string, uint16_t> constIndex_;
  std::map<std::string, Proc> procs_;
  std::vector<Proc*> procOrder_;
  std::map<std::string, Var> moduleVars_;
  std::map<std::string, int> types_;
  std::map<std::string, int> imports_;
  bool optionExplicit_ = false;

  Proc* proc_ = nullptr;
  Var resultVar_;
  std::map<std::string, Var> locals_;
  uint16_t nactive_ = 0, freereg_ = 0, maxreg_ = 0;
  std::map<std::string, size_t> labels_;
  struct Goto {
    size_t at;
    std::string label;
    uint32_t line;
    bool isResumeOrHandler;
  };
  std::vector<Goto> gotos_;
  std::vector<LoopCtx> loops_;
  struct WithCtx {
    uint16_t reg;
    TypeRef type;
  };
  std::vector<WithCtx> withStack_;
  int singleIf_ = 0;
};

}  // namespace

CompileResult Compile(std::string_view source) {
  CompileResult result;
  std::vector<Token> tokens;
  try {
    tokens = Tokenize(source);
  } catch (const LexError& e) {
    result.errors.push_back({e.line, e.message});
    return result;
  }
  Compiler c(std::move(tokens), result.program, result.errors);
  c.Run();
  std::stable_sort(result.errors.begin(), result.errors.end(),
                   [](const CompileError& a, const CompileError& b) { return a.line < b.line; });
  return result;
}

}  // namespace kv::orlan
