// One print from page setup to the last page, against a recording printer
// and progress window: the steps shown, the picture sent and where, and
// every way a print can fail or be cancelled.
#include "player/print_job.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "engine/clock.h"
#include "engine/runner.h"
#include "imaging/picture_loader.h"
#include "inserts/rectangle.h"
#include "inserts/stage_host.h"
#include "platform/message_box.h"
#include "stage/png.h"

namespace kv {
namespace {

struct Log {
  std::vector<std::string> lines;
};

class RecordingDevice : public PrintDevice {
 public:
  explicit RecordingDevice(Log& log) : log_(log) {}
  bool failDraw = false;
  std::string failEndPage;
  std::optional<int> pictureW, pictureH;
  Rect dest;
  ColorRef firstPixel;

  bool StartDocument(const std::string& name, std::string&) override {
    log_.lines.push_back("start document " + name);
    return true;
  }
  bool StartPage(std::string&) override {
    log_.lines.push_back("start page");
    return true;
  }
  bool DrawPicture(const PixelBuffer& picture, const Rect& d) override {
    pictureW = picture.Width();
    pictureH = picture.Height();
    dest = d;
    firstPixel = picture.GetPixel(0, 0);
    log_.lines.push_back("draw");
    return !failDraw;
  }
  bool EndPage(std::string& error) override {
    log_.lines.push_back("end page");
    if (!failEndPage.empty()) {
      error = failEndPage;
      return false;
    }
    ++pages_;
    return true;
  }
  bool EndDocument(std::string&) override {
    log_.lines.push_back("end document");
    return true;
  }
  void Abort() override { log_.lines.push_back("abort"); }
  int Pages() const override { return pages_; }

 private:
  Log& log_;
  int pages_ = 0;
};

class RecordingPrinters : public Printers {
 public:
  explicit RecordingPrinters(Log& log) : log_(log) {}
  bool cancel = false;
  bool cannotOpen = false;
  PrintSetup setup;
  std::optional<PageSetupRequest> asked;
  RecordingDevice* device = nullptr;
  std::function<void(RecordingDevice&)> prepare;

  std::optional<PrintSetup> PageSetup(const PageSetupRequest& request) override {
    asked = request;
    hadPreview = request.preview != nullptr;
    log_.lines.push_back("page setup");
    if (cancel) return std::nullopt;
    return setup;
  }
  std::unique_ptr<PrintDevice> Open(const PrintSetup&, std::string& error) override {
    if (cannotOpen) {
      error = "no such printer";
      return nullptr;
    }
    auto d = std::make_unique<RecordingDevice>(log_);
    if (prepare) prepare(*d);
    device = d.get();
    return d;
  }
  bool hadPreview = false;

 private:
  Log& log_;
};

class RecordingProgress : public PrintProgress {
 public:
  explicit RecordingProgress(Log& log) : log_(log) {}
  std::string cancelAt;  // Cancel is pressed once this status shows
  void Open(const std::string& document, const std::string& destination) override {
    cancelled_ = false;  // each print has a window of its own
    log_.lines.push_back("open " + document + " | " + destination);
  }
  void SetDetail(const std::string& text) override { log_.lines.push_back("detail " + text); }
  void SetStatus(const std::string& text) override {
    log_.lines.push_back("status " + text);
    if (text == cancelAt) cancelled_ = true;
  }
  bool Cancelled() override { return cancelled_; }
  void Close() override { log_.lines.push_back("close"); }

 private:
  Log& log_;
  bool cancelled_ = false;
};

class PrintJob : public ::testing::Test {
 public:
  PrintJob() {
    RunnerServices s;
    s.clock = &clock;
    s.messages = &boxes;
    runner = std::make_unique<Runner>(s, RuntimeFacts{});
    StageSettings settings;
    settings.clientWidth = 64;
    settings.clientHeight = 48;
    settings.clientColor = ColorRef(0x00402020);
    stage = std::make_unique<Stage>(*runner, settings, PixelFormat::kXrgb32, pictures);
    runner->Context().stage = stage.get();
    printers.setup.device = "Laser";
    printers.setup.port = "lp0";
    printers.setup.page = {300, 300, 2480, 3508};
  }
  ~PrintJob() override {
    box.reset();
    runner->Context().stage = nullptr;
    stage.reset();
  }

