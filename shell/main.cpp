// korvel: plays a Korvel project or compilation. Without a display (or with
// --headless) the stage is composed off-screen; the harness options drive
// such runs for tests and tools.
#include <cstdio>
#include <exception>
#include <filesystem>
#include <string>
#include <vector>

#include "player/command_line.h"
#include "player/player.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  kv::PlayerOptions options;
  std::string error;
  if (!kv::ParseCommandLine(args, options, error)) {
    std::fprintf(stderr, "korvel: %s\nTry 'korvel --help'.\n", error.c_str());
    return kv::exit_status::kUsage;
  }
  if (options.help) {
    std::fputs(kv::PlayerUsage().c_str(), stdout);
    return kv::exit_status::kOk;
  }
  if (options.version) {
    std::printf("korvel %s\n", KV_VERSION);
    return kv::exit_status::kOk;
  }
  try {
    kv::HostFacts host;
    std::error_code ec;
    auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (!ec) host.programDir = self.parent_path().string() + "/";
    kv::Player player(std::move(options), host);
    return player.Run();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "korvel: %s\n", e.what());
    return kv::exit_status::kAborted;
  }
}
