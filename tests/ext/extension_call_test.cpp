// Calls into a C extension built against the public header: every entry
// type by value and by reference, results of each type, texts at and over
// their buffers, the errors, and the callbacks the extension makes.
#include <gtest/gtest.h>

#include <cmath>
#include <dlfcn.h>

#include <cstring>

#include "engine/clock.h"
#include "engine/events.h"
#include "engine/run_error.h"
#include "engine/runner.h"
#include "engine/strings.h"
#include "engine/var.h"
#include "ext/dll_insert.h"
#include "ext/extension_call.h"
#include "ext/extension_callbacks.h"
#include "ext/extension_library.h"
#include "ext/orlan_builtins.h"
#include "ext/register.h"
#include "persist/document.h"
#include "platform/message_box.h"
#include "tests/ext/extensions/typed.h"

namespace kv {
namespace {

struct Entry {
  uint8_t code;
  std::string text;
  uint8_t source;  // 0 variable, 1 literal
};

std::shared_ptr<CVarsItem> Var(const std::string& name, uint16_t type, double number, const std::string& text = {}) {
  auto item = std::make_shared<CVarsItem>();
  item->type = type;
  item->name = name;
  item->initialText = text;
  item->currentText = text;
  auto store = [&](auto v) {
    std::memcpy(item->initialValue.data(), &v, sizeof v);
    item->SetCurrent(v);
  };
  switch (type) {
    case var_type::kInt2: store(int16_t(number)); break;
    case var_type::kWord:
    case var_type::kBool: store(uint16_t(number)); break;
    case var_type::kInt4: store(int32_t(number)); break;
    case var_type::kDWord: store(uint32_t(number)); break;
    case var_type::kDouble: store(number); break;
    default: break;
  }
  return item;
}

class ExtensionCall : public ::testing::Test {
 protected:
  ExtensionCall() {
    RegisterInsertClasses();
    s_.clock = &clock_;
    s_.messages = &boxes_;
    runner_ = std::make_unique<Runner>(s_, RuntimeFacts{});
    doc_ = std::make_shared<CStgDoc>();
    doc_->defaultGroup = "G";
    auto g = std::make_shared<CVar>();
    g->groupName = "G";
    using namespace var_type;
    g->items = {Var("sText", kString, 0, "Zed"), Var("sHigh", kString, 0, "\xE9"), Var("iBytes", kInt4, 0x01020304),
                Var("dHalf", kDouble, 1.25), Var("rInt2", kInt2, 0), Var("rWord", kWord, 0),
                Var("rBool", kBool, 0), Var("rInt4", kInt4, 0), Var("rDWord", kDWord, 0),
                Var("rDouble", kDouble, 0), Var("rString", kString, 0, "old"),
                Var("vC", kString, 0, "a"), Var("vW", kString, 0, "b"), Var("vB", kInt2, 21),
                Var("vS", kInt2, 300), Var("vU", kWord, 1000), Var("vBo", kBool, 0), Var("vI", kInt4, -4),
                Var("vUi", kDWord, 7), Var("vF", kInt4, 1077936128 /* the bits of 3.0f */),
                Var("vD", kDouble, 0.5), Var("vText", kString, 0, "abc"), Var("vWide", kString, 0, "xyz"),
                Var("counter", kInt4, 41), Var("seen", kString, 0, ""), Var("ratio", kDouble, 0.5),
                Var("small", kInt2, -32768)};
    doc_->items = {g};
    runner_->Start(doc_, nullptr);
    runner_->Shutdown();
    runner_->shuttingDown = false;
    scope_ = std::make_unique<ExtensionRunScope>(*runner_);
    std::string error;
    library_ = ExtensionLibrary::Load(KV_TYPED_EXTENSION, error);
    EXPECT_TRUE(library_) << error;
  }

  void Call(const std::string& procedure, const std::vector<Entry>& entries) {
    DllFields f;
    f.procedureName = procedure;
    f.entryCount = uint8_t(entries.size());
    for (size_t i = 0; i < entries.size(); ++i) {
      f.typeCodes[i] = entries[i].code;
      f.texts[i] = entries[i].text;
      f.sources[i] = entries[i].source;
    }
    void* fn = library_->Symbol(procedure);
    ASSERT_TRUE(fn) << procedure;
    CallExtensionProcedure(runner_->variables(), f, reinterpret_cast<ExtensionProcedure>(fn));
  }
  VariableView View(const std::string& name) {
    auto item = runner_->variables().FindVariable(name, nullptr, {}, false);
    EXPECT_TRUE(item) << name;
    return item ? runner_->variables().View(*item) : VariableView{};
  }
  const Received& Got() { return *static_cast<const Received*>(library_->Symbol("received")); }

