// The cursor the stage window shows: an object's or a stage cursor object's
// choice, as the stage hands it to the window.
#pragma once

#include <cstdint>
#include <string>

namespace kv {

// The cursor the window shows over the stage.
struct CursorChoice {
  enum class Kind : uint8_t { kArrow, kSystem, kHidden, kFile };
  Kind kind = Kind::kArrow;
  uint16_t systemId = 0;
  std::string hostFile;  // a .cur file for kFile
  bool operator==(const CursorChoice&) const = default;
};

}  // namespace kv
