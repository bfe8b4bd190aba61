#include "xml/parser.h"

#include <gtest/gtest.h>

#include <iterator>
#include <random>
#include <set>
#include <string>

#include "tests/xml/test_util.h"

namespace kv::AdvXMLParser {
namespace {

using test::ErrorOf;
using test::ParseText;

struct ErrorCase {
  const char* text;
  int code;
  int line;
  int column;  // of the byte at which the fault was found, from 1
};

// One or more inputs per error code. Columns count bytes from 1 on their
// line; the comment names the byte the position points at.
TEST(Parse, EveryErrorCodeWithItsPosition) {
  const ErrorCase cases[] = {
      {"<a>", 1, 1, 4},                       // the end, after '>'
      {"<a x='1", 1, 1, 8},                   // the end inside the value
      {"<a><!-- x", 1, 1, 10},                // the end inside the comment
      {"<a><?pi x", 1, 1, 10},                // the end inside the PI
      {"<a x>", 2, 1, 5},                     // '>' where '=' belongs
      {"<?xml version \"1.0\"?><a/>", 2, 1, 15},  // the quote after "version "
      {"<?xml version='1.0' encoding 'x'?><a/>", 2, 1, 30},
      {"<a x=1>", 3, 1, 6},                   // '1'
      {"<a x=>", 3, 1, 6},                    // '>'
      {"<a x=\"<\">", 4, 1, 7},               // '<'
      {"<a>&;</a>", 5, 1, 5},                 // ';' where a name belongs
      {"<a>&amp</a>", 5, 1, 8},               // '<' where ';' belongs
      {"<a>& b</a>", 5, 1, 5},
      {"<a>&#x41</a>", 5, 1, 9},
      {"<a>&#x;</a>", 6, 1, 7},               // ';' where a hex digit belongs
      {"<a>&#xg;</a>", 6, 1, 7},
      {"<a>&#;</a>", 7, 1, 6},                // ';' where a digit belongs
      {"<a>&#X41;</a>", 7, 1, 6},             // "&#x" is lower case only
      {"<a>&foo;</a>", 8, 1, 5},              // 'f'
      {"<a>&AMP;</a>", 8, 1, 5},
      {"<!DOCTYPE a><a/>", 9, 1, 2},          // '!'
      {"< a/>", 9, 1, 2},
      {"<a></ a>", 9, 1, 6},                  // ' ' after "</"
      {"<a/ >", 10, 1, 4},                    // ' ' after '/'
      {"<a b=\"1\"c=\"2\"/>", 11, 1, 9},       // 'c' right after a value
      {"<a></a x>", 11, 1, 8},
      {"<a\"x\">", 11, 1, 3},
      {"<a></b>", 12, 1, 6},                  // 'b'
      {"<ab></a>", 12, 1, 7},
      {"<a>< b></a>", 13, 1, 4},              // the '<'
      {"<a><!DOCTYPE></a>", 13, 1, 4},
      {"<a><!-x--></a>", 13, 1, 4},
      {"<a>]]></a>", 14, 1, 4},               // the first ']'
      {"<a>x]]]></a>", 14, 1, 6},
      {"", 15, 1, 1},
      {"\xEF\xBB\xBF<a/>", 15, 1, 1},         // a byte-order mark
      {"text<a/>", 15, 1, 1},
      {"<?xml version=\"1.0\"?>", 15, 1, 22},
      {"<?xml?><a/>", 16, 1, 6},              // '?' where whitespace belongs
      {"<?xml encoding='x'?><a/>", 16, 1, 7},
      {"<?xml version=\"\"?><a/>", 16, 1, 16},
      {"<?xml version=1.0?><a/>", 16, 1, 15},
      {"<?xml version=\"1.0'?><a/>", 16, 1, 19},
      {"<?xml version=\"1.0\" x?><a/>", 17, 1, 21},
      {"<?xml version=\"1.0\"><a/>", 17, 1, 20},
      {"<?xml version=\"1.0\" encoding=UTF-8?><a/>", 18, 1, 30},
      {"<?xml version=\"1.0\" encoding=\"8bit\"?><a/>", 19, 1, 31},
      {"<?xml version=\"1.0\" encoding=\"UTF-8'?><a/>", 19, 1, 36},
      {"<?xml version=\"1.0\" encoding=\"\"?><a/>", 19, 1, 31},
      {"<?xml version=\"1.0\" standalone=yes?><a/>", 20, 1, 32},
      {"<?xml version=\"1.0\" standalone=\"maybe\"?><a/>", 21, 1, 33},
      {"<?xml version=\"1.0\" standalone=\"yes'?><a/>", 21, 1, 36},
      {"<a><!-- x -- y --></a>", 22, 1, 13},  // the ' ' after the inner "--"
      {"<a><!-- x ---></a>", 22, 1, 13},
      {"<a><? x?></a>", 23, 1, 6},
      {"<a><?1x?></a>", 23, 1, 6},
      {" <?xml version=\"1.0\"?><a/>", 24, 1, 4},  // 'x' of the target
      {"<a><?XmL x?></a>", 24, 1, 6},
      {"<a><![CDATA[\x01]]></a>", 25, 1, 13},
      {"<a><![CDATA[\xE9]]></a>", 25, 1, 13},
      {"<a><![CDATA[x", 25, 1, 14},           // the end reads as NUL
  };
  for (const ErrorCase& c : cases) {
    auto error = ErrorOf(c.text);
    ASSERT_TRUE(error.has_value()) << c.text;
    EXPECT_EQ(error->code, c.code) << c.text;
    EXPECT_EQ(error->line, c.line) << c.text;
    EXPECT_EQ(error->column, c.column) << c.text;
  }
}

TEST(Parse, PositionsCountLinesAndSkipCarriageReturns) {
  // Line 3 is "</a>"; its 'a' is the third byte: the CRs before it are not
  // counted and the LFs start new lines.
  auto error = ErrorOf("<a>\r\n  <b>\r\n</a>");
  ASSERT_TRUE(error);
  EXPECT_EQ(error->code, 12);
  EXPECT_EQ(error->line, 3);
  EXPECT_EQ(error->column, 3);

  error = ErrorOf("<r>\n\n  <x>&bad;</x></r>");
  ASSERT_TRUE(error);
  EXPECT_EQ(error->code, 8);
  EXPECT_EQ(error->line, 3);
  EXPECT_EQ(error->column, 7);  // the 'b' of the unknown name
}

TEST(Parse, NestingDeeperThanTheLimitIsRefused) {
  std::string ok, deep;
  for (int i = 0; i < kMaxDepth; ++i) ok += "<a>";
  for (int i = 0; i < kMaxDepth; ++i) ok += "</a>";
  EXPECT_FALSE(ErrorOf(ok)) << "exactly the limit parses";

  for (int i = 0; i <= kMaxDepth; ++i) deep += "<a>";
  auto error = ErrorOf(deep);
  ASSERT_TRUE(error);
  EXPECT_EQ(error->code, kErrTooDeep);
  EXPECT_EQ(error->column, 3 * kMaxDepth + 1);  // the '<' of the level too many

  // Far deeper than any stack would take: still a clean error.
  std::string hostile(3 * 1000 * 1000, '<');
  for (size_t i = 1; i < hostile.size(); i += 3) hostile[i] = 'a', hostile[i + 1] = '>';
  error = ErrorOf(hostile);
  ASSERT_TRUE(error);
  EXPECT_EQ(error->code, kErrTooDeep);
}

TEST(Parse, CharacterReferencesOutsideOneByteAreRefused) {
  struct Case {
    const char* text;
    int code;  // 0: parses
    int value;
  };
  const Case cases[] = {
      {"<a>&#x41;</a>", 0, 'A'},
      {"<a>&#65;</a>", 0, 'A'},
      {"<a>&#x00041;</a>", 0, 'A'},  // leading zeros are not a wider value
      {"<a>&#xff;</a>", 0, 0xFF},
      {"<a>&#255;</a>", 0, 0xFF},
      {"<a>&#1;</a>", 0, 1},
      {"<a>&#0;</a>", 7, 0},
      {"<a>&#x0;</a>", 6, 0},
      {"<a>&#256;</a>", 7, 0},
      {"<a>&#x100;</a>", 6, 0},
      {"<a>&#x141;</a>", 6, 0},  // would have been truncated to 'A'
      {"<a>&#4294967361;</a>", 7, 0},
      {"<a>&#99999999999999999999999999;</a>", 7, 0},
      {"<a x='&#x10041;'/>", 6, 0},
  };
  for (const Case& c : cases) {
    auto error = ErrorOf(c.text);
    if (c.code) {
      ASSERT_TRUE(error) << c.text;
      EXPECT_EQ(error->code, c.code) << c.text;
      EXPECT_EQ(error->column, 4 + (c.text[1] == 'a' && c.text[2] == ' ' ? 3 : 0)) << c.text;  // the '&'
      continue;
    }
    ASSERT_FALSE(error) << c.text;
    auto doc = ParseText(c.text);
    const Node* ref = doc->Root()->FirstChild()->Next();
    ASSERT_TRUE(ref->IsType(kReferenceNode));
    EXPECT_EQ(static_cast<const Reference*>(ref)->Character(), c.value) << c.text;
    EXPECT_TRUE(ref->Name().empty());
  }
}

TEST(Parse, DeclarationValuesAreStored) {
  auto doc = ParseText("<?xml version='1.1' encoding=\"ISO-8859-1\" standalone='no'?><r/>");
  EXPECT_EQ(doc->Version(), "1.1");
  EXPECT_EQ(doc->Encoding(), "ISO-8859-1");
  EXPECT_EQ(doc->Standalone(), 0);

  doc = ParseText("<r/>");
  EXPECT_EQ(doc->Version(), "1.0");
  EXPECT_EQ(doc->Encoding(), "UTF-8");
  EXPECT_EQ(doc->Standalone(), 1);

  doc = ParseText("<?xml version = \"2\"  standalone = \"yes\" ?><r/>");
  EXPECT_EQ(doc->Version(), "2");
  EXPECT_EQ(doc->Encoding(), "UTF-8");
  EXPECT_EQ(doc->Standalone(), 1);
}

TEST(Parse, DocumentEdgeCases) {
  // Whitespace before the declaration makes it a PI with the reserved target.
  EXPECT_EQ(ErrorOf("\n<?xml version=\"1.0\"?><a/>")->code, 24);
  // The opener is matched without regard to case at the first byte.
  auto doc = ParseText("<?XmL version=\"1.0\"?><a>x</a>");
  EXPECT_EQ(doc->Root()->Value(), "x");
  // A target that only begins with "xml" is a processing instruction.
  doc = ParseText("<?xml-stylesheet href='s.css'?><a/>");
  ASSERT_TRUE(doc->FirstChild()->IsType(kProcessingInstructionNode));
  EXPECT_EQ(doc->FirstChild()->Name(), "xml-stylesheet");
  EXPECT_EQ(doc->FirstChild()->Value(), "href='s.css'");
  // Anything after the root and the comments and PIs behind it is ignored.
  doc = ParseText("<a>x</a>\n<!--c-->  trailing text <b> &bad; <");
  EXPECT_EQ(doc->Root()->Value(), "x");
  EXPECT_EQ(doc->ChildCount(), 2u);
  // But a comment there is read, faults included.
  EXPECT_EQ(ErrorOf("<a/><!-- a -- b -->")->code, 22);
  // Miscellany before the root becomes children of the document.
  doc = ParseText("<!--one-->\n<?pi two?>\n<a>three</a>");
  ASSERT_EQ(doc->ChildCount(), 3u);
  EXPECT_EQ(doc->FirstChild()->Value(), "one");
  EXPECT_EQ(doc->FirstChild()->Next()->Value(), "two");
  EXPECT_EQ(doc->FirstChild()->Next()->Next(), doc->Root());
  EXPECT_EQ(doc->Value(), "onetwothree");
}

TEST(Parse, EveryRunOfDataBecomesATextNode) {
  auto doc = ParseText("<a><b/></a>");
  const Element& a = *doc->Root();
  ASSERT_EQ(a.ChildCount(), 3u);
  const Node* first = a.FirstChild();
  EXPECT_TRUE(first->IsType(kTextNode));
  EXPECT_EQ(first->Value(), "");
  EXPECT_EQ(first->Next()->Name(), "b");
  EXPECT_TRUE(first->Next()->Next()->IsType(kTextNode));
  EXPECT_EQ(first->Next()->Next()->Value(), "");
  EXPECT_EQ(a.Value(), "");

  // Whitespace between elements is one space; references split the runs.
  doc = ParseText("<a>\n  <b>x</b>\n  &lt;<c/></a>");
  const Node* n = doc->Root()->FirstChild();
  EXPECT_EQ(std::string(n->Value()), " ");
  n = n->Next()->Next();
  EXPECT_EQ(n->Value(), " ");
  n = n->Next();
  ASSERT_TRUE(n->IsType(kReferenceNode));
  EXPECT_EQ(n->Name(), "lt");
  EXPECT_EQ(n->Value(), "<");
}

TEST(Parse, ValuesAreCollapsedWhenMadeAndTrimmed) {
  auto doc = ParseText("<a>  x  <!--c-->  y </a>");
  EXPECT_EQ(doc->Root()->Value(), "x c y");

  doc = ParseText("<a v='a  &amp;  b'/>");
  const Node& v = doc->Root()->FindAttribute("v");
  EXPECT_EQ(v.Value(), "a & b");
  // The value is made of text, reference, text.
  const Node* piece = v.AsContainer()->FirstChild();
  EXPECT_EQ(piece->Value(), "a ");
  EXPECT_EQ(piece->Next()->Name(), "amp");
  EXPECT_EQ(piece->Next()->Next()->Value(), " b");

  doc = ParseText("<a>\t1\n\n2\r\n3 </a>");
  EXPECT_EQ(doc->Root()->Value(), "1 2 3");
}

TEST(Parse, CharacterDataKinds) {
  auto doc = ParseText("<a><![CDATA[ <x> & ]] ]]><?pi  odd?><?pi2 even?><?pi3?></a>");
  const Node* n = doc->Root()->FirstChild()->Next();
  ASSERT_TRUE(n->IsType(kCDataNode));
  EXPECT_EQ(n->Name(), "#cdata-section");
  EXPECT_EQ(n->Value(), " <x> & ]] ");
  n = n->Next()->Next();
  ASSERT_TRUE(n->IsType(kProcessingInstructionNode));
  EXPECT_EQ(n->Name(), "pi");
  EXPECT_EQ(n->Value(), "odd");  // three bytes, read to its own "?>"
  n = n->Next()->Next();
  EXPECT_EQ(n->Value(), "even");
  n = n->Next()->Next();
  EXPECT_EQ(n->Name(), "pi3");
  EXPECT_EQ(n->Value(), "");

  doc = ParseText("<a><!----><!-- a - b --></a>");
  n = doc->Root()->FirstChild()->Next();
  ASSERT_TRUE(n->IsType(kCommentNode));
  EXPECT_EQ(n->Name(), "#comment");
  EXPECT_EQ(n->Value(), "");
  EXPECT_EQ(n->Next()->Next()->Value(), " a - b ");
}

TEST(Parse, CarriageReturnsAreDropped) {
  auto doc = ParseText("<a>x\ry</a>");
  EXPECT_EQ(doc->Root()->Value(), "xy");
  doc = ParseText("<a><![CDATA[1\r\n2]]><!--3\r\n4--></a>");
  EXPECT_EQ(doc->Root()->Value(), "1\n23\n4");
  doc = ParseText("<a\r\n x\r\n=\r\n'1'\r\n>v</a\r\n>");
  EXPECT_EQ(doc->Root()->FindAttribute("x").Value(), "1");
  // Only one CR is dropped at a time; the next is read as whitespace.
  doc = ParseText("<a>x\r\ry</a>");
  EXPECT_EQ(doc->Root()->Value(), "x y");
}

// The reader's rules byte by byte: one CR dropped, the byte after it taken
// as it is; every run between references collapsed; the value trimmed.
std::string ExpectedValue(const std::string& text) {
  std::string without_cr;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r') {
      if (++i >= text.size()) break;
    }
    without_cr.push_back(text[i]);
  }
  std::string value;
  size_t start = 0;
  for (size_t at; (at = without_cr.find("&amp;", start)) != std::string::npos; start = at + 5)
    value += Collapse(std::string_view(without_cr).substr(start, at - start)) + "&";
  value += Collapse(std::string_view(without_cr).substr(start));
  return std::string(Trim(value));
}

