#include "player/input_script.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <sstream>

#include "platform/text.h"

namespace kv {

namespace {

bool ToInt(const std::string& s, int64_t& v) {
  if (s.empty()) return false;
  auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
  return ec == std::errc() && end == s.data() + s.size();
}

}  // namespace

uint32_t VirtualKeyOf(const std::string& name) {
  static const struct {
    const char* name;
    uint32_t key;
  } kKeys[] = {
      {"Backspace", 0x08}, {"Tab", 0x09},    {"Return", 0x0D}, {"Enter", 0x0D},   {"Shift", 0x10},
      {"Ctrl", 0x11},      {"Alt", 0x12},    {"Pause", 0x13},  {"Escape", 0x1B},  {"Esc", 0x1B},
      {"Space", 0x20},     {"PageUp", 0x21}, {"PageDown", 0x22}, {"End", 0x23},   {"Home", 0x24},
      {"Left", 0x25},      {"Up", 0x26},     {"Right", 0x27},  {"Down", 0x28},    {"Insert", 0x2D},
      {"Delete", 0x2E},
  };
  for (const auto& k : kKeys)
    if (EqualsNoCase(name, k.name)) return k.key;
  if (name.size() == 1) {
    char c = static_cast<char>(std::toupper(static_cast<unsigned char>(name[0])));
    if ((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) return static_cast<uint32_t>(c);
  }
  if (name.size() >= 2 && (name[0] == 'F' || name[0] == 'f')) {
    int64_t n = 0;
    if (ToInt(name.substr(1), n) && n >= 1 && n <= 24) return static_cast<uint32_t>(0x70 + n - 1);
  }
  return 0;
}

bool ParseInputScript(const std::string& text, std::vector<InputEvent>& out, std::string& error) {
  std::istringstream in(text);
  std::string line;
  int number = 0;
  while (std::getline(in, line)) {
    ++number;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::istringstream words(line);
    std::string time, verb;
    if (!(words >> time) || time[0] == '#') continue;
    auto fail = [&](const std::string& why) {
      error = "line " + std::to_string(number) + ": " + why;
      return false;
    };
    InputEvent e;
    if (!ToInt(time, e.timeMs) || e.timeMs < 0) return fail("a time in milliseconds comes first");
    if (!(words >> verb)) return fail("an event name follows the time");
    static const struct {
      const char* name;
      InputEvent::Kind kind;
    } kPointer[] = {{"move", InputEvent::Kind::kMove},       {"down", InputEvent::Kind::kDown},
                    {"up", InputEvent::Kind::kUp},           {"click", InputEvent::Kind::kClick},
                    {"rclick", InputEvent::Kind::kRightClick}, {"dblclick", InputEvent::Kind::kDoubleClick}};
    bool pointer = false;
    for (const auto& p : kPointer)
      if (verb == p.name) {
        e.kind = p.kind;
        pointer = true;
      }
    if (pointer) {
      std::string xs, ys;
      int64_t x, y;
      if (!(words >> xs >> ys) || !ToInt(xs, x) || !ToInt(ys, y)) return fail(verb + " needs X and Y");
      e.x = static_cast<int32_t>(x);
      e.y = static_cast<int32_t>(y);
    } else if (verb == "key" || verb == "keydown" || verb == "keyup") {
      std::string spec;
      if (!(words >> spec)) return fail(verb + " needs a key name");
      e.kind = verb == "key" ? InputEvent::Kind::kKey
               : verb == "keydown" ? InputEvent::Kind::kKeyDown : InputEvent::Kind::kKeyUp;
      size_t start = 0;
      for (;;) {
        size_t plus = spec.find('+', start);
        std::string part = spec.substr(start, plus == std::string::npos ? std::string::npos : plus - start);
        if (plus == std::string::npos) {
          e.key = VirtualKeyOf(part);
          if (!e.key) return fail("unknown key \"" + part + "\"");
          break;
        }
        if (EqualsNoCase(part, "Shift")) e.modifiers |= 1;
        else if (EqualsNoCase(part, "Ctrl")) e.modifiers |= 2;
        else if (EqualsNoCase(part, "Alt")) e.modifiers |= 4;
        else return fail("unknown modifier \"" + part + "\"");
        start = plus + 1;
      }
    } else if (verb == "char") {
      e.kind = InputEvent::Kind::kChar;
      std::string rest;
      std::getline(words, rest);
      if (!rest.empty() && rest[0] == ' ') rest.erase(rest.begin());
      e.text = Utf8ToCp1252(rest);
    } else if (verb == "drop") {
      e.kind = InputEvent::Kind::kDrop;
      std::string xs, ys, rest;
      int64_t x, y;
      if (!(words >> xs >> ys) || !ToInt(xs, x) || !ToInt(ys, y)) return fail("drop needs X, Y and the text");
      e.x = static_cast<int32_t>(x);
      e.y = static_cast<int32_t>(y);
      std::getline(words, rest);
      if (!rest.empty() && rest[0] == ' ') rest.erase(rest.begin());
      if (rest.empty()) return fail("drop needs the text dropped");
      e.text = Utf8ToCp1252(rest);
    } else if (verb == "minimize") {
      e.kind = InputEvent::Kind::kMinimize;
    } else if (verb == "restore") {
      e.kind = InputEvent::Kind::kRestore;
    } else if (verb == "suspend") {
      e.kind = InputEvent::Kind::kSuspend;
    } else if (verb == "resume") {
      e.kind = InputEvent::Kind::kResume;
    } else {
      return fail("unknown event \"" + verb + "\"");
    }
    out.push_back(std::move(e));
  }
  std::stable_sort(out.begin(), out.end(), [](const InputEvent& a, const InputEvent& b) { return a.timeMs < b.timeMs; });
  return true;
}

}  // namespace kv
