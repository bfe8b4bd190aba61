// The download progress panel: a check box, a line of text and a bar along
// the bottom of the stage window, shown without taking the focus while the
// HTTP client reports a download with progress. Clearing the check box hides
// it for the rest of the process.
#pragma once

#include <QCheckBox>
#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QWidget>
#include <functional>

#include "net/hooks.h"
#include "net/progress_model.h"

namespace kv {

class ProgressPanel : public QWidget {
 public:
  ProgressPanel(QWidget* parent, ProgressModel& model);
  // Shows what the model holds, along the bottom of the parent's client area.
  void Refresh();
  QCheckBox& check() { return *check_; }
  QLabel& label() { return *text_; }
  QProgressBar& bar() { return *bar_; }

 private:
  ProgressModel& model_;
  QCheckBox* check_;
  QLabel* text_;
  QProgressBar* bar_;
};

// The ProgressSink of a run in a window. The client calls it on its own
// thread; the panel is made, changed and closed on the GUI thread.
class WindowProgress : public ProgressSink {
 public:
  // `parent` answers the window the panel belongs to (the stage window, or
  // null before it exists: the panel is then a window of its own).
  explicit WindowProgress(std::function<QWidget*()> parent);
  ~WindowProgress() override;
  void SetPlaying(bool playing);

  void StartProgress() override;
  void SetProgressTotal(uint32_t bytes) override;
  void SetProgressText(const std::string& text, uint32_t bytesSoFar) override;
  void EndProgress() override;

  ProgressPanel* panel() { return panel_; }
  ProgressModel& model() { return model_; }

 private:
  void OnGui(std::function<void()> fn);
  std::function<QWidget*()> parent_;
  ProgressModel model_;  // used on the GUI thread only
  QPointer<ProgressPanel> panel_;
  QObject gui_;  // lives on the GUI thread; the target of queued calls
};

}  // namespace kv
