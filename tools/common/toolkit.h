// What every command-line tool shares: the exit statuses, messages that start
// with the tool's name, reading input files, and a main wrapper that turns
// every failure into a message and a status. kvtool and orlanc use it.
#pragma once

#include <stdexcept>
#include <string>

namespace kv::tool {

// The same meaning in every tool.
enum ExitCode : int {
  kExitOk = 0,
  kExitNotFound = 1,  // an input file is missing or unreadable
  kExitBadData = 2,   // an input file is corrupt or not of the expected kind
  kExitFailed = 3,    // the work itself failed: network, output file, an aborted run
  kExitUsage = 64,
};

// A failure with its exit status; RunMain prints it after the message prefix.
class ToolError : public std::runtime_error {
 public:
  ToolError(int code, const std::string& message) : std::runtime_error(message), code_(code) {}
  int code() const { return code_; }

 private:
  int code_;
};

// "kvtool" or "orlanc", and the subcommand being run ("dump"), for messages.
void SetToolName(const char* tool);
void SetCommandName(const char* command);
const std::string& ToolName();
// "kvtool dump" while a subcommand runs, else the tool's name alone.
std::string MessagePrefix();

// Prints "PREFIX: MESSAGE" on standard error and returns `code`.
int Fail(int code, const char* format, ...) __attribute__((format(printf, 2, 3)));
// The same line, without an exit status: for warnings and per-item failures.
void Warn(const char* format, ...) __attribute__((format(printf, 1, 2)));

// The whole of a regular file. A missing, unreadable or special file (a
// folder, a device) throws ToolError with kExitNotFound; so does an empty one
// when `allowEmpty` is false, with kExitBadData since it exists but holds nothing.
std::string ReadInputFile(const std::string& path, bool allowEmpty = true);
// Throws as ReadInputFile does when `path` is not a readable regular file.
void CheckInputFile(const std::string& path);

// Writes `bytes` to `path` as one atomic replacement; throws kExitFailed.
void WriteOutputFile(const std::string& path, std::string_view bytes);
// Writes to standard output and flushes; throws kExitFailed when it cannot.
void WriteStdout(std::string_view text);

// Runs `body` for `tool`: no exception leaves it, and a failed write of
// standard output turns success into kExitFailed.
int RunMain(const char* tool, int argc, char** argv, int (*body)(int argc, char** argv));

}  // namespace kv::tool
