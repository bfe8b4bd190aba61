#include "shell/stage_window.h"

#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QUrl>
#include <QDBusConnection>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QResizeEvent>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <optional>

#include "engine/request.h"
#include "imaging/cursor_file.h"
#include "inserts/stage_host.h"
#include "player/input_script.h"
#include "platform/text.h"
#include "player/player.h"

namespace kv {

bool ParseStageScale(const std::string& text, StageScale& out) {
  if (text.empty()) return true;
  if (text == "fit") {
    out.fit = true;
    out.factor = 0;
    return true;
  }
  int n = 0;
  for (char c : text) {
    if (c < '0' || c > '9' || n > 16) return false;
    n = n * 10 + (c - '0');
  }
  if (n < 1 || n > 16) return false;
  out.factor = n;
  return true;
}

void PaintFrameBackground(QPainter& painter, const QRect& client, const FrameBackground& background) {
  const QImage& picture = background.picture;
  if (picture.isNull()) {
    painter.fillRect(client, background.color);
  } else if (picture.size() == client.size()) {
    painter.drawImage(client.topLeft(), picture);
  } else if (background.tile) {
    painter.drawTiledPixmap(client, QPixmap::fromImage(picture));
  } else {
    painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
    painter.drawImage(client, picture);
  }
}

QSize FrameClientSize(QSize stageSize, const StageScale& scale, QSize screen) {
  const int f = scale.fit ? 1 : scale.factor;
  QSize client(stageSize.width() * f, stageSize.height() * f);
  if (screen.width() > 0 && screen.height() > 0) client = client.boundedTo(screen);
  return client;
}

// ---------------------------------------------------------------- presenter

void WindowPresenter::Present(const PixelBuffer& frame, const Rect& rect) {
  {
    std::lock_guard lock(lock_);
    if (frame_.width() != frame.Width() || frame_.height() != frame.Height())
      frame_ = QImage(frame.Width(), frame.Height(), QImage::Format_RGB32);
    const Rect r = rect.Intersect(frame.Bounds());
    if (r.IsEmpty()) return;
    for (int y = r.top; y < r.bottom; ++y) {
      auto* dst = reinterpret_cast<uint32_t*>(frame_.scanLine(y));
      if (frame.Format() == PixelFormat::kXrgb32) {
        // The stage's XRGB32 word is Qt's RGB32 word.
        std::memcpy(dst + r.left, frame.At(r.left, y), size_t(r.Width()) * 4);
      } else {
        for (int x = r.left; x < r.right; ++x) {
          const ColorRef c = frame.GetPixel(x, y);
          dst[x] = qRgb(c.Red(), c.Green(), c.Blue());
        }
      }
    }
  }
  QMetaObject::invokeMethod(target_, [t = target_] { t->update(); }, Qt::QueuedConnection);
}

void WindowPresenter::Invalidate(const Rect&) {
  QMetaObject::invokeMethod(target_, [t = target_] { t->update(); }, Qt::QueuedConnection);
}

QImage WindowPresenter::Published() {
  std::lock_guard lock(lock_);
  return frame_.copy();
}

// ---------------------------------------------------------------- drawing window

RunWindow::RunWindow(QWidget* parent, Player& player, WindowPresenter& presenter, QSize stageSize, StageScale scale,
                     FrameBackground background)
    : QWidget(parent),
      player_(player),
      presenter_(presenter),
      stageSize_(stageSize),
      scale_(scale),
      background_(std::move(background)) {
  setWindowTitle("Running Window");
  setMouseTracking(true);
  setFocusPolicy(Qt::StrongFocus);
  setAttribute(Qt::WA_OpaquePaintEvent);
}

QRect RunWindow::StageArea() const {
  int w = stageSize_.width(), h = stageSize_.height();
  if (scale_.fit) {
    const double f = std::min(double(width()) / w, double(height()) / h);
    w = std::max(1, int(std::floor(w * f)));
    h = std::max(1, int(std::floor(h * f)));
  } else {
    w *= scale_.factor;
    h *= scale_.factor;
  }
  // Centred on the black field of a larger window.
  return QRect((width() - w) / 2, (height() - h) / 2, w, h);
}

bool RunWindow::ToStage(const QPoint& p, int& x, int& y) const {
  const QRect a = StageArea();
  if (a.width() <= 0 || a.height() <= 0) return false;
  x = int(std::floor(double(p.x() - a.left()) * stageSize_.width() / a.width()));
  y = int(std::floor(double(p.y() - a.top()) * stageSize_.height() / a.height()));
  return x >= 0 && y >= 0 && x < stageSize_.width() && y < stageSize_.height();
}

QPoint RunWindow::GlobalOfStagePoint(int x, int y) const {
  const QRect a = StageArea();
  const QPoint p(a.left() + int(std::floor(double(x) * a.width() / std::max(1, stageSize_.width()))),
                 a.top() + int(std::floor(double(y) * a.height() / std::max(1, stageSize_.height()))));
  return mapToGlobal(p);
}

void RunWindow::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  const QRect area = StageArea();
  // Around the stage: the frame's background, or the black field of full screen.
  if (area != rect()) {
    if (scale_.fullScreen)
      painter.fillRect(rect(), Qt::black);
    else
      PaintFrameBackground(painter, rect(), background_);
  }
  std::lock_guard lock(presenter_.FrameLock());
  const QImage& frame = presenter_.FrameUnlocked();
  if (frame.isNull()) {
    painter.fillRect(area, scale_.fullScreen ? QColor(Qt::black) : background_.color);
    return;
  }
  // Nearest neighbour: stage pixels stay crisp at every scale.
  painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
  painter.drawImage(area, frame);
}

