#include "player/command_line.h"

#include <algorithm>
#include <cctype>
#include <charconv>

namespace kv {

namespace {

bool ParseInt(const std::string& text, int64_t& out) {
  if (text.empty()) return false;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
  return ec == std::errc() && end == text.data() + text.size();
}

std::string Trim(std::string s) {
  auto space = [](unsigned char c) { return std::isspace(c) != 0; };
  while (!s.empty() && space(s.back())) s.pop_back();
  size_t i = 0;
  while (i < s.size() && space(s[i])) ++i;
  return s.substr(i);
}

// The items of a comma-separated list, empty ones left out.
std::vector<std::string> SplitList(const std::string& list) {
  std::vector<std::string> items;
  size_t start = 0;
  for (;;) {
    size_t comma = list.find(',', start);
    std::string item = list.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
    if (!item.empty()) items.push_back(item);
    if (comma == std::string::npos) return items;
    start = comma + 1;
  }
}

std::string Unquote(std::string s) {
  if (!s.empty() && s.front() == '"') s.erase(s.begin());
  if (!s.empty() && s.back() == '"') s.pop_back();
  return s;
}

// The original switches: the word after "/" or "-", compared case-sensitively.
int SwitchIndex(const std::string& arg) {
  static const char* const kSwitches[] = {"server", "parent", "plugin", "project", "baseurl", "siteid", "att"};
  if (arg.size() < 2 || (arg[0] != '/' && arg[0] != '-') || arg[1] == '-') return 0;
  for (int i = 0; i < 7; ++i)
    if (arg.compare(1, std::string::npos, kSwitches[i]) == 0) return i + 1;
  return 0;
}

}  // namespace

std::string PlayerUsage() {
  return "Usage: korvel [OPTIONS] [FILE]\n"
         "Plays a Korvel project (.kvp) or compilation (.kvg).\n"
         "\n"
         "Original switches: /server SOCKET, /parent WINDOW-ID, /plugin NAME, /project NAME,\n"
         "  /baseurl URL, /siteid ID, /att TEXT (also written with \"-\").\n"
         "\n"
         "Options:\n"
         "  --help                 show this help and exit\n"
         "  --version              show the version and exit\n"
         "  --headless             play without a window; the stage is composed off-screen\n"
         "  --virtual-clock        time starts at 0 and moves only when every thread waits\n"
         "  --until-idle           end the run when nothing is left to happen\n"
         "  --until MS             end the run at time MS\n"
         "  --answers LIST         answers for message boxes, comma-separated\n"
         "                         (yes, no, ok, cancel, retry, ignore, abort, text:VALUE)\n"
         "  --input FILE           scripted input at times (MS move|down|up|click|rclick|dblclick X Y,\n"
         "                         MS key NAME, MS char TEXT, MS drop X Y TEXT)\n"
         "  --trace FILE           JSON Lines trace of the run (- for standard output)\n"
         "  --audio-out FILE       write everything sounded to a WAV file\n"
         "  --record FILE          also encode the stage and its sound into a video (.mp4, .mkv, .avi)\n"
         "  --no-audio-device      play as if no audio output could be opened\n"
         "  --render DIR           write the stage as PNG frames into DIR\n"
         "  --render-at MS[,MS...] with --render, also frames at these times\n"
         "  --render-every MS      with --render, also a frame every MS milliseconds\n"
         "  --depth 16|32          the display depth to emulate (default 32)\n"
         "  --print-to FILE        print into FILE: a PDF when it ends in .pdf, otherwise\n"
         "                         PNG pages FILE-NNNN.png\n"
         "  --seed N               seed every random source from N\n"
         "  --fullscreen           stage centred on a black full screen\n"
         "  --scale N|fit          scale the stage\n"
         "  --allow-mode-change    let a full-screen project change the display's resolution\n"
         "                         (X RandR; the original mode comes back when korvel ends)\n"
         "  --host-timeout MS      hosted: how long the host may stay silent (default 15000)\n"
         "\n"
         "Hosted: korvel /plugin NAME /server SOCKET|fd:N [/parent WINDOW-ID] [/baseurl URL] FILE\n"
         "  asks the host on SOCKET for FILE and every resource (docs/hosting-protocol.md)\n"
         "\n"
         "Screen saver: korvel --saver [configure | preview WINDOW-ID | run [-root | -window-id ID]]\n"
         "  edits or plays the list in $XDG_CONFIG_HOME/korvel/savers.xml\n"
         "\n"
         "Exit status: 0 the project ended, 1 a file was not found, 2 a file is corrupt,\n"
         "3 the run was aborted, 64 usage error.\n";
}

bool ParseCommandLine(const std::vector<std::string>& args, PlayerOptions& o, std::string& error) {
  int pending = 0;
  std::string* slots[] = {nullptr,        &o.serverWindow, &o.parentWindow, &o.pluginName,
                          &o.projectName, &o.baseUrl,      &o.siteId,       &o.attValue};
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto value = [&](std::string& out) {
      if (i + 1 >= args.size()) {
        error = "option " + a + " needs a value";
        return false;
      }
      out = args[++i];
      return true;
    };
    auto number = [&](int64_t& out) {
      std::string text;
      if (!value(text)) return false;
      if (!ParseInt(text, out) || out < 0) {
        error = "option " + a + " needs a whole number, not \"" + text + "\"";
        return false;
      }
      return true;
    };
    if (int sw = SwitchIndex(a)) {
      pending = sw;
      continue;
    }
    if (pending) {
      *slots[pending] = a;
      pending = 0;
      continue;
    }
    if (a.rfind("--", 0) == 0 && a.size() > 2) {
      int64_t n = 0;
      if (a == "--help") o.help = true;
      else if (a == "--version") o.version = true;
      else if (a == "--headless") o.headless = true;
      else if (a == "--virtual-clock") o.virtualClock = true;
      else if (a == "--until-idle") o.untilIdle = true;
      else if (a == "--until") {
        if (!number(n)) return false;
        o.untilMs = n;
      } else if (a == "--answers") {
        std::string list;
        if (!value(list)) return false;
        for (std::string& item : SplitList(list)) o.answers.push_back(std::move(item));
      } else if (a == "--input") {
        if (!value(o.inputFile)) return false;
      } else if (a == "--trace") {
        if (!value(o.traceFile)) return false;
      } else if (a == "--audio-out") {
        if (!value(o.audioOut)) return false;
      } else if (a == "--record") {
        if (!value(o.recordFile)) return false;
      } else if (a == "--print-to") {
        if (!value(o.printTo)) return false;
        if (o.printTo.empty()) {
          error = "--print-to needs a file name";
          return false;
        }
      } else if (a == "--no-audio-device") o.noAudioDevice = true;
      else if (a == "--render") {
        if (!value(o.renderDir)) return false;
      } else if (a == "--render-at") {
        std::string list;
        if (!value(list)) return false;
        for (const std::string& item : SplitList(list)) {
          if (!ParseInt(item, n) || n < 0) {
            error = "--render-at needs whole numbers, not \"" + item + "\"";
            return false;
          }
          o.renderAt.push_back(n);
        }
        std::sort(o.renderAt.begin(), o.renderAt.end());
      } else if (a == "--render-every") {
        if (!number(n)) return false;
        if (n == 0) {
          error = "--render-every needs a period above 0";
          return false;
        }
        o.renderEvery = n;
      } else if (a == "--depth") {
        if (!number(n)) return false;
        if (n != 16 && n != 32) {
          error = "--depth takes 16 or 32";
          return false;
        }
        o.depth = static_cast<int>(n);
      } else if (a == "--seed") {
        if (!number(n)) return false;
        o.seed = static_cast<uint32_t>(n);
      } else if (a == "--fullscreen") o.fullscreen = true;
      else if (a == "--allow-mode-change") o.allowModeChange = true;
      else if (a == "--host-timeout") {
        if (!number(n)) return false;
        if (n == 0) {
          error = "--host-timeout needs a time above 0";
          return false;
        }
        o.hostTimeoutMs = n;
      }
      else if (a == "--scale") {
        if (!value(o.scale)) return false;
      } else {
        error = "unknown option " + a;
        return false;
      }
      continue;
    }
    // Anything else, absolute host paths included, is a file name; the first wins.
    if (o.fileName.empty()) o.fileName = Unquote(a);
  }
  // A switch left without its value leaves its field empty; the record is
  // finished all the same.
  o.pluginName = Unquote(Trim(o.pluginName));
  o.projectName = Unquote(Trim(o.projectName));
  std::string base = Trim(o.baseUrl);
  std::transform(base.begin(), base.end(), base.begin(), [](unsigned char c) { return std::tolower(c); });
  o.baseUrl = Unquote(base);
  o.siteId = Unquote(o.siteId);
  o.attValue = Unquote(o.attValue);
  o.pluginMode = !o.pluginName.empty();
  if ((!o.renderAt.empty() || o.renderEvery) && o.renderDir.empty()) {
    error = "--render-at and --render-every need --render DIR";
    return false;
  }
  return true;
}

}  // namespace kv
