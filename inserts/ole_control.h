// COleCtl: an ActiveX control, identified by its class identifier, placed on
// the stage. The common record's auxText1 and auxText2 are the value given
// to the control and the name of the property that receives it.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "engine/kinds.h"
#include "inserts/visible_insert.h"

namespace kv {

struct OleControlFields {
  uint16_t controlVersion = 0;  // version read; always 1
  std::array<uint8_t, 16> controlClsid{};  // binary little-endian layout; all zero: no control
  uint32_t controlAux1 = 0;
  std::string controlFile;  // the control's server module
  std::vector<std::string> supportFiles;
  uint32_t controlAux2 = 0;
  uint32_t autoRegister = 0;
  uint8_t windowless = 0;
  uint8_t controlAux3 = 0;
  uint8_t controlAux4 = 0;
  uint32_t controlAux5 = 0;
  uint32_t controlAux6 = 0;
  std::vector<uint8_t> creationData;  // opaque, handed to control creation
  std::vector<uint8_t> persistedState;
};

class COleCtl : public CVisibleInsert, public OleControlFields {
  KV_DECLARE_CLASS(COleCtl)
 public:
  // The kind the object was created as (1008 "ActiveX" or 1031 "ActiveX
  // Control" in the editor); not stored.
  int kindId = kind::kInsertFolder;

  template <class W>
  void Walk(W& w);
  void Serialize(Archive& ar) override;
  void DescribeFields(FieldVisitor& v) override;
  void Reset() override;
  void CopyFrom(const CInsert& other) override;
  int GetKindId() const override { return kindId; }
};

}  // namespace kv
