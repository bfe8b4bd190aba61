// TGA: colour-mapped (types 1 and 9), true-colour (2 and 10) and greyscale
// (3 and 11) pictures of 8, 15, 16, 24 and 32 bits, raw or run-length
// encoded, in any of the four origins. A 16-bit grey pixel is the grey byte
// and an alpha byte; the alpha is dropped, as for every other depth.
#include <algorithm>
#include <cstring>

#include "imaging/codec_internal.h"
#include "stage/pixel_format.h"

namespace kv::imaging::detail {

namespace {

enum ImageType : uint8_t { kMapped = 1, kTrueColor = 2, kGrey = 3, kRle = 8 };
constexpr uint8_t kRightToLeft = 0x10;
constexpr uint8_t kTopToBottom = 0x20;

ColorRef MapEntry(const uint8_t* e, int bits) {
  if (bits <= 16) {
    return FromRgb555(uint16_t(LoadLe16(e) & 0x7FFF));
  }
  return ColorRef::FromRgb(e[2], e[1], e[0]);
}

}  // namespace

void DecodeTga(std::span<const uint8_t> bytes, Picture& out, const DecodeOptions& options) {
  ByteReader in(bytes);
  const uint8_t idLength = in.U8();
  const uint8_t mapType = in.U8();
  const uint8_t type = in.U8();
  const uint16_t mapFirst = in.U16();
  const uint16_t mapLength = in.U16();
  const uint8_t mapBits = in.U8();
  in.Skip(4);  // origin on screen
  const int64_t width = in.U16();
  const int64_t height = in.U16();
  const int depth = in.U8();
  const uint8_t descriptor = in.U8();
  in.Skip(idLength);

  const int base = type & ~kRle;
  const bool rle = (type & kRle) != 0;
  if (type > 11 || (base != kMapped && base != kTrueColor && base != kGrey))
    Fail(PicError::kUnsupported, "TGA image type is not supported");
  if (mapType > 1) Fail(PicError::kCorrupt, "TGA colour map type is unknown");
  if (base == kMapped && (mapType != 1 || depth != 8)) Fail(PicError::kUnsupported, "TGA colour-mapped pictures need 8-bit indexes");
  if (base == kTrueColor && depth != 15 && depth != 16 && depth != 24 && depth != 32)
    Fail(PicError::kUnsupported, "TGA true-colour depth is not supported");
  if (base == kGrey && depth != 8 && depth != 16) Fail(PicError::kUnsupported, "TGA grey depth is not supported");
  CheckSize(width, height, options.maxPixels);

  std::vector<ColorRef> table;
  if (mapType == 1) {
    if (mapBits != 15 && mapBits != 16 && mapBits != 24 && mapBits != 32)
      Fail(PicError::kUnsupported, "TGA colour map entry size is not supported");
    const int entry = (mapBits + 7) / 8;
    const auto raw = in.Take(uint64_t(mapLength) * uint64_t(entry));
    if (base == kMapped) {
      // Indexes count from the map's first entry; others read as black.
      table.resize(std::min<size_t>(256, size_t(mapFirst) + mapLength));
      for (size_t i = mapFirst; i < table.size(); ++i) table[i] = MapEntry(&raw[(i - mapFirst) * size_t(entry)], mapBits);
    }
  } else if (base == kMapped) {
    Fail(PicError::kCorrupt, "TGA colour-mapped picture has no map");
  }
  if (base == kGrey) table = GreyTable(8);

  const int pixelBytes = (depth + 7) / 8;
  const uint64_t pixels = uint64_t(width) * uint64_t(height);
  // Before allocating: a run packet of 1 + pixelBytes bytes gives at most 128 pixels.
  const uint64_t needed = rle ? (pixels + 127) / 128 * uint64_t(1 + pixelBytes) : pixels * uint64_t(pixelBytes);
  if (needed > in.Remaining()) Fail(PicError::kTruncated, "TGA pixel data is cut short");

  // What a pixel keeps: grey with alpha keeps its grey byte alone.
  const bool greyAlpha = base == kGrey && pixelBytes == 2;
  const size_t keep = greyAlpha ? 1 : size_t(pixelBytes);
  const int outBits = keep == 1 ? 8 : pixelBytes * 8;
  DecodedPicture pic = NewPicture(width, height, outBits, options.maxPixels);
  pic.colorTable = std::move(table);

  // File-order pixels go straight to their place by the origin bits.
  const bool topDown = descriptor & kTopToBottom;
  const bool mirrored = descriptor & kRightToLeft;
  const size_t pb = size_t(pixelBytes);
  int64_t x = 0, y = 0;
  uint8_t* row = &pic.bits[size_t((topDown ? 0 : height - 1) * pic.stride)];
  auto put = [&](const uint8_t* src, size_t count) {
    for (size_t i = 0; i < count; ++i, src += pb) {
      uint8_t* dst = row + size_t(mirrored ? width - 1 - x : x) * keep;
      std::memcpy(dst, src, keep);
      if (keep == 2) dst[1] &= 0x7F;  // the top bit is an attribute, not colour
      if (++x == width) {
        x = 0;
        if (++y < height) row += topDown ? pic.stride : -pic.stride;
      }
    }
  };
  if (!rle && !mirrored && pb != 2 && keep == pb) {
    for (int64_t r = 0; r < height; ++r, row += topDown ? pic.stride : -pic.stride)
      std::memcpy(row, in.Take(uint64_t(width) * pb).data(), size_t(width) * pb);
  } else if (!rle) {
    for (int64_t r = 0; r < height; ++r) put(in.Take(uint64_t(width) * pb).data(), size_t(width));
  } else {
    uint64_t left = pixels;
    while (left > 0) {
      const uint8_t packet = in.U8();
      const size_t count = size_t(std::min<uint64_t>((packet & 0x7F) + 1u, left));
      if (packet & 0x80) {
        const uint8_t* value = in.Take(pb).data();
        for (size_t i = 0; i < count; ++i) put(value, 1);
      } else {
        put(in.Take(uint64_t(count) * pb).data(), count);
      }
      left -= count;
    }
  }
  out.pixels = std::move(pic);
  out.fileBits = depth;
}

void EncodeTga(const PictureView& pic, std::vector<uint8_t>& out) {
  const bool mapped = pic.bitsPerPixel == 8;
  const bool sixteen = pic.bitsPerPixel == 16 && pic.layout16 == Layout16::k555;
  const int depth = mapped ? 8 : sixteen ? 16 : 24;
  const size_t mapLength = mapped ? std::max<size_t>(1, pic.colorTable.size()) : 0;
  out.clear();
  Put8(out, 0);
  Put8(out, mapped ? 1 : 0);
  Put8(out, mapped ? kMapped : kTrueColor);
  Put16(out, 0);
  Put16(out, uint32_t(mapLength));
  Put8(out, mapped ? 24 : 0);
  Put32(out, 0);
  Put16(out, uint32_t(pic.width));
  Put16(out, uint32_t(pic.height));
  Put8(out, uint32_t(depth));
  Put8(out, kTopToBottom);
  for (size_t i = 0; i < mapLength; ++i) {
    const ColorRef c = i < pic.colorTable.size() ? pic.colorTable[i] : ColorRef();
    Put8(out, c.Blue());
    Put8(out, c.Green());
    Put8(out, c.Red());
  }
  std::vector<uint8_t> rgb(size_t(pic.width) * 3);
  for (int y = 0; y < pic.height; ++y) {
    const uint8_t* row = pic.bits + pic.stride * y;
    if (mapped || sixteen) {
      out.insert(out.end(), row, row + size_t(pic.width) * size_t(depth / 8));
      continue;
    }
    RowToRgb(pic, y, rgb.data());
    for (int x = 0; x < pic.width; ++x) {
      Put8(out, rgb[size_t(3 * x + 2)]);
      Put8(out, rgb[size_t(3 * x + 1)]);
      Put8(out, rgb[size_t(3 * x)]);
    }
  }
  // The version 2 footer (no extension or developer area): some readers
  // accept only files that carry it.
  Put32(out, 0);
  Put32(out, 0);
  static constexpr char kSignature[] = "TRUEVISION-XFILE.";
  out.insert(out.end(), kSignature, kSignature + sizeof kSignature);
}

}  // namespace kv::imaging::detail
