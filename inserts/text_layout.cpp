#include "inserts/text_layout.h"

#include <QFontMetrics>
#include <QFontMetricsF>
#include <QTextLayout>
#include <algorithm>
#include <cmath>
#include <optional>

#include "platform/symbol_text.h"
#include "platform/text.h"
#include "stage/qt_painter.h"

namespace kv {

uint32_t DrawingFlags(uint32_t stored) {
  // With a tab stop the second byte is the tab length, not flags.
  if (stored & draw_text::kTabStop) return stored & ~draw_text::kModifyString;
  return stored & ~(draw_text::kCalcRect | draw_text::kModifyString);
}

Rect TextLayout::Bounds() const {
  Rect r{0, 0, 0, 0};
  bool any = false;
  for (const TextLine& line : lines) {
    const Rect b{line.x, line.top, line.x + line.width, line.top + lineHeight};
    r = any ? Rect{std::min(r.left, b.left), std::min(r.top, b.top), std::max(r.right, b.right),
                   std::max(r.bottom, b.bottom)}
            : b;
    any = true;
  }
  return r;
}

namespace {

// A character of the text after the "&" prefix rule.
struct Cell {
  QChar c;
  bool underlined = false;
};
using Cells = std::vector<Cell>;

Cells ToCells(std::string_view text, uint32_t flags, ByteDecoder decode) {
  Cells cells;
  cells.reserve(text.size());
  const bool prefix = !(flags & draw_text::kNoPrefix);
  const bool showPrefix = !(flags & draw_text::kHidePrefix);
  for (size_t i = 0; i < text.size(); ++i) {
    const QChar c(static_cast<char16_t>(decode(static_cast<uint8_t>(text[i]))));
    if (prefix && c == u'&') {
      // "&&" is one "&"; "&x" underlines x; a closing "&" is dropped.
      if (i + 1 == text.size()) break;
      ++i;
      const QChar next(static_cast<char16_t>(decode(static_cast<uint8_t>(text[i]))));
      cells.push_back({next, next != u'&' && showPrefix});
      continue;
    }
    cells.push_back({c, false});
  }
  return cells;
}

TextLine ToLine(Cells::const_iterator begin, Cells::const_iterator end) {
  TextLine line;
  line.text.reserve(end - begin);
  for (auto it = begin; it != end; ++it) {
    line.text.append(it->c);
    line.underlined.push_back(it->underlined);
  }
  return line;
}

class Measure {
 public:
  Measure(const TextLayout& layout, const QFontMetrics& metrics) : layout_(layout), metrics_(metrics) {}
  int Width(const QString& s) const { return AdvanceTo(layout_, metrics_, s, static_cast<int>(s.size())); }

 private:
  const TextLayout& layout_;
  const QFontMetrics& metrics_;
};

bool IsSpace(QChar c) { return c == u' '; }

// Half of a centring sum, rounded down: a line's place in its rectangle is
// then the same wherever the rectangle lies, so a layout moves with it.
int Half(int64_t sum) { return static_cast<int>(sum >= 0 ? sum / 2 : -((1 - sum) / 2)); }

// The advance from a paragraph's start to each of its characters, from one
// shaping of the whole paragraph.
class Advances {
 public:
  Advances(const QString& text, const QFont& font) : layout_(text, font) {
    QTextOption option;
    option.setWrapMode(QTextOption::NoWrap);
    layout_.setTextOption(option);
    layout_.beginLayout();
    line_ = layout_.createLine();
    layout_.endLayout();
  }
  int At(size_t pos) const { return static_cast<int>(std::lround(line_.cursorToX(static_cast<int>(pos)))); }

