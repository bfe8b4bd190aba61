#include "tools/common/options.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tools/common/toolkit.h"

namespace kv::tool {
namespace {

constexpr OptionSpec kOptions[] = {
    {"-o", "OUT", "output"},
    {"--key", "N", "key"},
    {"--narrow", nullptr, "a flag"},
};
const CommandSpec kSpec{"demo", "IN [MORE...]", "for the tests", kOptions};

struct Parsed {
  std::vector<std::string> operands;
  std::string out, key;
  bool narrow = false;
  std::string error;  // the usage error's text, when one was thrown
  int code = 0;
};

Parsed Parse(std::vector<std::string> words) {
  SetToolName("kvtool");
  std::vector<char*> argv;
  for (std::string& w : words) argv.push_back(w.data());
  Parsed p;
  try {
    ParsedArgs a = ParseArgs(kSpec, int(argv.size()), argv.data());
    p.operands = a.operands;
    p.out = a.Value("-o") ? a.Value("-o") : "";
    p.key = a.Value("--key") ? a.Value("--key") : "";
    p.narrow = a.Has("--narrow");
  } catch (const ToolError& e) {
    p.error = e.what();
    p.code = e.code();
  }
  return p;
}

TEST(ParseArgs, OptionsAnywhereAndOperandsInOrder) {
  struct Case {
    std::vector<std::string> words;
    std::vector<std::string> operands;
    std::string out, key;
    bool narrow;
  };
  const Case cases[] = {
      {{"a", "-o", "x", "b"}, {"a", "b"}, "x", "", false},
      {{"--key", "7", "a", "--narrow"}, {"a"}, "", "7", true},
      {{"-o", "x", "-o", "y", "a"}, {"a"}, "y", "", false},  // the last value counts
      {{"a", "-5", "-"}, {"a", "-5", "-"}, "", "", false},     // a negative number and "-" are operands
      {{"-0", "-9.5", "a"}, {"-0", "-9.5", "a"}, "", "", false},  // both ends of the digits
      {{"a", "--", "--key", "-o"}, {"a", "--key", "-o"}, "", "", false},
      {{"--key", "--narrow"}, {}, "", "--narrow", false},      // a value is taken as it stands
  };
  for (const Case& c : cases) {
    const Parsed p = Parse(c.words);
    EXPECT_EQ(p.error, "") << c.words[0];
    EXPECT_EQ(p.operands, c.operands) << c.words[0];
    EXPECT_EQ(p.out, c.out) << c.words[0];
    EXPECT_EQ(p.key, c.key) << c.words[0];
    EXPECT_EQ(p.narrow, c.narrow) << c.words[0];
  }
}

TEST(ParseArgs, UsageErrorsNameTheProblemAndTheUsage) {
  struct Case {
    std::vector<std::string> words;
    const char* problem;
  };
  const Case cases[] = {
      {{"a", "--key"}, "--key needs a value (N)"},
      {{"a", "-o"}, "-o needs a value (OUT)"},
      {{"a", "--frob"}, "unknown option --frob"},
      {{"-x"}, "unknown option -x"},
  };
  for (const Case& c : cases) {
    const Parsed p = Parse(c.words);
    EXPECT_EQ(p.code, kExitUsage) << c.problem;
    EXPECT_EQ(p.error, std::string(c.problem) + "\nusage: kvtool demo IN [MORE...] [-o OUT] [--key N] [--narrow]");
  }
}

TEST(NumberOption, RangeAndFormAreChecked) {
  SetToolName("kvtool");
  EXPECT_EQ(NumberOption(kSpec, "--indent", "64", 0, 64), 64);
  EXPECT_EQ(NumberOption(kSpec, "--indent", "0", 0, 64), 0);
  for (const char* bad : {"65", "-1", "", "3x", "99999999999999999999"})
    EXPECT_THROW(NumberOption(kSpec, "--indent", bad, 0, 64), ToolError) << bad;
}

TEST(RequireOperands, CountsAreChecked) {
  char a[] = "a", b[] = "b";
  char* words[] = {a, b};
  const ParsedArgs two = ParseArgs(kSpec, 2, words);
  EXPECT_NO_THROW(RequireOperands(kSpec, two, 1, 2));
  EXPECT_THROW(RequireOperands(kSpec, two, 1, 1), ToolError);
  EXPECT_THROW(RequireOperands(kSpec, two, 3, 4), ToolError);
}

}  // namespace
}  // namespace kv::tool
