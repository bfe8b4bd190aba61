// Building a host library: the record types, procedures, callbacks and
// classes a host declares to scripts, checked as they are added.
#include "orlan/engine.h"

#include <algorithm>

#include "orlan/engine_internal.h"
#include "platform/text.h"

namespace kv::orlan {

const RecordType* HostLibrary::FindRecord(std::string_view name) const {
  for (const auto& r : records)
    if (EqualsNoCase(r->name, name)) return r.get();
  return nullptr;
}

const HostProc* HostLibrary::FindCallback(std::string_view name) const {
  for (const auto& c : callbacks)
    if (EqualsNoCase(c.name, name)) return &c;
  return nullptr;
}

void LibraryBuilder::Fail(std::string message) {
  if (error_.empty()) error_ = std::move(message);
}

bool LibraryBuilder::CheckType(const HostType& t) {
  switch (t.vt) {
    case HostType::kInteger:
    case HostType::kLong:
    case HostType::kDouble:
    case HostType::kString:
    case HostType::kObject:
    case HostType::kBoolean:
    case HostType::kVariant: return true;
    case HostType::kRecord:
      if (lib_->FindRecord(t.record)) return true;
      Fail(Join("unknown record type ", t.record));
      return false;
    default: Fail(Join("unknown value type ", std::to_string(t.vt))); return false;
  }
}

void LibraryBuilder::AddRecordType(std::string name) {
  if (lib_->FindRecord(name)) return Fail(Join("record type declared twice: ", name));
  auto r = std::make_unique<RecordType>();
  r->name = std::move(name);
  lib_->records.push_back(std::move(r));
}

void LibraryBuilder::AddField(std::string name, HostType type) {
  if (lib_->records.empty()) return Fail(Join("field without a record type: ", name));
  if (!CheckType(type)) return;
  RecordType& r = *lib_->records.back();
  RecordField f;
  f.name = std::move(name);
  f.type = VarTypeOfHost(type);
  r.fields.push_back(f);
  r.fieldTypes.push_back(type.vt == HostType::kRecord ? lib_->FindRecord(type.record) : nullptr);
}

void LibraryBuilder::AddFunction(uint32_t flags, std::string name, uint32_t id, HostType result, int minArgs, int maxArgs,
                                 std::vector<HostType> types) {
  bool exists = std::any_of(lib_->procs.begin(), lib_->procs.end(), [&](const HostProc& p) { return EqualsNoCase(p.name, name); });
  if (exists && (flags & kOverloadFlag) != kOverloadFlag) return Fail(Join("declared twice without the overload flag: ", name));
  if (minArgs < 0 || maxArgs < minArgs || static_cast<size_t>(maxArgs) != types.size())
    return Fail(Join("argument counts do not match the types: ", name));
  for (const auto& t : types)
    if (!CheckType(t)) return;
  if (!CheckType(result)) return;
  HostProc p;
  p.name = std::move(name);
  p.id = id;
  p.isFunction = true;
  p.result = std::move(result);
  p.minArgs = minArgs;
  p.maxArgs = maxArgs;
  p.args = std::move(types);
  p.quick = (flags & kQuickFlag) != 0;
  lib_->procs.push_back(std::move(p));
}

void LibraryBuilder::AddSub(uint32_t flags, std::string name, uint32_t id, int minArgs, int maxArgs, std::vector<HostType> types) {
  size_t before = lib_->procs.size();
  AddFunction(flags, std::move(name), id, HostType{HostType::kVariant, {}}, minArgs, maxArgs, std::move(types));
  if (lib_->procs.size() > before) lib_->procs.back().isFunction = false;
}

void LibraryBuilder::AddCallback(std::string name, int minArgs, int maxArgs, std::vector<HostType> types) {
  if (lib_->FindCallback(name)) return Fail(Join("callback prototype declared twice: ", name));
  if (minArgs < 0 || maxArgs < minArgs || static_cast<size_t>(maxArgs) != types.size())
    return Fail(Join("argument counts do not match the types: ", name));
  HostProc p;
  p.name = std::move(name);
  p.minArgs = minArgs;
  p.maxArgs = maxArgs;
  p.args = std::move(types);
  lib_->callbacks.push_back(std::move(p));
}

void LibraryBuilder::AddClass(std::string name, uint32_t constructorId) {
  for (const auto& c : lib_->classes)
    if (EqualsNoCase(c.name, name)) return Fail(Join("class declared twice: ", name));
  HostClass c;
  c.name = std::move(name);
  c.constructorId = constructorId;
  lib_->classes.push_back(std::move(c));
}

void LibraryBuilder::AddMethod(std::string name, uint32_t id, int minArgs, int maxArgs, std::vector<HostType> types) {
  AddFunctionMethod(std::move(name), id, HostType{HostType::kVariant, {}}, minArgs, maxArgs, std::move(types));
  if (!lib_->classes.empty() && !lib_->classes.back().methods.empty()) lib_->classes.back().methods.back().isFunction = false;
}

void LibraryBuilder::AddFunctionMethod(std::string name, uint32_t id, HostType result, int minArgs, int maxArgs,
                                       std::vector<HostType> types) {
  if (lib_->classes.empty()) return Fail(Join("method without a class: ", name));
  if (minArgs < 0 || maxArgs < minArgs || static_cast<size_t>(maxArgs) != types.size())
    return Fail(Join("argument counts do not match the types: ", name));
  for (const auto& t : types)
    if (!CheckType(t)) return;
  HostProc p;
  p.name = std::move(name);
  p.id = id;
  p.isFunction = true;
  p.result = std::move(result);
  p.minArgs = minArgs;
  p.maxArgs = maxArgs;
  p.args = std::move(types);
  lib_->classes.back().methods.push_back(std::move(p));
}

void LibraryBuilder::AddProperty(uint32_t /*flags*/, std::string name, uint16_t setId, uint16_t getId, HostType type) {
  if (lib_->classes.empty()) return Fail(Join("property without a class: ", name));
  if (setId == kNoAccessor && getId == kNoAccessor) return Fail(Join("property without accessors: ", name));
  if (!CheckType(type)) return;
  lib_->classes.back().properties.push_back(HostProperty{std::move(name), setId, getId, std::move(type)});
}

std::unique_ptr<HostLibrary> LibraryBuilder::Finish(std::string& error) {
  if (!error_.empty()) {
    error = error_;
    return nullptr;
  }
  auto lib = std::move(lib_);
  lib_ = std::make_unique<HostLibrary>();
  return lib;
}

}  // namespace kv::orlan
