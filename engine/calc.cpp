#include "engine/calc.h"

#include "engine/operand.h"
#include "engine/var.h"

#include "persist/field_walk.h"
#include <algorithm>
#include <cmath>
#include "engine/random.h"
#include "engine/run_error.h"
#include "engine/runner.h"
#include "engine/strings.h"
#include "engine/variables.h"
#include "platform/string_table.h"

namespace kv {

KV_IMPLEMENT_CLASS(CCalc, CInsert, 0)

void CCalc::ResetOwnFields() {
  FieldTransfer::Reset(*this);
  resultCache.reset();
}

void CCalc::Reset() {
  CInsert::Reset();
  ResetOwnFields();
}

template <class W>
void CCalc::Walk(W& w) {
  w.Base(static_cast<CInsert&>(*this));
  const uint16_t version = w.Version("calcVersion", calcVersion, 2, 1, "CCalc");
  if (version >= 2) w("groupName", groupName);
  w("calcValue", calcValue);
  w("operator", operatorCode);
  w("resultName", resultName);
  w("firstName", firstName);
  w("secondName", secondName);
  w("calcFlag", calcFlag);
  w("firstIsConstant", firstIsConstant);
  w("secondIsConstant", secondIsConstant);
  OperandSlot(w, "firstSlot", firstIsConstant, firstSlot);
  OperandSlot(w, "secondSlot", secondIsConstant, secondSlot);
  if (W::kArchive && w.Filling()) resultCache.reset();
}

KV_FIELD_WALK_IO(CCalc)

void CCalc::CopyFrom(const CInsert& other) {
  CInsert::CopyFrom(other);
  FieldTransfer::Copy(*this, Same<CCalc>(other));
  // Variable slots are caches of the source's lookups: the copy looks again.
  resultCache.reset();
}

// --- behaviour

namespace {

constexpr double kDegree = 0.017453292519943295;  // 4 * atan(1) / 180

// The longest text a calculation makes, the bound of Orlan's strings.
constexpr size_t kMaxCalculatedText = size_t(64) << 20;

// An operand as the calculation reads it: a variable, or a constant made
// into a temporary number or text.
struct Operand {
  std::shared_ptr<CVarsItem> variable;
  bool isString = false;
  double number = 0.0;
  std::string text;
};

bool Resolve(VariableStore& vars, bool isConstant, const std::string& name, double slot,
             std::weak_ptr<CVarsItem>& cache, const std::string& group, bool textConstant, Operand& out) {
  if (isConstant) {
    out.isString = textConstant;
    out.number = slot;
    out.text = name;
    return true;
  }
  out.variable = vars.FindVariable(name, &cache, group);
  if (!out.variable) return false;
  out.isString = out.variable->type == var_type::kString;
  return true;
}

double NumberOf(VariableStore& vars, const Operand& op) {
  if (!op.variable) {
    if (op.isString) throw KVRunException(sid::kInvalidOperandType, op.text);
    return op.number;
  }
  return vars.ToDouble(*op.variable);
}

std::string Formatted(VariableStore& vars, const Operand& op) {
  if (op.variable) return vars.FormatValue(*op.variable);
  return op.isString ? op.text : FormatDoubleE(op.number);
}

int64_t RoundHalfAway(double v) { return static_cast<int64_t>(v < 0 ? v - 0.5 : v + 0.5); }

bool FitsInt64(double v) { return std::isfinite(v) && v > -9.2e18 && v < 9.2e18; }

}  // namespace

double CalculateOperator(uint16_t op, double a, double b, RandomSource& random, bool& known) {
  known = true;
  auto math = [](bool fails) {
    if (fails) throw KVRunException(sid::kMathException, {});
  };
  switch (op) {
    case 0: return b;
    case 1: return a + b;
    case 2: return a - b;
    case 3: return a * b;
    case 4:
      math(b == 0);
      return a / b;
    case 5: return std::pow(a, b);
    case 6:
      math(b < 0);
      return std::sqrt(b);
    case 7: return std::fabs(b);
    case 8:
      math(!FitsInt64(b));
      return static_cast<double>(static_cast<int32_t>(RoundHalfAway(b)));
    case 9:
      math(!FitsInt64(b));
      return static_cast<double>(static_cast<int32_t>(static_cast<int64_t>(b)));
    case 10: return std::ceil(b);
    case 11: return std::floor(b);
    case 12:
      math(b <= 0);
      return std::log(b);
    case 13: {
      // The product in 64 bits: trunc(B) times a 15-bit draw cannot overflow.
      math(!FitsInt64(b) || std::fabs(b) > 4.0e9);
      int64_t r = random.Next();
      return static_cast<double>(r * static_cast<int64_t>(b) / 32767);
    }
    case 14: return std::sin(b * kDegree);
    case 15: return std::cos(b * kDegree);
    case 16: return std::tan(b * kDegree);
    case 17:
      math(std::fabs(b) > 1);
      return std::asin(b) / kDegree;
    case 18:
      math(std::fabs(b) > 1);
      return std::acos(b) / kDegree;
    case 19: return std::atan(b) / kDegree;
    default:
      known = false;
      return 0.0;
  }
}

int CCalc::Run(Runner& runner, int32_t mode) {
  runMode = mode;
  if (runner.IsStopRequested()) return 1;
  VariableStore& vars = runner.variables();
  auto result = vars.FindVariable(resultName, &resultCache, groupName);
  if (!result) return 0;
  const bool resultIsString = result->type == var_type::kString;
  Operand a, b;
  if (operatorCode == 0) {
    a.number = firstSlot;
  } else if (!Resolve(vars, firstIsConstant, firstName, firstSlot, firstCache, groupName, resultIsString, a)) {
    return 0;
  }
  if (!Resolve(vars, secondIsConstant, secondName, secondSlot, secondCache, groupName, resultIsString, b)) return 0;
  if (resultIsString) {
    if (operatorCode == 0) {
      vars.SetText(*result, Formatted(vars, b));
    } else if (operatorCode == 1) {
      std::string first = a.variable ? vars.Text(*a.variable) : a.text;
      const std::string second = Formatted(vars, b);
      // A calculation that appends a text to itself in a loop doubles it
      // each time: past the bound the variable keeps what it had.
      if (second.size() > kMaxCalculatedText - std::min(first.size(), kMaxCalculatedText))
        throw KVRunException(sid::kInsufficientMemory, resultName);
      vars.SetText(*result, first + second);
    } else {
      return 0;
    }
    return 1;
  }
  const double x = NumberOf(vars, a);
  const double y = NumberOf(vars, b);
  ScriptThreadContext* ctx = ScriptThreadContext::Current();
  RandomSource fallback;
  bool known = false;
  double value = CalculateOperator(operatorCode, x, y, ctx ? ctx->random : fallback, known);
  if (!known) return 0;
  // A result no variable can hold is refused, never stored half-converted.
  if (!std::isfinite(value) || (result->type != var_type::kDouble && !FitsInt64(value)))
    throw KVRunException(sid::kMathException, resultName);
  vars.StoreNumber(*result, value);
  return 1;
}

}  // namespace kv
