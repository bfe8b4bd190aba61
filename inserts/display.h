// CDisplay: the image insert, one picture file shown on the stage.
#pragma once

#include <cstdint>
#include <string>

#include "inserts/visible_insert.h"

namespace kv {

struct DisplayFields {
  uint16_t imageVersion = 0;  // version read; only 1 exists
  uint16_t imageOption = 0;
  std::string pictureFile;  // before name substitution
  uint32_t imageValue = 0;
};

class CDisplay : public CVisibleInsert, public DisplayFields {
  KV_DECLARE_CLASS(CDisplay)
 public:
  template <class W>
  void Walk(W& w);
  void Serialize(Archive& ar) override;
  void DescribeFields(FieldVisitor& v) override;
  void Reset() override;
  void CopyFrom(const CInsert& other) override;

  void Hide(PlayContext& ctx) override;
  void Prepare(PlayContext& ctx) override;
  void ChangeContent(PlayContext& ctx, const std::string& file) override;
  bool HasContent() const override { return !pictureFile.empty(); }
  std::string GetFileName() const override { return pictureFile; }
  void SetFileName(const std::string& text) override { pictureFile = text; }

 protected:
  std::unique_ptr<StageSprite> MakeSprite(Stage& stage) override;
};

}  // namespace kv
