// A neutral model of formatted text, as the RTF reader makes it and the
// rich text widget shows it: paragraphs of runs, each run one character
// format. Text is UTF-8.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
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

// A document shown while it is read: the reader, on a thread of its own,
// adds paragraphs as it finishes them, and the widget takes them in batches
// on its thread, waiting for more until the reader finishes. Nothing waits
// for the widget: every paragraph is kept, taken or not.
class RichDocumentStream {
 public:
  // The reader's side (one thread): paragraphs reach the widget in batches.
  void Add(RichParagraph paragraph);
  // Every paragraph is added; an error means the document is empty,
  // whatever was added.
  void Finish(std::string error = {});

  // The widget's side (one thread): the paragraphs added since the last
  // call, in order, waiting until there are some; false once the reader has
  // finished and every paragraph has been taken. The paragraphs stay put.
  bool Next(std::vector<const RichParagraph*>& batch);
  // Once Next has answered false: why the document is empty, or nothing.
  std::string Error() const;

 private:
  static constexpr size_t kBatch = 256;
  mutable std::mutex lock_;
  std::condition_variable added_;
  std::deque<RichParagraph> paragraphs_;  // stable addresses
  size_t shown_ = 0;  // paragraphs the widget may take
  size_t taken_ = 0;
  bool finished_ = false;
  std::string error_;
  std::vector<RichParagraph> pending_;  // the reader's, not yet handed over
};

// Hands a document, or a stream of one, from the object that reads it to
// the widget that shows it, across the widget seam's string properties:
// Share answers a key that Take redeems once (null for an unknown or
// redeemed key, a key of the other kind, or once the sharer, which keeps the
// document, has let it go).
std::string ShareRichDocument(std::shared_ptr<const RichDocument> doc);
std::shared_ptr<const RichDocument> TakeRichDocument(const std::string& key);
std::string ShareRichDocumentStream(std::shared_ptr<RichDocumentStream> stream);
std::shared_ptr<RichDocumentStream> TakeRichDocumentStream(const std::string& key);

}  // namespace kv
