#include "stage/bmp.h"

#include <cstring>

#include "platform/files.h"

namespace kv {

namespace {

constexpr int kMaxSide = 32768;
constexpr uint64_t kMaxPixelBytes = 256u << 20;
constexpr uint32_t kBiRgb = 0;
constexpr uint32_t kBiBitfields = 3;

uint32_t U32(std::span<const uint8_t> b, size_t at) {
  return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 | uint32_t(b[at + 3]) << 24;
}
uint16_t U16(std::span<const uint8_t> b, size_t at) { return uint16_t(b[at] | b[at + 1] << 8); }

std::optional<DecodedPicture> Fail(std::string* error, const char* why) {
  if (error) *error = why;
  return std::nullopt;
}

}  // namespace

std::optional<DecodedPicture> ReadBmp(std::span<const uint8_t> file, std::string* error) {
  if (file.size() < 14 + 40 || file[0] != 'B' || file[1] != 'M') return Fail(error, "not a BMP file");
  const uint32_t offBits = U32(file, 10);
  const uint32_t headerSize = U32(file, 14);
  if (headerSize < 40 || headerSize > file.size() - 14) return Fail(error, "unsupported BMP header");
  const int32_t width = int32_t(U32(file, 18));
  const int32_t rawHeight = int32_t(U32(file, 22));
  const uint16_t planes = U16(file, 26);
  const uint16_t bpp = U16(file, 28);
  const uint32_t compression = U32(file, 30);
  uint32_t colorsUsed = U32(file, 46);
  if (planes != 1) return Fail(error, "BMP planes is not 1");
  if (rawHeight == INT32_MIN || width <= 0 || width > kMaxSide || rawHeight == 0 ||
      (rawHeight < 0 ? -rawHeight : rawHeight) > kMaxSide)
    return Fail(error, "BMP size out of range");
  const bool topDown = rawHeight < 0;
  const int height = topDown ? -rawHeight : rawHeight;

  DecodedPicture pic;
  pic.width = width;
  pic.height = height;
  pic.bitsPerPixel = bpp;
  size_t tableAt = 14 + size_t(headerSize);
  if (bpp == 8) {
    if (compression != kBiRgb) return Fail(error, "compressed BMP is not supported");
    if (colorsUsed == 0 || colorsUsed > 256) colorsUsed = 256;
    if (tableAt + 4 * size_t(colorsUsed) > file.size()) return Fail(error, "BMP colour table is cut short");
    // Indexes past the table read as black, as an unset table entry would.
    pic.colorTable.assign(256, ColorRef());
    for (uint32_t i = 0; i < colorsUsed; ++i) {
      const size_t at = tableAt + 4 * i;
      pic.colorTable[i] = ColorRef::FromRgb(file[at + 2], file[at + 1], file[at]);
    }
  } else if (bpp == 16 || bpp == 32) {
    if (compression == kBiBitfields) {
      const size_t masksAt = headerSize >= 52 ? 14 + 40 : tableAt;
      if (masksAt + 12 > file.size()) return Fail(error, "BMP colour masks are cut short");
      const uint32_t r = U32(file, masksAt), g = U32(file, masksAt + 4), b = U32(file, masksAt + 8);
      if (bpp == 16 && r == 0xF800 && g == 0x07E0 && b == 0x001F) {
        pic.layout16 = Layout16::k565;
      } else if (bpp == 16 && r == 0x7C00 && g == 0x03E0 && b == 0x001F) {
        pic.layout16 = Layout16::k555;
      } else if (!(bpp == 32 && r == 0x00FF0000 && g == 0x0000FF00 && b == 0x000000FF)) {
        return Fail(error, "BMP colour masks are not supported");
      }
    } else if (compression != kBiRgb) {
      return Fail(error, "compressed BMP is not supported");
    }
  } else if (bpp == 24) {
    if (compression != kBiRgb) return Fail(error, "compressed BMP is not supported");
  } else {
    return Fail(error, "BMP bit depth is not supported");
  }

  const uint64_t stride = (uint64_t(width) * bpp + 31) / 32 * 4;
  const uint64_t bytes = stride * uint64_t(height);
  if (bytes > kMaxPixelBytes) return Fail(error, "BMP is too large");
  if (offBits > file.size() || bytes > file.size() - offBits) return Fail(error, "BMP pixel data is cut short");
  pic.stride = ptrdiff_t(stride);
  pic.bits.resize(size_t(bytes));
  for (int y = 0; y < height; ++y) {
    const int fileRow = topDown ? y : height - 1 - y;
    std::memcpy(pic.bits.data() + stride * y, file.data() + offBits + stride * fileRow, size_t(stride));
  }
  return pic;
}

std::optional<DecodedPicture> ReadBmpFile(const std::string& path, std::string* error) {
  // A folder or device named as a picture is refused, not read.
  std::string bytes;
  int err = 0;
  if (!ReadHostFile(path, bytes, &err)) {
    if (error) *error = "cannot open the picture file: " + ErrnoText(err);
    return std::nullopt;
  }
  return ReadBmp(std::span(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()), error);
}

}  // namespace kv
