// BMP: Windows headers of every version, OS/2 1.x and 2.x headers, 1 to 32
// bits, RLE4, RLE8, bit fields, top-down rows, and JPEG or PNG payloads.
#include <bit>
#include <cstring>

#include "imaging/codec_internal.h"

namespace kv::imaging::detail {

namespace {

enum Compression : uint32_t {
  kRgb = 0,
  kRle8 = 1,
  kRle4 = 2,
  kBitfields = 3,
  kJpeg = 4,
  kPng = 5,
  kAlphaBitfields = 6,
};

constexpr uint32_t kCoreHeader = 12;   // OS/2 1.x
constexpr uint32_t kInfoHeader = 40;   // Windows 3
constexpr uint32_t kOs2Header = 64;    // OS/2 2.x, also cut to 16 and more

struct Header {
  int64_t width = 0;
  int64_t height = 0;  // negative: rows stored top-down
  uint16_t bits = 0;
  uint32_t compression = kRgb;
  uint32_t colorsUsed = 0;
  uint32_t masks[3] = {};
  bool os2 = false;
  bool core = false;
};

// One channel of a bit-field pixel widened to eight bits by shifting, as the
// stage widens 16-bit pixels.
struct Channel {
  uint32_t mask = 0;
  int shift = 0;
  int bits = 0;

