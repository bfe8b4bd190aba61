// TIFF through libtiff: the first directory in any layout libtiff's RGBA
// interface reads (strips or tiles; none, LZW, PackBits, deflate, JPEG and
// CCITT compressions; bilevel, grey, palette, RGB, CMYK, YCbCr), and 8-bit or
// RGB pictures written with a chosen compression.
#include <tiffio.h>

#include <algorithm>
#include <cstdarg>
#include <cstring>
#include <memory>

#include "imaging/codec_internal.h"

namespace kv::imaging::detail {

namespace {

// The bytes libtiff reads or writes, seekable both ways.
struct Memory {
  std::span<const uint8_t> input;
  std::vector<uint8_t>* output = nullptr;
  uint64_t at = 0;

  uint64_t Size() const { return output ? output->size() : input.size(); }
};

tmsize_t ReadProc(thandle_t h, void* buffer, tmsize_t size) {
  auto* m = static_cast<Memory*>(h);
  const uint8_t* data = m->output ? m->output->data() : m->input.data();
  if (size < 0 || m->at >= m->Size()) return 0;
  const size_t n = size_t(std::min<uint64_t>(uint64_t(size), m->Size() - m->at));
  std::memcpy(buffer, data + m->at, n);
  m->at += n;
  return tmsize_t(n);
}

tmsize_t WriteProc(thandle_t h, void* buffer, tmsize_t size) {
  auto* m = static_cast<Memory*>(h);
  if (!m->output || size < 0) return -1;
  if (m->at + uint64_t(size) > m->output->size()) m->output->resize(size_t(m->at + uint64_t(size)));
  std::memcpy(m->output->data() + m->at, buffer, size_t(size));
  m->at += uint64_t(size);
  return size;
}

toff_t SeekProc(thandle_t h, toff_t offset, int whence) {
  auto* m = static_cast<Memory*>(h);
  uint64_t base = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? m->at : m->Size();
  m->at = base + offset;
  return m->at;
}

int CloseProc(thandle_t) { return 0; }
toff_t SizeProc(thandle_t h) { return static_cast<Memory*>(h)->Size(); }
int MapProc(thandle_t, void**, toff_t*) { return 0; }
void UnmapProc(thandle_t, void*, toff_t) {}

// libtiff's messages stay with the call instead of going to standard error.
// Errors are counted: libtiff goes on past some (a colour map cut short is
// dropped with an error), and a picture read past an error is not sound.
int CountError(TIFF*, void* errors, const char*, const char*, va_list) {
  ++*static_cast<int*>(errors);
  return 1;
}
// libtiff only warns when a tag's data lies past the end of the file, and
// then reads a palette picture as grey: for us that is data cut short.
int CountCutShort(TIFF*, void* errors, const char*, const char* format, va_list) {
  if (std::strncmp(format, "IO error", 8) == 0) ++*static_cast<int*>(errors);
  return 1;
}

struct OptionsFreer {
  void operator()(TIFFOpenOptions* o) const { TIFFOpenOptionsFree(o); }
};
struct TiffCloser {
  void operator()(TIFF* t) const { TIFFClose(t); }
};

std::unique_ptr<TIFF, TiffCloser> Open(Memory& memory, const char* mode, uint64_t maxAlloc, int* errors) {
  std::unique_ptr<TIFFOpenOptions, OptionsFreer> options(TIFFOpenOptionsAlloc());
  if (!options) Fail(PicError::kTooLarge, "no memory for libtiff");
  TIFFOpenOptionsSetMaxSingleMemAlloc(options.get(), tmsize_t(maxAlloc));
  TIFFOpenOptionsSetErrorHandlerExtR(options.get(), CountError, errors);
  TIFFOpenOptionsSetWarningHandlerExtR(options.get(), CountCutShort, errors);
  return std::unique_ptr<TIFF, TiffCloser>(TIFFClientOpenExt("picture", mode, &memory, ReadProc, WriteProc, SeekProc,
                                                             CloseProc, SizeProc, MapProc, UnmapProc, options.get()));
}

}  // namespace

void DecodeTiff(std::span<const uint8_t> bytes, Picture& out, const DecodeOptions& options) {
  Memory memory{bytes};
  // No single buffer of libtiff's may exceed what the whole picture needs.
  int errors = 0;
  auto tif = Open(memory, "rm", std::max<uint64_t>(options.maxPixels * 8, 1u << 20), &errors);
  if (!tif || errors) Fail(PicError::kCorrupt, "TIFF header is unreadable");
  uint32_t width = 0, height = 0;
  TIFFGetField(tif.get(), TIFFTAG_IMAGEWIDTH, &width);
  TIFFGetField(tif.get(), TIFFTAG_IMAGELENGTH, &height);
  CheckSize(width, height, options.maxPixels);
  uint16_t extraCount = 0, bitsPerSample = 0;
  uint16_t* extraKinds = nullptr;
  TIFFGetFieldDefaulted(tif.get(), TIFFTAG_EXTRASAMPLES, &extraCount, &extraKinds);
  TIFFGetFieldDefaulted(tif.get(), TIFFTAG_BITSPERSAMPLE, &bitsPerSample);
  uint16_t samples = 1;
  TIFFGetFieldDefaulted(tif.get(), TIFFTAG_SAMPLESPERPIXEL, &samples);
  char message[1024];
  if (!TIFFRGBAImageOK(tif.get(), message)) Fail(PicError::kUnsupported, "TIFF layout is not supported");

  std::vector<uint32_t> raster(size_t(width) * height);
  if (!TIFFReadRGBAImageOriented(tif.get(), width, height, raster.data(), ORIENTATION_TOPLEFT, 1) || errors)
    Fail(PicError::kCorrupt, "TIFF picture data is unreadable");

  // libtiff hands alpha pictures over premultiplied: add the backdrop's share.
  const bool alpha = extraCount > 0;
  const ColorRef key = options.backdrop;
  DecodedPicture pic = NewPicture(width, height, 24, options.maxPixels);
  for (uint32_t y = 0; y < height; ++y) {
    const uint32_t* src = &raster[size_t(y) * width];
    uint8_t* dst = &pic.bits[size_t(y) * size_t(pic.stride)];
    for (uint32_t x = 0; x < width; ++x, dst += 3) {
      const uint32_t p = src[x];
      uint8_t r = uint8_t(TIFFGetR(p)), g = uint8_t(TIFFGetG(p)), b = uint8_t(TIFFGetB(p));
      if (alpha) {
        const unsigned rest = 255u - TIFFGetA(p);
        r = uint8_t(std::min(255u, r + (key.Red() * rest + 127) / 255));
        g = uint8_t(std::min(255u, g + (key.Green() * rest + 127) / 255));
        b = uint8_t(std::min(255u, b + (key.Blue() * rest + 127) / 255));
      }
      dst[0] = b;
      dst[1] = g;
      dst[2] = r;
    }
  }
  out.pixels = std::move(pic);
  out.fileBits = bitsPerSample * samples;
}

void EncodeTiff(const PictureView& pic, int compression, std::vector<uint8_t>& out) {
  if (compression != COMPRESSION_NONE && compression != COMPRESSION_LZW && compression != COMPRESSION_ADOBE_DEFLATE &&
      compression != COMPRESSION_DEFLATE && compression != COMPRESSION_PACKBITS)
    Fail(PicError::kUnsupported, "TIFF compression is not supported for writing");
  if (!TIFFIsCODECConfigured(uint16_t(compression))) Fail(PicError::kUnsupported, "libtiff lacks the compression");
  std::vector<uint8_t> bytes;
  Memory memory{{}, &bytes};
  {
    int errors = 0;
    auto tif = Open(memory, "w", 0, &errors);
    if (!tif) Fail(PicError::kCannotWrite, "libtiff could not start");
    const bool indexed = pic.bitsPerPixel == 8;
    const bool grey = IsGreyRamp(pic);
    TIFF* t = tif.get();
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, uint32_t(pic.width));
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, uint32_t(pic.height));
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, indexed ? 1 : 3);
    TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC, grey ? PHOTOMETRIC_MINISBLACK : indexed ? PHOTOMETRIC_PALETTE : PHOTOMETRIC_RGB);
    TIFFSetField(t, TIFFTAG_COMPRESSION, uint16_t(compression));
    TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, TIFFDefaultStripSize(t, 0));
    if (indexed && !grey) {
      // Colour map entries are 16-bit: a byte value v is v * 257.
      std::vector<uint16_t> r(256), g(256), b(256);
      for (size_t i = 0; i < 256 && i < pic.colorTable.size(); ++i) {
        r[i] = uint16_t(pic.colorTable[i].Red() * 257);
        g[i] = uint16_t(pic.colorTable[i].Green() * 257);
        b[i] = uint16_t(pic.colorTable[i].Blue() * 257);
      }
      TIFFSetField(t, TIFFTAG_COLORMAP, r.data(), g.data(), b.data());
    }
    std::vector<uint8_t> row(size_t(pic.width) * 3);
    for (int y = 0; y < pic.height; ++y) {
      if (indexed)
        std::memcpy(row.data(), pic.bits + pic.stride * y, size_t(pic.width));
      else
        RowToRgb(pic, y, row.data());
      if (TIFFWriteScanline(t, row.data(), uint32_t(y), 0) < 0) Fail(PicError::kCannotWrite, "libtiff failed while writing");
    }
    if (!TIFFWriteDirectory(t) || errors) Fail(PicError::kCannotWrite, "libtiff failed while finishing");
  }
  out = std::move(bytes);
}

}  // namespace kv::imaging::detail
