// JPEG through libjpeg-turbo: baseline, progressive, greyscale and CMYK
// (Adobe's inverted form and the plain one), written back as baseline with a
// quality.
// jpeglib.h needs size_t and FILE declared before it.
#include <cstddef>
#include <cstdio>

#include <jerror.h>
#include <jpeglib.h>

#include <algorithm>
#include <climits>
#include <csetjmp>
#include <cstdlib>
#include <memory>

#include "imaging/codec_internal.h"

namespace kv::imaging::detail {

namespace {

// A hostile progressive file can ask for thousands of scans, each a pass
// over the whole picture.
constexpr int kMaxScans = 1000;

struct ErrorManager {
  jpeg_error_mgr base;
  std::jmp_buf jump;
  PicError error = PicError::kCorrupt;
};

void OnError(j_common_ptr cinfo) {
  auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
  std::longjmp(err->jump, 1);
}

void OnMessage(j_common_ptr cinfo, int level) {
  // Data that ends early would come out as grey rows: a failure, not a picture.
  if (level < 0 && cinfo->err->msg_code == JWRN_JPEG_EOF) {
    reinterpret_cast<ErrorManager*>(cinfo->err)->error = PicError::kTruncated;
    std::longjmp(reinterpret_cast<ErrorManager*>(cinfo->err)->jump, 1);
  }
}

void OnProgress(j_common_ptr cinfo) {
  auto* d = reinterpret_cast<j_decompress_ptr>(cinfo);
  if (d->input_scan_number > kMaxScans) {
    reinterpret_cast<ErrorManager*>(cinfo->err)->error = PicError::kCorrupt;
    std::longjmp(reinterpret_cast<ErrorManager*>(cinfo->err)->jump, 1);
  }
}

ErrorManager* InitErrors(ErrorManager& err) {
  jpeg_std_error(&err.base);
  err.base.error_exit = OnError;
  err.base.emit_message = OnMessage;
  return &err;
}

// Both the decoded form and libjpeg's state live here, declared before the
// setjmp, so a longjmp skips no destructor.
struct Decoding {
  jpeg_decompress_struct cinfo{};
  ErrorManager err;
  jpeg_progress_mgr progress{};
  DecodedPicture pic;
  std::vector<uint8_t> cmyk;
};

}  // namespace

void DecodeJpeg(std::span<const uint8_t> bytes, Picture& out, const DecodeOptions& options) {
  auto d = std::make_unique<Decoding>();
  jpeg_decompress_struct& cinfo = d->cinfo;
  cinfo.err = &InitErrors(d->err)->base;
  volatile bool created = false;
  if (setjmp(d->err.jump)) {
    if (created) jpeg_destroy_decompress(&cinfo);
    Fail(d->err.error, d->err.error == PicError::kTruncated ? "JPEG data is cut short" : "JPEG data is corrupt");
  }
  jpeg_create_decompress(&cinfo);
  created = true;
  d->progress.progress_monitor = OnProgress;
  cinfo.progress = &d->progress;
  jpeg_mem_src(&cinfo, bytes.data(), static_cast<unsigned long>(bytes.size()));
  jpeg_read_header(&cinfo, TRUE);

  const uint64_t pixels = uint64_t(cinfo.image_width) * cinfo.image_height;
  if (cinfo.image_width == 0 || cinfo.image_height == 0 || cinfo.image_width > unsigned(kMaxSide) ||
      cinfo.image_height > unsigned(kMaxSide) || pixels > options.maxPixels) {
    jpeg_destroy_decompress(&cinfo);
    CheckSize(cinfo.image_width, cinfo.image_height, options.maxPixels);
  }
  // Progressive files keep every coefficient (2 bytes each) for the whole picture.
  cinfo.mem->max_memory_to_use = long(std::min<uint64_t>(pixels * cinfo.num_components * 2 + (64u << 20), LONG_MAX));

  const bool grey = cinfo.jpeg_color_space == JCS_GRAYSCALE;
  const bool cmyk = cinfo.jpeg_color_space == JCS_CMYK || cinfo.jpeg_color_space == JCS_YCCK;
  cinfo.out_color_space = grey ? JCS_GRAYSCALE : cmyk ? JCS_CMYK : JCS_EXT_BGR;
  cinfo.dct_method = JDCT_ISLOW;
  jpeg_start_decompress(&cinfo);

  d->pic = NewPicture(cinfo.output_width, cinfo.output_height, grey ? 8 : 24, options.maxPixels);
  if (grey) d->pic.colorTable = GreyTable(8);
  if (cmyk) d->cmyk.resize(size_t(cinfo.output_width) * 4);
  // Adobe's writers store CMYK inverted (0 is full ink).
  const bool inverted = cinfo.saw_Adobe_marker;
  while (cinfo.output_scanline < cinfo.output_height) {
    uint8_t* row = &d->pic.bits[size_t(cinfo.output_scanline) * size_t(d->pic.stride)];
    JSAMPROW target = cmyk ? d->cmyk.data() : row;
    jpeg_read_scanlines(&cinfo, &target, 1);
    if (!cmyk) continue;
    for (size_t x = 0; x < cinfo.output_width; ++x) {
      const uint8_t* p = &d->cmyk[4 * x];
      const unsigned k = inverted ? p[3] : 255u - p[3];
      for (int c = 0; c < 3; ++c) {
        const unsigned v = inverted ? p[c] : 255u - p[c];
        row[3 * x + 2 - size_t(c)] = uint8_t((v * k + 127) / 255);
      }
    }
  }
  jpeg_finish_decompress(&cinfo);
  jpeg_destroy_decompress(&cinfo);
  out.pixels = std::move(d->pic);
  out.fileBits = grey ? 8 : cmyk ? 32 : 24;
}

namespace {

struct Encoding {
  jpeg_compress_struct cinfo{};
  ErrorManager err;
  std::vector<uint8_t> row;
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
};

}  // namespace

void EncodeJpeg(const PictureView& pic, int quality, std::vector<uint8_t>& out) {
  auto e = std::make_unique<Encoding>();
  jpeg_compress_struct& cinfo = e->cinfo;
  cinfo.err = &InitErrors(e->err)->base;
  volatile bool created = false;
  if (setjmp(e->err.jump)) {
    if (created) jpeg_destroy_compress(&cinfo);
    std::free(e->buffer);
    Fail(PicError::kCannotWrite, "libjpeg failed while writing");
  }
  jpeg_create_compress(&cinfo);
  created = true;
  jpeg_mem_dest(&cinfo, &e->buffer, &e->size);
  const bool grey = IsGreyRamp(pic);
  cinfo.image_width = JDIMENSION(pic.width);
  cinfo.image_height = JDIMENSION(pic.height);
  cinfo.input_components = grey ? 1 : 3;
  cinfo.in_color_space = grey ? JCS_GRAYSCALE : JCS_RGB;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, std::clamp(quality, 1, 100), TRUE);
  jpeg_start_compress(&cinfo, TRUE);
  e->row.resize(size_t(pic.width) * 3);
  while (cinfo.next_scanline < cinfo.image_height) {
    const int y = int(cinfo.next_scanline);
    JSAMPROW row = e->row.data();
    if (grey)
      row = const_cast<JSAMPROW>(pic.bits + pic.stride * y);  // libjpeg only reads it
    else
      RowToRgb(pic, y, e->row.data());
    jpeg_write_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  out.assign(e->buffer, e->buffer + e->size);
  std::free(e->buffer);
}

}  // namespace kv::imaging::detail
