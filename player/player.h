// The owner of one run: the document, the clock, the trace, the message
// box, the runner and the off-screen stage, built from the command line and
// handed down to everything that plays. The shell builds one with the real
// services; tests build one with the headless ones.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "player/command_line.h"
#include "player/input_script.h"

namespace kv {

class Clock;
class Compositor;
class DocumentOpener;
class HarnessFileDialog;
class HarnessMessageBox;
class PlayerMacroHost;
class ProgramLauncher;
class JsonTrace;
class MediaContext;
class Runner;
class ScriptThreadContext;

// Exit statuses every tool shares.
namespace exit_status {
inline constexpr int kOk = 0;
inline constexpr int kNotFound = 1;
inline constexpr int kCorrupt = 2;
inline constexpr int kAborted = 3;
inline constexpr int kUsage = 64;
}  // namespace exit_status

struct HostFacts {
  std::string programDir;  // host form
  int32_t screenWidth = 1024;
  int32_t screenHeight = 768;
};

class Player {
 public:
  Player(PlayerOptions options, HostFacts host);
  ~Player();
  Player(const Player&) = delete;
  Player& operator=(const Player&) = delete;

  // Plays the file of the options; answers the exit status.
  int Run();

 private:
  int Fail(int status, const std::string& message);
  void Deliver(const InputEvent& e);
  void RenderFrame(const std::string& name);
  void EndRun(int status);

  PlayerOptions options_;
  HostFacts host_;
  std::unique_ptr<Clock> clock_;
  std::unique_ptr<JsonTrace> trace_;
  std::unique_ptr<HarnessMessageBox> messages_;
  std::unique_ptr<HarnessFileDialog> fileDialog_;
  std::unique_ptr<PlayerMacroHost> macros_;
  std::unique_ptr<ProgramLauncher> launcher_;
  std::unique_ptr<DocumentOpener> documents_;
  std::unique_ptr<MediaContext> media_;
  std::unique_ptr<Runner> runner_;
  std::shared_ptr<ScriptThreadContext> main_;
  std::unique_ptr<Compositor> stage_;
  std::vector<InputEvent> input_;
  int frames_ = 0;
  bool ended_ = false;
};

}  // namespace kv
