#include "orlan/codefile.h"

#include <cstdio>
#include <cstring>
#include <iterator>

#include "orlan/dates.h"
#include "orlan/runtime.h"
#include "platform/byte_reader.h"

namespace kv::orlan {
namespace {

constexpr char kSignature[4] = {'O', 'R', 'L', 'B'};

class Writer {
 public:
  void U8(uint8_t v) { out.push_back(v); }
  void U16(uint16_t v) {
    U8(v & 0xFF);
    U8(v >> 8);
  }
  void U32(uint32_t v) {
    U16(v & 0xFFFF);
    U16(v >> 16);
  }
  void U64(uint64_t v) {
    U32(static_cast<uint32_t>(v));
    U32(static_cast<uint32_t>(v >> 32));
  }
  void Str(const std::string& s) {
    U32(static_cast<uint32_t>(s.size()));
    out.insert(out.end(), s.begin(), s.end());
  }
  void Type(const TypeRef& t) {
    U16(static_cast<uint16_t>(t.vt));
    U16(static_cast<uint16_t>(t.record));
    U8(t.isArray ? 1 : 0);
  }
  void Dims(const std::vector<ArrayObj::Dim>& dims) {
    U32(static_cast<uint32_t>(dims.size()));
    for (const auto& d : dims) {
      U32(static_cast<uint32_t>(d.lower));
      U32(static_cast<uint32_t>(d.count));
    }
  }
  std::vector<uint8_t> out;
};

struct Truncated {};

void ThrowTruncated(const void*) { throw Truncated{}; }

class Reader : public ByteReader {
 public:
  explicit Reader(std::span<const uint8_t> b) : ByteReader(b, ThrowTruncated) {}
  // A count of elements of at least `minSize` bytes each; bounded by what is left.
  uint32_t Count(size_t minSize) {
    uint32_t n = U32();
    if (static_cast<uint64_t>(n) * minSize > Remaining()) throw Truncated{};
    return n;
  }
  std::string Str() {
    const auto chars = Take(Count(1));
    return std::string(chars.begin(), chars.end());
  }
  TypeRef Type() {
    TypeRef t;
    t.vt = static_cast<VarType>(U16());
    t.record = static_cast<int16_t>(U16());
    t.isArray = U8() != 0;
    return t;
  }
  std::vector<ArrayObj::Dim> Dims() {
    std::vector<ArrayObj::Dim> dims(Count(8));
    for (auto& d : dims) {
      d.lower = static_cast<int32_t>(U32());
      d.count = static_cast<int32_t>(U32());
    }
    return dims;
  }
};

bool ValidVarType(VarType t) {
  switch (t) {
    case VarType::Integer:
    case VarType::Long:
    case VarType::Single:
    case VarType::Double:
    case VarType::Date:
    case VarType::String:
    case VarType::Object:
    case VarType::Boolean:
    case VarType::Variant:
    case VarType::Byte:
    case VarType::Record: return true;
    default: return false;
  }
}

}  // namespace

std::vector<uint8_t> WriteCodeBlock(const Program& p) {
  Writer w;
  for (char c : kSignature) w.U8(static_cast<uint8_t>(c));
  w.U16(kCodeBlockVersion);
  w.U8(static_cast<uint8_t>(p.optionBase));
  w.U8(static_cast<uint8_t>(p.compare));
  w.U32(static_cast<uint32_t>(p.constants.size()));
  for (const Value& v : p.constants) {
    w.U8(static_cast<uint8_t>(v.tag));
    switch (v.tag) {
      case Tag::Integer:
      case Tag::Long:
      case Tag::Boolean: w.U32(static_cast<uint32_t>(v.i)); break;
      case Tag::Single: {
        uint32_t bits;
        std::memcpy(&bits, &v.f, 4);
        w.U32(bits);
        break;
      }
      case Tag::Double:
      case Tag::Date: {
        uint64_t bits;
        std::memcpy(&bits, &v.d, 8);
        w.U64(bits);
        break;
      }
      case Tag::String: w.Str(StrOf(v)); break;
      default: break;
    }
  }
  w.U32(static_cast<uint32_t>(p.records.size()));
  for (const auto& r : p.records) {
    w.Str(r.name);
    w.U8(r.external ? 1 : 0);
    w.U32(static_cast<uint32_t>(r.fields.size()));
    for (const auto& f : r.fields) {
      w.Str(f.name);
      w.U16(static_cast<uint16_t>(f.type));
      w.U16(static_cast<uint16_t>(f.recordType));
      w.U32(static_cast<uint32_t>(f.fixedLength));
    }
  }
  w.U32(static_cast<uint32_t>(p.globals.size()));
  for (const auto& g : p.globals) {
    w.Str(g.name);
    w.Type(g.type);
    w.U8(g.isPublic ? 1 : 0);
    w.Dims(g.dims);
  }
  w.U32(static_cast<uint32_t>(p.imports.size()));
  for (const auto& im : p.imports) {
    w.Str(im.name);
    w.U8(im.isDeclare ? 1 : 0);
    w.Str(im.library);
  }
  w.U32(static_cast<uint32_t>(p.functions.size()));
  for (const auto& f : p.functions) {
    w.Str(f.name);
    w.U8(f.isFunction ? 1 : 0);
    w.U8(f.isPublic ? 1 : 0);
    w.Type(f.result);
    w.U32(static_cast<uint32_t>(f.params.size()));
    for (const auto& pi : f.params) {
      w.Str(pi.name);
      w.Type(pi.type);
      w.U8(static_cast<uint8_t>((pi.byRef ? 1 : 0) | (pi.optional ? 2 : 0) | (pi.paramArray ? 4 : 0)));
      w.U32(static_cast<uint32_t>(pi.defaultConst));
    }
    w.U16(f.numRegs);
    w.U32(static_cast<uint32_t>(f.code.size()));
    for (const Ins& in : f.code) {
      w.U8(static_cast<uint8_t>(in.op));
      w.U8(in.f);
      w.U16(in.a);
      w.U16(in.b);
      w.U16(in.c);
    }
    w.U32(static_cast<uint32_t>(f.lines.size()));
    for (const auto& l : f.lines) {
      w.U32(l.pc);
      w.U32(l.line);
    }
    w.U32(static_cast<uint32_t>(f.inits.size()));
    for (const auto& li : f.inits) {
      w.U16(li.slot);
      w.Type(li.type);
      w.Dims(li.dims);
    }
  }
  return std::move(w.out);
}

bool ReadCodeBlock(std::span<const uint8_t> bytes, Program& p, std::string& error) {
  p = Program{};
  try {
    Reader r(bytes);
    for (char c : kSignature)
      if (r.U8() != static_cast<uint8_t>(c)) {
        error = "not an Orlan code block";
        return false;
      }
    if (r.U16() != kCodeBlockVersion) {
      error = "unsupported code block version";
      return false;
    }
    p.optionBase = r.U8();
    p.compare = static_cast<CompareMode>(r.U8());
    uint32_t nk = r.Count(1);
    for (uint32_t i = 0; i < nk; ++i) {
      Tag tag = static_cast<Tag>(r.U8());
      switch (tag) {
        case Tag::Integer: p.constants.push_back(Value::Int(static_cast<int16_t>(r.U32()))); break;
        case Tag::Long: p.constants.push_back(Value::Lng(static_cast<int32_t>(r.U32()))); break;
        case Tag::Boolean: p.constants.push_back(Value::Bool(r.U32() != 0)); break;
        case Tag::Single: {
          uint32_t bits = r.U32();
          float f;
          std::memcpy(&f, &bits, 4);
          p.constants.push_back(Value::Sng(f));
          break;
        }
        case Tag::Double:
        case Tag::Date: {
          uint64_t bits = r.U64();
          double d;
          std::memcpy(&d, &bits, 8);
          if (tag == Tag::Date && !InDateRange(d)) {
            error = "bad constant";
            return false;
          }
          p.constants.push_back(tag == Tag::Date ? Value::DateValue(d) : Value::Dbl(d));
          break;
        }
        case Tag::String: p.constants.push_back(Value::Str(r.Str())); break;
        default: error = "bad constant"; return false;
      }
    }
    uint32_t nr = r.Count(9);
    for (uint32_t i = 0; i < nr; ++i) {
      RecordDecl d;
      d.name = r.Str();
      d.external = r.U8() != 0;
      uint32_t nf = r.Count(12);
      for (uint32_t k = 0; k < nf; ++k) {
        RecordField f;
        f.name = r.Str();
        f.type = static_cast<VarType>(r.U16());
        f.recordType = static_cast<int16_t>(r.U16());
        f.fixedLength = static_cast<int32_t>(r.U32());
        d.fields.push_back(f);
      }
      p.records.push_back(std::move(d));
    }
    uint32_t ng = r.Count(14);
    for (uint32_t i = 0; i < ng; ++i) {
      GlobalInfo g;
      g.name = r.Str();
      g.type = r.Type();
      g.isPublic = r.U8() != 0;
      g.dims = r.Dims();
      p.globals.push_back(std::move(g));
    }
    uint32_t ni = r.Count(9);
    for (uint32_t i = 0; i < ni; ++i) {
      ImportDecl im;
      im.name = r.Str();
      im.isDeclare = r.U8() != 0;
      im.library = r.Str();
      p.imports.push_back(std::move(im));
    }
    uint32_t nfn = r.Count(20);
    for (uint32_t i = 0; i < nfn; ++i) {
      Function f;
      f.name = r.Str();
      f.isFunction = r.U8() != 0;
      f.isPublic = r.U8() != 0;
      f.result = r.Type();
      uint32_t np = r.Count(14);
      for (uint32_t k = 0; k < np; ++k) {
        ParamInfo pi;
        pi.name = r.Str();
        pi.type = r.Type();
        uint8_t flags = r.U8();
        pi.byRef = flags & 1;
        pi.optional = flags & 2;
        pi.paramArray = flags & 4;
        pi.defaultConst = static_cast<int32_t>(r.U32());
        f.params.push_back(std::move(pi));
      }
      f.numRegs = r.U16();
      uint32_t nc = r.Count(8);
      f.code.reserve(nc);
      for (uint32_t k = 0; k < nc; ++k) {
        Ins in;
        in.op = static_cast<Op>(r.U8());
        in.f = r.U8();
        in.a = r.U16();
        in.b = r.U16();
        in.c = r.U16();
        f.code.push_back(in);
      }
      uint32_t nl = r.Count(8);
      for (uint32_t k = 0; k < nl; ++k) {
        LineEntry e;
        e.pc = r.U32();
        e.line = r.U32();
        f.lines.push_back(e);
      }
      uint32_t nin = r.Count(11);
      for (uint32_t k = 0; k < nin; ++k) {
        LocalInit li;
        li.slot = r.U16();
        li.type = r.Type();
        li.dims = r.Dims();
        f.inits.push_back(std::move(li));
      }
      p.functions.push_back(std::move(f));
    }
    if (!r.AtEnd()) {
      error = "trailing bytes after the code block";
      return false;
    }
  } catch (const Truncated&) {
    error = "code block is truncated";
    return false;
  }
  return VerifyProgram(p, error);
}

bool VerifyProgram(const Program& p, std::string& error) {
  const size_t nk = p.constants.size(), nr = p.records.size(), ng = p.globals.size(), ni = p.imports.size(),
               nf = p.functions.size();
  auto fail = [&](const std::string& where, const std::string& what) {
    error = where + ": " + what;
    return false;
  };
  auto typeOk = [&](const TypeRef& t) {
    if (!ValidVarType(t.vt)) return false;
    if (t.vt == VarType::Record) return t.record >= 0 && static_cast<size_t>(t.record) < nr;
    return t.record == -1;
  };
  auto dimsOk = [](const std::vector<ArrayObj::Dim>& dims) {
    if (dims.size() > 60) return false;
    for (const auto& d : dims)
      if (d.count < 0 || static_cast<int64_t>(d.lower) + d.count - 1 > INT32_MAX) return false;
    return WithinArrayLimit(dims);
  };
  if (p.optionBase != 0 && p.optionBase != 1) return fail("module", "bad Option Base");
  if (p.compare != CompareMode::Binary && p.compare != CompareMode::Text) return fail("module", "bad Option Compare");
  if (nk > 0x7FFF) return fail("module", "too many constants");
  for (const auto& r : p.records) {
    for (const auto& f : r.fields) {
      if (!ValidVarType(f.type) || f.fixedLength < 0 || f.fixedLength > 65535) return fail(r.name, "bad field");
      if (f.type == VarType::Record ? (f.recordType < 0 || static_cast<size_t>(f.recordType) >= nr) : f.recordType != -1)
        return fail(r.name, "bad field record type");
    }
    if (r.external && !r.fields.empty()) return fail(r.name, "host record type with fields");
  }
  for (const auto& g : p.globals) {
    if (!typeOk(g.type) || !dimsOk(g.dims) || (!g.dims.empty() && !g.type.isArray)) return fail(g.name, "bad global");
  }
  if (ng > 0xFFFF || ni > 0xFFFF || nf > 0xFFFF) return fail("module", "too many entries");
  const int nlib = LibFuncCount();
  for (const Function& f : p.functions) {
    const std::string& w = f.name;
    if (!typeOk(f.result)) return fail(w, "bad result type");
    if (f.params.size() > 255) return fail(w, "too many parameters");
    for (const auto& pi : f.params) {
      if (!typeOk(pi.type)) return fail(w, "bad parameter type");
      if (pi.paramArray && (&pi != &f.params.back() || pi.optional || pi.byRef || pi.type != TypeRef{VarType::Variant, -1, true}))
        return fail(w, "bad ParamArray");
      if (pi.defaultConst < -1 || pi.defaultConst >= static_cast<int32_t>(nk)) return fail(w, "bad default");
    }
    const uint32_t regs = f.numRegs;
    if (regs < 1 + f.params.size() || regs > 0x7FFF) return fail(w, "bad register count");
    const size_t nc = f.code.size();
    if (nc == 0 || nc > 0xFFFF || f.code.back().op != Op::Ret) return fail(w, "code must end with Ret");
    auto R = [&](uint32_t r) { return r < regs; };
    auto RK = [&](uint16_t x) { return (x & kConstBit) ? (x & 0x7FFF) < nk : x < regs; };
    auto Tg = [&](uint32_t t) { return t < nc; };
    auto Name = [&](uint16_t x) { return (x & kConstBit) && (x & 0x7FFF) < nk && p.constants[x & 0x7FFF].tag == Tag::String; };
    for (size_t pc = 0; pc < nc; ++pc) {
      const Ins& in = f.code[pc];
      bool ok = true;
      switch (GenericOp(in.op)) {
        case Op::Nop:
        case Op::Ret:
        case Op::EndProgram: break;
        case Op::Move:
        case Op::Copy:
        case Op::Neg:
        case Op::Not: ok = R(in.a) && RK(in.b); break;
        case Op::LoadEmpty: ok = R(in.a) && in.f <= 3; break;
        case Op::LoadG: ok = R(in.a) && in.b < ng; break;
        case Op::StoreG: ok = in.a < ng && RK(in.b); break;
        case Op::SetRef: ok = R(in.a) && RK(in.b); break;
        case Op::MakeRef: ok = R(in.a) && R(in.b); break;
        case Op::MakeRefG: ok = R(in.a) && in.b < ng; break;
        case Op::Cvt: ok = R(in.a) && RK(in.b) && ValidVarType(static_cast<VarType>(in.c)); break;
        case Op::Add:
        case Op::Sub:
        case Op::Mul:
        case Op::Div:
        case Op::IDiv:
        case Op::Mod:
        case Op::Pow:
        case Op::Cat:
        case Op::And:
        case Op::Or:
        case Op::Xor:
        case Op::Eqv:
        case Op::Imp:
        case Op::Eq:
        case Op::Ne:
        case Op::Lt:
        case Op::Le:
        case Op::Gt:
        case Op::Ge:
        case Op::Like:
        case Op::Is: ok = R(in.a) && RK(in.b) && RK(in.c) && (in.op == GenericOp(in.op) || (!(in.b & kConstBit) && (ConstantFormOp(in.op) == ((in.c & kConstBit) != 0)))); break;
        case Op::Jmp: ok = Tg(in.a); break;
        case Op::JmpIf:
        case Op::JmpIfNot: ok = Tg(in.a) && RK(in.b); break;
        case Op::JmpCmp:
          ok = Tg(in.a) && RK(in.b) && RK(in.c) && (in.f & 7) <= 5 &&
               (in.op == Op::JmpCmp || (in.f & 7) == static_cast<int>(in.op) - static_cast<int>(Op::JmpCmpEq));
          break;
        case Op::ForPrep:
        case Op::ForLoop: ok = R(in.a) && R(in.b + 1u) && Tg(in.c); break;
        case Op::EachPrep: ok = R(in.a + 1u) && RK(in.b) && Tg(in.c); break;
        case Op::EachNext: ok = R(in.a + 1u) && R(in.b) && Tg(in.c); break;
        case Op::Call: ok = in.a < nf && R(in.b) && R(in.b + static_cast<uint32_t>(in.c)) && in.c <= 255; break;
        case Op::CallHost: ok = in.a < ni && R(in.b) && R(in.b + static_cast<uint32_t>(in.c)) && in.c <= 255; break;
        case Op::CallLib:
          ok = in.a < nlib && R(in.b) && R(in.b + static_cast<uint32_t>(in.c));
          if (ok) {
            const LibFunc& lf = GetLibFunc(in.a);
            ok = in.c >= lf.minArgs && in.c <= lf.maxArgs;
          }
          break;
        case Op::Index:
        case Op::RefIndex: ok = R(in.a) && R(in.b) && in.f >= 1 && R(in.c + static_cast<uint32_t>(in.f) - 1); break;
        case Op::GoSub: ok = Tg(in.a); break;
        case Op::Return:
        case Op::SetErl: break;
        case Op::ConstRef: ok = R(in.a) && (in.b & kConstBit) && RK(in.b); break;
        case Op::IndexOff: ok = R(in.a) && R(in.b) && R(in.c); break;
        case Op::SetIndexOff: ok = R(in.a) && RK(in.b) && R(in.c); break;
        case Op::SetIndex: ok = R(in.a) && RK(in.b) && in.f >= 1 && R(in.c + static_cast<uint32_t>(in.f) - 1); break;
        case Op::GetField:
        case Op::RefField: ok = R(in.a) && R(in.b); break;
        case Op::SetField: ok = R(in.a) && RK(in.b); break;
        case Op::GetMember:
        case Op::RefMember: ok = R(in.a) && R(in.b) && Name(in.c); break;
        case Op::SetMember: ok = R(in.a) && RK(in.b) && Name(in.c); break;
        case Op::CallMethod: ok = R(in.a + static_cast<uint32_t>(in.f)) && Name(in.b) && in.c <= 1; break;
        case Op::NewObject: ok = R(in.a) && Name(in.b); break;
        case Op::ReDim: ok = R(in.a) && in.c >= 1 && in.c <= 60 && R(in.b + 2u * in.c - 1); break;
        case Op::Erase: ok = R(in.a); break;
        case Op::OnError: ok = in.f <= 3 && (in.f != 2 || Tg(in.a)); break;
        case Op::Resume: ok = in.f <= 2 && (in.f != 2 || Tg(in.a)); break;
        default: ok = false; break;
      }
      if (!ok) return fail(w, "bad instruction at " + std::to_string(pc));
    }
    uint32_t last = 0;
    for (size_t k = 0; k < f.lines.size(); ++k) {
      if (f.lines[k].pc >= nc || (k > 0 && f.lines[k].pc <= last)) return fail(w, "bad line table");
      last = f.lines[k].pc;
    }
    for (const auto& li : f.inits)
      if (li.slot >= regs || li.slot == 0 || !typeOk(li.type) || !dimsOk(li.dims) || (!li.dims.empty() && !li.type.isArray))
        return fail(w, "bad local");
  }
  return true;
}

std::vector<uint8_t> WriteEbc(const Program& program) {
  std::vector<uint8_t> block = WriteCodeBlock(program);
  Writer w;
  w.U16(kEbcMagic);
  w.U16(kEbcVersion);
  w.U32(static_cast<uint32_t>(block.size()));
  w.U64(0);  // not read by the player
  w.U32(static_cast<uint32_t>(kEbcHeaderSize));
  w.out.insert(w.out.end(), block.begin(), block.end());
  return std::move(w.out);
}

EbcStatus ReadEbcHeader(std::span<const uint8_t> file, EbcHeader& h) {
  if (file.size() < kEbcHeaderSize) return EbcStatus::UnknownType;
  Reader r(file);
  h.magic = r.U16();
  h.version = r.U16();
  h.codeLength = r.U32();
  r.U64();
  h.codeOffset = r.U32();
  if (h.magic != kEbcMagic) return EbcStatus::UnknownType;
  if (h.version != kEbcVersion) return EbcStatus::OlderVersion;
  return EbcStatus::Ok;
}

EbcStatus EbcCodeBlock(std::span<const uint8_t> file, std::span<const uint8_t>& block) {
  EbcHeader h;
  EbcStatus s = ReadEbcHeader(file, h);
  block = {};
  if (s != EbcStatus::Ok) return s;
  if (h.codeOffset > file.size() || h.codeLength > file.size() - h.codeOffset) return EbcStatus::ShortRead;
  block = file.subspan(h.codeOffset, h.codeLength);
  return EbcStatus::Ok;
}

}  // namespace kv::orlan

