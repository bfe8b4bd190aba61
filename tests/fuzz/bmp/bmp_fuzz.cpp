// Fuzzes the BMP reader and, for pictures it accepts, attaching and drawing
// them keyed and stretched, so conversion and loops see hostile sizes too.
#include <cstddef>
#include <cstdint>

#include "stage/bmp.h"
#include "stage/sprite.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const auto pic = kv::ReadBmp({data, size});
  if (!pic || pic->width > 512 || pic->height > 512) return 0;
  kv::StageSprite sprite;
  if (sprite.SetPicture(pic->View()) != 0) return 0;
  sprite.Setup({0, 0, 7, 5}, {0, 0, pic->width, pic->height}, 5, true, kv::ColorRef(size & 0xFFFFFF),
               uint8_t(size), 0);
  kv::PixelBuffer target(7, 5);
  sprite.DrawStretchedTo(target);
  (void)sprite.PixelAt(3, 2);
  (void)sprite.HitTest(6, 4);
  return 0;
}
