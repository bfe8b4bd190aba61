#include "media/mci_command.h"

#include <sstream>

namespace kv {

namespace {

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::vector<MciToken> Tokenize(std::string_view s) {
  std::vector<MciToken> out;
  size_t i = 0;
  while (i < s.size()) {
    if (IsSpace(s[i])) {
      ++i;
      continue;
    }
    MciToken t;
    if (s[i] == '"') {
      const size_t close = s.find('"', i + 1);
      if (close == std::string_view::npos) throw MciError{mci_err::kNoClosingQuote};
      t.text = std::string(s.substr(i + 1, close - i - 1));
      t.quoted = true;
      i = close + 1;
    } else {
      const size_t start = i;
      while (i < s.size() && !IsSpace(s[i])) ++i;
      t.text = std::string(s.substr(start, i - start));
    }
    out.push_back(std::move(t));
  }
  return out;
}

std::vector<std::string> Words(const char* words) {
  std::istringstream in(words);
  std::vector<std::string> out;
  for (std::string w; in >> w;) out.push_back(w);
  return out;
}

}  // namespace

std::string LowerAscii(std::string_view s) {
  std::string out(s);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

MciCommand ParseMciCommand(std::string_view text) {
  std::vector<MciToken> tokens = Tokenize(text);
  if (tokens.empty()) throw MciError{mci_err::kMissingCommandString};
  if (tokens.size() < 2) throw MciError{mci_err::kMissingDeviceName};
  MciCommand cmd;
  cmd.verb = LowerAscii(tokens[0].text);
  cmd.device = std::move(tokens[1].text);
  cmd.args.assign(std::make_move_iterator(tokens.begin() + 2), std::make_move_iterator(tokens.end()));
  return cmd;
}

std::string QuoteMciArgument(std::string_view name) {
  if (name.find_first_of(" \t\"") == std::string_view::npos && !name.empty()) return std::string(name);
  // A quote cannot be escaped in a command string; it is dropped from the name.
  std::string out = "\"";
  for (char c : name) {
    if (c != '"') out += c;
  }
  return out + "\"";
}

std::map<std::string, std::string> MatchMciKeywords(const std::vector<MciToken>& args,
                                                    std::span<const MciKeyword> grammar) {
  std::map<std::string, std::string> found;
  size_t i = 0;
  while (i < args.size()) {
    const MciKeyword* best = nullptr;
    size_t bestLen = 0;
    for (const MciKeyword& k : grammar) {
      const auto words = Words(k.words);
      if (words.size() <= bestLen || i + words.size() > args.size()) continue;
      bool match = true;
      for (size_t w = 0; w < words.size() && match; ++w) {
        match = !args[i + w].quoted && LowerAscii(args[i + w].text) == words[w];
      }
      if (match) {
        best = &k;
        bestLen = words.size();
      }
    }
    if (!best) throw MciError{mci_err::kUnrecognizedKeyword};
    if (found.count(best->words)) throw MciError{mci_err::kDuplicateFlags};
    i += bestLen;
    std::string value;
    if (best->takesValue) {
      if (i >= args.size()) throw MciError{mci_err::kMissingStringArgument};
      value = args[i++].text;
    }
    found.emplace(best->words, std::move(value));
  }
  return found;
}

}  // namespace kv
