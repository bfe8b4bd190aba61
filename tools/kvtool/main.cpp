// kvtool: inspects and writes the player's files from the command line.
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "tools/kvtool/commands.h"

namespace kv::tool {

int Fail(const char* command, int code, const char* format, ...) {
  std::fprintf(stderr, "kvtool %s: ", command);
  va_list args;
  va_start(args, format);
  std::vfprintf(stderr, format, args);
  va_end(args);
  std::fputc('\n', stderr);
  return code;
}

namespace {

constexpr Command kCommands[] = {
    {"dump", "dump FILE | dump FILE.kvg [PROJECT.kvp]", "print a project, script, standbys file or compilation as JSON",
     RunDump},
    {"pack", "pack IN.json -o OUT", "write a JSON dump back as an archive", RunPack},
    {"xml", "xml check FILE | xml format FILE [-o OUT] [--indent N]", "check or reformat an XML file", RunXml},
    {"get", "get URL -o FILE", "fetch a file over HTTP", RunGet},
    {"head", "head URL", "ask whether a remote file exists and how large it is", RunHead},
    {"ls", "ls FILE.kvg", "list the entries of a compilation", RunLs},
    {"extract", "extract FILE.kvg [NAME...] -o DIR", "extract entries of a compilation", RunExtract},
    {"pack-kvg", "pack-kvg DIR -o FILE.kvg [--method M] [--key N]", "write a compilation", RunPackKvg},
    {"compose", "compose SCENE.json -o OUT.png [--hit X,Y ...]", "composite a stage description to PNG",
     RunCompose},
    {"picture", "picture FILE -o OUT.png", "decode a picture (BMP, GIF, PCX, TGA, JPEG, TIFF, PNG) to PNG", RunPicture},
};

void PrintHelp(FILE* to) {
  std::fprintf(to,
               "usage: kvtool COMMAND [ARGS]\n\n"
               "Inspects and writes Korvel project files.\n\ncommands:\n");
  for (const Command& c : kCommands) std::fprintf(to, "  %-58s %s\n", c.usage, c.summary);
  std::fprintf(to,
               "\noptions:\n  --help      this text\n  --version   the version\n\n"
               "exit status: 0 success, 1 file missing, 2 corrupt input, 3 not supported by this build,\n"
               "4 other failure, 64 usage error\n");
}

}  // namespace
}  // namespace kv::tool

int main(int argc, char** argv) {
  using namespace kv::tool;
  if (argc < 2) {
    PrintHelp(stderr);
    return kExitUsage;
  }
  if (!std::strcmp(argv[1], "--help") || !std::strcmp(argv[1], "-h") || !std::strcmp(argv[1], "help")) {
    PrintHelp(stdout);
    return kExitOk;
  }
  if (!std::strcmp(argv[1], "--version")) {
    std::printf("kvtool %s\n", KV_VERSION);
    return kExitOk;
  }
  for (const Command& c : kCommands)
    if (!std::strcmp(argv[1], c.name)) return c.run(argc - 2, argv + 2);
  std::fprintf(stderr, "kvtool: unknown command '%s' (see kvtool --help)\n", argv[1]);
  return kExitUsage;
}
