// The player's command line: the original grammar (a file name and the
// "/server", "/parent", "/plugin", "/project", "/baseurl", "/siteid", "/att"
// switches) and the GNU long options of the harness and the shell.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kv {

struct PlayerOptions {
  // The original command line.
  std::string fileName;
  std::string serverWindow, parentWindow;
  std::string pluginName, projectName, baseUrl, siteId, attValue;
  bool pluginMode = false;

  // Long options.
  bool help = false;
  bool version = false;
  bool headless = false;
  bool virtualClock = false;
  bool untilIdle = false;
  std::optional<int64_t> untilMs;
  std::vector<std::string> answers;
  std::string inputFile;
  std::string traceFile;
  std::string audioOut;
  std::string recordFile;
  bool noAudioDevice = false;
  std::string renderDir;
  std::vector<int64_t> renderAt;
  int64_t renderEvery = 0;
  int depth = 32;
  std::string printTo;
  std::optional<uint32_t> seed;
  bool fullscreen = false;
  std::string scale;
  bool allowModeChange = false;
  // How long the host may stay silent before the user is asked (a test
  // shortens it).
  int64_t hostTimeoutMs = 15000;

  // A screen-saver run, set from the saver list (not from the command line).
  struct Saver {
    bool running = false;
    bool interactive = false;
    std::optional<uint8_t> stageMode;  // replaces the project's own
    bool forceMemorySurface = false;   // presentationOption 1
  } saver;
};

// Parses argv (without the program name). A usage error fills `error` and
// answers false.
bool ParseCommandLine(const std::vector<std::string>& args, PlayerOptions& out, std::string& error);

// The text of --help.
std::string PlayerUsage();

}  // namespace kv
