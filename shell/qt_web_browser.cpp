#include "shell/qt_web_browser.h"

#include <QApplication>
#include <QEventLoop>
#include <QGraphicsProxyWidget>
#include <QGraphicsScene>
#include <QGraphicsView>
#include <QImage>
#include <QKeyEvent>
#include <QLoggingCategory>
#include <QTimer>
#include <QVBoxLayout>
#include <QWebEnginePage>
#include <QWebEngineUrlRequestInfo>
#include <QWebEngineUrlRequestInterceptor>
#include <QWebEngineSettings>
#include <QWebEngineView>
#include <unistd.h>

#include <cstdlib>

#include "platform/text.h"
#include "shell/qt_widget_window.h"

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

// Puts every local file a page reads to the run's judge.
class FileJudge : public QWebEngineUrlRequestInterceptor {
 public:
  explicit FileJudge(QObject* parent) : QWebEngineUrlRequestInterceptor(parent) {}
  std::function<bool(const std::string&)> mayRead;
  void interceptRequest(QWebEngineUrlRequestInfo& info) override {
    const QUrl url = info.requestUrl();
    if (!url.isLocalFile() && url.scheme() != "file") return;
    if (!mayRead || !mayRead(Utf8ToCp1252(url.toString(QUrl::FullyEncoded).toStdString()))) info.block(true);
  }
};

class BrowserView : public QWebEngineView {
 public:
  BrowserView() : judge(new FileJudge(this)) {
    setContextMenuPolicy(Qt::NoContextMenu);
    page()->settings()->setAttribute(QWebEngineSettings::ShowScrollBars, true);
    page()->setUrlRequestInterceptor(judge);
  }
  // The page does not own its judge, which goes first.
  ~BrowserView() override { page()->setUrlRequestInterceptor(nullptr); }
  FileJudge* const judge;

  void Set(const std::string& property, const std::string& value) {
    if (property == "enabled") {
      setEnabled(value == "1");
      return;
    }
    if (!property.starts_with("put:")) return;
    const std::string name = Lower(property.substr(4));
    if (name == "locationurl" || name == "url" || name == "navigate" || name == "navigate2") Navigate(value);
  }

 private:
  void Navigate(const std::string& address) {
    const QUrl url = address.empty() ? QUrl("about:blank")
                                     : QUrl(QString::fromStdString(Cp1252ToUtf8(address)), QUrl::TolerantMode);
    if (!window()->testAttribute(Qt::WA_DontShowOnScreen)) {
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

// What the stage holds: Chromium hands the keys a page leaves unhandled to
// its view's parent, this box, which passes them on where a key a widget
// declines goes (the stage's drawing window), the exit key among them.
class BrowserBox : public QWidget {
 public:
  BrowserBox() : view(new BrowserView) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(view);
    setFocusProxy(view);
    // Chromium takes some keys for itself (Escape among them); the exit key
    // is looked at before the page sees it.
    qApp->installEventFilter(this);
  }
  BrowserView* const view;
  int exitKey = Qt::Key_Escape;

  bool eventFilter(QObject* watched, QEvent* e) override {
    if ((e->type() == QEvent::KeyPress || e->type() == QEvent::KeyRelease) && watched->isWidgetType() &&
        static_cast<QKeyEvent*>(e)->key() == exitKey && isAncestorOf(static_cast<QWidget*>(watched))) {
      PassOn(static_cast<QKeyEvent*>(e));
      return true;
    }
    return false;
  }

 protected:
  void keyPressEvent(QKeyEvent* e) override { PassOn(e); }
  void keyReleaseEvent(QKeyEvent* e) override { PassOn(e); }
  void changeEvent(QEvent* e) override {
    QWidget::changeEvent(e);
    // A frame drawn before the first page is white, as Chromium draws it.
    if (e->type() == QEvent::PaletteChange && palette().color(QPalette::Window) != Qt::white) {
      QPalette p = palette();
      p.setColor(QPalette::Window, Qt::white);
      setPalette(p);
    }
  }

 private:
  void PassOn(QKeyEvent* e) {
    e->ignore();
    // In the window the box is embedded in the stage's view, a child of the
    // drawing window; off screen there is none and the key stays declined.
    QGraphicsProxyWidget* proxy = graphicsProxyWidget();
    if (!proxy || !proxy->scene() || proxy->scene()->views().isEmpty()) return;
    QWidget* stageWindow = proxy->scene()->views().first()->parentWidget();
    if (!stageWindow) return;
    QKeyEvent copy(e->type(), e->key(), e->modifiers(), e->nativeScanCode(), e->nativeVirtualKey(),
                   e->nativeModifiers(), e->text(), e->isAutoRepeat(), quint16(e->count()));
    QCoreApplication::sendEvent(stageWindow, &copy);
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

QWidget* MakeWebBrowser() { return new BrowserBox; }

void SetWebBrowserProperty(QWidget& widget, const std::string& property, const std::string& value) {
  auto& box = static_cast<BrowserBox&>(widget);
  if (property == "exitKey")
    box.exitKey = QtKeyOfVirtualKey(uint32_t(std::stoul(value)));
  else
    box.view->Set(property, value);
}

void JudgeWebBrowserFiles(QWidget& widget, std::function<bool(const std::string& address)> mayRead) {
  static_cast<BrowserBox&>(widget).view->judge->mayRead = std::move(mayRead);
}

void WatchWebBrowser(QWidget& widget, QObject& context,
                     std::function<void(const std::string&, const std::string&)> changed) {
  BrowserView& view = *static_cast<BrowserBox&>(widget).view;
  QObject::connect(&view, &QWebEngineView::urlChanged, &context, [changed](const QUrl& url) {
    changed("LocationURL", Utf8ToCp1252(url.toString().toStdString()));
  });
  QObject::connect(&view, &QWebEngineView::loadFinished, &context,
                   [changed](bool ok) { changed("loaded", ok ? "1" : "0"); });
}

}  // namespace kv
