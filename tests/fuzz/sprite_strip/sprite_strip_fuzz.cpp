// Fuzzes the strip block reader of sprite frame pictures: whatever the bytes,
// the layout it answers fits a picture of the width given.
#include <cstddef>
#include <cstdint>

#include "stage/sprite_strip.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const int width = data[0] | data[1] << 8;
  const kv::StripLayout l = kv::ReadStripLayout({data + 2, size - 2}, width);
  if (l.cellCount < 1 || l.cellWidth < 0 || int64_t(l.cellCount) * l.cellWidth > (width > 0 ? width : 0))
    __builtin_trap();
  return 0;
}
