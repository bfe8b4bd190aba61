#include "engine/register.h"

#include "engine/bottom.h"
#include "engine/calc.h"
#include "engine/comment.h"
#include "engine/compare.h"
#include "engine/flow.h"
#include "engine/insert.h"
#include "engine/jump.h"
#include "engine/label.h"
#include "engine/launch.h"
#include "engine/timer.h"
#include "engine/var.h"
#include "engine/wait.h"
#include "persist/document.h"

namespace kv {
namespace {

ObjectPtr CloneInsert(const ObjectPtr& object, bool whilePlaying) {
  auto insert = std::dynamic_pointer_cast<CInsert>(object);
  return insert ? insert->Clone(whilePlaying) : nullptr;
}

}  // namespace

void RegisterEngineClasses() {
  RegisterPersistClasses();
  CInsert::StaticClass();
  CBottom::StaticClass();
  CCalc::StaticClass();
  CCompare::StaticClass();
  Ccomment::StaticClass();
  CFlow::StaticClass();
  CJump::StaticClass();
  CLabel::StaticClass();
  CLaunch::StaticClass();
  CTimer::StaticClass();
  CVar::StaticClass();
  CVarsItem::StaticClass();
  CWait::StaticClass();
  SetInsertCloner(&CloneInsert);
}

}  // namespace kv
