// The compositor's hot pixel loops: plain pointers, strides in bytes, sizes in
// pixels. No locks, no virtual calls, no allocation; the caller clips. Built
// with -O3 and an AVX2 clone of every function. Stretch loops take per-column
// and per-row source indexes that the caller computed (stage/stretch_map.h).
#pragma once

#include <cstddef>
#include <cstdint>

namespace kv::loops {

// Inclusive channel ranges that count as transparent.
struct KeyRanges {
  uint8_t redMin = 0, redMax = 0, greenMin = 0, greenMax = 0, blueMin = 0, blueMax = 0;
};

void CopyRows(uint8_t* dst, ptrdiff_t dstStride, const uint8_t* src, ptrdiff_t srcStride, int rowBytes, int h);
void Fill32(uint8_t* dst, ptrdiff_t dstStride, int w, int h, uint32_t pixel);
void Fill16(uint8_t* dst, ptrdiff_t dstStride, int w, int h, uint16_t pixel);

// Keyed copies: a source pixel is written unless it is transparent.
// 32: channels of 0xXXRRGGBB; 16: 5-6-5 expanded by shifting.
void KeyedCopy32(uint8_t* dst, ptrdiff_t ds, const uint8_t* src, ptrdiff_t ss, int w, int h, KeyRanges k);
void KeyedCopy16(uint8_t* dst, ptrdiff_t ds, const uint8_t* src, ptrdiff_t ss, int w, int h, KeyRanges k);
void KeyedCopyExact16(uint8_t* dst, ptrdiff_t ds, const uint8_t* src, ptrdiff_t ss, int w, int h, uint16_t key);
// Pictures that came from 8-bit data: `index` is the picture's index plane,
// transparent[i] != 0 marks the indexes that are not drawn.
void KeyedCopyIndexed32(uint8_t* dst, ptrdiff_t ds, const uint8_t* src, ptrdiff_t ss, const uint8_t* index,
                        ptrdiff_t is, int w, int h, const uint8_t* transparent);
void KeyedCopyIndexed16(uint8_t* dst, ptrdiff_t ds, const uint8_t* src, ptrdiff_t ss, const uint8_t* index,
                        ptrdiff_t is, int w, int h, const uint8_t* transparent);

// Nearest-neighbour stretch: destination pixel (x, y) of the w x h block
// takes source pixel (cols[x], rows[y]) of the picture that starts at `src`.
void Stretch32(uint8_t* dst, ptrdiff_t ds, const uint8_t* src, ptrdiff_t ss, const int32_t* cols, int w,
               const int32_t* rows, int h);
void Stretch16(uint8_t* dst, ptrdiff_t ds, const uint8_t* src, ptrdiff_t ss, const int32_t* cols, int w,
               const int32_t* rows, int h);
void StretchKeyed32(uint8_t* dst, ptrdiff_t ds, const uint8_t* src, ptrdiff_t ss, const int32_t* cols, int w,
                    const int32_t* rows, int h, KeyRanges k);
void StretchKeyed16(uint8_t* dst, ptrdiff_t ds, const uint8_t* src, ptrdiff_t ss, const int32_t* cols, int w,
                    const int32_t* rows, int h, KeyRanges k);
void StretchKeyedExact16(uint8_t* dst, ptrdiff_t ds, const uint8_t* src, ptrdiff_t ss, const int32_t* cols, int w,
                         const int32_t* rows, int h, uint16_t key);
void StretchKeyedIndexed32(uint8_t* dst, ptrdiff_t ds, const uint8_t* src, ptrdiff_t ss, const uint8_t* index,
                           ptrdiff_t is, const int32_t* cols, int w, const int32_t* rows, int h,
                           const uint8_t* transparent);
void StretchKeyedIndexed16(uint8_t* dst, ptrdiff_t ds, const uint8_t* src, ptrdiff_t ss, const uint8_t* index,
                           ptrdiff_t is, const int32_t* cols, int w, const int32_t* rows, int h,
                           const uint8_t* transparent);

// Masked copies: a source pixel is written where its mask byte equals `on`
// (one byte per pixel, `ms` bytes between mask rows).
void MaskedCopy32(uint8_t* dst, ptrdiff_t ds, const uint8_t* src, ptrdiff_t ss, const uint8_t* mask, ptrdiff_t ms,
                  int w, int h, uint8_t on);
void MaskedCopy16(uint8_t* dst, ptrdiff_t ds, const uint8_t* src, ptrdiff_t ss, const uint8_t* mask, ptrdiff_t ms,
                  int w, int h, uint8_t on);

// Conversions of attached pictures into a stage format. `palette` holds 256
// ready stage pixels. 24-bit sources are B, G, R bytes; 32-bit are B, G, R, X.
void ConvertIndexedTo32(uint8_t* dst, ptrdiff_t ds, const uint8_t* src, ptrdiff_t ss, int w, int h,
                        const uint32_t* palette);
void ConvertIndexedTo16(uint8_t* dst, ptrdiff_t ds, const uint8_t* src, ptrdiff_t ss, int w, int h,
                        const uint16_t* palette);
void Convert555To32(uint8_t* dst, ptrdiff_t ds, const uint8_t* src, ptrdiff_t ss, int w, int h);
void Convert565To32(uint8_t* dst, ptrdiff_t ds, const uint8_t* src, ptrdiff_t ss, int w, int h);
void Convert24To32(uint8_t* dst, ptrdiff_t ds, const uint8_t* src, ptrdiff_t ss, int w, int h);
void Convert32To32(uint8_t* dst, ptrdiff_t ds, const uint8_t* src, ptrdiff_t ss, int w, int h);
void Convert555To16(uint8_t* dst, ptrdiff_t ds, const uint8_t* src, ptrdiff_t ss, int w, int h);
void Convert24To16(uint8_t* dst, ptrdiff_t ds, const uint8_t* src, ptrdiff_t ss, int w, int h);
void Convert32To16(uint8_t* dst, ptrdiff_t ds, const uint8_t* src, ptrdiff_t ss, int w, int h);

}  // namespace kv::loops
