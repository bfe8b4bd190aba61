#include "engine/var.h"

#include <cstring>

#include "persist/containers.h"
#include "persist/field_walk.h"
#include "persist/fields.h"
#include "engine/runner.h"

namespace kv {

KV_IMPLEMENT_CLASS(CVarsItem, CObject, 0)
KV_IMPLEMENT_CLASS(CVar, CInsert, 0)

void CVarsItem::Reset() {
  FieldTransfer::Reset(*this);
  SetCurrent<uint64_t>(0);
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
    std::array<uint8_t, 8> bytes{};
    std::memcpy(bytes.data(), initialValue.data(), ValueWidth());
    SetCurrent(bytes);
  }
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

void DescribeValue(FieldVisitor& v, uint16_t type, std::array<uint8_t, 8>& bytes) {
  switch (type) {
    case var_type::kInt2:
    case var_type::kBool:
      return ValueField<int16_t>(v, bytes);
    case var_type::kWord:
      return ValueField<uint16_t>(v, bytes);
    case var_type::kInt4:
      return ValueField<int32_t>(v, bytes);
    case var_type::kDWord:
      return ValueField<uint32_t>(v, bytes);
    case var_type::kDouble:
      return ValueField<double>(v, bytes);
    default:
      return;
  }
}

}  // namespace

template <class W>
void CVarsItem::Walk(W& w) {
  w.Version("loadedVersion", loadedVersion, 1, 1, "CVarsItem");
  w("auxId", auxId);
  w("type", type);
  w("name", name);
  w("auxText", auxText);
  // The initial value is stored as its type's width of bytes, or as text.
  if constexpr (W::kArchive) {
    if (type == var_type::kString) {
      w("initialText", initialText);
    } else if (size_t width = ValueWidth()) {
      if (w.ar.IsStoring()) {
        w.ar.WriteBytes(initialValue.data(), width);
      } else {
        initialValue.fill(0);
        w.ar.ReadBytes(initialValue.data(), width);
      }
    }
  } else if constexpr (W::kJson) {
    if (type == var_type::kString) {
      w("initialText", initialText);
    } else {
      DescribeValue(w.v, type, initialValue);
    }
  } else {
    w("initialText", initialText);
    w("initialValue", initialValue);
  }
  if (w.Filling()) ResetToInitial();
}

KV_FIELD_WALK_IO(CVarsItem)

std::shared_ptr<CVarsItem> CVarsItem::Clone() const {
  auto copy = std::make_shared<CVarsItem>();
  FieldTransfer::Copy(*copy, *this);
  copy->currentText = currentText;
  copy->SetCurrent(CurrentBytes());
  return copy;
}

CVar::CVar() = default;
CVar::~CVar() = default;

void CVar::Reset() {
  CInsert::Reset();
  FieldTransfer::Reset(*this);
  items.clear();
}

template <class W>
void CVar::Walk(W& w) {
  w.Base(static_cast<CInsert&>(*this));
  w.Version("varVersion", varVersion, 1, 1, "CVar");
  w("groupFlag", groupFlag);
  w("groupName", groupName);
  if constexpr (W::kArchive) {
    // The items travel inside a list object of their own.
    Archive& ar = w.ar;
    if (ar.IsStoring()) {
      if (!storedList_) storedList_ = std::make_shared<CObList>();
      storedList_->items.assign(items.begin(), items.end());
      ar.WriteObject(storedList_.get());
    } else {
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
  } else {
    w.Objects("items", items);
  }
  w("groupValue", groupValue);
}

KV_FIELD_WALK_IO(CVar)

void CVar::CopyFrom(const CInsert& other) {
  CInsert::CopyFrom(other);
  const CVar& o = Same<CVar>(other);
  FieldTransfer::Copy(*this, o);
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
