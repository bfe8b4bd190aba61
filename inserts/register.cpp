#include "inserts/register.h"

#include "engine/register.h"
#include "inserts/visible_insert.h"

namespace kv {

void RegisterVisualClasses() {
  RegisterEngineClasses();
  CVisibleInsert::StaticClass();
}

}  // namespace kv
