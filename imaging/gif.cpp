// GIF through giflib: the first frame on the logical screen, with the
// transparent index of its graphic control extension; and 8-bit pictures
// written back with that index.
#include <gif_lib.h>

#include <algorithm>
#include <cstring>
#include <memory>

#include "imaging/codec_internal.h"

namespace kv::imaging::detail {

namespace {

struct Source {
  std::span<const uint8_t> bytes;
  size_t at = 0;
};

int ReadSource(GifFileType* gif, GifByteType* buffer, int size) {
  auto* src = static_cast<Source*>(gif->UserData);
  const size_t n = std::min(size_t(std::max(size, 0)), src->bytes.size() - src->at);
  std::memcpy(buffer, src->bytes.data() + src->at, n);
  src->at += n;
  return int(n);
}

int WriteSink(GifFileType* gif, const GifByteType* buffer, int size) {
  auto* out = static_cast<std::vector<uint8_t>*>(gif->UserData);
  out->insert(out->end(), buffer, buffer + size);
  return size;
}

struct DecoderCloser {
  void operator()(GifFileType* gif) const { DGifCloseFile(gif, nullptr); }
};
struct EncoderCloser {
  void operator()(GifFileType* gif) const { EGifCloseFile(gif, nullptr); }
};
struct MapFreer {
  void operator()(ColorMapObject* map) const { GifFreeMapObject(map); }
};

void Check(int status, PicError error, const char* why) {
  if (status == GIF_ERROR) Fail(error, why);
}

}  // namespace

void DecodeGif(std::span<const uint8_t> bytes, Picture& out, const DecodeOptions& options) {
  Source source{bytes};
  int error = 0;
  std::unique_ptr<GifFileType, DecoderCloser> gif(DGifOpen(&source, ReadSource, &error));
  if (!gif) Fail(error == D_GIF_ERR_NOT_GIF_FILE ? PicError::kUnknownType : PicError::kTruncated, "GIF header is unreadable");

  int transparent = -1;
  for (;;) {
    GifRecordType record;
    Check(DGifGetRecordType(gif.get(), &record), PicError::kTruncated, "GIF data ends before its first picture");
    if (record == TERMINATE_RECORD_TYPE) Fail(PicError::kCorrupt, "GIF holds no picture");
    if (record == EXTENSION_RECORD_TYPE) {
      int code = 0;
      GifByteType* block = nullptr;
      Check(DGifGetExtension(gif.get(), &code, &block), PicError::kTruncated, "GIF extension is cut short");
      if (code == GRAPHICS_EXT_FUNC_CODE && block && block[0] >= 4 && (block[1] & 1)) transparent = block[4];
      while (block) Check(DGifGetExtensionNext(gif.get(), &block), PicError::kTruncated, "GIF extension is cut short");
      continue;
    }
    if (record != IMAGE_DESC_RECORD_TYPE) continue;
    Check(DGifGetImageDesc(gif.get()), PicError::kTruncated, "GIF picture header is cut short");
    break;
  }

  const GifImageDesc& frame = gif->Image;
  // A screen smaller than the frame (or none) grows to hold it.
  const int64_t width = std::max<int64_t>(gif->SWidth, int64_t(frame.Left) + frame.Width);
  const int64_t height = std::max<int64_t>(gif->SHeight, int64_t(frame.Top) + frame.Height);
  CheckSize(frame.Width, frame.Height, options.maxPixels);
  // LZW codes are at least three bits and stand for at most 4096 pixels.
  if (uint64_t(frame.Width) * uint64_t(frame.Height) > (uint64_t(bytes.size()) * 8 / 3 + 1) * 4096)
    Fail(PicError::kTruncated, "GIF data is too short for its picture");
  DecodedPicture pic = NewPicture(width, height, 8, options.maxPixels);

  const ColorMapObject* map = frame.ColorMap ? frame.ColorMap : gif->SColorMap;
  if (map && map->Colors && map->ColorCount > 0) {
    for (int i = 0; i < std::min(map->ColorCount, 256); ++i)
      pic.colorTable.push_back(ColorRef::FromRgb(map->Colors[i].Red, map->Colors[i].Green, map->Colors[i].Blue));
  } else {
    pic.colorTable = GreyTable(8);
  }
  // Around the frame the screen shows the transparent colour, else the background.
  const auto fill = uint8_t(transparent >= 0 ? transparent : gif->SBackGroundColor);
  std::memset(pic.bits.data(), fill, pic.bits.size());

  std::vector<GifPixelType> line(size_t(frame.Width));
  std::vector<int> rows;
  if (frame.Interlace) {
    // Passes: every 8th row from 0, every 8th from 4, every 4th from 2, every 2nd from 1.
    for (const auto& [first, step] : {std::pair{0, 8}, {4, 8}, {2, 4}, {1, 2}})
      for (int y = first; y < frame.Height; y += step) rows.push_back(y);
  } else {
    for (int y = 0; y < frame.Height; ++y) rows.push_back(y);
  }
  for (int y : rows) {
    Check(DGifGetLine(gif.get(), line.data(), frame.Width), PicError::kTruncated, "GIF picture data is cut short");
    std::memcpy(&pic.bits[size_t((frame.Top + y) * int64_t(pic.stride) + frame.Left)], line.data(), line.size());
  }
  out.pixels = std::move(pic);
  out.fileBits = map ? map->BitsPerPixel : 8;
  out.transparentIndex = transparent;
}

void EncodeGif(const PictureView& pic, int transparentIndex, std::vector<uint8_t>& out) {
  if (pic.bitsPerPixel != 8) Fail(PicError::kUnsupported, "GIF needs a picture of 256 colours or fewer");
  int bits = 1;
  while ((size_t(1) << bits) < pic.colorTable.size() && bits < 8) ++bits;
  std::unique_ptr<ColorMapObject, MapFreer> map(GifMakeMapObject(1 << bits, nullptr));
  if (!map) Fail(PicError::kTooLarge, "no memory for the GIF colour map");
  for (int i = 0; i < (1 << bits); ++i) {
    const ColorRef c = size_t(i) < pic.colorTable.size() ? pic.colorTable[size_t(i)] : ColorRef();
    map->Colors[i] = {c.Red(), c.Green(), c.Blue()};
  }
  int error = 0;
  std::unique_ptr<GifFileType, EncoderCloser> gif(EGifOpen(&out, WriteSink, &error));
  if (!gif) Fail(PicError::kCannotWrite, "giflib could not start");
  EGifSetGifVersion(gif.get(), transparentIndex >= 0);
  Check(EGifPutScreenDesc(gif.get(), pic.width, pic.height, bits, 0, map.get()), PicError::kCannotWrite,
        "giflib refused the screen");
  if (transparentIndex >= 0 && transparentIndex < 256) {
    GraphicsControlBlock gcb{};
    gcb.DisposalMode = DISPOSAL_UNSPECIFIED;
    gcb.TransparentColor = transparentIndex;
    GifByteType block[4];
    const size_t n = EGifGCBToExtension(&gcb, block);
    Check(EGifPutExtension(gif.get(), GRAPHICS_EXT_FUNC_CODE, int(n), block), PicError::kCannotWrite,
          "giflib refused the transparent index");
  }
  Check(EGifPutImageDesc(gif.get(), 0, 0, pic.width, pic.height, false, nullptr), PicError::kCannotWrite,
        "giflib refused the picture");
  std::vector<GifPixelType> line(size_t(pic.width));
  const auto top = uint8_t((1 << bits) - 1);
  for (int y = 0; y < pic.height; ++y) {
    const uint8_t* row = pic.bits + pic.stride * y;
    // Indexes past the colour map would make giflib fail; they read as the last entry.
    for (int x = 0; x < pic.width; ++x) line[size_t(x)] = std::min(row[x], top);
    Check(EGifPutLine(gif.get(), line.data(), pic.width), PicError::kCannotWrite, "giflib failed while writing");
  }
  GifFileType* raw = gif.release();
  if (EGifCloseFile(raw, &error) == GIF_ERROR) Fail(PicError::kCannotWrite, "giflib failed while finishing");
}

}  // namespace kv::imaging::detail
