// Fixed-size fields of stored records (a class identifier, a block of kept
// bytes, the nine frames of a sprite) named for kvtool's dump and pack; a
// print of another size is refused rather than padded or cut.
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

// A fixed-length array of records; `each(element)` visits one element.
template <class T, size_t N, class F>
void DescribeFixedRecords(FieldVisitor& v, const char* name, std::array<T, N>& list, F&& each) {
  size_t n = v.BeginArray(name, N);
  if (n != N) throw JsonFieldError(std::string(name) + ": not " + std::to_string(N) + " elements");
  for (size_t i = 0; i < N; ++i) {
    v.BeginElement(i);
    each(list[i]);
    v.EndElement();
  }
  v.EndArray();
}

}  // namespace kv
