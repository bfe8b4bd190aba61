// CText: a text drawn by the player in its own font, from the stored text or
// from a text file, with the pen and drop shadow of CGraphic.
#pragma once

#include <QFont>
#include <cstdint>
#include <optional>
#include <string>

#include "inserts/graphic.h"
#include "inserts/kvfont.h"
#include "inserts/text_layout.h"

namespace kv {

struct TextFields {
  uint16_t textVersion = 0;  // version read; written as 3
  uint32_t fromFile = 0;     // the text comes from textFile
  std::string textFile;
  uint32_t charPlacement = 0;
  std::string textAux1;
  std::string textAux2;
  std::string text;
  uint32_t drawFlags = 0x0A10;  // no prefix (0x0800), no clipping (0x0200), word break (0x0010)
  CKVFont font;
  int32_t newFormat = 1;  // read as version 3 or later: only then does stretchPicture apply
};

// The first `limit` bytes of a file (fewer when it is shorter; none when it
// cannot be read).
std::string ReadFileStart(const std::string& hostPath, size_t limit);

class CText : public CGraphic, public TextFields, public SelfPainting {
  KV_DECLARE_CLASS(CText)
 public:
  static constexpr uint16_t kNewestVersion = 3;

  template <class W>
  void Walk(W& w);
  void Serialize(Archive& ar) override;
  void DescribeFields(FieldVisitor& v) override;
  void Reset() override;
  void CopyFrom(const CInsert& other) override;
  // Texts read from records older than version 3 are never stretched.
  uint8_t GetStretchPicture() const override { return newFormat ? stretchPicture : 0; }

  // --- content and drawing
  // A text file is read up to this many bytes; the rest is not shown.
  static constexpr size_t kMaxFileText = size_t(1) << 20;

  // The text as drawn: names substituted and, with fromFile, the file read.
  // Made when the content changes, never while painting.
  std::string ShownText() const;
  void SetShownText(std::string shown);
  // Reads the content again through `runner` (its names, the text file).
  void RefreshContent(Runner& runner);
  // Paints the text of an object occupying `area` (stage coordinates).
  void PaintText(QPainter& p, const StageSprite& sprite, const Rect& area);
  // The layout of the shown text in `area` (before any turn), as PaintText draws it.
  TextLayout Layout(const Rect& area);
  void PaintSprite(PlayContext*, StageSprite& sprite, DrawTarget& target, const Rect& clip) override;

  void SetParameterText(PlayContext& ctx, const std::string& value) override;
  std::string GetParameterText() const override { return fromFile ? textFile : text; }
  void SetFileName(const std::string& value) override;
  std::string GetFileName() const override { return fromFile ? textFile : std::string(); }
  std::string GetDescription() override;
  bool GetNaturalSize(int32_t& width, int32_t& height) override;
  // The text is drawn in the pen colour: the text has no fill of its own.
  int GetTextFontSize() const;
  void SetTextFontSize(int points);
  // The pen colour answers as the text colour; the font size in points.
  PropertyAnswer GetProperty(Property id) const override;
  bool SetProperty(PlayContext& ctx, Property id, const PropertyValue& value) override;

 protected:
  std::unique_ptr<StageSprite> MakeSprite(Stage& stage) override;

 private:
  // The font and layout of the last paint, kept while nothing they depend on changes.
  struct LayoutKey {
    uint64_t text = 0;  // shownSerial_
    int64_t width = 0, height = 0;
    uint32_t flags = 0;
    std::string font;  // the font record's fields
    bool operator==(const LayoutKey&) const = default;
  };
  LayoutKey KeyFor(const Rect& area) const;
  // The layout of the shown text in a rectangle of `area`'s size at (0, 0).
  const TextLayout& LayoutAtOrigin(const Rect& area);
  std::string shown_;
  uint64_t shownSerial_ = 0;  // counts the changes of shown_
  bool haveLayout_ = false;
  LayoutKey layoutKey_;
  // Made with the first layout: most loaded texts are never laid out.
  std::optional<QFont> layoutFont_;
  TextLayout layout_;
};

}  // namespace kv
