// Pictures: converting a picture file and writing pixels to one.
#include "ext/orlan_files.h"

#include "ext/orlan_files_internal.h"
#include "imaging/picture_codec.h"
#include "imaging/picture_file.h"

namespace kv {

using files_internal::WritableTarget;

// --- pictures

bool ConvertImage(std::string_view source, std::string_view target, int32_t value, const FileContext& files) {
  auto from = HostPathFor(source, files);
  auto to = WritableTarget(target, files);
  if (!from || !to) return false;
  imaging::PictureFile picture;
  return picture.Load(from->string()) && picture.SaveByExtension(to->string(), 0, 0, value);
}

bool WritePictureToFile(const PictureView& pixels, const imaging::Palette& palette, std::string_view file,
                        int32_t width, int32_t height, int32_t value, const FileContext& files) {
  auto to = WritableTarget(file, files);
  if (!to) return false;
  imaging::PictureFile picture;
  return picture.FromBitmap(pixels, palette) && picture.SaveByExtension(to->string(), width, height, value);
}

}  // namespace kv
