#include "stage/sprite_index.h"

#include <algorithm>

namespace kv {

void SpriteIndex::Reset(int width, int height) {
  width_ = std::max(0, width), height_ = std::max(0, height);
  cols_ = int((int64_t(width_) + kCell - 1) / kCell);
  rows_ = int((int64_t(height_) + kCell - 1) / kCell);
  entries_.clear();
  spans_.clear();
  cellStart_.clear();
  cellEntries_.clear();
}

void SpriteIndex::Add(StageSprite* sprite, const Rect& rect, bool drawn) {
  // An empty rectangle neither draws nor covers anything.
  if (rect.IsEmpty()) return;
  entries_.push_back({sprite, rect, drawn});
  int c0, r0, c1, r1;
  if (!CellSpan(rect, &c0, &r0, &c1, &r1)) c0 = 1, c1 = 0, r0 = r1 = 0;
  spans_.push_back({c0, r0, c1, r1});
}

// The cells `r` spans on the stage; false when it lies outside.
bool SpriteIndex::CellSpan(const Rect& r, int* c0, int* r0, int* c1, int* r1) const {
  const Rect in = r.Intersect({0, 0, width_, height_});
  if (in.IsEmpty()) return false;
  *c0 = in.left / kCell, *r0 = in.top / kCell;
  *c1 = (in.right - 1) / kCell, *r1 = (in.bottom - 1) / kCell;
  return true;
}

void SpriteIndex::Finish() {
  // Two passes (count, then place) keep every cell's entries in one array, in list order.
  const size_t cells = size_t(cols_) * size_t(rows_);
  cellStart_.assign(cells + 1, 0);
  for (const Span& p : spans_)
    for (int y = p.r0; y <= p.r1; ++y)
      for (int x = p.c0; x <= p.c1; ++x) ++cellStart_[size_t(y) * cols_ + x + 1];
  for (size_t i = 0; i < cells; ++i) cellStart_[i + 1] += cellStart_[i];
  cellEntries_.resize(cellStart_[cells]);
  cellFill_.assign(cellStart_.begin(), cellStart_.end() - 1);
  for (uint32_t i = 0; i < spans_.size(); ++i) {
    const Span& p = spans_[i];
    for (int y = p.r0; y <= p.r1; ++y)
      for (int x = p.c0; x <= p.c1; ++x) cellEntries_[cellFill_[size_t(y) * cols_ + x]++] = i;
  }
}

void SpriteIndex::Query(const Rect& r, std::vector<uint32_t>& out) const {
  out.clear();
  // Only the stage is indexed, so only the part of `r` on the stage is asked.
  const Rect q = r.Intersect({0, 0, width_, height_});
  int c0, r0, c1, r1;
  if (!CellSpan(q, &c0, &r0, &c1, &r1)) return;
  const int64_t spanned = int64_t(c1 - c0 + 1) * (r1 - r0 + 1);
  if (spanned * 4 >= int64_t(cols_) * rows_) {
    // A large part of the stage: one pass over the entries is cheaper than
    // gathering and sorting what many cells repeat.
    for (uint32_t i = 0; i < entries_.size(); ++i)
      if (!entries_[i].rect.Intersect(q).IsEmpty()) out.push_back(i);
    return;
  }
  for (int y = r0; y <= r1; ++y)
    for (int x = c0; x <= c1; ++x) {
      const size_t cell = size_t(y) * cols_ + x;
      for (uint32_t k = cellStart_[cell]; k < cellStart_[cell + 1]; ++k) {
        const uint32_t i = cellEntries_[k];
        if (!entries_[i].rect.Intersect(q).IsEmpty()) out.push_back(i);
      }
    }
  if (c0 != c1 || r0 != r1) {
    std::sort(out.begin(), out.end());
    out.erase(std::unique(out.begin(), out.end()), out.end());
  }
}

}  // namespace kv
