// Automation objects: every member use reaches the host's Invoke by name
// with its kind and its arguments, late bound; the host's errors reach the
// script; the target lives as long as a script holds the object.
#include "orlan/automation.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "orlan/engine.h"

namespace kv::orlan::testing {
namespace {

enum Id : uint32_t { kPrint = 1, kGet };

// Logs each call as "name/kind(args)" and answers: Level (read and write),
// Twice(n), Fail (raises 5 with a reason); any other name raises 438.
class Recorder : public Automation {
 public:
  std::string log;
  int32_t level = 7;

  void Invoke(const std::string& name, int kind, const Value* args, int nargs, Value& result) override {
    log += name + "/" + std::to_string(kind) + "(";
    for (int i = 0; i < nargs; ++i) log += (i ? "," : "") + ToStr(args[i]);
    log += ") ";
    if (name == "Level" && kind == 2) {
      level = ToLong(args[0]);
    } else if (name == "Level" && kind == 0) {
      result = Value::Lng(level);
    } else if (name == "Twice" && nargs == 1) {
      result = Value::Lng(2 * ToLong(args[0]));
    } else if (name == "Fail") {
      Raise(5, "the host says no");
    } else {
      Raise(438);
    }
  }
};

struct Host {
  Engine engine;
  std::string out;
  std::shared_ptr<Recorder> recorder = std::make_shared<Recorder>();
  bool handOver = false;  // GetAuto gives the script the only reference

  Host() {
    LibraryBuilder b;
    b.AddSub(0, "Print", kPrint, 1, 1, {{HostType::kString, {}}});
    b.AddFunction(0, "GetAuto", kGet, {HostType::kObject, {}}, 0, 0, {});
    std::string error;
    auto lib = b.Finish(error);
    EXPECT_TRUE(lib) << error;
    engine.RegisterLibrary("Host", std::move(lib), [this](Thread&, uint32_t id, ArgBlock& a, void*) {
      if (id == kPrint) out += a.GetString(1) + "\n";
      if (id == kGet) a.Slot(0) = NewAutomationObject(handOver ? std::move(recorder) : recorder);
    });
  }

  int Run(const std::string& body) {
    std::string error;
    auto script = engine.LoadSource("Sub Main()\nDim o As Object\nSet o = GetAuto()\n" + body + "End Sub\n", error);
    EXPECT_TRUE(script) << error;
    if (!script) return -1;
    auto t = engine.CreateThread(script, "Main", error);
    EXPECT_TRUE(t) << error;
    return t ? t->Run() : -1;
  }
};

struct InvokeCase {
  const char* body;
  const char* log;      // what the host heard
  const char* printed;  // what the script printed
};

const InvokeCase kInvokeCases[] = {
    {"Print CStr(o.Level)\n", "Level/0() ", "7\n"},
    {"o.Level = 12\nPrint CStr(o.level)\n", "Level/2(12) level/0() ", ""},  // names are the host's to match
    {"o.Level = 12\nPrint CStr(o.Level)\n", "Level/2(12) Level/0() ", "12\n"},
    {"Print CStr(o.Twice(21))\n", "Twice/4(21) ", "42\n"},
    {"Dim n As Long\nn = 5\no.Twice n\n", "Twice/3(5) ", ""},
    {"On Error Resume Next\no.Volume = 1\nPrint CStr(Err.Number)\n", "Volume/2(1) ", "438\n"},
    {"On Error Resume Next\no.Fail\nPrint CStr(Err.Number) & \" \" & Err.Description\n", "Fail/3() ",
     "5 the host says no\n"},
    {"Print TypeName(o) & \" \" & CStr(o Is GetAuto())\n", "", "Object False\n"},
};

TEST(AutomationObjects, MembersReachInvokeByName) {
  for (const InvokeCase& c : kInvokeCases) {
    Host h;
    h.Run(c.body);
    EXPECT_EQ(h.recorder->log, c.log) << c.body;
    EXPECT_EQ(h.out, c.printed) << c.body;
  }
}

TEST(AutomationObjects, TheTargetLivesWhileAScriptHoldsIt) {
  Host h;
  std::weak_ptr<Recorder> target = h.recorder;
  h.handOver = true;
  EXPECT_EQ(h.Run("Dim p As Object\nSet p = o\nSet o = Nothing\nPrint CStr(p.Level)\n"), 0);
  EXPECT_EQ(h.out, "7\n");
  EXPECT_TRUE(target.expired());
}

}  // namespace
}  // namespace kv::orlan::testing
