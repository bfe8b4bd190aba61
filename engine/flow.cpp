#include "engine/flow.h"

#include "persist/fields.h"

namespace kv {

KV_IMPLEMENT_CLASS(CFlow, CInsert, 0)

CFlow::CFlow() = default;

void CFlow::Reset() {
  CInsert::Reset();
  command = command::kNone;
  commandValue = 0;
  argument.clear();
  resolvedPath.clear();
  eventCode = event::kNoEvent;
  auxText.clear();
  releaseVariants = 0;
  requestParams.fill(0);
}

void CFlow::Serialize(Archive& ar) {
  CInsert::Serialize(ar);
  const uint16_t version = ar.Version(1, 1, "CFlow");
  if (ar.IsLoading()) flowVersion = version;
  ar.Io(command);
  ar.Io(commandValue);
  ar.Io(eventCode);
  ar.Io(argument);
  if (ar.IsLoading()) owner.reset();
}

void CFlow::DescribeFields(FieldVisitor& v) {
  CInsert::DescribeFields(v);
  v.Field("flowVersion", flowVersion);
  v.Field("command", command);
  v.Field("commandValue", commandValue);
  v.Field("eventCode", eventCode);
  v.Field("argument", argument);
}

void CFlow::CopyFrom(const CInsert& other) {
  CInsert::CopyFrom(other);
  const CFlow& o = Same<CFlow>(other);
  flowVersion = o.flowVersion;
  command = o.command;
  commandValue = o.commandValue;
  argument = o.argument;
  resolvedPath = o.resolvedPath;
  eventCode = o.eventCode;
  auxText = o.auxText;
  releaseVariants = o.releaseVariants;
  requestParams = o.requestParams;
}

std::shared_ptr<CInsert> CFlow::GetOwner() {
  if (auto o = owner.lock()) return o;
  return shared_from_this();
}

}  // namespace kv
