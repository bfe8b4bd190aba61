// What the engine promises a host beyond plain dispatch: the lifetime of its
// objects as scripts hold them, handles unique across classes, subroutines
// looked up by name, threads that are busy or leased, host calls that run
// outside the script's lock, and waits that a stop ends.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "orlan/engine.h"
#include "tests/orlan/script_runner.h"

namespace kv::orlan::testing {
namespace {

using namespace std::chrono_literals;

enum Id : uint32_t {
  kPrint = 1,
  kMake,      // Make(handle, class) As Object
  kReleases,  // Releases() As String: the releases so far
  kMeet,      // Meet() As Boolean: waits until two callers are inside
  kGate,      // Gate(): the first caller waits until the test opens the gate
  kStage,     // Stage(): takes the host's stage lock
  kSleep,     // Sleep(ms): WaitForStop
  kSpinWait,  // SpinWait(): polls StopRequested
  kRunSelf,   // RunSelf(): runs the calling thread object again
  kSetLong,   // SetLong(x, v): x = v
  kTouch,     // Touch(x, r): reads x and r, runs "Meddle", sets r.left
  kWidgetNew = 20,
  kGadgetNew,
  kWidgetTwice,  // Widget.Twice(n) As Long
  kWidgetName,   // Widget.Name As String (get)
};

const HostType kLng{HostType::kLong, {}}, kStr{HostType::kString, {}}, kBool{HostType::kBoolean, {}},
    kObj{HostType::kObject, {}}, kRect{HostType::kRecord, "kvrect"};

struct Host {
  Engine engine;
  std::mutex mutex;  // guards the fields below
  std::condition_variable changed;
  std::string out, releases;
  int inside = 0;        // callers inside Meet
  int gateCalls = 0;     // calls of Gate
  bool gateOpen = false;
  std::atomic<int> waiting{0};  // callers inside Sleep, SpinWait or Stage
  std::mutex stageLock;
  // Last, so it goes first: its module variables report to the fields above.
  std::shared_ptr<ScriptObject> script;

  Host() {
    LibraryBuilder b;
    b.AddRecordType("kvrect");
    for (const char* f : {"left", "top", "right", "bottom"}) b.AddField(f, kLng);
    b.AddSub(0, "Print", kPrint, 1, 1, {kStr});
    b.AddFunction(0, "Make", kMake, kObj, 2, 2, {kLng, kStr});
    b.AddFunction(0, "Releases", kReleases, kStr, 0, 0, {});
    b.AddFunction(0, "Meet", kMeet, kBool, 0, 0, {});
    b.AddSub(0, "Gate", kGate, 0, 0, {});
    b.AddSub(0, "Stage", kStage, 0, 0, {});
    b.AddSub(0, "Sleep", kSleep, 1, 1, {kLng});
    b.AddSub(0, "SpinWait", kSpinWait, 0, 0, {});
    b.AddSub(0, "RunSelf", kRunSelf, 0, 0, {});
    b.AddSub(0, "SetLong", kSetLong, 2, 2, {kLng, kLng});
    b.AddSub(0, "Touch", kTouch, 2, 2, {kLng, kRect});
    b.AddClass("Widget", kWidgetNew);
    b.AddFunctionMethod("Twice", kWidgetTwice, kLng, 1, 1, {kLng});
    b.AddProperty(0, "Name", kNoAccessor, kWidgetName, kStr);
    b.AddClass("Gadget", kGadgetNew);
    std::string error;
    auto lib = b.Finish(error);
    EXPECT_TRUE(lib) << error;
    engine.RegisterLibrary("Host", std::move(lib), [this](Thread& t, uint32_t id, ArgBlock& a, void*) { Dispatch(t, id, a); });
    engine.objectReleased = [this](int library, int cls, uint32_t handle) {
      std::lock_guard<std::mutex> lock(mutex);
      releases += std::to_string(library) + ":" + std::to_string(cls) + ":" + std::to_string(handle) + " ";
    };
  }

