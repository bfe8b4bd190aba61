// CDataEntry: a one-line edit field governed by an edit mask, optionally
// bound to a variable and checked against bounds; and CCollectData, the
// record of the data-collection support.
#pragma once

#include <cstdint>
#include <string>

#include "inserts/kvfont.h"
#include "inserts/visible_insert.h"
#include "persist/document.h"

namespace kv {

struct DataEntryFields {
  uint16_t entryVersion = 0;  // version read; always 1
  CKVFont entryFont;
  uint8_t maskType = 0;  // 0 `mask`; 1 "99999"; 2 "$9999.99"; 3 "99:99"; 4 "99//99//9999"
  std::string mask;      // empty means "X"
  // Stored twice; the second copy is the one in force. The first is kept as
  // read so that a file whose copies differ writes back unchanged.
  uint8_t firstSelectOnFocus = 1;
  uint8_t readOnly = 0;
  uint8_t autoTab = 0;
  uint8_t selectOnFocus = 1;
  uint8_t insertMode = 0;
  uint8_t allowInsertToggle = 1;
  uint8_t autoHeight = 0;
  uint8_t border = 1;
  uint8_t customFont = 0;
  uint8_t useColors = 0;
  uint32_t entryTextColor = 0;
  uint32_t entryBackColor = 0x00FFFFFF;
  uint8_t entryAuxFlag = 0;
  std::string passwordChar;
  std::string promptChar = " ";
  std::string variableGroup;
  std::string variableName;
  std::string minimum;
  std::string maximum;
  uint32_t auxValue1 = 0;
  uint32_t auxValue2 = 0;
};

class CDataEntry : public CVisibleInsert, public DataEntryFields {
  KV_DECLARE_CLASS(CDataEntry)
 public:
  template <class W>
  void Walk(W& w);
  void Serialize(Archive& ar) override;
  void DescribeFields(FieldVisitor& v) override;
  void Reset() override;
  void CopyFrom(const CInsert& other) override;
};

// The data-collection record: the same layout as the collection record of a
// project file.
class CCollectData : public CObject {
  KV_DECLARE_CLASS(CCollectData)
 public:
  CollectionRecord record;

  template <class W>
  void Walk(W& w) {
    record.Walk(w);
  }
  void Serialize(Archive& ar) override;
  void DescribeFields(FieldVisitor& v) override;
};

}  // namespace kv
