#include "inserts/ellipse.h"

namespace kv {

KV_IMPLEMENT_CLASS(CEllipse, CObjectFill, kVersionable | 0)

}  // namespace kv
