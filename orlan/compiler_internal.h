// The compiler's one class, shared by the files that compile declarations
// (compiler_declarations.cpp), statements (compiler_statements.cpp) and
// expressions (compiler_expressions.cpp). Internal to kv_orlan.
#pragma once

#include <algorithm>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "orlan/compiler.h"
#include "orlan/lexer.h"
#include "platform/text.h"

namespace kv::orlan::detail {

struct Fail {
  uint32_t line;
  std::string message;
};

// An error after which the rest of the procedure is not compiled.
struct AbandonProcedure {
  Fail fail;
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

inline TypeRef T(VarType vt) { return TypeRef{vt, -1, false}; }
inline bool IsVariantLike(const TypeRef& t) {
  return t.vt == VarType::Variant || t.isArray || t.vt == VarType::Record || t.vt == VarType::Object;
}
inline std::string Lower(std::string_view s) { return ToLower1252(s); }

inline bool IsComparison(Op op) { return op >= Op::Eq && op <= Op::Ge; }

class Compiler {
 public:
  Compiler(std::vector<Token> tokens, Program& prog, std::vector<CompileError>& errors, bool optimize)
      : t_(std::move(tokens)), prog_(prog), errors_(errors), optimize_(optimize) {}

  void Run();

 private:
  // ---- tokens ----
  const Token& Cur() const { return t_[p_]; }
  const Token& Peek(size_t k = 1) const { return t_[std::min(p_ + k, t_.size() - 1)]; }
  bool IsKw(const Token& t, const char* kw) const { return t.kind == Tok::Ident && EqualsNoCase(t.text, kw); }
  bool IsKw(const char* kw) const { return IsKw(Cur(), kw); }
  bool IsOp(const Token& t, const char* op) const { return t.kind == Tok::Op && t.text == op; }
  bool IsOp(const char* op) const { return IsOp(Cur(), op); }
  bool AcceptKw(const char* kw);
  bool AcceptOp(const char* op);
  [[noreturn]] void Error(const std::string& msg) const { throw Fail{Cur().line, msg}; }
  void ExpectKw(const char* kw);
  void ExpectOp(const char* op);
  std::string ExpectIdent();
  bool AtStatementEnd() const;
  void ExpectStatementEnd();
  void SkipLine();
  void SkipSeparators();
  void Report(const Fail& f) {
    if (!f.message.empty()) errors_.push_back({f.line, f.message});
  }

  // ---- constants ----
  uint16_t Const(const Value& v);
  Ex ConstEx(const Value& v);
  const Value& ConstValue(const Ex& e) const { return prog_.constants[e.rk & 0x7FFF]; }

  // ---- types ----
  TypeRef ParseTypeName();
  int RecordIndex(const std::string& name);
  bool IsOwnRecord(const TypeRef& t) const;
  TypeRef SuffixType(char s) const;
  // "[As Type]" after a name with an optional type character.
  TypeRef ParseAsClause(char suffix, int* fixedLen = nullptr);

  // ---- constant expressions (Const, bounds, defaults) ----
  Value ConstExpr() { return ConstLevel(0); }
  Value ConstLevel(int level);
  Value ConstFold(Op op, const Value& a, const Value& b);
  Value ConstUnary();
  Value CoerceConst(const Value& v, VarType t);
  Value NumberValue(const Token& tk);

  // ---- module level ----
  void PrePass(bool typesPass);
  void ModuleStatement(bool typesPass);
  void SkipBlock(const char* kw);
  void SkipProcBody();
  void TypeDecl();
  void EnumDecl();
  // Enum names anywhere in the module, so that a Type field may name one declared later.
  void CollectEnumNames();
  // "Fruits.Apple" at the current token: the member's value, the tokens read.
  std::optional<int32_t> EnumMember();
  void ConstDecl(bool module);

  std::vector<ArrayObj::Dim> ParseBounds();
  void GlobalDecl(bool isPublic);

  std::vector<ParamInfo> ParseParams();
  void ProcDecl(bool isPublic);
  void DeclareDecl();
  int ImportIndex(const std::string& name);