void RunWindow::Send(InputEvent e) { player_.PostInput(e); }

void RunWindow::mousePressEvent(QMouseEvent* e) {
  int x, y;
  if (!ToStage(e->position().toPoint(), x, y)) return;
  InputEvent in;
  in.x = x, in.y = y;
  if (e->button() == Qt::LeftButton) {
    in.kind = InputEvent::Kind::kDown;
  } else if (e->button() == Qt::RightButton) {
    in.kind = InputEvent::Kind::kRightClick;
  } else {
    return;
  }
  Send(in);
}

void RunWindow::mouseReleaseEvent(QMouseEvent* e) {
  if (e->button() != Qt::LeftButton) return;
  int x, y;
  ToStage(e->position().toPoint(), x, y);
  InputEvent in;
  in.kind = InputEvent::Kind::kUp;
  in.x = x, in.y = y;
  Send(in);
}

void RunWindow::mouseDoubleClickEvent(QMouseEvent* e) {
  int x, y;
  if (e->button() != Qt::LeftButton || !ToStage(e->position().toPoint(), x, y)) return;
  // The press of the second click; its release comes as an ordinary release.
  InputEvent in;
  in.kind = InputEvent::Kind::kDown;
  in.x = x, in.y = y;
  Send(in);
}

void RunWindow::mouseMoveEvent(QMouseEvent* e) {
  int x, y;
  ToStage(e->position().toPoint(), x, y);
  InputEvent in;
  in.kind = InputEvent::Kind::kMove;
  in.x = x, in.y = y;
  Send(in);
}

namespace {

// What a drop carries as the stage's text: a file's path, else the text.
std::optional<std::string> DroppedText(const QMimeData* data) {
  if (!data) return std::nullopt;
  if (data->hasUrls())
    for (const QUrl& url : data->urls())
      if (url.isLocalFile()) return Utf8ToCp1252(url.toLocalFile().toStdString());
  if (data->hasText()) return Utf8ToCp1252(data->text().toStdString());
  return std::nullopt;
}

}  // namespace

void RunWindow::dragEnterEvent(QDragEnterEvent* e) {
  if (stage_ && stage_->settings().acceptsDrops && DroppedText(e->mimeData())) e->acceptProposedAction();
}

