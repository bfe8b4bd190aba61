// Builds stored records byte by byte for the kind tests: every value is
// written in the archive's little-endian encoding by hand, so that a test
// states the layout it expects rather than asking the code under test.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "persist/archive.h"

namespace kv::test {

class Bytes {
 public:
  std::vector<uint8_t> data;

  Bytes& u8(uint32_t v) {
    data.push_back(static_cast<uint8_t>(v));
    return *this;
  }
  Bytes& u16(uint32_t v) { return u8(v).u8(v >> 8); }
  Bytes& u32(uint32_t v) { return u16(v & 0xFFFF).u16(v >> 16); }
  Bytes& i32(int32_t v) { return u32(static_cast<uint32_t>(v)); }
  Bytes& f64(double v);
  // A string of fewer than 255 characters: one length byte, then the bytes.
  Bytes& str(const std::string& s) {
    u8(static_cast<uint32_t>(s.size()));
    data.insert(data.end(), s.begin(), s.end());
    return *this;
  }
  Bytes& raw(std::initializer_list<uint8_t> b) {
    data.insert(data.end(), b);
    return *this;
  }
  Bytes& add(const Bytes& b) {
    data.insert(data.end(), b.data.begin(), b.data.end());
    return *this;
  }
  // A new class tag: 0xFFFF, the schema's low 16 bits, the name's length
  // and the name.
  Bytes& newClass(const std::string& name, uint16_t schema) {
    u16(0xFFFF).u16(schema).u16(static_cast<uint32_t>(name.size()));
    data.insert(data.end(), name.begin(), name.end());
    return *this;
  }
};

// The common record at version 5 with the values the kind tests use: named
// "obj", active, no hotkeys or handlers, shown when reached and played.
Bytes CommonRecordV5();
// The visible part at version 4 with every field at its reset default and no
// attached sound or path.
Bytes VisiblePartV4();
// Both, as every visible kind's stored form begins.
inline Bytes VisibleRecord() { return CommonRecordV5().add(VisiblePartV4()); }

// Loads one object with class information from `bytes`, which must be
// consumed exactly.
ObjectPtr LoadObject(const std::vector<uint8_t>& bytes);
// Stores `object` with class information.
std::vector<uint8_t> StoreObject(const CObject& object);
// The archive failure cause that loading `bytes` raises, or -1.
int LoadFailure(const std::vector<uint8_t>& bytes, std::string* detail = nullptr);

}  // namespace kv::test

namespace kv::test {

// Loads `stored`, checks that writing it back gives `newest`, that `newest`
// itself writes back unchanged, and that a clone writes the same bytes (the
// copy carries every stored field). Answers the object loaded from `stored`.
ObjectPtr ExpectLoadsAsNewest(const std::vector<uint8_t>& stored, const std::vector<uint8_t>& newest);

}  // namespace kv::test
