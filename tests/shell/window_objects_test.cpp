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

#include "player/player.h"
#include "shell/qt_widget_window.h"
#include "tests/shell/test_entry.h"

namespace kv {

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
    RegisterTestKinds();
    CTestEntry::widgetType = "line edit";
    dir_ = std::filesystem::temp_directory_path() / ("kvwindows" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir_ / "frames");
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  void WriteProject() {
    auto bytes = WindowObjectsProject();
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
    o.renderAt = renderAt_;
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

  QImage Frame(const std::string& name) {
    return QImage(QString::fromStdString((dir_ / "frames" / name).string())).convertToFormat(QImage::Format_RGB32);
  }

  std::filesystem::path dir_;
  std::vector<int64_t> renderAt_;
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
  // Removing the focused object gives the focus back to the stage.
  const std::vector<std::pair<int64_t, std::string>> wantFocus{
      {100, "first"}, {400, "second"}, {600, "first"}, {800, ""}};
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
  // Removed and hidden, neither widget is in the last frame.
  std::string last;  // the frame written when the run ended
  for (const auto& entry : std::filesystem::directory_iterator(dir_ / "frames"))
    last = std::max(last, entry.path().filename().string());
  QImage frame = Frame(last);
  ASSERT_FALSE(frame.isNull());
  for (int y = 0; y < 56; ++y)
    for (int x = 0; x < 96; ++x) ASSERT_EQ(frame.pixel(x, y), qRgb(128, 128, 128)) << x << "," << y;
}

TEST_F(WindowObjects, FramesShowTheWidgetAsItDrawsItselfWhereverItMoves) {
  WriteProject();
  // "second" takes "yo!" and gives the focus back with Tab; F5 ends the
  // wait, and "second" is centred on the pointer, at (10, 31, 90, 49).
  WriteInput("100 click 10 32\n200 char yo!\n300 key Tab\n350 move 50 40\n400 key F5\n");
  renderAt_ = {350, 450};
  ASSERT_EQ(Play(true), 0);

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

  int inked = 0;
  for (int y = 0; y < 18; ++y)
    for (int x = 0; x < 80; ++x) inked += alone.pixel(x, y) != alone.pixel(40, 9);
  EXPECT_GT(inked, 20) << "the lone widget drew nothing to compare";
  const struct {
    const char* frame;
    QPoint at;      // where "second" shows
    QPoint uncovered;  // a stage pixel beside it
  } cases[] = {{"t-350.png", {4, 28}, {90, 50}}, {"t-450.png", {10, 31}, {5, 29}}};
  for (const auto& c : cases) {
    QImage frame = Frame(c.frame);
    ASSERT_EQ(frame.size(), QSize(96, 56)) << c.frame;
    int differ = 0;
    for (int y = 0; y < 18; ++y)
      for (int x = 0; x < 80; ++x) differ += frame.pixel(c.at.x() + x, c.at.y() + y) != alone.pixel(x, y);
    EXPECT_EQ(differ, 0) << c.frame;
    EXPECT_EQ(frame.pixel(c.uncovered), qRgb(128, 128, 128)) << c.frame;
  }
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
