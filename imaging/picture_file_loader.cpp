#include "imaging/picture_file_loader.h"

#include <algorithm>
#include <mutex>

#include "imaging/codec_internal.h"
#include "imaging/picture_file.h"
#include "platform/files.h"
#include "stage/locks.h"
#include "stage/sprite.h"

namespace kv::imaging {

namespace {

// Plays the metafile file `hostPath` of the kind its name says at `width` x
// `height` (0 x 0: its own size; `hundredWide`: 100 wide at its aspect ratio).
int LoadMetafile(const std::string& hostPath, MetafileType named, int width, int height, bool hundredWide,
                 const DecodeOptions& decode, DecodedPicture& out, int& heightAt100, PicError& error) {
  std::string bytes;
  if (!ReadHostFile(hostPath, bytes)) {
    error = PicError::kCannotOpen;
    return kErrNoPicture;
  }
  const std::span<const uint8_t> view(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
  // The name says which kind of metafile; content of the other kind, or none, is no picture we know.
  if (DetectMetafile(view) != named) {
    error = PicError::kUnknownType;
    return kErrUnknownFileType;
  }
  int ownWidth = 0, ownHeight = 0;
  Outcome outcome = MetafileSize(view, named, ownWidth, ownHeight);
  Picture picture;
  if (outcome) {
    const int at100 = int((int64_t(ownHeight) * 100 + ownWidth / 2) / ownWidth);
    MetafileOptions options;
    options.width = width;
    options.height = height;
    if (hundredWide && (width == 0 || height == 0)) options.width = 100, options.height = std::max(at100, 1);
    options.background = decode.backdrop;
    options.maxPixels = decode.maxPixels;
    outcome = RenderMetafile(view, named, picture, options);
    if (outcome) heightAt100 = at100;
  }
  error = outcome.error;
  if (!outcome) return outcome.error == PicError::kUnknownType ? kErrUnknownFileType : kErrNoPicture;
  out = std::move(picture.pixels);
  return 0;
}

}  // namespace

int PictureFileLoader::Load(const std::string& hostPath, DecodedPicture& out) {
  const MetafileType named = MetafileTypeFromName(hostPath);
  lastWasMetafile_ = false;
  if (named == MetafileType::kNone) {
    const int result = raster_.Load(hostPath, out);
    lastError_ = raster_.LastError();
    return result;
  }
  const int result = LoadMetafile(hostPath, named, width_, height_, false, options_, out, heightAt100_, lastError_);
  lastWasMetafile_ = result == 0;
  return result;
}

int LoadPictureFile(const std::string& hostPath, int width, int height, DecodedPicture& bitmap, Palette& palette,
                    StageSprite* sprite, const DecodeOptions& options) {
  // The extension is taken in the name's last component only, so a dot in a
  // folder name is never read as one.
  const size_t slash = hostPath.find_last_of('/');
  const size_t dot = hostPath.find_last_of('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash) || hostPath.size() - dot != 4)
    return 0;
  const std::string_view ending = std::string_view(hostPath).substr(dot);
  std::lock_guard lock(PictureLock());
  const MetafileType named = MetafileTypeFromName(ending);
  if (named != MetafileType::kNone) {
    int heightAt100 = 0;
    PicError error = PicError::kNone;
    const int result = LoadMetafile(hostPath, named, width, height, true, options, bitmap, heightAt100, error);
    if (result != 0) return result;
    palette = DefaultPalette();
    if (sprite) sprite->fromMetafile = true, sprite->metafileHeightAt100 = heightAt100;
    return 0;
  }
  if (detail::EndsWithNoCase(ending, ".BMP") || detail::EndsWithNoCase(ending, ".DIB")) {
    // The bitmap reader alone: a file that is no bitmap is an unknown type.
    std::string bytes;
    if (!ReadHostFile(hostPath, bytes)) return kErrUnknownFileType;
    Picture picture;
    const std::span<const uint8_t> view(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    if (DetectType(view, hostPath) != FileType::kBmp || !Decode(view, FileType::kBmp, picture, options))
      return kErrUnknownFileType;
    bitmap = std::move(picture.pixels);
  } else {
    PictureFile file;
    if (!file.Load(hostPath)) return file.lastError == kErrUnknownPictureType ? kErrUnknownFileType : kErrNoPicture;
    bitmap = file.image();
  }
  palette.entries.clear();
  if (bitmap.bitsPerPixel == 8) palette.entries = bitmap.colorTable;
  if (sprite) sprite->fromMetafile = false, sprite->metafileHeightAt100 = 0;
  return 0;
}

}  // namespace kv::imaging
