// The picture object: one picture read from or written to the raster formats
// of the picture library, with the library's last error, a GIF's transparent
// index and the JPEG and TIFF options its saves pass on. Used by the display
// kind, the script picture builtins and saving the stage. One owner at a
// time: an object is not shared between threads.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "imaging/palette.h"
#include "imaging/picture_codec.h"

namespace kv::imaging {

// `lastError` for a file the library knows no type of (or a save to a type it
// does not write).
inline constexpr int32_t kErrUnknownPictureType = -200;

class PictureFile {
 public:
  // 0 after a success, the library's `PicError` number, or kErrUnknownPictureType.
  int32_t lastError = 0;
  // GIF: the transparent index read with the picture, -1 when none; written back by GIF saves.
  int32_t formatPaletteIndex = -1;
  int32_t jpegQuality = 80;
  // The TIFF Compression tag of TIFF saves (1 none, 5 LZW, 8 deflate, 32773 PackBits).
  int32_t tiffOption = 5;
  // The library's format number (1 to 6, 7 PNG); 0 unknown.
  int32_t fileType = 0;
  std::string fileName;

  bool HasImage() const { return image_.width > 0; }
  const DecodedPicture& image() const { return image_; }
  PictureView View() const { return image_.View(); }

  // Reads `hostPath` by its content (TGA by its name). A failed load keeps the
  // picture held before, with its name and type.
  bool Load(const std::string& hostPath);
  // Writes the picture as `type` (1 to 6; -1: from the name's extension)
  // through a temporary file renamed over the target.
  bool Save(const std::string& hostPath, int type);
  // Resizes to `width` x `height` unless `width` is 0 or -1, converts to what
  // the name's extension takes (`value`: JPEG quality, PCX/TGA/TIFF depth) and
  // saves; the held picture itself is left as it was.
  bool SaveByExtension(const std::string& hostPath, int width, int height, int value);
  // Takes a copy of `bitmap` (8, 16, 24 or 32 bits); an 8-bit bitmap's colours
  // are `systemPalette`'s. Named "UNNAMED<n>.BMP" from a process-wide counter.
  bool FromBitmap(const PictureView& bitmap, const Palette& systemPalette);
  // Reduces the picture to 8 bits with at most 256 colours.
  bool ReduceColors();

 private:
  bool Fail(int32_t error) {
    lastError = error;
    return false;
  }
  DecodedPicture image_;
};

// The picture nearest-neighbour resized; none when a side is below 1 or the size
// is past kMaxSide or the picture bound (platform/geometry.h).
std::optional<DecodedPicture> ResizePicture(const PictureView& picture, int width, int height);
// The picture at `bits` per pixel: 8 (reduced colours), 16 (5-5-5), 24 or 32;
// none for other depths.
std::optional<DecodedPicture> ConvertDepth(const PictureView& picture, int bits);
// Owned copy of a view, rows top-down and padded to four bytes.
DecodedPicture CopyPicture(const PictureView& picture);

}  // namespace kv::imaging
