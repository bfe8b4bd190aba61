#include "engine/variables.h"

#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "engine/runner.h"
#include "engine/strings.h"
#include "engine/trace.h"
#include "persist/document.h"
#include "platform/string_table.h"
#include "platform/text.h"

namespace kv {

namespace {

std::shared_ptr<CVarsItem> MakeRuntime(const std::string& name, uint16_t type) {
  auto item = std::make_shared<CVarsItem>();
  item->name = name;
  item->type = type;
  item->loadedVersion = 1;
  return item;
}

}  // namespace

std::string FormatDoubleE(double value) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%e", value);
  // The C library writes at least two exponent digits; stored texts have three.
  std::string s = buf;
  size_t e = s.find('e');
  if (e == std::string::npos || e + 2 >= s.size()) return s;
  std::string digits = s.substr(e + 2);
  while (digits.size() < 3) digits.insert(digits.begin(), '0');
  return s.substr(0, e + 2) + digits;
}

void VariableStore::BuildRuntimeVariables(const RuntimeFacts& f) {
  using namespace var_type;
  std::vector<std::shared_ptr<CVarsItem>> list;
  auto i4 = [&](const char* name, int32_t v) {
    auto it = MakeRuntime(name, kInt4);
    it->SetCurrent(v);
    list.push_back(it);
  };
  auto dw = [&](const char* name, uint32_t v) {
    auto it = MakeRuntime(name, kDWord);
    it->SetCurrent(v);
    list.push_back(it);
  };
  auto str = [&](const char* name, const std::string& v) {
    auto it = MakeRuntime(name, kString);
    it->currentText = v;
    list.push_back(it);
  };
  auto boolean = [&](const char* name, bool v) {
    auto it = MakeRuntime(name, kBool);
    it->SetCurrent(static_cast<int16_t>(v ? -1 : 0));
    list.push_back(it);
  };
  i4("rwDisplayWidth", f.displayWidth);
  i4("rwDisplayHeight", f.displayHeight);
  i4("rwPageFlipDelay", 30);
  i4("rwKVVersion", 41);
  i4("rwKVVersionBuild", 20);
  i4("rwLastError", 0);
  str("rwProjectDirectory", f.projectDirectory);
  str("rwKVDirectory", f.programDirectory);
  str("rwProjectName", f.projectName);
  str("rwDragDropName", "");
  boolean("rwbKVRuntime", true);
  boolean("rwbShowBasicErrors", true);
  dw("rwhStageWindow", f.stageWindow);
  dw("rwhShelledProcess", 0);
  dw("rwShellShowCmd", 5);
  str("rwShellParamaters", "");
  str("rwCDROMDrive", f.cdromDrive);
  i4("rwPrintOrientation", 1);
  str("rwCATMainProject", "");
  boolean("rwbCATUsePlayer", false);
  boolean("rwbCATShowEvents", false);
  i4("rwTarnBrowserWnd", f.browserWindow);
  str("rwTarnBaseURL", f.baseUrl);
  str("rwTarnSiteId", f.siteId);
  str("rwTarnAtt", f.att);
  std::lock_guard lock(valueLock_);
  runtime_ = std::move(list);
  runtimeByName_.clear();
  for (auto& item : runtime_) {
    // Initial and current values are one storage for these.
    item->initialValue = item->CurrentBytes();
    item->initialText = item->currentText;
    runtimeByName_[item->name] = item;
  }
  lastError_ = runtimeByName_["rwLastError"];
}

std::shared_ptr<CVarsItem> VariableStore::FindRuntime(const std::string& name) const {
  // Every run-time name begins "rw", and they match exactly.
  if (name.size() < 2 || name[0] != 'r' || name[1] != 'w') return nullptr;
  auto it = runtimeByName_.find(name);
  return it == runtimeByName_.end() ? nullptr : it->second;
}

bool VariableStore::IsRuntime(const CVarsItem& item) const {
  auto it = runtimeByName_.find(item.name);
  return it != runtimeByName_.end() && it->second.get() == &item;
}

