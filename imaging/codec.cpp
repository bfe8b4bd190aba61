#include <cstring>

#include "imaging/codec_internal.h"
#include "imaging/metafile_type.h"
#include "platform/files.h"
#include "stage/pixel_format.h"

namespace kv::imaging {

namespace detail {

void Fail(PicError error, const char* why) { throw Failure{error, why}; }

namespace {
void DataEndsEarly(const void*) { Fail(PicError::kTruncated, "the data ends early"); }
}  // namespace

ByteReader::ByteReader(std::span<const uint8_t> bytes, size_t at) : kv::ByteReader(bytes, DataEndsEarly) { Seek(at); }

void ByteReader::Seek(size_t at) {
  if (at > Size()) Fail(PicError::kTruncated, "an offset points past the end of the data");
  kv::ByteReader::Seek(at);
}

void CheckSize(int64_t width, int64_t height, uint64_t maxPixels) {
  if (width <= 0 || height <= 0) Fail(PicError::kCorrupt, "the picture has no pixels");
  if (width > kMaxSide || height > kMaxSide) Fail(PicError::kTooLarge, "the picture is too large");
  if (uint64_t(width) * uint64_t(height) > maxPixels) Fail(PicError::kTooLarge, "the picture is too large");
}

DecodedPicture NewPicture(int64_t width, int64_t height, int bitsPerPixel, uint64_t maxPixels) {
  CheckSize(width, height, maxPixels);
  const uint64_t stride = PaddedStride(uint64_t(width), uint64_t(bitsPerPixel));
  DecodedPicture pic;
  pic.width = int(width);
  pic.height = int(height);
  pic.bitsPerPixel = bitsPerPixel;
  pic.stride = ptrdiff_t(stride);
  pic.bits.assign(size_t(stride * uint64_t(height)), 0);
  return pic;
}

std::vector<ColorRef> GreyTable(int bits) {
  const int n = 1 << bits;
  std::vector<ColorRef> table(static_cast<size_t>(n));
  for (int i = 0; i < n; ++i) {
    const auto v = uint8_t(i * 255 / (n - 1));
    table[size_t(i)] = ColorRef::FromRgb(v, v, v);
  }
  return table;
}

bool IsGreyRamp(const PictureView& pic) {
  if (pic.bitsPerPixel != 8 || pic.colorTable.size() != 256) return false;
  for (size_t i = 0; i < 256; ++i)
    if (pic.colorTable[i] != ColorRef::FromRgb(uint8_t(i), uint8_t(i), uint8_t(i))) return false;
  return true;
}

}  // namespace detail

void RowToRgb(const PictureView& pic, int y, uint8_t* rgb) {
  const uint8_t* row = pic.bits + pic.stride * y;
  for (int x = 0; x < pic.width; ++x, rgb += 3) {
    ColorRef c;
    switch (pic.bitsPerPixel) {
      case 8:
        c = row[x] < pic.colorTable.size() ? pic.colorTable[row[x]] : ColorRef();
        break;
      case 16: {
        const auto p = LoadLe16(&row[2 * x]);
        c = pic.layout16 == Layout16::k565 ? FromRgb565(p) : FromRgb555(p);
        break;
      }
      default: {
        const uint8_t* p = row + x * (pic.bitsPerPixel / 8);
        c = ColorRef::FromRgb(p[2], p[1], p[0]);
        break;
      }
    }
    rgb[0] = c.Red();
    rgb[1] = c.Green();
    rgb[2] = c.Blue();
  }
}

namespace {

bool StartsWith(std::span<const uint8_t> b, const char* magic, size_t n) {
  return b.size() >= n && std::memcmp(b.data(), magic, n) == 0;
}

}  // namespace

bool detail::EndsWithNoCase(std::string_view s, std::string_view tail) {
  if (s.size() < tail.size()) return false;
  for (size_t i = 0; i < tail.size(); ++i) {
    char c = s[s.size() - tail.size() + i];
    if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
    if (c != tail[i]) return false;
  }
  return true;
}

FileType TypeFromExtension(std::string_view name) {
  static constexpr std::pair<const char*, FileType> kEndings[] = {
      {".BMP", FileType::kBmp}, {".DIB", FileType::kBmp},  {".RLE", FileType::kBmp}, {".GIF", FileType::kGif},
      {".PCX", FileType::kPcx}, {".TGA", FileType::kTga},  {".JPG", FileType::kJpeg}, {".JPEG", FileType::kJpeg},
      {".TIF", FileType::kTiff}, {".TIFF", FileType::kTiff}, {".PNG", FileType::kPng},
  };
  for (const auto& [ending, type] : kEndings)
    if (detail::EndsWithNoCase(name, ending)) return type;
  return FileType::kUnknown;
}

FileType DetectType(std::span<const uint8_t> b, std::string_view name) {
  if (StartsWith(b, "BM", 2)) return FileType::kBmp;
  if (StartsWith(b, "GIF87a", 6) || StartsWith(b, "GIF89a", 6)) return FileType::kGif;
  if (StartsWith(b, "\xFF\xD8\xFF", 3)) return FileType::kJpeg;
  if (StartsWith(b, "II*\0", 4) || StartsWith(b, "MM\0*", 4)) return FileType::kTiff;
  if (StartsWith(b, "\x89PNG\r\n\x1A\n", 8)) return FileType::kPng;
  // PCX: manufacturer 10, a known version, RLE or none, a known depth.
  if (b.size() >= 128 && b[0] == 0x0A && (b[1] <= 5 && b[1] != 1) && b[2] <= 1 &&
      (b[3] == 1 || b[3] == 2 || b[3] == 4 || b[3] == 8))
    return FileType::kPcx;
  // TGA has no signature; its name is the only sign.
  if (detail::EndsWithNoCase(name, ".TGA")) return FileType::kTga;
  return FileType::kUnknown;
}

MetafileType DetectMetafile(std::span<const uint8_t> b) {
  if (b.size() >= 4 && LoadLe32(b.data()) == 0x9AC6CDD7) return MetafileType::kWmf;  // the placeable key
  if (b.size() >= 44 && LoadLe32(b.data()) == 1 && LoadLe32(b.data() + 40) == 0x464D4520)
    return MetafileType::kEmf;  // a header record with " EMF"
  // A plain WMF header: type 1 or 2, nine words long, version 1 or 3.
  if (b.size() >= 18 && (b[0] == 1 || b[0] == 2) && b[1] == 0 && b[2] == 9 && b[3] == 0 && b[4] == 0 &&
      (b[5] == 1 || b[5] == 3))
    return MetafileType::kWmf;
  return MetafileType::kNone;
}

MetafileType MetafileTypeFromName(std::string_view name) {
  if (detail::EndsWithNoCase(name, ".WMF")) return MetafileType::kWmf;
  if (detail::EndsWithNoCase(name, ".EMF")) return MetafileType::kEmf;
  return MetafileType::kNone;
}

const char* TypeName(FileType type) {
  switch (type) {
    case FileType::kBmp: return "BMP";
    case FileType::kGif: return "GIF";
    case FileType::kPcx: return "PCX";
    case FileType::kTga: return "TGA";
    case FileType::kJpeg: return "JPEG";
    case FileType::kTiff: return "TIFF";
    case FileType::kPng: return "PNG";
    case FileType::kUnknown: break;
  }
  return "unknown";
}

Outcome Decode(std::span<const uint8_t> bytes, FileType type, Picture& out, const DecodeOptions& options) {
  using Decoder = void (*)(std::span<const uint8_t>, Picture&, const DecodeOptions&);
  Decoder decoder = nullptr;
  switch (type) {
    case FileType::kBmp: decoder = detail::DecodeBmp; break;
    case FileType::kGif: decoder = detail::DecodeGif; break;
    case FileType::kPcx: decoder = detail::DecodePcx; break;
    case FileType::kTga: decoder = detail::DecodeTga; break;
    case FileType::kJpeg: decoder = detail::DecodeJpeg; break;
    case FileType::kTiff: decoder = detail::DecodeTiff; break;
    case FileType::kPng: decoder = detail::DecodePng; break;
    case FileType::kUnknown: return {PicError::kUnknownType, "not a picture of a supported format"};
  }
  // A failed decode leaves `out` as it was.
  Picture fresh;
  Outcome outcome = detail::Catching([&] { decoder(bytes, fresh, options); });
  if (outcome) out = std::move(fresh);
  return outcome;
}

Outcome DecodeFile(const std::string& hostPath, Picture& out, FileType* typeOut, const DecodeOptions& options) {
  std::string bytes;
  if (!ReadHostFile(hostPath, bytes)) return {PicError::kCannotOpen, "cannot read the picture file"};
  const std::span<const uint8_t> view(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
  const FileType type = DetectType(view, hostPath);
  if (typeOut) *typeOut = type;
  return Decode(view, type, out, options);
}

Outcome Encode(const PictureView& picture, FileType type, std::vector<uint8_t>& out, const EncodeOptions& options) {
  const int bpp = picture.bitsPerPixel;
  if (picture.width <= 0 || picture.height <= 0 || !picture.bits ||
      (bpp != 8 && bpp != 16 && bpp != 24 && bpp != 32))
    return {PicError::kUnsupported, "the picture has no pixels of a supported depth"};
  if (picture.width > kMaxSide || picture.height > kMaxSide) return {PicError::kTooLarge, "the picture is too large"};
  std::vector<uint8_t> bytes;
  Outcome outcome = detail::Catching([&] {
    switch (type) {
      case FileType::kBmp: detail::EncodeBmp(picture, bytes); break;
      case FileType::kGif: detail::EncodeGif(picture, options.gifTransparentIndex, bytes); break;
      case FileType::kPcx: detail::EncodePcx(picture, bytes); break;
      case FileType::kTga: detail::EncodeTga(picture, bytes); break;
      case FileType::kJpeg: detail::EncodeJpeg(picture, options.jpegQuality, bytes); break;
      case FileType::kTiff: detail::EncodeTiff(picture, options.tiffCompression, bytes); break;
      case FileType::kPng: detail::EncodePng(picture, bytes); break;
      case FileType::kUnknown: detail::Fail(PicError::kUnknownType, "no format to write");
    }
  });
  if (outcome) out = std::move(bytes);
  return outcome;
}

Outcome EncodeFile(const PictureView& picture, FileType type, const std::string& hostPath,
                   const EncodeOptions& options) {
  std::vector<uint8_t> bytes;
  Outcome outcome = Encode(picture, type, bytes, options);
  if (!outcome) return outcome;
  if (!WriteFileAtomically(hostPath, {reinterpret_cast<const char*>(bytes.data()), bytes.size()}))
    return {PicError::kCannotWrite, "cannot write the picture file"};
  return {};
}

}  // namespace kv::imaging
