#include "ui/NetLoopNotifier.h"

#include <QSocketNotifier>

#include "net/EventLoop.h"

NetLoopNotifier::NetLoopNotifier(net::EventLoop& loop, QObject* parent)
    : QObject(parent), loop_(loop), notifier_(new QSocketNotifier(loop.fd(), QSocketNotifier::Read, this)) {
  connect(notifier_, &QSocketNotifier::activated, this, &NetLoopNotifier::onActivated);
}

NetLoopNotifier::NetLoopNotifier(QObject* parent) : NetLoopNotifier(net::EventLoop::current(), parent) {}

NetLoopNotifier::~NetLoopNotifier() = default;

void NetLoopNotifier::onActivated() {
  // The epoll fd is level-triggered: whatever this round leaves ready fires the notifier again.
  loop_.dispatch();
}
