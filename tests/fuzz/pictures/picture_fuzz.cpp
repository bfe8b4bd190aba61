// Fuzzes one decoder of the picture library (chosen by KV_FUZZ_TYPE at build
// time); what decodes must write out as BMP and read back at the same size.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "imaging/picture_codec.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kv::imaging;
  DecodeOptions options;
  options.maxPixels = 1u << 22;  // keeps each run fast; the side limit is tested elsewhere
  options.backdrop = kv::ColorRef(uint32_t(size) * 2654435761u);
  Picture pic;
  if (!Decode({data, size}, FileType(KV_FUZZ_TYPE), pic, options)) return 0;
  std::vector<uint8_t> bmp;
  if (!Encode(pic.pixels.View(), FileType::kBmp, bmp)) std::abort();
  Picture back;
  if (!Decode(bmp, FileType::kBmp, back) || back.pixels.width != pic.pixels.width ||
      back.pixels.height != pic.pixels.height)
    std::abort();
  return 0;
}