bool VariableStore::LoadVariables() {
  DocPtr doc = runner_.project();
  std::lock_guard lock(rangeLock_);
  NextGeneration();
  groups_.clear();
  groupOf_.clear();
  found_.clear();
  rangeComputed_ = true;
  rangeDoc_ = doc;
  if (!doc) return false;
  bool inRange = false;
  std::vector<std::shared_ptr<CVar>> started;
  for (const ObjectPtr& obj : doc->items) {
    auto group = std::dynamic_pointer_cast<CVar>(obj);
    if (!group) {
      if (inRange) break;
      continue;
    }
    inRange = true;
    groups_.push_back(group);
    for (auto& item : group->items)
      if (item) groupOf_[item.get()] = group->groupName;
    started.push_back(group);
  }
  for (auto& g : started) InitializeGroup(*g);
  return true;
}

void VariableStore::Forget() {
  std::lock_guard lock(rangeLock_);
  NextGeneration();
  rangeComputed_ = false;
  groups_.clear();
  groupOf_.clear();
  found_.clear();
  rangeDoc_.reset();
}

void VariableStore::InitializeGroup(CVar& group) {
  std::lock_guard lock(valueLock_);
  for (auto& item : group.items)
    if (item) item->ResetToInitial();
}

bool VariableStore::AskContinue(uint32_t titleId, const std::string& name, const std::string& group) {
  std::string text = name;
  if (!group.empty()) text += LoadString(sid::kInWord) + group;
  return runner_.AskYesNo(titleId, text + LoadString(sid::kContinueYesNo), LoadString(titleId));
}

namespace {

// Generations are drawn from one counter for every store, so an entry of a
// store that died never matches a later store at the same address.
std::atomic<uint64_t> nextGeneration{1};

// Names this thread found lately, checked before the store's lock: an entry
// holds while its store's generation, the project and the group asked for
// are those it was found under (a script's default group is the key, so
// moving between scripts needs no bump). Misses are never kept. The entry
// owns its variable, so a typed access may use it without counting
// references until this thread's next lookup.
struct RecentName {
  const VariableStore* store = nullptr;
  uint64_t generation = 0;
  const CStgDoc* project = nullptr;
  std::string name, group;
  std::shared_ptr<CVarsItem> item;
};
constexpr size_t kRecentNames = 16;
// A plain pointer, so a lookup costs no guard of a thread-local object's
// construction; the table itself is made on the thread's first lookup.
thread_local RecentName* recentNames = nullptr;

[[gnu::noinline]] RecentName* MakeRecentNames() {
  thread_local std::array<RecentName, kRecentNames> table;
  return recentNames = table.data();
}

inline RecentName& RecentSlot(std::string_view name) {
  RecentName* table = recentNames ? recentNames : MakeRecentNames();
  size_t h = name.size() * 5;
  if (!name.empty()) h += static_cast<uint8_t>(name.front()) * 3 + static_cast<uint8_t>(name.back());
  return table[h % kRecentNames];
}

}  // namespace

void VariableStore::Invalidate() {
  std::lock_guard lock(rangeLock_);
  found_.clear();
  NextGeneration();
}

void VariableStore::NextGeneration() { generation_.store(nextGeneration.fetch_add(1), std::memory_order_release); }

inline std::string_view VariableStore::DefaultGroup() const {
  ScriptThreadContext* ctx = ScriptThreadContext::Current();
  if (runner_.playerRunning && ctx && ctx->currentScript) return ctx->currentScript->defaultGroup;
  if (runner_.project()) return runner_.project()->defaultGroup;
  return {};
}

namespace {
// Names are short: a loop beats a call of memcmp.
inline bool SameText(const std::string& a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < b.size(); ++i)
    if (a[i] != b[i]) return false;
  return true;
}
}  // namespace

inline CVarsItem* VariableStore::Recent(std::string_view name) const {
  // The slot first: it depends on the name alone, so its loads start while
  // the run's state is fetched.
  const RecentName& recent = RecentSlot(name);
  if (!recent.item || recent.store != this || !SameText(recent.name, name)) return nullptr;
  if (recent.generation != generation_.load(std::memory_order_acquire) || recent.project != runner_.project().get() ||
      !SameText(recent.group, DefaultGroup()))
    return nullptr;
  return recent.item.get();
}

