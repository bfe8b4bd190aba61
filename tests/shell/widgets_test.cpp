// The stage window's pieces on Qt's off-screen platform: the frame's
// background painting, the clamped frame size, the progress panel and the
// clipboard.
#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QEventLoop>
#include <QMimeData>
#include <QPainter>
#include <functional>
#include <thread>

#include "imaging/cursor_file.h"
#include "shell/progress_panel.h"
#include "shell/qt_clipboard.h"
#include "shell/stage_window.h"

namespace kv {
namespace {

class Widgets : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "widgets_test";
    static char* argv[] = {name, nullptr};
    if (!QApplication::instance()) app_ = new QApplication(argc, argv);
  }
  static QApplication* app_;
};
QApplication* Widgets::app_ = nullptr;

// A picture whose every pixel has its own colour: red 40x + 20, green 40y + 20.
QImage Tile(int w, int h) {
  QImage im(w, h, QImage::Format_RGB32);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) im.setPixel(x, y, qRgb(40 * x + 20, 40 * y + 20, 200));
  return im;
}

struct BackgroundCase {
  const char* name;
  QSize picture;  // empty: none
  bool tile;
  QSize client;
  QPoint at;
  QRgb want;
};

class FrameBackgroundPaint : public Widgets, public ::testing::WithParamInterface<BackgroundCase> {};

TEST_P(FrameBackgroundPaint, PaintsAsTheFrameDoes) {
  const BackgroundCase& c = GetParam();
  QImage target(c.client, QImage::Format_RGB32);
  target.fill(Qt::black);
  FrameBackground bg;
  if (!c.picture.isEmpty()) bg.picture = Tile(c.picture.width(), c.picture.height());
  bg.tile = c.tile;
  bg.color = QColor(0, 0, 192);
  {
    QPainter p(&target);
    PaintFrameBackground(p, QRect(QPoint(0, 0), c.client), bg);
  }
  EXPECT_EQ(target.pixel(c.at), c.want) << c.name;
}

// Expected colours from the tile rule: pixel (x, y) of the picture is
// (40x + 20, 40y + 20, 200); tiling repeats it every 4 pixels from the top
// left; stretching 4 -> 12 makes each picture pixel 3 wide.
INSTANTIATE_TEST_SUITE_P(
    Cases, FrameBackgroundPaint,
    ::testing::Values(BackgroundCase{"no picture", {}, true, {10, 10}, {5, 5}, qRgb(0, 0, 192)},
                      BackgroundCase{"same size is 1:1", {4, 4}, false, {4, 4}, {3, 1}, qRgb(140, 60, 200)},
                      BackgroundCase{"tiled repeats", {4, 4}, true, {12, 12}, {9, 6}, qRgb(60, 100, 200)},
                      BackgroundCase{"tiled last cell", {4, 4}, true, {11, 11}, {10, 10}, qRgb(100, 100, 200)},
                      BackgroundCase{"stretched 3x", {4, 4}, false, {12, 12}, {7, 10}, qRgb(100, 140, 200)},
                      BackgroundCase{"stretched first", {4, 4}, false, {12, 12}, {0, 0}, qRgb(20, 20, 200)}),
    [](const auto& info) {
      std::string n = info.param.name;
      for (char& ch : n)
        if (!isalnum(static_cast<unsigned char>(ch))) ch = '_';
      return n;
    });

struct ClampCase {
  QSize stage;
  int factor;
  bool fit;
  QSize screen;
  QSize want;
};

class FrameSize : public ::testing::TestWithParam<ClampCase> {};

TEST_P(FrameSize, IsTheScaledStageCutAtTheScreen) {
  const ClampCase& c = GetParam();
  StageScale scale;
  scale.factor = c.factor;
  scale.fit = c.fit;
  EXPECT_EQ(FrameClientSize(c.stage, scale, c.screen), c.want);
}

INSTANTIATE_TEST_SUITE_P(Cases, FrameSize,
                         ::testing::Values(ClampCase{{640, 480}, 1, false, {800, 600}, {640, 480}},
                                           ClampCase{{1024, 768}, 1, false, {800, 600}, {800, 600}},
                                           ClampCase{{1024, 300}, 1, false, {800, 600}, {800, 300}},
                                           ClampCase{{320, 240}, 3, false, {800, 600}, {800, 600}},
                                           ClampCase{{320, 240}, 2, false, {800, 600}, {640, 480}},
                                           ClampCase{{1024, 768}, 0, true, {800, 600}, {800, 600}},
                                           ClampCase{{640, 480}, 1, false, {0, 0}, {640, 480}}));

// A playing project's stage window with a download's panel started on it.
class Panel : public Widgets {
 protected:
  void SetUp() override {
    stage.resize(200, 100);
    stage.show();
    progress.SetPlaying(true);
    progress.StartProgress();
    ASSERT_NE(progress.panel(), nullptr);
  }
  QWidget stage;
  WindowProgress progress{[this] { return &stage; }};
};

TEST_F(Panel, FollowsTheDownloadAlongTheBottom) {
  ProgressPanel& panel = *progress.panel();
  EXPECT_TRUE(panel.isVisible());
  EXPECT_TRUE(panel.check().isChecked());
  progress.SetProgressTotal(10001);
  progress.SetProgressText("Received 5000 bytes%s of /a%d", 5000);
  EXPECT_EQ(panel.bar().maximum(), 9);
  EXPECT_EQ(panel.bar().value(), 4);
  EXPECT_EQ(panel.label().text(), QString("Received 5000 bytes of /a%d"));
  EXPECT_EQ(panel.geometry().width(), 200);
  EXPECT_EQ(panel.geometry().bottom(), 99);
  progress.EndProgress();
  EXPECT_EQ(progress.panel(), nullptr);
}

