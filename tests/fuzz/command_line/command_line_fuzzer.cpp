// Feeds arbitrary command lines to the Windows-rules splitter. Quoting every
// argument again by the same rules and splitting the joined line must give
// the same arguments, and the program-name search must only ever offer runs
// of whole words from the start of the line.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/launcher.h"

namespace {

// The quoting a Windows program's startup code undoes.
std::string Quote(const std::string& arg) {
  std::string out = "\"";
  size_t backslashes = 0;
  for (char c : arg) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    out.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
    backslashes = 0;
    out += c;
  }
  out.append(backslashes * 2, '\\');
  return out + "\"";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string line(reinterpret_cast<const char*>(data), size);
  std::vector<std::string> args = kv::SplitArguments(line);
  std::string joined;
  for (const std::string& a : args) joined += Quote(a) + " ";
  if (kv::SplitArguments(joined) != args) std::abort();

  size_t offered = 0;
  kv::LaunchCommand command = kv::CommandFromLine(line, [&](const std::string& name) {
    if (name.empty() || line.find(name) == std::string::npos) std::abort();
    return ++offered == 2;  // accept the second candidate, when there is one
  });
  if (command.program.size() > line.size()) std::abort();
  return 0;
}
