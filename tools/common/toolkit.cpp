#include "tools/common/toolkit.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <new>

#include "platform/files.h"

namespace kv::tool {

namespace {

std::string g_tool = "tool";
std::string g_command;

void PrintLine(const char* format, va_list args) {
  std::fprintf(stderr, "%s: ", MessagePrefix().c_str());
  std::vfprintf(stderr, format, args);
  std::fputc('\n', stderr);
}

[[noreturn]] void ThrowUnreadable(const std::string& path, int err) {
  if (err == EISDIR) throw ToolError(kExitNotFound, "cannot read " + path + ": it is a folder, not a file");
  if (err == ENODEV) throw ToolError(kExitNotFound, "cannot read " + path + ": it is not a regular file");
  throw ToolError(kExitNotFound, "cannot read " + path + ": " + ErrnoText(err));
}

}  // namespace

void SetToolName(const char* tool) { g_tool = tool; }
void SetCommandName(const char* command) { g_command = command ? command : ""; }
const std::string& ToolName() { return g_tool; }
std::string MessagePrefix() { return g_command.empty() ? g_tool : g_tool + " " + g_command; }

int Fail(int code, const char* format, ...) {
  va_list args;
  va_start(args, format);
  PrintLine(format, args);
  va_end(args);
  return code;
}

void Warn(const char* format, ...) {
  va_list args;
  va_start(args, format);
  PrintLine(format, args);
  va_end(args);
}

std::string ReadInputFile(const std::string& path, bool allowEmpty) {
  std::string bytes;
  int err = 0;
  if (!ReadHostFile(path, bytes, &err)) ThrowUnreadable(path, err);
  if (bytes.empty() && !allowEmpty) throw ToolError(kExitBadData, path + " is empty");
  return bytes;
}

void CheckInputFile(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) ThrowUnreadable(path, errno);
  if (!S_ISREG(st.st_mode)) ThrowUnreadable(path, S_ISDIR(st.st_mode) ? EISDIR : ENODEV);
  if (::access(path.c_str(), R_OK) != 0) ThrowUnreadable(path, errno);
}

void WriteOutputFile(const std::string& path, std::string_view bytes) {
  int err = 0;
  if (!WriteFileAtomically(path, bytes, &err))
    throw ToolError(kExitFailed, "cannot write " + path + ": " + ErrnoText(err));
}

void WriteStdout(std::string_view text) {
  if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size() || std::fflush(stdout) != 0)
    throw ToolError(kExitFailed, "cannot write the standard output");
}

int RunMain(const char* tool, int argc, char** argv, int (*body)(int argc, char** argv)) {
  SetToolName(tool);
  int code;
  try {
    code = body(argc, argv);
  } catch (const ToolError& e) {
    code = Fail(e.code(), "%s", e.what());
  } catch (const std::bad_alloc&) {
    code = Fail(kExitFailed, "out of memory");
  } catch (const std::exception& e) {
    code = Fail(kExitFailed, "internal error: %s", e.what());
  } catch (...) {
    code = Fail(kExitFailed, "internal error: an unknown exception");
  }
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
    if (code == kExitOk) code = Fail(kExitFailed, "cannot write the standard output");
  }
  return code;
}

}  // namespace kv::tool