TEST_F(Panel, ClearingTheCheckBoxHidesEveryLaterPanel) {
  progress.panel()->check().click();
  EXPECT_FALSE(progress.panel()->isVisible());
  progress.EndProgress();
  progress.StartProgress();
  ASSERT_NE(progress.panel(), nullptr);
  progress.SetProgressTotal(100);
  EXPECT_FALSE(progress.panel()->isVisible());
  EXPECT_FALSE(progress.panel()->check().isChecked());
}

TEST_F(Widgets, CursorFileImageKeepsItsPixelsAlphaAndHotSpot) {
  imaging::CursorImage image;
  image.width = 2;
  image.height = 2;
  image.hotX = 1;
  image.hotY = 0;
  image.argb = {0xFF102030u, 0x00000000u, 0x80FF0000u, 0xFFFFFFFFu};
  const QCursor cursor = CursorFromImage(image);
  EXPECT_EQ(cursor.hotSpot(), QPoint(1, 0));
  const QImage pixels = cursor.pixmap().toImage().convertToFormat(QImage::Format_ARGB32);
  ASSERT_EQ(pixels.size(), QSize(2, 2));
  EXPECT_EQ(pixels.pixel(0, 0), 0xFF102030u);
  EXPECT_EQ(qAlpha(pixels.pixel(1, 0)), 0);
  EXPECT_EQ(qAlpha(pixels.pixel(0, 1)), 0x80);
  EXPECT_EQ(pixels.pixel(1, 1), 0xFFFFFFFFu);
}

TEST_F(Widgets, NoPanelWhileNoProjectPlays) {
  WindowProgress progress([] { return nullptr; });
  progress.StartProgress();
  progress.SetProgressTotal(100);
  progress.SetProgressText("x%s", 1);
  EXPECT_EQ(progress.panel(), nullptr);
}

// Runs `work` on an engine thread while this (the GUI) thread serves it.
void FromEngineThread(const std::function<void()>& work) {
  QEventLoop loop;
  std::thread engine([&] {
    work();
    QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
  });
  loop.exec();
  engine.join();
}

TEST_F(Widgets, ClipboardTakesPictureMetafileAndTextFromAnEngineThread) {
  QtClipboard clipboard(app_);
  const ClipboardBitmap quadrants{2, 2, {0xFF0000, 0x00FF00, 0x0000FF, 0xFFFFFF}};
  std::optional<ClipboardBitmap> bitmap;
  std::optional<std::string> metafile, text;
  FromEngineThread([&] {
    clipboard.PutPicture(quadrants, "EMF bytes");
    bitmap = clipboard.GetBitmap();
    metafile = clipboard.GetMetafile();
    text = clipboard.GetText();
  });
  ASSERT_TRUE(bitmap);
  EXPECT_EQ(bitmap->width, 2);
  EXPECT_EQ(bitmap->pixels, quadrants.pixels);
  EXPECT_EQ(metafile, std::optional<std::string>("EMF bytes"));
  EXPECT_FALSE(text);
  // Other programs find the metafile under both names.
  const QMimeData* data = QGuiApplication::clipboard()->mimeData();
  ASSERT_NE(data, nullptr);
  EXPECT_EQ(data->data("image/emf"), QByteArray("EMF bytes"));
  EXPECT_EQ(data->data("image/x-emf"), QByteArray("EMF bytes"));

  // Text replaces the picture; it travels as UTF-8 and comes back as Windows-1252.
  FromEngineThread([&] {
    clipboard.PutText("caf\xE9");
    bitmap = clipboard.GetBitmap();
    metafile = clipboard.GetMetafile();
    text = clipboard.GetText();
  });
  EXPECT_FALSE(bitmap);
  EXPECT_FALSE(metafile);
  EXPECT_EQ(text, std::optional<std::string>("caf\xE9"));
  EXPECT_EQ(QGuiApplication::clipboard()->text(), QString::fromUtf8("caf\xC3\xA9"));
}

TEST_F(Widgets, ClipboardReadsWhatOtherProgramsPut) {
  QtClipboard clipboard(app_);
  // A half-transparent picture (its colour kept, its alpha dropped) and a
  // metafile under the older name alone.
  QImage translucent(1, 1, QImage::Format_ARGB32);
  translucent.setPixel(0, 0, qRgba(10, 20, 30, 128));
  auto data = std::make_unique<QMimeData>();
  data->setImageData(translucent);
  data->setData("image/x-emf", "older");
  QGuiApplication::clipboard()->setMimeData(data.release());
  auto bitmap = clipboard.GetBitmap();
  ASSERT_TRUE(bitmap);
  EXPECT_EQ(bitmap->pixels, std::vector<uint32_t>{0x0A141E});
  EXPECT_EQ(clipboard.GetMetafile(), std::optional<std::string>("older"));
  QGuiApplication::clipboard()->clear();
  EXPECT_FALSE(clipboard.GetBitmap());
  EXPECT_FALSE(clipboard.GetMetafile());
  EXPECT_FALSE(clipboard.GetText());
}

}  // namespace
}  // namespace kv
