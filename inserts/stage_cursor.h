// CStageCursor: sets the mouse cursor of the whole stage from the cursor
// fields every visible insert has; it stores nothing of its own.
#pragma once

#include <cstdint>

#include "inserts/visible_insert.h"

namespace kv {

class CStageCursor : public CVisibleInsert {
  KV_DECLARE_CLASS(CStageCursor)
 public:
  uint16_t cursorVersion = 0;  // version read; always 1

  template <class W>
  void Walk(W& w);
  void Serialize(Archive& ar) override;
  void DescribeFields(FieldVisitor& v) override;
  void Reset() override;
  void CopyFrom(const CInsert& other) override;

  // --- playing: it draws nothing and only hands its cursor to the stage.
  int Run(Runner& runner, int32_t mode) override;
  // The stage's cursor goes back to the default when this object set it.
  void Hide(PlayContext& ctx) override;
  // A new cursor file; installed at once while the object is in force.
  void ChangeContent(PlayContext& ctx, const std::string& file) override;
  bool HasContent() const override { return !cursorFile.empty(); }

 private:
  // Loads the cursor and makes it the stage's; false when there is none to
  // install (a file not found keeps the previous one).
  bool Install(Runner& runner);
  bool installed_ = false;
};

}  // namespace kv
