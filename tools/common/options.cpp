#include "tools/common/options.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "tools/common/toolkit.h"

namespace kv::tool {

namespace {

bool LooksLikeOption(const char* a) {
  if (a[0] != '-' || a[1] == '\0') return false;
  // A negative number is a value for the script or command, not an option.
  return !(a[1] >= '0' && a[1] <= '9');
}

const OptionSpec* FindOption(const CommandSpec& spec, const char* name) {
  for (const OptionSpec& o : spec.options)
    if (!std::strcmp(o.name, name)) return &o;
  return nullptr;
}

std::string OptionUsage(const OptionSpec& o) { return o.value ? std::string(o.name) + " " + o.value : o.name; }

}  // namespace

bool ParsedArgs::Has(const char* option) const { return Value(option) != nullptr; }

const char* ParsedArgs::Value(const char* option) const {
  const char* found = nullptr;
  for (const auto& [name, value] : given_)
    if (name == option) found = value.c_str();
  return found;
}

std::vector<std::string> ParsedArgs::Values(const char* option) const {
  std::vector<std::string> values;
  for (const auto& [name, value] : given_)
    if (name == option) values.push_back(value);
  return values;
}

ParsedArgs ParseArgs(const CommandSpec& spec, int argc, char** argv) {
  ParsedArgs args;
  bool optionsEnded = false;
  for (int i = 0; i < argc; ++i) {
    const char* a = argv[i];
    if (optionsEnded || !LooksLikeOption(a)) {
      args.operands.emplace_back(a);
      continue;
    }
    if (!std::strcmp(a, "--")) {
      optionsEnded = true;
      continue;
    }
    const OptionSpec* o = FindOption(spec, a);
    if (!o) UsageError(spec, std::string("unknown option ") + a);
    if (!o->value) {
      args.given_.emplace_back(o->name, "");
      continue;
    }
    if (i + 1 >= argc) UsageError(spec, std::string(a) + " needs a value (" + o->value + ")");
    args.given_.emplace_back(o->name, argv[++i]);
  }
  return args;
}

std::string UsageLine(const CommandSpec& spec) {
  std::string line = "usage: " + ToolName();
  if (*spec.name) line += std::string(" ") + spec.name;
  if (*spec.operands) line += std::string(" ") + spec.operands;
  for (const OptionSpec& o : spec.options) line += " [" + OptionUsage(o) + "]";
  return line;
}

void UsageError(const CommandSpec& spec, const std::string& problem) {
  throw ToolError(kExitUsage, problem + "\n" + UsageLine(spec));
}

void RequireOperands(const CommandSpec& spec, const ParsedArgs& args, size_t min, size_t max) {
  if (args.operands.size() < min) UsageError(spec, "missing operand");
  if (args.operands.size() > max) UsageError(spec, "unexpected argument '" + args.operands[max] + "'");
}

long NumberOption(const CommandSpec& spec, const char* option, const char* text, long min, long max) {
  errno = 0;
  char* end = nullptr;
  const long v = std::strtol(text, &end, 10);
  if (!*text || *end || errno || v < min || v > max)
    UsageError(spec, std::string(option) + " takes a number from " + std::to_string(min) + " to " +
                         std::to_string(max) + ", not '" + text + "'");
  return v;
}

void PrintCommands(FILE* to, std::span<const CommandSpec* const> commands) {
  for (const CommandSpec* c : commands) {
    std::string head = *c->name ? std::string(c->name) + " " + c->operands : c->operands;
    std::fprintf(to, "  %s\n      %s\n", head.c_str(), c->summary);
    for (const OptionSpec& o : c->options) std::fprintf(to, "      %-24s %s\n", OptionUsage(o).c_str(), o.help);
  }
}

}  // namespace kv::tool
