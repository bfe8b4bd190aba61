// The variable store: the project's `CVar` groups as one range, lookups by
// name with caches, the run-time "rw" variables, typed access and the value
// rules of calculations. Values are read and written by several threads:
// numbers are one atomic word each, and one lock keeps strings whole.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <initializer_list>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "engine/spin_lock.h"
#include "engine/var.h"

namespace kv {

class Runner;
class CStgDoc;

// What the run-time variables report about the machine and the run.
struct RuntimeFacts {
  int32_t displayWidth = 1024;
  int32_t displayHeight = 768;
  std::string projectDirectory;  // stored form, with its trailing backslash
  std::string programDirectory;
  std::string projectName;
  std::string cdromDrive;
  uint32_t stageWindow = 0;
  int32_t browserWindow = 0;
  std::string baseUrl, siteId, att;
};

// One variable as a trace or a test sees it.
struct VariableView {
  std::string group;
  std::string name;
  uint16_t type = 0;
  bool isString = false;
  double number = 0.0;  // the value as its type reads it
  std::string text;
};

// The magic answers of the typed getters for a missing variable.
inline constexpr uint16_t kMissingInt16 = 0xDDDD;
inline constexpr uint32_t kMissingInt32 = 0xDDDDDDDDu;

class VariableStore {
 public:
  explicit VariableStore(Runner& runner) : runner_(runner) { NextGeneration(); }

  // Rebuilds the run-time variables with their start values.
  void BuildRuntimeVariables(const RuntimeFacts& facts);
  // Computes the variable range of the project document and starts every
  // group at its initial values. False when there is no project.
  bool LoadVariables();
  // The project was replaced or closed: drop the range.
  void Forget();

  // The central lookup. `cache` may be null. With `report`, a missing name
  // asks the user (No aborts) and sets rwLastError 2.
  std::shared_ptr<CVarsItem> FindVariable(const std::string& name, std::weak_ptr<CVarsItem>* cache,
                                          const std::string& groupName, bool report = true);
  std::shared_ptr<CVarsItem> FindRuntime(const std::string& name) const;
  // Names found before are looked up again; call when variables or groups
  // change in place or scripts load or unload (the range's own changes do).
  void Invalidate();
  bool IsRuntime(const CVarsItem& item) const;

  // Value access; strings under the store's lock.
  double ToDouble(const CVarsItem& item);  // a String raises 6010
  std::string Text(const CVarsItem& item);
  std::string FormatValue(const CVarsItem& item);
  void SetText(CVarsItem& item, const std::string& text);
  // The calculation's store rule by the result's type; 6009 for a type that
  // takes no number.
  void StoreNumber(CVarsItem& item, double x);
  void ResetToInitial(CVarsItem& item);
  void StoreAsInitial(CVarsItem& item);
  void InitializeGroup(CVar& group);

  // Typed access by name, as extensions and builtins use it.
  uint16_t GetInt16(const std::string& name);
  void SetInt16(const std::string& name, uint16_t value);
  uint32_t GetInt32(const std::string& name);
  void SetInt32(const std::string& name, uint32_t value);
  double GetDouble(const std::string& name);
  void SetDouble(const std::string& name, double value);
  std::string GetString(const std::string& name);
  void SetString(const std::string& name, const std::string& value);
  // The same for a name this thread found lately with a fitting type: never
  // waits, asks or walks the range; false (nothing done) otherwise, and for
  // run-time names and while the run shuts down.
  bool TryGetInt16(std::string_view name, uint16_t& out);
  bool TrySetInt16(std::string_view name, uint16_t value);
  bool TryGetInt32(std::string_view name, uint32_t& out);
  bool TrySetInt32(std::string_view name, uint32_t value);
  bool TryGetDouble(std::string_view name, double& out);
  bool TrySetDouble(std::string_view name, double value);

  void SetLastError(int32_t code);
  int32_t LastError();

  // Every variable of the range in stored order, and the run-time ones.
  std::vector<VariableView> Snapshot();
  std::vector<VariableView> RuntimeSnapshot();
  VariableView View(const CVarsItem& item);

 private:
  // Makes every name found so far be looked up again; also under rangeLock_.
  void NextGeneration();
  // The group a lookup without a group name searches: the current script's
  // default group while playing, else the project's.
  std::string_view DefaultGroup() const;
  // The variable this thread found lately by `name`, while the store's
  // generation, the project and the default group are those it was found
  // under; null otherwise.
  CVarsItem* Recent(std::string_view name) const;
  // A recent, non-run-time variable of one of `types`, or null.
  CVarsItem* Known(std::string_view name, std::initializer_list<uint16_t> types) const;
  // The walk over the range under its lock; `groupName` as the caller gave it.
  std::shared_ptr<CVarsItem> FindInRange(const std::string& name, const std::string& group,
                                         const std::string& groupName, bool report);
  // The variable of `name` in the lookup's default group; `holder` keeps it
  // alive unless this thread's recent names do.
  CVarsItem* Lookup(const std::string& name, std::shared_ptr<CVarsItem>& holder, bool report);
  CVarsItem* Typed(const std::string& name, std::initializer_list<uint16_t> types, std::shared_ptr<CVarsItem>& holder);
  template <class T>
  T GetNumber(const std::string& name, std::initializer_list<uint16_t> types, T missing);
  template <class T>
  bool TryGetNumber(std::string_view name, std::initializer_list<uint16_t> types, T& out);
  template <class T>
  bool TrySetNumber(std::string_view name, std::initializer_list<uint16_t> types, T value);
  template <class T>
  void SetNumber(const std::string& name, std::initializer_list<uint16_t> types, T value);
  bool AskContinue(uint32_t titleId, const std::string& name, const std::string& group);
  void Traced(const CVarsItem& item);  // lock not held
  double ReadNumber(const CVarsItem& item) const;

  Runner& runner_;
  SpinLock valueLock_;
  std::vector<std::shared_ptr<CVarsItem>> runtime_;
  std::unordered_map<std::string, std::shared_ptr<CVarsItem>> runtimeByName_;
  std::shared_ptr<CVarsItem> lastError_;
  // The range: groups of the project document, in order; the document is
  // held weakly so a replaced project never leaves the store dangling.
  std::mutex rangeLock_;
  bool rangeComputed_ = false;
  std::weak_ptr<CStgDoc> rangeDoc_;
  std::vector<std::weak_ptr<CVar>> groups_;
  std::unordered_map<const CVarsItem*, std::string> groupOf_;
  // Names found by the walk: the item and the group asked for. Emptied
  // whenever the range is computed or dropped.
  struct FoundName {
    std::weak_ptr<CVarsItem> item;
    std::string group;
  };
  static constexpr size_t kFoundLimit = 4096;
  std::unordered_map<std::string, FoundName> found_;
  std::atomic<uint64_t> generation_{0};
};

// The "%e" form with the three-digit exponent stored texts were made with.
std::string FormatDoubleE(double value);

}  // namespace kv
