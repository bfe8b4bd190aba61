#include "inserts/ole_control.h"

#include "persist/field_walk.h"

namespace kv {

KV_IMPLEMENT_CLASS(COleCtl, CVisibleInsert, 1)

void COleCtl::Reset() {
  CVisibleInsert::Reset();
  FieldTransfer::Reset(*this);
}

void COleCtl::CopyFrom(const CInsert& other) {
  CVisibleInsert::CopyFrom(other);
  const COleCtl& o = Same<COleCtl>(other);
  FieldTransfer::Copy(*this, o);
  kindId = o.kindId;
}

template <class W>
void COleCtl::Walk(W& w) {
  w.Base(static_cast<CVisibleInsert&>(*this));
  w.Version("controlVersion", controlVersion, 1, 1, "COleCtl");
  w.Bytes("controlClsid", controlClsid);
  w("controlAux1", controlAux1);
  w("controlFile", controlFile);
  w.Values("supportFiles", supportFiles, 1);
  w("controlAux2", controlAux2);
  w("autoRegister", autoRegister);
  w("windowless", windowless);
  w("controlAux3", controlAux3);
  w("controlAux4", controlAux4);
  w("controlAux5", controlAux5);
  w("controlAux6", controlAux6);
  w.Bytes("creationData", creationData, CountForm::kU32);
  w("persistedState", persistedState);
}

KV_FIELD_WALK_IO(COleCtl)

}  // namespace kv
