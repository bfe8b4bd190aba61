#include "engine/flow.h"

#include "persist/field_walk.h"

namespace kv {

KV_IMPLEMENT_CLASS(CFlow, CInsert, 0)

CFlow::CFlow() = default;

void CFlow::Reset() {
  CInsert::Reset();
  FieldTransfer::Reset(*this);
  resolvedPath.clear();
  auxText.clear();
  releaseVariants = 0;
  requestParams.fill(0);
}

template <class W>
void CFlow::Walk(W& w) {
  w.Base(static_cast<CInsert&>(*this));
  w.Version("flowVersion", flowVersion, 1, 1, "CFlow");
  w("command", command);
  w("commandValue", commandValue);
  w("eventCode", eventCode);
  w("argument", argument);
  if (W::kArchive && w.Filling()) owner.reset();
}

KV_FIELD_WALK_IO(CFlow)

void CFlow::CopyFrom(const CInsert& other) {
  CInsert::CopyFrom(other);
  const CFlow& o = Same<CFlow>(other);
  FieldTransfer::Copy(*this, o);
  resolvedPath = o.resolvedPath;
  auxText = o.auxText;
  releaseVariants = o.releaseVariants;
  requestParams = o.requestParams;
}

std::shared_ptr<CInsert> CFlow::GetOwner() {
  if (auto o = owner.lock()) return o;
  return shared_from_this();
}

}  // namespace kv
