// Linking a loaded program against the engine's host libraries: record
// types, imports and the quick paths of host calls.
#include "orlan/engine.h"

#include "orlan/engine_internal.h"
#include "platform/text.h"

namespace kv::orlan {

ScriptObject::ScriptObject(Engine& engine, Program program) : engine_(engine), program_(std::move(program)) {}

bool ScriptObject::Link(std::string& error) {
  const auto& libs = engine_.libraries();
  size_t n = program_.records.size();
  records_.assign(n, nullptr);
  typeClass_.assign(n, -1);
  for (size_t i = 0; i < n; ++i) {
    const RecordDecl& d = program_.records[i];
    if (!d.external) {
      auto r = std::make_unique<RecordType>();
      r->name = d.name;
      r->fields = d.fields;
      records_[i] = r.get();
      ownRecords_.push_back(std::move(r));
      continue;
    }
    for (const auto& l : libs)
      if (!records_[i]) records_[i] = l.lib->FindRecord(d.name);
    if (records_[i]) continue;
    auto [lib, cls] = engine_.FindClass(d.name);
    if (cls >= 0) {
      typeClass_[i] = cls;
      continue;
    }
    error = Join("User-defined type not defined: ", d.name);
    return false;
  }
  for (auto& r : ownRecords_) {
    r->fieldTypes.clear();
    for (auto& f : r->fields) {
      const RecordType* ft = nullptr;
      if (f.type == VarType::Record && f.recordType >= 0 && static_cast<size_t>(f.recordType) < n) {
        if (typeClass_[f.recordType] >= 0) f.type = VarType::Object;
        else ft = records_[f.recordType];
        if (ft == r.get()) {
          error = Join("A record type cannot contain itself: ", r->name);
          return false;
        }
      }
      r->fieldTypes.push_back(ft);
    }
  }
  // A record may not contain itself through other records either.
  for (auto& r : ownRecords_) {
    std::vector<const RecordType*> path{r.get()};
    std::function<bool(const RecordType*, int)> cyclic = [&](const RecordType* t, int depth) {
      if (depth > 64) return true;
      for (const RecordType* ft : t->fieldTypes) {
        if (!ft) continue;
        if (ft == r.get() || cyclic(ft, depth + 1)) return true;
      }
      return false;
    };
    if (cyclic(r.get(), 0)) {
      error = Join("A record type cannot contain itself: ", r->name);
      return false;
    }
  }
  globals.clear();
  for (const auto& g : program_.globals) globals.push_back(DefaultFor(g.type, g.dims));
  entries_.assign(program_.functions.size(), EntryInfo{});
  for (size_t i = 0; i < program_.functions.size(); ++i) {
    const Function& f = program_.functions[i];
    EntryInfo& e = entries_[i];
    e.fn = &f;
    e.params = static_cast<uint16_t>(f.params.size());
    e.registers = f.numRegs;
    if (f.isFunction) e.result = DefaultFor(f.result, {});
    e.plain = f.inits.empty() && !IsHeap(e.result.tag) &&
              std::none_of(f.params.begin(), f.params.end(), [](const ParamInfo& p) { return p.optional || p.paramArray; });
  }
  imports.assign(program_.imports.size(), ImportLink{});
  for (size_t i = 0; i < program_.imports.size(); ++i) {
    const ImportDecl& d = program_.imports[i];
    imports[i].isDeclare = d.isDeclare;
    for (size_t l = 0; l < libs.size() && imports[i].library < 0; ++l) {
      for (const auto& p : libs[l].lib->procs) {
        if (EqualsNoCase(p.name, d.name)) {
          imports[i].library = static_cast<int>(l);
          imports[i].overloads.push_back(&p);
        }
      }
    }
    ImportLink& link = imports[i];
    if (link.overloads.size() != 1) continue;
    const HostProc& only = *link.overloads.front();
    const Engine::Library& lib = libs[link.library];
    link.only = &only;
    if (only.quick && (only.quickEntry || lib.quick))
      link.quick = only.quickEntry ? only.quickEntry : lib.quick, link.quickExtra = lib.extra;
    if (only.isFunction) {
      link.result = DefaultOf(VarTypeOfHost(only.result));
      link.resultTag = ScalarTagOfHost(only.result);
    }
    const size_t nargs = only.args.size();
    link.scalarArgs = nargs <= ImportLink::kScalarArgs && only.minArgs >= 0 && only.maxArgs <= static_cast<int>(nargs) &&
                      only.minArgs <= only.maxArgs;
    for (size_t a = 0; a < nargs && link.scalarArgs; ++a)
      if ((link.argTags[a] = ScalarTagOfHost(only.args[a])) == Tag::Empty) link.scalarArgs = false;
    if (link.scalarArgs) link.minArgs = static_cast<uint8_t>(only.minArgs), link.maxArgs = static_cast<uint8_t>(only.maxArgs);
  }
  return true;
}

int ScriptObject::FindSub(std::string_view name) const {
  for (size_t i = 0; i < program_.functions.size(); ++i)
    if (EqualsNoCase(program_.functions[i].name, name)) return static_cast<int>(i);
  return -1;
}

Value ScriptObject::DefaultFor(const TypeRef& t, const std::vector<ArrayObj::Dim>& dims) const {
  const RecordType* rec = nullptr;
  VarType vt = t.vt;
  if (vt == VarType::Record) {
    if (t.record < 0 || static_cast<size_t>(t.record) >= records_.size()) return Value();
    if (typeClass_[t.record] >= 0) vt = VarType::Object;
    else rec = records_[t.record];
  }
  if (t.isArray) {
    Value a = NewArray(vt, rec, dims);
    if (!dims.empty()) ArrOf(a)->fixed = true;
    return a;
  }
  return DefaultOf(vt, rec);
}

}  // namespace kv::orlan
