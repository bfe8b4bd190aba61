// The error a running insert or command raises for the user to see: a
// string id and a detail text. The runner reports it with the insert's
// location and asks whether to continue.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace kv {

class KVRunException : public std::runtime_error {
 public:
  KVRunException(uint32_t stringId, std::string detail)
      : std::runtime_error(std::move(detail)), id(stringId) {}
  uint32_t id;
  std::string Detail() const { return what(); }
};

}  // namespace kv
