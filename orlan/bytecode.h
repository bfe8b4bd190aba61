// The compiled form of an Orlan module: register-machine instructions, the
// procedures, constants, record types and globals. Written by the compiler,
// stored in the code block of an .ebc file and executed by the VM.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "orlan/value.h"

namespace kv::orlan {

// Operand conventions: R = register of the current frame; RK = a register, or
// with bit 15 set a constant index; T = jump target (instruction index); G =
// global index. Comments give (a, b, c, f).
#define KV_ORLAN_OPCODES(X)                                                     \
  X(Nop)        /* */                                                           \
  X(Move)       /* R[a] = deref RK[b] */                                        \
  X(Copy)       /* R[a] = deep copy of RK[b] (assignment of records/arrays) */  \
  X(LoadEmpty)  /* R[a] = Empty; f=1 Nothing, f=2 Missing */                    \
  X(LoadG)      /* R[a] = G[b] */                                               \
  X(StoreG)     /* G[a] = RK[b]; f=1 deep copy */                               \
  X(SetRef)     /* *R[a] = RK[b] (writes through a ByRef); f=1 deep copy */     \
  X(MakeRef)    /* R[a] = reference to R[b] (passes a ByRef on as is) */        \
  X(MakeRefG)   /* R[a] = reference to G[b] */                                  \
  X(Cvt)        /* R[a] = RK[b] converted to VarType c */                       \
  X(Add)        /* R[a] = RK[b] op RK[c]; f bit0: typed operands, overflow raises */ \
  X(Sub)                                                                        \
  X(Mul)                                                                        \
  X(Div)                                                                        \
  X(IDiv)                                                                       \
  X(Mod)                                                                        \
  X(Pow)                                                                        \
  X(Cat)                                                                        \
  X(And)                                                                        \
  X(Or)                                                                         \
  X(Xor)                                                                        \
  X(Eqv)                                                                        \
  X(Imp)                                                                        \
  X(Eq)         /* R[a] = RK[b] cmp RK[c]; f bit1: text compare */              \
  X(Ne)                                                                         \
  X(Lt)                                                                         \
  X(Le)                                                                         \
  X(Gt)                                                                         \
  X(Ge)                                                                         \
  X(Like)                                                                       \
  X(Is)                                                                         \
  X(Neg)        /* R[a] = -RK[b] */                                             \
  X(Not)        /* R[a] = Not RK[b] */                                          \
  X(Jmp)        /* goto T[a] */                                                 \
  X(JmpIf)      /* if RK[b] then goto T[a] */                                   \
  X(JmpIfNot)   /* if not RK[b] then goto T[a] */                               \
  X(JmpCmp)     /* if not (RK[b] cmp(f&7) RK[c]) goto T[a]; flags: JumpFlagsOf */\
  X(ForPrep)    /* counter R[a], limit R[b], step R[b+1]: if done goto T[c] */  \
  X(ForLoop)    /* R[a] += step; if not done goto T[c] */                       \
  X(EachPrep)   /* state R[a..a+1] = (array RK[b], 0); empty: goto T[c] */      \
  X(EachNext)   /* R[b] = next element of state R[a], or goto T[c] */           \
  X(Call)       /* procedure a, frame at R[b], c arguments; result in R[b] */   \
  X(CallHost)   /* import a, frame at R[b], c arguments */                      \
  X(CallLib)    /* runtime function a, frame at R[b], c arguments */            \
  X(Ret)                                                                        \
  X(Index)      /* R[a] = R[b](R[c] ... f indices) */                           \
  X(SetIndex)   /* R[a](R[c] ... f indices) = R[b] */                           \
  X(RefIndex)   /* R[a] = reference to R[b](R[c] ... f indices) */              \
  X(GetField)   /* R[a] = R[b].field c */                                       \
  X(SetField)   /* R[a].field c = RK[b] */                                      \
  X(RefField)   /* R[a] = reference to R[b].field c */                          \
  X(GetMember)  /* R[a] = R[b].(name K[c]) */                                   \
  X(SetMember)  /* R[a].(name K[c]) = RK[b]; f=1 Set */                         \
  X(RefMember)  /* R[a] = reference to R[b].(name K[c]) */                      \
  X(CallMethod) /* R[a] = R[a].(name K[b])(R[a+1] ... f arguments); c=1 statement */ \
  X(NewObject)  /* R[a] = New (class name K[b]) */                              \
  X(ReDim)      /* array var R[a], bounds R[b..] (lower, upper) x c; f=1 Preserve */ \
  X(Erase)      /* array var R[a] */                                            \
  X(OnError)    /* f: 0 GoTo 0, 1 Resume Next, 2 GoTo T[a] */                  \
  X(Resume)     /* f: 0 Resume, 1 Resume Next, 2 Resume T[a] */                 \
  X(EndProgram)                                                                 \
  /* Typed forms: the generic instruction with registers b and c, and with a */ \
  /* fast path for operands holding the named type; anything else takes the */  \
  /* generic path, so they never change a result. L Long, I Integer, D Double. */ \
  X(AddL) X(SubL) X(MulL) X(AddI) X(SubI) X(MulI) X(AddD) X(SubD) X(MulD)       \
  X(AndL) X(OrL)                                                                \
  /* JmpCmp with the comparison in the opcode (f as JmpCmp's) */                \
  X(JmpCmpEq) X(JmpCmpNe) X(JmpCmpLt) X(JmpCmpLe) X(JmpCmpGt) X(JmpCmpGe)       \
  X(ForInc)     /* ForLoop whose step is the constant 1 */                     \
  /* Typed forms whose b is a register and c a constant */                      \
  X(AddLK) X(SubLK) X(MulLK) X(AddIK) X(SubIK) X(MulIK) X(AddDK) X(SubDK) X(MulDK) \
  X(AndLK) X(OrLK)                                                              \
  X(IndexOff)    /* R[a] = R[b](R[c] + f), f signed; R[c] + f adds as AddLK */  \
  X(SetIndexOff) /* R[a](R[c] + f) = RK[b], f signed */                        \
  X(GoSub)       /* push the next instruction on the frame's GoSub stack, goto T[a] */ \
  X(Return)      /* pop the frame's GoSub stack and continue there */            \
  X(SetErl)      /* the numeric line label a | b << 16 was reached (Erl) */    \
  X(ConstRef)    /* R[a] = reference to K[b]: a host argument read in place */

enum class Op : uint8_t {
#define KV_ORLAN_ENUM(name) name,
  KV_ORLAN_OPCODES(KV_ORLAN_ENUM)
#undef KV_ORLAN_ENUM
      Count
};

const char* OpName(Op op);

struct Ins {
  Op op;
  uint8_t f;
  uint16_t a, b, c;
};
static_assert(sizeof(Ins) == 8);

inline constexpr uint16_t kConstBit = 0x8000;

// The typed form of Add, Sub, Mul, And or Or for operands both of `vt`
// (the constant form when `c` is a constant), or `op` itself when there is none.
Op TypedOp(Op op, VarType vt, bool constantC);
// The generic instruction a typed form stands for (`op` itself otherwise).
Op GenericOp(Op op);
// Whether a typed form takes b from the registers and c from the constants.
bool ConstantFormOp(Op op);

// A type as declared: base type, record type index and array flag.
struct TypeRef {
  VarType vt = VarType::Variant;
  int16_t record = -1;
  bool isArray = false;
  bool operator==(const TypeRef&) const = default;
};

struct ParamInfo {
  std::string name;
  TypeRef type;
  bool byRef = true;
  bool optional = false;
  bool paramArray = false;
  int32_t defaultConst = -1;  // constant index of the Optional default
};

// A declared local needing a non-Empty start value at procedure entry.
struct LocalInit {
  uint16_t slot;
  TypeRef type;
  std::vector<ArrayObj::Dim> dims;  // fixed arrays only
};

// Where each statement begins, for error lines and Resume.
struct LineEntry {
  uint32_t pc;
  uint32_t line;
};

struct Function {
  std::string name;
  bool isFunction = false;
  bool isPublic = true;
  TypeRef result;
  std::vector<ParamInfo> params;
  uint16_t numRegs = 1;  // slot 0 result, 1..n parameters, then locals and temporaries
  std::vector<Ins> code;
  std::vector<LineEntry> lines;
  std::vector<LocalInit> inits;
};

struct GlobalInfo {
  std::string name;
  TypeRef type;
  std::vector<ArrayObj::Dim> dims;
  bool isPublic = false;
};

// A record type of the module (fields) or one the host provides (external,
// resolved by name when a script object is made).
struct RecordDecl {
  std::string name;
  bool external = false;
  std::vector<RecordField> fields;
};

// A procedure the module calls but does not define: a host library
// function or a Declare. Resolved by name when a script object is made.
struct ImportDecl {
  std::string name;
  bool isDeclare = false;  // Declare ... Lib: not bound to native libraries
  std::string library;
};

enum class CompareMode : uint8_t { Binary = 0, Text = 1 };

struct Program {
  std::vector<Value> constants;  // Integer, Long, Double, Single, String, Boolean
  std::vector<RecordDecl> records;
  std::vector<GlobalInfo> globals;
  std::vector<Function> functions;
  std::vector<ImportDecl> imports;
  CompareMode compare = CompareMode::Binary;
  int optionBase = 0;

  int FindFunction(std::string_view name) const;
};

}  // namespace kv::orlan
