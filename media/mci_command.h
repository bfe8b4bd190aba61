// MCI command strings: the words of "verb device [keywords...]" with quoted
// names, and the matching of keywords against what a command accepts. The
// devices in mci_devices.h act on the result.
#pragma once

#include <map>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "media/mci_errors.h"

namespace kv {

struct MciToken {
  std::string text;
  bool quoted = false;
};

struct MciCommand {
  std::string verb;    // lower case
  std::string device;  // as written, without quotes
  std::vector<MciToken> args;
};

// Throws MciError: empty command, missing device name, unclosed quote.
MciCommand ParseMciCommand(std::string_view text);

// A name as one command word: quoted when it holds spaces or quotes.
std::string QuoteMciArgument(std::string_view name);

struct MciKeyword {
  const char* words;  // one or more lower-case words, e.g. "time format"
  bool takesValue;
};

// The keywords found, by their `words`, with their values ("" for flags).
// Throws MciError: unknown word, keyword given twice, value missing.
std::map<std::string, std::string> MatchMciKeywords(const std::vector<MciToken>& args,
                                                    std::span<const MciKeyword> grammar);

std::string LowerAscii(std::string_view s);

}  // namespace kv