  // A red rectangle at (8, 8)-(32, 24) on the stage.
  void PutBox() {
    box = std::make_shared<CRectangle>();
    box->name = "box";
    box->active = 1;
    box->rect = {8, 8, 32, 24};
    box->penStyle = 5;
    box->fillColor = 0x0000FF;
    box->shadowX = box->shadowY = 0;
    StageSprite* s = box->EnsureSprite(stage->context());
    ASSERT_NE(s, nullptr);
    s->Show(ShowParams::kSrcCopy, 0, 0, 0, 0, nullptr, 0, 0, 1, kStateShown);
  }

  PrintOutcome Print(PrintJobRequest request) {
    return RunPrintJob(*stage, request, printers, progress, [this](int ms) { log.lines.push_back("pause " + std::to_string(ms)); });
  }

  Clock clock{true};
  ScriptedMessageBox boxes;
  std::unique_ptr<Runner> runner;
  imaging::RasterPictureLoader pictures;
  std::unique_ptr<Stage> stage;
  std::shared_ptr<CRectangle> box;
  Log log;
  RecordingPrinters printers{log};
  RecordingProgress progress{log};
};

TEST_F(PrintJob, AWholeStageGoesThroughEveryStepInOrder) {
  PrintJobRequest request;
  request.source = {0, 0, 64, 48};
  request.documentName = "main.kvp";
  const PrintOutcome outcome = Print(request);
  EXPECT_TRUE(outcome.ok);
  EXPECT_TRUE(outcome.printed);
  EXPECT_EQ(outcome.pages, 1);
  const std::vector<std::string> expected = {
      "page setup",
      "open Printing 'main.kvp' | to Laser on lp0",
      "status Starting Document",
      "start document main.kvp",
      "status Starting Page",
      "start page",
      "detail Processing print request...",
      "status Creating Print Stage",
      "status Rendering Objects",
      "status Blitting to Printer",
      "draw",
      "status Printing Page",
      "end page",
      "status Ending Document",
      "end document",
      "status Done Printing",
      "pause 800",
      "close",
  };
  EXPECT_EQ(log.lines, expected);
  ASSERT_TRUE(printers.asked);
  EXPECT_TRUE(printers.hadPreview);
  // 2480 / 64 = 38 times a print stage of 65 x 48 (1860 / 38).
  EXPECT_EQ(printers.device->pictureW, 65);
  EXPECT_EQ(printers.device->pictureH, 48);
  EXPECT_EQ(printers.device->dest.right, 65 * 38);
  EXPECT_EQ(printers.device->dest.bottom, 48 * 38);
  EXPECT_EQ(printers.device->firstPixel, ColorRef(0x00402020));
}

TEST_F(PrintJob, PrintStageSizeFollowsQualityMarginsAndTheSource) {
  const struct {
    const char* what;
    bool hq;
    PageMargins margins;
    Rect source;
    int width, height;
    Rect dest;
  } cases[] = {
      {"whole stage", false, {}, {0, 0, 64, 48}, 65, 48, {0, 0, 2470, 1824}},
      {"high quality", true, {}, {0, 0, 64, 48}, 2480, 1860, {0, 0, 2480, 1860}},
      // One inch each side: 300 px; width 1880 = 29 * 64 + 24; height 1410.
      {"margins", false, {1000, 1000, 1000, 0}, {0, 0, 64, 48}, 64, 48, {300, 300, 300 + 64 * 29, 300 + 48 * 29}},
      {"a part", false, {}, {36, 20, 60, 44}, 24, 24, {0, 0, 2472, 2472}},
      // One pixel: f = 2480, a print stage of one pixel over the width.
      {"one pixel", false, {}, {0, 0, 1, 1}, 1, 1, {0, 0, 2480, 2480}},
      // Wider than the paper: factor 1, the print stage the printable size.
      {"16384 square", false, {}, {0, 0, 16384, 16384}, 2480, 2480, {0, 0, 2480, 2480}},
  };
  for (const auto& c : cases) {
    printers.setup.highQuality = c.hq;
    printers.setup.margins = c.margins;
    PrintJobRequest request;
    request.source = c.source;
    ASSERT_TRUE(Print(request).ok) << c.what;
    EXPECT_EQ(printers.device->pictureW, c.width) << c.what;
    EXPECT_EQ(printers.device->pictureH, c.height) << c.what;
    EXPECT_EQ(printers.device->dest.left, c.dest.left) << c.what;
    EXPECT_EQ(printers.device->dest.top, c.dest.top) << c.what;
    EXPECT_EQ(printers.device->dest.right, c.dest.right) << c.what;
    EXPECT_EQ(printers.device->dest.bottom, c.dest.bottom) << c.what;
  }
}

TEST_F(PrintJob, FailuresShowInTheStatusLineAndEndWhatWasBegun) {
  struct Case {
    const char* what;
    std::function<void(PrintJob&)> arrange;
    bool ok, printed;
    std::vector<std::string> tail;  // the last lines of the log
  };
  const Case cases[] = {
      {"cancelled in page setup", [](PrintJob& t) { t.printers.cancel = true; }, true, false, {"page setup"}},
      {"printer cannot be opened", [](PrintJob& t) { t.printers.cannotOpen = true; }, false, false, {"page setup"}},
      {"print stage too large",
       [](PrintJob& t) {
         t.printers.setup.highQuality = true;
         t.printers.setup.page = {300, 300, 40000, 40000};
       },
       false, true,
       {"status Creating Print Stage", "status Print failed: Creating print stage failed", "pause 5000", "end page",
        "end document", "close"}},
      {"blit fails", [](PrintJob& t) { t.printers.prepare = [](RecordingDevice& d) { d.failDraw = true; }; }, false,
       true,
       {"draw", "status Print failed: Blitting to print device failed.", "pause 5000", "pause 1500", "end page",
        "end document", "close"}},
      {"page fails",
       [](PrintJob& t) { t.printers.prepare = [](RecordingDevice& d) { d.failEndPage = "out of paper"; }; }, false,
       true,
       {"status Printing Page", "end page", "status Print failed: out of paper", "pause 5000", "pause 1500",
        "end document", "close"}},
  };
  for (const Case& c : cases) {
    log.lines.clear();
    printers.cancel = printers.cannotOpen = false;
    printers.prepare = nullptr;
    printers.setup.highQuality = false;
    printers.setup.page = {300, 300, 2480, 3508};
    progress.cancelAt.clear();
    c.arrange(*this);
    PrintJobRequest request;
    request.source = {0, 0, 64, 48};
    const PrintOutcome outcome = Print(request);
    EXPECT_EQ(outcome.ok, c.ok) << c.what;
    EXPECT_EQ(outcome.printed, c.printed) << c.what;
    ASSERT_GE(log.lines.size(), c.tail.size()) << c.what;
    const std::vector<std::string> tail(log.lines.end() - std::ptrdiff_t(c.tail.size()), log.lines.end());
    EXPECT_EQ(tail, c.tail) << c.what;
  }
}

TEST_F(PrintJob, CancelStopsAtTheNextStepAndAbandonsTheDocument) {
  PutBox();
  const struct {
    const char* pressedDuring;
    std::vector<std::string> tail;  // from the step Cancel was pressed in
    int pages = 0;                  // pages the device had ended
  } cases[] = {
      {"Starting Document", {"status Starting Document", "start document main.kvp", "abort"}},
      {"Starting Page", {"status Starting Page", "start page", "detail Processing print request...", "abort"}},
      {"Creating Print Stage", {"status Creating Print Stage", "abort"}},
      {"Rendering Objects", {"status Rendering Objects", "abort"}},
      {"Blitting to Printer", {"status Blitting to Printer", "draw", "abort"}},
      {"Printing Page", {"status Printing Page", "end page", "abort"}, 1},
  };
  const std::vector<std::string> ending = {"status Done Printing", "pause 800", "close"};
  for (const auto& c : cases) {
    log.lines.clear();
    progress.cancelAt = c.pressedDuring;
    PrintJobRequest request;
    request.source = {0, 0, 64, 48};
    request.documentName = "main.kvp";
    const PrintOutcome outcome = Print(request);
    EXPECT_TRUE(outcome.ok) << c.pressedDuring;
    EXPECT_EQ(outcome.pages, c.pages) << c.pressedDuring;
    std::vector<std::string> expected = c.tail;
    expected.insert(expected.end(), ending.begin(), ending.end());
    auto from = std::find(log.lines.begin(), log.lines.end(), "status " + std::string(c.pressedDuring));
    ASSERT_NE(from, log.lines.end()) << c.pressedDuring;
    EXPECT_EQ(std::vector<std::string>(from, log.lines.end()), expected) << c.pressedDuring;
  }
}

TEST_F(PrintJob, AnObjectAloneLiesOnWhiteAndAroundItTheStageShows) {
  PutBox();
  const size_t listed = stage->compositor().Sprites().size();
  // Alone: the object fills the print stage from (0, 0); no preview.
  PrintJobRequest alone;
  alone.source = {0, 0, 24, 16};
  alone.single = box;
  ASSERT_TRUE(Print(alone).ok);
  EXPECT_FALSE(printers.hadPreview);
  EXPECT_EQ(printers.device->firstPixel, ColorRef(0x0000FF));
  // Around it: (4, 4) of the stage is background.
  PrintJobRequest around;
  around.source = {4, 4, 36, 28};
  ASSERT_TRUE(Print(around).ok);
  EXPECT_TRUE(printers.hadPreview);
  EXPECT_EQ(printers.device->firstPixel, ColorRef(0x00402020));
  // The copies drawn for the paper are gone; the stage keeps its object.
  EXPECT_TRUE(box->IsShown());
  EXPECT_EQ(stage->compositor().Sprites().size(), listed);
}

TEST(FilePrinters, PagesOfEveryPrintGoIntoOneNumberedSeries) {
  const std::filesystem::path dir = std::filesystem::temp_directory_path() / "kv-print-pages";
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  FilePrinters files((dir / "out").string(), nullptr);
  for (bool landscape : {false, true}) {
    PageSetupRequest request;
    request.landscape = landscape;
    const auto setup = files.PageSetup(request);
    ASSERT_TRUE(setup);
    EXPECT_EQ(setup->page.horzRes, landscape ? 3508 : 2480);
    EXPECT_EQ(setup->page.vertRes, landscape ? 2480 : 3508);
    std::string error;
    auto device = files.Open(*setup, error);
    ASSERT_TRUE(device) << error;
    ASSERT_TRUE(device->StartDocument("doc", error));
    ASSERT_TRUE(device->StartPage(error));
    PixelBuffer picture(2, 1);
    picture.SetPixel(0, 0, ColorRef(0x0000FF));
    picture.SetPixel(1, 0, ColorRef(0x00FF00));
    ASSERT_TRUE(device->DrawPicture(picture, {10, 10, 14, 12}));
    ASSERT_TRUE(device->EndPage(error)) << error;
    EXPECT_EQ(device->Pages(), 1);
  }
  std::string error;
  EXPECT_TRUE(files.Finish(error));
  EXPECT_TRUE(std::filesystem::exists(dir / "out-0001.png"));
  EXPECT_TRUE(std::filesystem::exists(dir / "out-0002.png"));
  EXPECT_FALSE(std::filesystem::exists(dir / "out-0003.png"));
  std::filesystem::remove_all(dir);

  // A folder that does not exist is refused before any page.
  FilePrinters nowhere((dir / "missing" / "out").string(), nullptr);
  const auto setup = nowhere.PageSetup({});
  EXPECT_FALSE(nowhere.Open(*setup, error));
  EXPECT_NE(error.find("cannot write"), std::string::npos);
  // And a PDF needs the desktop's printing.
  FilePrinters pdf((dir / "out.pdf").string(), nullptr);
  error.clear();
  EXPECT_FALSE(pdf.Open(*setup, error));
  EXPECT_NE(error.find("PDF"), std::string::npos);
}

TEST(StretchNearest, EachTargetPixelTakesThePicturePixelItFallsOn) {
  PixelBuffer picture(3, 2);
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 3; ++x) picture.SetPixel(x, y, ColorRef(uint32_t(10 * y + x + 1)));
  PixelBuffer target(8, 5);
  target.Fill(ColorRef(0x00FFFFFF));
  // Doubled at (1, 1): 6 x 4; the last column is clipped at x 7.
  StretchNearest(picture, target, {1, 1, 7, 5});
  const struct {
    int x, y;
    uint32_t expected;
  } cases[] = {{0, 0, 0xFFFFFF}, {1, 1, 1}, {2, 2, 1}, {3, 1, 2}, {5, 4, 13}, {6, 4, 13}, {7, 4, 0xFFFFFF}, {1, 3, 11}};
  for (const auto& c : cases) EXPECT_EQ(target.GetPixel(c.x, c.y).value, c.expected) << c.x << "," << c.y;
  // A 16-bit stage's picture onto a page: converted pixel by pixel.
  PixelBuffer wide(1, 1, PixelFormat::kRgb565);
  wide.SetPixel(0, 0, ColorRef(0x0000FF));
  PixelBuffer page(3, 3);
  StretchNearest(wide, page, {0, 0, 3, 3});
  EXPECT_EQ(page.GetPixel(2, 2), wide.GetPixel(0, 0));
}

}  // namespace
}  // namespace kv
