// Fuzzes the BMP decoder and, for pictures it accepts, attaching and drawing
// them keyed and stretched, so conversion and loops see hostile sizes too.
#include <cstddef>
#include <cstdint>

#include "imaging/picture_codec.h"
#include "stage/sprite.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  kv::imaging::DecodeOptions options;
  options.maxPixels = 1u << 22;
  kv::imaging::Picture pic;
  if (!kv::imaging::Decode({data, size}, kv::imaging::FileType::kBmp, pic, options)) return 0;
  if (pic.pixels.width > 512 || pic.pixels.height > 512) return 0;
  kv::StageSprite sprite;
  if (sprite.SetPicture(pic.pixels.View()) != 0) return 0;
  sprite.Setup({0, 0, 7, 5}, {0, 0, pic.pixels.width, pic.pixels.height}, 5, true, kv::ColorRef(size & 0xFFFFFF),
               uint8_t(size), 0);
  kv::PixelBuffer target(7, 5);
  sprite.DrawStretchedTo(target);
  (void)sprite.PixelAt(3, 2);
  (void)sprite.HitTest(6, 4);
  return 0;
}
