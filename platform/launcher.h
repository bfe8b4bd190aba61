// Starting other programs for the launch insert, the shell-execute builtins
// and opening documents. A program never runs through a shell, never
// inherits our descriptors, runs in its own process group and is reaped.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/paths.h"

namespace kv {

// What to start: the program as a stored name (Windows-1252; a bare name is
// looked up on PATH) and the arguments after it in host form (UTF-8).
struct LaunchCommand {
  std::string program;
  std::vector<std::string> arguments;
  bool operator==(const LaunchCommand&) const = default;
};

// Splits arguments by the rules a Windows program's startup code applies:
// space and tab delimit; quotes group, "\"" is a quote, backslashes count
// only before a quote, "" inside quotes is a quote and ends the group.
std::vector<std::string> SplitArguments(std::string_view text);

// A whole Windows command line (Windows-1252): the program name first, taken
// as the system took it: a quoted name up to its closing quote, else the
// shortest run of words up to a blank that `isProgram` accepts, else the first
// word. The rest are the arguments.
LaunchCommand CommandFromLine(std::string_view line, const std::function<bool(const std::string&)>& isProgram);

// A started program. One thread uses a handle at a time. Destroying it never
// stops the program: one still running is reaped when it ends; one never
// resumed ends without having run.
class LaunchedProgram {
 public:
  virtual ~LaunchedProgram() = default;
  // Lets the program run; 0, or the errno of a failed start.
  virtual int Resume() = 0;
  virtual bool Running() = 0;
  // True when it has ended, waiting up to `ms` (negative: without limit).
  virtual bool Wait(int ms) = 0;
  // Asks the program's process group to end, waits up to `waitMs`, then
  // kills it; reaped on return. A program never resumed ends without running.
  virtual void Close(int waitMs) = 0;
  // Asks the program's process group to end, without waiting or killing.
  virtual void AskToEnd() = 0;
  virtual int Pid() const = 0;
};

struct LaunchResult {
  std::unique_ptr<LaunchedProgram> program;  // null when it could not start
  int error = 0;                              // errno then
};

class MessageBoxService;

// Ends a program the player started. Asked politely first, it has 3 s to
// end; then it is killed, or, when `askUser`, the user chooses in the box
// "Terminate Application" (showing `text`): terminate now, leave it running
// (answers false), or wait 5 s more and ask it again. True when it ended.
struct CloseTimes {
  int politeMs = 3000;  // after the first request
  int waitMs = 5000;    // the user's "wait"
  int againMs = 3000;   // after asking again
};
bool CloseApplication(LaunchedProgram* program, bool askUser, const std::string& text, MessageBoxService& boxes,
                      const CloseTimes& times = {});

class ProgramLauncher {
 public:
  virtual ~ProgramLauncher() = default;
  // Starts suspended: nothing of the program runs before Resume().
  virtual LaunchResult Start(const LaunchCommand& command) = 0;
  // Whether a stored name names a program this launcher could start.
  virtual bool IsProgram(const std::string& storedName) = 0;
  // The launch insert's "program parameters" line as a command.
  LaunchCommand Command(std::string_view line) {
    return CommandFromLine(line, [this](const std::string& name) { return IsProgram(name); });
  }
};

// fork and exec. Stored names resolve through the drive map; relative ones
// against `baseDir` (a host folder; empty: the current directory).
class PosixLauncher : public ProgramLauncher {
 public:
  explicit PosixLauncher(const DriveMap& drives, std::string baseDir = {});
  LaunchResult Start(const LaunchCommand& command) override;
  bool IsProgram(const std::string& storedName) override;

 private:
  // The host path of an executable file, or the errno why there is none.
  std::string HostProgram(const std::string& storedName, int& error) const;

  const DriveMap& drives_;
  std::string baseDir_;
};

// Records every start; the programs run until the test ends them.
class RecordingLauncher : public ProgramLauncher {
 public:
  struct Started {
    LaunchCommand command;
    bool resumed = false;
    bool ended = false;
    int closeWaitMs = -1;  // -1 while not closed
  };
  LaunchResult Start(const LaunchCommand& command) override;
  bool IsProgram(const std::string& storedName) override;

  // Names IsProgram accepts.
  std::vector<std::string> programs;
  // When not 0, the next Start fails with this errno.
  int failNext = 0;
  // The n-th start, in order.
  const Started& started(size_t n) const { return *started_.at(n); }
  size_t startCount() const { return started_.size(); }
  // Ends the n-th program as if it had exited.
  void Finish(size_t n) { started_.at(n)->ended = true; }

 private:
  std::vector<std::shared_ptr<Started>> started_;
};

// "http:", "mailto:" and the like: a scheme of two characters or more (a
// drive letter is a single letter).
bool IsAddress(std::string_view target);
// The host path a "file:" address names ("file:/p", "file:///p",
// "file://localhost/p", %XX escapes decoded, query and fragment dropped);
// nothing for another machine's file or a broken escape.
std::optional<std::string> LocalPathOfFileAddress(std::string_view address);
// The "file://" address of a host path, every byte beyond the unreserved
// ones and "/" escaped.
std::string FileAddressOfHostPath(const std::string& hostPath);

// Opens a document or an address with the desktop's default handler.
class DocumentOpener {
 public:
  virtual ~DocumentOpener() = default;
  // `target`: a stored file name or a URL (Windows-1252). False when there
  // is no such file or no handler could be started.
  virtual bool Open(const std::string& target) = 0;
  // Whether the run may show or hand on the file at `hostPath`: the same
  // confinement as documents opened (a web page shown by a control, too).
  virtual bool MayOpenHostPath(const std::string& /*hostPath*/) const { return true; }
};

// Through xdg-open, started by a launcher and left to run.
class XdgDocumentOpener : public DocumentOpener {
 public:
  // Judges a document's host path before it is opened: the handler reads
  // it, and may run it, so a project's confinement to its folders holds
  // here as for its writes. Without one every document opens.
  using Confinement = std::function<bool(const std::string& hostPath)>;

  XdgDocumentOpener(ProgramLauncher& launcher, const DriveMap& drives, std::string baseDir = {},
                    Confinement mayOpen = {});
  bool Open(const std::string& target) override;
  // The command that opens `target`; an empty program when the file is
  // missing or refused. Under a confinement a "file:" address is judged by
  // its path, and refused when it names another machine's file.
  LaunchCommand CommandFor(const std::string& target) const;
  bool MayOpenHostPath(const std::string& hostPath) const override;

 private:
  ProgramLauncher& launcher_;
  const DriveMap& drives_;
  std::string baseDir_;
  Confinement mayOpen_;
};

class RecordingDocumentOpener : public DocumentOpener {
 public:
  bool Open(const std::string& target) override {
    opened.push_back(target);
    return answer;
  }
  std::vector<std::string> opened;
  bool answer = true;
};

}  // namespace kv
