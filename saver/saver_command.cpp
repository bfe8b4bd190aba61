#include "saver/saver_command.h"

#include <cctype>
#include <charconv>

namespace kv::saver {

namespace {

bool IsBlankOrColon(char c) { return c == ' ' || c == '\t' || c == ':'; }

// Decimal digits after blanks and colons; none when no digit follows.
std::optional<uint64_t> HandleAfter(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && IsBlankOrColon(text[i])) ++i;
  uint64_t value = 0;
  auto [end, ec] = std::from_chars(text.data() + i, text.data() + text.size(), value);
  if (ec != std::errc() || end == text.data() + i) return std::nullopt;
  return value;
}

}  // namespace

bool IsSaverProgramName(std::string_view argv0) {
  const size_t slash = argv0.rfind('/');
  std::string_view name = slash == std::string_view::npos ? argv0 : argv0.substr(slash + 1);
  if (name.size() < 4) return false;
  std::string_view ext = name.substr(name.size() - 4);
  return ext[0] == '.' && std::tolower(static_cast<unsigned char>(ext[1])) == 's' &&
         std::tolower(static_cast<unsigned char>(ext[2])) == 'c' &&
         std::tolower(static_cast<unsigned char>(ext[3])) == 'r';
}

SaverInvocation ParseScrSwitches(const std::vector<std::string>& args) {
  SaverInvocation out;
  // The switch and its handle may come as one argument or several.
  std::string line;
  for (const std::string& a : args) line += (line.empty() ? "" : " ") + a;
  std::string_view text = line;
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  if (text.empty()) {
    out.mode = SaverMode::kConfigure;
    return out;
  }
  if (text.front() == '/' || text.front() == '-') text.remove_prefix(1);
  const char letter = text.empty() ? '\0' : text.front();
  if (!text.empty()) text.remove_prefix(1);
  switch (letter) {
    case 'C': case 'c':
      out.mode = SaverMode::kConfigure;
      out.window = HandleAfter(text);
      if (out.window && *out.window == 0) out = {};
      break;
    case 'A': case 'a':
      out.mode = SaverMode::kChangePassword;
      out.window = HandleAfter(text);
      break;
    case 'P': case 'p': case 'L': case 'l':
      out.mode = SaverMode::kPreview;
      out.window = HandleAfter(text);
      break;
    case 'S': case 's': out.mode = SaverMode::kRun; break;
    default: break;
  }
  return out;
}

bool ParseWindowId(std::string_view text, uint64_t& out) {
  int base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    text.remove_prefix(2);
    base = 16;
  }
  if (text.empty()) return false;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out, base);
  return ec == std::errc() && end == text.data() + text.size();
}

bool HasSaverOption(const std::vector<std::string>& args) {
  for (const std::string& a : args)
    if (a == "--saver") return true;
  return false;
}

bool ParseSaverOptions(const std::vector<std::string>& args, const char* environmentWindow, SaverInvocation& out,
                       std::string& error) {
  out = {};
  bool saver = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto windowValue = [&](const char* what) {
      uint64_t id = 0;
      if (i + 1 >= args.size() || !ParseWindowId(args[i + 1], id)) {
        error = std::string(what) + " needs a window id (decimal or 0x hexadecimal)";
        return false;
      }
      ++i;
      out.window = id;
      return true;
    };
    if (a == "--saver") {
      saver = true;
      // The mode word is optional: alone, "--saver" configures.
      out.mode = SaverMode::kConfigure;
      if (i + 1 < args.size()) {
        const std::string& m = args[i + 1];
        if (m == "configure") {
          ++i;
        } else if (m == "run") {
          out.mode = SaverMode::kRun;
          ++i;
        } else if (m == "preview") {
          out.mode = SaverMode::kPreview;
          ++i;
          if (!windowValue("--saver preview")) return false;
        }
      }
    } else if (a == "-root" || a == "--root") {
      out.root = true;
    } else if (a == "-window-id" || a == "--window-id") {
      if (!windowValue(a.c_str())) return false;
    } else {
      out.rest.push_back(a);
    }
  }
  if (!saver) {
    error = "no --saver option";
    return false;
  }
  if (out.mode == SaverMode::kRun && !out.window && environmentWindow && *environmentWindow) {
    uint64_t id = 0;
    if (!ParseWindowId(environmentWindow, id)) {
      error = std::string("XSCREENSAVER_WINDOW is not a window id: \"") + environmentWindow + "\"";
      return false;
    }
    out.window = id;
  }
  return true;
}

}  // namespace kv::saver
