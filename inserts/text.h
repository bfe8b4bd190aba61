// CText: a text drawn by the player in its own font, from the stored text or
// from a text file, with the pen and drop shadow of CGraphic.
#pragma once

#include <cstdint>
#include <string>

#include "inserts/graphic.h"
#include "inserts/kvfont.h"

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

class CText : public CGraphic, public TextFields {
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
};

}  // namespace kv