CVarsItem* VariableStore::Lookup(const std::string& name, std::shared_ptr<CVarsItem>& holder, bool report) {
  if ((holder = FindRuntime(name))) return holder.get();
  if (CVarsItem* found = Recent(name)) return found;
  const uint64_t generation = generation_.load(std::memory_order_acquire);
  const CStgDoc* project = runner_.project().get();
  const std::string group(DefaultGroup());  // the walk may run a script's loading, which may change it
  holder = FindInRange(name, group, {}, report);
  if (holder) RecentSlot(name) = RecentName{this, generation, project, name, group, holder};
  return holder.get();
}

inline CVarsItem* VariableStore::Known(std::string_view name, std::initializer_list<uint16_t> types) const {
  if (runner_.shuttingDown || (name.size() >= 2 && name[0] == 'r' && name[1] == 'w')) return nullptr;
  CVarsItem* item = Recent(name);
  if (!item) return nullptr;
  for (uint16_t t : types)
    if (item->type == t) return item;
  return nullptr;
}

std::shared_ptr<CVarsItem> VariableStore::FindVariable(const std::string& name, std::weak_ptr<CVarsItem>* cache,
                                                       const std::string& groupName, bool report) {
  if (cache) {
    if (auto cached = cache->lock()) return cached;
  }
  std::shared_ptr<CVarsItem> item;
  if (groupName.empty()) {
    if (CVarsItem* found = Lookup(name, item, report); found && !item) item = RecentSlot(name).item;
  } else if (!(item = FindRuntime(name))) {
    item = FindInRange(name, groupName, groupName, report);
  }
  if (cache && item) *cache = item;
  return item;
}

std::shared_ptr<CVarsItem> VariableStore::FindInRange(const std::string& name, const std::string& group,
                                                      const std::string& groupName, bool report) {
  std::unique_lock lock(rangeLock_);
  // Compared by owner: a replaced project makes the range stale.
  const DocPtr& project = runner_.project();
  const bool stale = rangeComputed_ && (rangeDoc_.owner_before(project) || project.owner_before(rangeDoc_));
  if (!rangeComputed_ || stale) {
    lock.unlock();
    LoadVariables();
    lock.lock();
  }
  if (groups_.empty()) {
    lock.unlock();
    if (report && !runner_.shuttingDown)
      runner_.ShowError(sid::kRunTimeHalting, LoadString(sid::kVariablesNotResident), LoadString(sid::kRunTimeHalting));
    if (report) {
      runner_.shuttingDown = true;
      runner_.clock().WakeAll();
    }
    return nullptr;
  }
  // Names looked up by text again and again (the extension and Orlan
  // accessors) are found again without the walk, while the range stands.
  if (auto hit = found_.find(name); hit != found_.end() && hit->second.group == group)
    if (auto item = hit->second.item.lock()) return item;
  for (auto& weak : groups_) {
    auto g = weak.lock();
    if (!g) continue;
    if (!group.empty() && !EqualsNoCase(group, g->groupName)) continue;
    for (auto& item : g->items) {
      if (item && EqualsNoCase(item->name, name)) {
        if (found_.size() >= kFoundLimit) found_.clear();
        found_[name] = FoundName{item, group};
        return item;
      }
    }
  }
  lock.unlock();
  if (report) {
    if (runner_.playerRunning && !AskContinue(sid::kMissingVariable, name, groupName)) runner_.AbortProject();
    SetLastError(2);
  }
  return nullptr;
}

double VariableStore::ReadNumber(const CVarsItem& item) const {
  using namespace var_type;
  switch (item.type) {
    case kInt2:
    case kBool:
      return item.Current<int16_t>();
    case kWord:
      return item.Current<uint16_t>();
    case kInt4:
      return item.Current<int32_t>();
    case kDWord:
      return item.Current<uint32_t>();
    case kDouble:
      return item.Current<double>();
    default:
      throw KVRunException(sid::kInvalidOperandType, item.name);
  }
}

double VariableStore::ToDouble(const CVarsItem& item) { return ReadNumber(item); }

std::string VariableStore::Text(const CVarsItem& item) {
  std::lock_guard lock(valueLock_);
  return item.currentText;
}

std::string VariableStore::FormatValue(const CVarsItem& item) {
  using namespace var_type;
  char buf[32];
  switch (item.type) {
    case kInt2:
      std::snprintf(buf, sizeof buf, "%i", item.Current<int16_t>());
      return buf;
    case kWord:
      std::snprintf(buf, sizeof buf, "%u", item.Current<uint16_t>());
      return buf;
    case kBool:
      return item.Current<int16_t>() ? "TRUE" : "FALSE";
    case kInt4:
      std::snprintf(buf, sizeof buf, "%i", item.Current<int32_t>());
      return buf;
    case kDWord:
      std::snprintf(buf, sizeof buf, "%u", item.Current<uint32_t>());
      return buf;
    case kDouble:
      return FormatDoubleE(item.Current<double>());
    case kString:
      return Text(item);
    default:
      return {};
  }
}

