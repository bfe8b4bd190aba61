#include "shell/main_frame.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
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

// Frame commands.
constexpr uint32_t kOpenFile = 57601, kOpenProject = 32938, kAbout = 57664, kExit = 57665, kPlayProject = 32943;
constexpr uint32_t kWebPlayer = 32852, kWebEdition = 32853, kWebHome = 32854;
constexpr uint32_t kStageForward = 32872, kStageOrFrame = 32791;

// The stage of a player this frame started lives in that player's process:
// it is asked over the session bus.
bool RaiseStartedStage(qint64 pid) {
  if (pid <= 0) return false;
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected()) return false;
  QDBusMessage call = QDBusMessage::createMethodCall(QString("org.korvel.Player.pid%1").arg(pid), "/org/korvel/Player",
                                                     "org.korvel.Player", "ShowStage");
  return bus.call(call, QDBus::Block, 3000).type() == QDBusMessage::ReplyMessage;
}

}  // namespace

bool MainFrame::Command(uint32_t id) {
  struct Dispatch {
    uint32_t& slot;
    Dispatch(uint32_t& s, uint32_t id) : slot(s) { slot = id; }
    ~Dispatch() { slot = 0; }
  } dispatch(dispatching_, id);
  switch (id) {
    case kOpenFile:
    case kOpenProject: Open(); return true;
    case kExit: close(); return true;
    case kPlayProject: if (play_->isEnabled()) PlayProject(); return true;
    case kAbout: QMessageBox::about(this, "About Korvel", AboutText(version_, PhysicalMemoryKb())); return true;
    case kWebPlayer: OpenWebPage(6179); return true;
    case kWebEdition: OpenWebPage(6180); return true;
    case kWebHome: OpenAddress(kCompanyHomePage); return true;
    case 33115: OpenWebPage(6235); return true;
    case 33119: OpenWebPage(6237); return true;
    case 33120: OpenWebPage(6236); return true;
    case kStageForward: raiseStage_(); return true;
    case kStageOrFrame:
      if (isActiveWindow()) {
        raiseStage_();
      } else {
        if (isMinimized()) showNormal();
        raise();
        activateWindow();
      }
      return true;
    // Help topics: nothing to show.
    case 32955:
    case 33116:
    case 33117: return true;
    default: return false;
  }
}

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
  auto command = [this](uint32_t id) { return [this, id] { Command(id); }; };
  QMenu* file = menuBar()->addMenu("&File");
  QAction* openProject = file->addAction("Open Pro&ject...", this, command(kOpenProject));
  openProject->setShortcut(QKeySequence("Ctrl+J"));
  QAction* open = file->addAction("&Open...", this, command(kOpenFile));
  open->setShortcut(QKeySequence("Ctrl+O"));
  file->addSeparator();
  file->addAction("E&xit", this, command(kExit));
  QMenu* play = menuBar()->addMenu("&Play");
  play_ = play->addAction("&Play Project", this, command(kPlayProject));
  play_->setEnabled(false);
  QMenu* help = menuBar()->addMenu("&Help");
  help->addAction("&About Korvel...", this, command(kAbout));
  QMenu* site = help->addMenu("&Connect to Dunmere Web Site");
  site->addAction("Korvel &Player", this, command(kWebPlayer));
  site->addAction("Korvel &Web Edition", this, command(kWebEdition));
  site->addAction("&Dunmere Home Page", this, command(kWebHome));
  if (!raiseStage_) raiseStage_ = [this] { return RaiseStartedStage(playerPid_); };
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
                                               QFileInfo(project_).path(), &playerPid_);
  if (!started)
    QMessageBox::warning(this, "Korvel Player", "The player could not be started for " + project_ + ".");
  return started;
}

}  // namespace kv