TEST(Parse, LongRunsFollowTheByteWiseRules) {
  const char* pieces[] = {"a", "word", " ", "  ", "\n", "\t", "\r", "\r\n", "\r\r", "&amp;", "]", "]]", "\x01", "\xE9", "'"};
  std::mt19937 rng(99);
  for (int round = 0; round < 400; ++round) {
    std::string text;
    for (int n = std::uniform_int_distribution<int>(0, 80)(rng); n > 0; --n)
      text += pieces[std::uniform_int_distribution<size_t>(0, std::size(pieces) - 1)(rng)];
    if (text.find("]]>") != std::string::npos) continue;
    std::string content = "<r>" + text + "</r>";
    auto doc = ParseText(content);
    EXPECT_EQ(doc->Root()->Value(), ExpectedValue(text)) << content;
    std::string attribute = "<r v=\"" + text + "\"/>";
    doc = ParseText(attribute);
    EXPECT_EQ(doc->Root()->FindAttribute("v").Value(), ExpectedValue(text)) << attribute;
  }
}

// Names under sixteen bytes and runs with nothing to collapse are read
// sixteen bytes at a time. Each case puts the byte that ends a name or a run
// just before, on and after a sixteen-byte boundary, and is read once as it
// is (ending near the end of the input) and once followed by padding.
TEST(Parse, NamesAndRunsAroundSixteenByteBoundaries) {
  const std::string n15 = "abcdefghijklmno", n16 = n15 + "p", n17 = n16 + "q";
  const std::string x14(14, 'x'), x15(15, 'x'), x16(16, 'x'), x32(32, 'x');
  struct Case {
    std::string text;
    std::string root;      // the root's name
    std::string value;     // the root's value
    std::string v;         // the value of the root's attribute v
    std::string first;     // the root's first child as stored
  };
  const Case cases[] = {
      {"<" + n15 + " v='1'>t</" + n15 + ">", n15, "t", "1", "t"},
      {"<" + n16 + " v='1'>t</" + n16 + ">", n16, "t", "1", "t"},
      {"<" + n17 + " v='1'>t</" + n17 + ">", n17, "t", "1", "t"},
      {"<" + n15 + "></" + n15 + "\r\n>", n15, "", "", ""},
      {"<" + n15 + "/>", n15, "", "", ""},
      {"<a>" + x15 + "  y</a>", "a", x15 + " y", "", x15 + " y"},
      {"<a>" + x15 + " y</a>", "a", x15 + " y", "", x15 + " y"},
      {"<a>" + x14 + " \ny</a>", "a", x14 + " y", "", x14 + " y"},
      {"<a>" + x16 + "\ty</a>", "a", x16 + " y", "", x16 + " y"},
      {"<a>" + x16 + " </a>", "a", x16, "", x16 + " "},
      {"<a>" + x32 + "</a>", "a", x32, "", x32},
      {"<a>" + x32 + "x&amp;</a>", "a", x32 + "x&", "", x32 + "x"},
      {"<a>" + std::string(16, ' ') + "<b/></a>", "a", "", "", " "},
      {"<a>" + std::string(15, ' ') + "\n<b/></a>", "a", "", "", " "},
      {"<a>\x01" + x16 + "</a>", "a", "\x01" + x16, "", "\x01" + x16},
      {"<a>" + x15 + "]" + x16 + "</a>", "a", x15 + "]" + x16, "", x15 + "]" + x16},
      {"<a v='" + x15 + "  y'/>", "a", "", x15 + " y", ""},
      {"<a v='" + x16 + "'/>", "a", "", x16, ""},
      {"<a v=\"" + x32 + " \"/>", "a", "", x32, ""},
      {"<a v='" + x15 + "\r\ny'/>", "a", "", x15 + " y", ""},
  };
  for (const Case& c : cases) {
    for (const std::string& text : {c.text, c.text + std::string(40, ' ')}) {
      auto doc = ParseText(text);
      ASSERT_TRUE(doc) << text;
      const Element& root = *doc->Root();
      EXPECT_EQ(root.Name(), c.root) << text;
      EXPECT_EQ(root.Value(), c.value) << text;
      EXPECT_EQ(root.FindAttribute("v").Value(), c.v) << text;
      EXPECT_EQ(root.FirstChild() ? std::string(root.FirstChild()->Text()) : "", c.first) << text;
    }
  }

  const ErrorCase errors[] = {
      {"<a>xxxxxxxxxxxxxxxxxxxx", 1, 1, 24},                 // the end after a long run
      {"<a v='xxxxxxxxxxxxxxxxxxxx", 1, 1, 27},              // the end inside a long value
      {"<abcdefghijklmnop></abcdefghijklmno>", 12, 1, 21},   // an end tag one byte short
      {"<abcdefghijklmno></abcdefghijklmnop>", 12, 1, 20},   // one byte long
      {"<abcdefghijklmno></abcdefghijklmno x>", 11, 1, 36},  // 'x' where '>' belongs
      {"<a>xxxxxxxxxxxxxxx]]></a>", 14, 1, 19},              // "]]>" at the sixteenth byte
  };
  for (const ErrorCase& c : errors) {
    auto error = ErrorOf(c.text);
    ASSERT_TRUE(error) << c.text;
    EXPECT_EQ(error->code, c.code) << c.text;
    EXPECT_EQ(error->line, c.line) << c.text;
    EXPECT_EQ(error->column, c.column) << c.text;
  }

  // Names that share their first eight bytes keep their own bytes.
  auto doc = ParseText("<r><descriptionA/><descriptionB/><descriptionA/><descriptionA2/></r>");
  std::string names;
  for (const Node* n = doc->Root()->FirstChild(); n; n = n->Next())
    if (n->IsType(kElementNode)) names += std::string(n->Name()) + ",";
  EXPECT_EQ(names, "descriptionA,descriptionB,descriptionA,descriptionA2,");
}

