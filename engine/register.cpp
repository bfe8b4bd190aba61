#include "engine/register.h"

#include "engine/insert.h"
#include "engine/kind_table.h"
#include "persist/document.h"

namespace kv {

#define KV_DECLARE_HOOK(Class, ...) const ClassInfo& KV_CLASS_HOOK(Class)();
KV_ENGINE_KINDS(KV_DECLARE_HOOK)
KV_ENGINE_RECORDS(KV_DECLARE_HOOK)
#undef KV_DECLARE_HOOK

namespace {

ObjectPtr CloneInsert(const ObjectPtr& object, bool whilePlaying) {
  auto insert = std::dynamic_pointer_cast<CInsert>(object);
  return insert ? insert->Clone(whilePlaying) : nullptr;
}

}  // namespace

void RegisterEngineClasses() {
  RegisterPersistClasses();
#define KV_REGISTER(Class, ...) KV_CLASS_HOOK(Class)();
  KV_ENGINE_KINDS(KV_REGISTER)
  KV_ENGINE_RECORDS(KV_REGISTER)
#undef KV_REGISTER
  SetInsertCloner(&CloneInsert);
}

}  // namespace kv
