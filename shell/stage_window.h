// The stage in a window: the frame (title, border and background colour)
// and, inside it, the drawing window that shows the compositor's frames and
// turns the mouse and the keyboard into the run's input.
#pragma once

#include <QCursor>
#include <QImage>
#include <QPainter>
#include <QMenuBar>
#include <QTimer>
#include <QWidget>
#include <atomic>
#include <map>
#include <optional>
#include <utility>
#include <vector>
#include <mutex>

#include "platform/geometry.h"
#include "stage/hooks.h"

namespace kv {

class Player;
class Stage;
struct InputEvent;

// How the stage is scaled into its window.
struct StageScale {
  int factor = 1;     // whole-number scale; 0 with `fit`
  bool fit = false;   // the largest size that keeps the aspect ratio
  bool fullScreen = false;
};

// What the frame shows around the drawing window: its picture (null for
// none), tiled or stretched, else its colour.
struct FrameBackground {
  QImage picture;
  bool tile = true;
  QColor color;
};

// Paints the frame's client area: the picture 1:1 when it has exactly the
// area's size, else tiled from the top left or stretched (nearest pixels);
// the colour without a picture.
void PaintFrameBackground(QPainter& painter, const QRect& client, const FrameBackground& background);

// The frame's client size for the stage at its scale, no larger than the screen.
QSize FrameClientSize(QSize stageSize, const StageScale& scale, QSize screen);

namespace imaging {
struct CursorImage;
}
// A host cursor of a decoded cursor file, with its hot spot.
QCursor CursorFromImage(const imaging::CursorImage& image);

// Parses "--scale" values: a whole number from 1 to 16, or "fit".
bool ParseStageScale(const std::string& text, StageScale& out);

// Copies presented rectangles into the published frame under a small lock
// and asks the drawing window to repaint; paint never takes the stage lock.
class WindowPresenter : public Presenter {
 public:
  void SetTarget(QWidget* target) { target_ = target; }
  void Present(const PixelBuffer& frame, const Rect& rect) override;
  void Invalidate(const Rect& rect) override;
  // A copy of the published frame (for paint and for tests).
  QImage Published();
  std::mutex& FrameLock() { return lock_; }
  const QImage& FrameUnlocked() const { return frame_; }

 private:
  QWidget* target_ = nullptr;
  std::mutex lock_;
  QImage frame_;
};

class RunWindow : public QWidget {
 public:
  RunWindow(QWidget* parent, Player& player, WindowPresenter& presenter, QSize stageSize, StageScale scale,
            FrameBackground background);
  // The stage pixel under a window point; false outside the stage.
  bool ToStage(const QPoint& p, int& x, int& y) const;
  // The screen point of a stage pixel's top-left corner.
  QPoint GlobalOfStagePoint(int x, int y) const;
  // Follows the stage's cursor choice (the object under the pointer, a
  // stage cursor object) from now on.
  void FollowCursorOf(Stage* stage);
  QRect StageArea() const;

 protected:
  void paintEvent(QPaintEvent*) override;
  void mousePressEvent(QMouseEvent* e) override;
  void mouseReleaseEvent(QMouseEvent* e) override;
  void mouseDoubleClickEvent(QMouseEvent* e) override;
  void mouseMoveEvent(QMouseEvent* e) override;
  void keyPressEvent(QKeyEvent* e) override;
  void keyReleaseEvent(QKeyEvent* e) override;
  void leaveEvent(QEvent* e) override;
  void timerEvent(QTimerEvent* e) override;
  // Text and files dragged from other programs, when the project takes drops.
  void dragEnterEvent(QDragEnterEvent* e) override;
  void dragMoveEvent(QDragMoveEvent* e) override;
  void dropEvent(QDropEvent* e) override;

 private:
  void Send(InputEvent e);
  // The cursor of a cursor file (every frame of an animated one), decoded
  // once; null when it cannot be used.
  struct FileCursorFrames {
    std::vector<QCursor> frames;
    std::vector<std::pair<size_t, int>> steps;  // frame shown, for how many ms
  };
  const FileCursorFrames* FileCursor(const std::string& hostFile);
  // Shows the animation's next step and times the one after.
  void StepAnimation();
  std::map<std::string, std::optional<FileCursorFrames>> fileCursors_;
  const FileCursorFrames* animated_ = nullptr;
  size_t animStep_ = 0;
  QTimer animTimer_;
  Stage* stage_ = nullptr;
  uint32_t cursorSerial_ = 0;

  Player& player_;
  WindowPresenter& presenter_;
  QSize stageSize_;
  StageScale scale_;
  FrameBackground background_;
};

class StageWindow : public QWidget {
 public:
  StageWindow(Player& player, QSize stageSize, StageScale scale, const QString& caption,
              FrameBackground background, uint32_t exitKey, QSize screen);
  WindowPresenter& presenter() { return presenter_; }
  RunWindow& runWindow() { return *run_; }
  // Attaches a menu bar above the drawing window, the frame growing by its
  // height (null: removes the bar, the frame shrinking back). Takes it.
  void SetMenuBar(QMenuBar* bar);

 protected:
  void closeEvent(QCloseEvent* e) override;
  // Minimising pauses the player; restoring resumes it.
  void changeEvent(QEvent* e) override;
  void resizeEvent(QResizeEvent* e) override;

 private:
  Player& player_;
  WindowPresenter presenter_;
  RunWindow* run_;
  QMenuBar* bar_ = nullptr;
  StageScale scale_;
  QSize stageSize_;
  uint32_t exitKey_;
  std::atomic<bool> closing_{false};

 public:
  // Set when the run has ended, so the next close really closes.
  std::atomic<bool> runEnded{false};
};

// Tells the run when the machine is about to sleep and when it woke, from
// the login manager's signal on the system bus; without a bus it does nothing.
class PowerWatch : public QObject {
  Q_OBJECT
 public:
  explicit PowerWatch(Player& player);
  bool watching() const { return watching_; }

 public slots:
  void PrepareForSleep(bool sleeping);

 private:
  Player& player_;
  bool watching_ = false;
};

// The virtual key of a Qt key, 0 when it has none.
uint32_t VirtualKeyOf(int qtKey);

}  // namespace kv
