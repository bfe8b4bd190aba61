#include "xml/writer.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "tests/xml/test_util.h"
#include "xml/node.h"

namespace kv::AdvXMLParser {
namespace {

using test::ParseText;

const std::string kDeclaration = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";

struct LayoutCase {
  const char* input;
  const char* indent;
  std::string written;
};

// Expected bytes derived from the layout rules: the document writes the
// declaration and a LF; each written element opens with a LF and the indent
// unit depth - 1 times (the root is depth 1); a closing tag gets its own
// line only when an element closed since the last start tag; children with
// empty values, and texts that are a single space, write nothing.
TEST(Writer, LayoutByteForByte) {
  const LayoutCase cases[] = {
      {"<r>t</r>", " ", kDeclaration + "\n<r>t</r>"},
      {"<r><a>1</a><b><c>2</c></b></r>", " ",
       kDeclaration + "\n<r>\n <a>1</a>\n <b>\n  <c>2</c>\n </b>\n</r>"},
      {"<r>\n  <a>1</a>\n  <b>\n    <c>2</c>\n  </b>\n</r>", "\t",
       kDeclaration + "\n<r>\n\t<a>1</a>\n\t<b>\n\t\t<c>2</c>\n\t</b>\n</r>"},
      // Text between elements stays where the parser found it.
      {"<r>x<a>1</a>y</r>", " ", kDeclaration + "\n<r>x\n <a>1</a>y\n</r>"},
      // A space between an element and other markup or a reference is left out.
      {"<r><a>1</a> &lt;</r>", " ", kDeclaration + "\n<r>\n <a>1</a>&lt;\n</r>"},
      {"<r><a>1</a> <!--c--></r>", " ", kDeclaration + "\n<r>\n <a>1</a><!--c-->\n\n</r>"},
      // Attributes: every one written, an empty one as x="".
      {"<r x='1' y=''>t</r>", "  ", kDeclaration + "\n<r x=\"1\" y=\"\">t</r>"},
      // An element without text anywhere below it is left out, attributes or not.
      {"<r><e k='v'/><f><g/></f><a>1</a></r>", " ", kDeclaration + "\n<r>\n <a>1</a>\n</r>"},
      {"<a><b/></a>", " ", kDeclaration},
      // Comments, CDATA and PIs end their own line; an empty PI is left out.
      {"<r><!--c-->t</r>", " ", kDeclaration + "\n<r><!--c-->\nt</r>"},
      {"<r><![CDATA[x<y]]></r>", " ", kDeclaration + "\n<r><![CDATA[x<y]]>\n</r>"},
      {"<r><?p d?><?q?>t</r>", " ", kDeclaration + "\n<r><?p d?>\nt</r>"},
      {"<!--top--><r>t</r>", " ", kDeclaration + "<!--top-->\n\n<r>t</r>"},
      // References are written in their own forms, character references in hex.
      {"<r>&#65;&#x7e;&amp;&apos;</r>", " ", kDeclaration + "\n<r>&#x41;&#x7E;&amp;&apos;</r>"},
      {"<r v='&#9;x'>t</r>", " ", kDeclaration + "\n<r v=\"&#x9;x\">t</r>"},
      // The declaration keeps version and encoding but not the standalone flag.
      {"<?xml version='1.1' encoding='ASCII' standalone='no'?><r>t</r>", " ",
       "<?xml version=\"1.1\" encoding=\"ASCII\"?>\n\n<r>t</r>"},
  };
  for (const LayoutCase& c : cases) {
    auto doc = ParseText(c.input);
    EXPECT_EQ(doc->ToString(c.indent), c.written) << c.input;
  }
}

TEST(Writer, ConfigurationDocumentWithOneSpaceIndent) {
  Document doc("savers", kNormalizeWhitespace);
  Element& savers = *doc.Root();
  savers.GetChildElement("selected", 0).GetChildElement("name", 0).SetText("Demo");
  Element& project = savers.GetChildElement("project", 0);
  project.GetAttribute("name").SetText("Demo");
  project.GetChildElement("path", 0).SetText("C:\\Demo\\demo.kvp");
  project.GetChildElement("sound", 0).SetText("high");
  EXPECT_EQ(doc.ToString(" "),
            kDeclaration +
                "\n<savers>"
                "\n <selected>"
                "\n  <name>Demo</name>"
                "\n </selected>"
                "\n <project name=\"Demo\">"
                "\n  <path>C:\\Demo\\demo.kvp</path>"
                "\n  <sound>high</sound>"
                "\n </project>"
                "\n</savers>");
  // Emptying an element leaves it out of the next write.
  project.GetChildElement("sound", 0).ClearChildren();
  EXPECT_EQ(doc.ToString(" ").find("sound"), std::string::npos);
}

// A lone space next to markup is left out (the layout's line breaks stand
// in for it); one inside text split by references is data and is written.
TEST(Writer, LoneSpaceInsideTextIsWritten) {
  const LayoutCase cases[] = {
      {"<r>&lt; &gt;</r>", " ", kDeclaration + "\n<r>&lt; &gt;</r>"},
      {"<r>x&amp; &lt; y</r>", " ", kDeclaration + "\n<r>x&amp; &lt; y</r>"},
      {"<r>&lt; <![CDATA[x]]></r>", " ", kDeclaration + "\n<r>&lt; <![CDATA[x]]>\n</r>"},
      {"<r>&lt; <a>1</a></r>", " ", kDeclaration + "\n<r>&lt;\n <a>1</a>\n</r>"},
      {"<r><!--c--> &lt;</r>", " ", kDeclaration + "\n<r><!--c-->\n&lt;</r>"},
      {"<r> &lt; </r>", " ", kDeclaration + "\n<r>&lt;</r>"},
      {"<r v='&lt; &gt;'>t</r>", " ", kDeclaration + "\n<r v=\"&lt; &gt;\">t</r>"},
  };
  for (const LayoutCase& c : cases) {
    auto doc = ParseText(c.input);
    std::string written = doc->ToString(c.indent);
    EXPECT_EQ(written, c.written) << c.input;
    auto back = ParseText(written);
    EXPECT_EQ(back->Root()->Value(), doc->Root()->Value()) << c.input;
  }
}

TEST(Writer, TextIsEscaped) {
  Document doc("r", kNormalizeWhitespace);
  doc.Root()->SetText("a<b & \"c\"> 'd'");
  doc.Root()->GetAttribute("v").SetText("x\"&<>y");
  EXPECT_EQ(doc.ToString(""),
            kDeclaration + "\n<r v=\"x&quot;&amp;&lt;&gt;y\">a&lt;b &amp; &quot;c&quot;&gt; 'd'</r>");
}

// The reader drops a bare CR and keeps the byte after it; what the writer
// writes must still read back with its CRs.
TEST(Writer, CarriageReturnsReadBack) {
  auto doc = ParseText("<r><!---\r\r-x--><![CDATA[a\r\rb]]><?p c\r\r\r\rd?>t</r>");
  const Node* comment = doc->Root()->FirstChild()->Next();
  ASSERT_EQ(comment->Value(), "-\r-x");
  std::string written = doc->ToString(" ");
  EXPECT_EQ(written, kDeclaration + "\n<r><!---\r\r-x-->\n<![CDATA[a\r\rb]]>\n<?p c\r\r\r\rd?>\nt</r>");
  // Each kind reads back with its own CRs (the layout's LFs aside).
  auto back = ParseText(written);
  for (int type : {kCommentNode, kCDataNode}) {
    const char* name = type == kCommentNode ? "#comment" : "#cdata-section";
    EXPECT_EQ(back->Root()->FindChild(name, 0, type).Value(), doc->Root()->FindChild(name, 0, type).Value());
  }
  EXPECT_EQ(back->Root()->FindChild("p", 0, kProcessingInstructionNode).Value(), "c\r\rd");

  Document raw("r", kNormalizeWhitespace);
  Element& e = raw.CreateElement("e", kKeepWhitespace);
  raw.Root()->AddChild(e);
  e.AddText("a\rb");
  written = raw.ToString("");
  EXPECT_EQ(written, kDeclaration + "\n<r>\n<e>a&#xD;b</e>\n</r>");
  EXPECT_EQ(ParseText(written)->Root()->Value(), "a\rb");
}

TEST(Writer, CharacterReferenceOfZeroWritesNoDigits) {
  Document doc("r", kNormalizeWhitespace);
  doc.Root()->AddText("x");
  doc.Root()->AddChild(doc.CreateCharacterReference(0));
  doc.Root()->AddChild(doc.CreateCharacterReference(0xFF));
  EXPECT_EQ(doc.ToString(""), kDeclaration + "\n<r>x&#x;&#xFF;</r>");
  // A reference names one byte.
  EXPECT_THROW(doc.CreateCharacterReference(0x1F4), std::out_of_range);
  EXPECT_THROW(doc.CreateCharacterReference(-1), std::out_of_range);
}

TEST(Writer, EmptyElementWrittenDirectly) {
  Document doc("r", kNormalizeWhitespace);
  Element& e = doc.CreateElement("e");
  e.GetAttribute("k").SetText("v");
  Writer writer(" ");
  e.Write(writer);
  EXPECT_EQ(writer.Take(), "\n<e k=\"v\"/>");
  NullNode::Instance().Write(writer);
  EXPECT_EQ(writer.Take(), "");
}

// Whatever values are set, the written file reads back to the same values.
TEST(Writer, WrittenValuesReadBackUnchanged) {
  const char* values[] = {
      "plain", "say \"hi\"", "a & b", "&amp; stays text", "<tag>", "x<y>z", "'single'", "\"&<>'\"",
      "]]>", "a]]>b", "--", "?>", "&#65;", "  padded  ", "tab\there", "1 < 2 && 3 > 2",
  };
  Document doc("r", kNormalizeWhitespace);
  Element& r = *doc.Root();
  int i = 0;
  for (const char* v : values) {
    Element& e = r.GetChildElement("v", i++);
    e.SetText(v);
    e.GetAttribute("a").SetText(v);
    e.GetAttribute("b").SetText(std::string(v) + "\"'");
  }
  std::string written = doc.ToString(" ");
  auto back = ParseText(written);
  for (int k = 0; k < i; ++k) {
    Element& before = r.GetChildElement("v", k);
    const Node& after = back->Root()->FindChild("v", k, kElementNode);
    ASSERT_TRUE(after.IsType(kElementNode)) << values[k];
    EXPECT_EQ(after.Value(), before.Value()) << values[k];
    for (const char* name : {"a", "b"})
      EXPECT_EQ(after.AsElement()->FindAttribute(name).Value(), before.FindAttribute(name).Value()) << values[k];
  }
  // And writing what was read gives the same bytes again.
  EXPECT_EQ(back->ToString(" "), written);
}

}  // namespace
}  // namespace kv::AdvXMLParser