TEST(Parse, AttributesKeepOrderAndDuplicates) {
  auto doc = ParseText("<a  x = \"1\"\ty='2' x=\"3\"/>");
  const Element& a = *doc->Root();
  EXPECT_EQ(a.AttributeAt(0).Value(), "1");
  EXPECT_EQ(a.AttributeAt(1).Name(), "y");
  EXPECT_EQ(a.AttributeAt(2).Value(), "3");
  EXPECT_TRUE(a.AttributeAt(3).IsType(kNullNode));
  EXPECT_EQ(a.FindAttribute("x").Value(), "1");
  EXPECT_EQ(a.ChildCount(), 0u);
  doc = ParseText("<a x='say \"hi\"' y=\"it's\" z=''/>");
  EXPECT_EQ(doc->Root()->FindAttribute("x").Value(), "say \"hi\"");
  EXPECT_EQ(doc->Root()->FindAttribute("y").Value(), "it's");
  EXPECT_EQ(doc->Root()->FindAttribute("z").AsContainer()->ChildCount(), 1u);  // one empty text
}

TEST(Parse, NamesTakeTheirBytes) {
  auto doc = ParseText("<_a:b-c.d1 x.y='1'><:e/></_a:b-c.d1>");
  EXPECT_EQ(doc->Root()->Name(), "_a:b-c.d1");
  EXPECT_EQ(doc->Root()->AttributeAt(0).Name(), "x.y");
  EXPECT_EQ(ErrorOf("<1a/>")->code, 9);
  EXPECT_EQ(ErrorOf("<-a/>")->code, 9);
  EXPECT_EQ(ErrorOf("<\xC3\xA9/>")->code, 9);  // bytes above 0x7F are never name bytes
}

