#include "xml/writer.h"

#include "xml/node.h"

namespace kv::AdvXMLParser {

void Writer::NewLine() {
  out_.push_back('\n');
  for (int i = 1; i < depth_; ++i) out_.append(indent_);
}

namespace {

bool IsLoneSpace(const Node& node) {
  return node.IsType(kTextNode) && node.Text() == " ";
}

bool IsCharacterData(const Node* node) { return node && (node->IsType(kTextNode) || node->IsType(kReferenceNode)); }

const Node* NextWritten(const Node* node) {
  for (node = node->Next(); node && node->HasEmptyValue(); node = node->Next()) {
  }
  return node;
}

}  // namespace

void Writer::WriteChildren(const Container& container) {
  ++depth_;
  const Node* previous = nullptr;
  for (const Node* c = container.FirstChild(); c; c = c->Next()) {
    if (c->HasEmptyValue()) continue;
    if (IsLoneSpace(*c)) {
      // A lone space is the whitespace between markup, and the writer's
      // line breaks stand in for it. Inside text split by references (as in
      // "&lt; &gt;") it is data: written, so the value reads back unchanged.
      const Node* next = NextWritten(c);
      if (IsCharacterData(previous) && (IsCharacterData(next) || (next && next->IsType(kCDataNode)))) out_.push_back(' ');
    } else {
      c->Write(*this);
    }
    previous = c;
  }
  --depth_;
}

void Writer::WriteDoublingCR(std::string_view text) {
  // The reader drops one CR and takes the byte after it: a CR written twice
  // reads back as one, where markup has no escape for it.
  size_t run = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\r') continue;
    out_.append(text.substr(run, i + 1 - run));
    run = i;
  }
  out_.append(text.substr(run));
}

void Writer::ClosingStep() {
  if (closed_) NewLine();
  closed_ = true;
}

void Writer::WriteEscaped(std::string_view text) {
  // Escaping '&', '<' and '>' as well as '"' makes every written value read
  // back unchanged; so does a CR as a reference (the reader drops bare CRs).
  size_t run = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    const char* entity;
    switch (text[i]) {
      case '"': entity = "&quot;"; break;
      case '&': entity = "&amp;"; break;
      case '<': entity = "&lt;"; break;
      case '>': entity = "&gt;"; break;
      case '\r': entity = "&#xD;"; break;
      default: continue;
    }
    out_.append(text.substr(run, i - run));
    out_.append(entity);
    run = i + 1;
  }
  out_.append(text.substr(run));
}

namespace {

void WriteCharacterReference(std::string& out, int character) {
  out.append("&#x");
  static constexpr char kHex[] = "0123456789ABCDEF";
  char digits[8];
  int n = 0;
  for (unsigned v = character > 0 ? static_cast<unsigned>(character) : 0; v; v >>= 4) digits[n++] = kHex[v & 15];
  while (n) out.push_back(digits[--n]);
  out.push_back(';');
}

}  // namespace

void Node::Write(Writer& writer) const {
  std::string& out = writer.Out();
  switch (type_) {
    case kTextNode:
      // A lone space is what whitespace between elements became; the
      // writer's own line breaks stand in for it.
      if (StoredText() != " ") writer.WriteEscaped(StoredText());
      return;
    case kCommentNode:
      out.append("<!--");
      writer.WriteDoublingCR(StoredText());
      writer.Out().append("-->\n");
      return;
    case kCDataNode:
      out.append("<![CDATA[");
      writer.WriteDoublingCR(StoredText());
      writer.Out().append("]]>\n");
      return;
    case kProcessingInstructionNode: {
      std::string_view data = static_cast<const ProcessingInstruction*>(this)->Data();
      out.append("<?").append(Name());
      if (!data.empty()) {
        out.append(" ");
        writer.WriteDoublingCR(data);
      }
      writer.Out().append("?>\n");
      return;
    }
    case kReferenceNode: {
      const auto* reference = static_cast<const Reference*>(this);
      if (reference->IsCharacterReference())
        WriteCharacterReference(out, reference->Character());
      else
        out.append("&").append(Name()).append(";");
      return;
    }
    case kAttributeNode:
      out.append(Name()).append("=\"");
      writer.WriteChildren(*static_cast<const Container*>(this));
      writer.Out().push_back('"');
      return;
    case kElementNode: {
      const auto* element = static_cast<const Element*>(this);
      writer.NewLine();
      writer.OpenedStartTag();
      out.append("<").append(Name());
      for (const Node* a = element->FirstAttribute(); a; a = a->Next()) {
        writer.Out().push_back(' ');
        a->Write(writer);
      }
      if (!element->FirstChild()) {
        writer.Out().append("/>");
        return;
      }
      writer.Out().push_back('>');
      writer.WriteChildren(*element);
      writer.ClosingStep();
      writer.Out().append("</").append(Name()).append(">");
      return;
    }
    case kDocumentNode: {
      const auto* doc = static_cast<const Document*>(this);
      out.append("<?xml version=\"").append(doc->Version()).append("\" encoding=\"").append(doc->Encoding()).append("\"?>\n");
      writer.WriteChildren(*doc);
      return;
    }
    default:
      return;  // the null node writes nothing
  }
}

std::string Document::ToString(std::string_view indent) const {
  Writer writer(indent);
  Node::Write(writer);
  return writer.Take();
}

}  // namespace kv::AdvXMLParser
