// What the format files of the picture library share: the failure they throw,
// a bounds-checked reader over the file's bytes, checked picture allocation
// and the row conversions of the encoders.
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>
#include <span>
#include <string_view>
#include <vector>

#include "imaging/picture_codec.h"
#include "platform/byte_reader.h"

namespace kv::imaging::detail {

// Thrown inside a decoder or encoder; Decode and Encode turn it into an Outcome.
struct Failure {
  PicError error;
  const char* why;
};
[[noreturn]] void Fail(PicError error, const char* why);

// Runs a decoder or encoder and turns its failure, or running out of memory, into an Outcome.
template <typename Work>
Outcome Catching(Work&& work) {
  try {
    work();
    return {};
  } catch (const Failure& f) {
    return {f.error, f.why};
  } catch (const std::bad_alloc&) {
    return {PicError::kTooLarge, "not enough memory for the picture"};
  }
}

// The shared reader: reading past the end throws kTruncated.
class ByteReader : public kv::ByteReader {
 public:
  explicit ByteReader(std::span<const uint8_t> bytes, size_t at = 0);
  void Seek(size_t at);
};

// Bytes per row of `bits`-per-pixel pixels padded to four bytes, in 64 bits.
constexpr uint64_t PaddedStride(uint64_t width, uint64_t bits) { return (width * bits + 31) / 32 * 4; }

// Refuses sides of zero, sides over kMaxSide and more than `maxPixels`
// pixels, before any allocation.
void CheckSize(int64_t width, int64_t height, uint64_t maxPixels);
// A zero-filled top-down picture of 8, 16, 24 or 32 bits; sizes checked first.
DecodedPicture NewPicture(int64_t width, int64_t height, int bitsPerPixel, uint64_t maxPixels);
// A grey ramp of 2^bits entries, for greyscale pictures held as 8-bit indexes.
std::vector<ColorRef> GreyTable(int bits);

// Whether the 8-bit picture's colour table is a grey ramp (0, 1, ... 255).
bool IsGreyRamp(const PictureView& picture);
// Whether `s` ends in `tail` (upper case), ignoring the case of ASCII letters.
bool EndsWithNoCase(std::string_view s, std::string_view tail);
// a·c + (255 − a)·k, rounded: a colour channel over the backdrop.
inline uint8_t Over(uint8_t c, uint8_t alpha, uint8_t backdrop) {
  return uint8_t((c * alpha + backdrop * (255 - alpha) + 127) / 255);
}

// The formats.
void DecodeBmp(std::span<const uint8_t> bytes, Picture& out, const DecodeOptions& options);
// A device-independent bitmap inside `bytes`: its information header at
// `headerAt`, its colour table after it and its bits at `offBits` (0: right
// after the table). BMP files, the bitmaps in metafile records and cursor
// images. Answers the offset just past the pixel rows of an uncompressed
// bitmap (a cursor's mask follows there), else the end of `bytes`.
uint64_t DecodeDib(std::span<const uint8_t> bytes, size_t headerAt, uint64_t offBits, Picture& out,
               const DecodeOptions& options);
void DecodePcx(std::span<const uint8_t> bytes, Picture& out, const DecodeOptions& options);
void DecodeTga(std::span<const uint8_t> bytes, Picture& out, const DecodeOptions& options);
void DecodeGif(std::span<const uint8_t> bytes, Picture& out, const DecodeOptions& options);
void DecodeJpeg(std::span<const uint8_t> bytes, Picture& out, const DecodeOptions& options);
void DecodeTiff(std::span<const uint8_t> bytes, Picture& out, const DecodeOptions& options);
void DecodePng(std::span<const uint8_t> bytes, Picture& out, const DecodeOptions& options);

void EncodeBmp(const PictureView& picture, std::vector<uint8_t>& out);
void EncodePcx(const PictureView& picture, std::vector<uint8_t>& out);
void EncodeTga(const PictureView& picture, std::vector<uint8_t>& out);
void EncodeGif(const PictureView& picture, int transparentIndex, std::vector<uint8_t>& out);
void EncodeJpeg(const PictureView& picture, int quality, std::vector<uint8_t>& out);
void EncodeTiff(const PictureView& picture, int compression, std::vector<uint8_t>& out);
void EncodePng(const PictureView& picture, std::vector<uint8_t>& out);

// Little-endian appends for the encoders.
inline void Put8(std::vector<uint8_t>& out, uint32_t v) { out.push_back(uint8_t(v)); }
inline void Put16(std::vector<uint8_t>& out, uint32_t v) {
  out.push_back(uint8_t(v));
  out.push_back(uint8_t(v >> 8));
}
inline void Put32(std::vector<uint8_t>& out, uint32_t v) {
  Put16(out, v & 0xFFFF);
  Put16(out, v >> 16);
}

}  // namespace kv::imaging::detail