TEST(Parse, ModeSetsTheDocumentsOwnTrimming) {
  auto kept = ParseText("<!-- c --><a/>", kKeepWhitespace);
  EXPECT_EQ(kept->Mode(), kKeepWhitespace);
  EXPECT_EQ(kept->Value(), " c ");
  auto trimmed = ParseText("<!-- c --><a/>", kNormalizeWhitespace);
  EXPECT_EQ(trimmed->Value(), "c");
  EXPECT_EQ(trimmed->Root()->Mode(), kNormalizeWhitespace);
}

TEST(Parse, TheBufferIsNotKept) {
  std::string text = "<a x='v'>text<b>more</b></a>";
  auto doc = Parse(text.data(), text.size(), kKeepWhitespace);
  text.assign(text.size(), '#');
  EXPECT_EQ(doc->Root()->Value(), "textmore");
  EXPECT_EQ(doc->Root()->FindAttribute("x").Value(), "v");
  EXPECT_EQ(doc->Root()->Name(), "a");
}

TEST(Parse, EmbeddedNulEndsTheInput) {
  std::string text("<a>x\0y</a>", 10);
  auto error = ErrorOf(text);
  ASSERT_TRUE(error);
  EXPECT_EQ(error->code, 1);
  EXPECT_EQ(error->column, 5);
}

// Every code the parser throws has its own words; numbers outside say so.
TEST(ErrorText, EveryCodeHasDistinctWords) {
  std::set<std::string> seen;
  for (int code = kErrEndOfInput; code <= kErrTooDeep; ++code) {
    const std::string text = ErrorText(code);
    EXPECT_NE(text, "unknown error") << code;
    EXPECT_TRUE(seen.insert(text).second) << code << ": " << text;
  }
  EXPECT_STREQ(ErrorText(kErrMismatchedEndTag), "mismatched end tag");
  EXPECT_STREQ(ErrorText(0), "unknown error");
  EXPECT_STREQ(ErrorText(kErrTooDeep + 1), "unknown error");
}

}  // namespace
}  // namespace kv::AdvXMLParser
