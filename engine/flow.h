// CFlow ("Script Flow"): one script-flow command with its argument and
// parameter. It is a script step, an event handler of another insert, and the
// body of a cross-thread request.
#pragma once

#include <array>

#include "engine/commands.h"
#include "engine/events.h"
#include "engine/insert.h"
#include "engine/request.h"

namespace kv {

// What a command needs that this build does not have yet ("printing"), or
// null when it runs; running it raises a run-time error naming that.
const char* CommandNeeds(uint16_t code);

class CFlow : public CInsert {
  KV_DECLARE_CLASS(CFlow)
 public:
  CFlow();

  uint16_t flowVersion = 0;  // the version word read (loadedVersion of this part)
  uint16_t command = command::kNone;
  uint32_t commandValue = 0;
  std::string argument;
  std::string resolvedPath;
  uint32_t eventCode = event::kNoEvent;
  std::weak_ptr<CInsert> owner;  // empty: the CFlow itself
  std::string auxText;
  uint32_t releaseVariants = 0;
  std::array<int32_t, 5> requestParams{};

  template <class W>
  void Walk(W& w);
  void Serialize(Archive& ar) override;
  void DescribeFields(FieldVisitor& v) override;
  void Reset() override;
  void CopyFrom(const CInsert& other) override;

  // The insert holding the handler, or the CFlow itself.
  std::shared_ptr<CInsert> GetOwner();

  double requestNumber = 0.0;  // a request's media time (commands 77, 78)
  std::vector<SubArgument> subArgs;  // a request's subroutine arguments (command 33)
  int Run(Runner& runner, int32_t mode) override;
  void Stop(PlayContext&) override {}

 private:
  int Execute(Runner& runner);
  int RunBundleCommand(Runner& runner);
};

}  // namespace kv
