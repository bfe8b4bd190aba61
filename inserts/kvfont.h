// The stored font record shared by texts, buttons, menus and data entry
// fields. Those kinds embed it by value and write its record in place.
#pragma once

#include <cstdint>
#include <string>

#include "persist/archive.h"

namespace kv {

class CKVFont : public CObject {
  KV_DECLARE_CLASS(CKVFont)
 public:
  uint16_t fontVersion = 0;  // version read; written as 1
  uint8_t useDefault = 1;    // the default font is used and the fields below are not stored
  // A logical font, in the platform's field order.
  int32_t height = 0;
  int32_t width = 0;
  int32_t escapement = 0;
  int32_t orientation = 0;
  int32_t weight = 0;
  uint8_t italic = 0;
  uint8_t underline = 0;
  uint8_t strikeOut = 0;
  uint8_t charSet = 0;
  uint8_t outPrecision = 0;
  uint8_t clipPrecision = 0;
  uint8_t quality = 0;
  uint8_t pitchAndFamily = 0;
  std::string faceName;

  template <class W>
  void Walk(W& w);
  void Serialize(Archive& ar) override;
  void DescribeFields(FieldVisitor& v) override;
};

}  // namespace kv
