// kvtool xml: checks an XML file with the player's own parser, or writes it
// back through the player's writer.
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "tools/kvtool/commands.h"
#include "xml/parser.h"

namespace kv::tool {

namespace {

namespace xml = kv::AdvXMLParser;

constexpr OptionSpec kFormatOptions[] = {
    {"-o", "OUT", "the file to write; standard output by default"},
    {"--indent", "N", "spaces per level, 0 to 64 (default 1)"},
};

}  // namespace

const CommandSpec kXmlCheckSpec{"xml check", "FILE", "check an XML file: \"ok\" or the error and where", {}};
const CommandSpec kXmlFormatSpec{"xml format", "FILE", "rewrite an XML file through the player's writer",
                                 kFormatOptions};

namespace {

// Parses as the player does: the file's bytes, a NUL and a CR, so that the
// end of input reads as NUL.
std::unique_ptr<xml::Document> ParseFile(const std::string& bytes) {
  std::string buffer = bytes;
  buffer.append("\0\r\n", 3);
  return xml::Parse(buffer.data(), bytes.size() + 2, xml::kKeepWhitespace);
}

std::string Describe(const xml::Exception& e) {
  char text[160];
  std::snprintf(text, sizeof text, "error %d (%s) at line %d, column %d", e.Code(), xml::ErrorText(e.Code()),
                e.Line(), e.Column());
  return text;
}

// Elements in `node`'s subtree, `node` included.
size_t CountElements(const xml::Node& node) {
  size_t n = node.IsType(xml::kElementNode) ? 1 : 0;
  if (node.IsType(xml::kElementNode))
    for (const xml::Node* c = node.AsContainer()->FirstChild(); c; c = c->Next()) n += CountElements(*c);
  return n;
}

// Elements the writer leaves out: it writes only children that hold a value,
// so an element without text below it is dropped with all it contains.
size_t CountUnwritten(const xml::Container& container) {
  size_t n = 0;
  for (const xml::Node* c = container.FirstChild(); c; c = c->Next()) {
    if (c->HasEmptyValue()) n += CountElements(*c);
    else if (c->IsType(xml::kElementNode)) n += CountUnwritten(*c->AsContainer());
  }
  return n;
}

int Check(int argc, char** argv) {
  const ParsedArgs args = ParseArgs(kXmlCheckSpec, argc, argv);
  RequireOperands(kXmlCheckSpec, args, 1, 1);
  const std::string bytes = ReadInputFile(args.operands[0]);
  try {
    ParseFile(bytes);
  } catch (const xml::Exception& e) {
    WriteStdout(Describe(e) + "\n");
    return kExitBadData;
  }
  WriteStdout("ok\n");
  return kExitOk;
}

int Format(int argc, char** argv) {
  const ParsedArgs args = ParseArgs(kXmlFormatSpec, argc, argv);
  RequireOperands(kXmlFormatSpec, args, 1, 1);
  const std::string& input = args.operands[0];
  long indent = 1;
  if (const char* text = args.Value("--indent")) indent = NumberOption(kXmlFormatSpec, "--indent", text, 0, 64);
  const std::string bytes = ReadInputFile(input);
  std::unique_ptr<xml::Document> doc;
  try {
    doc = ParseFile(bytes);
  } catch (const xml::Exception& e) {
    return Fail(kExitBadData, "%s: %s", input.c_str(), Describe(e).c_str());
  }
  const std::string text = doc->ToString(std::string(static_cast<size_t>(indent), ' '));
  if (const char* output = args.Value("-o")) WriteOutputFile(output, text);
  else WriteStdout(text);
  if (size_t dropped = CountUnwritten(*doc)) {
    Warn("%s: %zu element%s without text %s not written", input.c_str(), dropped, dropped == 1 ? "" : "s",
         dropped == 1 ? "was" : "were");
    // Without its root the output is no document at all.
    if (!doc->Root() || doc->Root()->HasEmptyValue())
      return Fail(kExitFailed, "%s: the root element was dropped", input.c_str());
  }
  return kExitOk;
}

}  // namespace

int RunXml(int argc, char** argv) {
  if (argc >= 1 && !std::strcmp(argv[0], "check")) return Check(argc - 1, argv + 1);
  if (argc >= 1 && !std::strcmp(argv[0], "format")) return Format(argc - 1, argv + 1);
  return Fail(kExitUsage, "expected 'check' or 'format'\n%s\n%s", UsageLine(kXmlCheckSpec).c_str(),
              UsageLine(kXmlFormatSpec).c_str());
}

}  // namespace kv::tool
