// Builds expected byte streams by hand, independently of the archive code, so
// that tests compare against the format rules rather than against themselves.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

namespace kv::test {

struct Bytes {
  std::vector<uint8_t> b;
  Bytes& u8(uint32_t v) {
    b.push_back(static_cast<uint8_t>(v));
    return *this;
  }
  Bytes& u16(uint32_t v) { return u8(v).u8(v >> 8); }
  Bytes& u32(uint32_t v) { return u16(v).u16(v >> 16); }
  Bytes& raw(std::initializer_list<uint32_t> bytes) {
    for (uint32_t x : bytes) u8(x);
    return *this;
  }
  Bytes& chars(const std::string& s) {
    b.insert(b.end(), s.begin(), s.end());
    return *this;
  }
  // A short string: one length byte, then the characters.
  Bytes& str(const std::string& s) { return u8(static_cast<uint32_t>(s.size())).chars(s); }
  // A new class tag: 0xFFFF, schema, name length, name.
  Bytes& newClass(const std::string& name, uint32_t schema = 0) {
    return u16(0xFFFF).u16(schema).u16(static_cast<uint32_t>(name.size())).chars(name);
  }
  Bytes& append(const Bytes& other) {
    b.insert(b.end(), other.b.begin(), other.b.end());
    return *this;
  }
};

}  // namespace kv::test