void RunWindow::dragMoveEvent(QDragMoveEvent* e) {
  int x, y;
  if (stage_ && stage_->settings().acceptsDrops && ToStage(e->position().toPoint(), x, y))
    e->acceptProposedAction();
  else
    e->ignore();
}

void RunWindow::dropEvent(QDropEvent* e) {
  int x, y;
  const std::optional<std::string> text = DroppedText(e->mimeData());
  if (!stage_ || !stage_->settings().acceptsDrops || !text || !ToStage(e->position().toPoint(), x, y)) return;
  // Copied with Ctrl held, else moved, as the drop target answers.
  e->setDropAction(e->modifiers() & Qt::ControlModifier ? Qt::CopyAction : Qt::MoveAction);
  e->accept();
  InputEvent in;
  in.kind = InputEvent::Kind::kDrop;
  in.x = x, in.y = y;
  in.text = *text;
  Send(in);
}

void RunWindow::leaveEvent(QEvent*) {
  // Off the stage: the object under the pointer is left.
  InputEvent in;
  in.kind = InputEvent::Kind::kMove;
  in.x = in.y = -1;
  Send(in);
}

void RunWindow::FollowCursorOf(Stage* stage) {
  stage_ = stage;
  setAcceptDrops(stage && stage->settings().acceptsDrops);
  startTimer(50);
  animTimer_.setSingleShot(true);
  QObject::connect(&animTimer_, &QTimer::timeout, this, [this] { StepAnimation(); });
}

namespace {

// The system cursors by their ids; others show the arrow.
Qt::CursorShape ShapeOf(uint16_t id) {
  switch (id) {
    case 32513: return Qt::IBeamCursor;
    case 32514: return Qt::WaitCursor;
    case 32515: return Qt::CrossCursor;
    case 32516: return Qt::UpArrowCursor;
    case 32642: return Qt::SizeFDiagCursor;
    case 32643: return Qt::SizeBDiagCursor;
    case 32644: return Qt::SizeHorCursor;
    case 32645: return Qt::SizeVerCursor;
    case 32646: return Qt::SizeAllCursor;
    case 32648: return Qt::ForbiddenCursor;
    case 32649: return Qt::PointingHandCursor;
    case 32650: return Qt::BusyCursor;
    case 32651: return Qt::WhatsThisCursor;
    default: return Qt::ArrowCursor;
  }
}

}  // namespace

QCursor CursorFromImage(const imaging::CursorImage& image) {
  QImage pixels(image.width, image.height, QImage::Format_ARGB32);
  for (int y = 0; y < image.height; ++y)
    std::memcpy(pixels.scanLine(y), image.argb.data() + size_t(y) * image.width, size_t(image.width) * 4);
  return QCursor(QPixmap::fromImage(pixels), image.hotX, image.hotY);
}

const RunWindow::FileCursorFrames* RunWindow::FileCursor(const std::string& hostFile) {
  auto it = fileCursors_.find(hostFile);
  if (it == fileCursors_.end()) {
    std::string error;
    std::optional<FileCursorFrames> cursor;
    if (auto file = imaging::LoadAnimatedCursor(hostFile, &error)) {
      cursor.emplace();
      for (const imaging::CursorImage& frame : file->frames) cursor->frames.push_back(CursorFromImage(frame));
      for (const imaging::AnimatedCursor::Step& step : file->steps) cursor->steps.emplace_back(step.frame, step.ms);
    } else {
      // The arrow stands in; the author hears why once.
      std::fprintf(stderr, "korvel: the cursor file \"%s\" cannot be used: %s\n", hostFile.c_str(), error.c_str());
    }
    it = fileCursors_.emplace(hostFile, std::move(cursor)).first;
  }
  return it->second ? &*it->second : nullptr;
}

void RunWindow::StepAnimation() {
  if (!animated_ || animated_->steps.empty()) return;
  const auto [frame, ms] = animated_->steps[animStep_ % animated_->steps.size()];
  setCursor(animated_->frames[frame]);
  ++animStep_;
  // Each step stays for the time the file gives it; one step is a still cursor.
  if (animated_->steps.size() > 1) animTimer_.start(std::max(1, ms));
}

