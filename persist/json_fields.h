// Prints persistent objects as JSON (UTF-8, keys named as the fields) and
// builds them back from such JSON. kvtool's dump and pack stand on it.
#pragma once

#include <nlohmann/json.hpp>
#include <stdexcept>
#include <string>

#include "persist/archive.h"

namespace kv {

// `{"class": NAME, field: value, ...}`. An object met a second time prints as
// {"$ref": N}, and its first print carries "$id": N.
nlohmann::ordered_json ObjectToJson(CObject& object);

// Any error in the JSON (unknown class, missing or mistyped field, value out
// of range, dangling reference) throws JsonFieldError naming the path.
class JsonFieldError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};
// `partial`: a missing field keeps the object's default instead of failing.
ObjectPtr ObjectFromJson(const nlohmann::ordered_json& json, bool partial = false);
// Fills an existing object (the document, which is not created by name).
void FillFromJson(CObject& object, const nlohmann::ordered_json& json, bool partial = false);

}  // namespace kv
