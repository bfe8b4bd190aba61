// CRTF: a rich-text or plain-text file shown in a scrollable rich edit
// control placed on the stage.
#pragma once

#include <cstdint>
#include <string>

#include "inserts/visible_insert.h"

namespace kv {

namespace rtf_flag {
inline constexpr uint8_t kTransparent = 1;
inline constexpr uint8_t kNoVerticalScroll = 2;
}  // namespace rtf_flag

struct RtfFields {
  uint16_t rtfVersion = 0;  // version read; written as 3
  std::string rtfAuxText;
  uint8_t rtfFlags = 0;  // rtf_flag bits
  uint8_t rtfAuxFlag = 0;
  uint32_t rtfBackColor = 0x00FFFFFF;
  std::string rtfFile;
  uint8_t withFrame = 0;
};

class CRTF : public CVisibleInsert, public RtfFields {
  KV_DECLARE_CLASS(CRTF)
 public:
  static constexpr uint16_t kNewestVersion = 3;

  template <class W>
  void Walk(W& w);
  void Serialize(Archive& ar) override;
  void DescribeFields(FieldVisitor& v) override;
  void Reset() override;
  void CopyFrom(const CInsert& other) override;
  std::string GetFileName() const override { return rtfFile; }
};

}  // namespace kv