  Clock clock_{true};
  ScriptedMessageBox boxes_;
  RunnerServices s_;
  std::unique_ptr<Runner> runner_;
  DocPtr doc_;
  std::unique_ptr<ExtensionRunScope> scope_;
  std::shared_ptr<ExtensionLibrary> library_;
};

const Entry kNoResult{0, "", 0};

// What the public header promises authors is what the player uses.
TEST(ExtensionHeader, ValuesAreThePlayers) {
  const struct {
    const char* what;
    int64_t header, player;
  } cases[] = {
      {"left pressed", KV_EVENT_LEFT_BUTTON_PRESSED, event::kLeftButtonPressed},
      {"left released", KV_EVENT_LEFT_BUTTON_RELEASED, event::kLeftButtonReleased},
      {"right pressed", KV_EVENT_RIGHT_BUTTON_PRESSED, event::kRightButtonPressed},
      {"right released", KV_EVENT_RIGHT_BUTTON_RELEASED, event::kRightButtonReleased},
      {"entering", KV_EVENT_CURSOR_ENTERING, event::kCursorEntering},
      {"leaving", KV_EVENT_CURSOR_LEAVING, event::kCursorLeaving},
      {"moving", KV_EVENT_CURSOR_MOVING, event::kCursorMoving},
      {"double click", KV_EVENT_DOUBLE_CLICK, event::kDoubleClick},
      {"16-bit", uint16_t(KV_NA_INT16), kMissingInt16},
      {"16-bit unsigned", KV_NA_UINT16, kMissingInt16},
      {"32-bit", uint32_t(KV_NA_INT32), kMissingInt32},
      {"32-bit unsigned", KV_NA_UINT32, kMissingInt32},
      {"double", int64_t(KV_NA_DOUBLE), int64_t(kUnavailableDouble)},
      {"text buffer", KV_STRING_BUFFER_SIZE, kStringBufferSize},
      {"text result", KV_STRING_RESULT_LIMIT, kStringResultLimit},
      {"string code", KV_ENTRY_STRING, entry_type::kString},
      {"wide string code", KV_ENTRY_WSTRING, entry_type::kWString},
      {"double ref code", KV_ENTRY_DOUBLE_REF, entry_type::kDouble + 1},
      {"unsigned 32 code", KV_ENTRY_UINT32, entry_type::kUInt32},
  };
  for (const auto& c : cases) EXPECT_EQ(c.header, c.player) << c.what;
}

TEST_F(ExtensionCall, LiteralsArePassedByValueAsTheirCodesSay) {
  Call("TakeValues", {kNoResult, {2, "Hello", 1}, {4, "AB", 1}, {6, "300", 1}, {8, "-70000", 1}, {10, "65537", 1},
                      {12, "TRUE", 1}, {14, "-42", 1}, {16, "4000000000", 1}, {18, "1.5", 1}, {20, "-2.25", 1},
                      {22, "text", 1}, {23, "hi", 1}});
  const Received& r = Got();
  EXPECT_EQ(r.c, 'H');
  EXPECT_EQ(r.w, 0x4241);  // "A" low, "B" high
  EXPECT_EQ(r.b, 44);      // 300 & 0xFF
  EXPECT_EQ(r.s, -4464);   // the low 16 bits of -70000 (0xEE90)
  EXPECT_EQ(r.u, 1);       // 65537 & 0xFFFF
  EXPECT_EQ(r.bo, 1);
  EXPECT_EQ(r.i, -42);
  EXPECT_EQ(r.ui, 4000000000u);
  EXPECT_EQ(r.f, 1.5f);
  EXPECT_EQ(r.d, -2.25);
  EXPECT_STREQ(r.text, "text");
  EXPECT_EQ(r.wide[0], 'h');
  EXPECT_EQ(r.wide[1], 'i');
  EXPECT_EQ(r.wide[2], 0);
}

TEST_F(ExtensionCall, BooleanLiterals) {
  const struct {
    const char* text;
    int32_t passed;
  } cases[] = {{"TRUE", 1}, {"FALSE", 0}, {"true", 0}, {"7", 7}, {"-3", -3}, {"", 0}};
  for (const auto& c : cases) {
    Call("TakeValues", {kNoResult, {2, "", 1}, {4, "", 1}, {6, "", 1}, {8, "", 1}, {10, "", 1}, {12, c.text, 1},
                        {14, "", 1}, {16, "", 1}, {18, "", 1}, {20, "", 1}, {22, "", 1}, {23, "", 1}});
    EXPECT_EQ(Got().bo, c.passed) << c.text;
  }
}

TEST_F(ExtensionCall, VariablesPassTheirStoredBytesUnconverted) {
  Call("TakeValues", {kNoResult, {2, "sText", 0}, {4, "sHigh", 0}, {6, "iBytes", 0}, {8, "iBytes", 0},
                      {10, "iBytes", 0}, {12, "iBytes", 0}, {14, "iBytes", 0}, {16, "iBytes", 0}, {18, "vF", 0},
                      {20, "dHalf", 0}, {22, "sText", 0}, {23, "sHigh", 0}});
  const Received& r = Got();
  EXPECT_EQ(r.c, 'Z');
  EXPECT_EQ(r.w, 0xFFE9);  // the first character, sign-extended
  EXPECT_EQ(r.b, 0x04);
  EXPECT_EQ(r.s, 0x0304);
  EXPECT_EQ(r.u, 0x0304);
  EXPECT_EQ(r.bo, 0x01020304);
  EXPECT_EQ(r.i, 0x01020304);
  EXPECT_EQ(r.ui, 0x01020304u);
  EXPECT_EQ(r.f, 3.0f);
  EXPECT_EQ(r.d, 1.25);
  EXPECT_STREQ(r.text, "Zed");
  EXPECT_EQ(r.wide[0], 0xFFE9);
  EXPECT_EQ(r.wide[1], 0);
}

TEST_F(ExtensionCall, ByReferenceArgumentsAreWrittenBack) {
  Call("ChangeAll", {kNoResult, {3, "vC", 0}, {5, "vW", 0}, {7, "vB", 0}, {9, "vS", 0}, {11, "vU", 0}, {13, "vBo", 0},
                     {15, "vI", 0}, {17, "vUi", 0}, {19, "vF", 0}, {21, "vD", 0}, {22, "vText", 0},
                     {23, "vWide", 0}});
  const struct {
    const char* name;
    double number;
    const char* text;
  } expected[] = {{"vC", 0, "b"},    {"vW", 0, "c"},    {"vB", 42, nullptr},  {"vS", -300, nullptr},
                  {"vU", 2000, nullptr}, {"vBo", 1, nullptr}, {"vI", -12, nullptr}, {"vUi", 8, nullptr},
                  {"vF", 2, nullptr},  // 1.5 stored by the Int4 store rule
                  {"vD", 5, nullptr},  {"vText", 0, "cba"}, {"vWide", 0, "OK"}};
  for (const auto& e : expected) {
    const VariableView v = View(e.name);
    if (e.text) EXPECT_EQ(v.text, e.text) << e.name;
    else EXPECT_EQ(v.number, e.number) << e.name;
  }
}

TEST_F(ExtensionCall, ValueCodesWriteNothingBackAndByReferenceOnesDo) {
  Call("SetValue", {kNoResult, {14, "rInt4", 0}});
  EXPECT_EQ(View("rInt4").number, 0);
  Call("SetInt32", {kNoResult, {15, "rInt4", 0}});
  EXPECT_EQ(View("rInt4").number, 5);
  // Code 1 passes the variable's own type: a Double here.
  Call("DoubleIt", {kNoResult, {1, "dHalf", 0}});
  EXPECT_EQ(View("dHalf").number, 2.5);
}

TEST_F(ExtensionCall, ResultsAreStoredAsTheirCodesSay) {
  const struct {
    const char* procedure;
    uint8_t code;
    const char* variable;
    double number;
    const char* text;
  } cases[] = {
      {"ResultChar", 2, "rString", 0, "Q"},        {"ResultWChar", 4, "rString", 0, "W"},
      {"ResultByte", 6, "rInt4", 200, nullptr},     {"ResultInt16", 8, "rInt4", -5, nullptr},
      {"ResultUInt16", 10, "rInt4", 65000, nullptr}, {"ResultBool", 12, "rBool", 1, nullptr},
      {"ResultInt32", 14, "rInt4", -123456, nullptr}, {"ResultUInt32", 16, "rDWord", 4000000000.0, nullptr},
      {"ResultCharPtr", 3, "rString", 0, "P"},      {"ResultWCharPtr", 5, "rString", 0, "V"},
      {"ResultBytePtr", 7, "rInt4", 77, nullptr},   {"ResultInt16Ptr", 9, "rInt2", -300, nullptr},
      {"ResultUInt16Ptr", 11, "rWord", 60000, nullptr}, {"ResultInt32Ptr", 13, "rInt4", -7, nullptr},
      {"ResultInt32Ptr", 15, "rInt4", -7, nullptr}, {"ResultUInt32Ptr", 17, "rDWord", 3000000000.0, nullptr},
      {"ResultFloatPtr", 19, "rDouble", 2.5, nullptr}, {"ResultDoublePtr", 21, "rDouble", -0.125, nullptr},
      {"ResultText", 22, "rString", 0, "from the extension"}, {"ResultWideText", 23, "rString", 0, "wide"},
      // Code 1 takes the variable's type: Int2 reads an int16_t*, a string a text.
      {"ResultInt16Ptr", 1, "rInt2", -300, nullptr}, {"ResultText", 1, "rString", 0, "from the extension"},
  };
  for (const auto& c : cases) {
    Call(c.procedure, {{c.code, c.variable, 0}});
    const VariableView v = View(c.variable);
    if (c.text) EXPECT_EQ(v.text, c.text) << c.procedure << " code " << int(c.code);
    else EXPECT_EQ(v.number, c.number) << c.procedure << " code " << int(c.code);
  }
}

TEST_F(ExtensionCall, NoArgumentsAndResultsThatStoreNothing) {
  const int before = Got().calls;
  Call("NoArguments", {kNoResult});  // code 0: nothing stored
  Call("NoArguments", {{14, "rInt4", 1}});  // a literal result entry: nothing stored
  EXPECT_EQ(Got().calls, before + 2);
  EXPECT_EQ(View("rInt4").number, 0);
}

TEST_F(ExtensionCall, TextsFillingTheirBufferExactlyAreKept) {
  Call("FillExactly", {kNoResult, {22, "vText", 0}});
  EXPECT_EQ(View("vText").text, std::string(kStringBufferSize - 1, 'x'));
  Call("FillWideExactly", {kNoResult, {23, "vWide", 0}});
  EXPECT_EQ(View("vWide").text, std::string(kStringBufferSize - 1, 'y'));
}

TEST_F(ExtensionCall, EachFailureRaisesItsError) {
  const struct {
    const char* what;
    const char* procedure;
    std::vector<Entry> entries;
    uint32_t id;
    std::string detail;
  } cases[] = {
      {"no entries", "NoArguments", {}, sid::kUnknownParameterType, "entry count 0"},
      {"type code 24", "SetValue", {kNoResult, {24, "1", 1}}, sid::kUnknownParameterType, "1"},
      {"result code 30", "NoArguments", {{30, "rInt4", 0}}, sid::kUnknownParameterType, "0"},
      {"type code 0", "SetValue", {kNoResult, {14, "1", 1}, {0, "1", 1}}, sid::kUnknownParameterType, "2"},
      {"code 1 literal", "SetValue", {kNoResult, {1, "1", 1}}, sid::kUnknownParameterType, "1"},
      {"missing argument variable", "SetValue", {kNoResult, {14, "nothere", 0}}, sid::kNoSuchVariable, "1"},
      {"missing result variable", "NoArguments", {{14, "nothere", 0}}, sid::kNoSuchVariable, "0"},
      {"float result", "ResultFloatRefused", {{18, "rDouble", 0}}, sid::kInvalidVariableType, "0"},
      {"double result", "ResultFloatRefused", {{20, "rDouble", 0}}, sid::kInvalidVariableType, "0"},
      {"text overrun", "Overrun", {kNoResult, {22, "vText", 0}}, sid::kObjectCrashed,
       "1: the text fills its buffer of 1024 bytes with no terminating zero"},
      {"wide text overrun", "OverrunWide", {kNoResult, {23, "vWide", 0}}, sid::kObjectCrashed,
       "1: the text fills its buffer of 1024 units with no terminating zero"},
      {"long text result", "ResultLongText", {{22, "rString", 0}}, sid::kObjectCrashed,
       "0: the text result is longer than 65535 characters"},
      {"null text result", "ResultNull", {{22, "rString", 0}}, sid::kObjectCrashed,
       "0: the procedure returned a null pointer"},
      {"bad pointer", "Crash", {kNoResult}, sid::kObjectCrashed, "Crash: Segmentation fault"},
      {"division by zero", "Divide", {{14, "rInt4", 0}, {14, "1", 1}, {14, "0", 1}}, sid::kObjectCrashed,
       "Divide: Floating point exception"},
  };
  for (const auto& c : cases) {
    try {
      Call(c.procedure, c.entries);
      ADD_FAILURE() << c.what << ": no error";
    } catch (const KVRunException& e) {
      EXPECT_EQ(e.id, c.id) << c.what;
      EXPECT_EQ(e.Detail(), c.detail) << c.what;
    }
  }
  // The refused float result was still called; the overrun left the variable.
  EXPECT_EQ(View("vText").text, "abc");
  // After the faults the library still answers.
  Call("Divide", {{14, "rInt4", 0}, {14, "9", 1}, {14, "3", 1}});
  EXPECT_EQ(View("rInt4").number, 3);
}

TEST_F(ExtensionCall, CallbacksReachTheRunsVariables) {
  Call("CountUp", {{14, "rInt4", 0}});
  EXPECT_EQ(View("counter").number, 42);
  EXPECT_EQ(View("rInt4").number, 42);
  auto self = std::make_shared<ScDLL>();
  self->name = "caller";
  {
    CallingObjectScope scope(self);
    Call("ReadBack", {{14, "rInt4", 0}});
  }
  EXPECT_EQ(CallingExtensionObject(), nullptr);  // the one before is back
  EXPECT_EQ(View("rInt4").number, 1);  // every not-available value as documented
  EXPECT_EQ(View("seen").text, "caller");
  EXPECT_EQ(View("ratio").number, 2.0);
  EXPECT_EQ(View("small").number, 32767);  // 16 bits wrap
}

TEST_F(ExtensionCall, ThreadsOfTheExtensionReachTheRunButNoObject) {
  auto self = std::make_shared<ScDLL>();
  self->name = "caller";
  CallingObjectScope scope(self);
  Call("FromOwnThread", {{14, "rInt4", 0}});
  EXPECT_EQ(View("rInt4").number, 1);
  EXPECT_EQ(View("counter").number, 1000);
  EXPECT_EQ(View("seen").text, "no object");
}

TEST_F(ExtensionCall, WithoutARunTheGettersAnswerNotAvailable) {
  scope_.reset();
  using GetInt = int32_t (*)(const char*);
  using GetDouble = double (*)(const char*);
  using GetText = const char* (*)(const char*);
  // The test binary exports the interface as the player does.
  auto getInt4 = reinterpret_cast<GetInt>(dlsym(RTLD_DEFAULT, "kv_GetInt4"));
  auto getDouble = reinterpret_cast<GetDouble>(dlsym(RTLD_DEFAULT, "kv_GetDouble"));
  auto getString = reinterpret_cast<GetText>(dlsym(RTLD_DEFAULT, "kv_GetString"));
  ASSERT_TRUE(getInt4 && getDouble && getString);
  EXPECT_EQ(getInt4("counter"), KV_NA_INT32);
  EXPECT_EQ(getDouble("ratio"), KV_NA_DOUBLE);
  uint64_t bits;
  const double na = KV_NA_DOUBLE;
  std::memcpy(&bits, &na, 8);
  EXPECT_EQ(bits, 0x41EBBBBBBBA00000u);
  EXPECT_STREQ(getString("seen"), "");
}

// A movie's length for an extension, with no run: the name is a path. The
// test movie was made two seconds long at 30 frames a second.
TEST(MovieLengthForExtensions, AnswersTheLengthOrTheDevicesError) {
  const std::string dir = KV_MOVIES_DIR;
  const struct {
    std::string file;
    int32_t statusBefore;
    int32_t minMs, maxMs;  // the answer's bounds
    int32_t statusAfter;
  } cases[] = {
      {dir + "/count.avi", 0, 1966, 2034, 0},
      {dir + "/count.mp4", 0, 1966, 2034, 0},
      {dir + "/gone.avi", 0, 0, 0, 275},             // not found
      {dir + "/make_movies.sh", 0, 0, 0, 296},       // no movie
      {dir + "/count.avi", 266, 0, 0, 266},          // a status already set answers 0 at once
  };
  for (const auto& c : cases) {
    int32_t status = c.statusBefore;
    const int32_t ms = AVIFXGetFileLength(c.file.c_str(), nullptr, &status);
    EXPECT_GE(ms, c.minMs) << c.file;
    EXPECT_LE(ms, c.maxMs) << c.file;
    EXPECT_EQ(status, c.statusAfter) << c.file;
  }
}

}  // namespace
}  // namespace kv
