// PNG through libpng: every colour type and depth, interlaced or not; alpha
// and transparent colours are composited onto the backdrop colour. Written
// back as palette, grey or RGB pictures.
#include <png.h>

#include <cstring>
#include <memory>

#include "imaging/codec_internal.h"

namespace kv::imaging::detail {

namespace {

void OnError(png_structp png, png_const_charp) { png_longjmp(png, 1); }
void OnWarning(png_structp, png_const_charp) {}  // recoverable; the picture still decodes

struct Source {
  std::span<const uint8_t> bytes;
  size_t at = 0;
};

void ReadSource(png_structp png, png_bytep buffer, png_size_t size) {
  auto* src = static_cast<Source*>(png_get_io_ptr(png));
  if (size > src->bytes.size() - src->at) png_error(png, "data ends early");
  std::memcpy(buffer, src->bytes.data() + src->at, size);
  src->at += size;
}

void WriteSink(png_structp png, png_bytep buffer, png_size_t size) {
  auto* out = static_cast<std::vector<uint8_t>*>(png_get_io_ptr(png));
  out->insert(out->end(), buffer, buffer + size);
}

// libpng's state and our buffers, on the heap and declared before the
// setjmp, so a longjmp skips no destructor.
struct Decoding {
  png_structp png = nullptr;
  png_infop info = nullptr;
  Source source;
  DecodedPicture pic;
  std::vector<uint8_t> rgba;
  std::vector<png_bytep> rows;
  ~Decoding() { png_destroy_read_struct(&png, &info, nullptr); }
};

}  // namespace

void DecodePng(std::span<const uint8_t> bytes, Picture& out, const DecodeOptions& options) {
  auto d = std::make_unique<Decoding>();
  d->source.bytes = bytes;
  d->png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, OnError, OnWarning);
  if (d->png) d->info = png_create_info_struct(d->png);
  if (!d->png || !d->info) Fail(PicError::kTooLarge, "no memory for libpng");
  png_structp png = d->png;
  png_infop info = d->info;
  volatile bool sized = false;
  if (setjmp(png_jmpbuf(png))) {
    if (!sized) Fail(PicError::kCorrupt, "PNG header is unreadable");
    Fail(d->source.at >= bytes.size() ? PicError::kTruncated : PicError::kCorrupt, "PNG data is unreadable");
  }
  png_set_read_fn(png, &d->source, ReadSource);
  png_set_chunk_malloc_max(png, 64u << 20);
  png_read_info(png, info);
  const png_uint_32 width = png_get_image_width(png, info), height = png_get_image_height(png, info);
  CheckSize(width, height, options.maxPixels);
  sized = true;

  const int colorType = png_get_color_type(png, info);
  const int depth = png_get_bit_depth(png, info);
  const bool trns = png_get_valid(png, info, PNG_INFO_tRNS) != 0;
  const bool alpha = trns || (colorType & PNG_COLOR_MASK_ALPHA);
  const bool palette = colorType == PNG_COLOR_TYPE_PALETTE && !alpha;
  const bool grey = colorType == PNG_COLOR_TYPE_GRAY && !alpha;
  if (depth == 16) png_set_strip_16(png);  // the high byte, as other readers take it
  if (palette || grey) {
    png_set_packing(png);
    if (grey) png_set_expand_gray_1_2_4_to_8(png);
  } else {
    png_set_expand(png);  // palette to RGB, tRNS to alpha
    png_set_gray_to_rgb(png);
    if (alpha) png_set_add_alpha(png, 0xFF, PNG_FILLER_AFTER);
    png_set_bgr(png);
  }
  png_set_interlace_handling(png);
  png_read_update_info(png, info);

  d->pic = NewPicture(width, height, palette || grey ? 8 : 24, options.maxPixels);
  if (grey) d->pic.colorTable = GreyTable(8);
  if (palette) {
    png_colorp colors = nullptr;
    int count = 0;
    png_get_PLTE(png, info, &colors, &count);
    for (int i = 0; i < count; ++i) d->pic.colorTable.push_back(ColorRef::FromRgb(colors[i].red, colors[i].green, colors[i].blue));
  }
  d->rows.resize(height);
  if (alpha) {
    d->rgba.resize(size_t(width) * height * 4);
    for (png_uint_32 y = 0; y < height; ++y) d->rows[y] = &d->rgba[size_t(y) * width * 4];
  } else {
    for (png_uint_32 y = 0; y < height; ++y) d->rows[y] = &d->pic.bits[size_t(y) * size_t(d->pic.stride)];
  }
  png_read_image(png, d->rows.data());
  png_read_end(png, nullptr);

  if (alpha) {
    const ColorRef key = options.backdrop;
    for (png_uint_32 y = 0; y < height; ++y) {
      const uint8_t* src = d->rows[y];
      uint8_t* dst = &d->pic.bits[size_t(y) * size_t(d->pic.stride)];
      for (png_uint_32 x = 0; x < width; ++x, src += 4, dst += 3) {
        dst[0] = Over(src[0], src[3], key.Blue());
        dst[1] = Over(src[1], src[3], key.Green());
        dst[2] = Over(src[2], src[3], key.Red());
      }
    }
  }
  const int channels = png_get_channels(png, info);
  out.pixels = std::move(d->pic);
  out.fileBits = depth * (colorType == PNG_COLOR_TYPE_PALETTE ? 1 : channels);
}

namespace {

struct Encoding {
  png_structp png = nullptr;
  png_infop info = nullptr;
  std::vector<uint8_t> row;
  std::vector<png_color> colors;
  ~Encoding() { png_destroy_write_struct(&png, &info); }
};

}  // namespace

void EncodePng(const PictureView& pic, std::vector<uint8_t>& out) {
  auto e = std::make_unique<Encoding>();
  e->png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, OnError, OnWarning);
  if (e->png) e->info = png_create_info_struct(e->png);
  if (!e->png || !e->info) Fail(PicError::kTooLarge, "no memory for libpng");
  png_structp png = e->png;
  png_infop info = e->info;
  if (setjmp(png_jmpbuf(png))) Fail(PicError::kCannotWrite, "libpng failed while writing");
  png_set_write_fn(png, &out, WriteSink, nullptr);
  const bool grey = IsGreyRamp(pic);
  const bool indexed = pic.bitsPerPixel == 8 && !grey;
  png_set_IHDR(png, info, png_uint_32(pic.width), png_uint_32(pic.height), 8,
               grey ? PNG_COLOR_TYPE_GRAY : indexed ? PNG_COLOR_TYPE_PALETTE : PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  if (indexed) {
    const size_t n = std::clamp<size_t>(pic.colorTable.size(), 1, 256);
    for (size_t i = 0; i < n; ++i) {
      const ColorRef c = i < pic.colorTable.size() ? pic.colorTable[i] : ColorRef();
      e->colors.push_back({c.Red(), c.Green(), c.Blue()});
    }
    png_set_PLTE(png, info, e->colors.data(), int(n));
  }
  png_write_info(png, info);
  e->row.resize(size_t(pic.width) * 3);
  for (int y = 0; y < pic.height; ++y) {
    if (pic.bitsPerPixel == 8) {
      std::memcpy(e->row.data(), pic.bits + pic.stride * y, size_t(pic.width));
    } else {
      RowToRgb(pic, y, e->row.data());
    }
    png_write_row(png, e->row.data());
  }
  png_write_end(png, nullptr);
}

}  // namespace kv::imaging::detail
