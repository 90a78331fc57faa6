#pragma once
// Serves the thread's socket loop from the Qt event loop: one notifier watches the loop's
// pollable fd and runs a dispatch round whenever something is ready. Modal message boxes and
// dialogs run nested Qt loops, so relaying goes on while they are open.
// Create exactly one per thread, after the QApplication; it does not own the loop.
#include <QObject>

class QSocketNotifier;
namespace net {
class EventLoop;
}

class NetLoopNotifier : public QObject {
  Q_OBJECT
public:
  explicit NetLoopNotifier(net::EventLoop& loop, QObject* parent = nullptr);
  // The calling thread's loop.
  explicit NetLoopNotifier(QObject* parent = nullptr);
  ~NetLoopNotifier() override;

private:
  void onActivated();

  net::EventLoop& loop_;
  QSocketNotifier* notifier_;  // owned as a child
};
