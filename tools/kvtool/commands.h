// kvtool's subcommands. Each lives in its own cmd_<name>.cpp and receives the
// arguments after its name. Exit codes are shared by all of them.
#pragma once

namespace kv::tool {

enum ExitCode : int {
  kExitOk = 0,
  kExitNotFound = 1,     // an input file is missing or unreadable
  kExitBadData = 2,      // an input file is corrupt or not of the expected kind
  kExitUnsupported = 3,  // the request names something this build cannot do yet
  kExitFailed = 4,       // any other failure (network, output file)
  kExitUsage = 64,
};

struct Command {
  const char* name;
  const char* usage;
  const char* summary;
  int (*run)(int argc, char** argv);
};

int RunDump(int argc, char** argv);
int RunPack(int argc, char** argv);
int RunXml(int argc, char** argv);
int RunGet(int argc, char** argv);
int RunHead(int argc, char** argv);
int RunLs(int argc, char** argv);
int RunExtract(int argc, char** argv);
int RunPackKvg(int argc, char** argv);
int RunCompose(int argc, char** argv);
int RunPicture(int argc, char** argv);

// Prints "kvtool CMD: MESSAGE" on standard error and returns `code`.
int Fail(const char* command, int code, const char* format, ...) __attribute__((format(printf, 3, 4)));

}  // namespace kv::tool
