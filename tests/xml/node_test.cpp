#include "xml/node.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "tests/xml/test_util.h"

namespace kv::AdvXMLParser {
namespace {

using test::ParseText;

TEST(Whitespace, CollapseAndTrim) {
  struct Case {
    const char* text;
    const char* collapsed;
    const char* trimmed;
  };
  const Case cases[] = {
      {"", "", ""},
      {"a", "a", "a"},
      {"  a  ", " a ", "a"},
      {"\t\r\n", " ", ""},
      {"a \t\r\n b", "a b", "a \t\r\n b"},
      {" a  b\n", " a b ", "a  b"},
      {"\x0b" "a\f", "\x0b" "a\f", "\x0b" "a\f"},  // VT and FF are not whitespace here
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Collapse(c.text), c.collapsed) << c.text;
    EXPECT_EQ(Trim(c.text), c.trimmed) << c.text;
  }
}

TEST(Entities, OnlyThePredefinedFive) {
  const std::pair<const char*, char> known[] = {{"lt", '<'}, {"gt", '>'}, {"amp", '&'}, {"apos", '\''}, {"quot", '"'}};
  for (const auto& [name, byte] : known) {
    char c = 0;
    EXPECT_TRUE(LookupEntity(name, c)) << name;
    EXPECT_EQ(c, byte);
  }
  char c = 0;
  for (const char* name : {"nbsp", "LT", "", "ampx", "copy"}) EXPECT_FALSE(LookupEntity(name, c)) << name;
}

TEST(Document, ConstructorMakesAnEmptyRoot) {
  Document doc("savers", kNormalizeWhitespace);
  ASSERT_NE(doc.Root(), nullptr);
  EXPECT_EQ(doc.Root()->Name(), "savers");
  EXPECT_EQ(doc.Root()->Mode(), kNormalizeWhitespace);
  EXPECT_EQ(doc.ChildCount(), 1u);
  EXPECT_EQ(doc.FirstChild(), doc.Root());
  EXPECT_EQ(doc.Name(), "#document");
  EXPECT_TRUE(doc.IsType(kDocumentNode));
  EXPECT_FALSE(doc.IsType(kElementNode));
  EXPECT_EQ(doc.Version(), "1.0");
  EXPECT_EQ(doc.Encoding(), "UTF-8");
  EXPECT_EQ(doc.Standalone(), 1);
  EXPECT_EQ(doc.Value(), "");
}

TEST(Element, GetChildElementCreatesExactlyEnough) {
  Document doc("r", kNormalizeWhitespace);
  Element& r = *doc.Root();
  Element& third = r.GetChildElement("p", 2);
  EXPECT_EQ(r.ChildCount(), 3u);
  for (const Node* c = r.FirstChild(); c; c = c->Next()) {
    EXPECT_EQ(c->Name(), "p");
    EXPECT_EQ(c->AsElement()->Mode(), kNormalizeWhitespace);
  }
  EXPECT_EQ(&r.FindChild("p", 2, kElementNode), &third);
  // Existing elements are returned, not duplicated.
  EXPECT_EQ(&r.GetChildElement("p", 0), r.FirstChild());
  EXPECT_EQ(&r.GetChildElement("p", 2), &third);
  EXPECT_EQ(r.ChildCount(), 3u);
  // Other names and kinds do not count.
  r.AddText("p");
  r.GetChildElement("q", 0);
  r.GetChildElement("p", 3);
  EXPECT_EQ(r.ChildCount(), 6u);
}

TEST(Element, NegativeChildIndexIsRefused) {
  Document doc("r", kNormalizeWhitespace);
  EXPECT_THROW(doc.Root()->GetChildElement("p", -1), std::out_of_range);
  EXPECT_EQ(doc.Root()->ChildCount(), 0u);
  EXPECT_TRUE(doc.Root()->FindChild("p", -1, kElementNode).IsType(kNullNode));
}

TEST(Element, FindChildMatchesNameAndType) {
  auto doc = ParseText("<r><a>1</a>x<a>2</a><!--c--><a>3</a></r>");
  const Element& r = *doc->Root();
  EXPECT_EQ(r.FindChild("a", 0, kElementNode).Value(), "1");
  EXPECT_EQ(r.FindChild("a", 2, kElementNode).Value(), "3");
  EXPECT_TRUE(r.FindChild("a", 3, kElementNode).IsType(kNullNode));
  EXPECT_TRUE(r.FindChild("A", 0, kElementNode).IsType(kNullNode));  // case matters
  EXPECT_EQ(r.FindChild("#comment", 0, kCommentNode).Value(), "c");
  EXPECT_EQ(r.FindChild("#text", 1, kTextNode).Value(), "x");
  EXPECT_TRUE(r.FindChild("a", 0, kTextNode).IsType(kNullNode));
  // The null node chains: lookups on it find nothing and its value is empty.
  const Node& none = r.FindChild("zz", 0, kElementNode);
  EXPECT_EQ(none.Value(), "");
  EXPECT_EQ(&none, &NullNode::Instance());
}

TEST(Element, Attributes) {
  Document doc("r", kNormalizeWhitespace);
  Element& r = *doc.Root();
  EXPECT_TRUE(r.FindAttribute("x").IsType(kNullNode));
  Attribute& x = r.GetAttribute("x");
  EXPECT_EQ(x.Mode(), kNormalizeWhitespace);
  EXPECT_EQ(&r.GetAttribute("x"), &x);
  EXPECT_EQ(&r.FindAttribute("x"), &x);
  r.GetAttribute("y").SetText("  two   words ");
  EXPECT_EQ(r.AttributeAt(1).Value(), "two words");
  EXPECT_TRUE(r.AttributeAt(-1).IsType(kNullNode));
  EXPECT_TRUE(r.AttributeAt(2).IsType(kNullNode));
  EXPECT_EQ(r.ChildCount(), 0u);  // attributes are not children
}

TEST(Container, SetTextAndClearChildren) {
  auto doc = ParseText("<r k='v'>old<b>x</b></r>");
  Element& r = *doc->Root();
  r.SetText("new\n\ttext");
  EXPECT_EQ(r.ChildCount(), 1u);
  EXPECT_EQ(r.FirstChild()->Value(), "new text");  // collapsed in mode 1
  EXPECT_EQ(r.Value(), "new text");
  r.ClearChildren();
  EXPECT_EQ(r.ChildCount(), 0u);
  EXPECT_EQ(r.FindAttribute("k").Value(), "v");  // attributes stay

  // In mode 0 text is kept as given and values are not trimmed.
  Element& raw = doc->CreateElement("raw", kKeepWhitespace);
  raw.AddText("  a\n b ");
  EXPECT_EQ(raw.Value(), "  a\n b ");
}

TEST(Container, ClearingADocumentDropsItsRoot) {
  Document doc("r", kNormalizeWhitespace);
  doc.ClearChildren();
  EXPECT_EQ(doc.Root(), nullptr);
  EXPECT_EQ(doc.ToString(" "), "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n");
  doc.SetRoot(doc.CreateElement("s"));
  doc.Root()->SetText("v");
  EXPECT_EQ(doc.Value(), "v");
}

TEST(Container, ANodeIsLinkedOnce) {
  Document doc("r", kNormalizeWhitespace);
  Element& e = doc.CreateElement("e");
  doc.Root()->AddChild(e);
  EXPECT_THROW(doc.Root()->AddChild(e), std::logic_error);
  EXPECT_THROW(doc.Root()->AddChild(doc.CreateAttribute("a")), std::logic_error);
  EXPECT_THROW(doc.Root()->AddChild(NullNode::Instance()), std::logic_error);
  Attribute& a = doc.CreateAttribute("a");
  e.AddAttribute(a);
  EXPECT_THROW(e.AddAttribute(a), std::logic_error);
  EXPECT_THROW(doc.CreateEntityReference("nbsp"), std::invalid_argument);
}

TEST(Entities, ByNameOrByByteMakeTheSameReference) {
  Document doc("r", kNormalizeWhitespace);
  for (auto [name, byte] : {std::pair<const char*, char>{"lt", '<'}, {"gt", '>'}, {"amp", '&'}, {"apos", '\''},
                            {"quot", '"'}}) {
    Reference& by_byte = doc.CreateEntityReference(byte);
    EXPECT_EQ(by_byte.Name(), name);
    EXPECT_EQ(by_byte.Value(), std::string(1, byte));
    EXPECT_FALSE(by_byte.IsCharacterReference());
    EXPECT_EQ(doc.CreateEntityReference(std::string_view(name)).Character(), by_byte.Character());
  }
  EXPECT_THROW(doc.CreateEntityReference('x'), std::invalid_argument);
  EXPECT_THROW(doc.CreateEntityReference('\0'), std::invalid_argument);
}

// Nodes find their document from where they are stored: editing must work
// on nodes in any of a large document's chunks, next to long strings.
TEST(Container, EditingNodesAcrossTheWholeArena) {
  std::string text = "<r>";
  for (int i = 0; i < 5000; ++i) text += "<e k='" + std::to_string(i) + "'>" + std::string(i % 7, 'x') + "</e>";
  text += "<long>" + std::string(200000, 'y') + "</long></r>";
  auto doc = ParseText(text);
  Element& r = *doc->Root();
  EXPECT_EQ(&r.Owner(), doc.get());
  Element& last = *r.FindChild("e", 4999, kElementNode).AsElement();
  EXPECT_EQ(&last.Owner(), doc.get());
  last.GetAttribute("k").SetText("edited");
  last.GetChildElement("sub", 1).SetText("deep");
  EXPECT_EQ(last.FindAttribute("k").Value(), "edited");
  EXPECT_EQ(last.Value(), "xdeep");  // 4999 % 7 is 1
  EXPECT_EQ(r.FindChild("long", 0, kElementNode).Value().size(), 200000u);
  EXPECT_EQ(&static_cast<Attribute&>(last.GetAttribute("k")).Owner(), doc.get());
}

TEST(Values, ContainersConcatenateAndTrimTheirChildren) {
  auto doc = ParseText("<r> <a> 1 </a><b>2<c> 3 </c></b>&#x20;<!--4--> </r>");
  EXPECT_EQ(doc->Root()->FindChild("a", 0, kElementNode).Value(), "1");
  EXPECT_EQ(doc->Root()->FindChild("b", 0, kElementNode).Value(), "23");
  EXPECT_EQ(doc->Root()->Value(), "123 4");
  std::string value = "stale";
  doc->Root()->GetValue(value);
  EXPECT_EQ(value, "123 4");
  EXPECT_FALSE(doc->Root()->HasEmptyValue());
  // A reference to a space is a non-empty value that trims away.
  auto space = ParseText("<r>&#32;</r>");
  EXPECT_TRUE(space->Root()->HasEmptyValue());
  EXPECT_EQ(space->Root()->Value(), "");
  EXPECT_EQ(space->Root()->FirstChild()->Next()->Value(), " ");
}

}  // namespace
}  // namespace kv::AdvXMLParser
