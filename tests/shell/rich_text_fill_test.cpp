// FillTextDocument against the plain way of filling a QTextDocument (one
// insertBlock per paragraph, one insertText per run, every format set in
// full): the text, every character's resolved font and colours, every
// block's format and separator format, and the laid-out pixels must agree.
#include <gtest/gtest.h>

#include <QAbstractTextDocumentLayout>
#include <QApplication>
#include <QImage>
#include <QPainter>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <chrono>
#include <cmath>
#include <functional>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "editing/rich_document.h"
#include "shell/qt_widget_window.h"

namespace kv {
namespace {

class RichTextFill : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "rich_text_fill_test";
    static char* argv[] = {name, nullptr};
    if (!QApplication::instance()) new QApplication(argc, argv);
  }
};

// The independent fill: what the widget did before it batched its inserts.
void ReferenceFill(QTextDocument& target, const RichDocument& doc, const QFont& base) {
  target.clear();
  target.setUndoRedoEnabled(false);
  target.setDefaultFont(base);
  QTextCursor cursor(&target);
  bool first = true;
  for (const RichParagraph& p : doc.paragraphs) {
    QTextBlockFormat block;
    block.setAlignment(p.align == RichAlign::kCenter    ? Qt::AlignHCenter
                       : p.align == RichAlign::kRight   ? Qt::AlignRight
                       : p.align == RichAlign::kJustify ? Qt::AlignJustify
                                                        : Qt::AlignLeft);
    block.setLeftMargin(p.leftIndent / 15.0);
    block.setRightMargin(p.rightIndent / 15.0);
    block.setTextIndent(p.firstIndent / 15.0);
    block.setTopMargin(p.spaceBefore / 15.0);
    block.setBottomMargin(p.spaceAfter / 15.0);
    QList<QTextOption::Tab> tabs;
    for (int t : p.tabStops) tabs.append(QTextOption::Tab(t / 15.0, QTextOption::LeftTab));
    block.setTabPositions(tabs);
    if (first)
      cursor.setBlockFormat(block);
    else
      cursor.insertBlock(block);
    first = false;
    for (const RichRun& r : p.runs) {
      const RichCharFormat& f = r.format;
      QFont font = base;
      if (!f.font.empty()) font.setFamily(QString::fromStdString(f.font));
      font.setPixelSize(std::max(1, int(std::lround(f.halfPoints * 96.0 / 144.0))));
      font.setBold(f.bold);
      font.setItalic(f.italic);
      font.setUnderline(f.underline);
      font.setStrikeOut(f.strike);
      QTextCharFormat chars;
      chars.setFont(font, QTextCharFormat::FontPropertiesAll);
      if (f.vertical)
        chars.setVerticalAlignment(f.vertical > 0 ? QTextCharFormat::AlignSuperScript
                                                  : QTextCharFormat::AlignSubScript);
      auto color = [](uint32_t rgb) { return QColor(int(rgb >> 16 & 0xFF), int(rgb >> 8 & 0xFF), int(rgb & 0xFF)); };
      if (f.color) chars.setForeground(color(*f.color));
      if (f.background) chars.setBackground(color(*f.background));
      cursor.insertText(QString::fromStdString(r.text), chars);
    }
  }
  target.setUndoRedoEnabled(true);
}

// What a character shows as: its font resolved against the document's, its
// colours and its vertical alignment.
std::string Describe(const QTextCharFormat& f, const QFont& documentFont) {
  const QFont font = f.font().resolve(documentFont);
  std::string out = font.families().join('|').toStdString() + " px" + std::to_string(font.pixelSize()) + " pt" +
                    std::to_string(font.pointSizeF()) + " w" + std::to_string(font.weight()) + " s" +
                    std::to_string(int(font.style())) + " u" + std::to_string(font.underline()) + " k" +
                    std::to_string(font.strikeOut()) + " v" + std::to_string(int(f.verticalAlignment()));
  if (f.hasProperty(QTextFormat::ForegroundBrush)) out += " fg" + f.foreground().color().name().toStdString();
  if (f.hasProperty(QTextFormat::BackgroundBrush)) out += " bg" + f.background().color().name().toStdString();
  return out;
}

