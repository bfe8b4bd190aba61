// Our own picture: width, height, top-down rows with a stride aligned to 64
// bytes, in one of the stage formats. Owns its memory or wraps a caller's
// (a target buffer, a QImage's bits). The compositor, sprites and tools use it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>

#include "platform/geometry.h"
#include "stage/pixel_format.h"

namespace kv {

class PixelBuffer {
 public:
  static constexpr size_t kStrideAlign = 64;

  PixelBuffer() = default;
  // Owned, zero-filled. Fails (IsNull) for sizes beyond the 32768 x 32768 limit.
  PixelBuffer(int width, int height, PixelFormat format = PixelFormat::kXrgb32);
  // The same, its rows starting half a page further into their pages than
  // any other buffer's. Large allocations all start at one offset in a page,
  // and with a stride that is a multiple of 4096 every row does too; copying
  // rows between two such buffers then has each row's loads wait on the
  // previous row's stores to the same page offset (4K aliasing). A buffer
  // that rows are copied into and out of (the off-screen picture) is made so.
  static PixelBuffer HalfPageOffset(int width, int height, PixelFormat format);
  // Wraps memory the caller keeps alive; no copy.
  static PixelBuffer Wrap(uint8_t* data, int width, int height, ptrdiff_t stride, PixelFormat format);

  PixelBuffer(PixelBuffer&&) noexcept = default;
  PixelBuffer& operator=(PixelBuffer&&) noexcept = default;
  PixelBuffer(const PixelBuffer&) = delete;
  PixelBuffer& operator=(const PixelBuffer&) = delete;
  PixelBuffer Clone() const;

  bool IsNull() const { return data_ == nullptr; }
  int Width() const { return width_; }
  int Height() const { return height_; }
  ptrdiff_t Stride() const { return stride_; }
  PixelFormat Format() const { return format_; }
  int BytesPerPixel() const { return kv::BytesPerPixel(format_); }
  Rect Bounds() const { return {0, 0, width_, height_}; }

  uint8_t* Data() { return data_; }
  const uint8_t* Data() const { return data_; }
  uint8_t* Row(int y) { return data_ + y * stride_; }
  const uint8_t* Row(int y) const { return data_ + y * stride_; }
  uint8_t* At(int x, int y) { return Row(y) + x * BytesPerPixel(); }
  const uint8_t* At(int x, int y) const { return Row(y) + x * BytesPerPixel(); }

  ColorRef GetPixel(int x, int y) const;
  void SetPixel(int x, int y, ColorRef c);
  // Fills the part of `r` inside the buffer.
  void Fill(const Rect& r, ColorRef c);
  void Fill(ColorRef c) { Fill(Bounds(), c); }

 private:
  PixelBuffer(int width, int height, PixelFormat format, size_t lead);

  struct FreeDeleter {
    void operator()(uint8_t* p) const { std::free(p); }
  };
  std::unique_ptr<uint8_t, FreeDeleter> owned_;
  uint8_t* data_ = nullptr;
  int width_ = 0;
  int height_ = 0;
  ptrdiff_t stride_ = 0;
  PixelFormat format_ = PixelFormat::kXrgb32;
};

// Copies `r` of `src` to the same position in `dst`, converting formats when
// they differ. Both are clipped to their bounds.
void CopyRect(PixelBuffer& dst, const PixelBuffer& src, const Rect& r);

}  // namespace kv
