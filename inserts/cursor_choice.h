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
  std::string hostFile;  // a .cur or .ani file for kFile
  std::string file;      // and its name as the object gives it, substituted
  bool operator==(const CursorChoice&) const = default;
};

// The shape name of a system cursor id as traces give it ("arrow", "ibeam",
// ...); "arrow" for an id the system does not define.
const char* CursorShapeName(uint16_t systemId);

}  // namespace kv
