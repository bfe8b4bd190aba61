// The RTF reader: formats and paragraphs from hand-written snippets, text
// escapes and code pages, refusals, and the plain text of whole files
// against an independent reader (Debian's unrtf).
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "editing/rtf_reader.h"

namespace kv {
namespace {

std::string Text(const char* rtf) { return ReadRtf(rtf).PlainText(); }

struct TextCase {
  const char* name;
  const char* rtf;
  const char* text;
};

class RtfText : public ::testing::TestWithParam<TextCase> {};

TEST_P(RtfText, Reads) { EXPECT_EQ(Text(GetParam().rtf), GetParam().text); }

INSTANTIATE_TEST_SUITE_P(
    Escapes, RtfText,
    ::testing::Values(
        TextCase{"Paragraphs", R"({\rtf1 one\par two\par})", "one\ntwo\n"},
        TextCase{"LastParagraphWithoutPar", R"({\rtf1 one\par two})", "one\ntwo\n"},
        TextCase{"LineBreakAndTab", R"({\rtf1 a\line b\tab c})", "a\nb\tc\n"},
        TextCase{"NewlinesInSourceIgnored", "{\\rtf1 a\r\nb}", "ab\n"},
        TextCase{"EscapedNewlineIsPar", "{\\rtf1 a\\\nb}", "a\nb\n"},
        TextCase{"DelimitingSpaceEaten", R"({\rtf1\b  two spaces})", " two spaces\n"},
        TextCase{"Cp1252Hex", R"({\rtf1\ansi caf\'e9 \'80})", "caf\xc3\xa9 \xe2\x82\xac\n"},
        // "\u" takes its fallback's place; "\uc" says how many characters that is.
        TextCase{"UnicodeFallbackSkipped", R"({\rtf1 \u8364?5})", "\xe2\x82\xac" "5\n"},
        TextCase{"UnicodeNegative", R"({\rtf1 \u-3913?})", "\xef\x82\xb7\n"},
        TextCase{"UnicodeTwoFallbacks", R"({\rtf1\uc2 \u233\'65\'3f!})", "\xc3\xa9!\n"},
        TextCase{"UnicodeNoFallback", R"({\rtf1\uc0 \u233 x})", "\xc3\xa9x\n"},
        TextCase{"UcIsGroupScoped", R"({\rtf1{\uc0 \u233}\u233 ab})", "\xc3\xa9\xc3\xa9" "b\n"},
        TextCase{"SurrogatePair", R"({\rtf1 \u-10179?\u-8694?})", "\xf0\x9f\x98\x8a\n"},
        TextCase{"LoneSurrogate", R"({\rtf1 \u-9000?})", "\xef\xbf\xbd\n"},
        // A font's character set chooses the code page of its bytes.
        TextCase{"CyrillicFont", R"({\rtf1{\fonttbl{\f1\fcharset204 Arial;}}\f1 \'cf\'f0\'e8})",
                 "\xd0\x9f\xd1\x80\xd0\xb8\n"},
        TextCase{"ShiftJisDoubleByte", R"({\rtf1{\fonttbl{\f0\fcharset128 MS Gothic;}}\'82\'a0\'93\'fa})",
                 "\xe3\x81\x82\xe6\x97\xa5\n"},
        TextCase{"AnsiCodePage", R"({\rtf1\ansi\ansicpg1250 \'9a})", "\xc5\xa1\n"},
        TextCase{"Specials", R"({\rtf1 \emdash\endash\bullet\lquote\rquote\ldblquote\rdblquote\~})",
                 "\xe2\x80\x94\xe2\x80\x93\xe2\x80\xa2\xe2\x80\x98\xe2\x80\x99\xe2\x80\x9c\xe2\x80\x9d\xc2\xa0\n"},
        TextCase{"BracesAndBackslash", R"({\rtf1 \{x\}\\})", "{x}\\\n"},
        // Destinations left out: known, starred, pictures, binary data.
        TextCase{"SkippedDestinations", R"({\rtf1{\info{\title T}}{\*\foo bar}{\header h}x})", "x\n"},
        TextCase{"FieldResultKept", R"({\rtf1{\field{\*\fldinst HYPERLINK "u"}{\fldrslt link}}})", "link\n"},
        TextCase{"BinarySkipped", "{\\rtf1{\\*\\blob\\bin3 }}{x}y", "y\n"},
        TextCase{"TextAfterDocumentIgnored", R"({\rtf1 a}b)", "a\n"},
        TextCase{"UnbalancedEndsAtData", R"({\rtf1 a{\b b)", "ab\n"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(RtfReader, BinaryDataSkippedWhateverItHolds) {
  // The bytes after \bin may hold braces and backslashes.
  EXPECT_EQ(Text("{\\rtf1 a{\\*\\x\\bin4 }{\\\\}b}"), "ab\n");
}

TEST(RtfReader, CharacterFormats) {
  const RichDocument d = ReadRtf(
      R"({\rtf1\deff0{\fonttbl{\f0 Arial;}{\f1{\*\falt Times}Courier New;}}{\colortbl;\red255\green0\blue0;\red0\green0\blue128;})"
      R"(a{\b b{\i c}}{\ul\strike d}{\f1\fs40 e}{\cf1\highlight2 f}{\super g}{\sub h}\b i\plain j{\f7 k}\ul l\ul0 m})");
  ASSERT_EQ(d.paragraphs.size(), 1u);
  struct Want {
    const char* text;
    bool bold, italic, underline, strike;
    const char* font;
    int halfPoints, vertical;
    uint32_t color, background;  // 0: none
  };
  const Want want[] = {
      {"a", false, false, false, false, "Arial", 24, 0, 0, 0},
      {"b", true, false, false, false, "Arial", 24, 0, 0, 0},
      {"c", true, true, false, false, "Arial", 24, 0, 0, 0},
      {"d", false, false, true, true, "Arial", 24, 0, 0, 0},
      {"e", false, false, false, false, "Courier New", 40, 0, 0, 0},
      {"f", false, false, false, false, "Arial", 24, 0, 0xFF0000, 0x000080},
      {"g", false, false, false, false, "Arial", 24, 1, 0, 0},
      {"h", false, false, false, false, "Arial", 24, -1, 0, 0},
      {"i", true, false, false, false, "Arial", 24, 0, 0, 0},
      {"j", false, false, false, false, "Arial", 24, 0, 0, 0},
      // A font the table does not list: the widget's own.
      {"k", false, false, false, false, "", 24, 0, 0, 0},
      {"l", false, false, true, false, "Arial", 24, 0, 0, 0},
      {"m", false, false, false, false, "Arial", 24, 0, 0, 0},
  };
  const std::vector<RichRun>& runs = d.paragraphs[0].runs;
  ASSERT_EQ(runs.size(), std::size(want));
  for (size_t i = 0; i < runs.size(); ++i) {
    const RichCharFormat& f = runs[i].format;
    const Want& w = want[i];
    SCOPED_TRACE(w.text);
    EXPECT_EQ(runs[i].text, w.text);
    EXPECT_EQ(f.bold, w.bold);
    EXPECT_EQ(f.italic, w.italic);
    EXPECT_EQ(f.underline, w.underline);
    EXPECT_EQ(f.strike, w.strike);
    EXPECT_EQ(f.font, w.font);
    EXPECT_EQ(f.halfPoints, w.halfPoints);
    EXPECT_EQ(f.vertical, w.vertical);
    EXPECT_EQ(f.color.value_or(0), w.color);
    EXPECT_EQ(f.background.value_or(0), w.background);
  }
}

// The name is converted from its code page when its entry ends, once:
// further ";" in the table leave it as it is.
TEST(RtfReader, FontNameConvertedOnce) {
  const RichDocument d = ReadRtf(R"({\rtf1{\fonttbl{\f0 Caf\'e9;;;{\s0 Normal;}}}\f0 x})");
  ASSERT_EQ(d.paragraphs.size(), 1u);
  ASSERT_EQ(d.paragraphs[0].runs.size(), 1u);
  EXPECT_EQ(d.paragraphs[0].runs[0].format.font, "Caf\xc3\xa9");
}

TEST(RtfReader, ParagraphFormats) {
  const RichDocument d = ReadRtf(
      R"({\rtf1\pard\qc\sb60\sa120 a\par\qr\li100\ri200\fi-50 b\par\pard\tx720\tx1440\qj c\par{\pard\qc d\par}e})");
  ASSERT_EQ(d.paragraphs.size(), 5u);
  struct Want {
    RichAlign align;
    int left, right, first, before, after;
    size_t tabs;
  };
  const Want want[] = {
      {RichAlign::kCenter, 0, 0, 0, 60, 120, 0},
      // Properties carry on to the next paragraph until \pard.
      {RichAlign::kRight, 100, 200, -50, 60, 120, 0},
      {RichAlign::kJustify, 0, 0, 0, 0, 0, 2},
      {RichAlign::kCenter, 0, 0, 0, 0, 0, 0},
      // The group's \pard ended with the group.
      {RichAlign::kJustify, 0, 0, 0, 0, 0, 2},
  };
  for (size_t i = 0; i < std::size(want); ++i) {
    const RichParagraph& p = d.paragraphs[i];
    SCOPED_TRACE(i);
    EXPECT_EQ(p.align, want[i].align);
    EXPECT_EQ(p.leftIndent, want[i].left);
    EXPECT_EQ(p.rightIndent, want[i].right);
    EXPECT_EQ(p.firstIndent, want[i].first);
    EXPECT_EQ(p.spaceBefore, want[i].before);
    EXPECT_EQ(p.spaceAfter, want[i].after);
    EXPECT_EQ(p.tabStops.size(), want[i].tabs);
  }
  EXPECT_EQ(d.paragraphs[2].tabStops, (std::vector<int>{720, 1440}));
}

TEST(RtfReader, PicturesAreCountedAndLeftOut) {
  const RichDocument d = ReadRtf(R"({\rtf1 a{\pict\pngblip 89504e47}b{\object{\*\objdata 01}}c})");
  EXPECT_EQ(d.PlainText(), "abc\n");
  EXPECT_EQ(d.picturesSkipped, 2);
}

TEST(RtfReader, Refusals) {
  EXPECT_THROW(ReadRtf("plain text"), RtfError);
  EXPECT_THROW(ReadRtf(""), RtfError);
  // 100,000 nested groups: refused at once, not walked.
  std::string deep = "{\\rtf1 " + std::string(100000, '{') + "x" + std::string(100000, '}') + "}";
  EXPECT_THROW(ReadRtf(deep), RtfError);
  std::string nested = "{\\rtf1 " + std::string(kMaxRtfDepth - 2, '{') + "x" + std::string(kMaxRtfDepth - 2, '}') + "}";
  EXPECT_EQ(ReadRtf(nested).PlainText(), "x\n");
  std::string huge(kMaxRtfBytes + 1, 'a');
  huge.replace(0, 6, "{\\rtf1");
  EXPECT_THROW(ReadRtf(huge), RtfError);
}

TEST(RtfReader, PlainTextDocument) {
  const RichDocument d = PlainTextDocument("one\r\ntwo\n\ncaf\xe9");
  EXPECT_EQ(d.PlainText(), "one\ntwo\n\ncaf\xc3\xa9\n");
}

// ------------------------------------------------------------ against unrtf

std::vector<std::string> Words(const std::string& text) {
  std::istringstream in(text);
  std::vector<std::string> words;
  for (std::string w; in >> w;) words.push_back(w);
  return words;
}

std::string Latin1ToUtf8(const std::string& in) {
  std::string out;
  for (unsigned char c : in) {
    if (c < 0x80) {
      out.push_back(char(c));
    } else {
      out.push_back(char(0xC0 | (c >> 6)));
      out.push_back(char(0x80 | (c & 0x3F)));
    }
  }
  return out;
}

// unrtf's text after its banner, without its picture notes; it writes
// Windows-1252 text as Latin-1 (the files keep to that range).
std::string Unrtf(const std::filesystem::path& file) {
  const std::string cmd = "unrtf --text --nopict '" + file.string() + "' 2>/dev/null";
  FILE* p = popen(cmd.c_str(), "r");
  if (!p) return {};
  std::string out;
  char buf[4096];
  for (size_t n; (n = fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
  if (pclose(p) != 0) ADD_FAILURE() << "unrtf failed on " << file << " (scripts/install-deps.sh installs it)";
  const size_t rule = out.find("-----------------\n");
  if (rule != std::string::npos) out.erase(0, rule + 18);
  out = std::regex_replace(out, std::regex("### [^\n]*"), "");
  return Latin1ToUtf8(out);
}

TEST(RtfReader, SameWordsAsUnrtf) {
  const std::filesystem::path dir = std::filesystem::path(KV_SOURCE_DIR) / "tests/editing/rtf";
  int files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    if (entry.path().extension() != ".rtf") continue;
    ++files;
    std::ifstream in(entry.path(), std::ios::binary);
    const std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(Words(ReadRtf(data).PlainText()), Words(Unrtf(entry.path()))) << entry.path();
  }
  EXPECT_GE(files, 3);
}

// Read into a stream on a thread of its own and taken on this one: the same
// paragraphs as the whole document, in order, whatever the batches.
TEST(RtfReader, StreamHandsOverTheSameParagraphs) {
  std::ifstream in(std::filesystem::path(KV_SOURCE_DIR) / "tests/editing/rtf/features.rtf", std::ios::binary);
  const std::string features((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const size_t body = features.find("\\pard"), end = features.rfind('}');
  std::string data = features.substr(0, body);
  for (int i = 0; i < 100; ++i) data += features.substr(body, end - body);
  data += "}";
  const RichDocument whole = ReadRtf(data);
  ASSERT_GT(whole.paragraphs.size(), 700u);

  RichDocumentStream stream;
  std::jthread reader([&] {
    ReadRtf(data, stream);
    stream.Finish();
  });
  std::vector<const RichParagraph*> batch;
  RichDocument taken;
  while (stream.Next(batch))
    for (const RichParagraph* p : batch) taken.paragraphs.push_back(*p);
  EXPECT_EQ(stream.Error(), "");
  ASSERT_EQ(taken.paragraphs.size(), whole.paragraphs.size());
  EXPECT_EQ(taken.PlainText(), whole.PlainText());
  for (size_t i = 0; i < whole.paragraphs.size(); ++i) {
    const RichParagraph &a = taken.paragraphs[i], &b = whole.paragraphs[i];
    ASSERT_EQ(a.runs.size(), b.runs.size()) << "paragraph " << i;
    EXPECT_EQ(a.align, b.align);
    EXPECT_EQ(a.leftIndent, b.leftIndent);
    EXPECT_EQ(a.tabStops, b.tabStops);
    for (size_t r = 0; r < a.runs.size(); ++r) EXPECT_TRUE(a.runs[r].format == b.runs[r].format) << i << " " << r;
  }
}

// A finished stream answers its error once everything is taken; a key
// redeems only as the kind it was shared as.
TEST(RtfReader, StreamErrorAndHandoff) {
  auto stream = std::make_shared<RichDocumentStream>();
  stream->Add(RichParagraph());
  stream->Finish("broken");
  std::vector<const RichParagraph*> batch;
  EXPECT_TRUE(stream->Next(batch));
  EXPECT_EQ(batch.size(), 1u);
  EXPECT_FALSE(stream->Next(batch));
  EXPECT_EQ(stream->Error(), "broken");

  auto doc = std::make_shared<const RichDocument>();
  const std::string docKey = ShareRichDocument(doc), streamKey = ShareRichDocumentStream(stream);
  EXPECT_EQ(TakeRichDocumentStream(docKey), nullptr);
  EXPECT_EQ(TakeRichDocument(streamKey), nullptr);
  EXPECT_EQ(TakeRichDocument(docKey), doc);
  EXPECT_EQ(TakeRichDocumentStream(streamKey), stream);
  EXPECT_EQ(TakeRichDocumentStream(streamKey), nullptr) << "redeemed once";
}

}  // namespace
}  // namespace kv
