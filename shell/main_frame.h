// The small main frame shown when korvel starts with a display and no file:
// File (open a project or compilation, exit), Play (play the opened one),
// Help (about). Playing starts a player of its own for the file, so the
// frame stays as it was.
#pragma once

#include <QMainWindow>
#include <QString>
#include <cstdint>
#include <functional>

class QAction;

namespace kv {

// The about box's text: the original's version, build and release lines,
// the physical memory in KB, and this player's own version.
QString AboutText(const QString& ownVersion, uint64_t physicalKb);
// The machine's physical memory in KB (0 when it cannot be read).
uint64_t PhysicalMemoryKb();

class MainFrame : public QMainWindow {
 public:
  // Opens an address with the desktop's handler; false when none could.
  using WebOpener = std::function<bool(const QString& address)>;
  explicit MainFrame(QString version, WebOpener opener = {});
  // Opens the address stored under string `id` (the web-site commands);
  // a failure is shown with the address and the handler's code.
  bool OpenWebPage(uint32_t id);
  bool OpenAddress(const QString& address);
  // The project or compilation opened last; empty when none.
  const QString& CurrentProject() const { return project_; }
  // Opens `file` as the current project (the Open commands end here).
  void OpenFile(const QString& file);
  // Plays the current project in a player of its own; false when none could start.
  bool PlayProject();

 private:
  void Open();

  QString version_;
  WebOpener opener_;
  QString project_;
  QAction* play_ = nullptr;
};

}  // namespace kv
