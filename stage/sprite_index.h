// The listed sprites that meet one flush's rectangles, with their displayed
// rectangles, bucketed by a coarse grid over the stage, so that recomposing a
// dirty rectangle visits the sprites that touch it instead of the whole list.
// Rebuilt for each flush: a sprite's rectangle is a plain field that many
// places write, so an index kept across flushes could miss a move.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/geometry.h"

namespace kv {

class StageSprite;

class SpriteIndex {
 public:
  static constexpr int kCell = 64;  // pixels per grid cell side

  struct Entry {
    StageSprite* sprite;
    Rect rect;   // the displayed rectangle when the index was built
    bool drawn;  // false: only counts for the covering test (a window sprite)
  };

  // Starts an index over the stage 0,0 - width,height.
  void Reset(int width, int height);
  // Entries come in list order, back to front.
  void Add(StageSprite* sprite, const Rect& rect, bool drawn);
  // Buckets the entries; Query answers only after it.
  void Finish();
  bool Empty() const { return entries_.empty(); }
  int Size() const { return int(entries_.size()); }
  const Entry& operator[](uint32_t i) const { return entries_[i]; }

  // The entries whose rectangle shares a pixel with `r`, each once, in list
  // order (indexes into the entries).
  void Query(const Rect& r, std::vector<uint32_t>& out) const;

 private:
  int width_ = 0, height_ = 0, cols_ = 0, rows_ = 0;
  std::vector<Entry> entries_;
  struct Span {
    int32_t c0, r0, c1, r1;  // cells, inclusive; c1 < c0 when off the stage
  };
  std::vector<Span> spans_;          // one per entry
  std::vector<uint32_t> cellStart_;  // cols_ * rows_ + 1 offsets into cellEntries_
  std::vector<uint32_t> cellFill_;
  std::vector<uint32_t> cellEntries_;
  bool CellSpan(const Rect& r, int* c0, int* r0, int* c1, int* r1) const;
};

}  // namespace kv
