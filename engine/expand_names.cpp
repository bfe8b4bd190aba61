#include "engine/expand_names.h"

#include <array>
#include <cstdint>

#include "platform/text.h"

namespace kv {
namespace {

constexpr std::array<const char*, 6> kRootNames = {
    "HKEY_CLASSES_ROOT", "HKEY_CURRENT_USER",   "HKEY_LOCAL_MACHINE",
    "HKEY_USERS",        "HKEY_CURRENT_CONFIG", "HKEY_DYN_DATA",
};

enum class Keyword { FixedDrive, RemovableDrive, CdDrive, NetworkDrive, RamDrive,
                     ProjectDir, ProgramDir, CacheDir, CurrentDir, Var, Env, Reg, Ini, Prompt };

struct KeywordName {
  std::string_view name;
  Keyword keyword;
};

// Matched as prefixes in this order; the first match wins.
constexpr KeywordName kKeywords[] = {
    {"FD", Keyword::FixedDrive},      {"RD", Keyword::RemovableDrive}, {"CD", Keyword::CdDrive},
    {"ND", Keyword::NetworkDrive},    {"MD", Keyword::RamDrive},       {"PROJPATH", Keyword::ProjectDir},
    {"KVPATH", Keyword::ProgramDir},  {"CACHE", Keyword::CacheDir},    {"CWD", Keyword::CurrentDir},
    {"VAR", Keyword::Var},            {"ENV", Keyword::Env},           {"REG", Keyword::Reg},
    {"INI", Keyword::Ini},            {"PROMPT", Keyword::Prompt},
};

// The output of a pass, cut at kMaxExpandedSize.
class BoundedOutput {
 public:
  explicit BoundedOutput(std::string& text) : text_(text) {}
  void Append(std::string_view part) {
    size_t room = kMaxExpandedSize - std::min(text_.size(), kMaxExpandedSize);
    text_.append(part.substr(0, room));
    full_ = full_ || part.size() >= room;
  }
  bool full() const { return full_; }
  bool EndsInBackslash() const { return !text_.empty() && text_.back() == '\\'; }

