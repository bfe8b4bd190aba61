// The Qt side of window objects: native widgets made for window sprites.
// In a window they are children of the drawing window, placed, stacked,
// scaled and clipped with the stage; headless they stay off screen and frames
// draw them. Either way every widget call runs on the GUI thread, reached
// through the port the host gives.
#pragma once

#include <QObject>
#include <QPointer>
#include <QRect>
#include <QSize>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "stage/widget_window.h"

class QFont;
class QStyle;
class QTextDocument;
class QWidget;

namespace kv {

struct WidgetState;

class QtWidgetFactory : public ChildWindowFactory {
 public:
  // Runs work on the GUI thread, soon and in order; callable from any thread.
  using Post = std::function<void(std::function<void()>)>;

  // Widgets off screen until AttachWindow; made on the GUI thread.
  explicit QtWidgetFactory(Post post);
  ~QtWidgetFactory() override;

  // On the GUI thread: from now on widgets show in `drawingWindow`, over its
  // stage area (`stageArea()` in its coordinates, for a stage of
  // `stageSize`), and mouse input on them also reaches the drawing window.
  void AttachWindow(QWidget* drawingWindow, std::function<QRect()> stageArea, QSize stageSize);

  std::unique_ptr<WidgetWindow> Create(const std::string& type, WidgetListener& listener) override;

  // For the widgets: where they go and how they are scaled.
  struct Placement {
    QPointer<QWidget> window;
    std::function<QRect()> stageArea;
    QSize stageSize;
  };
  Placement placement() const;
  QStyle* style() const { return style_; }
  const Post& post() const { return post_; }
  // Lays every live widget out again (the drawing window was resized).
  void Relayout();
  void Forget(const WidgetState* state);

 private:
  Post post_;
  QStyle* style_;
  QObject* resizeWatch_ = nullptr;
  mutable std::mutex lock_;
  Placement placement_;
  std::vector<std::weak_ptr<WidgetState>> live_;
};

struct RichDocument;
class RichDocumentStream;

// Fills `target` with the document as the rich text widget shows it, in
// `base` where a run names no font; sizes in pixels at 96 dots an inch.
void FillTextDocument(QTextDocument& target, const RichDocument& doc, const QFont& base);
// The same, taking the paragraphs as the stream's reader ends them; the
// same document in the end (an empty one if the reader failed).
void FillTextDocument(QTextDocument& target, RichDocumentStream& stream, const QFont& base);

// Sets up what widget types need before the application is made.
void PrepareWidgetPlatform();

// The virtual key's Qt key, Qt::Key_unknown when it has none.
int QtKeyOfVirtualKey(uint32_t vk);

}  // namespace kv
