// Runs an effect routine on parameters as a stored object carries them
// (effect number, two parameters as signed words) over an object of up to
// 255 x 255: every step count is capped, every step stays inside the object.
#include <cstdint>
#include <cstring>

#include "stage/effect_routines.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 12) return 0;
  int32_t p1, p2;
  std::memcpy(&p1, data + 3, 4);
  std::memcpy(&p2, data + 7, 4);
  const kv::RoutineInput in{data[0], p1, p2, data[1], data[2], data[11]};
  auto routine = kv::MakeEffectRoutine(in);
  if (!routine) return 0;
  if (routine->Steps() > kv::kMaxEffectSteps || routine->ClockSteps() > kv::kMaxEffectSteps) __builtin_trap();
  kv::EffectFrame frame{in.width, in.height, {}, {}, {}};
  const kv::Rect object{0, 0, in.width, in.height};
  for (int i = 0; i < routine->Steps(); ++i) {
    const kv::Rect changed = routine->Step(i, frame);
    if (!changed.IsEmpty() && !object.Contains(changed)) __builtin_trap();
    if (routine->UsesMask() && frame.mask.size() != size_t(in.width) * size_t(in.height)) __builtin_trap();
  }
  return 0;
}
