// Writes the window-objects project (tests/shell/test_entry.h) to the file
// named on the command line, for the window tests.
#include <cstdio>
#include <fstream>

#include "tests/shell/test_entry.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: window_scene_writer FILE\n");
    return 64;
  }
  kv::RegisterTestKinds();
  const auto bytes = kv::WindowObjectsProject();
  std::ofstream out(argv[1], std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return out ? 0 : 1;
}
