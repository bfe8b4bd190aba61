// Automation objects: host objects whose members are found by name when the
// script calls them (late binding), as a control's dispatch interface is.
// The host hands one out (an ActiveX control's object); every member call,
// property read and property write goes to its Invoke.
#pragma once

#include <memory>
#include <string>

#include "orlan/value.h"

namespace kv::orlan {

// The library mark of automation objects.
inline constexpr int kAutomationLibrary = -3;

class Automation {
 public:
  virtual ~Automation() = default;
  // `kind` is the VM's member call kind: 0 property read, 2 property write
  // (args[0] the value), 3 statement call, 4 function call. Sets `result`
  // for a read or function; raises a script error (438 for a member the
  // object does not have) otherwise.
  virtual void Invoke(const std::string& name, int kind, const Value* args, int nargs, Value& result) = 0;
};

struct AutomationObj : ObjectObj {
  std::shared_ptr<Automation> target;
};

Value NewAutomationObject(std::shared_ptr<Automation> target);
inline AutomationObj* AutomationOf(const Value& v) {
  if (v.tag != Tag::Object || ObjOf(v)->library != kAutomationLibrary) return nullptr;
  return static_cast<AutomationObj*>(ObjOf(v));
}

}  // namespace kv::orlan
