#include "shell/remote_bus.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QCoreApplication>
#include <QMetaObject>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <unistd.h>

#include "player/player.h"
#include "stage/hooks.h"

namespace kv {

namespace {

constexpr const char* kObjectPath = "/org/korvel/Player";
constexpr const char* kServiceName = "org.korvel.Player";

}  // namespace

void PlayerBusObject::Send(RemoteMessage message, const QString& object, int command) {
  const RemoteOutcome outcome = player_.Remote(message, object.toStdString(), command);
  if (!outcome.error.empty())
    sendErrorReply(QString::fromStdString(outcome.error), QString::fromStdString(outcome.text));
}

void PlayerBusObject::Pause(const QString& object) { Send(RemoteMessage::kPause, object); }
void PlayerBusObject::Resume(const QString& object) { Send(RemoteMessage::kResume, object); }
void PlayerBusObject::Stop(const QString& object) { Send(RemoteMessage::kStop, object); }
void PlayerBusObject::Close(const QString& object) { Send(RemoteMessage::kClose, object); }
void PlayerBusObject::KillMenu(const QString& object) { Send(RemoteMessage::kKillMenu, object); }
void PlayerBusObject::ShowNewFile() { Send(RemoteMessage::kShowNewFile, {}); }
void PlayerBusObject::ButtonsOn() { Send(RemoteMessage::kButtonsOn, {}); }
void PlayerBusObject::RunScript() { Send(RemoteMessage::kRunScript, {}); }
void PlayerBusObject::StageAction(int command, const QString& object) {
  Send(RemoteMessage::kStageAction, object, command);
}

void PlayerBusObject::ShowStage() {
  if (!showStage || !showStage())
    sendErrorReply("org.korvel.Player.Error.NoWindow", "the player shows no stage window");
}

void PlayerBusObject::Post(const QString& message, const QString& object) {
  auto named = RemoteMessageNamed(message.toStdString());
  if (!named || *named == RemoteMessage::kStageAction) {
    sendErrorReply(QDBusError::InvalidArgs, "not a message this player takes: \"" + message + "\"");
    return;
  }
  Send(*named, object);
}

RemoteControl::RemoteControl(Player& player, std::function<bool()> showStage) {
  // Only a bus that is already there: no daemon is launched for the player.
  const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  std::error_code error;
  const bool known = (address && *address) ||
                     (runtime && *runtime && std::filesystem::exists(std::filesystem::path(runtime) / "bus", error));
  if (!known) {
    std::fprintf(stderr, "korvel: no session bus; remote control is off\n");
    return;
  }
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected()) {
    std::fprintf(stderr, "korvel: no session bus; remote control is off\n");
    return;
  }
  object_ = new PlayerBusObject(player);
  object_->showStage = std::move(showStage);
  // Calls are answered on this thread, so a player whose GUI thread is busy
  // playing still hears them.
  object_->moveToThread(&thread_);
  QObject::connect(&thread_, &QThread::finished, object_, &QObject::deleteLater);
  thread_.start();
  const QString own = QString("%1.pid%2").arg(kServiceName).arg(getpid());
  // Registered from the object's own thread, which answers its calls.
  bool registered = false;
  QMetaObject::invokeMethod(
      object_, [&] { registered = bus.registerObject(kObjectPath, object_, QDBusConnection::ExportAllSlots); },
      Qt::BlockingQueuedConnection);
  if (!registered || !bus.registerService(own)) {
    std::fprintf(stderr, "korvel: the session bus refused the player's name; remote control is off\n");
    bus.unregisterObject(kObjectPath);
    return;
  }
  // The plain name goes to the first player that asks.
  if (QDBusConnectionInterface* iface = bus.interface())
    iface->registerService(kServiceName, QDBusConnectionInterface::DontQueueService,
                           QDBusConnectionInterface::DontAllowReplacement);
  active_ = true;
  // The bus holds incoming calls until the main thread's event loop first
  // turns; a headless run never enters it, so it turns once here.
  if (QThread::currentThread() == QCoreApplication::instance()->thread()) QCoreApplication::processEvents();
}

RemoteControl::~RemoteControl() {
  if (active_) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    bus.unregisterObject(kObjectPath);
    bus.unregisterService(QString("%1.pid%2").arg(kServiceName).arg(getpid()));
    bus.unregisterService(kServiceName);
  }
  thread_.quit();
  thread_.wait();
}

}  // namespace kv
