// kvtool: inspects and writes the player's files from the command line.
#include <cstdio>
#include <cstring>

#include "kv_version.h"
#include "tools/kvtool/commands.h"

namespace kv::tool {

namespace {

struct Command {
  const char* name;
  int (*run)(int argc, char** argv);
};

constexpr Command kCommands[] = {
    {"dump", RunDump}, {"pack", RunPack},       {"xml", RunXml},           {"get", RunGet},         {"head", RunHead},
    {"ls", RunLs},     {"extract", RunExtract}, {"pack-kvg", RunPackKvg}, {"compose", RunCompose},
    {"effect", RunEffect}, {"picture", RunPicture}, {"check", RunCheck},
};

const CommandSpec* const kHelpOrder[] = {&kCheckSpec, &kDumpSpec,   &kPackSpec,    &kLsSpec,  &kExtractSpec,  &kPackKvgSpec,
                                         &kComposeSpec, &kEffectSpec, &kPictureSpec, &kXmlCheckSpec, &kXmlFormatSpec,
                                         &kGetSpec,     &kHeadSpec};

void PrintHelp(FILE* to) {
  std::fprintf(to,
               "usage: kvtool COMMAND [ARGS]\n\n"
               "Inspects and writes Korvel project files.\n\ncommands:\n");
  PrintCommands(to, kHelpOrder);
  std::fprintf(to,
               "\noptions:\n  --help      this text\n  --version   the version\n\n"
               "exit status: 0 success, 1 a file is missing or unreadable, 2 a file is corrupt,\n"
               "3 the work itself failed, 64 usage error\n");
}

int Main(int argc, char** argv) {
  if (argc < 2) {
    PrintHelp(stderr);
    return kExitUsage;
  }
  if (!std::strcmp(argv[1], "--help") || !std::strcmp(argv[1], "-h") || !std::strcmp(argv[1], "help")) {
    PrintHelp(stdout);
    return kExitOk;
  }
  if (!std::strcmp(argv[1], "--version")) {
    std::printf("kvtool %s\n", kv::kVersion);
    return kExitOk;
  }
  for (const Command& c : kCommands) {
    if (std::strcmp(argv[1], c.name)) continue;
    SetCommandName(c.name);
    return c.run(argc - 2, argv + 2);
  }
  return Fail(kExitUsage, "unknown command '%s' (see kvtool --help)", argv[1]);
}

}  // namespace
}  // namespace kv::tool

int main(int argc, char** argv) { return kv::tool::RunMain("kvtool", argc, argv, kv::tool::Main); }
