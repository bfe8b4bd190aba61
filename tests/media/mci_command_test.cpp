#include "media/mci_command.h"

#include <gtest/gtest.h>

#include <set>

namespace kv {
namespace {

struct ParseCase {
  const char* text;
  uint32_t error;  // 0: parses
  const char* verb;
  const char* device;
  std::vector<std::string> args;
};

class MciParseTest : public testing::TestWithParam<ParseCase> {};

TEST_P(MciParseTest, Parses) {
  const ParseCase& c = GetParam();
  try {
    const MciCommand cmd = ParseMciCommand(c.text);
    ASSERT_EQ(c.error, 0u) << c.text;
    EXPECT_EQ(cmd.verb, c.verb);
    EXPECT_EQ(cmd.device, c.device);
    std::vector<std::string> args;
    for (const auto& a : cmd.args) args.push_back(a.text);
    EXPECT_EQ(args, c.args);
  } catch (const MciError& e) {
    EXPECT_EQ(e.code, c.error) << c.text;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Table, MciParseTest,
    testing::Values(ParseCase{"", mci_err::kMissingCommandString, "", "", {}},
                    ParseCase{"   \t ", mci_err::kMissingCommandString, "", "", {}},
                    ParseCase{"play", mci_err::kMissingDeviceName, "", "", {}},
                    ParseCase{"  PLAY  Song  from 10 To 20 ", 0, "play", "Song", {"from", "10", "To", "20"}},
                    ParseCase{"open \"C:\\My Files\\a b.wav\" alias x", 0, "open", "C:\\My Files\\a b.wav",
                              {"alias", "x"}},
                    ParseCase{"open \"waveaudio!C:\\a b.wav\"", 0, "open", "waveaudio!C:\\a b.wav", {}},
                    ParseCase{"open \"C:\\a.wav alias x", mci_err::kNoClosingQuote, "", "", {}},
                    ParseCase{"status cd \"\"", 0, "status", "cd", {""}}));

struct KeywordCase {
  std::vector<std::string> words;
  uint32_t error;
  std::map<std::string, std::string> found;
};

class MciKeywordTest : public testing::TestWithParam<KeywordCase> {};

TEST_P(MciKeywordTest, Matches) {
  static constexpr MciKeyword kGrammar[] = {
      {"time format", true}, {"time", true}, {"notify", false}, {"door open", false}, {"from", true}};
  std::vector<MciToken> args;
  for (const auto& w : GetParam().words) args.push_back({w, w == "\"q\""});
  try {
    EXPECT_EQ(MatchMciKeywords(args, kGrammar), GetParam().found);
    EXPECT_EQ(GetParam().error, 0u);
  } catch (const MciError& e) {
    EXPECT_EQ(e.code, GetParam().error);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Table, MciKeywordTest,
    testing::Values(KeywordCase{{"Time", "Format", "TMSF", "notify"}, 0, {{"time format", "TMSF"}, {"notify", ""}}},
                    KeywordCase{{"time", "5"}, 0, {{"time", "5"}}},  // the longest keyword that fits wins
                    KeywordCase{{"door", "open"}, 0, {{"door open", ""}}},
                    KeywordCase{{"notify", "notify"}, mci_err::kDuplicateFlags, {}},
                    KeywordCase{{"from"}, mci_err::kMissingStringArgument, {}},
                    KeywordCase{{"bogus"}, mci_err::kUnrecognizedKeyword, {}},
                    KeywordCase{{"\"q\""}, mci_err::kUnrecognizedKeyword, {}},  // quoted words are never keywords
                    KeywordCase{{"door"}, mci_err::kUnrecognizedKeyword, {}}));

TEST(MciQuoteTest, NamesWithSpacesAreQuoted) {
  EXPECT_EQ(QuoteMciArgument("C:\\a.wav"), "C:\\a.wav");
  EXPECT_EQ(QuoteMciArgument("C:\\My Files\\a.wav"), "\"C:\\My Files\\a.wav\"");
  EXPECT_EQ(QuoteMciArgument(""), "\"\"");
  const MciCommand cmd = ParseMciCommand("open " + QuoteMciArgument("/tmp/a b/c d.wav") + " alias s");
  EXPECT_EQ(cmd.device, "/tmp/a b/c d.wav");
}

TEST(MciErrorTextTest, EveryNamedErrorHasItsOwnText) {
  const uint32_t codes[] = {mci_err::kInvalidDeviceName, mci_err::kDuplicateAlias, mci_err::kFileNotFound,
                            mci_err::kDeviceNotInstalled, mci_err::kOutOfRange};
  std::set<std::string> texts;
  for (uint32_t c : codes) texts.insert(MciErrorText(c));
  EXPECT_EQ(texts.size(), std::size(codes));
  EXPECT_STREQ(MciErrorText(9999), "The media device reported an unknown error.");
}

}  // namespace
}  // namespace kv
