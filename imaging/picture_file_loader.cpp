#include "imaging/picture_file_loader.h"

#include "platform/files.h"
#include "stage/sprite.h"

namespace kv::imaging {

int PictureFileLoader::Load(const std::string& hostPath, DecodedPicture& out) {
  const MetafileType named = MetafileTypeFromName(hostPath);
  lastWasMetafile_ = false;
  if (named == MetafileType::kNone) {
    const int result = raster_.Load(hostPath, out);
    lastError_ = raster_.LastError();
    return result;
  }
  std::string bytes;
  if (!ReadHostFile(hostPath, bytes)) {
    lastError_ = PicError::kCannotOpen;
    return kErrNoPicture;
  }
  const std::span<const uint8_t> view(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
  // The name says which kind of metafile; content of the other kind, or none, is no picture we know.
  if (DetectMetafile(view) != named) {
    lastError_ = PicError::kUnknownType;
    return kErrUnknownFileType;
  }
  int width = 0, height = 0;
  Outcome outcome = MetafileSize(view, named, width, height);
  Picture picture;
  if (outcome) {
    MetafileOptions options;
    options.width = width_;
    options.height = height_;
    options.background = options_.backdrop;
    options.maxPixels = options_.maxPixels;
    outcome = RenderMetafile(view, named, picture, options);
  }
  lastError_ = outcome.error;
  if (!outcome) return outcome.error == PicError::kUnknownType ? kErrUnknownFileType : kErrNoPicture;
  lastWasMetafile_ = true;
  heightAt100_ = int((int64_t(height) * 100 + width / 2) / width);
  out = std::move(picture.pixels);
  return 0;
}

}  // namespace kv::imaging