 private:
  std::string& text_;
  bool full_ = false;
};

// A field read as "%[^stops]" reads it: at least one character, up to a stop
// or the end. Advances `at` past the field.
std::optional<std::string> ScanField(std::string_view text, size_t& at, std::string_view stops) {
  size_t end = text.find_first_of(stops, at);
  if (end == std::string_view::npos) end = text.size();
  if (end == at) return std::nullopt;
  std::string field(text.substr(at, end - at));
  at = end;
  return field;
}

bool ScanLiteral(std::string_view text, size_t& at, std::string_view literal) {
  if (text.substr(at, literal.size()) != literal) return false;
  at += literal.size();
  return true;
}

// The drive number after "XD:" as "%u" reads it; a missing or zero number is 1.
uint64_t DriveNumber(std::string_view rest) {
  size_t at = 2;  // after "FD", "RD", ...
  if (!ScanLiteral(rest, at, ":")) return 1;
  while (at < rest.size() && IsBlank(rest[at])) ++at;
  bool negative = at < rest.size() && rest[at] == '-';
  if (at < rest.size() && (rest[at] == '-' || rest[at] == '+')) ++at;
  uint64_t n = 0;
  for (; at < rest.size() && rest[at] >= '0' && rest[at] <= '9' && n <= UINT32_MAX; ++at) n = n * 10 + (rest[at] - '0');
  // A negative number wraps to one far beyond the 26 letters.
  if (negative && n != 0) return UINT64_MAX;
  return n == 0 ? 1 : n;
}

DriveType DriveTypeOf(Keyword keyword) {
  switch (keyword) {
    case Keyword::RemovableDrive: return DriveType::Removable;
    case Keyword::CdDrive: return DriveType::CdRom;
    case Keyword::NetworkDrive: return DriveType::Network;
    case Keyword::RamDrive: return DriveType::RamDisk;
    default: return DriveType::Fixed;
  }
}

std::string_view Clip(std::string_view value) { return value.substr(0, kMaxLookupSize); }

// Appends the replacement of the macro whose text (after the "%") is `rest`;
// true when it counts as a substitution for another pass.
bool Replace(const KeywordName& word, std::string_view rest, MacroHost& host, BoundedOutput& out) {
  const Keyword keyword = word.keyword;
  size_t at = word.name.size();  // arguments follow the keyword
  switch (keyword) {
    case Keyword::FixedDrive:
    case Keyword::RemovableDrive:
    case Keyword::CdDrive:
    case Keyword::NetworkDrive:
    case Keyword::RamDrive: {
      uint64_t n = DriveNumber(rest);
      std::vector<char> letters = host.Drives(DriveTypeOf(keyword));
      if (n <= letters.size()) out.Append(std::string{letters[n - 1], ':'});
      return true;
    }
    case Keyword::ProjectDir:
    case Keyword::ProgramDir:
    case Keyword::CacheDir:
    case Keyword::CurrentDir: {
      out.Append(keyword == Keyword::ProjectDir   ? host.ProjectDir()
                 : keyword == Keyword::ProgramDir ? host.ProgramDir()
                 : keyword == Keyword::CacheDir   ? host.CacheDir()
                                                  : host.CurrentDir());
      if (!out.EndsInBackslash()) out.Append("\\");
      return true;
    }
    case Keyword::Var: {
      auto name = ScanLiteral(rest, at, ":") ? ScanField(rest, at, "%") : std::nullopt;
      if (!name) return false;
      auto value = host.Variable(*name);
      if (!value) return false;
      out.Append(*value);
      return true;
    }
    case Keyword::Env: {
      auto name = ScanLiteral(rest, at, ":") ? ScanField(rest, at, "%") : std::nullopt;
      if (!name) return false;
      if (auto value = host.Environment(*name)) out.Append(*value);
      // Its value is expanded again only when another macro of the pass was.
      return false;
    }
    case Keyword::Reg: {
      auto rootName = ScanLiteral(rest, at, ":") ? ScanField(rest, at, ":") : std::nullopt;
      auto path = rootName && ScanLiteral(rest, at, ":") ? ScanField(rest, at, "%") : std::nullopt;
      if (!path) return false;
      auto root = RegistryRootNamed(*rootName);
      if (!root) return false;
      size_t slash = path->rfind('\\');
      if (slash == std::string::npos || slash + 1 == path->size()) return true;
      out.Append(Clip(host.RegistryValue(*root, path->substr(0, slash), path->substr(slash + 1))));
      return true;
    }
    case Keyword::Ini: {
      auto file = ScanLiteral(rest, at, ":") ? ScanField(rest, at, ":") : std::nullopt;
      auto section = file && ScanLiteral(rest, at, ":") ? ScanField(rest, at, ":") : std::nullopt;
      auto key = section && ScanLiteral(rest, at, ":") ? ScanField(rest, at, "%") : std::nullopt;
      if (!key) return false;
      out.Append(Clip(host.IniValue(*file, *section, *key)));
      return true;
    }
    case Keyword::Prompt: {
      auto initial = ScanLiteral(rest, at, ":") ? ScanField(rest, at, "%") : std::nullopt;
      auto chosen = host.PromptForFile(initial.value_or(std::string()));
      if (!chosen) return false;
      out.Append(*chosen);
      return true;
    }
  }
  return false;
}

}  // namespace

std::optional<RegistryRoot> RegistryRootNamed(std::string_view name) {
  for (size_t i = 0; i < kRootNames.size(); ++i)
    if (EqualsNoCase(name, kRootNames[i])) return static_cast<RegistryRoot>(i);
  return std::nullopt;
}

const char* RegistryRootName(RegistryRoot root) { return kRootNames[static_cast<size_t>(root)]; }

bool ExpandOnce(std::string& text, MacroHost& host) {
  if (text.find('%') == std::string::npos) return false;
  const std::string in = std::move(text);
  text.clear();
  BoundedOutput out(text);
  bool replaced = false;
  size_t i = 0;
  while (i < in.size() && !out.full()) {
    size_t percent = in.find('%', i);
    out.Append(std::string_view(in).substr(i, percent == std::string::npos ? std::string::npos : percent - i));
    if (percent == std::string::npos || out.full()) break;
    if (percent + 1 < in.size() && in[percent + 1] == '%') {
      out.Append("%%");
      i = percent + 2;
      continue;
    }
    std::string_view rest = std::string_view(in).substr(percent + 1);
    size_t keywordEnd = percent + 1;
    for (const KeywordName& k : kKeywords) {
      if (rest.starts_with(k.name)) {
        replaced = Replace(k, rest, host, out) || replaced;
        keywordEnd += k.name.size();
        break;
      }
    }
    // An unknown word produces nothing; without a closing "%" the rest is dropped.
    size_t close = in.find('%', keywordEnd);
    if (close == std::string::npos) break;
    i = close + 1;
  }
  return replaced;
}

std::vector<std::string> UnknownMacros(std::string_view text) {
  std::vector<std::string> unknown;
  size_t i = 0;
  while (i < text.size()) {
    size_t percent = text.find('%', i);
    if (percent == std::string_view::npos) break;
    if (percent + 1 < text.size() && text[percent + 1] == '%') {
      i = percent + 2;
      continue;
    }
    std::string_view rest = text.substr(percent + 1);
    size_t close = text.find('%', percent + 1);
    bool known = false;
    for (const KeywordName& k : kKeywords) known = known || rest.starts_with(k.name);
    if (!known)
      unknown.emplace_back(text.substr(percent, close == std::string_view::npos ? std::string_view::npos
                                                                                : close - percent + 1));
    if (close == std::string_view::npos) break;
    i = close + 1;
  }
  return unknown;
}

std::string ExpandNames(std::string_view text, MacroHost& host) {
  std::string result(text);
  for (int pass = 0; pass < kMaxExpandPasses; ++pass)
    if (!ExpandOnce(result, host) || result.size() >= kMaxExpandedSize) break;
  std::string out;
  out.reserve(result.size());
  for (size_t i = 0; i < result.size(); ++i) {
    out += result[i];
    if (result[i] == '%' && i + 1 < result.size() && result[i + 1] == '%') ++i;
  }
  return out;
}

}  // namespace kv
