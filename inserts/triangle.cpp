#include "inserts/triangle.h"

namespace kv {

KV_IMPLEMENT_CLASS(CTriangle, CObjectFill, kVersionable | 0)

}  // namespace kv
