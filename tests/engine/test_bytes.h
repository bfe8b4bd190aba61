// Byte-vector helpers for the record tests: concatenation of hand-written
// pieces, and loading or storing one object through an archive.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string_view>
#include <vector>

#include "persist/archive.h"

namespace kv::test {

using Bytes = std::vector<uint8_t>;

inline Bytes Cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

// Little-endian integers.
inline Bytes U16(uint16_t v) { return {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8)}; }
inline Bytes U32(uint32_t v) {
  return {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v >> 16),
          static_cast<uint8_t>(v >> 24)};
}

// The characters of a text, no prefix.
inline Bytes Chars(std::string_view s) { return Bytes(s.begin(), s.end()); }

// A new-class tag: 0xFFFF, schema, name length, name.
inline Bytes NewClassTag(std::string_view name, uint16_t schema = 0) {
  Bytes b = {0xFF, 0xFF, static_cast<uint8_t>(schema), static_cast<uint8_t>(schema >> 8),
             static_cast<uint8_t>(name.size()), 0x00};
  Bytes n = Chars(name);
  b.insert(b.end(), n.begin(), n.end());
  return b;
}

// The common record of an insert in its reset state, at version 5.
inline Bytes ResetRecordV5() {
  return {0x05, 0x00,                                      // record version 5
          0x00, 0x00, 0x00, 0x00, 0x00, 0x00,              // auxText1, auxText2 empty; flags 0; auxWord 0
          0x00, 0x00, 0x00, 0x00,                          // auxLong 0
          0x00, 0x00, 0x00, 0x00,                          // hotkeyCount 0
          0x01, 0x00, 0x00, 0x00,                          // showMode 1
          0x00, 0x00, 0x00, 0x00,                          // active 0
          0x00,                                            // threaded 0
          0x00, 0x00, 0x00, 0x00,                          // delayMs 0
          0x00, 0x00, 0x00, 0x00,                          // auxValue 0
          0x00, 0x00,                                      // comment, name empty
          0x01,                                            // editorFlag 1
          0x7F,                                            // layer 127
          0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,  // rect left 0, top 0
          0x40, 0x00, 0x00, 0x00, 0x40, 0x00, 0x00, 0x00,  // right 64, bottom 64
          0x00, 0x00, 0x00};                               // auxByte, runState, handlerCount 0
}

template <class T>
std::shared_ptr<T> LoadOne(const Bytes& bytes, size_t* consumed = nullptr) {
  Archive ar(bytes, "test.kvs");
  auto object = ar.ReadObjectOf<T>();
  if (consumed) *consumed = ar.Position();
  return object;
}

inline Bytes StoreOne(const CObject& object) {
  Archive ar("test.kvs");
  ar.WriteObject(&object);
  return ar.buffer();
}

}  // namespace kv::test
