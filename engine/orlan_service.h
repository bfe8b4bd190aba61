// What the engine asks of the run's Orlan binding (ext/, which sits above
// the engine): the Script Flow commands that call a subroutine of an Orlan
// module. The player installs one per run; a run without one refuses them.
#pragma once

#include <string>

namespace kv {

class CInsert;
class Runner;

class OrlanService {
 public:
  virtual ~OrlanService() = default;

  // Command 32: a subroutine of the Orlan module of the calling thread's
  // current script, on the calling thread.
  virtual void CallScriptSub(Runner& runner, CInsert* caller, const std::string& name) = 0;
  // Command 33: a subroutine of the project's own Orlan module.
  virtual void CallProjectSub(Runner& runner, CInsert* caller, const std::string& name) = 0;
};

}  // namespace kv
