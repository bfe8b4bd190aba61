// CDataEntry: a one-line edit field governed by an edit mask, optionally
// bound to a variable and checked against bounds; and CCollectData, the
// record of the data-collection support.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>

#include "inserts/kvfont.h"
#include "inserts/window_insert.h"
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

// Shown by the widget type "masked edit", which edits with MaskedEdit
// (editing/entry_mask.h) on the GUI thread and reports "value" as typed and
// "autotab" when auto-tab moves the focus on.
class CDataEntry : public CWindowInsert, public DataEntryFields {
  KV_DECLARE_CLASS(CDataEntry)
 public:
  template <class W>
  void Walk(W& w);
  void Serialize(Archive& ar) override;
  void DescribeFields(FieldVisitor& v) override;
  void Reset() override;
  void CopyFrom(const CInsert& other) override;

  std::string WidgetType() const override { return "masked edit"; }
  void ListEvents(std::vector<uint32_t>& events) const override;
  // Places the characters into the placeholders from the first, as typing
  // in overwrite mode; the value read back has trailing spaces removed.
  void SetParameterText(PlayContext& ctx, const std::string& text) override;
  std::string GetParameterText() const override;
  void PlayOnStage(PlayContext& ctx) override;
  void Stop(PlayContext& ctx) override;
  void OnEnable(PlayContext& ctx) override;
  void OnDisable(PlayContext& ctx) override;
  PropertyAnswer GetProperty(Property id) const override;
  bool SetProperty(PlayContext& ctx, Property id, const PropertyValue& value) override;

  // Leaving the field checks the bounds and stores the bound variable.
  void FocusChanged(PlayContext& ctx, bool focused) override;
  // Tab and Enter move the focus on and raise "Hotkey pressed".
  bool MovesFocusOn(uint32_t key) const override { return key == 0x09 || key == 0x0D; }
  void FocusLeftByKey(PlayContext& ctx) override;
  void WidgetChanged(PlayContext& ctx, const std::string& property, const std::string& value) override;

  // The mask in force: the fixed mask of maskType 1 to 4, else `mask`.
  std::string EffectiveMask() const;
  // Compares the value with a bound as the field does: as numbers for
  // maskType 0 to 2 when both texts are whole decimal numbers, else byte-wise.
  static int CompareWithBound(uint8_t maskType, const std::string& value, const std::string& bound);

 protected:
  void ConfigureWidget(PlayContext& ctx, WidgetWindow& widget) override;

 private:
  // Puts the bound variable's value into the field, when it exists.
  void LoadVariable(PlayContext& ctx, bool report);
  void StoreVariable(PlayContext& ctx);
  // The widget's look and options from the fields.
  void ApplyOptions(WidgetWindow& widget);

  mutable std::mutex valueLock_;
  std::string value_;  // the field's value as last typed or set
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
