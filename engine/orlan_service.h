// What the engine asks of the run's Orlan binding (ext/, which sits above
// the engine): the Script Flow commands that call a subroutine of an Orlan
// module. The player installs one per run; a run without one refuses them.
#pragma once

#include <span>
#include <string>

#include "engine/request.h"

namespace kv {

class CInsert;
class Runner;

class OrlanService {
 public:
  virtual ~OrlanService() = default;

  // Command 32: a subroutine of the Orlan module of the calling thread's
  // current script, on the calling thread.
  virtual void CallScriptSub(Runner& runner, CInsert* caller, const std::string& name) = 0;
  // Command 33: a subroutine of the project's own Orlan module, with the
  // arguments the request carries.
  virtual void CallProjectSub(Runner& runner, CInsert* caller, const std::string& name,
                              std::span<const SubArgument> args = {}) = 0;
};

}  // namespace kv
