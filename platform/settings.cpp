#include "platform/settings.h"

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <unistd.h>

#include "platform/files.h"
#include "platform/text.h"

namespace kv {
namespace {

SettingsStore* g_override = nullptr;

// Names are matched without regard to case, as registry keys were.
bool SameName(const std::string& a, const std::string& b) { return EqualsNoCase(a, b); }

bool IsUtf8(std::string_view text) {
  size_t i = 0;
  while (i < text.size()) {
    auto lead = static_cast<uint8_t>(text[i++]);
    size_t follow = lead < 0x80 ? 0 : lead < 0xC2 ? 4 : lead < 0xE0 ? 1 : lead < 0xF0 ? 2 : lead < 0xF5 ? 3 : 4;
    if (follow == 4 || follow > text.size() - i) return false;
    for (; follow > 0; --follow)
      if ((static_cast<uint8_t>(text[i++]) & 0xC0) != 0x80) return false;
  }
  return true;
}

// Our own file is UTF-8 for people who edit it; an INI file written on the
// original's system holds Windows-1252 bytes, taken as they are.
std::string FromFile(std::string_view text) { return IsUtf8(text) ? Utf8ToCp1252(text) : std::string(text); }

}  // namespace

SettingsStore::SettingsStore(std::string path) : path_(std::move(path)) { Reload(); }

std::string SettingsStore::DefaultPath() {
  std::string base;
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && *xdg == '/') {
    base = xdg;
  } else if (const char* home = std::getenv("HOME"); home && *home) {
    base = std::string(home) + "/.config";
  } else {
    return {};
  }
  return base + "/Dunmere Corp./Korvel.conf";
}

std::string PlayerDataFolder() {
  std::string base;
  if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && *xdg == '/') {
    base = xdg;
  } else if (const char* home = std::getenv("HOME"); home && *home == '/') {
    base = std::string(home) + "/.local/share";
  } else {
    return {};
  }
  return base + "/Dunmere Corp./Korvel";
}

SettingsStore& SettingsStore::Process() {
  if (g_override) return *g_override;
  static SettingsStore store(DefaultPath());
  return store;
}

void SettingsStore::SetProcess(SettingsStore* store) { g_override = store; }

void SettingsStore::Reload() {
  std::lock_guard lock(mutex_);
  lines_.clear();
  sections_.clear();
  if (path_.empty()) return;
  std::ifstream in(path_);
  if (!in) return;
  std::string section;
  std::string text;
  while (std::getline(in, text)) {
    if (!text.empty() && text.back() == '\r') text.pop_back();
    std::string_view t = Trim(text);
    if (t.size() >= 2 && t.front() == '[' && t.back() == ']') {
      section = FromFile(t.substr(1, t.size() - 2));
      bool known = false;
      for (const std::string& s : sections_) known = known || s == section;
      if (!known) sections_.push_back(section);
      continue;
    }
    size_t eq = t.find('=');
    if (t.empty() || t.front() == ';' || t.front() == '#' || eq == std::string_view::npos) {
      lines_.push_back({section, {}, {}, text});
      continue;
    }
    lines_.push_back({section, FromFile(Trim(t.substr(0, eq))), FromFile(Trim(t.substr(eq + 1))), {}});
  }
}

const SettingsStore::Line* SettingsStore::Find(const std::string& section, const std::string& name) const {
  for (const Line& l : lines_)
    if (!l.key.empty() && SameName(l.section, section) && SameName(l.key, name)) return &l;
  return nullptr;
}

int32_t SettingsStore::GetInt(const std::string& section, const std::string& name, int32_t def) const {
  std::lock_guard lock(mutex_);
  const Line* l = Find(section, name);
  if (!l) return def;
  int64_t v = 0;
  const char* b = l->value.data();
  const char* e = b + l->value.size();
  auto [p, ec] = std::from_chars(b, e, v);
  if (ec != std::errc() || p != e || v < INT32_MIN || v > UINT32_MAX) return def;
  return static_cast<int32_t>(static_cast<uint32_t>(v));
}

std::string SettingsStore::GetString(const std::string& section, const std::string& name,
                                     const std::string& def) const {
  std::lock_guard lock(mutex_);
  const Line* l = Find(section, name);
  return l ? l->value : def;
}

bool SettingsStore::SetInt(const std::string& section, const std::string& name, int32_t value) {
  return Set(section, name, std::to_string(value));
}

bool SettingsStore::SetString(const std::string& section, const std::string& name, const std::string& value) {
  return Set(section, name, value);
}

bool SettingsStore::Set(const std::string& section, const std::string& name, const std::string& value) {
  std::lock_guard lock(mutex_);
  // A line break would split the value into a second entry.
  std::string clean;
  for (char c : value) clean += (c == '\r' || c == '\n') ? ' ' : c;
  for (Line& l : lines_) {
    if (!l.key.empty() && SameName(l.section, section) && SameName(l.key, name)) {
      l.value = clean;
      return Save();
    }
  }
  bool known = false;
  for (const std::string& s : sections_) known = known || SameName(s, section);
  if (!known) sections_.push_back(section);
  // Insert after the last line of the section, so the file stays grouped.
  size_t at = lines_.size();
  for (size_t i = 0; i < lines_.size(); ++i)
    if (SameName(lines_[i].section, section)) at = i + 1;
  lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(at), Line{section, name, clean, {}});
  return Save();
}

bool SettingsStore::Save() const {
  if (path_.empty()) return true;
  std::error_code ec;
  std::filesystem::create_directories(std::filesystem::path(path_).parent_path(), ec);
  std::ostringstream out;
  // Lines before the first section header belong to section "".
  for (const Line& l : lines_) {
    if (!l.section.empty()) break;
    out << (l.key.empty() ? l.raw : Cp1252ToUtf8(l.key) + "=" + Cp1252ToUtf8(l.value)) << "\n";
  }
  for (const std::string& s : sections_) {
    if (s.empty()) continue;
    out << "[" << Cp1252ToUtf8(s) << "]\n";
    for (const Line& l : lines_) {
      if (l.section != s) continue;
      out << (l.key.empty() ? l.raw : Cp1252ToUtf8(l.key) + "=" + Cp1252ToUtf8(l.value)) << "\n";
    }
  }
  return WriteFileAtomically(path_, out.str());
}

int32_t GetSetting(const std::string& section, const std::string& name, int32_t def) {
  return SettingsStore::Process().GetInt(section, name, def);
}
std::string GetSetting(const std::string& section, const std::string& name, const std::string& def) {
  return SettingsStore::Process().GetString(section, name, def);
}
bool SetSetting(const std::string& section, const std::string& name, int32_t value) {
  return SettingsStore::Process().SetInt(section, name, value);
}
bool SetSetting(const std::string& section, const std::string& name, const std::string& value) {
  return SettingsStore::Process().SetString(section, name, value);
}

}  // namespace kv
