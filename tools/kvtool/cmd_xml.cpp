// kvtool xml: checks an XML file with the player's own parser, or writes it
// back through the player's writer.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>

#include "platform/files.h"
#include "tools/kvtool/commands.h"
#include "xml/parser.h"

namespace kv::tool {

namespace {

namespace xml = kv::AdvXMLParser;

bool ReadWholeFile(const char* path, std::string& bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

// Parses as the player does: the file's bytes, a NUL and a CR, so that the
// end of input reads as NUL.
std::unique_ptr<xml::Document> ParseFile(const std::string& bytes) {
  std::string buffer = bytes;
  buffer.append("\0\r\n", 3);
  return xml::Parse(buffer.data(), bytes.size() + 2, xml::kKeepWhitespace);
}

int Check(int argc, char** argv) {
  if (argc != 1) return Fail("xml", kExitUsage, "usage: kvtool xml check FILE");
  std::string bytes;
  if (!ReadWholeFile(argv[0], bytes)) return Fail("xml", kExitNotFound, "cannot read %s: %s", argv[0], std::strerror(errno));
  try {
    ParseFile(bytes);
  } catch (const xml::Exception& e) {
    std::printf("error %d at line %d, column %d\n", e.Code(), e.Line(), e.Column());
    return kExitBadData;
  }
  std::printf("ok\n");
  return kExitOk;
}

int Format(int argc, char** argv) {
  const char* input = nullptr;
  const char* output = nullptr;
  long indent = 1;
  for (int i = 0; i < argc; ++i) {
    if (!std::strcmp(argv[i], "-o") && i + 1 < argc) {
      output = argv[++i];
    } else if (!std::strcmp(argv[i], "--indent") && i + 1 < argc) {
      char* end = nullptr;
      indent = std::strtol(argv[++i], &end, 10);
      if (*argv[i] == '\0' || *end != '\0' || indent < 0 || indent > 64)
        return Fail("xml", kExitUsage, "--indent takes a number from 0 to 64");
    } else if (!input && argv[i][0] != '-') {
      input = argv[i];
    } else {
      return Fail("xml", kExitUsage, "usage: kvtool xml format FILE [-o OUT] [--indent N]");
    }
  }
  if (!input) return Fail("xml", kExitUsage, "usage: kvtool xml format FILE [-o OUT] [--indent N]");
  std::string bytes;
  if (!ReadWholeFile(input, bytes)) return Fail("xml", kExitNotFound, "cannot read %s: %s", input, std::strerror(errno));
  std::string text;
  try {
    text = ParseFile(bytes)->ToString(std::string(static_cast<size_t>(indent), ' '));
  } catch (const xml::Exception& e) {
    return Fail("xml", kExitBadData, "%s: error %d at line %d, column %d", input, e.Code(), e.Line(), e.Column());
  }
  if (!output) {
    if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size() || std::fflush(stdout) != 0)
      return Fail("xml", kExitFailed, "cannot write the standard output");
    return kExitOk;
  }
  if (!WriteFileAtomically(output, text)) return Fail("xml", kExitFailed, "cannot write %s", output);
  return kExitOk;
}

}  // namespace

int RunXml(int argc, char** argv) {
  if (argc >= 1 && !std::strcmp(argv[0], "check")) return Check(argc - 1, argv + 1);
  if (argc >= 1 && !std::strcmp(argv[0], "format")) return Format(argc - 1, argv + 1);
  return Fail("xml", kExitUsage, "usage: kvtool xml check FILE | kvtool xml format FILE [-o OUT] [--indent N]");
}

}  // namespace kv::tool