void RunWindow::timerEvent(QTimerEvent*) {
  if (!stage_ || stage_->cursorSerial.load() == cursorSerial_) return;
  cursorSerial_ = stage_->cursorSerial.load();
  const CursorChoice c = stage_->CurrentCursor();
  animTimer_.stop();
  animated_ = nullptr;
  switch (c.kind) {
    case CursorChoice::Kind::kHidden: setCursor(Qt::BlankCursor); break;
    case CursorChoice::Kind::kSystem: setCursor(ShapeOf(c.systemId)); break;
    case CursorChoice::Kind::kFile:
      if ((animated_ = FileCursor(c.hostFile))) {
        animStep_ = 0;
        StepAnimation();
      } else {
        unsetCursor();
      }
      break;
    case CursorChoice::Kind::kArrow: unsetCursor(); break;
  }
}

namespace {

// The hotkey modifier bits: Shift 1, Ctrl 2, Alt 4.
uint32_t ModifierBits(Qt::KeyboardModifiers m) {
  return (m & Qt::ShiftModifier ? 1u : 0u) | (m & Qt::ControlModifier ? 2u : 0u) | (m & Qt::AltModifier ? 4u : 0u);
}

}  // namespace

// A key reaches the drawing window when no window object's widget has the
// focus or the focused one declined it: it goes on to hotkeys and the stage
// as a key going down, its typed text, and later its release.
void RunWindow::keyPressEvent(QKeyEvent* e) {
  const uint32_t vk = VirtualKeyOf(e->key());
  const QString text = e->text();
  const bool typed = !text.isEmpty() && text.at(0).isPrint() && !(e->modifiers() & (Qt::ControlModifier | Qt::AltModifier));
  if (vk == 0 && !typed) return QWidget::keyPressEvent(e);
  if (vk != 0) {
    InputEvent in;
    in.kind = InputEvent::Kind::kKeyDown;
    in.key = vk;
    in.modifiers = ModifierBits(e->modifiers());
    in.declinedByFocus = true;
    Send(in);
  }
  if (typed) {
    InputEvent in;
    in.kind = InputEvent::Kind::kChar;
    in.text = Utf8ToCp1252(text.toStdString());
    in.declinedByFocus = true;
    Send(in);
  }
}

void RunWindow::keyReleaseEvent(QKeyEvent* e) {
  const uint32_t vk = VirtualKeyOf(e->key());
  if (vk == 0 || e->isAutoRepeat()) return QWidget::keyReleaseEvent(e);
  InputEvent in;
  in.kind = InputEvent::Kind::kKeyUp;
  in.key = vk;
  in.modifiers = ModifierBits(e->modifiers());
  in.declinedByFocus = true;
  Send(in);
}

// ---------------------------------------------------------------- frame

StageWindow::StageWindow(Player& player, QSize stageSize, StageScale scale, const QString& caption,
                         FrameBackground background, uint32_t exitKey, QSize screen)
    : player_(player), scale_(scale), stageSize_(stageSize), exitKey_(exitKey) {
  setWindowTitle(caption);
  QPalette pal = palette();
  pal.setColor(QPalette::Window, background.color);
  setPalette(pal);
  setAutoFillBackground(true);
  run_ = new RunWindow(this, player, presenter_, stageSize, scale, std::move(background));
  presenter_.SetTarget(run_);
  // A stage larger than the screen is cut at the screen's size.
  const QSize client = FrameClientSize(stageSize, scale, screen);
  resize(client);
  const int f = scale.fit ? 1 : scale.factor;
  run_->setGeometry(0, 0, stageSize.width() * f, stageSize.height() * f);
  run_->setFocus();
}

void StageWindow::resizeEvent(QResizeEvent*) {
  // A fitted stage follows the window, and a maximised one is centred in it;
  // otherwise the drawing window keeps the stage size at the top left. A
  // menu bar takes the top.
  const int top = bar_ ? bar_->sizeHint().height() : 0;
  if (bar_) bar_->setGeometry(0, 0, width(), top);
  if (scale_.fit || isMaximized() || isFullScreen())
    run_->setGeometry(rect().adjusted(0, top, 0, 0));
  else
    run_->setGeometry(0, top, stageSize_.width() * scale_.factor, stageSize_.height() * scale_.factor);
}

