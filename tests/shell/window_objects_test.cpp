// Window objects played headless in this process: a test kind shown by a
// native line edit (registered here only) is clicked, typed into, tabbed
// between and rendered into the frame; keys it declines reach the scripts.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QStyle>
#include <QStyleFactory>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <unistd.h>

#include "engine/runner.h"
#include "engine/variables.h"
#include "ext/register.h"
#include "inserts/window_insert.h"
#include "persist/document.h"
#include "persist/json_fields.h"
#include "player/player.h"
#include "shell/qt_widget_window.h"

namespace kv {

// A kind for the tests: a line edit whose text goes to the string variable
// of the object's name.
class CTestEntry : public CWindowInsert {
  KV_DECLARE_CLASS(CTestEntry)
 public:
  std::string WidgetType() const override { return widgetType; }
  void WidgetChanged(const std::string& property, const std::string& value) override {
    if (property != "text") return;
    if (Runner* r = RunnerOf()) r->variables().SetString(name, value);
  }
  static inline std::string widgetType = "line edit";

 protected:
  void ConfigureWidget(WidgetWindow& w) override { w.SetProperty("text", comment); }
};
KV_IMPLEMENT_CLASS(CTestEntry, CVisibleInsert, 1)

namespace {

using Json = nlohmann::ordered_json;

class WindowObjects : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "window_objects_test";
    static char* argv[] = {name, nullptr};
    if (!QApplication::instance()) new QApplication(argc, argv);
  }

