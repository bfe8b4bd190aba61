// Helpers for kinds that keep their own stored fields in a plain struct they
// derive from: reset and copy then assign the struct as a whole, so a field
// added to the struct can never be left out of either.
#pragma once

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

}  // namespace kv
