#include "platform/environment.h"

#include <unistd.h>

#include <cstdlib>

namespace kv {

std::optional<std::string> EnvironmentValue(const std::string& name) {
  const char* v = std::getenv(name.c_str());
  if (!v) return std::nullopt;
  return std::string(v);
}

std::optional<std::string> EnvironmentEntry(int index) {
  if (index < 1) return std::nullopt;
  int k = 1;
  for (char** e = environ; *e; ++e, ++k)
    if (k == index) return std::string(*e);
  return std::nullopt;
}

}  // namespace kv
