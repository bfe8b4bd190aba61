#include "orlan/compiler_internal.h"

#include "orlan/ops.h"
#include "orlan/runtime.h"

namespace kv::orlan::detail {

TypeRef Compiler::ParseTypeName() {
  std::string name = ExpectIdent();
  std::string k = Lower(name);
  TypeRef t;
  if (k == "integer") t.vt = VarType::Integer;
  else if (k == "long") t.vt = VarType::Long;
  else if (k == "double" || k == "currency") t.vt = VarType::Double;
  else if (k == "date") t.vt = VarType::Date;
  else if (k == "single") t.vt = VarType::Single;
  else if (k == "string") t.vt = VarType::String;
  else if (k == "boolean") t.vt = VarType::Boolean;
  else if (k == "byte") t.vt = VarType::Byte;
  else if (k == "variant" || k == "any") t.vt = VarType::Variant;
  else if (k == "object" || k == "collection") t.vt = VarType::Object;
  else if (k == "new") Error("As New is not supported; use Set ... = New");
  else if (enums_.count(k)) t.vt = VarType::Long;
  else {
    // A record type of the module, or a host type (record or class) resolved at load.
    while (AcceptOp(".")) name = ExpectIdent();
    t.vt = VarType::Record;
    t.record = static_cast<int16_t>(RecordIndex(name));
  }
  return t;
}

int Compiler::RecordIndex(const std::string& name) {
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

bool Compiler::IsOwnRecord(const TypeRef& t) const {
  return t.vt == VarType::Record && t.record >= 0 && !prog_.records[t.record].external && !t.isArray;
}

TypeRef Compiler::SuffixType(char s) const {
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

TypeRef Compiler::ParseAsClause(char suffix, int* fixedLen) {
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

Value Compiler::ConstLevel(int level) {
  Nest nest(*this, exprDepth_, kMaxExpressionDepth, "Expression too complex");
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

Value Compiler::ConstFold(Op op, const Value& a, const Value& b) {
  try {
    return op == Op::Not || op == Op::Neg ? UnaryOp(op, a) : BinaryOp(op, a, b, kStrict);
  } catch (const ScriptError& e) {
    Error(e.description);
  }
}

Value Compiler::ConstUnary() {
  Nest nest(*this, exprDepth_, kMaxExpressionDepth, "Expression too complex");
  if (AcceptOp("-")) return ConstFold(Op::Neg, ConstUnary(), Value());
  if (AcceptOp("+")) return ConstUnary();
  if (AcceptKw("Not")) return ConstFold(Op::Not, ConstLevel(kNotLevel), Value());
  const Token& tk = Cur();
  if (tk.kind == Tok::Integer || tk.kind == Tok::Float) {
    ++p_;
    return NumberValue(tk);
  }
  if (tk.kind == Tok::String) {
    ++p_;
    return Value::Str(tk.text);
  }
  if (tk.kind == Tok::Date) {
    ++p_;
    return Value::DateValue(tk.number);
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
    if (auto member = EnumMember()) return Value::Lng(*member);
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

Value Compiler::CoerceConst(const Value& v, VarType t) {
  if (t == VarType::Record || t == VarType::Object) Error("Type mismatch");
  try {
    return Coerce(v, t);
  } catch (const ScriptError& e) {
    Error(e.description);
  }
}

Value Compiler::NumberValue(const Token& tk) {
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

void Compiler::PrePass(bool typesPass) {
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

void Compiler::ModuleStatement(bool typesPass) {
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

void Compiler::SkipBlock(const char* kw) {
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

void Compiler::SkipProcBody() {
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

void Compiler::TypeDecl() {
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

std::optional<int32_t> Compiler::EnumMember() {
  auto en = enums_.find(Lower(Cur().text));
  if (Cur().kind != Tok::Ident || en == enums_.end() || !IsOp(Peek(), ".")) return std::nullopt;
  p_ += 2;
  std::string member = ExpectIdent();
  auto m = en->second.find(Lower(member));
  if (m == en->second.end()) Error("Method or data member not found: " + member);
  return m->second;
}

void Compiler::CollectEnumNames() {
  for (size_t q = 0; q + 1 < t_.size(); ++q) {
    bool start = q == 0 || t_[q - 1].kind == Tok::Newline || IsKw(t_[q - 1], "Public") || IsKw(t_[q - 1], "Private");
    if (start && IsKw(t_[q], "Enum") && t_[q + 1].kind == Tok::Ident) enums_[Lower(t_[q + 1].text)];
  }
}

void Compiler::EnumDecl() {
  ExpectKw("Enum");
  auto& members = enums_[Lower(ExpectIdent())];
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
    members[Lower(name)] = next;
    ++next;
  }
}

void Compiler::ConstDecl(bool module) {
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

std::vector<ArrayObj::Dim> Compiler::ParseBounds() {
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

void Compiler::GlobalDecl(bool isPublic) {
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
      if (!WithinArrayLimit(g.dims)) Error(ErrorText(err::kOutOfMemory));
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

std::vector<ParamInfo> Compiler::ParseParams() {
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
    if (pi.paramArray) {
      // The extra arguments arrive by value as a Variant array.
      if (pi.optional || !isArray || pi.type.vt != VarType::Variant) Error("Invalid ParamArray");
      pi.byRef = false;
    }
    if (!params.empty() && params.back().paramArray) Error("ParamArray must be the last parameter");
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

void Compiler::ProcDecl(bool isPublic) {
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

void Compiler::DeclareDecl() {
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

int Compiler::ImportIndex(const std::string& name) {
  std::string k = Lower(name);
  auto it = imports_.find(k);
  if (it != imports_.end()) return it->second;
  if (prog_.imports.size() >= 0xFFFF) Error("Too many external procedures");
  prog_.imports.push_back(ImportDecl{name, false, {}});
  int idx = static_cast<int>(prog_.imports.size()) - 1;
  imports_[k] = idx;
  return idx;
}

}  // namespace kv::orlan::detail