  void SetUp() override {
    RegisterInsertClasses();
    CTestEntry::StaticClass();
    CTestEntry::widgetType = "line edit";
    dir_ = std::filesystem::temp_directory_path() / ("kvwindows" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir_ / "frames");
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  // Two entry fields, then a wait for any key and a mark that it ended.
  void WriteProject() {
    Json doc = Json::parse(R"({"class": "CStgDoc", "isProject": 1, "defaultGroup": "G",
      "settings": {"clientWidth": 96, "clientHeight": 56, "clientColor": 8421504},
      "projectTree": [{"class": "CProjNode", "kind": 0, "level": 0, "path": "show.kvp"}],
      "items": [
        {"class": "CVar", "active": 1, "groupName": "G", "items": [
          {"class": "CVarsItem", "type": 6, "name": "first", "initialText": ""},
          {"class": "CVarsItem", "type": 6, "name": "second", "initialText": ""},
          {"class": "CVarsItem", "type": 3, "name": "waited", "initialValue": 0}]},
        {"class": "CTestEntry", "active": 1, "name": "first", "comment": "", "rect": {"left": 4, "top": 4, "right": 84, "bottom": 22}},
        {"class": "CTestEntry", "active": 1, "name": "second", "comment": "", "rect": {"left": 4, "top": 28, "right": 84, "bottom": 46}},
        {"class": "CWait", "active": 1, "name": "anykey", "conditions": 128},
        {"class": "CCalc", "active": 1, "name": "mark", "operator": 1, "resultName": "waited", "firstName": "waited",
         "firstIsConstant": 0, "secondIsConstant": 1, "secondSlot": 1},
        {"class": "CBottom", "active": 1}]})");
    auto bytes = std::static_pointer_cast<CStgDoc>(ObjectFromJson(doc, true))->Store();
    std::ofstream(dir_ / "show.kvp", std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  }

  void WriteInput(const std::string& lines) { std::ofstream(dir_ / "input.txt") << lines; }

  PlayerOptions Options() {
    PlayerOptions o;
    o.fileName = (dir_ / "show.kvp").string();
    o.headless = true;
    o.virtualClock = true;
    o.untilIdle = true;
    o.noAudioDevice = true;
    o.answers = {"yes"};
    o.inputFile = (dir_ / "input.txt").string();
    o.renderDir = (dir_ / "frames").string();
    o.traceFile = (dir_ / "trace.jsonl").string();
    return o;
  }

  // Plays the project headless on this (the GUI) thread with off-screen widgets.
  int Play(bool withFactory) {
    Player* loop = nullptr;
    QtWidgetFactory widgets([&loop](std::function<void()> work) { loop->PostToRun(std::move(work)); });
    Player player(Options(), HostFacts{});
    loop = &player;
    if (withFactory) player.SetWindowFactory(&widgets);
    return player.Run();
  }

  std::vector<Json> Trace(const std::string& ev) {
    std::vector<Json> lines;
    std::ifstream in(dir_ / "trace.jsonl");
    for (std::string line; std::getline(in, line);) {
      Json j = Json::parse(line, nullptr, false);
      if (!j.is_discarded() && j.value("ev", "") == ev) lines.push_back(j);
    }
    return lines;
  }

  std::map<std::string, Json> EndVars() {
    std::map<std::string, Json> vars;
    for (const Json& end : Trace("end"))
      for (const Json& v : end["vars"]) vars[v.value("var", "")] = v["value"];
    return vars;
  }

  std::filesystem::path dir_;
};

TEST_F(WindowObjects, TypedTextGoesToTheFocusedWidgetAndDeclinedKeysGoOn) {
  WriteProject();
  // A click focuses "first"; Left moves its caret (the widget takes it, so
  // the wait for any key goes on); Tab moves to "second" and round again;
  // F5, which a line edit declines, ends the wait.
  WriteInput(
      "100 click 10 10\n"
      "200 char Hi\n"
      "300 key Left\n"
      "400 key Tab\n"
      "500 char yo!\n"
      "600 key Tab\n"
      "650 char X\n"
      "700 key F5\n");
  ASSERT_EQ(Play(true), 0);

  std::vector<std::pair<int64_t, std::string>> focus;
  for (const Json& j : Trace("focus")) focus.emplace_back(j["t"].get<int64_t>(), j["insert"].get<std::string>());
  const std::vector<std::pair<int64_t, std::string>> wantFocus{{100, "first"}, {400, "second"}, {600, "first"}};
  EXPECT_EQ(focus, wantFocus);

  auto vars = EndVars();
  EXPECT_EQ(vars["first"], "HXi");
  EXPECT_EQ(vars["second"], "yo!");
  EXPECT_EQ(vars["waited"], 1);
  for (const Json& j : Trace("run")) {
    if (j.value("insert", "") == "mark") {
      EXPECT_EQ(j["t"].get<int64_t>(), 700) << "the wait ended on a key the widget took";
    }
  }
}

TEST_F(WindowObjects, TheFrameShowsTheWidgetAsItDrawsItself) {
  WriteProject();
  WriteInput("100 click 10 32\n200 char yo!\n300 key Tab\n400 key F5\n");
  ASSERT_EQ(Play(true), 0);
  std::string last;  // the frame written when the run ended
  for (const auto& entry : std::filesystem::directory_iterator(dir_ / "frames"))
    last = std::max(last, entry.path().filename().string());
  QImage frame(QString::fromStdString((dir_ / "frames" / last).string()));
  ASSERT_FALSE(frame.isNull()) << last;
  frame = frame.convertToFormat(QImage::Format_RGB32);
  ASSERT_EQ(frame.size(), QSize(96, 56));

  // The same widget drawn on its own: "second" holds "yo!" and, after Tab,
  // no longer has the focus.
  QLineEdit edit;
  std::unique_ptr<QStyle> style(QStyleFactory::create("Fusion"));
  edit.setStyle(style.get());
  edit.setPalette(style->standardPalette());
  QFont font("Liberation Sans");
  font.setPixelSize(12);
  edit.setFont(font);
  edit.setText("yo!");
  edit.resize(80, 18);
  QImage alone(80, 18, QImage::Format_RGB32);
  alone.fill(edit.palette().color(QPalette::Window));
  edit.render(&alone, QPoint(), QRegion(), QWidget::DrawWindowBackground | QWidget::DrawChildren);

  int differ = 0, inked = 0;
  for (int y = 0; y < 18; ++y)
    for (int x = 0; x < 80; ++x) {
      differ += frame.pixel(4 + x, 28 + y) != alone.pixel(x, y);
      inked += alone.pixel(x, y) != alone.pixel(40, 9);
    }
  EXPECT_EQ(differ, 0);
  EXPECT_GT(inked, 20) << "the lone widget drew nothing to compare";
  // Around the widgets the stage keeps its own colour.
  EXPECT_EQ(frame.pixel(90, 50), qRgb(128, 128, 128));
  EXPECT_EQ(frame.pixel(2, 25), qRgb(128, 128, 128));
}

TEST_F(WindowObjects, AKindWithoutItsWidgetRaisesAndNamesWhatIsMissing) {
  const struct {
    bool factory;
    const char* type;
    const char* missing;
  } cases[] = {{false, "line edit", "no window factory"}, {true, "slider", "no native widget of the type \"slider\""}};
  for (const auto& c : cases) {
    WriteProject();
    WriteInput("100 key F5\n");
    CTestEntry::widgetType = c.type;
    ASSERT_EQ(Play(c.factory), 0);
    int named = 0;
    for (const Json& j : Trace("message")) named += j.value("text", "").find(c.missing) != std::string::npos;
    EXPECT_EQ(named, 2) << c.type << ": one error for each entry field";
    EXPECT_TRUE(Trace("focus").empty());
  }
}

}  // namespace
}  // namespace kv