  explicit Channel(uint32_t m) : mask(m), shift(m ? std::countr_zero(m) : 0), bits(std::popcount(m)) {}
  uint8_t Value(uint32_t pixel) const {
    if (bits == 0) return 0;
    const uint32_t v = (pixel & mask) >> shift;
    return uint8_t(bits >= 8 ? v >> (bits - 8) : v << (8 - bits));
  }
};

bool Contiguous(uint32_t mask) {
  if (mask == 0) return true;
  const uint32_t shifted = mask >> std::countr_zero(mask);
  return (shifted & (shifted + 1)) == 0;
}

Header ReadHeader(ByteReader& in, uint32_t headerSize) {
  Header h;
  if (headerSize == kCoreHeader) {
    h.core = h.os2 = true;
    h.width = in.U16();
    h.height = in.U16();
    if (in.U16() != 1) Fail(PicError::kCorrupt, "BMP planes is not 1");
    h.bits = in.U16();
    return h;
  }
  if (headerSize < 16 || headerSize > 124 || (headerSize > kInfoHeader && headerSize < 52 && headerSize != kOs2Header))
    Fail(PicError::kUnsupported, "unknown BMP header size");
  // OS/2 2.x headers may stop after any field; absent fields are zero.
  std::vector<uint8_t> fields(124, 0);
  const auto present = in.Take(headerSize - 4);
  std::memcpy(fields.data(), present.data(), present.size());
  h.os2 = headerSize == kOs2Header || headerSize < kInfoHeader;
  ByteReader f(fields);  // 124 bytes: never short
  h.width = f.I32();
  h.height = f.I32();
  if (f.U16() != 1) Fail(PicError::kCorrupt, "BMP planes is not 1");
  h.bits = f.U16();
  h.compression = f.U32();
  f.Skip(12);  // image size, resolution
  h.colorsUsed = f.U32();
  f.Skip(4);  // important colours
  if (headerSize >= 52)
    for (uint32_t& mask : h.masks) mask = f.U32();
  if (h.os2 && h.compression >= kBitfields)
    Fail(PicError::kUnsupported, "OS/2 Huffman and RLE24 BMP compression are not supported");
  return h;
}

void ReadRle(std::span<const uint8_t> data, bool four, DecodedPicture& pic, bool topDown) {
  // Rows count from the bottom; pixels past a row's end or the last row are
  // dropped, skipped ones keep index 0. Data that stops before the end marker
  // or the last row's end is cut short.
  ByteReader in(data);
  int64_t x = 0, y = 0;
  auto put = [&](uint8_t index) {
    if (x < pic.width && y < pic.height) {
      const int64_t row = topDown ? y : pic.height - 1 - y;
      pic.bits[size_t(row * pic.stride + x)] = index;
    }
    ++x;
  };
  while (in.Remaining() >= 2 && y < pic.height) {
    const uint8_t count = in.U8();
    const uint8_t value = in.U8();
    if (count > 0) {
      for (int i = 0; i < count; ++i) put(four ? uint8_t(i & 1 ? value & 0x0F : value >> 4) : value);
      continue;
    }
    if (value == 0) {  // end of line
      x = 0;
      ++y;
    } else if (value == 1) {  // end of picture
      return;
    } else if (value == 2) {  // delta
      x += in.U8();
      y += in.U8();
    } else {  // absolute run, padded to a 16-bit boundary
      const auto run = in.Take(four ? (value + 1u) / 2 : value);
      for (int i = 0; i < value; ++i) put(four ? uint8_t(i & 1 ? run[size_t(i / 2)] & 0x0F : run[size_t(i / 2)] >> 4)
                                               : run[size_t(i)]);
      if (run.size() & 1 && in.Remaining() > 0) in.Skip(1);
    }
  }
  if (y < pic.height) Fail(PicError::kTruncated, "BMP run-length data is cut short");
}

}  // namespace

void DecodeBmp(std::span<const uint8_t> bytes, Picture& out, const DecodeOptions& options) {
  ByteReader in(bytes);
  if (in.U8() != 'B' || in.U8() != 'M') Fail(PicError::kUnknownType, "not a BMP file");
  in.Skip(8);
  const uint32_t offBits = in.U32();
  DecodeDib(bytes, in.Position(), offBits, out, options);
}

uint64_t DecodeDib(std::span<const uint8_t> bytes, size_t headerAt, uint64_t offBits, Picture& out,
                   const DecodeOptions& options) {
  ByteReader in(bytes, headerAt);
  const uint32_t headerSize = in.U32();
  Header h = ReadHeader(in, headerSize);

  if (h.compression == kJpeg || h.compression == kPng) {
    const uint64_t start = offBits ? offBits : in.Position();
    if (start > bytes.size()) Fail(PicError::kTruncated, "BMP pixel data is missing");
    (h.compression == kJpeg ? DecodeJpeg : DecodePng)(bytes.subspan(size_t(start)), out, options);
    out.fileBits = out.pixels.bitsPerPixel;
    return bytes.size();
  }

  const bool topDown = h.height < 0;
  const int64_t height = topDown ? -h.height : h.height;
  CheckSize(h.width, height, options.maxPixels);

  // Bit-field masks follow a Windows 3 header; later headers hold them.
  if (h.compression == kBitfields || h.compression == kAlphaBitfields) {
    if (h.bits != 16 && h.bits != 32) Fail(PicError::kCorrupt, "BMP bit fields need 16 or 32 bits");
    if (headerSize == kInfoHeader) {
      for (uint32_t& m : h.masks) m = in.U32();
      if (h.compression == kAlphaBitfields) in.Skip(4);
    }
    for (uint32_t m : h.masks)
      if (!Contiguous(m)) Fail(PicError::kCorrupt, "BMP colour mask is not contiguous");
  } else if (h.compression == kRle8 && h.bits != 8) {
    Fail(PicError::kCorrupt, "RLE8 needs 8 bits per pixel");
  } else if (h.compression == kRle4 && h.bits != 4) {
    Fail(PicError::kCorrupt, "RLE4 needs 4 bits per pixel");
  } else if (h.compression != kRgb && h.compression != kRle8 && h.compression != kRle4) {
    Fail(PicError::kUnsupported, "unknown BMP compression");
  }

  const int bits = h.bits;
  const bool indexed = bits == 1 || bits == 4 || bits == 8;
  if (!indexed && bits != 16 && bits != 24 && bits != 32) Fail(PicError::kUnsupported, "BMP bit depth is not supported");

  std::vector<ColorRef> table;
  if (indexed) {
    const uint32_t full = 1u << bits;
    const uint32_t count = h.colorsUsed == 0 || h.colorsUsed > full ? full : h.colorsUsed;
    const int entry = h.core ? 3 : 4;
    const auto raw = in.Take(uint64_t(count) * entry);
    table.resize(count);
    for (uint32_t i = 0; i < count; ++i) {
      const uint8_t* e = &raw[size_t(i) * entry];
      table[i] = ColorRef::FromRgb(e[2], e[1], e[0]);
    }
  }
  const uint64_t start = offBits ? offBits : in.Position();
  if (start > bytes.size()) Fail(PicError::kTruncated, "BMP pixel data is missing");
  const auto data = bytes.subspan(size_t(start));

  const bool rle = h.compression == kRle8 || h.compression == kRle4;
  const uint64_t fileStride = PaddedStride(uint64_t(h.width), uint64_t(bits));
  if (!rle && fileStride * uint64_t(height) > data.size()) Fail(PicError::kTruncated, "BMP pixel data is cut short");

  auto fileRow = [&](int64_t y) { return data.data() + fileStride * uint64_t(topDown ? y : height - 1 - y); };

  Channel r(h.masks[0]), g(h.masks[1]), b(h.masks[2]);
  const bool bitfields = h.compression == kBitfields || h.compression == kAlphaBitfields;
  int outBits = indexed ? 8 : bits;
  Layout16 layout = Layout16::k555;
  bool generic = false;
  if (bitfields) {
    if (bits == 16 && h.masks[0] == 0xF800 && h.masks[1] == 0x07E0 && h.masks[2] == 0x001F)
      layout = Layout16::k565;
    else if (!(bits == 16 && h.masks[0] == 0x7C00 && h.masks[1] == 0x03E0 && h.masks[2] == 0x001F) &&
             !(bits == 32 && h.masks[0] == 0xFF0000 && h.masks[1] == 0xFF00 && h.masks[2] == 0xFF))
      generic = true, outBits = 24;
  }

  if (!rle && !generic && bits >= 8) {
    // The common case: rows appended in their final order, no zero fill first.
    CheckSize(h.width, height, options.maxPixels);
    DecodedPicture pic;
    pic.width = int(h.width);
    pic.height = int(height);
    pic.bitsPerPixel = bits;
    pic.layout16 = layout;
    pic.stride = ptrdiff_t(PaddedStride(uint64_t(h.width), uint64_t(bits)));
    pic.colorTable = std::move(table);
    const size_t rowBytes = size_t(uint64_t(h.width) * bits / 8);
    pic.bits.reserve(size_t(pic.stride) * size_t(height));
    for (int64_t y = 0; y < height; ++y) {
      pic.bits.insert(pic.bits.end(), fileRow(y), fileRow(y) + rowBytes);
      pic.bits.resize(pic.bits.size() + size_t(pic.stride) - rowBytes, 0);
    }
    out.pixels = std::move(pic);
    out.fileBits = bits;
    return start + fileStride * uint64_t(height);
  }

  DecodedPicture pic = NewPicture(h.width, height, outBits, options.maxPixels);
  pic.layout16 = layout;
  pic.colorTable = std::move(table);
  if (rle) {
    ReadRle(data, h.compression == kRle4, pic, topDown);
  } else if (generic) {
    const int step = bits / 8;
    for (int64_t y = 0; y < height; ++y) {
      const uint8_t* src = fileRow(y);
      uint8_t* dst = &pic.bits[size_t(y * pic.stride)];
      for (int64_t x = 0; x < h.width; ++x, src += step, dst += 3) {
        const uint32_t p = step == 2 ? LoadLe16(src) : LoadLe32(src);
        dst[0] = b.Value(p);
        dst[1] = g.Value(p);
        dst[2] = r.Value(p);
      }
    }
  } else {
    const int perByte = 8 / bits;
    const uint8_t mask = uint8_t((1 << bits) - 1);
    for (int64_t y = 0; y < height; ++y) {
      const uint8_t* src = fileRow(y);
      uint8_t* dst = &pic.bits[size_t(y * pic.stride)];
      for (int64_t x = 0; x < h.width; ++x) {
        const int shift = 8 - bits * int(x % perByte + 1);
        dst[x] = uint8_t(src[x / perByte] >> shift & mask);
      }
    }
  }
  out.pixels = std::move(pic);
  out.fileBits = bits;
  return rle ? bytes.size() : start + fileStride * uint64_t(height);
}

void EncodeBmp(const PictureView& pic, std::vector<uint8_t>& out) {
  const int bits = pic.bitsPerPixel;
  const bool masks = bits == 16 && pic.layout16 == Layout16::k565;
  const uint32_t colors = bits == 8 ? uint32_t(pic.colorTable.empty() ? 256 : pic.colorTable.size()) : 0;
  const uint64_t stride = PaddedStride(uint64_t(pic.width), uint64_t(bits));
  const uint64_t offBits = 14 + 40 + (masks ? 12 : 0) + 4 * uint64_t(colors);
  const uint64_t total = offBits + stride * uint64_t(pic.height);
  if (total > 0xFFFFFFFFu) Fail(PicError::kTooLarge, "the picture is too large for a BMP file");
  out.reserve(size_t(total));
  Put8(out, 'B');
  Put8(out, 'M');
  Put32(out, uint32_t(total));
  Put32(out, 0);
  Put32(out, uint32_t(offBits));
  Put32(out, 40);
  Put32(out, uint32_t(pic.width));
  Put32(out, uint32_t(pic.height));  // bottom-up, as every reader expects
  Put16(out, 1);
  Put16(out, uint32_t(bits));
  Put32(out, masks ? kBitfields : kRgb);
  Put32(out, uint32_t(stride * uint64_t(pic.height)));
  Put32(out, 2835);  // 72 dpi in pixels per metre
  Put32(out, 2835);
  Put32(out, colors);
  Put32(out, 0);
  if (masks) {
    Put32(out, 0xF800);
    Put32(out, 0x07E0);
    Put32(out, 0x001F);
  }
  for (uint32_t i = 0; i < colors; ++i) {
    const ColorRef c = i < pic.colorTable.size() ? pic.colorTable[i] : ColorRef();
    Put8(out, c.Blue());
    Put8(out, c.Green());
    Put8(out, c.Red());
    Put8(out, 0);
  }
  const size_t rowBytes = size_t(uint64_t(pic.width) * bits / 8);
  for (int y = pic.height - 1; y >= 0; --y) {
    const uint8_t* row = pic.bits + pic.stride * y;
    out.insert(out.end(), row, row + rowBytes);
    out.resize(out.size() + size_t(stride) - rowBytes, 0);
  }
}

}  // namespace kv::imaging::detail
