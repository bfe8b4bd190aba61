#include "engine/launch.h"

#include "persist/fields.h"

namespace kv {

KV_IMPLEMENT_CLASS(CLaunch, CInsert, 0)

void CLaunch::Reset() {
  CInsert::Reset();
  program.clear();
  parameters.clear();
  launchFlag = 1;
  closeOnStop = 1;
  launchValue = 1;
  launchValue2 = 0;
}

void CLaunch::Serialize(Archive& ar) {
  CInsert::Serialize(ar);
  const uint16_t version = ar.Version(2, 1, "CLaunch");
  if (ar.IsLoading()) launchVersion = version;
  if (version >= 2) ar.Io(launchValue);
  ar.Io(program);
  ar.Io(parameters);
  ar.Io(launchFlag);
  ar.Io(closeOnStop);
  ar.Io(launchValue2);
}

void CLaunch::DescribeFields(FieldVisitor& v) {
  CInsert::DescribeFields(v);
  v.Field("launchVersion", launchVersion);
  v.Field("launchValue", launchValue);
  v.Field("program", program);
  v.Field("parameters", parameters);
  v.Field("launchFlag", launchFlag);
  v.Field("closeOnStop", closeOnStop);
  v.Field("launchValue2", launchValue2);
}

void CLaunch::CopyFrom(const CInsert& other) {
  CInsert::CopyFrom(other);
  const CLaunch& o = Same<CLaunch>(other);
  launchVersion = o.launchVersion;
  program = o.program;
  parameters = o.parameters;
  launchFlag = o.launchFlag;
  closeOnStop = o.closeOnStop;
  launchValue = o.launchValue;
  launchValue2 = o.launchValue2;
}

}  // namespace kv