std::string DescribeBlock(const QTextBlock& b, const QFont& documentFont) {
  const QTextBlockFormat f = b.blockFormat();
  std::string out = "a" + std::to_string(int(f.alignment())) + " l" + std::to_string(f.leftMargin()) + " r" +
                    std::to_string(f.rightMargin()) + " i" + std::to_string(f.textIndent()) + " t" +
                    std::to_string(f.topMargin()) + " b" + std::to_string(f.bottomMargin()) + " tabs";
  for (const QTextOption::Tab& t : f.tabPositions()) out += " " + std::to_string(t.position);
  return out + " / " + Describe(b.charFormat(), documentFont);
}

// Every block and every character, in order.
std::vector<std::string> Contents(const QTextDocument& doc) {
  std::vector<std::string> out;
  const QFont documentFont = doc.defaultFont();
  for (QTextBlock b = doc.begin(); b.isValid(); b = b.next()) {
    out.push_back("block " + DescribeBlock(b, documentFont));
    for (auto it = b.begin(); !it.atEnd(); ++it) {
      const QTextFragment fragment = it.fragment();
      const std::string format = Describe(fragment.charFormat(), documentFont);
      for (QChar c : fragment.text()) out.push_back(std::to_string(c.unicode()) + " " + format);
    }
  }
  return out;
}

QImage Render(QTextDocument& doc) {
  doc.setTextWidth(240);
  const QSizeF size = doc.documentLayout()->documentSize();
  QImage image(240, int(std::ceil(size.height())) + 1, QImage::Format_RGB32);
  image.fill(Qt::white);
  QPainter painter(&image);
  doc.drawContents(&painter);
  return image;
}

RichCharFormat Format(std::function<void(RichCharFormat&)> set) {
  RichCharFormat f;
  set(f);
  return f;
}

const RichCharFormat kPlain = Format([](RichCharFormat&) {});
const RichCharFormat kBold = Format([](RichCharFormat& f) { f.bold = true; });
const RichCharFormat kBig = Format([](RichCharFormat& f) { f.halfPoints = 40; });
const RichCharFormat kSerif = Format([](RichCharFormat& f) {
  f.font = "Liberation Serif";
  f.italic = true;
});
const RichCharFormat kSansNamed = Format([](RichCharFormat& f) { f.font = "Liberation Sans"; });
const RichCharFormat kMarked = Format([](RichCharFormat& f) {
  f.color = 0xC00000;
  f.background = 0xFFFF00;
  f.underline = true;
  f.strike = true;
});
const RichCharFormat kSuper = Format([](RichCharFormat& f) {
  f.vertical = 1;
  f.halfPoints = 16;
});
const RichCharFormat kSub = Format([](RichCharFormat& f) { f.vertical = -1; });

RichParagraph Para(std::vector<RichRun> runs, RichAlign align = RichAlign::kLeft, int left = 0,
                   std::vector<int> tabs = {}) {
  RichParagraph p;
  p.align = align;
  p.leftIndent = left;
  p.tabStops = std::move(tabs);
  p.runs = std::move(runs);
  return p;
}

struct FillCase {
  const char* name;
  std::vector<RichParagraph> paragraphs;
};

void PrintTo(const FillCase& c, std::ostream* os) { *os << c.name; }

QFont PlainBase() { return QFont("Liberation Sans", 10); }
QFont BoldItalicBase() {
  QFont f("Liberation Serif", 12);
  f.setBold(true);
  f.setItalic(true);
  f.setUnderline(true);
  return f;
}

