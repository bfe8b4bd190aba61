// Helpers for kinds that keep their own stored fields in a plain struct they
// derive from: reset and copy then assign the struct as a whole, so a field
// added to the struct can never be left out of either.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "persist/fields.h"
#include "persist/json_fields.h"

namespace kv {

// Copies the Fields part of `other` into `self` when `other` is a Self.
template <class Fields, class Self, class Other>
void CopyKindFields(Self& self, const Other& other) {
  if (const auto* o = dynamic_cast<const Self*>(&other))
    static_cast<Fields&>(self) = static_cast<const Fields&>(*o);
}

template <class Fields, class Self>
void ResetKindFields(Self& self) {
  static_cast<Fields&>(self) = Fields{};
}

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
