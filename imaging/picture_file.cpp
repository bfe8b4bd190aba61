#include "imaging/picture_file.h"

#include <atomic>
#include <cstring>
#include <vector>

#include "imaging/codec_internal.h"
#include "platform/picture_bound.h"

namespace kv::imaging {
namespace {

ptrdiff_t PaddedStride(int width, int bits) { return ptrdiff_t((int64_t(width) * bits + 31) / 32 * 4); }

DecodedPicture Blank(int width, int height, int bits, Layout16 layout = Layout16::k555) {
  DecodedPicture p;
  p.width = width;
  p.height = height;
  p.bitsPerPixel = bits;
  p.layout16 = layout;
  p.stride = PaddedStride(width, bits);
  p.bits.assign(size_t(p.stride) * size_t(height), 0);
  return p;
}

std::atomic<int> unnamedCounter{0};

}  // namespace

DecodedPicture CopyPicture(const PictureView& picture) {
  DecodedPicture p = Blank(picture.width, picture.height, picture.bitsPerPixel, picture.layout16);
  const size_t rowBytes = size_t(picture.width) * size_t(picture.bitsPerPixel / 8);
  for (int y = 0; y < picture.height; ++y)
    std::memcpy(&p.bits[size_t(y) * size_t(p.stride)], picture.bits + y * picture.stride, rowBytes);
  p.colorTable.assign(picture.colorTable.begin(), picture.colorTable.end());
  return p;
}

std::optional<DecodedPicture> ResizePicture(const PictureView& picture, int width, int height) {
  if (width < 1 || height < 1 || width > kMaxSide || height > kMaxSide || !WithinPictureBound(width, height) ||
      picture.width < 1 || picture.height < 1)
    return std::nullopt;
  DecodedPicture p = Blank(width, height, picture.bitsPerPixel, picture.layout16);
  p.colorTable.assign(picture.colorTable.begin(), picture.colorTable.end());
  const int bpp = picture.bitsPerPixel / 8;
  std::vector<int> cols(static_cast<size_t>(width));
  // Each target pixel takes the source pixel under its centre.
  for (int x = 0; x < width; ++x) cols[size_t(x)] = int((int64_t(x) * 2 + 1) * picture.width / (int64_t(width) * 2));
  for (int y = 0; y < height; ++y) {
    const int sy = int((int64_t(y) * 2 + 1) * picture.height / (int64_t(height) * 2));
    const uint8_t* src = picture.bits + sy * picture.stride;
    uint8_t* dst = &p.bits[size_t(y) * size_t(p.stride)];
    for (int x = 0; x < width; ++x) std::memcpy(dst + x * bpp, src + cols[size_t(x)] * bpp, size_t(bpp));
  }
  return p;
}

std::optional<DecodedPicture> ConvertDepth(const PictureView& picture, int bits) {
  if (picture.bitsPerPixel == bits) return CopyPicture(picture);
  if (bits == 8) return imaging::ReduceColors(picture);
  if (bits != 16 && bits != 24 && bits != 32) return std::nullopt;
  DecodedPicture p = Blank(picture.width, picture.height, bits);
  std::vector<uint8_t> rgb(size_t(picture.width) * 3);
  for (int y = 0; y < picture.height; ++y) {
    RowToRgb(picture, y, rgb.data());
    uint8_t* d = &p.bits[size_t(y) * size_t(p.stride)];
    for (int x = 0; x < picture.width; ++x) {
      const uint8_t r = rgb[size_t(x) * 3], g = rgb[size_t(x) * 3 + 1], b = rgb[size_t(x) * 3 + 2];
      if (bits == 16) {
        const uint16_t v = uint16_t((r >> 3) << 10 | (g >> 3) << 5 | b >> 3);
        d[x * 2] = uint8_t(v), d[x * 2 + 1] = uint8_t(v >> 8);
      } else {
        uint8_t* q = d + x * (bits / 8);
        q[0] = b, q[1] = g, q[2] = r;
      }
    }
  }
  return p;
}

bool PictureFile::Load(const std::string& hostPath) {
  Picture picture;
  FileType type = FileType::kUnknown;
  const Outcome outcome = DecodeFile(hostPath, picture, &type);
  if (outcome.error == PicError::kUnknownType) return Fail(kErrUnknownPictureType);
  // The old picture, its name and type stay until a new one has been read.
  if (!outcome) return Fail(int32_t(outcome.error));
  image_ = std::move(picture.pixels);
  fileName = hostPath;
  fileType = int32_t(type);
  formatPaletteIndex = type == FileType::kGif ? picture.transparentIndex : -1;
  lastError = 0;
  return true;
}

bool PictureFile::Save(const std::string& hostPath, int type) {
  const FileType as = type == -1 ? TypeFromExtension(hostPath) : FileType(type);
  if (int(as) < 1 || int(as) > 6) return Fail(kErrUnknownPictureType);
  fileName = hostPath;
  // Nothing to write is the library's failure to write.
  if (!HasImage()) return Fail(int32_t(PicError::kCannotWrite));
  EncodeOptions options;
  options.jpegQuality = jpegQuality;
  options.tiffCompression = tiffOption;
  options.gifTransparentIndex = formatPaletteIndex;
  const Outcome outcome = EncodeFile(View(), as, hostPath, options);
  if (!outcome) return Fail(int32_t(outcome.error));
  lastError = 0;
  return true;
}

bool PictureFile::SaveByExtension(const std::string& hostPath, int width, int height, int value) {
  if (!HasImage()) return Fail(int32_t(PicError::kCannotWrite));
  int bits = 0;  // the depth the format is saved at; 0: as held
  int32_t quality = jpegQuality, option = tiffOption;
  if (detail::EndsWithNoCase(hostPath, ".JPG")) {
    bits = 24;
    quality = value != 0 ? value : 80;
  } else if (detail::EndsWithNoCase(hostPath, ".GIF")) {
    bits = image_.bitsPerPixel > 8 ? 8 : 0;
  } else if (detail::EndsWithNoCase(hostPath, ".PCX") || detail::EndsWithNoCase(hostPath, ".TGA") || detail::EndsWithNoCase(hostPath, ".TIF")) {
    bits = value != 0 ? value : 24;
    if (detail::EndsWithNoCase(hostPath, ".TIF")) option = 5;
  } else if (!detail::EndsWithNoCase(hostPath, ".BMP") && !detail::EndsWithNoCase(hostPath, ".DIB")) {
    return Fail(kErrUnknownPictureType);
  }
  const bool resize = width != 0 && width != -1;
  if (resize && (width > kMaxSide || height > kMaxSide || !WithinPictureBound(width, height)))
    return Fail(int32_t(PicError::kTooLarge));
  // The held picture is not changed by a save: resizing and conversion work on a copy.
  PictureFile copy;
  copy.image_ = CopyPicture(View());
  if (resize) {
    auto resized = ResizePicture(copy.View(), width, height);
    if (!resized) return Fail(int32_t(PicError::kCorrupt));
    copy.image_ = std::move(*resized);
  }
  if (bits != 0 && bits != copy.image_.bitsPerPixel) {
    auto converted = ConvertDepth(copy.View(), bits);
    if (!converted) return Fail(int32_t(PicError::kUnsupported));
    copy.image_ = std::move(*converted);
  }
  copy.jpegQuality = quality;
  copy.tiffOption = option;
  copy.formatPaletteIndex = formatPaletteIndex;
  const bool saved = copy.Save(hostPath, -1);
  jpegQuality = quality;
  tiffOption = option;
  fileName = copy.fileName;
  lastError = copy.lastError;
  return saved;
}

bool PictureFile::FromBitmap(const PictureView& bitmap, const Palette& systemPalette) {
  const int bits = bitmap.bitsPerPixel;
  if ((bits != 8 && bits != 16 && bits != 24 && bits != 32) || bitmap.width < 1 || bitmap.height < 1 ||
      bitmap.bits == nullptr)
    return Fail(int32_t(PicError::kUnsupported));
  if (bitmap.width > kMaxSide || bitmap.height > kMaxSide) return Fail(int32_t(PicError::kTooLarge));
  image_ = CopyPicture(bitmap);
  if (bits == 8) image_.colorTable = systemPalette.entries;
  fileName = "UNNAMED" + std::to_string(unnamedCounter.fetch_add(1)) + ".BMP";
  fileType = int32_t(FileType::kBmp);
  formatPaletteIndex = -1;
  lastError = 0;
  return true;
}

bool PictureFile::ReduceColors() {
  if (!HasImage()) return Fail(int32_t(PicError::kUnsupported));
  image_ = imaging::ReduceColors(View());
  lastError = 0;
  return true;
}

}  // namespace kv::imaging
