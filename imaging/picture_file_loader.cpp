#include "imaging/picture_file_loader.h"

#include <algorithm>
#include <mutex>

#include "imaging/codec_internal.h"
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
    // Without two sides: 100 wide at the aspect ratio, or the metafile's own size.
    if (width > 0 && height > 0) options.width = width, options.height = height;
    else if (hundredWide) options.width = 100, options.height = std::max(at100, 1);
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

// The extension of exactly four characters in the name's last component (a
// dot in a folder's name is none), or empty.
std::string_view FourCharacterExtension(const std::string& hostPath) {
  const size_t slash = hostPath.find_last_of('/');
  const size_t dot = hostPath.find_last_of('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash) || hostPath.size() - dot != 4) return {};
  return std::string_view(hostPath).substr(dot);
}

// The loader's rules by the name's extension, without the picture lock:
// metafiles played (100 wide at their aspect ratio when `hundredWide` and no
// size is asked for), ".BMP" and ".DIB" by the bitmap reader alone (any
// failure is an unknown type), other names through the library by content
// (an unknown type 11, any other failure 8). 0 with `out` empty for a name
// without such an extension. A failure leaves `out` as it was.
int LoadByExtension(const std::string& hostPath, int width, int height, bool hundredWide, const DecodeOptions& options,
                    DecodedPicture& out, bool& metafile, int& heightAt100, PicError& error) {
  metafile = false;
  error = PicError::kNone;
  const std::string_view ending = FourCharacterExtension(hostPath);
  if (ending.empty()) {
    out = DecodedPicture();
    return 0;
  }
  const MetafileType named = MetafileTypeFromName(ending);
  if (named != MetafileType::kNone) {
    const int result = LoadMetafile(hostPath, named, width, height, hundredWide, options, out, heightAt100, error);
    metafile = result == 0;
    return result;
  }
  Picture picture;
  if (detail::EndsWithNoCase(ending, ".BMP") || detail::EndsWithNoCase(ending, ".DIB")) {
    // The bitmap reader alone: a file that is no bitmap is an unknown type.
    std::string bytes;
    if (!ReadHostFile(hostPath, bytes)) {
      error = PicError::kCannotOpen;
      return kErrUnknownFileType;
    }
    const std::span<const uint8_t> view(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    if (DetectType(view, hostPath) != FileType::kBmp) {
      error = PicError::kUnknownType;
      return kErrUnknownFileType;
    }
    const Outcome outcome = Decode(view, FileType::kBmp, picture, options);
    error = outcome.error;
    if (!outcome) return kErrUnknownFileType;
  } else {
    const Outcome outcome = DecodeFile(hostPath, picture, nullptr, options);
    error = outcome.error;
    if (!outcome) return outcome.error == PicError::kUnknownType ? kErrUnknownFileType : kErrNoPicture;
  }
  out = std::move(picture.pixels);
  return 0;
}

}  // namespace

int PictureFileLoader::Load(const std::string& hostPath, DecodedPicture& out) {
  bool metafile = false;
  const int result = LoadByExtension(hostPath, width_, height_, false, options_, out, metafile, heightAt100_, lastError_);
  lastWasMetafile_ = result == 0 && metafile;
  return result;
}

int LoadPictureFile(const std::string& hostPath, int width, int height, DecodedPicture& bitmap, Palette& palette,
                    StageSprite* sprite, const DecodeOptions& options) {
  if (FourCharacterExtension(hostPath).empty()) return 0;
  std::lock_guard lock(PictureLock());
  bool metafile = false;
  int heightAt100 = 0;
  PicError error = PicError::kNone;
  const int result = LoadByExtension(hostPath, width, height, true, options, bitmap, metafile, heightAt100, error);
  if (result != 0) return result;
  if (metafile) {
    palette = DefaultPalette();
  } else {
    palette.entries.clear();
    if (bitmap.bitsPerPixel == 8) palette.entries = bitmap.colorTable;
  }
  if (sprite) sprite->fromMetafile = metafile, sprite->metafileHeightAt100 = metafile ? heightAt100 : 0;
  return 0;
}

}  // namespace kv::imaging
