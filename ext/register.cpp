#include "ext/register.h"

#include "engine/kind_table.h"
#include "inserts/register.h"
#include "media/stage_media_site.h"
#include "persist/archive.h"

namespace kv {

// Each kind's own file defines its hook (KV_IMPLEMENT_CLASS), so this list
// needs none of their headers.
#define KV_DECLARE_HOOK(Class, ...) const ClassInfo& KV_CLASS_HOOK(Class)();
KV_UPPER_KINDS(KV_DECLARE_HOOK)
KV_UPPER_RECORDS(KV_DECLARE_HOOK)
#undef KV_DECLARE_HOOK

void RegisterInsertClasses() {
  RegisterVisualClasses();  // the engine classes and the visible base
#define KV_REGISTER(Class, ...) KV_CLASS_HOOK(Class)();
  KV_UPPER_KINDS(KV_REGISTER)
  KV_UPPER_RECORDS(KV_REGISTER)
#undef KV_REGISTER
  RegisterMediaControls();
}

}  // namespace kv
