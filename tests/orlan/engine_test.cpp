// The engine interface: declaring and registering a host library, dispatch
// of every argument type, objects, threads (stop from another OS thread,
// two threads of one script), callbacks and reference clearing.
#include "orlan/engine.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "tests/orlan/script_runner.h"

namespace kv::orlan::testing {
namespace {

enum Id : uint32_t {
  kPrint = 1,
  kEchoInt = 10,
  kEchoLong,
  kEchoDouble,
  kEchoStr,
  kNegate,
  kGetRect,
  kRectWidth,
  kFillOut,
  kMakeObj,
  kObjHandle,
  kFail,
  kPickLong,
  kPickRect,
  kWidgetNew = 30,
  kWidgetPoke,
  kWidgetTwice,
  kWidgetSizeSet,
  kWidgetSizeGet,
  kWidgetNameGet,
};

const HostType kInt{HostType::kInteger, {}}, kLng{HostType::kLong, {}}, kDbl{HostType::kDouble, {}},
    kStr{HostType::kString, {}}, kBool{HostType::kBoolean, {}}, kObj{HostType::kObject, {}},
    kRect{HostType::kRecord, "kvrect"};

struct Host {
  std::string out;
  int32_t widgetSize = 0;
  int32_t poked = 0;
  Engine engine;

  Host() {
    LibraryBuilder b;
    b.AddRecordType("kvrect");
    for (const char* f : {"left", "top", "right", "bottom"}) b.AddField(f, kLng);
    b.AddSub(0, "Print", kPrint, 0, 1, {kStr});
    b.AddFunction(0, "EchoInt", kEchoInt, kInt, 1, 1, {kInt});
    b.AddFunction(0, "EchoLong", kEchoLong, kLng, 1, 1, {kLng});
    b.AddFunction(0, "EchoDouble", kEchoDouble, kDbl, 1, 1, {kDbl});
    b.AddFunction(0, "EchoStr", kEchoStr, kStr, 1, 1, {kStr});
    b.AddFunction(0, "Negate", kNegate, kBool, 1, 1, {kBool});
    b.AddSub(0, "GetRect", kGetRect, 1, 1, {kRect});
    b.AddFunction(0, "RectWidth", kRectWidth, kLng, 1, 1, {kRect});
    b.AddSub(0, "FillOut", kFillOut, 2, 2, {kLng, kStr});
    b.AddFunction(0, "MakeObj", kMakeObj, kObj, 0, 0, {});
    b.AddFunction(0, "ObjHandle", kObjHandle, kLng, 1, 1, {kObj});
    b.AddSub(0, "Fail", kFail, 1, 1, {kLng});
    b.AddFunction(0, "Pick", kPickLong, kStr, 1, 1, {kLng});
    b.AddFunction(kOverloadFlag, "Pick", kPickRect, kStr, 1, 1, {kRect});
    b.AddCallback("kvoRender", 5, 5, {kLng, kLng, kLng, kLng, kLng});
    b.AddClass("Widget", kWidgetNew);
    b.AddMethod("Poke", kWidgetPoke, 1, 1, {kLng});
    b.AddFunctionMethod("Twice", kWidgetTwice, kLng, 1, 1, {kLng});
    b.AddProperty(0x4000, "Size", kWidgetSizeSet, kWidgetSizeGet, kLng);
    b.AddProperty(0x4000, "Name", kNoAccessor, kWidgetNameGet, kStr);
    std::string error;
    auto lib = b.Finish(error);
    EXPECT_TRUE(lib) << error;
    EXPECT_TRUE(engine.RegisterLibrary("Host", std::move(lib),
                                       [this](Thread& t, uint32_t id, ArgBlock& a, void* extra) { Dispatch(t, id, a, extra); },
                                       this));
  }

