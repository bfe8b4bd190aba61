// Reads arbitrary text as a date (what CDate, IsDate and date literals do):
// never a crash, and whatever is accepted is a date in range that prints and
// reads back as the same second.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "orlan/dates.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  double serial;
  if (!kv::orlan::ParseDate(text, serial)) return 0;
  if (!kv::orlan::InDateRange(serial)) std::abort();
  double back;
  if (!kv::orlan::ParseDate(kv::orlan::DateText(serial), back)) std::abort();
  if (std::fabs(back - serial) > 1.0 / 86400) std::abort();
  return 0;
}
