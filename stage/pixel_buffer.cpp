#include "stage/pixel_buffer.h"

#include <cstring>

#include "stage/pixel_loops.h"

namespace kv {

namespace {
constexpr int kMaxSide = 32768;
}

PixelBuffer::PixelBuffer(int width, int height, PixelFormat format) : PixelBuffer(width, height, format, 0) {}

PixelBuffer::PixelBuffer(int width, int height, PixelFormat format, size_t lead) : format_(format) {
  if (width <= 0 || height <= 0 || width > kMaxSide || height > kMaxSide) return;
  const size_t row = size_t(width) * kv::BytesPerPixel(format);
  const size_t stride = (row + kStrideAlign - 1) / kStrideAlign * kStrideAlign;
  uint8_t* p = static_cast<uint8_t*>(std::aligned_alloc(kStrideAlign, lead + stride * size_t(height)));
  if (!p) return;
  std::memset(p + lead, 0, stride * size_t(height));
  owned_.reset(p);
  data_ = p + lead;
  width_ = width;
  height_ = height;
  stride_ = ptrdiff_t(stride);
}

PixelBuffer PixelBuffer::HalfPageOffset(int width, int height, PixelFormat format) {
  return PixelBuffer(width, height, format, 2048);
}

PixelBuffer PixelBuffer::Wrap(uint8_t* data, int width, int height, ptrdiff_t stride, PixelFormat format) {
  PixelBuffer b;
  b.data_ = data;
  b.width_ = width;
  b.height_ = height;
  b.stride_ = stride;
  b.format_ = format;
  return b;
}

PixelBuffer PixelBuffer::Clone() const {
  PixelBuffer b(width_, height_, format_);
  if (!b.IsNull())
    for (int y = 0; y < height_; ++y) std::memcpy(b.Row(y), Row(y), size_t(width_) * BytesPerPixel());
  return b;
}

ColorRef PixelBuffer::GetPixel(int x, int y) const {
  if (!Bounds().Contains(x, y)) return ColorRef();
  if (format_ == PixelFormat::kXrgb32) {
    uint32_t p;
    std::memcpy(&p, At(x, y), 4);
    return FromXrgb32(p);
  }
  uint16_t p;
  std::memcpy(&p, At(x, y), 2);
  return FromRgb565(p);
}

void PixelBuffer::SetPixel(int x, int y, ColorRef c) { Fill({x, y, x + 1, y + 1}, c); }

void PixelBuffer::Fill(const Rect& r, ColorRef c) {
  const Rect f = r.Intersect(Bounds());
  if (f.IsEmpty()) return;
  if (format_ == PixelFormat::kXrgb32)
    loops::Fill32(At(f.left, f.top), stride_, f.Width(), f.Height(), ToXrgb32(c));
  else
    loops::Fill16(At(f.left, f.top), stride_, f.Width(), f.Height(), ToRgb565(c));
}

void CopyRect(PixelBuffer& dst, const PixelBuffer& src, const Rect& r) {
  const Rect c = r.Intersect(dst.Bounds()).Intersect(src.Bounds());
  if (c.IsEmpty()) return;
  uint8_t* d = dst.At(c.left, c.top);
  const uint8_t* s = src.At(c.left, c.top);
  const int w = c.Width(), h = c.Height();
  if (dst.Format() == src.Format()) {
    loops::CopyRows(d, dst.Stride(), s, src.Stride(), w * dst.BytesPerPixel(), h);
  } else if (dst.Format() == PixelFormat::kXrgb32) {
    loops::Convert565To32(d, dst.Stride(), s, src.Stride(), w, h);
  } else {
    loops::Convert32To16(d, dst.Stride(), s, src.Stride(), w, h);
  }
}

}  // namespace kv
