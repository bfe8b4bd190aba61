// Feeds arbitrary bytes to the XML parser. A document that parses is read
// through every value and written. When the root has a value, the written
// text must parse again to the same value up to whitespace (the layout adds
// line breaks, which become spaces in text), and a second round of writing
// and reading must give the same bytes: the layout is stable.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "xml/parser.h"

namespace {

namespace xml = kv::AdvXMLParser;

void Walk(const xml::Node& node, std::string& sink) {
  node.AppendValue(sink);
  if (const xml::Element* e = node.AsElement())
    for (const xml::Node* a = e->FirstAttribute(); a; a = a->Next()) a->AppendValue(sink);
  if (const xml::Container* c = node.AsContainer())
    for (const xml::Node* child = c->FirstChild(); child; child = child->Next()) Walk(*child, sink);
}

std::string Without(const std::string& text, std::string_view bytes) {
  std::string out;
  for (char c : text)
    if (bytes.find(c) == std::string_view::npos) out.push_back(c);
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string buffer(reinterpret_cast<const char*>(data), size);
  buffer.append("\0\r\n", 3);
  std::unique_ptr<xml::Document> doc;
  try {
    doc = xml::Parse(buffer.data(), size + 2, xml::kKeepWhitespace);
  } catch (const xml::Exception& e) {
    if (e.Code() < 1 || e.Code() > 26 || e.Line() < 1 || e.Column() < 1) std::abort();
    return 0;
  }
  if (!doc->Root()) std::abort();
  std::string sink;
  Walk(*doc, sink);
  std::string written = doc->ToString(" ");
  if (doc->Root()->HasEmptyValue()) return 0;
  auto again = xml::Parse(written.data(), written.size(), xml::kKeepWhitespace);
  if (Without(again->Root()->Value(), " \t\r\n") != Without(doc->Root()->Value(), " \t\r\n")) std::abort();
  std::string rewritten = again->ToString(" ");
  auto third = xml::Parse(rewritten.data(), rewritten.size(), xml::kKeepWhitespace);
  if (third->ToString(" ") != rewritten) std::abort();
  return 0;
}
