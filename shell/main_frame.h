// The small main frame shown when korvel starts with a display and no file:
// File (open a project or compilation, exit), Play (play the opened one),
// Help (about). Playing starts a player of its own for the file, so the
// frame stays as it was.
#pragma once

#include <QMainWindow>
#include <QString>

class QAction;

namespace kv {

class MainFrame : public QMainWindow {
 public:
  explicit MainFrame(QString version);
  // The project or compilation opened last; empty when none.
  const QString& CurrentProject() const { return project_; }
  // Opens `file` as the current project (the Open commands end here).
  void OpenFile(const QString& file);
  // Plays the current project in a player of its own; false when none could start.
  bool PlayProject();

 private:
  void Open();

  QString version_;
  QString project_;
  QAction* play_ = nullptr;
};

}  // namespace kv
