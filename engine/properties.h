// Properties that scripts read and set on an object, by id. The kind that
// keeps a property answers it through CInsert::GetProperty/SetProperty; every
// other kind answers that it has none, which the scripting layer turns into
// its not-available value. A new kind answers the ids it keeps in its own
// files; the builtins never list kinds.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <variant>

#include "platform/geometry.h"

namespace kv {

enum class Property : uint8_t {
  // Colours (a ColorRef).
  kForegroundColor,
  kShadowColor,
  kBackgroundColor,
  kLineColor,
  kHighlightColor,
  kTextColor,
  kTextShadowColor,
  kFaceColor,
  kTransparentColor,
  // Numbers (a double).
  kTextFontSize,    // points
  kStartTime,       // seconds
  kEndTime,         // seconds
  kVolume,          // percent
  kPan,             // pan step
  kFrequency,       // Hz
  kFrequencyShift,  // set only: percent of the current frequency
  // Texts (a string).
  kPressedPicture,  // the picture a button shows while pressed
};

using PropertyValue = std::variant<ColorRef, double, std::string>;
using PropertyAnswer = std::optional<PropertyValue>;

// The answer as T; null when there is none or it is of another type.
template <class T>
const T* AnswerAs(const PropertyAnswer& answer) {
  return answer ? std::get_if<T>(&*answer) : nullptr;
}

// Start and end times in seconds, for kinds that keep them through
// Get/SetStartTime and Get/SetEndTime; none (false) for other ids.
template <class Kind>
PropertyAnswer GetTimeProperty(const Kind& kind, Property id) {
  if (id == Property::kStartTime) return kind.GetStartTime();
  if (id == Property::kEndTime) return kind.GetEndTime();
  return std::nullopt;
}

template <class Kind>
bool SetTimeProperty(Kind& kind, Property id, const PropertyValue& value) {
  const auto* seconds = std::get_if<double>(&value);
  if (!seconds || (id != Property::kStartTime && id != Property::kEndTime)) return false;
  id == Property::kStartTime ? kind.SetStartTime(*seconds) : kind.SetEndTime(*seconds);
  return true;
}

// A colour a kind keeps in a plain 0x00BBGGRR field; kinds list theirs so
// that one list serves the get and the set.
template <class Kind>
struct ColorField {
  Property id;
  uint32_t Kind::*field;
};

// The listed field's colour; none when `id` is not listed.
template <class Kind, size_t N>
PropertyAnswer GetColorField(const Kind& kind, const ColorField<Kind> (&fields)[N], Property id) {
  for (const ColorField<Kind>& f : fields)
    if (f.id == id) return ColorRef(kind.*f.field);
  return std::nullopt;
}

// Stores a colour in the listed field; false when `id` is not listed or the
// value is not a colour.
template <class Kind, size_t N>
bool SetColorField(Kind& kind, const ColorField<Kind> (&fields)[N], Property id, const PropertyValue& value) {
  const auto* color = std::get_if<ColorRef>(&value);
  if (!color) return false;
  for (const ColorField<Kind>& f : fields) {
    if (f.id == id) {
      kind.*f.field = color->value;
      return true;
    }
  }
  return false;
}

}  // namespace kv
