// Search patterns come from scripts: the matcher must never crash or run
// away, and must agree with a plain dynamic-programming match that asks the
// matcher itself only whether one character matches another.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "ext/file_search.h"

namespace {

bool CharMatches(char p, char n) { return kv::MatchesWildcard(std::string_view(&p, 1), std::string_view(&n, 1)); }

bool Reference(std::string_view pattern, std::string_view name) {
  if (pattern.empty()) return false;
  // at[j]: the pattern's first i characters match the name's first j.
  std::vector<char> at(name.size() + 1, 0), next(name.size() + 1, 0);
  at[0] = 1;
  for (char p : pattern) {
    next.assign(name.size() + 1, 0);
    if (p == '*') {
      char any = 0;
      for (size_t j = 0; j <= name.size(); ++j) next[j] = any = any || at[j];
    } else {
      for (size_t j = 1; j <= name.size(); ++j) next[j] = at[j - 1] && CharMatches(p, name[j - 1]);
    }
    at.swap(next);
  }
  return at[name.size()] != 0;
}

}  // namespace

// The input is the pattern, a line feed, then the name.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  const size_t cut = text.find('\n');
  if (cut == std::string_view::npos) return 0;
  const std::string_view pattern = text.substr(0, cut), name = text.substr(cut + 1);
  if (pattern.size() > 4096 || name.size() > 4096) return 0;
  const bool got = kv::MatchesWildcard(pattern, name);
  // "*.*" is every name, with a dot or without.
  const bool want = pattern == "*.*" ? true : Reference(pattern, name);
  if (got != want) __builtin_trap();
  return 0;
}
