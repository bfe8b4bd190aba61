#include "engine/compare.h"

#include <cmath>
#include <cstring>

#include "engine/flow.h"
#include "engine/run_error.h"
#include "engine/runner.h"
#include "engine/strings.h"
#include "engine/variables.h"

#include "engine/events.h"
#include "engine/operand.h"

#include "persist/field_walk.h"

namespace kv {

KV_IMPLEMENT_CLASS(CCompare, CInsert, 0)

void CCompare::Reset() {
  CInsert::Reset();
  FieldTransfer::Reset(*this);
}

template <class W>
void CCompare::Walk(W& w) {
  w.Base(static_cast<CInsert&>(*this));
  const uint16_t version = w.Version("compareVersion", compareVersion, 2, 1, "CCompare");
  if (version >= 2) w("groupName", groupName);
  w("compareValue", compareValue);
  w("firstName", firstName);
  w("secondName", secondName);
  w("firstIsConstant", firstIsConstant);
  w("secondIsConstant", secondIsConstant);
  OperandSlot(w, "firstSlot", firstIsConstant, firstSlot);
  OperandSlot(w, "secondSlot", secondIsConstant, secondSlot);
  if (W::kArchive && w.Filling()) showMode = show_mode::kUnset;
}

KV_FIELD_WALK_IO(CCompare)

void CCompare::CopyFrom(const CInsert& other) {
  CInsert::CopyFrom(other);
  FieldTransfer::Copy(*this, Same<CCompare>(other));
}

void CCompare::ListEvents(std::vector<uint32_t>& events) const {
  for (uint32_t code = event::kEqual; code <= event::kLessOrEqual; ++code) events.push_back(code);
}

// --- behaviour

int CCompare::Run(Runner& runner, int32_t mode) {
  runMode = mode;
  if (runner.IsStopRequested()) return 1;
  VariableStore& vars = runner.variables();
  // Each side: a variable, or a temporary number or text.
  struct Side {
    std::shared_ptr<CVarsItem> variable;
    bool isString = false;
    bool isWord = false;
    double number = 0.0;
    std::string text;
  } a, b;
  if (firstIsConstant) {
    a.number = firstSlot;
  } else {
    a.variable = vars.FindVariable(firstName, &firstCache, groupName);
    if (!a.variable) return 0;
  }
  auto typeOf = [](Side& s) {
    if (s.variable) {
      s.isString = s.variable->type == var_type::kString;
      s.isWord = s.variable->type == var_type::kWord;
    }
  };
  typeOf(a);
  if (secondIsConstant) {
    if (a.isString) {
      b.isString = true;
      b.text = secondName;
    } else {
      b.number = secondSlot;
    }
  } else {
    b.variable = vars.FindVariable(secondName, &secondCache, groupName);
    if (!b.variable) return 0;
    typeOf(b);
    if (firstIsConstant && b.isString) {
      a.isString = true;
      a.text = firstName;
    }
  }
  runner.RegisterForEvents(*this);
  runner.RaiseEvent(*this, event::kSetup, 0, nullptr);
  auto textOf = [&](const Side& s) { return s.variable ? vars.Text(*s.variable) : s.text; };
  auto numberOf = [&](const Side& s) {
    if (s.variable) return vars.ToDouble(*s.variable);
    if (s.isString) throw KVRunException(sid::kInvalidOperandType, s.text);
    return s.number;
  };
  bool equal, greater, less, nearlyEqual, notEqual;
  if (a.isString && (b.isString || b.isWord)) {
    int c = std::strcmp(textOf(a).c_str(), textOf(b).c_str());
    equal = nearlyEqual = c == 0;
    greater = c > 0;
    less = c < 0;
    notEqual = c != 0;
  } else {
    double x = numberOf(a), y = numberOf(b);
    nearlyEqual = std::fabs(y - x) < 1e-15;
    equal = nearlyEqual;
    greater = x > y;
    less = x < y;
    notEqual = x != y;
  }
  const struct {
    uint32_t code;
    bool holds;
  } outcomes[] = {
      {event::kEqual, equal},
      {event::kGreater, greater},
      {event::kLess, less},
      {event::kGreaterOrEqual, greater || nearlyEqual},
      {event::kLessOrEqual, less || nearlyEqual},
      {event::kNotEqual, notEqual},
  };
  for (const auto& o : outcomes) {
    if (!o.holds) continue;
    if (auto handler = FindHandler(o.code)) {
      runner.RegisterForEvents(*this);
      runner.RaiseEvent(*this, 0, 0, handler);
      return 1;
    }
  }
  return 0;
}

}  // namespace kv
