#include "engine/variables.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstring>
#include <thread>

#include "engine/calc.h"
#include "engine/label.h"
#include "engine/random.h"
#include "engine/run_error.h"
#include "engine/runner.h"
#include "persist/document.h"
#include "platform/message_box.h"

namespace kv {
namespace {

// The C runtime generator with seed 1 starts 41, 18467, 6334, 26500, 19169.
TEST(RandomSource, ClassicSequence) {
  RandomSource r(1);
  const uint32_t expected[] = {41, 18467, 6334, 26500, 19169};
  for (uint32_t e : expected) EXPECT_EQ(r.Next(), e);
}

TEST(FormatDoubleE, ThreeDigitExponent) {
  EXPECT_EQ(FormatDoubleE(1.5), "1.500000e+000");
  EXPECT_EQ(FormatDoubleE(-2.25e-7), "-2.250000e-007");
  EXPECT_EQ(FormatDoubleE(1e100), "1.000000e+100");
  EXPECT_EQ(FormatDoubleE(0.0), "0.000000e+000");
}

struct OpCase {
  uint16_t op;
  double a, b;
  double expected;
};

class Operators : public ::testing::TestWithParam<OpCase> {};

TEST_P(Operators, Table) {
  const OpCase& c = GetParam();
  RandomSource r(1);
  bool known = false;
  double x = CalculateOperator(c.op, c.a, c.b, r, known);
  ASSERT_TRUE(known);
  EXPECT_NEAR(x, c.expected, 1e-12);
}

INSTANTIATE_TEST_SUITE_P(
    Calculation, Operators,
    ::testing::Values(OpCase{0, 9, 4, 4}, OpCase{1, 9, 4, 13}, OpCase{2, 9, 4, 5}, OpCase{3, 9, 4, 36},
                      OpCase{4, 9, 4, 2.25}, OpCase{5, 2, 10, 1024}, OpCase{6, 0, 2.25, 1.5}, OpCase{7, 0, -3, 3},
                      OpCase{8, 0, -2.5, -3}, OpCase{8, 0, 2.5, 3}, OpCase{8, 0, 2.4999, 2}, OpCase{9, 0, -2.7, -2},
                      OpCase{10, 0, 2.1, 3}, OpCase{11, 0, -2.1, -3}, OpCase{12, 0, M_E, 1},
                      OpCase{14, 0, 90, 1}, OpCase{15, 0, 180, -1}, OpCase{16, 0, 45, 1}, OpCase{17, 0, 0.5, 30},
                      OpCase{18, 0, 0.5, 60}, OpCase{19, 0, 1, 45},
                      // 41 is the first draw of seed 1: (41 * 32767) / 32767
                      OpCase{13, 0, 32767, 41}, OpCase{13, 0, 100, 0}));

TEST(Operators, UndefinedOnesRaiseTheMathException) {
  RandomSource r(1);
  bool known;
  for (auto [op, b] : {std::pair<uint16_t, double>{4, 0}, {6, -1}, {12, 0}, {12, -5}, {17, 1.5}, {18, -1.01}}) {
    try {
      CalculateOperator(op, 1, b, r, known);
      ADD_FAILURE() << "operator " << op << " with " << b << " did not raise";
    } catch (const KVRunException& e) {
      EXPECT_EQ(e.id, 8003u);
    }
  }
  CalculateOperator(20, 1, 1, r, known);
  EXPECT_FALSE(known);
}

// The store rules of the result types, through a store of a run that never starts.
class StoreRules : public ::testing::Test {
 protected:
  StoreRules() {
    RunnerServices s;
    s.clock = &clock;
    s.messages = &boxes;
    runner = std::make_unique<Runner>(s, RuntimeFacts{});
  }
  double Store(uint16_t type, double x) {
    CVarsItem item;
    item.type = type;
    runner->variables().StoreNumber(item, x);
    return runner->variables().ToDouble(item);
  }
  Clock clock{true};
  ScriptedMessageBox boxes;
  std::unique_ptr<Runner> runner;
};

TEST_F(StoreRules, EachTypeKeepsWhatItCan) {
  using namespace var_type;
  const struct {
    uint16_t type;
    double x, read;
  } cases[] = {
      {kInt2, -1.5, -2},     {kInt2, 1.5, 2},        {kInt2, 40000, -25536}, {kInt2, 65536 + 7, 7},
      {kWord, 65537, 1},     {kWord, -1, 65535},     {kWord, 3.9, 3},        {kBool, 2, 1},
      {kBool, 65536, 0},     {kInt4, 2.5, 3},        {kInt4, -2.5, -3},      {kInt4, 4294967296.0 + 5, 5},
      {kDWord, -1, 1},       {kDWord, -7.9, 7},      {kDWord, 3e9, 1294967296}, {kDouble, 0.1, 0.1},
  };
  for (const auto& c : cases) EXPECT_DOUBLE_EQ(Store(c.type, c.x), c.read) << "type " << c.type << " x " << c.x;
}

TEST_F(StoreRules, FormatValueByType) {
  using namespace var_type;
  CVarsItem item;
  auto& vars = runner->variables();
  item.type = kInt2;
  vars.StoreNumber(item, -5);
  EXPECT_EQ(vars.FormatValue(item), "-5");
  item.type = kWord;
  vars.StoreNumber(item, 65535);
  EXPECT_EQ(vars.FormatValue(item), "65535");
  item.type = kBool;
  vars.StoreNumber(item, 1);
  EXPECT_EQ(vars.FormatValue(item), "TRUE");
  item.type = kDWord;
  vars.StoreNumber(item, -4000000000.0);
  EXPECT_EQ(vars.FormatValue(item), "294967296");
  item.type = kDouble;
  vars.StoreNumber(item, 1234.5);
  EXPECT_EQ(vars.FormatValue(item), "1.234500e+003");
}

TEST_F(StoreRules, StringsTakeNoNumber) {
  CVarsItem item;
  item.type = var_type::kString;
  try {
    runner->variables().StoreNumber(item, 1);
    FAIL();
  } catch (const KVRunException& e) {
    EXPECT_EQ(e.id, 6009u);
  }
  try {
    runner->variables().ToDouble(item);
    FAIL();
  } catch (const KVRunException& e) {
    EXPECT_EQ(e.id, 6010u);
  }
}

// A string calculation appending to a text stops at the bound of Orlan's
// strings (64 MiB): one past it raises "Insufficient Memory" and leaves the
// result as it was, so a loop appending a text to itself cannot exhaust memory.
TEST_F(StoreRules, AppendedTextsStopAtTheStringBound) {
  constexpr size_t kBound = size_t(64) << 20;
  Runner& runner = *this->runner;
  auto doc = std::make_shared<CStgDoc>();
  auto group = std::make_shared<CVar>();
  group->groupName = "G";
  auto item = std::make_shared<CVarsItem>();
  item->type = var_type::kString;
  item->name = "s";
  group->items.push_back(item);
  doc->items = {std::make_shared<CLabel>(), group};
  runner.Start(doc, nullptr);
  runner.Shutdown();
  runner.shuttingDown = false;  // the store is loaded; calculate as in a live run
  VariableStore& vars = runner.variables();
  auto s = vars.FindVariable("s", nullptr, {}, false);
  ASSERT_NE(s, nullptr);
  const struct {
    size_t length;         // of s before
    bool appendItself;     // s = s + s, else s = s + "abc"
    bool fits;
  } cases[] = {
      {kBound - 3, false, true},
      {kBound - 2, false, false},
      {kBound, false, false},
      {kBound / 2, true, true},
      {kBound / 2 + 1, true, false},
  };
  for (const auto& c : cases) {
    vars.SetText(*s, std::string(c.length, 'x'));
    CCalc calc;
    CInsert& insert = calc;  // Run is the insert interface's
    calc.Reset();
    calc.operatorCode = 1;
    calc.resultName = "s";
    calc.firstName = "s";
    calc.firstIsConstant = 0;
    calc.secondName = c.appendItself ? "s" : "abc";
    calc.secondIsConstant = c.appendItself ? 0 : 1;
    const size_t expected = c.fits ? c.length + (c.appendItself ? c.length : 3) : c.length;
    if (c.fits) {
      EXPECT_EQ(insert.Run(runner, 0), 1) << c.length;
    } else {
      try {
        insert.Run(runner, 0);
        ADD_FAILURE() << c.length << " + " << calc.secondName << " was stored";
      } catch (const KVRunException& e) {
        EXPECT_EQ(e.id, 8026u);
      }
    }
    EXPECT_EQ(vars.Text(*s).size(), expected) << c.length << " + " << calc.secondName;
  }
}

// Lookups: run-time names match exactly; other names without case, in the
// first group of the range; a CVar after the range is not part of it.
TEST(VariableLookup, RangeGroupsAndRuntimeNames) {
  Clock clock(true);
  ScriptedMessageBox boxes;
  RunnerServices s;
  s.clock = &clock;
  s.messages = &boxes;
  RuntimeFacts facts;
  facts.displayHeight = 600;
  Runner runner(s, facts);
  auto doc = std::make_shared<CStgDoc>();
  auto group = [](const std::string& name, const std::string& var, int32_t value) {
    auto g = std::make_shared<CVar>();
    g->groupName = name;
    auto item = std::make_shared<CVarsItem>();
    item->type = var_type::kInt4;
    item->name = var;
    std::memcpy(item->initialValue.data(), &value, 4);
    g->items.push_back(item);
    return g;
  };
  doc->items = {std::make_shared<CLabel>(), group("A", "x", 1), group("B", "x", 2),
                std::make_shared<CLabel>(), group("C", "late", 3)};
  runner.Start(doc, nullptr);
  runner.Shutdown();
  auto& vars = runner.variables();
  auto x = vars.FindVariable("X", nullptr, {}, false);
  ASSERT_NE(x, nullptr);
  EXPECT_EQ(vars.ToDouble(*x), 1);
  auto xb = vars.FindVariable("x", nullptr, "b", false);
  ASSERT_NE(xb, nullptr);
  EXPECT_EQ(vars.ToDouble(*xb), 2);
  EXPECT_EQ(vars.FindVariable("late", nullptr, {}, false), nullptr);
  auto height = vars.FindVariable("rwDisplayHeight", nullptr, {}, false);
  ASSERT_NE(height, nullptr);
  EXPECT_EQ(vars.ToDouble(*height), 600);
  EXPECT_EQ(vars.FindVariable("rwdisplayheight", nullptr, {}, false), nullptr);
  // The cache answers without a lookup, and dies with its variable.
  std::weak_ptr<CVarsItem> cache;
  EXPECT_EQ(vars.FindVariable("x", &cache, "A", false), x);
  EXPECT_EQ(cache.lock(), x);
}


// Names found before are found again without the walk; every change that can
// make another variable the answer must be seen by the next lookup.
class RecentNames : public ::testing::Test {
 public:
  RecentNames() {
    s_.clock = &clock_;
    s_.messages = &boxes_;
    s_.loadScript = [](const std::string& path) {
      auto script = std::make_shared<CStgDoc>();
      script->pathName = path;
      return script;
    };
    runner_ = std::make_unique<Runner>(s_, RuntimeFacts{});
    doc_ = std::make_shared<CStgDoc>();
    doc_->defaultGroup = "A";
    a_ = Group("A", {{"x", 1}});
    b_ = Group("B", {{"x", 2}});
    doc_->items = {a_, b_};
    runner_->Start(doc_, nullptr);
    runner_->Shutdown();
    runner_->shuttingDown = false;
  }