namespace kv::orlan {

namespace {

struct TypedRow {
  Op generic;
  VarType vt;
  Op typed, typedK;
};
constexpr TypedRow kTypedRows[] = {
    {Op::Add, VarType::Long, Op::AddL, Op::AddLK},       {Op::Sub, VarType::Long, Op::SubL, Op::SubLK},
    {Op::Mul, VarType::Long, Op::MulL, Op::MulLK},       {Op::Add, VarType::Integer, Op::AddI, Op::AddIK},
    {Op::Sub, VarType::Integer, Op::SubI, Op::SubIK},    {Op::Mul, VarType::Integer, Op::MulI, Op::MulIK},
    {Op::Add, VarType::Double, Op::AddD, Op::AddDK},     {Op::Sub, VarType::Double, Op::SubD, Op::SubDK},
    {Op::Mul, VarType::Double, Op::MulD, Op::MulDK},     {Op::And, VarType::Long, Op::AndL, Op::AndLK},
    {Op::Or, VarType::Long, Op::OrL, Op::OrLK},
};

}  // namespace

Op TypedOp(Op op, VarType vt, bool constantC) {
  for (const TypedRow& r : kTypedRows)
    if (r.generic == op && r.vt == vt) return constantC ? r.typedK : r.typed;
  return op;
}

Op GenericOp(Op op) {
  for (const TypedRow& r : kTypedRows)
    if (r.typed == op || r.typedK == op) return r.generic;
  switch (op) {
    case Op::JmpCmpEq: case Op::JmpCmpNe: case Op::JmpCmpLt:
    case Op::JmpCmpLe: case Op::JmpCmpGt: case Op::JmpCmpGe: return Op::JmpCmp;
    case Op::ForInc: return Op::ForLoop;
    default: return op;
  }
}

bool ConstantFormOp(Op op) {
  for (const TypedRow& r : kTypedRows)
    if (r.typedK == op) return true;
  return false;
}

const char* OpName(Op op) {
  static const char* kNames[] = {
#define KV_ORLAN_NAME(name) #name,
      KV_ORLAN_OPCODES(KV_ORLAN_NAME)
#undef KV_ORLAN_NAME
  };
  size_t i = static_cast<size_t>(op);
  return i < std::size(kNames) ? kNames[i] : "?";
}

std::string Disassemble(const Program& p) {
  std::string out;
  char buf[160];
  for (const Function& f : p.functions) {
    std::snprintf(buf, sizeof buf, "%s %s (%zu params, %u registers)\n", f.isFunction ? "Function" : "Sub", f.name.c_str(),
                  f.params.size(), f.numRegs);
    out += buf;
    size_t line = 0;
    for (size_t pc = 0; pc < f.code.size(); ++pc) {
      while (line < f.lines.size() && f.lines[line].pc == pc) {
        std::snprintf(buf, sizeof buf, "  ; line %u\n", f.lines[line].line);
        out += buf;
        ++line;
      }
      const Ins& in = f.code[pc];
      std::snprintf(buf, sizeof buf, "  %4zu %-10s a=%u b=%u%s c=%u%s f=%u\n", pc, OpName(in.op), in.a, in.b & 0x7FFF,
                    (in.b & kConstBit) ? "k" : "", in.c & 0x7FFF, (in.c & kConstBit) ? "k" : "", in.f);
      out += buf;
    }
  }
  return out;
}

}  // namespace kv::orlan
