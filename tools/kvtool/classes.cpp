#include "tools/kvtool/classes.h"

#include "persist/archive.h"
#ifdef KV_HAVE_INSERTS
#include "ext/register.h"
#endif

namespace kv::tool {

void RegisterAllClasses() {
  RegisterPersistClasses();
#ifdef KV_HAVE_INSERTS
  RegisterInsertClasses();
#endif
}

}  // namespace kv::tool
