#include "shell/qt_web_browser.h"

#include <QApplication>
#include <QEventLoop>
#include <QImage>
#include <QLoggingCategory>
#include <QTimer>
#include <QWebEnginePage>
#include <QWebEngineSettings>
#include <QWebEngineView>
#include <unistd.h>

#include <cstdlib>

#include "platform/text.h"

namespace kv {

namespace {

// How long a headless frame waits for a page: a page that never finishes
// loading is drawn as far as it came.
constexpr int kLoadLimitMs = 20000;
// Chromium hands its first drawing over after the load has finished; the
// page is taken as drawn once two drawings this far apart agree.
constexpr int kSettleStepMs = 25;
constexpr int kSettleLimitSteps = 80;

void SetDefault(const char* name, const char* value) {
  if (!std::getenv(name)) setenv(name, value, 0);
}

std::string Lower(std::string text) {
  for (char& c : text) c = char(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

class BrowserView : public QWebEngineView {
 public:
  BrowserView() {
    setContextMenuPolicy(Qt::NoContextMenu);
    page()->settings()->setAttribute(QWebEngineSettings::ShowScrollBars, true);
  }

  void Set(const std::string& property, const std::string& value) {
    if (property == "enabled") {
      setEnabled(value == "1");
      return;
    }
    if (!property.starts_with("put:")) return;
    const std::string name = Lower(property.substr(4));
    if (name == "locationurl" || name == "url" || name == "navigate" || name == "navigate2") Navigate(value);
  }

 protected:
  void changeEvent(QEvent* e) override {
    QWebEngineView::changeEvent(e);
    // Before its first page Chromium shows white; so does a frame drawn then.
    if (e->type() == QEvent::PaletteChange && palette().color(QPalette::Window) != Qt::white) {
      QPalette p = palette();
      p.setColor(QPalette::Window, Qt::white);
      setPalette(p);
    }
  }

 private:
  void Navigate(const std::string& address) {
    const QUrl url(QString::fromStdString(Cp1252ToUtf8(address)), QUrl::TolerantMode);
    if (!testAttribute(Qt::WA_DontShowOnScreen)) {
      load(url);  // in a window the page comes when it comes
      return;
    }
    // Off screen the run waits for the page, so a frame shows it loaded.
    QEventLoop loop;
    bool finished = false;
    const auto done = connect(this, &QWebEngineView::loadFinished, &loop, [&](bool) {
      finished = true;
      loop.quit();
    });
    QTimer::singleShot(kLoadLimitMs, &loop, &QEventLoop::quit);
    load(url);
    if (!finished) loop.exec();
    disconnect(done);
    QImage last;
    for (int i = 0; i < kSettleLimitSteps; ++i) {
      QEventLoop step;
      QTimer::singleShot(kSettleStepMs, &step, &QEventLoop::quit);
      step.exec();
      QImage now(size(), QImage::Format_RGB32);
      now.fill(Qt::white);
      render(&now);
      if (i > 0 && now == last) break;
      last = std::move(now);
    }
  }
};

}  // namespace

void PrepareWebEngine() {
  SetDefault("QTWEBENGINE_CHROMIUM_FLAGS", "--disable-gpu");
  SetDefault("QT_QUICK_BACKEND", "software");
  if (geteuid() == 0) SetDefault("QTWEBENGINE_DISABLE_SANDBOX", "1");
  QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
  // Chromium's start-up report of its flags says nothing a run needs.
  QLoggingCategory::setFilterRules("qt.webenginecontext.info=false");
}

QWidget* MakeWebBrowser() { return new BrowserView; }

void SetWebBrowserProperty(QWidget& widget, const std::string& property, const std::string& value) {
  static_cast<BrowserView&>(widget).Set(property, value);
}

void WatchWebBrowser(QWidget& widget, QObject& context,
                     std::function<void(const std::string&, const std::string&)> changed) {
  auto& view = static_cast<BrowserView&>(widget);
  QObject::connect(&view, &QWebEngineView::urlChanged, &context, [changed](const QUrl& url) {
    changed("LocationURL", Utf8ToCp1252(url.toString().toStdString()));
  });
  QObject::connect(&view, &QWebEngineView::loadFinished, &context,
                   [changed](bool ok) { changed("loaded", ok ? "1" : "0"); });
}

}  // namespace kv
