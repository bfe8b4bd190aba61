// Work an engine thread hands to the GUI thread, which alone may touch Qt's
// widgets and the clipboard: the caller waits until it is done. On the GUI
// thread itself the work runs at once.
#pragma once

#include <QObject>
#include <QThread>
#include <functional>

namespace kv {

inline void RunOnGuiThread(QObject* gui, const std::function<void()>& work) {
  if (QThread::currentThread() == gui->thread())
    work();
  else
    QMetaObject::invokeMethod(gui, work, Qt::BlockingQueuedConnection);
}

}  // namespace kv
