// What the engine asks of printing (the player's, above the stage): the
// whole stage, the stage around one object, or one object alone on a white
// page. The player installs one per run; a run without one cannot print.
#pragma once

#include <memory>

namespace kv {

class CInsert;
class Runner;

enum class PrintRequest { kStage, kObjectWithStage, kObjectAlone };

class PrintService {
 public:
  virtual ~PrintService() = default;
  // Prints; `object` is the insert of the two object requests. False when
  // printing failed (the failure was shown where printing shows it); a
  // cancelled print answers true.
  virtual bool Print(Runner& runner, PrintRequest request, const std::shared_ptr<CInsert>& object) = 0;
};

}  // namespace kv