 private:
  QTextLayout layout_;
  QTextLine line_;
};

// Greedy word wrap of one paragraph into lines no wider than `maxWidth`.
void WrapParagraph(const Cells& para, const Measure& m, const QFont& font, int maxWidth, bool breakWords,
                   std::vector<TextLine>& out) {
  const QString text = ToLine(para.begin(), para.end()).text;
  // Kerning is off and a break falls between a space and a word, so the
  // advance of a run is the difference of two positions from one shaping of
  // the paragraph, not a shaping of the line again with every word. A tab's
  // advance depends on where its line starts: such a paragraph is measured
  // a line at a time.
  std::optional<Advances> advances;
  if (!text.contains(u'\t')) advances.emplace(text, font);
  auto width = [&](size_t from, size_t to) {
    return advances ? advances->At(to) - advances->At(from)
                    : m.Width(text.mid(static_cast<qsizetype>(from), static_cast<qsizetype>(to - from)));
  };
  auto addLine = [&](size_t from, size_t to) { out.push_back(ToLine(para.begin() + from, para.begin() + to)); };
  // The line is [lineStart, lineEnd) with the spaces after it pending; the
  // first line keeps the paragraph's leading spaces.
  size_t lineStart = 0, lineEnd = 0;
  const size_t n = para.size();
  size_t i = 0;
  while (i < n) {
    size_t j = i;
    const bool space = IsSpace(para[i].c);
    while (j < n && IsSpace(para[j].c) == space) ++j;
    if (space) {
      i = j;
      continue;
    }
    if (lineEnd > lineStart && width(lineStart, j) > maxWidth) {
      // The spaces at a break belong to neither line.
      addLine(lineStart, lineEnd);
      lineStart = i;
    }
    if (breakWords) {
      // An edit control breaks a word that is wider than the line by itself.
      for (size_t k = i; k < j; ++k)
        if (k + 1 - lineStart > 1 && width(lineStart, k + 1) > maxWidth) {
          addLine(lineStart, k);
          lineStart = k;
        }
    }
    lineEnd = i = j;
  }
  addLine(lineStart, n);
}

void AddEllipsis(TextLine& line, const Measure& m, int maxWidth) {
  if (m.Width(line.text) <= maxWidth) return;
  const QString dots = QStringLiteral("...");
  while (!line.text.isEmpty() && m.Width(line.text + dots) > maxWidth) {
    line.text.chop(1);
    line.underlined.pop_back();
  }
  line.text += dots;
  line.underlined.insert(line.underlined.end(), 3, false);
}

}  // namespace

int AdvanceTo(const TextLayout& layout, const QFontMetrics& metrics, const QString& line, int end) {
  int x = 0, start = 0;
  for (int i = 0; i < end; ++i) {
    if (line[i] != u'\t') continue;
    x += metrics.horizontalAdvance(line.mid(start, i - start));
    x = layout.tabWidth > 0 ? (x / layout.tabWidth + 1) * layout.tabWidth : x + metrics.horizontalAdvance(u' ');
    start = i + 1;
  }
  return x + metrics.horizontalAdvance(line.mid(start, end - start));
}

TextLayout LayOutText(std::string_view text, const QFont& font, const Rect& box, uint32_t flagsIn,
                      ByteDecoder decode) {
  namespace dt = draw_text;
  uint32_t flags = DrawingFlags(flagsIn);
  const uint32_t tabBits = flags;
  // The tab length's byte sets none of the flags that share it.
  if (flags & dt::kTabStop) flags &= ~0xFF00u;
  TextLayout layout;
  const QFontMetrics metrics(font);
  layout.ascent = metrics.ascent();
  layout.lineHeight = metrics.ascent() + metrics.descent();
  const bool singleLine = flags & dt::kSingleLine;
  if ((flags & dt::kExternalLeading) && !singleLine) layout.lineHeight += std::max(0, metrics.leading());
  if (flags & dt::kExpandTabs) {
    const int chars = (flags & dt::kTabStop) ? static_cast<int>((tabBits >> 8) & 0xFF) : 8;
    layout.tabWidth = std::max(1, (chars ? chars : 8) * metrics.averageCharWidth());
  }
  layout.prefixOnly = (flags & dt::kPrefixOnly) && !(flags & dt::kNoPrefix);
  const Cells cells = ToCells(text, flags, decode);
  const Measure m(layout, metrics);
  const int maxWidth = box.Width();

  // Paragraphs end at CR, LF or CR LF; a single line keeps none of them.
  std::vector<Cells> paragraphs(1);
  for (size_t i = 0; i < cells.size(); ++i) {
    const QChar c = cells[i].c;
    if (c == u'\r' || c == u'\n') {
      if (singleLine) continue;
      if (c == u'\r' && i + 1 < cells.size() && cells[i + 1].c == u'\n') ++i;
      paragraphs.emplace_back();
      continue;
    }
    paragraphs.back().push_back(cells[i]);
  }
  for (const Cells& para : paragraphs) {
    if ((flags & dt::kWordBreak) && !singleLine)
      WrapParagraph(para, m, font, maxWidth, flags & dt::kEditControl, layout.lines);
    else
      layout.lines.push_back(ToLine(para.begin(), para.end()));
  }
  const bool ellipsis = flags & (dt::kEndEllipsis | dt::kWordEllipsis | dt::kPathEllipsis);
  int top = box.top;
  if (singleLine && (flags & dt::kVCenter))
    top = Half(int64_t(box.top) + box.bottom - layout.lineHeight);
  else if (singleLine && (flags & dt::kBottom))
    top = box.bottom - layout.lineHeight;
  for (TextLine& line : layout.lines) {
    if (ellipsis) AddEllipsis(line, m, maxWidth);
    line.width = m.Width(line.text);
    if (flags & dt::kCenter)
      line.x = Half(int64_t(box.left) + box.right - line.width);
    else if (flags & dt::kRight)
      line.x = box.right - line.width;
    else
      line.x = box.left;
    line.top = top;
    top += layout.lineHeight;
  }
  return layout;
}

void DrawLayout(QPainter& p, const TextLayout& layout, const QFont& font, const QColor& color, QPoint offset) {
  p.save();
  p.setFont(font);
  p.setPen(color);
  p.setBackgroundMode(Qt::TransparentMode);
  const QFontMetrics metrics(font);
  const int underlineY = metrics.underlinePos();
  const int thickness = std::max(1, metrics.lineWidth());
  const QRect window = p.clipBoundingRect().toAlignedRect();
  for (const TextLine& line : layout.lines) {
    const int x = line.x + offset.x(), top = line.top + offset.y();
    // Lines outside the area being drawn cost nothing.
    if (p.hasClipping() && (top >= window.bottom() + 1 || top + layout.lineHeight <= window.top())) continue;
    const int baseline = top + layout.ascent;
    if (!layout.prefixOnly) {
      int start = 0;
      for (int i = 0; i <= line.text.size(); ++i) {
        if (i < line.text.size() && line.text[i] != u'\t') continue;
        if (i > start)
          p.drawText(QPoint(x + AdvanceTo(layout, metrics, line.text, start), baseline), line.text.mid(start, i - start));
        start = i + 1;
      }
    }
    for (size_t i = 0; i < line.underlined.size(); ++i) {
      if (!line.underlined[i]) continue;
      const int x0 = AdvanceTo(layout, metrics, line.text, static_cast<int>(i));
      const int x1 = AdvanceTo(layout, metrics, line.text, static_cast<int>(i) + 1);
      p.fillRect(QRect(x + x0, baseline + underlineY, x1 - x0, thickness), color);
    }
  }
  p.restore();
}

// ---------------------------------------------------------------- fonts

namespace {

const QString kSans = QStringLiteral("Liberation Sans");
const QString kSerif = QStringLiteral("Liberation Serif");
const QString kMono = QStringLiteral("Liberation Mono");
// The Symbol font's stand-in: Greek, mathematics and the bracket and radical
// pieces at the code points the Symbol table gives them.
const QString kSymbolFace = QString::fromLatin1(kSymbolFontFamily);

struct FaceEntry {
  const char* face;
  const QString* family;
};

// The common faces of the original's hosts and the metric-compatible stand-ins.
const FaceEntry kFaces[] = {
    {"Arial", &kSans},           {"Helvetica", &kSans},          {"MS Sans Serif", &kSans},
    {"Microsoft Sans Serif", &kSans}, {"System", &kSans},        {"Tahoma", &kSans},
    {"Verdana", &kSans},         {"Liberation Sans", &kSans},    {"Times New Roman", &kSerif},
    {"Times", &kSerif},          {"MS Serif", &kSerif},          {"Georgia", &kSerif},
    {"Liberation Serif", &kSerif}, {"Courier New", &kMono},      {"Courier", &kMono},
    {"Lucida Console", &kMono},  {"Fixedsys", &kMono},           {"Terminal", &kMono},
    {"Liberation Mono", &kMono},
};

constexpr uint8_t kFixedPitch = 1;
constexpr uint8_t kFamilyRoman = 0x10, kFamilyModern = 0x30, kFamilyScript = 0x40;
constexpr int kMaxPixelSize = 4096;
constexpr int kSystemCellHeight = 16;

int Clamp(double v, int low, int high) {
  if (!(v > low)) return low;  // NaN too
  return v >= high ? high : static_cast<int>(std::lround(v));
}

}  // namespace

bool HasStandIn(std::string_view faceName) {
  for (const FaceEntry& e : kFaces)
    if (EqualsNoCase(faceName, e.face)) return true;
  return false;
}

QString MatchFace(std::string_view faceName, uint8_t pitchAndFamily) {
  for (const FaceEntry& e : kFaces)
    if (EqualsNoCase(faceName, e.face)) return *e.family;
  if ((pitchAndFamily & 0x03) == kFixedPitch) return kMono;
  switch (pitchAndFamily & 0xF0) {
    case kFamilyModern: return kMono;
    case kFamilyRoman:
    case kFamilyScript: return kSerif;
    default: return kSans;
  }
}

ByteDecoder DecoderOf(const CKVFont& font) {
  return !font.useDefault && font.charSet == kSymbolCharset ? SymbolToUnicode : Cp1252ToUnicode;
}

QFont MatchFont(const CKVFont& record, double heightScale) {
  EnsureGuiApplication();
  QFont f(record.charSet == kSymbolCharset ? kSymbolFace : MatchFace(record.faceName, record.pitchAndFamily));
  f.setStyleStrategy(QFont::StyleStrategy(QFont::NoAntialias | QFont::NoFontMerging));
  f.setKerning(false);
  f.setHintingPreference(QFont::PreferFullHinting);
  f.setWeight(QFont::Weight(std::clamp(record.weight == 0 ? 400 : record.weight, 1, 1000)));
  f.setItalic(record.italic != 0);
  f.setUnderline(record.underline != 0);
  f.setStrikeOut(record.strikeOut != 0);
  const double h = (record.height == 0 ? kSystemCellHeight : double(record.height)) * heightScale;
  if (h < 0) {
    f.setPixelSize(Clamp(-h, 1, kMaxPixelSize));  // the em size
  } else {
    // A positive height is the cell (ascent + descent): find the em that gives it.
    QFont probe = f;
    probe.setPixelSize(1000);
    const QFontMetricsF pm(probe);
    const double cell = pm.ascent() + pm.descent();
    f.setPixelSize(Clamp(cell > 0 ? h * 1000 / cell : h, 1, kMaxPixelSize));
  }
  if (record.width != 0) {
    const double natural = QFontMetricsF(f).averageCharWidth();
    if (natural > 0) f.setStretch(Clamp(100.0 * std::abs(double(record.width) * heightScale) / natural, 1, 4000));
  }
  return f;
}

QFont SystemFont(double heightScale) {
  CKVFont system;
  system.height = kSystemCellHeight;
  system.weight = 700;
  system.faceName = "System";
  return MatchFont(system, heightScale);
}

QFont FontOf(const CKVFont& font, double heightScale) {
  return font.useDefault ? SystemFont(heightScale) : MatchFont(font, heightScale);
}

}  // namespace kv