void VariableStore::SetText(CVarsItem& item, const std::string& text) {
  {
    std::lock_guard lock(valueLock_);
    item.currentText = text;
  }
  Traced(item);
}

void VariableStore::StoreNumber(CVarsItem& item, double x) {
  using namespace var_type;
  // Rounding half away from zero, then the low bits the type keeps; computed
  // in 64 bits so no conversion is undefined for any finite input.
  auto rounded = [](double v) -> int64_t { return static_cast<int64_t>(v < 0 ? v - 0.5 : v + 0.5); };
  auto truncated32 = [](double v) -> int32_t { return static_cast<int32_t>(static_cast<int64_t>(v)); };
  {
    switch (item.type) {
      case kInt2:
        item.SetCurrent(static_cast<uint16_t>(rounded(x)));
        break;
      case kInt4:
        item.SetCurrent(static_cast<uint32_t>(rounded(x)));
        break;
      case kWord:
        item.SetCurrent(static_cast<uint16_t>(truncated32(x)));
        break;
      case kBool:
        item.SetCurrent(static_cast<uint16_t>(static_cast<uint16_t>(truncated32(x)) != 0 ? 1 : 0));
        break;
      case kDWord: {
        int64_t t = truncated32(x);
        item.SetCurrent(static_cast<uint32_t>(t < 0 ? -t : t));
        break;
      }
      case kDouble:
        item.SetCurrent(x);
        break;
      default:
        throw KVRunException(sid::kInvalidResultType, item.name);
    }
  }
  Traced(item);
}

void VariableStore::ResetToInitial(CVarsItem& item) {
  std::lock_guard lock(valueLock_);
  item.ResetToInitial();
}

void VariableStore::StoreAsInitial(CVarsItem& item) {
  std::lock_guard lock(valueLock_);
  if (item.type == var_type::kString)
    item.initialText = item.currentText;
  else
    item.initialValue = item.CurrentBytes();
}

CVarsItem* VariableStore::Typed(const std::string& name, std::initializer_list<uint16_t> types,
                                std::shared_ptr<CVarsItem>& holder) {
  CVarsItem* item = Lookup(name, holder, true);
  if (!item) return nullptr;
  for (uint16_t t : types)
    if (item->type == t) return item;
  if (runner_.playerRunning) {
    std::string group;
    {
      std::lock_guard lock(rangeLock_);
      if (auto it = groupOf_.find(item); it != groupOf_.end()) group = it->second;
    }
    if (!AskContinue(sid::kWrongVariableType, name, group)) runner_.AbortProject();
    SetLastError(4);
  }
  return nullptr;
}

namespace {
constexpr std::initializer_list<uint16_t> kInt16Types = {var_type::kInt2, var_type::kWord, var_type::kBool};
constexpr std::initializer_list<uint16_t> kInt32Types = {var_type::kInt4, var_type::kDWord};
constexpr std::initializer_list<uint16_t> kDoubleTypes = {var_type::kDouble};
}  // namespace

template <class T>
T VariableStore::GetNumber(const std::string& name, std::initializer_list<uint16_t> types, T missing) {
  if (runner_.shuttingDown) return missing;
  std::shared_ptr<CVarsItem> holder;
  CVarsItem* item = Typed(name, types, holder);
  if (!item) return missing;
  return item->Current<T>();
}

template <class T>
void VariableStore::SetNumber(const std::string& name, std::initializer_list<uint16_t> types, T value) {
  if (runner_.shuttingDown) return;
  std::shared_ptr<CVarsItem> holder;
  CVarsItem* item = Typed(name, types, holder);
  if (!item) return;
  item->SetCurrent(value);
  Traced(*item);
}

