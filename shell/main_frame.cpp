#include "shell/main_frame.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QProcess>
#include <QScreen>
#include <QUrl>
#include <unistd.h>

#include "platform/string_table.h"
#include "platform/text.h"

namespace kv {

namespace {

constexpr const char* kCompanyHomePage = "https://dunmere.example.com/";
// "Unable to spawn the external browser for resource '%s'..."
constexpr uint32_t kUnableToSpawnBrowser = 51504;
constexpr uint32_t kMemoryKb = 210;
// The shell's "file not found" answer, shown when no handler could start.
constexpr unsigned kShellFileNotFound = 2;

}  // namespace

uint64_t PhysicalMemoryKb() {
  const long pages = sysconf(_SC_PHYS_PAGES), size = sysconf(_SC_PAGESIZE);
  return pages > 0 && size > 0 ? uint64_t(pages) * uint64_t(size) / 1024 : 0;
}

QString AboutText(const QString& ownVersion, uint64_t physicalKb) {
  QString memory = QString::fromLatin1(LoadString(kMemoryKb));
  memory.replace("%lu", QString::number(physicalKb));
  return QString("Version 4.1.20, Build 20, 4.1.20 Release\nKorvel Player %1\nPhysical memory: %2").arg(ownVersion, memory);
}

MainFrame::MainFrame(QString version, WebOpener opener) : version_(std::move(version)), opener_(std::move(opener)) {
  if (!opener_) opener_ = [](const QString& address) { return QDesktopServices::openUrl(QUrl(address)); };
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
  help->addAction("&About Korvel...", this,
                  [this] { QMessageBox::about(this, "About Korvel", AboutText(version_, PhysicalMemoryKb())); });
  QMenu* site = help->addMenu("&Connect to Dunmere Web Site");
  site->addAction("Korvel &Player", this, [this] { OpenWebPage(6179); });
  site->addAction("Korvel &Web Edition", this, [this] { OpenWebPage(6180); });
  site->addAction("&Dunmere Home Page", this, [this] { OpenAddress(kCompanyHomePage); });
  auto* hint = new QLabel("Open a project or compilation (File > Open) to play it.", this);
  hint->setAlignment(Qt::AlignCenter);
  hint->setWordWrap(true);
  setCentralWidget(hint);
  resize(375, 175);
  if (QScreen* screen = QGuiApplication::primaryScreen()) move(screen->geometry().center() - rect().center());
}

bool MainFrame::OpenWebPage(uint32_t id) { return OpenAddress(QString::fromStdString(Cp1252ToUtf8(LoadString(id)))); }

bool MainFrame::OpenAddress(const QString& address) {
  QGuiApplication::setOverrideCursor(Qt::BusyCursor);
  const bool opened = !address.isEmpty() && opener_(address);
  QGuiApplication::restoreOverrideCursor();
  if (!opened) {
    QString text = QString::fromStdString(Cp1252ToUtf8(LoadString(kUnableToSpawnBrowser)));
    text.replace("%s", address).replace("%u", QString::number(kShellFileNotFound));
    QMessageBox::warning(this, QString::fromStdString(Cp1252ToUtf8(LoadString(sid::kAppName))), text);
  }
  return opened;
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