  void Dispatch(Thread& t, uint32_t id, ArgBlock& a) {
    std::unique_lock<std::mutex> lock(mutex);
    switch (id) {
      case kPrint: out += a.GetString(1) + "\n"; break;
      case kMake: a.SetObject(0, static_cast<uint32_t>(a.GetLong(1)), a.GetString(2)); break;
      case kReleases: a.SetString(0, releases); break;
      case kMeet:
        ++inside;
        changed.notify_all();
        a.SetBoolean(0, changed.wait_for(lock, 5s, [this] { return inside >= 2; }));
        break;
      case kGate:
        if (++gateCalls == 1) changed.wait_for(lock, 5s, [this] { return gateOpen; });
        break;
      case kStage: {
        lock.unlock();
        ++waiting;
        std::lock_guard<std::mutex> stage(stageLock);
        break;
      }
      case kSleep: {
        lock.unlock();
        ++waiting;
        t.WaitForStop(std::chrono::milliseconds(a.GetLong(1)));
        break;
      }
      case kSpinWait:
        lock.unlock();
        ++waiting;
        for (int i = 0; i < 10000 && !t.StopRequested(); ++i) std::this_thread::sleep_for(1ms);
        break;
      case kRunSelf:
        lock.unlock();
        EXPECT_EQ(t.Run(), 0);
        break;
      case kSetLong: a.SetLong(1, a.GetLong(2)); break;
      case kTouch: {
        int32_t seen = a.GetLong(1);
        RecordRef r = a.GetRecord(2);
        lock.unlock();
        std::string error;
        auto inner = engine.CreateThread(script, "Meddle", error);
        ASSERT_TRUE(inner) << error;
        EXPECT_EQ(inner->Run(), 0);
        r.SetLong(0, seen + 100);
        break;
      }
      case kWidgetNew: a.SetObject(0, engine.NewObjectHandle(), "Widget"); break;
      case kGadgetNew: a.SetObject(0, engine.NewObjectHandle(), "Gadget"); break;
      case kWidgetTwice: a.SetLong(0, 2 * a.GetLong(2)); break;
      case kWidgetName: a.SetString(0, "w"); break;
      default: ADD_FAILURE() << "unexpected dispatch id " << id;
    }
  }

  void Load(const std::string& source) {
    std::string error;
    script = engine.LoadSource(source, error);
    ASSERT_TRUE(script) << error;
  }

  int Run(const char* sub) {
    std::string error;
    auto t = engine.CreateThread(script, sub, error);
    EXPECT_TRUE(t) << error;
    return t ? t->Run() : -1;
  }

