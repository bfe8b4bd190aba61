#include "media/mci.h"

#include "engine/commands.h"
#include "engine/media_service.h"
#include "engine/request.h"
#include "engine/run_error.h"
#include "engine/runner.h"
#include "engine/strings.h"
#include "inserts/kind_fields.h"
#include "media/mci_errors.h"
#include "persist/field_walk.h"
#include "platform/string_table.h"
#include "platform/text.h"

namespace kv {

KV_IMPLEMENT_CLASS(CMCI, CInsert, 0)

void CMCI::Reset() {
  CInsert::Reset();
  ResetKindFields<MciFields>(*this);
}

void CMCI::CopyFrom(const CInsert& other) {
  CInsert::CopyFrom(other);
  CopyKindFields<MciFields>(*this, other);
}

template <class W>
void CMCI::Walk(W& w) {
  w.Base(static_cast<CInsert&>(*this));
  w.Version("mciVersion", mciVersion, 1, 1, "CMCI");
  w("mciVerb", mciVerb);
  w("mciTarget", mciTarget);
  w("mciParameters", mciParameters);
  w("showErrors", showErrors);
  w("mciValue", mciValue);
}

KV_FIELD_WALK_IO(CMCI)

// --- behaviour

namespace {
constexpr uint32_t kMciErrorCaption = 7018;
}  // namespace

std::string MciErrorCaption(const std::string& verb, const std::string& target) {
  return std::string(LoadString(kMciErrorCaption)) + " " + verb + " " + target;
}

std::string CMCI::BuildCommand(Runner& runner) const {
  return std::string(Trim(runner.ExpandNames(mciVerb + " " + mciTarget + " " + mciParameters)));
}

int CMCI::Run(Runner& runner, int32_t mode) {
  runMode = mode;
  runner.DelayBeforeActing(*this, mode);
  if (runner.IsStopRequested()) return 1;
  const std::string command = BuildCommand(runner);
  InsertPtr target = runner.FindObject(std::string(Trim(mciTarget)), true, true);
  if (!target) return 1;
  ScriptThreadContext* here = ScriptThreadContext::Current();
  // A target playing in a thread of its own owns its device there.
  InsertPtr copy = target->clone.lock();
  ScriptThreadContext* owner = runner.ThreadOf(copy ? *copy : *target);
  // A target that never ran has no thread yet: the device is this thread's.
  if (!owner || owner == here) {
    MediaService* media = runner.Media();
    if (!media) throw KVRunException(sid::kRunTimeError, "MCI needs the run's media layer");
    const uint32_t result = media->SendMciString(runner, this, command, nullptr);
    if (result != 0) {
      runner.variables().SetLastError(static_cast<int32_t>(result));
      if (showErrors) runner.ShowError(0, MciErrorText(result), MciErrorCaption(mciVerb, mciTarget));
    }
    return 1;
  }
  auto request = std::make_unique<Request>();
  request->code = command::kMciString;
  request->argument = command;
  request->source = shared_from_this();
  runner.PostRequest(owner, std::move(request), false);
  return 1;
}

}  // namespace kv
