// Author-written MCI command strings: the word parser, keyword matching and
// the command layer's dispatch (without a sound device, so nothing plays).
#include <cstddef>
#include <cstdint>
#include <string>

#include "media/mci_command.h"
#include "media/mci_devices.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  static constexpr kv::MciKeyword kGrammar[] = {
      {"time format", true}, {"from", true}, {"to", true}, {"notify", false}, {"door open", false}};
  try {
    const kv::MciCommand cmd = kv::ParseMciCommand(text);
    kv::MatchMciKeywords(cmd.args, kGrammar);
  } catch (const kv::MciError&) {
    // Refused strings are the usual outcome.
  }
  kv::MciConfig config;
  config.resolve = [](const std::string&) { return std::nullopt; };
  kv::MciSystem mci(nullptr, config);
  std::string ret;
  const uint32_t err = mci.SendString(text, &ret);
  if (err == 0 && mci.OpenCount() > 0) __builtin_trap();  // nothing can open without a device
  return 0;
}
