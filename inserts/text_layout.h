// The player's own text drawing: the platform's draw-text rules (line
// breaks, word wrap, alignment, tabs, the "&" prefix, end ellipsis, external
// leading) laid out on QFontMetrics, and the matching of stored logical fonts
// to the installed faces. Used by texts, button captions and menus.
// docs/text.md lists the rules as built.
#pragma once

#include <QFont>
#include <QPainter>
#include <QString>
#include <cstdint>
#include <string_view>
#include <vector>

#include "inserts/kvfont.h"
#include "platform/geometry.h"
#include "platform/text.h"

namespace kv {

// The platform's draw-text flags.
namespace draw_text {
inline constexpr uint32_t kCenter = 0x0001;
inline constexpr uint32_t kRight = 0x0002;
inline constexpr uint32_t kVCenter = 0x0004;
inline constexpr uint32_t kBottom = 0x0008;
inline constexpr uint32_t kWordBreak = 0x0010;
inline constexpr uint32_t kSingleLine = 0x0020;
inline constexpr uint32_t kExpandTabs = 0x0040;
inline constexpr uint32_t kTabStop = 0x0080;
inline constexpr uint32_t kNoClip = 0x0100;
inline constexpr uint32_t kExternalLeading = 0x0200;
inline constexpr uint32_t kCalcRect = 0x0400;
inline constexpr uint32_t kNoPrefix = 0x0800;
inline constexpr uint32_t kEditControl = 0x2000;
inline constexpr uint32_t kPathEllipsis = 0x4000;
inline constexpr uint32_t kEndEllipsis = 0x8000;
inline constexpr uint32_t kModifyString = 0x10000;
inline constexpr uint32_t kWordEllipsis = 0x40000;
inline constexpr uint32_t kHidePrefix = 0x100000;
inline constexpr uint32_t kPrefixOnly = 0x200000;
}  // namespace draw_text

// The flags a drawing honours: measuring only and modifying the caller's
// text are never wanted from a stored object.
uint32_t DrawingFlags(uint32_t stored);

// One laid-out line: its characters, where it starts (left of the text, top
// of the line) and which characters the "&" prefix underlines.
struct TextLine {
  QString text;
  std::vector<bool> underlined;  // one per character of `text`
  int x = 0;
  int top = 0;
  int width = 0;
};

struct TextLayout {
  std::vector<TextLine> lines;
  int lineHeight = 0;
  int ascent = 0;
  int tabWidth = 0;   // 0: tabs are not expanded
  bool prefixOnly = false;
  // The union of the lines' boxes (what a measuring call answers).
  Rect Bounds() const;
};

// How a font's bytes become characters: Windows-1252, or the Symbol font's
// code points for a font of the symbol character set.
using ByteDecoder = char32_t (*)(uint8_t);
ByteDecoder DecoderOf(const CKVFont& font);

// Lays out `text` (bytes `decode` reads) in `box` with draw-text `flags`.
TextLayout LayOutText(std::string_view text, const QFont& font, const Rect& box, uint32_t flags,
                      ByteDecoder decode = Cp1252ToUnicode);
// Draws a layout in `color`, moved by `offset`.
void DrawLayout(QPainter& p, const TextLayout& layout, const QFont& font, const QColor& color, QPoint offset = {});
// The advance of `line` from its start to character `end`, tabs included.
int AdvanceTo(const TextLayout& layout, const QFontMetrics& metrics, const QString& line, int end);

// Whether `faceName` is one of the faces drawn by a metric-compatible stand-in;
// any other face falls back on the generic family of its pitch and family.
bool HasStandIn(std::string_view faceName);
// Font matching: the installed face that stands in for `faceName` (by name,
// then by the pitch and family byte).
QString MatchFace(std::string_view faceName, uint8_t pitchAndFamily);
// The QFont of a stored logical font; `heightScale` scales its height (a
// displayed rectangle of another size). The escapement is applied by the drawer.
QFont MatchFont(const CKVFont& font, double heightScale = 1.0);
// The system font of objects whose font record says "use the default".
QFont SystemFont(double heightScale = 1.0);
// The font a stored record asks for: the system font when it says so.
QFont FontOf(const CKVFont& font, double heightScale = 1.0);

}  // namespace kv
