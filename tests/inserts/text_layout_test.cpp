// The text layout against QFontMetrics (line breaks, wrapping, alignment,
// tabs, the "&" prefix, ellipsis, leading), the font matching table, and the
// drawn text checked approximately: ink only inside the rectangle, only in
// the text and shadow colours, starting where the layout says. A golden set
// of samples is compared exactly; KV_UPDATE_GOLDEN=1 rewrites it for review.
#include <gtest/gtest.h>

#include <QFontInfo>
#include <QFontMetrics>
#include <QImage>
#include <QPainter>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <memory>

#include "inserts/text.h"
#include "inserts/text_layout.h"
#include "platform/symbol_text.h"
#include "stage/qt_painter.h"

namespace kv {
namespace {

namespace dt = draw_text;

class TextTest : public ::testing::Test {
 protected:
  void SetUp() override { EnsureGuiApplication(); }
  static QFont Arial(int pixels) {
    CKVFont f;
    f.useDefault = 0;
    f.height = -pixels;
    f.weight = 400;
    f.faceName = "Arial";
    return MatchFont(f);
  }
};

std::vector<QString> Lines(const TextLayout& l) {
  std::vector<QString> out;
  for (const TextLine& line : l.lines) out.push_back(line.text);
  return out;
}

// ---------------------------------------------------------------- fonts

struct FaceCase {
  const char* face;
  uint8_t pitchAndFamily;
  const char* family;
};

class FontMatching : public TextTest, public ::testing::WithParamInterface<FaceCase> {};

TEST_P(FontMatching, PicksTheInstalledStandIn) {
  const FaceCase& c = GetParam();
  EXPECT_EQ(MatchFace(c.face, c.pitchAndFamily), QString(c.family));
  CKVFont f;
  f.useDefault = 0;
  f.height = -20;
  f.faceName = c.face;
  f.pitchAndFamily = c.pitchAndFamily;
  EXPECT_EQ(QFontInfo(MatchFont(f)).family(), QString(c.family)) << "the face is not installed";
}

INSTANTIATE_TEST_SUITE_P(Faces, FontMatching,
                         ::testing::Values(FaceCase{"Arial", 0, "Liberation Sans"},
                                           FaceCase{"arial", 0, "Liberation Sans"},
                                           FaceCase{"MS Sans Serif", 0, "Liberation Sans"},
                                           FaceCase{"Times New Roman", 0, "Liberation Serif"},
                                           FaceCase{"Courier New", 0, "Liberation Mono"},
                                           FaceCase{"Unknown Face", 0x01, "Liberation Mono"},   // fixed pitch
                                           FaceCase{"Unknown Face", 0x12, "Liberation Serif"},  // roman
                                           FaceCase{"Unknown Face", 0x32, "Liberation Mono"},   // modern
                                           FaceCase{"Unknown Face", 0x22, "Liberation Sans"},   // swiss
                                           FaceCase{"", 0, "Liberation Sans"}));

TEST_F(TextTest, HeightIsTheEmWhenNegativeAndTheCellWhenPositive) {
  CKVFont f;
  f.useDefault = 0;
  f.faceName = "Arial";
  for (int h : {8, 13, 20, 48}) {
    f.height = -h;
    EXPECT_EQ(MatchFont(f).pixelSize(), h);
    f.height = h;
    const QFontMetrics m(MatchFont(f));
    EXPECT_NEAR(m.ascent() + m.descent(), h, 1) << h;
  }
}

TEST_F(TextTest, WeightItalicUnderlineStrikeOutAndWidthAreHonoured) {
  CKVFont f;
  f.useDefault = 0;
  f.height = -20;
  f.faceName = "Arial";
  f.weight = 700;
  f.italic = f.underline = f.strikeOut = 1;
  const QFont q = MatchFont(f);
  EXPECT_TRUE(QFontInfo(q).bold());
  EXPECT_TRUE(QFontInfo(q).italic());
  EXPECT_TRUE(q.underline());
  EXPECT_TRUE(q.strikeOut());
  f.weight = 400;
  f.italic = 0;
  const int natural = QFontMetrics(MatchFont(f)).horizontalAdvance("MMMMMMMMMM");
  f.width = QFontMetrics(MatchFont(f)).averageCharWidth() * 2;
  EXPECT_GT(QFontMetrics(MatchFont(f)).horizontalAdvance("MMMMMMMMMM"), natural * 3 / 2);
}

// ---------------------------------------------------------------- layout rules

TEST_F(TextTest, BreaksAtCrLfAndStacksLinesByTheCellHeight) {
  const QFont font = Arial(14);
  const QFontMetrics m(font);
  const TextLayout l = LayOutText("one\r\ntwo\nthree\rfour", font, {10, 20, 200, 200}, dt::kNoPrefix);
  EXPECT_EQ(Lines(l), (std::vector<QString>{"one", "two", "three", "four"}));
  for (size_t i = 0; i < l.lines.size(); ++i) {
    EXPECT_EQ(l.lines[i].top, 20 + int(i) * (m.ascent() + m.descent()));
    EXPECT_EQ(l.lines[i].x, 10);
  }
}

TEST_F(TextTest, WordBreakWrapsAtSpacesAndDropsThemAtTheBreak) {
  const QFont font = Arial(14);
  const QFontMetrics m(font);
  const int width = m.horizontalAdvance("alpha beta");
  const TextLayout l = LayOutText("alpha beta gamma", font, {0, 0, width, 100}, dt::kWordBreak);
  EXPECT_EQ(Lines(l), (std::vector<QString>{"alpha beta", "gamma"}));
  // Narrower than a word: the word stays whole on its own line.
  const TextLayout narrow = LayOutText("alpha beta", font, {0, 0, 5, 100}, dt::kWordBreak);
  EXPECT_EQ(Lines(narrow), (std::vector<QString>{"alpha", "beta"}));
  // A paragraph with a tab is measured from its line's start: the tab takes
  // the line to the next stop. A tab does not break a word.
  const int stop = 8 * m.averageCharWidth();
  const auto tabbed = [&](int width) {
    return Lines(LayOutText("a b\tc", font, {0, 0, width, 100}, dt::kWordBreak | dt::kExpandTabs));
  };
  EXPECT_EQ(tabbed(stop + m.horizontalAdvance("c")), (std::vector<QString>{"a b\tc"}));
  EXPECT_EQ(tabbed(stop + m.horizontalAdvance("c") - 1), (std::vector<QString>{"a", "b\tc"}));
  // As an edit control does, a long word is broken where the line ends.
  const TextLayout broken =
      LayOutText("abcdefgh", font, {0, 0, m.horizontalAdvance("abcd"), 100}, dt::kWordBreak | dt::kEditControl);
  EXPECT_EQ(Lines(broken), (std::vector<QString>{"abcd", "efgh"}));
}

// Greedy wrapping against whole-line measures: every line fits unless it is
// one word, and the next line's first word would not have fitted after it.
TEST_F(TextTest, WordBreakIsGreedyByTheWholeLinesWidth) {
  const char* paragraph =
      "Wrapping places each word on the line while the line with it still fits: "
      "Mm iii WWW, a b c; Waving flags fly over the quay (yes) and 1234567890 fits too: "
      "the office's first affluent fjord (AV To Th) --.";
  const struct {
    const char* face;
    int pixels;
    uint32_t weight;
    uint8_t italic;
  } fonts[] = {{"Arial", 11, 400, 0},           {"Arial", 17, 700, 0},       {"Times New Roman", 14, 400, 0},
               {"Times New Roman", 23, 700, 1}, {"Courier New", 13, 400, 0}, {"Courier New", 22, 700, 1}};
  for (const auto& f : fonts) {
    CKVFont k;
    k.useDefault = 0;
    k.height = -f.pixels;
    k.weight = static_cast<int32_t>(f.weight);
    k.italic = f.italic;
    k.faceName = f.face;
    const QFont font = MatchFont(k);
    const QFontMetrics m(font);
    for (int width : {40, 97, 150, 233, 301, 417}) {
      const TextLayout l = LayOutText(paragraph, font, {0, 0, width, 1000}, dt::kWordBreak | dt::kNoPrefix);
      QStringList words;
      for (size_t i = 0; i < l.lines.size(); ++i) {
        const QString& text = l.lines[i].text;
        const QStringList lineWords = text.split(u' ', Qt::SkipEmptyParts);
        words += lineWords;
        EXPECT_EQ(l.lines[i].width, m.horizontalAdvance(text)) << f.face << " " << width;
        if (lineWords.size() > 1) {
          EXPECT_LE(m.horizontalAdvance(text), width) << f.face << " " << width << " " << i;
        }
        if (i + 1 < l.lines.size()) {
          const QString next = l.lines[i + 1].text.split(u' ', Qt::SkipEmptyParts).value(0);
          EXPECT_GT(m.horizontalAdvance(text + u' ' + next), width) << f.face << " " << width << " " << i;
        }
      }
      EXPECT_EQ(words.join(u' '), QString(paragraph).simplified()) << f.face << " " << width;
    }
  }
}

TEST_F(TextTest, AlignsEachLineAndCentresSingleLinesVertically) {
  const QFont font = Arial(14);
  const QFontMetrics m(font);
  const int h = m.ascent() + m.descent();
  const Rect box{10, 10, 210, 110};
  struct Case {
    uint32_t flags;
    int x;  // of "ab"
    int top;
  } cases[] = {
      {0, 10, 10},
      {dt::kCenter, 10 + (200 - m.horizontalAdvance("ab")) / 2, 10},
      {dt::kRight, 210 - m.horizontalAdvance("ab"), 10},
      {dt::kSingleLine | dt::kVCenter, 10, (10 + 110 - h) / 2},
      {dt::kSingleLine | dt::kBottom, 10, 110 - h},
      {dt::kVCenter, 10, 10},  // only a single line is centred
  };
  for (const Case& c : cases) {
    const TextLayout l = LayOutText("ab", font, box, c.flags);
    ASSERT_EQ(l.lines.size(), 1u);
    EXPECT_EQ(l.lines[0].x, c.x) << c.flags;
    EXPECT_EQ(l.lines[0].top, c.top) << c.flags;
  }
  // A line wider than its rectangle, centred: its place in the rectangle is
  // the same wherever the rectangle lies, off the stage's top left too.
  const int wide = m.horizontalAdvance("abcdefgh");
  for (int narrow : {wide - 5, wide - 6}) {
    const int placeAt = [&] {
      const TextLayout l = LayOutText("abcdefgh", font, {7, 7, 7 + narrow, 7 + h - 3}, dt::kCenter | dt::kSingleLine | dt::kVCenter);
      return (l.lines[0].x - 7) * 1000 + (l.lines[0].top - 7);
    }();
    for (int corner : {-1001, -1000, -3, 0, 40}) {
      const TextLayout l =
          LayOutText("abcdefgh", font, {corner, corner, corner + narrow, corner + h - 3}, dt::kCenter | dt::kSingleLine | dt::kVCenter);
      EXPECT_EQ((l.lines[0].x - corner) * 1000 + (l.lines[0].top - corner), placeAt) << narrow << " at " << corner;
    }
  }
  // Per line: the shorter line is centred on its own.
  const TextLayout two = LayOutText("a\nabcdef", font, box, dt::kCenter);
  EXPECT_EQ(two.lines[0].x, 10 + (200 - m.horizontalAdvance("a")) / 2);
  EXPECT_EQ(two.lines[1].x, 10 + (200 - m.horizontalAdvance("abcdef")) / 2);
}

TEST_F(TextTest, PrefixRule) {
  const QFont font = Arial(14);
  struct Case {
    const char* text;
    uint32_t flags;
    const char* shown;
    std::vector<bool> underlined;
  } cases[] = {
      {"&File", 0, "File", {true, false, false, false}},
      {"a&&b", 0, "a&b", {false, false, false}},
      {"ab&", 0, "ab", {false, false}},
      {"&File", dt::kNoPrefix, "&File", {false, false, false, false, false}},
      {"&File", dt::kHidePrefix, "File", {false, false, false, false}},
  };
  for (const Case& c : cases) {
    const TextLayout l = LayOutText(c.text, font, {0, 0, 200, 50}, c.flags);
    ASSERT_EQ(l.lines.size(), 1u);
    EXPECT_EQ(l.lines[0].text, QString(c.shown)) << c.text;
    EXPECT_EQ(l.lines[0].underlined, c.underlined) << c.text;
  }
}

TEST_F(TextTest, TabsExpandToEightAverageCharacters) {
  const QFont font = Arial(14);
  const QFontMetrics m(font);
  const TextLayout l = LayOutText("a\tb", font, {0, 0, 400, 50}, dt::kExpandTabs);
  EXPECT_EQ(l.tabWidth, 8 * m.averageCharWidth());
  EXPECT_EQ(AdvanceTo(l, m, l.lines[0].text, 2), 8 * m.averageCharWidth());
  // A tab stop in the high byte: four characters.
  const TextLayout four = LayOutText("a\tb", font, {0, 0, 400, 50}, dt::kExpandTabs | dt::kTabStop | (4 << 8));
  EXPECT_EQ(four.tabWidth, 4 * m.averageCharWidth());
}

TEST_F(TextTest, TabOnAStopAdvancesAWholeStop) {
  const QFont font = Arial(14);
  const QFontMetrics m(font);
  // Stops as wide as "abc", so that "abc" ends exactly on the first one.
  TextLayout l;
  const int stop = m.horizontalAdvance("abc");
  l.tabWidth = stop;
  const struct {
    const char* line;
    int end;
    int x;
  } cases[] = {
      {"\tb", 1, stop},          // at 0, the line's start is a stop
      {"\t\tb", 2, 2 * stop},    // the second tab starts on the first stop
      {"abc\td", 4, 2 * stop},   // the text ends on the first stop
      {"ab\td", 3, stop},        // short of a stop: to that stop
      {"abc\t\td", 5, 3 * stop},
  };
  for (const auto& c : cases) EXPECT_EQ(AdvanceTo(l, m, QString(c.line), c.end), c.x) << c.line;
}

TEST_F(TextTest, EndEllipsisCutsToTheWidth) {
  const QFont font = Arial(14);
  const QFontMetrics m(font);
  const int width = m.horizontalAdvance("abcdefgh");
  const TextLayout l = LayOutText("abcdefghijklmnop", font, {0, 0, width, 50}, dt::kSingleLine | dt::kEndEllipsis);
  ASSERT_EQ(l.lines.size(), 1u);
  EXPECT_TRUE(l.lines[0].text.endsWith("..."));
  EXPECT_LE(l.lines[0].width, width);
  EXPECT_TRUE(QString("abcdefghijklmnop").startsWith(l.lines[0].text.chopped(3)));
  const TextLayout fits = LayOutText("abc", font, {0, 0, width, 50}, dt::kSingleLine | dt::kEndEllipsis);
  EXPECT_EQ(fits.lines[0].text, QString("abc"));
}

TEST_F(TextTest, ExternalLeadingAddsTheFontsLeading) {
  const QFont font = Arial(100);
  const QFontMetrics m(font);
  ASSERT_GT(m.leading(), 0);
  EXPECT_EQ(LayOutText("a\nb", font, {0, 0, 400, 400}, 0).lineHeight, m.ascent() + m.descent());
  EXPECT_EQ(LayOutText("a\nb", font, {0, 0, 400, 400}, dt::kExternalLeading).lineHeight,
            m.ascent() + m.descent() + m.leading());
}

TEST_F(TextTest, MeasuringAndModifyingFlagsAreMaskedOut) {
  EXPECT_EQ(DrawingFlags(0x0A10 | dt::kCalcRect | dt::kModifyString), 0x0A10u);
  // With a tab stop the second byte is the tab length and stays.
  EXPECT_EQ(DrawingFlags(dt::kTabStop | 0x0400 | dt::kModifyString), dt::kTabStop | 0x0400u);
}

TEST_F(TextTest, Windows1252IsConvertedFirst) {
  const TextLayout l = LayOutText("\x80 \xE9", Arial(14), {0, 0, 200, 50}, 0);
  EXPECT_EQ(l.lines[0].text, QString::fromUtf8("\u20AC \u00E9"));
}

// A font of the symbol character set holds the Symbol font's code points:
// Greek letters, the radical and the bracket pieces, drawn from the stand-in
// that has them; a plain font keeps Windows-1252.
TEST_F(TextTest, SymbolCharsetTextIsTheSymbolFontsCharacters) {
  CKVFont symbol;
  symbol.useDefault = 0;
  symbol.height = -16;
  symbol.faceName = "Symbol";
  symbol.charSet = kSymbolCharset;
  const QFont font = MatchFont(symbol);
  EXPECT_TRUE(QFontInfo(font).family().startsWith(QStringLiteral("Standard Symbols PS"))) << QFontInfo(font).family().toStdString();
  const TextLayout l = LayOutText("abgp \xD6\xE6\xE8", font, {0, 0, 200, 50}, 0, DecoderOf(symbol));
  ASSERT_EQ(l.lines.size(), 1u);
  const QString expected = QString::fromUtf8("\u03B1\u03B2\u03B3\u03C0 \u221A\uF8EB\uF8ED");
  EXPECT_EQ(l.lines[0].text, expected);
  const QFontMetrics metrics(font);
  for (QChar c : expected) EXPECT_TRUE(metrics.inFont(c)) << "no glyph for U+" << std::hex << int(c.unicode());
  CKVFont ansi = symbol;
  ansi.charSet = 0;
  ansi.faceName = "Arial";
  EXPECT_EQ(LayOutText("abgp", MatchFont(ansi), {0, 0, 200, 50}, 0, DecoderOf(ansi)).lines[0].text, QStringLiteral("abgp"));
}

// ---------------------------------------------------------------- drawn text

struct Ink {
  QImage image;
  QRgb back = 0xFF204060;
};

// Paints `text` with a CText over `area` on a 160 x 100 picture.
Ink PaintText(CText& text, const Rect& area) {
  Ink ink{QImage(160, 100, QImage::Format_RGB32)};
  ink.image.fill(ink.back);
  StageSprite sprite;
  sprite.Setup(area, {}, 0, false, {}, 0, 0);
  QPainter p(&ink.image);
  p.setRenderHint(QPainter::Antialiasing, false);
  p.setRenderHint(QPainter::TextAntialiasing, false);
  p.setClipRect(ToQRect(area));  // the sprite's clip
  text.PaintText(p, sprite, area);
  return ink;
}

std::unique_ptr<CText> MakeText(const std::string& shown, uint32_t flags, int shadow) {
  auto made = std::make_unique<CText>();
  CText& t = *made;
  t.Reset();
  t.penColor = 0x0000FF;  // red
  t.shadowColor = 0x00FF00;
  t.shadowX = t.shadowY = shadow;
  t.drawFlags = flags;
  t.font.useDefault = 0;
  t.font.height = -16;
  t.font.faceName = "Arial";
  t.SetShownText(shown);
  return made;
}

TEST_F(TextTest, InkStaysInTheRectangleInTheTextAndShadowColours) {
  struct Case {
    const char* text;
    uint32_t flags;
    int shadow;
  } cases[] = {
      {"Hello world, wrapped", 0x0A10, 0},
      {"Centred\ntwo lines", dt::kCenter | dt::kNoPrefix, 2},
      {"Right", dt::kRight | dt::kSingleLine | dt::kVCenter, 1},
      {"A text far too long for its box", dt::kSingleLine, 0},
  };
  const Rect area{20, 10, 120, 70};
  for (const Case& c : cases) {
    auto made = MakeText(c.text, c.flags, c.shadow);
    CText& t = *made;
    const Ink ink = PaintText(t, area);
    const TextLayout layout = t.Layout(area);
    const QFont font = MatchFont(t.font);
    const QFontMetrics m(font);
    int inked = 0;
    for (int y = 0; y < ink.image.height(); ++y)
      for (int x = 0; x < ink.image.width(); ++x) {
        const QRgb px = ink.image.pixel(x, y) | 0xFF000000;
        if (px == ink.back) continue;
        ++inked;
        EXPECT_TRUE(area.Contains(x, y)) << c.text << " ink outside at " << x << "," << y;
        EXPECT_TRUE(px == 0xFFFF0000 || (c.shadow && px == 0xFF00FF00)) << c.text << std::hex << " colour " << px;
      }
    EXPECT_GT(inked, 20) << c.text;
    // Each line's ink (red) lies within QFontMetrics' box of the line, and
    // begins within a few pixels of the line's start.
    for (const TextLine& line : layout.lines) {
      QRect box = m.boundingRect(line.text).translated(line.x, line.top + layout.ascent).adjusted(-1, -1, 1, 1);
      box = box.intersected(ToQRect(area));
      int firstX = 1 << 30;
      for (int y = line.top; y < line.top + layout.lineHeight && y < 100; ++y)
        for (int x = 0; x < 160; ++x)
          if ((ink.image.pixel(x, y) | 0xFF000000) == 0xFFFF0000) {
            EXPECT_TRUE(box.contains(x, y)) << c.text << " line " << line.text.toStdString() << " at " << x << "," << y;
            firstX = std::min(firstX, x);
          }
      if (firstX != (1 << 30) && line.x >= area.left) {
        EXPECT_NEAR(firstX, line.x, 3) << c.text;
      }
    }
  }
}

TEST_F(TextTest, TextColourIsThePenColourAndAKeyedPenHidesIt) {
  auto made = MakeText("Pen", 0, 0);
  CText& t = *made;
  t.penColor = 0x00FF00;  // green
  Ink ink = PaintText(t, {0, 0, 100, 40});
  bool green = false;
  for (int y = 0; y < 40; ++y)
    for (int x = 0; x < 100; ++x) green |= (ink.image.pixel(x, y) | 0xFF000000) == 0xFF00FF00;
  EXPECT_TRUE(green);
}

TEST_F(TextTest, EscapementTurnsTheTextAboutTheRectanglesCorner) {
  // 45 degrees clockwise (3150 tenths counter-clockwise): a line drawn from
  // the top left corner runs down to the right; flat, it stays in its row.
  struct Case {
    int32_t escapement;
    bool descends;
  } cases[] = {{0, false}, {3150, true}};
  for (const Case& c : cases) {
    auto made = MakeText("MMMMMMMMMM", dt::kNoPrefix | dt::kSingleLine, 0);
    made->font.escapement = c.escapement;
    const Ink ink = PaintText(*made, {0, 0, 160, 100});
    // The highest red row in a band near the start and one further along.
    auto top = [&](int from, int to) {
      for (int y = 0; y < 100; ++y)
        for (int x = from; x < to; ++x)
          if ((ink.image.pixel(x, y) | 0xFF000000) == 0xFFFF0000) return y;
      return -1;
    };
    const int near = top(10, 30), far = top(60, 80);
    ASSERT_GE(near, 0) << c.escapement;
    ASSERT_GE(far, 0) << c.escapement;
    if (c.descends)
      EXPECT_GT(far, near + 30) << c.escapement;
    else
      EXPECT_NEAR(far, near, 3) << c.escapement;
  }
}

TEST_F(TextTest, AStretchedTextScalesItsFontToTheShownHeight) {
  auto made = MakeText("ab", dt::kNoPrefix, 0);
  made->rect = {0, 0, 100, 40};
  const int stored = made->Layout({0, 0, 100, 40}).lineHeight;
  const int twice = made->Layout({0, 0, 200, 80}).lineHeight;
  const int half = made->Layout({0, 0, 50, 20}).lineHeight;
  EXPECT_NEAR(twice, 2 * stored, 2);
  EXPECT_NEAR(half, stored / 2, 2);
  // The same height at another width keeps the font.
  EXPECT_EQ(made->Layout({0, 0, 300, 40}).lineHeight, stored);
}

TEST_F(TextTest, NaturalSizeIsTheLaidOutText) {
  auto made = MakeText("ab\nabcd", dt::kNoPrefix, 0);
  CText& t = *made;
  t.rect = {0, 0, 300, 300};
  int32_t w = 0, h = 0;
  ASSERT_TRUE(t.GetNaturalSize(w, h));
  const QFontMetrics m(MatchFont(t.font));
  EXPECT_EQ(w, m.horizontalAdvance("abcd"));
  EXPECT_EQ(h, 2 * (m.ascent() + m.descent()));
}

TEST_F(TextTest, DescriptionQuotesTheTextUpToAControlCharacter) {
  CText t;
  t.Reset();
  t.text = "Hello";
  EXPECT_EQ(t.GetDescription(), "\"Hello\"");
  t.text = "Two\r\nlines";
  EXPECT_EQ(t.GetDescription(), "\"Two ...\"");
}

TEST_F(TextTest, ATextFileIsReadUpToOneMebibyte) {
  const std::string path = ::testing::TempDir() + "/kv_text_file.txt";
  {
    std::ofstream out(path, std::ios::binary);
    out << std::string(CText::kMaxFileText + 10, 'x');
  }
  EXPECT_EQ(ReadFileStart(path, CText::kMaxFileText).size(), CText::kMaxFileText);
  EXPECT_EQ(ReadFileStart(path, 5), "xxxxx");
  EXPECT_EQ(ReadFileStart(path + ".missing", CText::kMaxFileText), "");
  std::remove(path.c_str());
}

// ---------------------------------------------------------------- golden samples

struct Sample {
  const char* face;
  int height;
  int weight;
  uint32_t flags;
  const char* text;
};

QImage RenderSamples() {
  const Sample samples[] = {
      {"Arial", -12, 400, 0x0A10, "Arial 12 px, word break: the quick brown fox jumps over the lazy dog, twice: the quick brown fox jumps over the lazy dog."},
      {"Times New Roman", -16, 400, dt::kCenter | dt::kWordBreak, "Times 16 centred\nsecond line"},
      {"Courier New", -13, 700, dt::kRight | dt::kExpandTabs, "Courier bold\tright\n&Prefix &&"},
      {"Arial", 20, 400, dt::kSingleLine | dt::kVCenter | dt::kCenter, "Cell 20, centred"},
      {"Verdana", -16, 400, dt::kSingleLine | dt::kEndEllipsis, "An ellipsis ends this rather long single line of text that goes on past the edge"},
      {"Times New Roman", -14, 400, dt::kWordBreak, "Caf\xE9 \x80 5 \x96 na\xEFve \xA9 1252"},
  };
  QImage image(320, 6 * 40, QImage::Format_RGB32);
  image.fill(0xFFFFFFFF);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing, false);
  p.setRenderHint(QPainter::TextAntialiasing, false);
  int top = 0;
  for (const Sample& s : samples) {
    CText t;
    t.Reset();
    t.penColor = 0;
    t.drawFlags = s.flags;
    t.font.useDefault = 0;
    t.font.height = s.height;
    t.font.weight = s.weight;
    t.font.faceName = s.face;
    t.SetShownText(s.text);
    const Rect area{4, top + 2, 316, top + 38};
    p.fillRect(ToQRect(area), QColor(0xF0, 0xF0, 0xE0));
    StageSprite sprite;
    sprite.Setup(area, {}, 0, false, {}, 0, 0);
    p.save();
    p.setClipRect(ToQRect(area));
    t.PaintText(p, sprite, area);
    p.restore();
    top += 40;
  }
  return image;
}

TEST_F(TextTest, GoldenSamples) {
  const QString path = QString(KV_SOURCE_DIR) + "/tests/inserts/golden/text_samples.png";
  const QImage got = RenderSamples();
  if (std::getenv("KV_UPDATE_GOLDEN")) {
    ASSERT_TRUE(got.save(path));
    GTEST_SKIP() << "rewrote " << path.toStdString();
  }
  QImage want(path);
  ASSERT_FALSE(want.isNull()) << "missing " << path.toStdString() << " (KV_UPDATE_GOLDEN=1 writes it)";
  want = want.convertToFormat(QImage::Format_RGB32);
  ASSERT_EQ(want.size(), got.size());
  int differing = 0;
  for (int y = 0; y < got.height(); ++y)
    for (int x = 0; x < got.width(); ++x) differing += (got.pixel(x, y) | 0xFF000000) != (want.pixel(x, y) | 0xFF000000);
  EXPECT_EQ(differing, 0) << "the text samples changed; look at them and rewrite with KV_UPDATE_GOLDEN=1";
}

}  // namespace
}  // namespace kv
