// PCX: 1 bit in one plane, 2 or 4 bits in one plane, 1 bit in 2 to 4 planes
// (EGA), 8 bits with the 256-colour table at the end, and 24 bits in three
// planes; run-length encoded or raw.
#include <algorithm>
#include <cstring>

#include "imaging/codec_internal.h"

namespace kv::imaging::detail {

namespace {

constexpr size_t kHeaderSize = 128;
constexpr uint8_t kPaletteMarker = 0x0C;
constexpr size_t kTailPalette = 1 + 768;

// Decodes the run-length stream one plane-line set at a time; a run may go
// on into the next line, as some writers let it.
class LineReader {
 public:
  LineReader(std::span<const uint8_t> data, bool rle) : at_(data.data()), end_(data.data() + data.size()), begin_(at_), rle_(rle) {}
  size_t Position() const { return size_t(at_ - begin_); }
  void Next(uint8_t* line, size_t size) {
    size_t at = 0;
    if (!rle_) {
      if (size > size_t(end_ - at_)) Fail(PicError::kTruncated, "PCX data is cut short");
      std::memcpy(line, at_, size);
      at_ += size;
      return;
    }
    while (at < size) {
      if (pending_ > 0) {
        const size_t n = std::min<size_t>(pending_, size - at);
        std::memset(line + at, value_, n);
        at += n;
        pending_ -= n;
        continue;
      }
      // Literal bytes (below 0xC0) in one tight loop: photographs are mostly these.
      const size_t room = std::min<size_t>(size - at, size_t(end_ - at_));
      const uint8_t* literal = at_;
      while (size_t(at_ - literal) < room && *at_ < 0xC0) ++at_;
      const size_t copied = size_t(at_ - literal);
      std::memcpy(line + at, literal, copied);
      at += copied;
      if (at == size) break;
      if (at_ == end_) Fail(PicError::kTruncated, "PCX data is cut short");
      const uint8_t b = *at_++;
      if (at_ == end_) Fail(PicError::kTruncated, "PCX data is cut short");
      value_ = *at_++;
      // Most runs are single bytes of 0xC0 and above: written at once.
      const size_t count = b & 0x3F, n = std::min(count, size - at);
      if (n == 1) line[at] = value_;
      else std::memset(line + at, value_, n);
      at += n;
      pending_ = count - n;
    }
  }

