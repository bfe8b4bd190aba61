#include "imaging/picture_loader.h"

#include "stage/sprite.h"

namespace kv::imaging {

int RasterPictureLoader::Load(const std::string& hostPath, DecodedPicture& out) {
  Picture picture;
  const Outcome outcome = DecodeFile(hostPath, picture, nullptr, options_);
  lastError_ = outcome.error;
  if (!outcome) return outcome.error == PicError::kUnknownType ? kErrUnknownFileType : kErrNoPicture;
  out = std::move(picture.pixels);
  return 0;
}

}  // namespace kv::imaging