  void Dispatch(Thread& t, uint32_t id, ArgBlock& a, void* extra) {
    EXPECT_EQ(extra, this);
    switch (id) {
      case kPrint: out += a.GetString(1) + "\n"; break;
      case kEchoInt: a.SetInteger(0, static_cast<int16_t>(a.GetInteger(1) * 2)); break;
      case kEchoLong: a.SetLong(0, a.GetLong(1) + 1); break;
      case kEchoDouble: a.SetDouble(0, a.GetDouble(1) * 1.5); break;
      case kEchoStr: a.SetString(0, "[" + a.GetString(1) + "]"); break;
      case kNegate: a.SetBoolean(0, !a.GetBoolean(1)); break;
      case kGetRect: {
        RecordRef r = a.GetRecord(1);
        ASSERT_TRUE(r.valid());
        for (int f = 0; f < 4; ++f) r.SetLong(f, f + 1);
        break;
      }
      case kRectWidth: {
        RecordRef r = a.GetRecord(1);
        a.SetLong(0, r.GetLong(2) - r.GetLong(0));
        break;
      }
      case kFillOut:
        a.SetLong(1, 77);
        a.SetString(2, "filled");
        break;
      case kMakeObj: a.SetObject(0, 42, "Widget"); break;
      case kObjHandle: a.SetLong(0, static_cast<int32_t>(a.GetObject(1))); break;
      case kFail: t.RaiseError(a.GetLong(1)); break;
      case kPickLong: a.SetString(0, "long"); break;
      case kPickRect: a.SetString(0, "rect"); break;
      case kWidgetNew: a.SetObject(0, 7, "Widget"); break;
      case kWidgetPoke:
        EXPECT_EQ(a.GetObject(1), 7u);
        poked = a.GetLong(2);
        break;
      case kWidgetTwice: a.SetLong(0, a.GetLong(2) * 2); break;
      case kWidgetSizeSet: widgetSize = a.GetLong(2); break;
      case kWidgetSizeGet: a.SetLong(0, widgetSize); break;
      case kWidgetNameGet: a.SetString(0, "widget" + std::to_string(a.GetObject(1))); break;
      default: ADD_FAILURE() << "unexpected dispatch id " << id;
    }
  }

  std::shared_ptr<ScriptObject> Load(const std::string& source) {
    std::string error;
    auto s = engine.LoadSource(source, error);
    EXPECT_TRUE(s) << error;
    return s;
  }

