// Fuzzes the 3D metafile reader: any input reads or fails with a ModelError,
// and whatever it reads draws into a small view without leaving it.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "threed/errors.h"
#include "threed/metafile.h"
#include "threed/render.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kv::threed;
  ReadLimits limits;
  limits.maxTriangles = 20000;  // keeps each run fast; the limit itself is tested elsewhere
  try {
    const Scene scene = MakeScene(ReadMetafile({data, size}, limits));
    View view;
    view.width = 32, view.height = 24;
    view.orientation = {float(size % 360), 45, 0};
    std::vector<uint32_t> pixels(size_t(view.width) * view.height);
    Render(scene, view, pixels);
    view.wireframe = true;
    view.orthographic = true;
    Render(scene, view, pixels);
  } catch (const ModelError&) {
  }
  return 0;
}
