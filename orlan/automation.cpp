#include "orlan/automation.h"

#include <atomic>

namespace kv::orlan {

namespace {

// Handles of automation objects: distinct, never 0 (Nothing), for Is.
std::atomic<uint32_t> nextHandle{1};

}  // namespace

Value NewAutomationObject(std::shared_ptr<Automation> target) {
  if (!target) return Value::Nothing();
  auto a = std::make_unique<AutomationObj>();
  a->library = kAutomationLibrary;
  a->target = std::move(target);
  return WrapOwnObject(std::move(a), nextHandle);
}

}  // namespace kv::orlan