const FillCase kFillCases[] = {
    {"Empty", {}},
    {"OneEmptyParagraph", {Para({})}},
    {"OneRun", {Para({{"Hello world", kPlain}})}},
    {"RunsOfOneFormatMerge", {Para({{"one ", kBold}, {"two ", kBold}, {"three", kBold}})}},
    {"FormatsAlternate", {Para({{"a", kPlain}, {"b", kBold}, {"c", kPlain}, {"d", kMarked}, {"e", kSuper}})}},
    {"EmptyRunsAreSkipped", {Para({{"", kBig}, {"x", kPlain}, {"", kBold}, {"y", kPlain}})}},
    {"SameBlockFormatAcrossParagraphs",
     {Para({{"first", kBig}}), Para({{"second", kBig}}), Para({{"third", kPlain}}), Para({{"fourth", kBold}})}},
    {"BlockFormatsChange",
     {Para({{"left", kPlain}}), Para({{"centred", kPlain}}, RichAlign::kCenter),
      Para({{"right", kPlain}}, RichAlign::kRight), Para({{"right too", kBold}}, RichAlign::kRight),
      Para({{"indented", kPlain}}, RichAlign::kLeft, 720)}},
    // An empty paragraph's separator takes the format before it, whatever
    // the block format around it.
    {"EmptyParagraphsBetween",
     {Para({{"big", kBig}}), Para({}), Para({}, RichAlign::kCenter), Para({{"small", kSub}}), Para({}),
      Para({}, RichAlign::kRight, 0, {1440})}},
    {"LeadingEmptyParagraphs", {Para({}), Para({}), Para({{"after two empty", kMarked}})}},
    {"TabsAndLineBreaks",
     {Para({{"a\tb\tc", kPlain}}, RichAlign::kLeft, 0, {1440, 2880}),
      Para({{"one\u2028two", kSerif}, {" end", kPlain}}, RichAlign::kLeft, 0, {1440, 2880}),
      Para({{"x\ty", kPlain}}, RichAlign::kLeft, 0, {720})}},
    {"NamedFonts", {Para({{"named sans ", kSansNamed}, {"serif ", kSerif}, {"default", kPlain}})}},
    // Text that makes blocks of its own: each separator one place, and a
    // "\r\n" one separator for two characters, but not across two inserts.
    {"SeparatorsInsideRuns",
     {Para({{"a\rb", kPlain}, {"c\u2029d", kBold}, {"e\nf", kBig}}, RichAlign::kCenter), Para({{"g", kPlain}})}},
    {"CrLfInsideRuns",
     {Para({{"a\r\nb", kPlain}, {"c\r", kBold}, {"\nd", kPlain}, {"e\r", kBold}, {"\nf", kBold}}),
      Para({{"g", kMarked}}, RichAlign::kRight)}},
    {"JustifiedWraps",
     {Para({{"Justified text long enough to wrap onto a second line of the narrow page, ", kPlain},
            {"with a bold tail that wraps as well.", kBold}},
           RichAlign::kJustify, 360)}},
};

class FillCases : public RichTextFill, public ::testing::WithParamInterface<std::tuple<FillCase, bool>> {
 protected:
  // The case's document and base font, with the reference fill of it in `want`.
  std::pair<RichDocument, QFont> Reference(QTextDocument& want) const {
    const auto& [c, boldBase] = GetParam();
    RichDocument doc;
    doc.paragraphs = c.paragraphs;
    const QFont base = boldBase ? BoldItalicBase() : PlainBase();
    ReferenceFill(want, doc, base);
    return {std::move(doc), base};
  }
};

TEST_P(FillCases, MatchesTheOneInsertPerRunFill) {
  QTextDocument want, got;
  const auto [doc, base] = Reference(want);
  FillTextDocument(got, doc, base);
  EXPECT_EQ(got.toRawText().toStdString(), want.toRawText().toStdString());
  EXPECT_EQ(Contents(got), Contents(want));
  EXPECT_EQ(got.blockCount(), want.blockCount());
  EXPECT_TRUE(Render(got) == Render(want)) << "laid-out pixels differ";
  EXPECT_TRUE(got.isUndoRedoEnabled());
  EXPECT_FALSE(got.isUndoAvailable()) << "the fill is not an edit to undo";
}