  int Run(const std::shared_ptr<ScriptObject>& s, const char* sub, uint32_t* line = nullptr) {
    std::string error;
    auto t = engine.CreateThread(s, sub, error);
    EXPECT_TRUE(t) << error;
    if (!t) return -1;
    t->SetErrorCallback([line](Thread&, int, uint32_t l, const std::string&, void*) {
      if (line) *line = l;
    },
                        nullptr);
    return t->Run();
  }
};

TEST(Engine, DispatchesEveryArgumentType) {
  Host h;
  auto s = h.Load(
      "Sub Main()\n"
      "Dim i As Integer, l As Long, d As Double, s As String, b As Boolean, r As kvrect\n"
      "i = 21: l = 41: d = 2: s = \"x\": b = False\n"
      "Print EchoInt(i) & \" \" & EchoLong(l) & \" \" & EchoDouble(d) & \" \" & EchoStr(s) & \" \" & Negate(b)\n"
      "GetRect r\n"
      "Print r.left & r.top & r.right & r.bottom & \" \" & RectWidth(r)\n"
      "FillOut l, s\n"
      "Print l & \" \" & s\n"
      "Print EchoLong(\"5\") & \" \" & EchoInt(3.5)\n"
      "Print Pick(1) & \" \" & Pick(r)\n"
      "Dim o As Object\n"
      "Set o = MakeObj()\n"
      "Print ObjHandle(o) & \" \" & TypeName(o)\n"
      "End Sub\n");
  ASSERT_TRUE(s);
  EXPECT_EQ(h.Run(s, "main"), 0);
  EXPECT_EQ(h.out, "42 42 3 [x] True\n1234 2\n77 filled\n6 8\nlong rect\n42 Object\n");
}

// A host function's string result obeys the script's string limit: the
// script gets "Out of string space" (14), not the string.
TEST(Engine, HostStringResultsKeepTheStringLimit) {
  Host h;
  auto s = h.Load(
      "Sub Main()\n"
      "Print Len(EchoStr(Space(67108862)))\n"
      "Print Len(EchoStr(Space(67108863)))\n"
      "End Sub\n");
  ASSERT_TRUE(s);
  EXPECT_EQ(h.Run(s, "Main"), 14);
  EXPECT_EQ(h.out, "67108864\n");
}

TEST(Engine, HostClassesWithMethodsAndProperties) {
  Host h;
  auto s = h.Load(
      "Sub Main()\n"
      "Dim w As Widget\n"
      "Set w = New Widget\n"
      "w.Poke 5\n"
      "w.Size = 12\n"
      "Print w.Size + 1 & \" \" & w.Twice(4) & \" \" & w.Name\n"
      "End Sub\n"
      "Sub SetName()\n"
      "Dim w As Widget\n"
      "Set w = New Widget\n"
      "w.Name = \"x\"\n"
      "End Sub\n");
  ASSERT_TRUE(s);
  EXPECT_EQ(h.Run(s, "Main"), 0);
  EXPECT_EQ(h.out, "13 8 widget7\n");
  EXPECT_EQ(h.poked, 5);
  EXPECT_EQ(h.widgetSize, 12);
  // A property without a setter (0xFFFF) cannot be assigned.
  EXPECT_EQ(h.Run(s, "SetName"), 438);
}

TEST(Engine, HostRaisesRunTimeError) {
  Host h;
  auto s = h.Load(
      "Sub Main()\n"
      "On Error Resume Next\n"
      "Fail 1234\n"
      "Print Err.Number\n"
      "On Error GoTo 0\n"
      "Fail 7\n"
      "End Sub\n");
  ASSERT_TRUE(s);
  uint32_t line = 0;
  EXPECT_EQ(h.Run(s, "Main", &line), 7);
  EXPECT_EQ(line, 6u);
  EXPECT_EQ(h.out, "1234\n");
}

TEST(Engine, ErrorCallbackGetsNumberLineAndText) {
  Host h;
  auto s = h.Load("Sub Main()\nDim a(2)\na(3) = 1\nEnd Sub\n");
  std::string error;
  auto t = h.engine.CreateThread(s, "Main", error);
  int data = 0;
  std::string message;
  t->SetErrorCallback(
      [&](Thread&, int n, uint32_t line, const std::string& text, void* d) {
        EXPECT_EQ(d, &data);
        message = FormatScriptError(n, line, text);
      },
      &data);
  EXPECT_EQ(t->Run(), 9);
  EXPECT_EQ(t->ErrorResult(), 9);
  EXPECT_EQ(message, "Error 9 (Line 3): Subscript out of range");
}

TEST(Engine, MissingArgumentNamesTheSubroutine) {
  Host h;
  auto s = h.Load("Sub Sum(a, b, Optional c)\nPrint a\nEnd Sub\n");
  std::string error;
  auto t = h.engine.CreateThread(s, "Sum", error);
  std::string message;
  t->SetErrorCallback([&](Thread&, int n, uint32_t line, const std::string& text, void*) { message = FormatScriptError(n, line, text); },
                      nullptr);
  Value args[] = {Value::Lng(2)};
  EXPECT_EQ(t->Run(args), 449);
  EXPECT_EQ(message, "Error 449 (Line 0): Argument not optional (calling Sum, parameter b)");
}

TEST(Engine, UnknownProceduresAndTypes) {
  Host h;
  auto s = h.Load("Sub Main()\nNoSuchThing 1\nEnd Sub\n");
  ASSERT_TRUE(s);
  EXPECT_EQ(h.Run(s, "Main"), 35);
  std::string error;
  EXPECT_FALSE(h.engine.LoadSource("Sub Main()\nDim r As nosuchtype\nEnd Sub\n", error));
  EXPECT_EQ(error, "User-defined type not defined: nosuchtype");
  EXPECT_FALSE(h.engine.CreateThread(s, "missing", error));
}

TEST(Engine, SubroutinePrototypes) {
  Host h;
  auto s = h.Load(
      "Sub kvoRender(dc As Long, l As Long, t As Long, r As Long, b As Long)\nEnd Sub\n"
      "Sub Short(a As Long)\nEnd Sub\n"
      "Function Fn(dc As Long, l As Long, t As Long, r As Long, b As Long) As Long\nEnd Function\n");
  ASSERT_TRUE(s);
  EXPECT_TRUE(h.engine.HasSubroutine(*s, "KVORENDER", "kvoRender"));
  EXPECT_FALSE(h.engine.HasSubroutine(*s, "Short", "kvoRender"));
  EXPECT_FALSE(h.engine.HasSubroutine(*s, "Fn", "kvoRender"));
  EXPECT_FALSE(h.engine.HasSubroutine(*s, "kvoRender", "noSuchPrototype"));
}

TEST(Engine, ArgumentsUserDataAndRetarget) {
  Host h;
  auto s = h.Load("Sub Render(a As Long, b As Long)\nPrint a + b\nEnd Sub\nSub Other()\nPrint \"other\"\nEnd Sub\n");
  std::string error;
  auto t = h.engine.CreateThread(s, "Render", error);
  int marker = 0;
  t->SetUserData(&marker);
  EXPECT_EQ(t->UserData(), &marker);
  Value args[] = {Value::Lng(2), Value::Lng(3)};
  EXPECT_EQ(t->Run(args), 0);
  EXPECT_TRUE(t->Retarget("Other"));
  EXPECT_EQ(t->Run(), 0);
  EXPECT_FALSE(t->Retarget("missing"));
  EXPECT_EQ(h.out, "5\nother\n");
}

TEST(Engine, ClearsReferencesToADestroyedHostObject) {
  Host h;
  auto s = h.Load(
      "Dim Keep As Object\nDim Stash(1)\n"
      "Sub Take()\nSet Keep = MakeObj()\nSet Stash(1) = MakeObj()\nEnd Sub\n"
      "Sub Check()\nPrint (Keep Is Nothing) & \" \" & (Stash(1) Is Nothing)\nEnd Sub\n");
  EXPECT_EQ(h.Run(s, "Take"), 0);
  EXPECT_EQ(h.Run(s, "Check"), 0);
  h.engine.ClearObjectReferences(42);
  EXPECT_EQ(h.Run(s, "Check"), 0);
  EXPECT_EQ(h.out, "False False\nTrue True\n");
}

TEST(Engine, RejectsInconsistentDeclarations) {
  std::string error;
  {
    LibraryBuilder b;
    b.AddSub(0, "A", 1, 0, 0, {});
    b.AddSub(0, "A", 2, 0, 0, {});
    EXPECT_FALSE(b.Finish(error));
    EXPECT_NE(error.find("overload"), std::string::npos);
  }
  {
    LibraryBuilder b;
    b.AddSub(0, "A", 1, 1, 1, {HostType{HostType::kRecord, "nosuch"}});
    EXPECT_FALSE(b.Finish(error));
  }
  {
    LibraryBuilder b;
    b.AddSub(0, "A", 1, 2, 1, {kLng});
    EXPECT_FALSE(b.Finish(error));
  }
  {
    LibraryBuilder b;
    b.AddProperty(0x4000, "P", kNoAccessor, kNoAccessor, kLng);
    EXPECT_FALSE(b.Finish(error));
  }
}


TEST(Engine, StopFromAnotherThreadEndsALoopQuickly) {
  Host h;
  auto s = h.Load("Sub Spin()\nDim i As Long\nDo\ni = i + 1\nIf i > 1000000 Then i = 0\nLoop\nEnd Sub\n");
  for (bool abort : {false, true}) {
    std::string error;
    auto t = h.engine.CreateThread(s, "Spin", error);
    std::atomic<int> result{-1};
    std::thread runner([&] { result = t->Run(); });
    ASSERT_TRUE(WaitFor([&] { return t->IsActive(); }));
    int walked = 0;
    h.engine.ForEachThread([&](Thread& th) { walked += &th == t.get(); });
    EXPECT_EQ(walked, 1);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    auto stopAt = std::chrono::steady_clock::now();
    t->Stop(abort);
    bool ended = WaitFor([&] { return result.load() != -1; }, std::chrono::milliseconds(2000));
    auto took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - stopAt).count();
    if (!ended) t->Stop(true);
    runner.join();
    ASSERT_TRUE(ended);
    EXPECT_LT(took, 100) << "stop took " << took << " ms";
    EXPECT_EQ(result.load(), abort ? 18 : 0);
  }
}

TEST(Engine, TwoThreadsRunSubroutinesOfOneScriptAtOnce) {
  Host h;
  // Each thread waits for a module variable the other sets: only runs that
  // truly interleave finish.
  auto s = h.Load(
      "Dim Flag As Long\n"
      "Sub A()\nDo Until Flag = 1\nLoop\nFlag = 2\nEnd Sub\n"
      "Sub B()\nFlag = 1\nDo Until Flag = 2\nLoop\nEnd Sub\n");
  std::string error;
  auto ta = h.engine.CreateThread(s, "A", error);
  auto tb = h.engine.CreateThread(s, "B", error);
  std::atomic<int> ra{-1}, rb{-1};
  std::thread ja([&] { ra = ta->Run(); });
  std::thread jb([&] { rb = tb->Run(); });
  bool done = WaitFor([&] { return ra.load() != -1 && rb.load() != -1; });
  if (!done) {
    ta->Stop(true);
    tb->Stop(true);
  }
  ja.join();
  jb.join();
  EXPECT_TRUE(done);
  EXPECT_EQ(ra.load(), 0);
  EXPECT_EQ(rb.load(), 0);
}

TEST(Engine, YieldCallbackRunsDuringLongScriptsAndCanBeHeldOff) {
  Host h;
  std::atomic<int> calls{0};
  h.engine.SetYieldCallback([&](Thread& t) {
    if (++calls >= 3) t.Stop(true);
    return false;
  });
  auto s = h.Load("Sub Spin()\nDo\nLoop\nEnd Sub\nSub Events()\nDim i As Long\nFor i = 1 To 5\nDoEvents\nNext\nEnd Sub\n");
  EXPECT_EQ(h.Run(s, "Spin"), 18);
  EXPECT_GE(calls.load(), 3);
  calls = -100;
  std::string error;
  auto t = h.engine.CreateThread(s, "Events", error);
  EXPECT_EQ(t->Run(), 0);
  EXPECT_EQ(calls.load(), -95);
  t->HoldYield(true);
  EXPECT_EQ(t->Run(), 0);
  EXPECT_EQ(calls.load(), -95);
}

TEST(Engine, HostCallRunsAnotherSubroutineOfTheSameScript) {
  Engine engine;
  std::string out;
  std::shared_ptr<ScriptObject> script;
  LibraryBuilder b;
  b.AddSub(0, "Print", 1, 1, 1, {kStr});
  b.AddSub(0, "RunInner", 2, 0, 0, {});
  std::string error;
  engine.RegisterLibrary("Nest", b.Finish(error), [&](Thread&, uint32_t id, ArgBlock& a, void*) {
    if (id == 1) out += a.GetString(1) + "\n";
    if (id == 2) {
      std::string e;
      auto inner = engine.CreateThread(script, "Inner", e);
      EXPECT_EQ(inner->Run(), 0);
    }
  });
  script = engine.LoadSource("Dim N As Long\nSub Outer()\nN = 1\nRunInner\nPrint N\nEnd Sub\nSub Inner()\nN = N + 41\nEnd Sub\n", error);
  ASSERT_TRUE(script) << error;
  EXPECT_EQ(engine.CreateThread(script, "Outer", error)->Run(), 0);
  EXPECT_EQ(out, "42\n");
}

TEST(Engine, OptionsAreKept) {
  Engine e;
  e.SetOption(0, 0x100000);
  EXPECT_EQ(e.Option(0), 0x100000u);
  EXPECT_EQ(e.Option(99), 0u);
}

}  // namespace
}  // namespace kv::orlan::testing
