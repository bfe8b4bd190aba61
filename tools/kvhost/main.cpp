// kvhost: a small host for hosted playing. It opens a window, starts korvel
// inside it and answers the player's requests from a folder or from an
// HTTP base address, showing what was asked for. Closing the window ends
// the player (the host's end message). See docs/hosting-protocol.md.
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QCloseEvent>
#include <QLabel>
#include <QMetaObject>
#include <QVBoxLayout>
#include <QWidget>
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "net/host_connection.h"
#include "net/temp_folder.h"
#include "net/url_fetch.h"
#include "platform/paths.h"

namespace {

constexpr const char* kUsage =
    "Usage: kvhost [--korvel PATH] [--size WxH] SOURCE PROJECT\n"
    "Plays PROJECT hosted in a window of its own; every file the player asks for\n"
    "comes from SOURCE: a folder, or an http:// or https:// base address.\n";

bool IsHttp(const std::string& s) { return s.rfind("http://", 0) == 0 || s.rfind("https://", 0) == 0; }

std::string DefaultKorvel() {
  std::error_code ec;
  const auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (!ec) {
    for (const auto& candidate : {self.parent_path() / "korvel", self.parent_path() / "../../shell/korvel"})
      if (std::filesystem::exists(candidate, ec)) return std::filesystem::weakly_canonical(candidate, ec).string();
  }
  return "korvel";  // from PATH
}

// Where the player's names come from.
class Source {
 public:
  explicit Source(std::string where) : where_(std::move(where)) {
    if (IsHttp(where_) && where_.back() != '/') where_ += '/';
  }
  // The base the player is told: an address, or a made-up one for a folder
  // (the player only passes it on to the scripts).
  std::string BaseUrl() const { return IsHttp(where_) ? where_ : "http://kvhost.invalid/"; }

  // A local file for `name`, and whether it is a download to delete after.
  std::optional<std::string> Find(const std::string& name, bool& temporary, std::string& note) {
    temporary = false;
    auto rel = kv::host::RelativeResourcePath(name, BaseUrl());
    if (!rel) {
      note = "refused (outside the source)";
      return std::nullopt;
    }
    if (!IsHttp(where_)) {
      // Stored names ignore letter case; the folder's own spelling is found.
      auto path = kv::ResolveHostPath(*rel, kv::DriveMap(), where_);
      std::error_code ec;
      if (!path || !std::filesystem::is_regular_file(*path, ec)) {
        note = "refused (no such file)";
        return std::nullopt;
      }
      return path;
    }
    if (!temp_) {
      std::string error;
      auto prepared = kv::PrepareUserFolder(kv::DefaultTemporaryFolder(), &error);
      if (!prepared) {
        note = "refused (no temporary folder: " + error + ")";
        return std::nullopt;
      }
      temp_.emplace(*prepared);
    }
    std::string error;
    auto file = kv::FetchUrlToFile(where_ + *rel, *temp_, nullptr, nullptr, {}, &error);
    if (!file) {
      note = "refused (" + error + ")";
      return std::nullopt;
    }
    temporary = true;
    downloads_.push_back(*file);
    return file;
  }
  // Downloads are kept until the player has gone: it may ask again.
  ~Source() {
    for (const auto& path : downloads_) ::unlink(path.c_str());
  }

 private:
  std::string where_;
  std::optional<kv::TempFolder> temp_;
  std::vector<std::string> downloads_;
};

class HostWindow : public QWidget {
 public:
  HostWindow(const QString& title, QSize stageSize) {
    setWindowTitle(title);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    stage_ = new QWidget(this);
    stage_->setAttribute(Qt::WA_NativeWindow);
    stage_->setMinimumSize(stageSize);
    stage_->setStyleSheet("background: black");
    status_ = new QLabel("starting the player...", this);
    layout->addWidget(stage_, 1);
    layout->addWidget(status_);
  }
  unsigned long StageWindowId() { return static_cast<unsigned long>(stage_->winId()); }
  void SetStatus(const QString& text) { status_->setText(text); }
  std::function<void()> onClose;

 protected:
  void closeEvent(QCloseEvent* e) override {
    if (onClose) onClose();
    e->accept();
  }

 private:
  QWidget* stage_;
  QLabel* status_;
};

}  // namespace

int main(int argc, char** argv) {
  std::string korvel = DefaultKorvel();
  QSize stageSize(640, 480);
  std::vector<std::string> plain;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--help") {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (a == "--korvel" && i + 1 < argc) {
      korvel = argv[++i];
    } else if (a == "--size" && i + 1 < argc) {
      int w = 0, h = 0;
      if (std::sscanf(argv[++i], "%dx%d", &w, &h) != 2 || w < 16 || h < 16 || w > 8192 || h > 8192) {
        std::fprintf(stderr, "kvhost: --size takes WxH\n");
        return 64;
      }
      stageSize = QSize(w, h);
    } else {
      plain.push_back(a);
    }
  }
  if (plain.size() != 2) {
    std::fputs(kUsage, stderr);
    return 64;
  }
  Source source(plain[0]);
  const std::string project = plain[1];

  QApplication app(argc, argv);
  HostWindow window(QString::fromStdString("kvhost: " + project), stageSize);
  window.show();

  int fds[2];
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) {
    std::perror("kvhost: socketpair");
    return 1;
  }
  char parent[32];
  std::snprintf(parent, sizeof parent, "0x%lX", window.StageWindowId());
  const std::string server = "fd:" + std::to_string(fds[1]);
  std::vector<std::string> args = {korvel,   "/plugin",  "kvhost", "/server", server, "/parent",
                                   parent,   "/baseurl", source.BaseUrl(), project};
  const pid_t child = fork();
  if (child == 0) {
    // The player's end stays open across exec; ours does not.
    fcntl(fds[1], F_SETFD, 0);
    std::vector<char*> argvChild;
    for (auto& s : args) argvChild.push_back(s.data());
    argvChild.push_back(nullptr);
    execvp(argvChild[0], argvChild.data());
    std::perror("kvhost: cannot start the player");
    _exit(127);
  }
  close(fds[1]);
  if (child < 0) {
    std::perror("kvhost: fork");
    return 1;
  }

  auto status = [&window](const std::string& text) {
    QMetaObject::invokeMethod(&window, [&window, t = QString::fromStdString(text)] { window.SetStatus(t); },
                              Qt::QueuedConnection);
  };
  kv::host::HostConnection connection(fds[0]);
  window.onClose = [&connection] { connection.SendRaw(kv::host::EncodeQuit()); };
  std::atomic<int> served{0};
  std::thread serve([&] {
    std::string error;
    const bool clean = kv::host::ServePlayer(
        connection,
        [&](const std::string& name, const std::string&) -> std::optional<std::string> {
          bool temporary = false;
          std::string note;
          auto file = source.Find(name, temporary, note);
          status((file ? "sending " : "") + name + (file ? "" : ": " + note));
          if (file) ++served;
          return file;
        },
        &error);
    status(clean ? "the player ended (" + std::to_string(served.load()) + " files sent)"
                 : "the player went away" + (error.empty() ? std::string() : ": " + error));
  });
  std::thread reap([&] {
    int st = 0;
    waitpid(child, &st, 0);
    QMetaObject::invokeMethod(&app, [&app] { app.quit(); }, Qt::QueuedConnection);
  });
  const int result = app.exec();
  connection.SendRaw(kv::host::EncodeQuit());
  reap.join();
  ::shutdown(connection.fd(), SHUT_RDWR);
  serve.join();
  return result;
}