INSTANTIATE_TEST_SUITE_P(Documents, FillCases, ::testing::Combine(::testing::ValuesIn(kFillCases), ::testing::Bool()),
                         [](const auto& info) {
                           return std::string(std::get<0>(info.param).name) +
                                  (std::get<1>(info.param) ? "_BoldItalicBase" : "_PlainBase");
                         });

// Adds the paragraphs to a stream on a thread of its own while the
// document fills from it, as the object hands a file being read; pausing
// now and then, so that the fill takes them in several batches.
void FillFromStream(QTextDocument& target, const RichDocument& doc, const QFont& base, const std::string& error = {}) {
  RichDocumentStream stream;
  std::jthread reader([&] {
    for (size_t i = 0; i < doc.paragraphs.size(); ++i) {
      if (i % 200 == 199) std::this_thread::sleep_for(std::chrono::milliseconds(20));
      stream.Add(doc.paragraphs[i]);
    }
    stream.Finish(error);
  });
  FillTextDocument(target, stream, base);
}

TEST_P(FillCases, FromAStreamMatchesTheOneInsertPerRunFill) {
  QTextDocument want, got;
  const auto [doc, base] = Reference(want);
  FillFromStream(got, doc, base);
  EXPECT_EQ(Contents(got), Contents(want));
  EXPECT_TRUE(Render(got) == Render(want)) << "laid-out pixels differ";
  EXPECT_TRUE(got.isUndoRedoEnabled());
  EXPECT_FALSE(got.isUndoAvailable());
}

// Enough paragraphs for several batches: block formats that go on across a
// batch's end, empty paragraphs, and a "\r\n" that makes one batch go in
// run by run between batches that do not.
TEST_F(RichTextFill, ManyBatchesFromAStream) {
  RichDocument doc;
  const RichCharFormat formats[] = {kPlain, kBold, kBig, kMarked, kSerif};
  for (int i = 0; i < 900; ++i) {
    const RichAlign align = (i / 7) % 2 ? RichAlign::kCenter : RichAlign::kLeft;
    std::vector<RichRun> runs;
    if (i % 11 != 5)
      for (int r = 0; r < i % 4 + 1; ++r) runs.push_back({"p" + std::to_string(i) + " r" + std::to_string(r), formats[(i + r) % 5]});
    if (i == 300) runs.push_back({"one\r\ntwo", kBold});
    doc.paragraphs.push_back(Para(std::move(runs), align, (i / 13) % 3 * 360));
  }
  QTextDocument want, got;
  ReferenceFill(want, doc, PlainBase());
  FillFromStream(got, doc, PlainBase());
  EXPECT_EQ(got.toRawText().toStdString(), want.toRawText().toStdString());
  EXPECT_EQ(Contents(got), Contents(want));
}

// A reader that fails leaves the document empty, whatever it added first.
TEST_F(RichTextFill, FailedStreamLeavesTheDocumentEmpty) {
  RichDocument doc;
  for (int i = 0; i < 600; ++i) doc.paragraphs.push_back(Para({{"text", kBold}}, RichAlign::kRight));
  QTextDocument want, got;
  ReferenceFill(want, RichDocument(), PlainBase());
  FillFromStream(got, doc, PlainBase(), "the file could not be read");
  EXPECT_EQ(got.toRawText().toStdString(), "");
  EXPECT_EQ(Contents(got), Contents(want));
  EXPECT_TRUE(Render(got) == Render(want));
}

// A document filled twice shows only the second fill.
TEST_F(RichTextFill, RefillReplacesTheDocument) {
  RichDocument first, second;
  first.paragraphs = {Para({{"old text", kBig}}, RichAlign::kCenter), Para({{"more", kBold}})};
  second.paragraphs = {Para({{"new", kMarked}})};
  QTextDocument want, got;
  FillTextDocument(got, first, PlainBase());
  FillTextDocument(got, second, PlainBase());
  ReferenceFill(want, second, PlainBase());
  EXPECT_EQ(Contents(got), Contents(want));
  EXPECT_TRUE(Render(got) == Render(want));
}

}  // namespace
}  // namespace kv
