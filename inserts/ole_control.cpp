#include "inserts/ole_control.h"

#include "inserts/fixed_bytes.h"
#include "inserts/kind_fields.h"
#include "persist/containers.h"
#include "persist/fields.h"

namespace kv {

KV_IMPLEMENT_CLASS(COleCtl, CVisibleInsert, 1)

void COleCtl::Reset() {
  CVisibleInsert::Reset();
  ResetKindFields<OleControlFields>(*this);
}

void COleCtl::CopyFrom(const CInsert& other) {
  CVisibleInsert::CopyFrom(other);
  CopyKindFields<OleControlFields>(*this, other);
  kindId = Same<COleCtl>(other).kindId;
}

void COleCtl::Serialize(Archive& ar) {
  CVisibleInsert::Serialize(ar);
  uint16_t v = ar.Version(1, 1, "COleCtl");
  if (ar.IsLoading()) controlVersion = v;
  if (ar.IsStoring()) {
    ar.WriteBytes(controlClsid.data(), controlClsid.size());
  } else {
    ar.ReadBytes(controlClsid.data(), controlClsid.size());
  }
  ar.Io(controlAux1);
  ar.Io(controlFile);
  SerializeStrings(ar, supportFiles);
  ar.Io(controlAux2);
  ar.Io(autoRegister);
  ar.Io(windowless);
  ar.Io(controlAux3);
  ar.Io(controlAux4);
  ar.Io(controlAux5);
  ar.Io(controlAux6);
  if (ar.IsStoring()) {
    if (creationData.size() > UINT32_MAX) ar.Fail(CArchiveException::genericException, "COleCtl: creationData");
    ar.WriteU32(static_cast<uint32_t>(creationData.size()));
    ar.WriteBytes(creationData.data(), creationData.size());
  } else {
    creationData = ar.ReadBlock(ar.ReadCheckedU32(1));
  }
  SerializeBytes(ar, persistedState);
}

void COleCtl::DescribeFields(FieldVisitor& v) {
  CVisibleInsert::DescribeFields(v);
  v.Field("controlVersion", controlVersion);
  DescribeFixedBytes(v, "controlClsid", controlClsid);
  v.Field("controlAux1", controlAux1);
  v.Field("controlFile", controlFile);
  v.Values("supportFiles", supportFiles);
  v.Field("controlAux2", controlAux2);
  v.Field("autoRegister", autoRegister);
  v.Field("windowless", windowless);
  v.Field("controlAux3", controlAux3);
  v.Field("controlAux4", controlAux4);
  v.Field("controlAux5", controlAux5);
  v.Field("controlAux6", controlAux6);
  v.Field("creationData", creationData);
  v.Field("persistedState", persistedState);
}

}  // namespace kv