 private:
  const uint8_t* at_;
  const uint8_t* end_;
  const uint8_t* begin_;
  bool rle_;
  size_t pending_ = 0;
  uint8_t value_ = 0;
};

void PutRun(std::vector<uint8_t>& out, uint8_t value, int count) {
  if (count > 1 || value >= 0xC0) out.push_back(uint8_t(0xC0 | count));
  out.push_back(value);
}

void PutLine(std::vector<uint8_t>& out, const uint8_t* line, size_t size) {
  size_t at = 0;
  while (at < size) {
    int count = 1;
    while (at + size_t(count) < size && count < 63 && line[at + size_t(count)] == line[at]) ++count;
    PutRun(out, line[at], count);
    at += size_t(count);
  }
}

}  // namespace

void DecodePcx(std::span<const uint8_t> bytes, Picture& out, const DecodeOptions& options) {
  if (bytes.size() < kHeaderSize || bytes[0] != 0x0A) Fail(PicError::kUnknownType, "not a PCX file");
  ByteReader in(bytes, 1);
  const uint8_t version = in.U8();
  const bool rle = in.U8() == 1;
  const int bits = in.U8();
  const int64_t xMin = in.U16(), yMin = in.U16(), xMax = in.U16(), yMax = in.U16();
  in.Seek(65);
  const int planes = in.U8();
  const uint64_t bytesPerLine = in.U16();
  const auto header = bytes.subspan(16, 48);
  if (xMax < xMin || yMax < yMin) Fail(PicError::kCorrupt, "PCX window is empty");
  const int64_t width = xMax - xMin + 1, height = yMax - yMin + 1;
  CheckSize(width, height, options.maxPixels);
  if (bytesPerLine * 8 < uint64_t(width) * uint64_t(bits)) Fail(PicError::kCorrupt, "PCX lines are too short");

  const bool planar = bits == 1 && planes >= 2 && planes <= 4;
  const bool packed = planes == 1 && (bits == 1 || bits == 2 || bits == 4 || bits == 8);
  const bool rgb = bits == 8 && (planes == 3 || planes == 4);  // a fourth plane (alpha) is ignored
  if (!planar && !packed && !rgb) Fail(PicError::kUnsupported, "PCX depth is not supported");

  // Before allocating: a two-byte run gives at most 63 bytes.
  const uint64_t lineBytes = bytesPerLine * uint64_t(planes) * uint64_t(height);
  const uint64_t available = bytes.size() - kHeaderSize;
  if ((rle ? (available + 1) / 2 * 63 : available) < lineBytes) Fail(PicError::kTruncated, "PCX data is cut short");

  auto headerColor = [&](size_t i) { return ColorRef::FromRgb(header[3 * i], header[3 * i + 1], header[3 * i + 2]); };
  DecodedPicture pic = NewPicture(width, height, rgb ? 24 : 8, options.maxPixels);
  std::span<const uint8_t> data = bytes.subspan(kHeaderSize);
  if (bits == 8 && planes == 1) {
    // The 256-colour table follows the pixels behind a marker byte; without
    // it the indexes are grey levels.
    const size_t n = bytes.size();
    if (version >= 5 && n >= kHeaderSize + kTailPalette && bytes[n - kTailPalette] == kPaletteMarker) {
      pic.colorTable.resize(256);
      for (size_t i = 0; i < 256; ++i) {
        const uint8_t* e = &bytes[n - 768 + 3 * i];
        pic.colorTable[i] = ColorRef::FromRgb(e[0], e[1], e[2]);
      }
      data = bytes.subspan(kHeaderSize, n - kHeaderSize - kTailPalette);
    } else {
      pic.colorTable = GreyTable(8);
    }
  } else if (bits == 1 && planes == 1 && headerColor(0) == headerColor(1)) {
    // Monochrome files often leave the header palette blank.
    pic.colorTable = GreyTable(1);
  } else if (!rgb) {
    const size_t n = size_t(1) << (bits * planes);
    for (size_t i = 0; i < n; ++i) pic.colorTable.push_back(headerColor(i));
  }

  LineReader lines(data, rle);
  std::vector<uint8_t> line(size_t(bytesPerLine) * size_t(planes));
  const size_t bpl = size_t(bytesPerLine);
  for (int64_t y = 0; y < height; ++y) {
    lines.Next(line.data(), line.size());
    uint8_t* dst = &pic.bits[size_t(y * pic.stride)];
    if (rgb) {
      // The line buffer and the picture never overlap; saying so lets the loop run unchecked.
      const uint8_t* __restrict r = line.data();
      const uint8_t* __restrict g = r + bpl;
      const uint8_t* __restrict b = g + bpl;
      uint8_t* __restrict d = dst;
      for (int64_t x = 0; x < width; ++x, d += 3) d[0] = b[x], d[1] = g[x], d[2] = r[x];
    } else if (bits == 8) {
      std::memcpy(dst, line.data(), size_t(width));
    } else if (planar) {
      for (int64_t x = 0; x < width; ++x) {
        uint8_t v = 0;
        for (int p = 0; p < planes; ++p) v |= uint8_t((line[size_t(p) * bpl + size_t(x / 8)] >> (7 - x % 8) & 1) << p);
        dst[x] = v;
      }
    } else {
      const int perByte = 8 / bits;
      for (int64_t x = 0; x < width; ++x) {
        const int shift = 8 - bits * int(x % perByte + 1);
        dst[x] = uint8_t(line[size_t(x / perByte)] >> shift & ((1 << bits) - 1));
      }
    }
  }
  // A palette marker right behind the pixels with fewer than 768 bytes after
  // it is a colour table cut short, not a grey picture.
  if (bits == 8 && planes == 1 && data.size() == bytes.size() - kHeaderSize) {
    const size_t at = kHeaderSize + lines.Position();
    if (at < bytes.size() && bytes[at] == kPaletteMarker && bytes.size() - at < kTailPalette)
      Fail(PicError::kTruncated, "PCX colour table is cut short");
  }
  out.pixels = std::move(pic);
  out.fileBits = bits * planes == 32 ? 24 : bits * planes;
}

void EncodePcx(const PictureView& pic, std::vector<uint8_t>& out) {
  const bool indexed = pic.bitsPerPixel == 8;
  const int planes = indexed ? 1 : 3;
  const size_t bytesPerLine = size_t(pic.width + (pic.width & 1));  // even, as readers expect
  out.assign(kHeaderSize, 0);
  out[0] = 0x0A;
  out[1] = 5;
  out[2] = 1;
  out[3] = 8;
  auto put16 = [&](size_t at, uint32_t v) {
    out[at] = uint8_t(v);
    out[at + 1] = uint8_t(v >> 8);
  };
  put16(8, uint32_t(pic.width - 1));
  put16(10, uint32_t(pic.height - 1));
  put16(12, 72);
  put16(14, 72);
  out[65] = uint8_t(planes);
  put16(66, uint32_t(bytesPerLine));
  put16(68, 1);  // colour, not grey
  std::vector<uint8_t> rgb(size_t(pic.width) * 3);
  std::vector<uint8_t> line(bytesPerLine, 0);
  for (int y = 0; y < pic.height; ++y) {
    if (indexed) {
      std::memcpy(line.data(), pic.bits + pic.stride * y, size_t(pic.width));
      PutLine(out, line.data(), line.size());
      continue;
    }
    RowToRgb(pic, y, rgb.data());
    for (int c = 0; c < 3; ++c) {
      for (int x = 0; x < pic.width; ++x) line[size_t(x)] = rgb[size_t(3 * x + c)];
      PutLine(out, line.data(), line.size());
    }
  }
  if (indexed) {
    out.push_back(kPaletteMarker);
    for (size_t i = 0; i < 256; ++i) {
      const ColorRef c = i < pic.colorTable.size() ? pic.colorTable[i] : ColorRef();
      out.push_back(c.Red());
      out.push_back(c.Green());
      out.push_back(c.Blue());
    }
  }
}

}  // namespace kv::imaging::detail
