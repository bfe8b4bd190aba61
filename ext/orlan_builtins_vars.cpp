// Builtins that read and set project variables ([4] to [11]) and keep a
// variable's value as its start value ([97]).
#include "engine/runner.h"
#include "engine/variables.h"
#include "ext/orlan_binding.h"
#include "ext/orlan_builtins.h"

namespace kv {

namespace {

// Runs a typed access; when its question was answered No (the project is
// aborting) the script stops too and a getter sets no result.
template <class Access>
bool Checked(BuiltinCall& call, Access access) {
  const bool wasAborting = call.runner.abortRequested;
  access();
  if (!wasAborting && call.runner.abortRequested) {
    call.StopScript();
    return false;
  }
  return true;
}

void GetInt16(BuiltinCall& c) {
  uint16_t v = 0;
  if (Checked(c, [&] { v = c.runner.variables().GetInt16(c.args.GetString(1)); }))
    c.args.SetInteger(0, static_cast<int16_t>(v));
}

void SetInt16(BuiltinCall& c) {
  Checked(c, [&] { c.runner.variables().SetInt16(c.args.GetString(1), static_cast<uint16_t>(c.args.GetInteger(2))); });
}

void GetInt32(BuiltinCall& c) {
  uint32_t v = 0;
  if (Checked(c, [&] { v = c.runner.variables().GetInt32(c.args.GetString(1)); }))
    c.args.SetLong(0, static_cast<int32_t>(v));
}

void SetInt32(BuiltinCall& c) {
  Checked(c, [&] { c.runner.variables().SetInt32(c.args.GetString(1), static_cast<uint32_t>(c.args.GetLong(2))); });
}

void GetDouble(BuiltinCall& c) {
  double v = 0;
  if (Checked(c, [&] { v = c.runner.variables().GetDouble(c.args.GetString(1)); })) c.args.SetDouble(0, v);
}

void SetDouble(BuiltinCall& c) {
  Checked(c, [&] { c.runner.variables().SetDouble(c.args.GetString(1), c.args.GetDouble(2)); });
}

void GetString(BuiltinCall& c) {
  std::string v;
  if (Checked(c, [&] { v = c.runner.variables().GetString(c.args.GetString(1)); })) c.args.SetString(0, std::move(v));
}

void SetString(BuiltinCall& c) {
  Checked(c, [&] { c.runner.variables().SetString(c.args.GetString(1), c.args.GetString(2)); });
}

// Under the script's lock: names this thread found lately, of a fitting type.
template <class T, class Answer>
bool QuickGet(BuiltinCall& c, bool (VariableStore::*tryGet)(std::string_view, T&), Answer answer) {
  T v{};
  if (!(c.runner.variables().*tryGet)(c.args.StringView(1), v)) return false;
  answer(v);
  return true;
}

bool QuickGetInt16(BuiltinCall& c) {
  return QuickGet(c, &VariableStore::TryGetInt16, [&](uint16_t v) { c.args.SetInteger(0, static_cast<int16_t>(v)); });
}

bool QuickSetInt16(BuiltinCall& c) {
  return c.runner.variables().TrySetInt16(c.args.StringView(1), static_cast<uint16_t>(c.args.GetInteger(2)));
}

bool QuickGetInt32(BuiltinCall& c) {
  return QuickGet(c, &VariableStore::TryGetInt32, [&](uint32_t v) { c.args.SetLong(0, static_cast<int32_t>(v)); });
}

bool QuickSetInt32(BuiltinCall& c) {
  return c.runner.variables().TrySetInt32(c.args.StringView(1), static_cast<uint32_t>(c.args.GetLong(2)));
}

bool QuickGetDouble(BuiltinCall& c) {
  return QuickGet(c, &VariableStore::TryGetDouble, [&](double v) { c.args.SetDouble(0, v); });
}

bool QuickSetDouble(BuiltinCall& c) { return c.runner.variables().TrySetDouble(c.args.StringView(1), c.args.GetDouble(2)); }

void PermVar(BuiltinCall& c) {
  Checked(c, [&] {
    if (auto item = c.runner.variables().FindVariable(c.args.GetString(1), nullptr, {}))
      c.runner.variables().StoreAsInitial(*item);
  });
}

}  // namespace

void InstallVariableBuiltins(BuiltinTable& table) {
  table.Set(4, GetInt16);
  table.Set(5, SetInt16);
  table.Set(6, GetInt32);
  table.Set(7, SetInt32);
  table.Set(8, GetDouble);
  table.Set(9, SetDouble);
  table.Set(10, GetString);
  table.Set(11, SetString);
  table.Set(97, PermVar);
  SetQuick<QuickGetInt16>(table, 4);
  SetQuick<QuickSetInt16>(table, 5);
  SetQuick<QuickGetInt32>(table, 6);
  SetQuick<QuickSetInt32>(table, 7);
  SetQuick<QuickGetDouble>(table, 8);
  SetQuick<QuickSetDouble>(table, 9);
}

}  // namespace kv