  static std::shared_ptr<CVarsItem> Item(const std::string& name, int32_t value) {
    auto item = std::make_shared<CVarsItem>();
    item->type = var_type::kInt4;
    item->name = name;
    std::memcpy(item->initialValue.data(), &value, 4);
    item->SetCurrent(value);
    return item;
  }
  static std::shared_ptr<CVar> Group(const std::string& name, std::vector<std::pair<std::string, int32_t>> vars) {
    auto g = std::make_shared<CVar>();
    g->groupName = name;
    for (auto& [n, v] : vars) g->items.push_back(Item(n, v));
    return g;
  }
  // Replaces A's x by another variable; the old one stays alive, as a
  // script's own reference would keep it.
  void ReplaceX(int32_t value) {
    old_ = a_->items[0];
    a_->items[0] = Item("x", value);
  }
  int32_t Get(const std::string& name) { return static_cast<int32_t>(runner_->variables().GetInt32(name)); }

  Clock clock_{true};
  ScriptedMessageBox boxes_;
  RunnerServices s_;
  std::unique_ptr<Runner> runner_;
  DocPtr doc_;
  std::shared_ptr<CVar> a_, b_;
  std::shared_ptr<CVarsItem> old_;
};

struct RecentCase {
  const char* what;
  const char* name;  // looked up after the change
  void (*change)(RecentNames& t);
  int32_t expected;
};

class RecentNamesTable : public RecentNames, public ::testing::WithParamInterface<RecentCase> {};

TEST_P(RecentNamesTable, ChangeIsSeen) {
  const RecentCase& c = GetParam();
  ASSERT_EQ(Get("x"), 1);
  c.change(*this);
  // The lock-free accessor answers only what the walk would, or declines.
  uint32_t quick = 0;
  if (runner_->variables().TryGetInt32(c.name, quick)) {
    EXPECT_EQ(static_cast<int32_t>(quick), c.expected) << c.what;
  }
  EXPECT_EQ(Get(c.name), c.expected) << c.what;
  EXPECT_EQ(Get(c.name), c.expected) << c.what << " (again)";
  ASSERT_TRUE(runner_->variables().TryGetInt32(c.name, quick)) << c.what;
  EXPECT_EQ(static_cast<int32_t>(quick), c.expected) << c.what;
}

INSTANTIATE_TEST_SUITE_P(
    Variables, RecentNamesTable,
    ::testing::Values(
        RecentCase{"another spelling of a name found", "X", [](RecentNames&) {}, 1},
        RecentCase{"the default group changes", "x", [](RecentNames& t) { t.doc_->defaultGroup = "B"; }, 2},
        RecentCase{"a variable is replaced and the store told", "x",
                   [](RecentNames& t) {
                     t.ReplaceX(7);
                     t.runner_->variables().Invalidate();
                   },
                   7},
        RecentCase{"a variable is added after a miss", "y",
                   [](RecentNames& t) {
                     EXPECT_EQ(t.runner_->variables().FindVariable("y", nullptr, {}, false), nullptr);
                     t.a_->items.push_back(RecentNames::Item("y", 5));
                     t.runner_->variables().Invalidate();
                   },
                   5},
        RecentCase{"a script is unloaded", "x",
                   [](RecentNames& t) {
                     bool inUse = false, failed = false;
                     DocPtr script = t.runner_->LoadScript("scene.kvs", 0, inUse, failed);
                     ASSERT_TRUE(script);
                     ASSERT_EQ(t.Get("x"), 1);  // found again after the load
                     t.ReplaceX(8);
                     t.runner_->ReleaseScript(script);
                   },
                   8},
        RecentCase{"the range is computed again", "x",
                   [](RecentNames& t) {
                     t.ReplaceX(9);
                     t.runner_->variables().LoadVariables();
                   },
                   9},
        RecentCase{"a lookup in another group leaves the default one", "x",
                   [](RecentNames& t) {
                     auto xb = t.runner_->variables().FindVariable("x", nullptr, "B", false);
                     ASSERT_NE(xb, nullptr);
                     EXPECT_EQ(t.runner_->variables().ToDouble(*xb), 2);
                   },
                   1}),
    [](const ::testing::TestParamInfo<RecentCase>& info) { return "Case" + std::to_string(info.index); });

// The quick accessors never walk, ask or convert: a name not found lately,
// a type that does not fit and run-time names are declined, with nothing done.
TEST_F(RecentNames, QuickAccessorsDeclineWhatNeedsTheWalk) {
  VariableStore& vars = runner_->variables();
  uint32_t n = 0;
  double d = 0;
  EXPECT_FALSE(vars.TryGetInt32("x", n));  // not looked up yet on this thread
  ASSERT_EQ(Get("x"), 1);
  EXPECT_TRUE(vars.TryGetInt32("x", n));
  EXPECT_EQ(n, 1u);
  EXPECT_FALSE(vars.TryGetDouble("x", d));  // an Int4 is no Double
  EXPECT_FALSE(vars.TrySetDouble("x", 2.5));
  EXPECT_FALSE(vars.TryGetInt32("rwLastError", n));
  EXPECT_TRUE(vars.TrySetInt32("x", 12));
  EXPECT_EQ(Get("x"), 12);
  runner_->shuttingDown = true;
  EXPECT_FALSE(vars.TryGetInt32("x", n));
  runner_->shuttingDown = false;
  EXPECT_TRUE(boxes_.shown().empty());
}

// Each thread keeps its own recent names; a change on one is seen by another.
TEST_F(RecentNames, OtherThreadsSeeTheChange) {
  ASSERT_EQ(Get("x"), 1);
  int32_t before = 0, after = 0;
  std::thread([&] { before = Get("x"); }).join();
  ReplaceX(4);
  runner_->variables().Invalidate();
  std::thread([&] { after = Get("x"); }).join();
  EXPECT_EQ(before, 1);
  EXPECT_EQ(after, 4);
}

// Numbers are read without the store's lock: a reader on another thread
// sees every value whole while one thread writes by the calculation's rule
// and another by name (the thread sanitizer checks the accesses).
TEST_F(RecentNames, NumbersAreReadWholeWhileWritten) {
  auto d = std::make_shared<CVarsItem>();
  d->type = var_type::kDouble;
  d->name = "d";
  a_->items.push_back(d);
  VariableStore& vars = runner_->variables();
  vars.Invalidate();
  constexpr double kOne = -1.0, kOther = 1e300;  // no byte in common
  constexpr int kWrites = 20000;
  std::atomic<int> writersLeft{2};
  std::atomic<bool> readerReady{false};
  auto writer = [&](bool byName) {
    while (!readerReady) std::this_thread::yield();
    for (int i = 0; i < kWrites; ++i) {
      const double v = i % 2 ? kOne : kOther;
      if (byName)
        vars.SetDouble("d", v);
      else
        vars.StoreNumber(*d, v);
    }
    --writersLeft;
  };
  int torn = 0, reads = 0;
  std::thread reader([&] {
    EXPECT_EQ(vars.GetDouble("d"), 0.0);  // found once, so the quick reads answer
    readerReady = true;
    while (writersLeft > 0) {
      double quick = 0;
      if (!vars.TryGetDouble("d", quick)) {
        ADD_FAILURE() << "the quick read declined";
        break;
      }
      for (double v : {quick, vars.ToDouble(*d)}) {
        ++reads;
        if (v != 0.0 && v != kOne && v != kOther) ++torn;
      }
    }
  });
  std::thread byName(writer, true), byRule(writer, false);
  byName.join();
  byRule.join();
  reader.join();
  EXPECT_GT(reads, 0);
  EXPECT_EQ(torn, 0) << "of " << reads << " reads";
  EXPECT_TRUE(boxes_.shown().empty());
}

}  // namespace
}  // namespace kv
