// Remote control of a running player over the session bus: the object
// /org/korvel/Player with the interface org.korvel.Player, one per player,
// under the bus name org.korvel.Player.pid<PID> (and org.korvel.Player while
// no other player holds it). Each method sends the run window one of its
// registered messages.
#pragma once

#include <QDBusContext>
#include <QObject>
#include <QString>
#include <QThread>
#include <functional>
#include <memory>

#include "player/remote_control.h"

namespace kv {

class Player;

class PlayerBusObject : public QObject, protected QDBusContext {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.korvel.Player")

 public:
  explicit PlayerBusObject(Player& player) : player_(player) {}
  // The stage window's own work (GUI thread); unset: the run has no window.
  std::function<bool()> showStage;

 public slots:
  void Pause(const QString& object);
  void Resume(const QString& object);
  void Stop(const QString& object);
  void Close(const QString& object);
  void KillMenu(const QString& object);
  void ShowNewFile();
  void ButtonsOn();
  void RunScript();
  void StageAction(int command, const QString& object);
  // Brings the stage window forward: restored, shown and made the foreground.
  void ShowStage();
  // Any of them by its registered name ("KV_PAUSE", "RUNSCRIPT", ...).
  void Post(const QString& message, const QString& object);

 private:
  void Send(RemoteMessage message, const QString& object, int command = 0);
  Player& player_;
};

// Serves the bus on a thread of its own while it lives. Without a session
// bus it says so once on stderr and the player plays on.
class RemoteControl {
 public:
  // `showStage` brings a windowed run's stage forward (none headless).
  explicit RemoteControl(Player& player, std::function<bool()> showStage = {});
  ~RemoteControl();
  bool active() const { return active_; }

 private:
  QThread thread_;
  PlayerBusObject* object_ = nullptr;
  bool active_ = false;
};

}  // namespace kv
