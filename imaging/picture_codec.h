// The picture library: decoders and encoders of the raster picture formats,
// Qt-free. Bytes in, our picture (pixels and colour table) out, and back.
// Called by the picture loader of the display kind, kvtool and the tests.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/geometry.h"
#include "stage/picture.h"
#include "stage/sprite.h"

namespace kv::imaging {

// The library's format numbers; 1 to 6 are the ones stored pictures name.
enum class FileType : int32_t {
  kUnknown = 0,
  kBmp = 1,
  kGif = 2,
  kPcx = 3,
  kTga = 4,
  kJpeg = 5,
  kTiff = 6,
  kPng = 7,
};

// The library's error codes, kept by callers as the picture's last error.
enum class PicError : int32_t {
  kNone = 0,
  kCannotOpen = 1,     // the file cannot be read
  kUnknownType = 2,    // not a picture of a supported format
  kTruncated = 3,      // the data ends before the picture does
  kCorrupt = 4,        // the data contradicts itself
  kUnsupported = 5,    // a variant of the format this library does not read or write
  kTooLarge = 6,       // a side over kMaxSide, or more pixels than memory allows
  kCannotWrite = 7,    // the target file could not be written
};

// Pictures wider or higher than this are refused before anything is allocated.
inline constexpr int kMaxSide = 16384;
// Behind pictures with an alpha channel unless the caller names a colour.
inline constexpr ColorRef kDefaultBackdrop = kDefaultKeyColor;

struct Picture {
  // 8 bits (indexes into colorTable), 16 (5-5-5 or 5-6-5), 24 (B, G, R) or
  // 32 (B, G, R, unused); top-down, rows padded to four bytes.
  DecodedPicture pixels;
  int fileBits = 0;           // bits per pixel as stored in the file
  int transparentIndex = -1;  // GIF: the transparent colour index, -1 when none
};

struct DecodeOptions {
  // Pixels with an alpha channel are composited onto this colour, so that a
  // keyed sprite with the same key shows them transparent.
  ColorRef backdrop = kDefaultBackdrop;
  // Pictures of more pixels are refused as too large; fuzzers lower it.
  uint64_t maxPixels = uint64_t(kMaxSide) * kMaxSide;
};

struct EncodeOptions {
  int jpegQuality = 80;        // 1..100
  int tiffCompression = 5;     // the TIFF Compression tag: 1 none, 5 LZW, 8 deflate, 32773 PackBits
  int gifTransparentIndex = -1;
};

// The result of one decode or encode.
struct Outcome {
  PicError error = PicError::kNone;
  std::string detail;  // a short English reason for logs and tools
  explicit operator bool() const { return error == PicError::kNone; }
};

// Row y of any picture as R, G, B bytes (width * 3); 16-bit channels are
// expanded by shifting, as the stage reads them.
void RowToRgb(const PictureView& picture, int y, uint8_t* rgb);

// From the content; TGA, which has no signature, from a name ending in ".TGA".
FileType DetectType(std::span<const uint8_t> bytes, std::string_view name);
FileType TypeFromExtension(std::string_view name);
const char* TypeName(FileType type);

Outcome Decode(std::span<const uint8_t> bytes, FileType type, Picture& out, const DecodeOptions& options = {});
// Reads the file and decodes it by its detected type.
Outcome DecodeFile(const std::string& hostPath, Picture& out, FileType* type = nullptr,
                   const DecodeOptions& options = {});

Outcome Encode(const PictureView& picture, FileType type, std::vector<uint8_t>& out,
               const EncodeOptions& options = {});
// Encodes and writes through a temporary file renamed over `hostPath`, so a
// failed save leaves the old file as it was.
Outcome EncodeFile(const PictureView& picture, FileType type, const std::string& hostPath,
                   const EncodeOptions& options = {});

}  // namespace kv::imaging
