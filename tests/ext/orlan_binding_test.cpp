// The player's Orlan binding: the compiled-code header checks, the Korvel
// library as registered, the dispatcher's answer for ids without an
// implementation, and how builtins resolve "THIS".
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>

#include "engine/clock.h"
#include "engine/runner.h"
#include "engine/strings.h"
#include "ext/basic_insert.h"
#include "ext/korvel_library.h"
#include "ext/orlan_binding.h"
#include "ext/orlan_builtins.h"
#include "engine/flow.h"
#include "inserts/text.h"
#include "ext/register.h"
#include "orlan/codefile.h"
#include "platform/message_box.h"
#include "platform/paths.h"
#include "platform/text.h"

namespace kv {
namespace {

using orlan::HostType;

// --- the .ebc header

std::vector<uint8_t> Header(uint16_t magic, uint16_t version, uint32_t length, uint32_t offset) {
  std::vector<uint8_t> b(20, 0);
  std::memcpy(&b[0], &magic, 2);
  std::memcpy(&b[2], &version, 2);
  std::memcpy(&b[4], &length, 4);
  // bytes 8..15 are not read
  std::memcpy(&b[16], &offset, 4);
  return b;
}

TEST(CompiledCode, HeaderErrorsAndTheCodeBlock) {
  struct Case {
    const char* what;
    std::vector<uint8_t> file;
    uint32_t error;
    std::string code;
  };
  std::vector<uint8_t> good = Header(0x4542, 5, 3, 20);
  good.insert(good.end(), {'a', 'b', 'c'});
  std::vector<uint8_t> shortFile = good;
  shortFile.resize(19);
  // Little-endian magic 0x4542 is the bytes 'B','E'; a swapped order is not it.
  std::vector<uint8_t> swapped = good;
  std::swap(swapped[0], swapped[1]);
  std::vector<uint8_t> older = good;
  older[2] = 4;  // version 4
  std::vector<uint8_t> longer = Header(0x4542, 5, 4, 20);  // one byte more than the file has
  longer.insert(longer.end(), {'a', 'b', 'c'});
  std::vector<uint8_t> pastEnd = Header(0x4542, 5, 1, 24);  // offset past the end
  pastEnd.insert(pastEnd.end(), {'a', 'b', 'c'});
  std::vector<uint8_t> offset = Header(0x4542, 5, 2, 21);  // code after one filler byte
  offset.insert(offset.end(), {'x', 'y', 'z'});
  std::vector<uint8_t> huge = Header(0x4542, 5, 0xFFFFFFFFu, 0xFFFFFFF0u);
  const Case cases[] = {
      {"whole", good, 0, "abc"},
      {"19 bytes", shortFile, sid::kUnknownFileType, ""},
      {"empty", {}, sid::kUnknownFileType, ""},
      {"wrong magic", swapped, sid::kUnknownFileType, ""},
      {"version 4", older, sid::kOlderScriptVersion, ""},
      {"short code", longer, sid::kUnknownFileType, ""},
      {"offset past end", pastEnd, sid::kUnknownFileType, ""},
      {"code at an offset", offset, 0, "yz"},
      {"lengths that overflow", huge, sid::kUnknownFileType, ""},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> code;
    EXPECT_EQ(OrlanBinding::ReadCompiledCode(c.file, code), c.error) << c.what;
    EXPECT_EQ(std::string(code.begin(), code.end()), c.code) << c.what;
  }
}

// --- registration

const orlan::HostProc* FindProc(const orlan::HostLibrary& lib, std::string_view name, size_t argc) {
  for (const auto& p : lib.procs)
    if (EqualsNoCase(p.name, name) && p.args.size() == argc) return &p;
  return nullptr;
}

std::string TypeCodes(const orlan::HostProc& p) {
  std::string s;
  for (const auto& t : p.args) s += t.vt == HostType::kRecord ? t.record : std::to_string(t.vt);
  return s + (p.isFunction ? "->" + std::to_string(p.result.vt) : std::string());
}

TEST(KorvelLibrary, EveryBuiltinIsRegisteredUnderItsId) {
  std::string error;
  auto lib = BuildKorvelLibrary(error);
  ASSERT_NE(lib, nullptr) << error;
  for (const BuiltinSpec& s : KorvelBuiltins()) {
    const orlan::HostProc* p = FindProc(*lib, s.name, std::strlen(s.args));
    ASSERT_NE(p, nullptr) << s.name;
    EXPECT_EQ(p->id, s.id) << s.name;
    EXPECT_EQ(p->isFunction, s.result != 0) << s.name;
  }
  EXPECT_EQ(lib->procs.size(), KorvelBuiltins().size());
}

// Signatures read off the library's list by hand.
TEST(KorvelLibrary, SignaturesOfSomeBuiltins) {
  std::string error;
  auto lib = BuildKorvelLibrary(error);
  ASSERT_NE(lib, nullptr) << error;
  const struct {
    const char* name;
    size_t argc;
    uint32_t id;
    const char* types;  // OLE variant numbers, record names, "->" result
  } cases[] = {
      {"kvGetBool", 1, 4, "8->2"},
      {"kvSetWord", 2, 5, "82"},
      {"kvGetDWord", 1, 6, "8->3"},
      {"kvSetDouble", 2, 9, "85"},
      {"kvWait", 1, 151, "3->11"},
      {"kvoMoveTo", 4, 46, "8kvrect511"},
      {"kvoPutOnStage", 0, 21, ""},
      {"kvoPutOnStage", 1, 21, "8"},
      {"kvoGetObject", 1, 42, "8->9"},
      {"kvoSpin", 5, 88, "82222"},
      {"kvGetStageSize", 1, 30, "kvsize"},
      {"kvoSetPositionPoint", 2, 47, "8kvpoint"},
      {"kvoGetTranspColor", 2, 130, "8kvcolor"},
      {"kvHTTPUploadMultipartForm", 9, 162, "883888888->11"},
      {"kvImageProcessObject", 5, 164, "8333kvrect->11"},
      {"kvoImageProcesst", 5, 164, "8333kvrect->11"},
      {"kvWebPost", 4, 169, "8883->3"},
      {"kvGetRemoteHostName", 1, 170, "8->8"},
      {"kvGotoFreestyleScript", 1, 44, "8"},
  };
  for (const auto& c : cases) {
    const orlan::HostProc* p = FindProc(*lib, c.name, c.argc);
    ASSERT_NE(p, nullptr) << c.name;
    EXPECT_EQ(p->id, c.id) << c.name;
    EXPECT_EQ(TypeCodes(*p), c.types) << c.name;
  }
  const orlan::HostProc* render = lib->FindCallback("kvoRender");
  const orlan::HostProc* action = lib->FindCallback("kvoAction");
  ASSERT_TRUE(render && action);
  EXPECT_EQ(TypeCodes(*render), "33333");
  EXPECT_EQ(TypeCodes(*action), "3333");
  const orlan::RecordType* color = lib->FindRecord("kvcolor");
  ASSERT_NE(color, nullptr);
  ASSERT_EQ(color->fields.size(), 3u);
  EXPECT_EQ(color->fields[2].name, "blue");
}

TEST(KorvelLibrary, ObjectClassesWithTheirMembers) {
  std::string error;
  auto lib = BuildKorvelLibrary(error);
  ASSERT_NE(lib, nullptr) << error;
  auto cls = [&](std::string_view name) -> const orlan::HostClass* {
    for (const auto& c : lib->classes)
      if (c.name == name) return &c;
    return nullptr;
  };
  auto prop = [](const orlan::HostClass& c, std::string_view name) -> const orlan::HostProperty* {
    for (const auto& p : c.properties)
      if (p.name == name) return &p;
    return nullptr;
  };
  const orlan::HostClass* xml = cls("kboXMLReader");
  const orlan::HostClass* browser = cls("kboFileBrowser");
  const orlan::HostClass* twain = cls("kboTwain");
  ASSERT_TRUE(xml && browser && twain);
  EXPECT_EQ(xml->constructorId, 172u);
  EXPECT_EQ(browser->constructorId, 180u);
  EXPECT_EQ(twain->constructorId, 205u);
  const struct {
    const orlan::HostClass* c;
    const char* name;
    uint16_t set, get;
  } props[] = {
      {xml, "ScanContinueFlag", 174, orlan::kNoAccessor}, {xml, "ScanResultLevel", orlan::kNoAccessor, 179},
      {browser, "ActiveIndex", 184, 185},                 {browser, "ResponseFlag", orlan::kNoAccessor, 192},
      {browser, "SystemFiles", 196, orlan::kNoAccessor},   {twain, "LastErrorMsg", orlan::kNoAccessor, 216},
      {twain, "twReserved2", 214, 218},
  };
  for (const auto& p : props) {
    const orlan::HostProperty* found = prop(*p.c, p.name);
    ASSERT_NE(found, nullptr) << p.name;
    EXPECT_EQ(found->setId, p.set) << p.name;
    EXPECT_EQ(found->getId, p.get) << p.name;
  }
}

TEST(KorvelLibrary, MissingImplementationsNameWhatTheyWaitFor) {
  const struct {
    uint32_t id;
    const char* text;
  } cases[] = {
      {43, "kvoEditObject needs the authoring tool"},
      {14, "kvoGetFilename is not built yet"},
      {0, "no builtin has the dispatch id 0"},
      {500, "no builtin has the dispatch id 500"},
  };
  for (const auto& c : cases) EXPECT_EQ(MissingBuiltinText(c.id), c.text);
}

// kvoPermObject: a thread copy's state becomes its object's, and the object
// stays itself: its own handlers (owned by it), request links, thread copy
// and run state. A plain CopyFrom would have given it clones of the copy's
// handlers and dropped its primary.
TEST(PermObject, KeepsTheCopysStateAndTheObjectsIdentity) {
  RegisterInsertClasses();
  auto original = std::make_shared<CText>();
  original->Reset();
  original->name = "t";
  original->text = "before";
  original->comment = "stored";
  auto handler = std::make_shared<CFlow>();
  handler->eventCode = 9005;
  handler->owner = original;
  original->handlers.push_back(handler);
  auto primary = std::make_shared<CText>();
  original->primary = primary;
  original->runState = 3;
  original->running = 1;
  original->holdPending = 2;

  auto copy = std::static_pointer_cast<CText>(original->Clone(false));
  copy->source = original;
  original->clone = copy;
  copy->text = "after";
  copy->comment = "changed";
  copy->rect = {1, 2, 30, 40};
  copy->runState = 0;
  copy->running = 0;
  copy->holdPending = 0;

  KeepStateOf(*original, *copy, false);
  const struct {
    const char* what;
    bool ok;
  } checks[] = {
      {"the kind's own field", original->text == "after"},
      {"a common field", original->comment == "changed"},
      {"the rectangle", original->rect == Rect{1, 2, 30, 40}},
      {"the same handlers", original->handlers.size() == 1 && original->handlers[0] == handler},
      {"handlers owned by the object", handler->owner.lock() == original},
      {"the primary", original->primary.lock() == primary},
      {"the link to its copy", original->clone.lock() == copy},
      {"its run state", original->runState == 3 && original->running == 1 && original->holdPending == 2},
      {"the copy unchanged", copy->text == "after" && copy->source.lock() == original},
  };
  for (const auto& c : checks) EXPECT_TRUE(c.ok) << c.what;
}

// --- the binding on a run that never starts

class Binding : public ::testing::Test {
 protected:
  Binding() {
    RegisterInsertClasses();
    RunnerServices s;
    s.clock = &clock;
    s.messages = &boxes;
    s.resolveFile = [](const std::string& name) { return std::filesystem::exists(name) ? name : std::string(); };
    runner = std::make_unique<Runner>(s, RuntimeFacts{});
    binding = std::make_unique<OrlanBinding>(*runner);
    runner->SetOrlan(binding.get());
    runner->Context().orlan = binding.get();
    EXPECT_TRUE(binding->Initialize());
    dir = std::filesystem::temp_directory_path() / ("kv_orlan_binding_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
  }
  ~Binding() override {
    binding.reset();
    std::filesystem::remove_all(dir);
  }
  std::shared_ptr<CBasic> Insert(const std::string& source, const std::string& name = "script") {
    const std::string path = (dir / (name + ".ebs")).string();
    std::ofstream(path) << source;
    auto basic = std::make_shared<CBasic>();
    basic->Reset();
    basic->name = name;
    basic->scriptPath = path;
    return basic;
  }
  std::vector<std::string> Boxes() const {
    std::vector<std::string> texts;
    for (const auto& b : boxes.shown()) texts.push_back(b.title + ": " + b.text);
    return texts;
  }
  Clock clock{true};
  ScriptedMessageBox boxes;
  std::unique_ptr<Runner> runner;
  std::unique_ptr<OrlanBinding> binding;
  std::filesystem::path dir;
};

TEST_F(Binding, BuiltinsWithoutASubsystemRaiseErrorsTheScriptCanHandle) {
  auto basic = Insert(
      "Dim seen As String\n"
      "Sub main\n"
      "  On Error Resume Next\n"
      "  kvoEditObject \"x\"\n"
      "  seen = Err.Description\n"
      "  Err.Clear\n"
      "  kvSaveProjectScript\n"
      "  kvcrEditScript \"a\", \"b\", \"c\", \"d\", \"e\"\n"
      "  If Err.Number <> 0 Then seen = seen & \" and more\"\n"
      "  On Error GoTo 0\n"
      "  kvcrSetImageEditor \"x\"\n"
      "End Sub\n");
  ASSERT_TRUE(binding->LoadCode(*basic));
  EXPECT_NE(binding->RunSubroutine(*basic, "main"), 0);
  ASSERT_TRUE(basic->script);
  EXPECT_EQ(orlan::ToStr(basic->script->globals[0]), "kvoEditObject needs the authoring tool");
  EXPECT_EQ(Boxes(), std::vector<std::string>{
                         "Orlan Runtime Error: script Error 5 (Line 11): kvcrSetImageEditor needs the authoring tool"});
  EXPECT_TRUE(basic->errorFlag);
}

TEST_F(Binding, RunsReuseTheInsertsThreadAndReportMissingSubroutines) {
  auto basic = Insert("Dim n As Long\nSub main\n  n = n + 1\nEnd Sub\nSub twice(a As Long)\n  n = n + a\nEnd Sub\n");
  ASSERT_TRUE(binding->LoadCode(*basic));
  EXPECT_EQ(binding->RunSubroutine(*basic, "main"), 0);
  orlan::Thread* first = basic->thread.get();
  EXPECT_EQ(binding->RunSubroutine(*basic, "main"), 0);
  EXPECT_EQ(basic->thread.get(), first);
  const orlan::Value two[] = {orlan::Value::Lng(2)};
  EXPECT_EQ(binding->RunSubroutine(*basic, "twice", two), 0);
  EXPECT_EQ(orlan::ToLong(basic->script->globals[0]), 4);
  EXPECT_EQ(binding->RunSubroutine(*basic, "twice"), -1);
  EXPECT_EQ(binding->RunSubroutine(*basic, "nothere"), -1);
  EXPECT_EQ(Boxes(), (std::vector<std::string>{"Orlan Error: Subroutine missing or bad parameters twice",
                                               "Orlan Error: Subroutine missing or bad parameters nothere"}));
}

TEST_F(Binding, LoadingReportsEachFailure) {
  auto missing = Insert("");
  missing->scriptPath = (dir / "absent.ebc").string();
  const std::string older = (dir / "older.ebc").string();
  std::vector<uint8_t> bytes = Header(0x4542, 4, 0, 20);
  std::ofstream(older, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  auto old = Insert("");
  old->scriptPath = older;
  auto bad = Insert("Sub main\n  x = \nEnd Sub\n", "bad");
  auto none = Insert("");
  EXPECT_FALSE(binding->LoadCode(*missing));
  EXPECT_FALSE(binding->LoadCode(*old));
  EXPECT_FALSE(binding->LoadCode(*bad));
  EXPECT_EQ(binding->RunSubroutine(*none, "main"), -1);
  const auto& shown = boxes.shown();
  ASSERT_EQ(shown.size(), 4u);
  EXPECT_EQ(shown[0].text.rfind("Unable to open file ", 0), 0u) << shown[0].text;
  EXPECT_EQ(shown[1].text.rfind("This script is an older version.", 0), 0u) << shown[1].text;
  EXPECT_EQ(shown[2].text.rfind("Unknown file type ", 0), 0u) << shown[2].text;
  EXPECT_NE(shown[2].text.find("bad.ebs(2)"), std::string::npos) << shown[2].text;
  EXPECT_EQ(shown[3].text, "No compiled file available");
  EXPECT_EQ(shown[3].title, "Orlan Error");
}

// "" and "THIS" name the insert, or the object whose event it handles.
TEST_F(Binding, ThisNamesTheInsertOrTheEventsObject) {
  auto basic = Insert("Sub main\nEnd Sub\n");
  ASSERT_TRUE(binding->LoadCode(*basic));
  ASSERT_EQ(binding->RunSubroutine(*basic, "main"), 0);
  orlan::Thread& thread = *basic->thread;
  orlan::ArgBlock args(thread, nullptr, 0);
  BuiltinCall call{*binding, *runner, thread, args, 0};
  auto raiser = std::make_shared<CBasic>();
  for (const char* name : {"", "this", "THIS", "This"}) {
    thread.SetUserData(basic.get());
    basic->eventObject.reset();
    EXPECT_EQ(call.FindObject(name), basic) << name;
    basic->eventObject = raiser;
    EXPECT_EQ(call.FindObject(name), raiser) << name;
    thread.SetUserData(nullptr);
    EXPECT_EQ(call.FindObject(name), nullptr) << name;
  }
  thread.SetUserData(basic.get());
  EXPECT_EQ(call.FindObject("thisone"), nullptr);
}


// The file builtins on a run with its folders set and no stage: each answer
// the script gets, as a table of calls and expected results.
class FileBuiltins : public Binding {
 protected:
  FileBuiltins() {
    std::filesystem::create_directories(dir / "project" / "src");
    std::ofstream(dir / "project" / "src" / "demo.kvp") << "p";
    binding->SetRunFolders((dir / "project").string(), {}, {}, {});
  }
  std::string Stored(const std::filesystem::path& host) const { return ProcessDriveMap().StoredPathOf(host.string()); }
};

TEST_F(FileBuiltins, AnswersOnARunWithoutAStage) {
  const std::string project = Stored(dir / "project");
  const struct {
    const char* what;
    std::string call;  // an Orlan expression answering a Boolean or a number
    int expected;
  } cases[] = {
      {"a copy into a subfolder of the project", "kvCopyProject(\"src\", \"demo\", \"sub\\copy\", \"other\")", -1},
      {"relative names start from the project's folder", "kvCountProjects(\"sub\")", 1},
      {"a copy into the project's folder itself", "kvCopyProject(\"src\", \"demo\", \"" + project + "\", \"x\")", 0},
      {"deleting the project's folder", "kvDeleteProject(\"" + project + "\")", 0},
      {"deleting a folder that holds it", "kvDeleteProject(\"" + Stored(dir) + "\")", 0},
      {"the stage without a stage", "kvWriteStageToFile(\"sub\\stage.bmp\", 0, 0, 0)", 0},
      {"an object that is not there", "kvoWriteToFile(\"nothere\", \"sub\\o.bmp\", 0, 0, 0)", 0},
      {"deleting the copy", "kvDeleteProject(\"sub\\copy\")", -1},
      {"a copy outside the run's folders", "kvCopyProject(\"src\", \"demo\", \"" + Stored(dir / "elsewhere") + "\", \"x\")",
       0},
  };
  std::string source = "Dim answers(" + std::to_string(std::size(cases)) + ") As Long\nSub main\n";
  for (size_t i = 0; i < std::size(cases); ++i)
    source += "  answers(" + std::to_string(i) + ") = " + cases[i].call + "\n";
  source += "  kvShellTerminate 12\nEnd Sub\n";
  auto basic = Insert(source);
  ASSERT_TRUE(binding->LoadCode(*basic));
  EXPECT_EQ(binding->RunSubroutine(*basic, "main"), 0) << testing::PrintToString(Boxes());
  ASSERT_TRUE(basic->script);
  const orlan::Value& answers = basic->script->globals[0];
  for (size_t i = 0; i < std::size(cases); ++i)
    EXPECT_EQ(orlan::ToLong(orlan::ArrOf(answers)->data[i]), cases[i].expected) << cases[i].what;
  EXPECT_TRUE(std::filesystem::exists(dir / "project" / "src" / "demo.kvp"));
  EXPECT_FALSE(std::filesystem::exists(dir / "project" / "sub" / "copy"));
  EXPECT_FALSE(std::filesystem::exists(dir / "elsewhere"));
}

}  // namespace
}  // namespace kv

namespace kv {
namespace {

// Every getter asked about an object that does not exist answers the value
// its type reserves for "not available"; a rectangle getter leaves the
// caller's rectangle as it was.
TEST_F(Binding, GettersOfUnknownObjectsAnswerNotAvailable) {
  const struct {
    const char* statements;  // leave the answer in `v`
    const char* answer;
  } cases[] = {
      {"v = kvoGetText(\"nope\") & \"|\" & kvoGetFilename(\"nope\") & \"|\" & kvoGetFilename2(\"nope\")", "||"},
      {"v = kvoGetSoundFilename(\"nope\") & \"|\" & kvoGetCursorFilename(\"nope\") & \"|\" & kvoGetComment(\"nope\")",
       "||"},
      {"v = kvoGetMediaString1(\"nope\") & \"|\" & kvoGetMediaString2(\"nope\")", "|"},
      {"v = CStr(kvoGetWidth(\"nope\")) & \",\" & CStr(kvoGetHeight(\"nope\"))", "-572662307,-572662307"},
      {"v = CStr(kvoGetZorder(\"nope\")) & \",\" & CStr(kvoGetTextFontSize(\"nope\"))", "-572662307,-572662307"},
      {"v = CStr(kvoGetShowFX(\"nope\")) & \",\" & CStr(kvoGetRemoveFX(\"nope\"))", "-8739,-8739"},
      {"v = CStr(kvoGetVolume(\"nope\")) & \",\" & CStr(kvoGetBalance(\"nope\"))", "-8739,-8739"},
      {"v = CStr(kvoGetFrequency(\"nope\"))", "-572662307"},
      {"v = CStr(kvoGetStart(\"nope\")) & \",\" & CStr(kvoGetStop(\"nope\"))", "3722304989,3722304989"},
      {"Dim c As kvcolor\n  kvoGetForegroundColor \"nope\", c\n  v = CStr(c.red) & \",\" & CStr(c.green) & \",\" & "
       "CStr(c.blue)",
       "-8739,-8739,-8739"},
      {"Dim c As kvcolor\n  kvoGetTranspColor \"nope\", c\n  v = CStr(c.blue)", "-8739"},
      {"Dim s As kvsize\n  kvoGetDefaultSize \"nope\", s\n  v = CStr(s.cx) & \",\" & CStr(s.cy)",
       "-572662307,-572662307"},
      {"Dim r As kvrect\n  r.left = 1: r.top = 2: r.right = 3: r.bottom = 4\n  kvoGetPosition \"nope\", r\n"
       "  v = CStr(r.left) & CStr(r.top) & CStr(r.right) & CStr(r.bottom)",
       "1234"},
      {"Dim s As kvsize\n  s.cx = 5: s.cy = 6\n  kvoGetSize \"nope\", s\n  v = CStr(s.cx) & CStr(s.cy)", "56"},
  };
  int n = 0;
  for (const auto& c : cases) {
    auto basic = Insert(std::string("Dim v As String\nSub main\n  ") + c.statements + "\nEnd Sub\n",
                        "case" + std::to_string(n++));
    ASSERT_TRUE(binding->LoadCode(*basic)) << c.statements;
    ASSERT_EQ(binding->RunSubroutine(*basic, "main"), 0) << c.statements;
    EXPECT_EQ(orlan::ToStr(basic->script->globals[0]), c.answer) << c.statements;
  }
  EXPECT_TRUE(boxes.shown().empty());
}

}  // namespace
}  // namespace kv