void StageWindow::SetMenuBar(QMenuBar* bar) {
  const int before = bar_ ? bar_->sizeHint().height() : 0;
  delete bar_;
  bar_ = bar;
  int after = 0;
  if (bar_) {
    bar_->setParent(this);
    bar_->show();
    after = bar_->sizeHint().height();
  }
  // The drawing window keeps its size: the frame grows or shrinks by the bar.
  if (!(scale_.fit || isMaximized() || isFullScreen())) resize(width(), height() - before + after);
  resizeEvent(nullptr);
  run_->update();
}

void StageWindow::closeEvent(QCloseEvent* e) {
  if (runEnded) return e->accept();
  if (player_.IgnoresClose()) return e->ignore();
  // Closing asks the run to stop, as the exit key does; the window stays
  // until the engine has shut down.
  e->ignore();
  InputEvent in;
  in.kind = InputEvent::Kind::kKey;
  in.key = exitKey_;
  player_.PostInput(in);
}

void StageWindow::changeEvent(QEvent* e) {
  QWidget::changeEvent(e);
  if (e->type() != QEvent::WindowStateChange) return;
  const bool minimized = windowState() & Qt::WindowMinimized;
  const bool was = static_cast<QWindowStateChangeEvent*>(e)->oldState() & Qt::WindowMinimized;
  if (minimized == was) return;
  InputEvent in;
  in.kind = minimized ? InputEvent::Kind::kMinimize : InputEvent::Kind::kRestore;
  player_.PostInput(in);
  if (!minimized) {
    run_->update();
    run_->setFocus();
  }
}

PowerWatch::PowerWatch(Player& player) : player_(player) {
  QDBusConnection bus = QDBusConnection::systemBus();
  if (!bus.isConnected()) return;
  watching_ = bus.connect("org.freedesktop.login1", "/org/freedesktop/login1", "org.freedesktop.login1.Manager",
                          "PrepareForSleep", this, SLOT(PrepareForSleep(bool)));
}

void PowerWatch::PrepareForSleep(bool sleeping) {
  InputEvent in;
  in.kind = sleeping ? InputEvent::Kind::kSuspend : InputEvent::Kind::kResume;
  player_.PostInput(in);
}

uint32_t VirtualKeyOf(int k) {
  if (k >= Qt::Key_A && k <= Qt::Key_Z) return uint32_t('A' + (k - Qt::Key_A));
  if (k >= Qt::Key_0 && k <= Qt::Key_9) return uint32_t('0' + (k - Qt::Key_0));
  if (k >= Qt::Key_F1 && k <= Qt::Key_F24) return uint32_t(0x70 + (k - Qt::Key_F1));
  switch (k) {
    case Qt::Key_Escape: return 0x1B;
    case Qt::Key_Return:
    case Qt::Key_Enter: return 0x0D;
    case Qt::Key_Space: return 0x20;
    case Qt::Key_Tab: return 0x09;
    case Qt::Key_Backspace: return 0x08;
    case Qt::Key_Delete: return 0x2E;
    case Qt::Key_Insert: return 0x2D;
    case Qt::Key_Home: return 0x24;
    case Qt::Key_End: return 0x23;
    case Qt::Key_PageUp: return 0x21;
    case Qt::Key_PageDown: return 0x22;
    case Qt::Key_Left: return 0x25;
    case Qt::Key_Up: return 0x26;
    case Qt::Key_Right: return 0x27;
    case Qt::Key_Down: return 0x28;
    case Qt::Key_Shift: return 0x10;
    case Qt::Key_Control: return 0x11;
    case Qt::Key_Alt: return 0x12;
    case Qt::Key_Pause: return 0x13;
    default: return 0;
  }
}

}  // namespace kv