  // ---- procedures ----
  Function& Fn() { return prog_.functions[proc_->index]; }
  size_t Pc() { return Fn().code.size(); }
  size_t Emit(Op op, uint16_t a = 0, uint16_t b = 0, uint16_t c = 0, uint8_t f = 0);
  void PatchA(size_t at, size_t target) { Fn().code[at].a = static_cast<uint16_t>(target); }
  void PatchC(size_t at, size_t target) { Fn().code[at].c = static_cast<uint16_t>(target); }
  uint16_t Alloc();
  void Free(const Ex& e);
  uint16_t Hidden();
  // Hidden registers of a With, For or Select block.
  uint16_t BlockRegisters(int count);
  void CompileProc(Proc& proc);

  // Dim and Static declare for the whole procedure: their registers are
  // assigned and initialised at entry, before any statement runs, so no
  // earlier temporary can share a local's register.
  void HoistDeclarations();
  void SkipDeclaration();
  void RaiseForOversizedLocal();

  // Names assigned without a Dim become Variant locals, as VBA allows
  // without Option Explicit. Collected up front so registers stay stable.
  void DeclareImplicitLocals();
  static bool IsKeyword(const std::string& s);
  void AddInit(uint16_t slot, const TypeRef& type, std::vector<ArrayObj::Dim> dims);
  void AddLine(uint32_t line);
  const Var* FindVar(const std::string& k) const;

  // VBA's named constants (vbCrLf, vbYesNo, ...), shadowed by the module's names.
  static const Var* BuiltinConstant(const std::string& k);

  // ---- statements ----
  bool AtBlockEnd(const std::vector<const char*>& enders) const;

  // "End If" for the enders {"elseif", "else", "end if"}: the block's closing words.
  static std::string Expected(const std::vector<const char*>& enders);
  // Compiles statements until one of `enders` begins a statement; leaves it unread.
  void Block(const std::vector<const char*>& enders);
  // Reports an error of the statement that began at `start` and skips to the next line.
  void Recover(const Fail& f, size_t start);
  void LabelAndStatement();
  void Statement();
  void DimStatement(bool isStatic);
  void ReDimStatement();
  void EraseStatement();

  // A condition jump: jumps to the returned instruction's target when `cond` is false.
  size_t CondJumpIfFalse();
  void IfStatement();
  void SingleLineStatements();
  void SelectStatement();
  uint8_t CmpFlags(const TypeRef& a, const TypeRef& b) const;
  void ForStatement();
  void ForEach();
  // "Next", "Next i" or "Next j, i" (which also closes the enclosing loop).
  void ExpectNext();
  void DoStatement();
  void WhileStatement();
  void ExitStatement();

  // A line-number label; VBA allows whole numbers up to 2^31.
  std::string LineLabel(const Token& tk) const;

  std::string LabelName();
  void GotoStatement();
  void OnStatement();
  void ResumeStatement();
  void WithStatement();
  bool IsMidAssignment();
  void MidStatement();
  // Print items separated by ";" or "," appended to `text`; true when a
  // separator ends the statement.
  bool PrintItems(uint16_t text);
  void DebugPrint();
  // "Print a; b,": the module's or the host's Print takes the whole line.
  void PrintStatement();
  void CallPrint();
  void ReservePrintLine();
  void EmitReturn();

  // An assignment "x = e", or a call "name args", "obj.method args".
  void IdentStatement();
  bool LooksLikeAssignment() const;
  void Assignment(bool isSet);

  // ---- calls ----
  void CallStatement(bool explicitCall);

  // Arguments into consecutive registers after `base`, by value.
  uint8_t ArgList(const char* closer, uint16_t base);

  // Calls `name` (a procedure, a runtime function or a host import) with
  // arguments that follow. Returns the result operand.
  Ex CallByName(const std::string& name, const std::string& k, bool paren, bool statement);

  // "name:=value" next in an argument list.
  bool IsNamedArgument() const;
  // The arguments from here on into a Variant array in the next register.
  void ParamArrayArguments(const char* closer);
  // Named arguments after `given` positional ones into their parameters'
  // registers after `base`; returns the argument count of the call.
  uint8_t NamedArguments(const Proc& proc, uint16_t base, uint8_t given);

  // One argument into `slot`: a reference for ByRef parameters given a
  // variable, otherwise a value converted to the parameter's type.
  void Argument(uint16_t slot, const ParamInfo& pi);
  bool TryRefArgument(uint16_t slot, const ParamInfo& pi);

  // ---- places ----
  LV VarPlace(const Var& v);

  // Parses a designator (name, indices, members) as a place. With
  // `methodCall`, a trailing ".name" stays unresolved for a call.
  LV LValue(bool forReDim, bool methodCall = false);