uint16_t VariableStore::GetInt16(const std::string& name) { return GetNumber<uint16_t>(name, kInt16Types, kMissingInt16); }
void VariableStore::SetInt16(const std::string& name, uint16_t value) { SetNumber(name, kInt16Types, value); }
uint32_t VariableStore::GetInt32(const std::string& name) { return GetNumber<uint32_t>(name, kInt32Types, kMissingInt32); }
void VariableStore::SetInt32(const std::string& name, uint32_t value) { SetNumber(name, kInt32Types, value); }
double VariableStore::GetDouble(const std::string& name) {
  return GetNumber<double>(name, kDoubleTypes, static_cast<double>(kMissingInt32));
}
void VariableStore::SetDouble(const std::string& name, double value) { SetNumber(name, kDoubleTypes, value); }

template <class T>
bool VariableStore::TryGetNumber(std::string_view name, std::initializer_list<uint16_t> types, T& out) {
  CVarsItem* item = Known(name, types);
  if (!item) return false;
  out = item->Current<T>();
  return true;
}

template <class T>
bool VariableStore::TrySetNumber(std::string_view name, std::initializer_list<uint16_t> types, T value) {
  CVarsItem* item = Known(name, types);
  if (!item) return false;
  item->SetCurrent(value);
  Traced(*item);
  return true;
}

bool VariableStore::TryGetInt16(std::string_view name, uint16_t& out) { return TryGetNumber(name, kInt16Types, out); }
bool VariableStore::TrySetInt16(std::string_view name, uint16_t value) { return TrySetNumber(name, kInt16Types, value); }
bool VariableStore::TryGetInt32(std::string_view name, uint32_t& out) { return TryGetNumber(name, kInt32Types, out); }
bool VariableStore::TrySetInt32(std::string_view name, uint32_t value) { return TrySetNumber(name, kInt32Types, value); }
bool VariableStore::TryGetDouble(std::string_view name, double& out) { return TryGetNumber(name, kDoubleTypes, out); }
bool VariableStore::TrySetDouble(std::string_view name, double value) { return TrySetNumber(name, kDoubleTypes, value); }

std::string VariableStore::GetString(const std::string& name) {
  if (runner_.shuttingDown) return {};
  std::shared_ptr<CVarsItem> holder;
  CVarsItem* item = Typed(name, {var_type::kString}, holder);
  if (!item) return {};
  return Text(*item);
}

void VariableStore::SetString(const std::string& name, const std::string& value) {
  if (runner_.shuttingDown) return;
  std::shared_ptr<CVarsItem> holder;
  CVarsItem* item = Typed(name, {var_type::kString}, holder);
  if (item) SetText(*item, value);
}

void VariableStore::SetLastError(int32_t code) {
  std::shared_ptr<CVarsItem> item;
  {
    std::lock_guard lock(valueLock_);
    item = lastError_;
  }
  if (!item) return;
  item->SetCurrent(code);
  Traced(*item);
}

int32_t VariableStore::LastError() {
  std::lock_guard lock(valueLock_);
  return lastError_ ? lastError_->Current<int32_t>() : 0;
}

VariableView VariableStore::View(const CVarsItem& item) {
  VariableView v;
  v.name = item.name;
  v.type = item.type;
  {
    std::lock_guard lock(rangeLock_);
    if (auto it = groupOf_.find(&item); it != groupOf_.end()) v.group = it->second;
  }
  std::lock_guard lock(valueLock_);
  if (item.type == var_type::kString) {
    v.isString = true;
    v.text = item.currentText;
  } else if (item.ValueWidth() != 0) {
    v.number = ReadNumber(item);
  }
  return v;
}

void VariableStore::Traced(const CVarsItem& item) {
  TraceSink* trace = runner_.trace();
  if (!trace) return;
  if (IsRuntime(item))
    trace->Rw(View(item));
  else
    trace->Set(View(item));
}

std::vector<VariableView> VariableStore::Snapshot() {
  std::vector<std::shared_ptr<CVarsItem>> items;
  {
    std::lock_guard lock(rangeLock_);
    for (auto& weak : groups_)
      if (auto g = weak.lock())
        for (auto& item : g->items)
          if (item) items.push_back(item);
  }
  std::vector<VariableView> out;
  for (auto& item : items) out.push_back(View(*item));
  return out;
}

std::vector<VariableView> VariableStore::RuntimeSnapshot() {
  std::vector<VariableView> out;
  for (auto& item : runtime_) out.push_back(View(*item));
  return out;
}

}  // namespace kv
