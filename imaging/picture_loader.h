// The stage's picture loader over the picture library: raster files of any
// supported format, by their content. Used by sprites, tools and tests.
#pragma once

#include <string>

#include "imaging/picture_codec.h"
#include "stage/hooks.h"

namespace kv::imaging {

// Loader answers besides kErrNoPicture (8): the file is no picture we know.
inline constexpr int kErrUnknownFileType = 11;

class RasterPictureLoader : public PictureLoader {
 public:
  explicit RasterPictureLoader(const DecodeOptions& options = {}) : options_(options) {}
  int Load(const std::string& hostPath, DecodedPicture& out) override;
  // The library's own error of the last failed load, kNone after a success.
  PicError LastError() const { return lastError_; }

 private:
  DecodeOptions options_;
  PicError lastError_ = PicError::kNone;
};

}  // namespace kv::imaging