  // Indices up to ")" in consecutive registers; returns the first. A single
  // index that already sits in a register is used where it is.
  uint16_t IndexList(uint8_t& n);
  // "a(j + k)": when the last instruction adds a small Long constant k to
  // register j into the temporary `index`, it is removed and the element
  // access adds k itself (IndexOff, SetIndexOff).
  bool FoldIndexOffset(uint16_t index, uint16_t& reg, uint8_t& offset);

  // The index of the ")" matching the "(" at q (or the line end).
  size_t MatchParen(size_t q) const;
  LV MemberPlace(const LV& owner, const std::string& member);

  // The value of a place in a register (for use as an array or object).
  uint16_t Materialize(const LV& lv);
  Ex Load(const LV& lv);
  void MakeRef(const LV& lv, uint16_t slot);

  // The operand converted to a declared type when the static types differ.
  Ex Coerced(Ex e, const TypeRef& type);
  bool NeedsCopy(const TypeRef& source) const;
  void Store(const LV& lv, Ex e);

  void StoreFromReg(const LV& lv, uint16_t reg) { Store(lv, Ex{reg, T(VarType::Variant), false}); }

  // Puts an operand into register `target`, retargeting the instruction that
  // produced a temporary when it can.
  void MoveTo(uint16_t target, Ex e);
  uint16_t ToReg(Ex e);

  // ---- expressions (VBA precedence, lowest first) ----
  Ex Expr() { return Level(0); }

  // A numeric constant beside a Long or Double operand takes that type, so
  // the VM's same-type fast paths apply; the result type is unchanged.
  Ex Widen(Ex k, const TypeRef& other);
  Ex Binary(Op op, Ex a, Ex b);
  bool AcceptWord(const char* w);

  // Binary operators by precedence, lowest first; the Not and unary minus
  // levels have no binary operators.
  struct BinOpText {
    const char* text;
    Op op;
  };
  static const std::vector<std::vector<BinOpText>>& Levels();
  static constexpr int kNotLevel = 5, kNegLevel = 12, kPowLevel = 13;

  std::optional<Op> MatchOp(int level) const;
  Ex Level(int level);
  Ex Unary(Op op, Ex a);
  Ex Primary();
  Ex WithMember();
  Ex MethodCall(const LV& lv);

  // Members and indices after a value: r.field, obj.Prop, f(1)(2).
  Ex Postfix(Ex e);
  Ex ErrMember(bool statement);
  Ex NameExpr();
  Ex CallByNameNoArgs(const std::string& name, const std::string& k);


  std::vector<Token> t_;
  size_t p_ = 0;
  Program& prog_;
  std::vector<CompileError>& errors_;
  std::map<std::string, uint16_t> constIndex_;
  std::map<std::string, Proc> procs_;
  std::vector<Proc*> procOrder_;
  std::map<std::string, Var> moduleVars_;
  std::map<std::string, int> types_;
  // Enum names (they declare Long values) with their members, for "Fruits.Apple".
  std::map<std::string, std::map<std::string, int32_t>> enums_;
  std::map<std::string, int> imports_;
  bool optionExplicit_ = false;
  const bool optimize_;
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
  bool nextContinues_ = false;
  // Bounds on the parser's recursion, so that hostile nesting is an error
  // rather than a stack overflow.
  static constexpr int kMaxExpressionDepth = 1500;  // precedence levels, about 100 parentheses
  static constexpr int kMaxBlockDepth = 250;
  int exprDepth_ = 0, blockDepth_ = 0;
  class Nest {
   public:
    Nest(const Compiler& c, int& depth, int limit, const char* message, bool abandon = false) : depth_(depth) {
      if (++depth_ > limit) {
        --depth_;
        if (abandon) throw AbandonProcedure{Fail{c.Cur().line, message}};
        c.Error(message);
      }
    }
    ~Nest() { --depth_; }
    Nest(const Nest&) = delete;
    Nest& operator=(const Nest&) = delete;

   private:
    int& depth_;
  };
  struct Oversized {
    uint32_t line = 0;
    uint16_t slot = 0;
    std::vector<ArrayObj::Dim> dims;
  } oversized_;  // the first local array beyond the element limit
  size_t unclosedAt_ = SIZE_MAX;  // where an open block was last reported
  static constexpr uint16_t kNoRegister = 0xFFFF;
  uint16_t pendingPrint_ = kNoRegister;  // the open Print line of the procedure
};

}  // namespace kv::orlan::detail
