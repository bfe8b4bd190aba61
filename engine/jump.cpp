#include "engine/jump.h"

#include "persist/fields.h"

namespace kv {

KV_IMPLEMENT_CLASS(CJump, CInsert, 0)

void CJump::Reset() {
  CInsert::Reset();
  // The step counts keep their values: a reset jump remembers how far it goes.
  jumpType = jump_type::kToEnd;
  labelName.clear();
  counted = 0;
  passCounter = 1;
}

void CJump::Serialize(Archive& ar) {
  CInsert::Serialize(ar);
  const uint16_t version = ar.Version(3, 1, "CJump");
  if (ar.IsLoading()) jumpVersion = version;
  if (version >= 3) {
    ar.Io(counted);
    ar.Io(passCounter);
  }
  if (version >= 2) {
    ar.Io(backCount);
    ar.Io(forwardCount);
  }
  ar.Io(jumpType);
  ar.Io(labelName);
}

void CJump::DescribeFields(FieldVisitor& v) {
  CInsert::DescribeFields(v);
  v.Field("jumpVersion", jumpVersion);
  v.Field("counted", counted);
  v.Field("passCounter", passCounter);
  v.Field("backCount", backCount);
  v.Field("forwardCount", forwardCount);
  v.Field("jumpType", jumpType);
  v.Field("labelName", labelName);
}

void CJump::CopyFrom(const CInsert& other) {
  CInsert::CopyFrom(other);
  const CJump& o = Same<CJump>(other);
  jumpVersion = o.jumpVersion;
  jumpType = o.jumpType;
  labelName = o.labelName;
  backCount = o.backCount;
  forwardCount = o.forwardCount;
  counted = o.counted;
  passCounter = o.passCounter;
}

}  // namespace kv