  std::string Releases() {
    std::lock_guard<std::mutex> lock(mutex);
    return releases;
  }
};

// Each case runs `Main`, which prints what it sees; "library:class:handle"
// lists the releases the host was told of, in order.
struct LifetimeCase {
  const char* name;
  const char* source;
  const char* printed;
  const char* releasedAfterRun;
  const char* releasedAfterUnload;
};

const LifetimeCase kLifetimeCases[] = {
    {"LocalDiesWithTheRun", "Sub Main()\nDim o As Object\nSet o = Make(42, \"Widget\")\nEnd Sub\n", "", "0:0:42 ", "0:0:42 "},
    {"CopiesShareOneReference",
     "Sub Main()\nDim a As Object, b As Object\nSet a = Make(42, \"Widget\")\nSet b = Make(42, \"Widget\")\n"
     "Print CStr(a Is b)\nSet a = Nothing\nPrint \"[\" & Releases() & \"]\"\nSet b = Nothing\nPrint \"[\" & Releases() & \"]\"\n"
     "End Sub\n",
     "True\n[]\n[0:0:42 ]\n", "0:0:42 ", "0:0:42 "},
    {"ModuleVariableKeepsItUntilTheScriptGoes",
     "Dim Keep As Object\nSub Main()\nSet Keep = New Gadget\nEnd Sub\n", "", "", "0:1:1 "},
    {"CollectionKeepsIt",
     "Sub Main()\nDim c As Collection, o As Object\nSet c = New Collection\nSet o = Make(7, \"Gadget\")\nc.Add o\n"
     "Set o = Nothing\nPrint \"[\" & Releases() & \"]\"\nSet c = Nothing\nPrint \"[\" & Releases() & \"]\"\nEnd Sub\n",
     "[]\n[0:1:7 ]\n", "0:1:7 ", "0:1:7 "},
    {"HandlesAreUniqueAcrossClasses",
     "Sub Main()\nDim w As Object, g As Object\nSet w = New Widget\nSet g = New Gadget\n"
     "Print TypeName(w) & \" \" & CStr(w Is g)\nEnd Sub\n",
     "Object False\n", "0:0:1 0:1:2 ", "0:0:1 0:1:2 "},  // locals go in the order declared
    {"AHandleLiveUnderAnotherClassIsRefused",
     "Sub Main()\nDim w As Object, g As Object\nSet w = Make(5, \"Widget\")\nOn Error Resume Next\n"
     "Set g = Make(5, \"Gadget\")\nPrint Err.Number & \" \" & CStr(g Is Nothing)\nEnd Sub\n",
     "5 True\n", "0:0:5 ", "0:0:5 "},
};

class ObjectLifetime : public ::testing::TestWithParam<LifetimeCase> {};

TEST_P(ObjectLifetime, HostIsToldWhenTheLastReferenceDies) {
  const LifetimeCase& c = GetParam();
  Host h;
  h.Load(c.source);
  EXPECT_EQ(h.Run("Main"), 0);
  EXPECT_EQ(h.out, c.printed);
  EXPECT_EQ(h.Releases(), c.releasedAfterRun);
  h.script.reset();
  EXPECT_EQ(h.Releases(), c.releasedAfterUnload);
}

INSTANTIATE_TEST_SUITE_P(Engine, ObjectLifetime, ::testing::ValuesIn(kLifetimeCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(EngineObjects, ClearedReferencesAreNotReportedAndTheHandleIsFree) {
  Host h;
  h.Load("Dim Keep As Object\nSub Take()\nSet Keep = Make(9, \"Widget\")\nEnd Sub\n"
         "Sub Check()\nPrint CStr(Keep Is Nothing)\nEnd Sub\n"
         "Sub Retake()\nSet Keep = Make(9, \"Gadget\")\nPrint TypeName(Keep)\nEnd Sub\n");
  EXPECT_EQ(h.Run("Take"), 0);
  EXPECT_TRUE(h.engine.IsObjectReferenced(9));
  h.engine.ClearObjectReferences(9);
  EXPECT_FALSE(h.engine.IsObjectReferenced(9));
  EXPECT_EQ(h.Run("Check"), 0);
  // The handle may name a new object, of any class.
  EXPECT_EQ(h.Run("Retake"), 0);
  EXPECT_EQ(h.out, "True\nObject\n");
  h.script.reset();
  EXPECT_EQ(h.Releases(), "0:1:9 ");
}

TEST(EngineObjects, NewHandlesSkipLiveOnes) {
  Host h;
  h.Load("Dim A As Object, B As Object\nSub Main()\nSet A = Make(1, \"Widget\")\nSet B = Make(2, \"Widget\")\nEnd Sub\n");
  EXPECT_EQ(h.Run("Main"), 0);
  EXPECT_EQ(h.engine.NewObjectHandle(), 3u);
  EXPECT_EQ(h.engine.NewObjectHandle(), 4u);
}

TEST(EngineObjects, ReferencesAcrossThreadsAreCountedOnce) {
  // Many threads take and drop references to one handle at once: the host
  // hears of its death exactly when the last one goes, never while one lives.
  Host h;
  h.Load("Dim Keep As Object\nSub Hold()\nSet Keep = Make(11, \"Widget\")\nEnd Sub\n"
         "Sub Churn()\nDim i As Long, o As Object\nFor i = 1 To 2000\nSet o = Make(11, \"Widget\")\nSet o = Nothing\nNext\nEnd Sub\n"
         "Sub Drop()\nSet Keep = Nothing\nEnd Sub\n");
  EXPECT_EQ(h.Run("Hold"), 0);
  std::vector<std::thread> churn;
  for (int i = 0; i < 4; ++i) churn.emplace_back([&] { EXPECT_EQ(h.Run("Churn"), 0); });
  for (auto& t : churn) t.join();
  EXPECT_EQ(h.Releases(), "");
  EXPECT_EQ(h.Run("Drop"), 0);
  EXPECT_EQ(h.Releases(), "0:0:11 ");
}

TEST(EngineSubroutines, HasSubroutineByNameAlone) {
  Host h;
  h.Load("Sub Main()\nEnd Sub\nSub Takes(a As Long)\nEnd Sub\nFunction Calc() As Long\nEnd Function\n");
  struct {
    const char* name;
    bool expected;
  } const cases[] = {{"Main", true}, {"MAIN", true}, {"Takes", true}, {"Calc", false}, {"Missing", false}, {"", false}};
  for (const auto& c : cases) EXPECT_EQ(h.engine.HasSubroutine(*h.script, c.name), c.expected) << c.name;
}

TEST(EngineThreads, RunningABusyThreadRunsAFreshOne) {
  Host h;
  h.Load("Dim Entered As Long\nSub Enter()\nEntered = Entered + 1\nGate\nEnd Sub\nSub Report()\nPrint CStr(Entered)\nEnd Sub\n");
  std::string error;
  auto t = h.engine.CreateThread(h.script, "Enter", error);
  int marker = 0;
  t->SetUserData(&marker);
  std::atomic<int> first{-1};
  std::thread runner([&] { first = t->Run(); });
  ASSERT_TRUE(WaitFor([&] {
    std::lock_guard<std::mutex> lock(h.mutex);
    return h.gateCalls == 1;
  }));
  // The same thread object again, while its first run waits in Gate.
  EXPECT_EQ(t->Run(), 0);
  EXPECT_TRUE(t->IsActive());
  {
    std::lock_guard<std::mutex> lock(h.mutex);
    h.gateOpen = true;
  }
  h.changed.notify_all();
  runner.join();
  EXPECT_EQ(first.load(), 0);
  EXPECT_EQ(h.Run("Report"), 0);
  EXPECT_EQ(h.out, "2\n");
}

TEST(EngineThreads, AThreadRunFromItsOwnHostCallRunsAFreshOne) {
  Host h;
  h.Load("Dim Depth As Long\nSub Outer()\nDepth = Depth + 1\nIf Depth = 1 Then RunSelf\nPrint CStr(Depth)\nEnd Sub\n");
  EXPECT_EQ(h.Run("Outer"), 0);
  EXPECT_EQ(h.out, "2\n2\n");
}

TEST(EngineThreads, LeasesReuseAnIdleThreadAndNeverShareABusyOne) {
  Host h;
  h.Load("Sub A()\nPrint \"A\"\nEnd Sub\nSub B()\nPrint \"B\"\nEnd Sub\n");
  std::unique_ptr<Thread> own;
  std::string error;
  {
    ThreadLease lease = h.engine.LeaseThread(own, h.script, "A", error);
    ASSERT_TRUE(lease);
    EXPECT_FALSE(lease.IsFresh());
    EXPECT_EQ(&*lease, own.get());
    EXPECT_EQ(lease.Run(), 0);
  }
  Thread* first = own.get();
  // Two leases before either runs: the second must not re-target the first's thread.
  ThreadLease a = h.engine.LeaseThread(own, h.script, "A", error);
  ThreadLease b = h.engine.LeaseThread(own, h.script, "B", error);
  EXPECT_EQ(own.get(), first);
  EXPECT_FALSE(a.IsFresh());
  EXPECT_TRUE(b.IsFresh());
  EXPECT_EQ(b.Run(), 0);
  EXPECT_EQ(a.Run(), 0);
  EXPECT_EQ(h.out, "A\nB\nA\n");
  // A lease that ends without running gives the thread back.
  { ThreadLease unused = h.engine.LeaseThread(own, h.script, "B", error); }
  ThreadLease c = h.engine.LeaseThread(own, h.script, "B", error);
  EXPECT_FALSE(c.IsFresh());
  EXPECT_FALSE(h.engine.LeaseThread(own, h.script, "Missing", error));
  EXPECT_EQ(error, "Subroutine missing: Missing");
}

TEST(EngineThreads, ALeaseReplacesAnIdleThreadOfAnotherScript) {
  Host h;
  h.Load("Sub A()\nPrint \"one\"\nEnd Sub\n");
  auto firstScript = h.script;
  std::unique_ptr<Thread> own;
  std::string error;
  EXPECT_EQ(h.engine.LeaseThread(own, firstScript, "A", error).Run(), 0);
  h.Load("Sub A()\nPrint \"two\"\nEnd Sub\n");
  ThreadLease lease = h.engine.LeaseThread(own, h.script, "A", error);
  EXPECT_FALSE(lease.IsFresh());
  EXPECT_EQ(&own->script(), h.script.get());
  EXPECT_EQ(lease.Run(), 0);
  EXPECT_EQ(h.out, "one\ntwo\n");
}

TEST(EngineUnlocked, TwoThreadsOfOneScriptBlockInHostCallsAtOnce) {
  Host h;
  h.Load("Dim Met As Long\nSub Main()\nIf Meet() Then Met = Met + 1\nEnd Sub\nSub Report()\nPrint CStr(Met)\nEnd Sub\n");
  std::atomic<int> ra{-1}, rb{-1};
  std::thread a([&] { ra = h.Run("Main"); });
  std::thread b([&] { rb = h.Run("Main"); });
  a.join();
  b.join();
  EXPECT_EQ(ra.load(), 0);
  EXPECT_EQ(rb.load(), 0);
  EXPECT_EQ(h.Run("Report"), 0);
  EXPECT_EQ(h.out, "2\n");
}

TEST(EngineUnlocked, AHostCallWaitingForAHostLockHoldsNoScriptBack) {
  Host h;
  h.Load("Dim Count As Long\nSub Draw()\nStage\nEnd Sub\nSub Work()\nDim i As Long\nFor i = 1 To 1000\nCount = Count + 1\nNext\nEnd Sub\n");
  std::unique_lock<std::mutex> stage(h.stageLock);
  std::atomic<int> drawn{-1}, worked{-1};
  std::thread drawer([&] { drawn = h.Run("Draw"); });
  ASSERT_TRUE(WaitFor([&] { return h.waiting.load() == 1; }));
  std::thread worker([&] { worked = h.Run("Work"); });
  // The host, holding its lock, drops an object while a script waits for that lock.
  std::atomic<bool> cleared{false};
  std::thread clearer([&] {
    h.engine.ClearObjectReferences(77);
    cleared = true;
  });
  bool progressed = WaitFor([&] { return worked.load() != -1 && cleared.load(); }, 3000ms);
  stage.unlock();
  drawer.join();
  worker.join();
  clearer.join();
  EXPECT_TRUE(progressed);
  EXPECT_EQ(worked.load(), 0);
  EXPECT_EQ(drawn.load(), 0);
}

TEST(EngineUnlocked, ArgumentsGoBackOnlyWhereTheHostWrote) {
  // Touch reads X and R, lets Meddle (another thread of the script) change
  // X and R.right meanwhile, then sets R.left: Meddle's changes survive.
  Host h;
  h.Load("Dim X As Long\nDim R As kvrect\n"
         "Sub Main()\nX = 1\nR.right = 3\nTouch X, R\nPrint X & \" \" & R.left & \" \" & R.right\n"
         "SetLong X, 77\nPrint CStr(X)\nEnd Sub\n"
         "Sub Meddle()\nX = 5\nR.right = 9\nEnd Sub\n");
  EXPECT_EQ(h.Run("Main"), 0);
  EXPECT_EQ(h.out, "5 101 9\n77\n");
}

// A member of a host object is a value wherever an expression may stand,
// also as the argument of a host procedure that takes its arguments by
// reference.
struct MemberArgumentCase {
  const char* name;
  const char* statement;
  const char* printed;
};
const MemberArgumentCase kMemberArgumentCases[] = {
    {"FunctionMethodToHostSub", "SetLong X, w.Twice(21)", "42"},
    {"FunctionMethodInExpressionToHostSub", "SetLong X, w.Twice(20) + 2", "42"},
    {"PropertyToHostSub", "Print w.Name", "w"},
    {"FunctionMethodToAssignment", "X = w.Twice(21)", "42"},
    {"NestedMethodToHostSub", "SetLong X, w.Twice(w.Twice(5))", "20"},
};
class MemberArgument : public ::testing::TestWithParam<MemberArgumentCase> {};
TEST_P(MemberArgument, IsPassedAsItsValue) {
  const MemberArgumentCase& c = GetParam();
  Host h;
  h.Load(std::string("Dim X As Long\nSub Main()\nDim w As Object\nSet w = New Widget\n") + c.statement +
         "\nIf X <> 0 Then Print CStr(X)\nEnd Sub\n");
  EXPECT_EQ(h.Run("Main"), 0);
  EXPECT_EQ(h.out, std::string(c.printed) + "\n");
}
INSTANTIATE_TEST_SUITE_P(Engine, MemberArgument, ::testing::ValuesIn(kMemberArgumentCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(EngineUnlocked, ArrayElementArgumentsGoBackLikeVariables) {
  Host h;
  h.Load("Dim Xs(2) As Long\nDim Rs(2) As kvrect\n"
         "Sub Main()\nXs(1) = 1\nRs(2).right = 3\nTouch Xs(1), Rs(2)\nPrint Xs(1) & \" \" & Rs(2).left & \" \" & Rs(2).right\n"
         "SetLong Xs(2), 77\nPrint CStr(Xs(2))\nEnd Sub\n"
         "Sub Meddle()\nXs(1) = 5\nRs(2).right = 9\nEnd Sub\n");
  EXPECT_EQ(h.Run("Main"), 0);
  EXPECT_EQ(h.out, "5 101 9\n77\n");
}

struct StopCase {
  const char* name;
  const char* sub;
  bool abort;
  int result;
};

class StopsAWaitingHostCall : public ::testing::TestWithParam<StopCase> {};

TEST_P(StopsAWaitingHostCall, Within250Milliseconds) {
  const StopCase& c = GetParam();
  Host h;
  h.Load("Sub Nap()\nSleep 20000\nPrint \"after\"\nEnd Sub\nSub Spin()\nSpinWait\nPrint \"after\"\nEnd Sub\n");
  std::string error;
  auto t = h.engine.CreateThread(h.script, c.sub, error);
  std::atomic<int> result{-1};
  std::thread runner([&] { result = t->Run(); });
  ASSERT_TRUE(WaitFor([&] { return h.waiting.load() == 1; }));
  EXPECT_FALSE(t->StopRequested());
  auto stopAt = std::chrono::steady_clock::now();
  t->Stop(c.abort);
  bool ended = WaitFor([&] { return result.load() != -1; }, 250ms);
  auto took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - stopAt).count();
  runner.join();
  EXPECT_TRUE(ended) << "stop took " << took << " ms";
  EXPECT_EQ(result.load(), c.result);
  EXPECT_EQ(h.out, "");  // the run ends at the host call's return
}

const StopCase kStopCases[] = {
    {"WaitForStop", "Nap", false, 0},
    {"WaitForStopAbort", "Nap", true, 18},
    {"StopRequested", "Spin", false, 0},
    {"StopRequestedAbort", "Spin", true, 18},
};
INSTANTIATE_TEST_SUITE_P(Engine, StopsAWaitingHostCall, ::testing::ValuesIn(kStopCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace kv::orlan::testing
