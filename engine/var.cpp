#include "engine/var.h"

#include <cstring>

#include "persist/containers.h"
#include "persist/fields.h"
#include "engine/runner.h"

namespace kv {

KV_IMPLEMENT_CLASS(CVarsItem, CObject, 0)
KV_IMPLEMENT_CLASS(CVar, CInsert, 0)

void CVarsItem::Reset() {
  type = var_type::kBool;
  auxId = 0;
  initialValue.fill(0);
  currentValue.fill(0);
}

size_t CVarsItem::ValueWidth() const {
  switch (type) {
    case var_type::kInt2:
    case var_type::kWord:
    case var_type::kBool:
      return 2;
    case var_type::kInt4:
    case var_type::kDWord:
      return 4;
    case var_type::kDouble:
      return 8;
    default:
      return 0;
  }
}

void CVarsItem::ResetToInitial() {
  if (type == var_type::kString) {
    currentText = initialText;
  } else {
    std::memcpy(currentValue.data(), initialValue.data(), ValueWidth());
  }
}

void CVarsItem::Serialize(Archive& ar) {
  const uint16_t version = ar.Version(1, 1, "CVarsItem");
  if (ar.IsLoading()) loadedVersion = version;
  ar.Io(auxId);
  ar.Io(type);
  ar.Io(name);
  ar.Io(auxText);
  if (type == var_type::kString) {
    ar.Io(initialText);
  } else if (size_t width = ValueWidth()) {
    if (ar.IsStoring()) {
      ar.WriteBytes(initialValue.data(), width);
    } else {
      initialValue.fill(0);
      ar.ReadBytes(initialValue.data(), width);
    }
  }
  if (ar.IsLoading()) ResetToInitial();
}

namespace {

// The initial value printed as the number its type holds.
template <class T>
void ValueField(FieldVisitor& v, std::array<uint8_t, 8>& bytes) {
  T value;
  std::memcpy(&value, bytes.data(), sizeof value);
  v.Field("initialValue", value);
  if (v.IsReading()) {
    bytes.fill(0);
    std::memcpy(bytes.data(), &value, sizeof value);
  }
}

}  // namespace

void CVarsItem::DescribeFields(FieldVisitor& v) {
  v.Field("loadedVersion", loadedVersion);
  v.Field("auxId", auxId);
  v.Field("type", type);
  v.Field("name", name);
  v.Field("auxText", auxText);
  switch (type) {
    case var_type::kInt2:
    case var_type::kBool:
      ValueField<int16_t>(v, initialValue);
      break;
    case var_type::kWord:
      ValueField<uint16_t>(v, initialValue);
      break;
    case var_type::kInt4:
      ValueField<int32_t>(v, initialValue);
      break;
    case var_type::kDWord:
      ValueField<uint32_t>(v, initialValue);
      break;
    case var_type::kDouble:
      ValueField<double>(v, initialValue);
      break;
    case var_type::kString:
      v.Field("initialText", initialText);
      break;
    default:
      break;
  }
  if (v.IsReading()) ResetToInitial();
}

std::shared_ptr<CVarsItem> CVarsItem::Clone() const {
  auto copy = std::make_shared<CVarsItem>();
  copy->loadedVersion = loadedVersion;
  copy->auxId = auxId;
  copy->type = type;
  copy->name = name;
  copy->auxText = auxText;
  copy->initialText = initialText;
  copy->currentText = currentText;
  copy->initialValue = initialValue;
  copy->currentValue = currentValue;
  return copy;
}

CVar::CVar() = default;
CVar::~CVar() = default;

void CVar::Reset() {
  CInsert::Reset();
  groupFlag = 0;
  groupName.clear();
  items.clear();
  groupValue = 0;
}

void CVar::Serialize(Archive& ar) {
  CInsert::Serialize(ar);
  const uint16_t version = ar.Version(1, 1, "CVar");
  ar.Io(groupFlag);
  ar.Io(groupName);
  if (ar.IsStoring()) {
    if (!storedList_) storedList_ = std::make_shared<CObList>();
    storedList_->items.assign(items.begin(), items.end());
    ar.WriteObject(storedList_.get());
  } else {
    varVersion = version;
    items.clear();
    auto list = std::static_pointer_cast<CObList>(ar.ReadObject(&CObList::StaticClass()));
    if (list) {
      for (const ObjectPtr& p : list->items) {
        auto item = std::dynamic_pointer_cast<CVarsItem>(p);
        if (p && !item) ar.Fail(CArchiveException::badClass, "items: expected CVarsItem");
        items.push_back(std::move(item));
      }
    }
  }
  ar.Io(groupValue);
}

void CVar::DescribeFields(FieldVisitor& v) {
  CInsert::DescribeFields(v);
  v.Field("varVersion", varVersion);
  v.Field("groupFlag", groupFlag);
  v.Field("groupName", groupName);
  v.Objects("items", items);
  v.Field("groupValue", groupValue);
}

void CVar::CopyFrom(const CInsert& other) {
  CInsert::CopyFrom(other);
  const CVar& o = Same<CVar>(other);
  varVersion = o.varVersion;
  groupFlag = o.groupFlag;
  groupName = o.groupName;
  groupValue = o.groupValue;
  items.clear();
  for (const auto& item : o.items) items.push_back(item ? item->Clone() : nullptr);
}

// --- behaviour

int CVar::Run(Runner& runner, int32_t mode) {
  runMode = mode;
  if (mode != run_mode::kScript && mode != run_mode::kInitialize) return 0;
  runner.variables().InitializeGroup(*this);
  return 1;
}

}  // namespace kv
