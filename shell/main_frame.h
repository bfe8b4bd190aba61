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
  // Brings the stage of the player this frame started forward; false when
  // there is none to bring.
  using StageRaiser = std::function<bool()>;
  void SetStageRaiser(StageRaiser raiser) { raiseStage_ = std::move(raiser); }
  // Runs a frame command by its id (the menus end here too). Commands of
  // the authoring side that the player does not offer are accepted and
  // ignored; the answer tells whether the id is one of the player's.
  bool Command(uint32_t id);
  // The command being dispatched (0 outside a dispatch).
  uint32_t CurrentCommand() const { return dispatching_; }
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
  StageRaiser raiseStage_;
  qint64 playerPid_ = 0;  // the player this frame started last
  uint32_t dispatching_ = 0;
};

}  // namespace kv
