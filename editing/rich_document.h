// A neutral model of formatted text, as the RTF reader makes it and the
// rich text widget shows it: paragraphs of runs, each run one character
// format. Text is UTF-8.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kv {

struct RichCharFormat {
  std::string font;  // family name; empty for the widget's own font
  int halfPoints = 24;
  bool bold = false, italic = false, underline = false, strike = false;
  int vertical = 0;                     // 1 superscript, -1 subscript
  std::optional<uint32_t> color;        // 0x00RRGGBB
  std::optional<uint32_t> background;   // 0x00RRGGBB

  bool operator==(const RichCharFormat&) const = default;
};

enum class RichAlign : uint8_t { kLeft, kCenter, kRight, kJustify };

struct RichRun {
  std::string text;
  RichCharFormat format;
};

struct RichParagraph {
  RichAlign align = RichAlign::kLeft;
  // Indents and spacing in twips (1/1440 inch); `firstIndent` is relative
  // to `leftIndent` and may be negative.
  int leftIndent = 0, rightIndent = 0, firstIndent = 0;
  int spaceBefore = 0, spaceAfter = 0;
  std::vector<int> tabStops;  // twips from the left margin
  std::vector<RichRun> runs;
};

struct RichDocument {
  std::vector<RichParagraph> paragraphs;
  int picturesSkipped = 0;  // pictures and objects the reader left out

  // The text alone: paragraphs end with "\n", tabs as "\t", line breaks "\n".
  std::string PlainText() const;
};

// A plain-text file (Windows-1252) as a document of one run a paragraph.
RichDocument PlainTextDocument(std::string_view text);

// Hands a document from the object that read it to the widget that shows
// it, across the widget seam's string properties: Share answers a key that
// Take redeems once (null for an unknown or redeemed key, or once the
// sharer, which keeps the document, has let it go).
std::string ShareRichDocument(std::shared_ptr<const RichDocument> doc);
std::shared_ptr<const RichDocument> TakeRichDocument(const std::string& key);

}  // namespace kv
