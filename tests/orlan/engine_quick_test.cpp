// Host procedures declared quick: the library's quick dispatcher answers
// them with the script's lock held, or declines and the call goes the
// ordinary way (lock released). String constants reach the host in place,
// and no host write may change a constant.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "orlan/compiler.h"
#include "orlan/engine.h"

namespace kv::orlan::testing {
namespace {

using namespace std::chrono_literals;

enum Id : uint32_t {
  kPrint = 1,
  kLength,  // Length(s) As Long: quick unless s is "slow"
  kRename,  // Rename(s): s = "changed"; quick unless s is "slow"
  kMeet,    // Meet() As Boolean: quick, always declines; waits for two callers
};

struct QuickHost {
  Engine engine;
  std::mutex mutex;
  std::condition_variable changed;
  std::string out;
  int quickAnswers = 0, ordinaryCalls = 0, inside = 0;
  std::shared_ptr<ScriptObject> script;

  QuickHost() {
    const HostType str{HostType::kString, {}}, lng{HostType::kLong, {}}, boolean{HostType::kBoolean, {}};
    LibraryBuilder b;
    b.AddSub(0, "Print", kPrint, 1, 1, {str});
    b.AddFunction(kQuickFlag, "Length", kLength, lng, 1, 1, {str});
    b.AddSub(kQuickFlag, "Rename", kRename, 1, 1, {str});
    b.AddFunction(kQuickFlag, "Meet", kMeet, boolean, 0, 0, {});
    std::string error;
    auto lib = b.Finish(error);
    EXPECT_TRUE(lib) << error;
    engine.RegisterLibrary(
        "Host", std::move(lib), [this](Thread&, uint32_t id, ArgBlock& a, void*) { Ordinary(id, a); }, this, &Quick);
  }

  static bool Quick(Thread&, uint32_t id, ArgBlock& a, void* extra) {
    auto* self = static_cast<QuickHost*>(extra);
    if (id == kMeet || a.StringView(1) == "slow") return false;
    if (id == kLength) a.SetLong(0, static_cast<int32_t>(a.StringView(1).size()));
    if (id == kRename) a.SetString(1, "changed");
    ++self->quickAnswers;  // under the script's lock
    return id == kLength || id == kRename;
  }

  void Ordinary(uint32_t id, ArgBlock& a) {
    std::unique_lock<std::mutex> lock(mutex);
    ++ordinaryCalls;
    switch (id) {
      case kPrint: out += a.GetString(1) + "\n"; break;
      case kLength: a.SetLong(0, -1); break;
      case kRename: a.SetString(1, "renamed slowly"); break;
      case kMeet:
        ++inside;
        changed.notify_all();
        a.SetBoolean(0, changed.wait_for(lock, 5s, [this] { return inside >= 2; }));
        break;
      default: ADD_FAILURE() << "unexpected dispatch id " << id;
    }
  }

  int Run(const std::string& source, const CompileOptions& options = {}) {
    CompileResult c = Compile(source, options);
    EXPECT_TRUE(c.ok());
    std::string error;
    script = engine.LoadProgram(std::move(c.program), error);
    EXPECT_TRUE(script) << error;
    auto t = script ? engine.CreateThread(script, "Main", error) : nullptr;
    EXPECT_TRUE(t) << error;
    return t ? t->Run() : -1;
  }
};

struct QuickCase {
  const char* name;
  const char* body;  // of Sub Main
  const char* printed;
  int quickAnswers, ordinaryCalls;  // Print counts as ordinary
};

// Every program runs optimised (constants in place) and plain (copied).
const QuickCase kQuickCases[] = {
    {"QuickAnswer", "Print CStr(Length(\"abc\"))", "3\n", 1, 1},
    {"DeclinedGoesTheOrdinaryWay", "Print CStr(Length(\"slow\"))", "-1\n", 0, 2},
    {"QuickWriteReachesTheVariable", "Dim s As String\ns = \"x\"\nRename s\nPrint s", "changed\n", 1, 1},
    {"OrdinaryWriteReachesTheVariable", "Dim s As String\ns = \"slow\"\nRename s\nPrint s", "renamed slowly\n", 0, 2},
    {"QuickWriteLeavesTheConstant", "Rename \"abc\"\nPrint \"abc\"", "abc\n", 1, 1},
    {"OrdinaryWriteLeavesTheConstant", "Rename \"slow\"\nPrint \"slow\"", "slow\n", 0, 2},
    {"ConstantUsedAgainAfterAWrite", "Dim i As Long\nFor i = 1 To 2\nRename \"abc\"\nPrint \"abc\" & Length(\"abc\")\nNext",
     "abc3\nabc3\n", 4, 2},
};

class QuickCalls : public ::testing::TestWithParam<QuickCase> {};

TEST_P(QuickCalls, AnswerAsTheOrdinaryPathWould) {
  const QuickCase& c = GetParam();
  for (bool optimize : {true, false}) {
    SCOPED_TRACE(optimize ? "optimised" : "plain");
    QuickHost h;
    EXPECT_EQ(h.Run(std::string("Sub Main()\n") + c.body + "\nEnd Sub\n", CompileOptions{optimize}), 0);
    EXPECT_EQ(h.out, c.printed);
    EXPECT_EQ(h.quickAnswers, c.quickAnswers);
    EXPECT_EQ(h.ordinaryCalls, c.ordinaryCalls);
  }
}

INSTANTIATE_TEST_SUITE_P(Engine, QuickCalls, ::testing::ValuesIn(kQuickCases),
                         [](const auto& info) { return std::string(info.param.name); });

// A declined quick call lets the script's lock go like any host call: two
// threads of one script meet inside it.
TEST(QuickCallsDeclined, RunOutsideTheScriptLock) {
  QuickHost h;
  std::string error;
  CompileResult c = Compile("Dim met As Boolean\nSub Main()\nmet = Meet()\nEnd Sub\nSub Show()\nPrint CStr(met)\nEnd Sub\n");
  ASSERT_TRUE(c.ok());
  h.script = h.engine.LoadProgram(std::move(c.program), error);
  ASSERT_TRUE(h.script) << error;
  auto a = h.engine.CreateThread(h.script, "Main", error);
  auto b = h.engine.CreateThread(h.script, "Main", error);
  ASSERT_TRUE(a && b) << error;
  std::thread other([&] { EXPECT_EQ(b->Run(), 0); });
  EXPECT_EQ(a->Run(), 0);
  other.join();
  auto show = h.engine.CreateThread(h.script, "Show", error);
  ASSERT_TRUE(show) << error;
  EXPECT_EQ(show->Run(), 0);
  EXPECT_EQ(h.out, "True\n");
}

// String constants go to host procedures in place only when optimising,
// and never to the module's own procedures, which may assign a ByRef one.
TEST(QuickCallsCompiled, ConstantsInPlaceOnlyForHostArguments) {
  const char* source =
      "Sub F(s As String)\ns = \"z\"\nEnd Sub\nSub Main()\nRename \"abc\"\nF \"abc\"\nPrint Length(\"abc\")\nEnd Sub\n";
  auto count = [&](bool optimize) {
    CompileResult r = Compile(source, CompileOptions{optimize});
    EXPECT_TRUE(r.ok());
    int n = 0;
    for (const Function& f : r.program.functions)
      for (const Ins& in : f.code) n += in.op == Op::ConstRef;
    return n;
  };
  EXPECT_EQ(count(true), 2);
  EXPECT_EQ(count(false), 0);
}

}  // namespace
}  // namespace kv::orlan::testing
