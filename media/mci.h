// CMCI: the insert that sends an author-written command string to the media
// control layer, on the thread that owns the target device.
#pragma once

#include <cstdint>
#include <string>

#include "engine/insert.h"

namespace kv {

struct MciFields {
  uint16_t mciVersion = 0;  // version read; always 1
  std::string mciVerb;
  std::string mciTarget;  // also names the insert whose thread owns the device
  std::string mciParameters;
  uint8_t showErrors = 0;
  uint32_t mciValue = 0;
};

class CMCI : public CInsert, public MciFields {
  KV_DECLARE_CLASS(CMCI)
 public:
  template <class W>
  void Walk(W& w);
  void Serialize(Archive& ar) override;
  void DescribeFields(FieldVisitor& v) override;
  void Reset() override;
  void CopyFrom(const CInsert& other) override;
};

}  // namespace kv
