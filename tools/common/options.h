// One way of reading the command line for every tool: each command declares
// its operands and options once, and the same table drives parsing, the
// usage line of a usage error and the --help text.
#pragma once

#include <cstdio>
#include <span>
#include <string>
#include <vector>

namespace kv::tool {

struct OptionSpec {
  const char* name;   // "--key", "-o"
  const char* value;  // the value's placeholder ("N"); nullptr for a flag
  const char* help;
};

struct CommandSpec {
  const char* name;      // "dump", "xml format"; "" for a tool's only command
  const char* operands;  // "FILE [PROJECT.kvp]"
  const char* summary;
  std::span<const OptionSpec> options;
};

class ParsedArgs {
 public:
  std::vector<std::string> operands;

  bool Has(const char* option) const;
  // The last value given for `option`, or nullptr.
  const char* Value(const char* option) const;
  std::vector<std::string> Values(const char* option) const;

 private:
  friend ParsedArgs ParseArgs(const CommandSpec& spec, int argc, char** argv);
  std::vector<std::pair<std::string, std::string>> given_;
};

// Options may come before, between or after operands; "--" ends them, and a
// lone "-" or a negative number is an operand. An unknown option or one
// without its value throws a usage error. Operand counts are the caller's.
ParsedArgs ParseArgs(const CommandSpec& spec, int argc, char** argv);

// "usage: kvtool dump FILE [PROJECT.kvp] [--key N]".
std::string UsageLine(const CommandSpec& spec);
// Throws ToolError(kExitUsage) with `problem` and the usage line.
[[noreturn]] void UsageError(const CommandSpec& spec, const std::string& problem);
// Throws a usage error unless min <= operands <= max.
void RequireOperands(const CommandSpec& spec, const ParsedArgs& args, size_t min, size_t max);
// A decimal number within [min, max], else a usage error naming `option`.
long NumberOption(const CommandSpec& spec, const char* option, const char* text, long min, long max);

// Every command's usage line, summary and options.
void PrintCommands(FILE* to, std::span<const CommandSpec* const> commands);

}  // namespace kv::tool
