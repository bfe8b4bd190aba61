#include "shell/main_frame.h"

#include <QCoreApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QProcess>
#include <QScreen>

namespace kv {

MainFrame::MainFrame(QString version) : version_(std::move(version)) {
  setWindowTitle("Korvel Player");
  QMenu* file = menuBar()->addMenu("&File");
  QAction* openProject = file->addAction("Open Pro&ject...", this, &MainFrame::Open);
  openProject->setShortcut(QKeySequence("Ctrl+J"));
  QAction* open = file->addAction("&Open...", this, &MainFrame::Open);
  open->setShortcut(QKeySequence("Ctrl+O"));
  file->addSeparator();
  file->addAction("E&xit", this, &QWidget::close);
  QMenu* play = menuBar()->addMenu("&Play");
  play_ = play->addAction("&Play Project", this, [this] { PlayProject(); });
  play_->setEnabled(false);
  QMenu* help = menuBar()->addMenu("&Help");
  help->addAction("&About Korvel...", this, [this] {
    QMessageBox::about(this, "About Korvel", "Korvel Player " + version_ +
                                                 "\nPlays Korvel projects (.kvp) and compilations (.kvg).");
  });
  auto* hint = new QLabel("Open a project or compilation (File > Open) to play it.", this);
  hint->setAlignment(Qt::AlignCenter);
  hint->setWordWrap(true);
  setCentralWidget(hint);
  resize(375, 175);
  if (QScreen* screen = QGuiApplication::primaryScreen()) move(screen->geometry().center() - rect().center());
}

void MainFrame::Open() {
  const QString file = QFileDialog::getOpenFileName(this, "Open", project_.isEmpty() ? QString() : QFileInfo(project_).path(),
                                                    "Korvel projects (*.kvp *.kvg *.KVP *.KVG);;All files (*)");
  if (!file.isEmpty()) OpenFile(file);
}

void MainFrame::OpenFile(const QString& file) {
  project_ = file;
  play_->setEnabled(true);
  setWindowTitle("Korvel Player - " + QFileInfo(file).fileName());
  PlayProject();
}

bool MainFrame::PlayProject() {
  if (project_.isEmpty()) return false;
  // The player runs in a process of its own, beside the frame, in the
  // project's folder as a player started on the file would.
  const bool started = QProcess::startDetached(QCoreApplication::applicationFilePath(), {project_},
                                               QFileInfo(project_).path());
  if (!started)
    QMessageBox::warning(this, "Korvel Player", "The player could not be started for " + project_ + ".");
  return started;
}

}  // namespace kv
