// CMPlayer: a media file played through the platform's media player control,
// placed on the stage in a window of its own.
#pragma once

#include <cstdint>
#include <string>

#include "inserts/visible_insert.h"

namespace kv {

struct MPlayerFields {
  uint16_t playerVersion = 0;  // version read; always 1
  uint32_t playerOptions = 0;  // display and behaviour bits of the control
  uint8_t hideControl = 0;
  uint8_t takeForeground = 0;
  uint32_t playerAux1 = 0;
  uint8_t clearPlayValue = 0;
  uint8_t playerAux2 = 0;
  uint8_t playerAux3 = 0;
  uint8_t playValue = 0;
  uint32_t startMs = 0;
  uint32_t endMs = 0;
  double duration = 0.0;  // seconds, as last read from the control
  uint16_t playerAux4 = 0;
  uint8_t playerAux5 = 0;
  uint8_t useWindow = 0;
  std::string mediaFile;
  std::string playerText;
};

class CMPlayer : public CVisibleInsert, public MPlayerFields {
  KV_DECLARE_CLASS(CMPlayer)
 public:
  template <class W>
  void Walk(W& w);
  void Serialize(Archive& ar) override;
  void DescribeFields(FieldVisitor& v) override;
  void Reset() override;
  void CopyFrom(const CInsert& other) override;
};

}  // namespace kv
