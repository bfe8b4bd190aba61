// The .ebc header and the code block: hand-derived byte vectors, the
// loader's refusals, and round trips of compiled programs.
#include "orlan/codefile.h"

#include <gtest/gtest.h>

#include "orlan/compiler.h"
#include "tests/orlan/script_runner.h"

namespace kv::orlan::testing {
namespace {

// The smallest code block: one public Sub "Main" whose only instruction is Ret.
const std::vector<uint8_t> kMinimalBlock = {
    'O', 'R', 'L', 'B',       // signature
    0x01, 0x00,               // code block version 1
    0x00,                     // Option Base 0
    0x00,                     // Option Compare Binary
    0x00, 0x00, 0x00, 0x00,   // no constants
    0x00, 0x00, 0x00, 0x00,   // no record types
    0x00, 0x00, 0x00, 0x00,   // no globals
    0x00, 0x00, 0x00, 0x00,   // no imports
    0x01, 0x00, 0x00, 0x00,   // one function
    0x04, 0x00, 0x00, 0x00, 'M', 'a', 'i', 'n',
    0x00,                     // a Sub
    0x01,                     // public
    0x0C, 0x00, 0xFF, 0xFF, 0x00,  // result type: Variant (12), no record (-1), not an array
    0x00, 0x00, 0x00, 0x00,   // no parameters
    0x01, 0x00,               // one register (the result slot)
    0x01, 0x00, 0x00, 0x00,   // one instruction:
    0x2C, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,  //   Ret (opcode 44), f = a = b = c = 0
    0x00, 0x00, 0x00, 0x00,   // no line entries
    0x00, 0x00, 0x00, 0x00,   // no local initialisers
};

TEST(CodeFile, OpcodeNumbersAreStable) {
  // Stored code depends on these numbers; reordering the opcode list breaks old files.
  EXPECT_EQ(static_cast<int>(Op::Move), 1);
  EXPECT_EQ(static_cast<int>(Op::Add), 10);
  EXPECT_EQ(static_cast<int>(Op::Jmp), 33);
  EXPECT_EQ(static_cast<int>(Op::Ret), 44);
  EXPECT_EQ(static_cast<int>(Op::EndProgram), 60);
  EXPECT_EQ(static_cast<int>(Op::AddL), 61);
  EXPECT_EQ(static_cast<int>(Op::JmpCmpEq), 72);
  EXPECT_EQ(static_cast<int>(Op::ForInc), 78);
  EXPECT_EQ(static_cast<int>(Op::AddLK), 79);
  EXPECT_EQ(static_cast<int>(Op::SetIndexOff), 91);
  EXPECT_EQ(static_cast<int>(Op::ConstRef), 95);
}

// Flag 4 of a parameter marks the ParamArray: only the last parameter, a
// Variant array by value and not Optional, may carry it.
TEST(CodeFile, ParamArrayFlag) {
  CompileResult r = Compile("Sub F(a As Long, ParamArray rest())\nEnd Sub\n");
  ASSERT_TRUE(r.ok());
  Program back;
  std::string error;
  ASSERT_TRUE(ReadCodeBlock(WriteCodeBlock(r.program), back, error)) << error;
  ASSERT_EQ(back.functions[0].params.size(), 2u);
  EXPECT_FALSE(back.functions[0].params[0].paramArray);
  EXPECT_TRUE(back.functions[0].params[1].paramArray);
  Program bad = r.program;
  bad.functions[0].params[0].paramArray = true;
  EXPECT_FALSE(ReadCodeBlock(WriteCodeBlock(bad), back, error));
  bad = r.program;
  bad.functions[0].params[1].byRef = true;
  EXPECT_FALSE(ReadCodeBlock(WriteCodeBlock(bad), back, error));
}

// The typed forms are checked as their generic instructions, and more: the
// arithmetic ones take b from the registers and c from the registers (or the
// constants, in the K forms); a comparison jump's f names its own comparison.
TEST(CodeFile, VerifiesTypedForms) {
  struct Row {
    const char* what;
    Ins ins;
    bool ok;
  };
  const uint16_t k0 = kConstBit;  // constant 0, a Long
  const Row rows[] = {
      {"AddLK register and constant", {Op::AddLK, 0, 1, 2, k0}, true},
      {"AddLK with a constant b", {Op::AddLK, 0, 1, k0, k0}, false},
      {"MulDK with a register c", {Op::MulDK, 0, 1, 2, 2}, false},
      {"AddL with constants", {Op::AddL, 0, 1, k0, k0}, false},
      {"AddL of registers", {Op::AddL, 0, 1, 2, 0}, true},
      {"JmpCmpLt with f = Lt", {Op::JmpCmpLt, 2, 0, 1, k0}, true},
      {"JmpCmpLt with f = Eq", {Op::JmpCmpLt, 0, 0, 1, k0}, false},
      {"JmpCmpGe past the code", {Op::JmpCmpGe, 5, 9, 1, k0}, false},
      {"IndexOff with a negative offset", {Op::IndexOff, 0xFF, 1, 2, 1}, true},
      {"IndexOff past the registers", {Op::IndexOff, 0, 1, 2, 3}, false},
      {"SetIndexOff of a constant", {Op::SetIndexOff, 1, 1, k0, 2}, true},
      {"ForInc past the registers", {Op::ForInc, 0, 2, 2, 0}, false},
      {"ConstRef to a constant", {Op::ConstRef, 0, 1, k0, 0}, true},
      {"ConstRef to a register", {Op::ConstRef, 0, 1, 2, 0}, false},
      {"ConstRef past the constants", {Op::ConstRef, 0, 1, k0 | 1, 0}, false},
  };
  for (const Row& r : rows) {
    Program p;
    p.constants.push_back(Value::Lng(1));
    Function f;
    f.name = "Main";
    f.numRegs = 3;
    f.code = {r.ins, Ins{Op::Ret, 0, 0, 0, 0}};
    p.functions.push_back(f);
    Program back;
    std::string error;
    EXPECT_EQ(ReadCodeBlock(WriteCodeBlock(p), back, error), r.ok) << r.what << ": " << error;
  }
}

TEST(CodeFile, ReadsAHandBuiltBlock) {
  Program p;
  std::string error;
  ASSERT_TRUE(ReadCodeBlock(kMinimalBlock, p, error)) << error;
  ASSERT_EQ(p.functions.size(), 1u);
  EXPECT_EQ(p.functions[0].name, "Main");
  EXPECT_EQ(p.functions[0].code[0].op, Op::Ret);
  EXPECT_EQ(WriteCodeBlock(p), kMinimalBlock);
  Engine engine;
  auto script = engine.LoadScript(kMinimalBlock, error);
  ASSERT_TRUE(script) << error;
  auto t = engine.CreateThread(script, "main", error);
  EXPECT_EQ(t->Run(), 0);
}

// A Date constant: tag 14 (appended after RefBox, 13), then the serial as a
// little-endian Double. 1 January 2000 is day 36526 = 1.000111010101110b x 2^15:
// exponent 1023 + 15 = 0x40E, fraction 0x1D5C000000000, so 0x40E1D5C000000000.
TEST(CodeFile, DateConstants) {
  std::vector<uint8_t> block = kMinimalBlock;
  const size_t countAt = 8;  // after the signature, the version and the two options
  block[countAt] = 0x01;
  const std::vector<uint8_t> date = {0x0E, 0x00, 0x00, 0x00, 0x00, 0xC0, 0xD5, 0xE1, 0x40};
  block.insert(block.begin() + countAt + 4, date.begin(), date.end());
  Program p;
  std::string error;
  ASSERT_TRUE(ReadCodeBlock(block, p, error)) << error;
  ASSERT_EQ(p.constants.size(), 1u);
  EXPECT_EQ(p.constants[0].tag, Tag::Date);
  EXPECT_EQ(p.constants[0].d, 36526.0);
  EXPECT_EQ(WriteCodeBlock(p), block);
  // An infinite serial (exponent all ones, fraction 0: 00 .. 00 F0 7F) is no date.
  const std::vector<uint8_t> infinite = {0x0E, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xF0, 0x7F};
  std::copy(infinite.begin(), infinite.end(), block.begin() + countAt + 4);
  Program bad;
  EXPECT_FALSE(ReadCodeBlock(block, bad, error));
}

TEST(CodeFile, EbcHeader) {
  Program p;
  std::string error;
  ASSERT_TRUE(ReadCodeBlock(kMinimalBlock, p, error));
  std::vector<uint8_t> ebc = WriteEbc(p);
  const uint32_t n = static_cast<uint32_t>(kMinimalBlock.size());
  const std::vector<uint8_t> header = {
      0x42, 0x45,                                           // magic 0x4542, "BE"
      0x05, 0x00,                                           // version 5
      static_cast<uint8_t>(n), static_cast<uint8_t>(n >> 8), 0x00, 0x00,  // code length
      0, 0, 0, 0, 0, 0, 0, 0,                               // not read
      0x14, 0x00, 0x00, 0x00,                               // code at offset 20
  };
  ASSERT_EQ(ebc.size(), 20 + kMinimalBlock.size());
  EXPECT_EQ(std::vector<uint8_t>(ebc.begin(), ebc.begin() + 20), header);
  std::span<const uint8_t> block;
  ASSERT_EQ(EbcCodeBlock(ebc, block), EbcStatus::Ok);
  EXPECT_EQ(std::vector<uint8_t>(block.begin(), block.end()), kMinimalBlock);
}

TEST(CodeFile, HeaderRefusals) {
  std::vector<uint8_t> ebc;
  {
    Program p;
    std::string error;
    ReadCodeBlock(kMinimalBlock, p, error);
    ebc = WriteEbc(p);
  }
  EbcHeader h;
  std::span<const uint8_t> block;
  EXPECT_EQ(ReadEbcHeader(std::span(ebc).first(19), h), EbcStatus::UnknownType);
  auto bad = ebc;
  bad[0] = 0x43;
  EXPECT_EQ(EbcCodeBlock(bad, block), EbcStatus::UnknownType);
  bad = ebc;
  bad[2] = 4;
  EXPECT_EQ(EbcCodeBlock(bad, block), EbcStatus::OlderVersion);
  bad = ebc;
  bad[4] = 0xFF;  // code length past the end of the file
  EXPECT_EQ(EbcCodeBlock(bad, block), EbcStatus::ShortRead);
  bad = ebc;
  bad[16] = 0xF0;  // code offset past the end
  EXPECT_EQ(EbcCodeBlock(bad, block), EbcStatus::ShortRead);
  // The 8 bytes at offset 8 are not read.
  bad = ebc;
  for (int i = 8; i < 16; ++i) bad[i] = 0xAA;
  EXPECT_EQ(EbcCodeBlock(bad, block), EbcStatus::Ok);
}

TEST(CodeFile, RefusesDefectiveBlocks) {
  struct Patch {
    const char* what;
    size_t offset;
    uint8_t value;
  };
  const size_t ins = 53;  // first byte of the Ret instruction
  const Patch patches[] = {
      {"signature", 0, 'X'},
      {"block version", 4, 2},
      {"option base", 6, 2},
      {"opcode past the list", ins, 0xFE},
      {"Move to a register the frame lacks", ins, 0x01},
      {"last instruction not Ret", ins, 0x00},
      {"register count below the parameters", 47, 0x00},
      {"result type", 38, 0x63},
      {"constant count larger than the block", 8, 0xFF},
  };
  for (const Patch& p : patches) {
    auto bytes = kMinimalBlock;
    bytes[p.offset] = p.value;
    if (std::string(p.what) == "Move to a register the frame lacks") bytes[ins + 2] = 5;
    Program prog;
    std::string error;
    EXPECT_FALSE(ReadCodeBlock(bytes, prog, error)) << p.what;
    EXPECT_FALSE(error.empty()) << p.what;
  }
  auto trailing = kMinimalBlock;
  trailing.push_back(0);
  Program prog;
  std::string error;
  EXPECT_FALSE(ReadCodeBlock(trailing, prog, error));
}

const char* kSample =
    "Type P\nX As Long\nName As String * 4\nEnd Type\n"
    "Dim G(1 To 3) As Double\nConst Greeting = \"hi\"\n"
    "Function Twice(ByVal n As Long, Optional k As Long = 2) As Long\nTwice = n * k\nEnd Function\n"
    "Sub Main()\nDim p As P, i As Long\nOn Error Resume Next\np.X = Twice(21)\nFor i = 1 To 3\nG(i) = i / 2\nNext\n"
    "Select Case p.X\nCase 42: Print Greeting & \" \" & p.X & \" \" & G(3)\nEnd Select\nPrint 1 / 0\nPrint Err.Number\nEnd Sub\n";

TEST(CodeFile, CompiledProgramsRoundTrip) {
  CompileResult c = Compile(kSample);
  ASSERT_TRUE(c.ok()) << c.errors[0].message;
  std::vector<uint8_t> block = WriteCodeBlock(c.program);
  Program back;
  std::string error;
  ASSERT_TRUE(ReadCodeBlock(block, back, error)) << error;
  EXPECT_EQ(WriteCodeBlock(back), block);
  Engine engine;
  std::string out;
  RegisterPrint(engine, out);
  auto script = engine.LoadScript(block, error);
  ASSERT_TRUE(script) << error;
  EXPECT_EQ(engine.CreateThread(script, "Main", error)->Run(), 0);
  EXPECT_EQ(out, "hi 42 1.5\n11\n");
}

TEST(CodeFile, EveryTruncationIsRefused) {
  CompileResult c = Compile(kSample);
  ASSERT_TRUE(c.ok());
  std::vector<uint8_t> block = WriteCodeBlock(c.program);
  for (size_t n = 0; n < block.size(); ++n) {
    Program p;
    std::string error;
    EXPECT_FALSE(ReadCodeBlock(std::span(block).first(n), p, error)) << n;
  }
}

TEST(CodeFile, CorruptedBytesNeverCrash) {
  // Every single-byte change either fails verification or yields a program
  // that loads; both are fine, a crash is not.
  CompileResult c = Compile(kSample);
  ASSERT_TRUE(c.ok());
  std::vector<uint8_t> block = WriteCodeBlock(c.program);
  int refused = 0;
  for (size_t i = 0; i < block.size(); ++i) {
    for (uint8_t v : {uint8_t{0x00}, uint8_t{0xFF}, static_cast<uint8_t>(block[i] + 1)}) {
      auto bytes = block;
      bytes[i] = v;
      Program p;
      std::string error;
      if (!ReadCodeBlock(bytes, p, error)) ++refused;
    }
  }
  EXPECT_GT(refused, 0);
}

}  // namespace
}  // namespace kv::orlan::testing
