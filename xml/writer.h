// The indenting XML writer: turns a document tree back into text, one start
// tag per line. Document::ToString drives it; each node kind writes itself.
#pragma once

#include <string>
#include <string_view>

namespace kv::AdvXMLParser {

class Container;

class Writer {
 public:
  explicit Writer(std::string_view indent) : indent_(indent) {}

  std::string& Out() { return out_; }
  std::string Take() { return std::move(out_); }

  // A LF and the indent unit repeated depth - 1 times.
  void NewLine();
  // One level deeper, every child with a non-empty value, one level back.
  void WriteChildren(const Container& container);
  // Before an end tag: a line of its own when an element closed since the
  // last start tag.
  void ClosingStep();
  void OpenedStartTag() { closed_ = false; }
  // Text with '"', '&', '<' and '>' written as entity references and CR as
  // a character reference.
  void WriteEscaped(std::string_view text);
  // Comment, CDATA and PI content, where nothing can be escaped: each CR is
  // written twice.
  void WriteDoublingCR(std::string_view text);

 private:
  std::string out_;
  std::string_view indent_;
  int depth_ = 0;
  bool closed_ = false;
};

}  // namespace kv::AdvXMLParser
