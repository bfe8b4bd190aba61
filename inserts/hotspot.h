// CHotSpot: an invisible clickable area of any polygonal outline.
#pragma once

#include <QImage>
#include <cstdint>
#include <vector>

#include "inserts/painted_sprite.h"
#include "inserts/visible_insert.h"

namespace kv {

struct OutlinePoint {
  int32_t x = 0;  // stage coordinates
  int32_t y = 0;
};

struct HotSpotFields {
  uint16_t hotVersion = 0;    // version read; always 1
  uint32_t outlineShape = 0;  // default outline: 1 rectangle, 2 star; 0 counts as 1
  uint32_t fillMode = 1;      // 1 alternate, 2 winding
  uint32_t hotAux = 2;
  std::vector<OutlinePoint> outline;
};

class CHotSpot : public CVisibleInsert, public HotSpotFields, public SelfPainting {
  KV_DECLARE_CLASS(CHotSpot)
 public:
  template <class W>
  void Walk(W& w);
  void Serialize(Archive& ar) override;
  void DescribeFields(FieldVisitor& v) override;
  void Reset() override;
  void CopyFrom(const CInsert& other) override;

  // --- on the stage
  // Masks of larger outlines are rendered at this many pixels a side.
  static constexpr int kMaxMaskSide = 2048;
  // The clickable mask of the outline over its bounding box (one past its
  // last point, so the outline's own pixels count): white inside (fill mode
  // fillMode), black outside. Null for fewer than 2 points.
  struct Mask {
    QImage bits;                          // Grayscale8, at most kMaxMaskSide a side
    int64_t boxWidth = 0, boxHeight = 0;  // the bounding box it stands for
    // Whether stage point (x, y) is inside the outline as `sprite` shows it.
    bool Hits(const StageSprite& sprite, int x, int y) const;
  };
  Mask RenderMask() const;
  void PaintSprite(PlayContext*, StageSprite&, DrawTarget&, const Rect&) override {}  // never visible
  bool HitsAt(const StageSprite& sprite, int x, int y) const override;
  void Hide(PlayContext& ctx) override;
  void Prepare(PlayContext& ctx) override;
  void OnHotkey(PlayContext& ctx, uint32_t key, uint32_t modifiers, int phase) override;

 protected:
  std::unique_ptr<StageSprite> MakeSprite(Stage& stage) override;

 private:
  Mask mask_;  // rendered once per sprite; hits map onto it
};

}  // namespace kv
