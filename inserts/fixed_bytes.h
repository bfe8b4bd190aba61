// A fixed-size byte field of a stored record (a class identifier, a block of
// kept bytes) named for kvtool's dump and pack.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "persist/fields.h"
#include "persist/json_fields.h"

namespace kv {

// A fixed-size byte field, printed as raw bytes; a print of another size is
// refused rather than padded.
template <size_t N>
void DescribeFixedBytes(FieldVisitor& v, const char* name, std::array<uint8_t, N>& bytes) {
  std::vector<uint8_t> raw(bytes.begin(), bytes.end());
  v.Field(name, raw);
  if (!v.IsReading()) return;
  if (raw.size() != N) throw JsonFieldError(std::string(name) + ": not " + std::to_string(N) + " bytes");
  std::copy(raw.begin(), raw.end(), bytes.begin());
}

}  // namespace kv
