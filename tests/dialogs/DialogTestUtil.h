// Helpers for the slot-dialog and port-panel tests: answering modal windows from a timer,
// resetting connections and reading their ports.
#pragma once

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QTimer>
#include <functional>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>

#include "Loopback.h"

namespace dlgtest {

// While alive, hands each modal window of type W that comes up to `act` (which closes it).
template <class W>
struct ModalWatch {
  explicit ModalWatch(std::function<void(W*)> act) {
    QObject::connect(&timer, &QTimer::timeout, [this, act] {
      auto* w = qobject_cast<W*>(QApplication::activeModalWidget());
      if (!w || w == busy) return;
      busy = w, ++seen;  // `act` may run nested loops; each window is handled once
      act(w);
      busy = nullptr;
    });
    timer.start(10);
  }
  int seen = 0;
  QTimer timer;
  W* busy = nullptr;
};

// Records the last message box and presses `answer` on it.
struct BoxAnswerer {
  explicit BoxAnswerer(QMessageBox::StandardButton initial = QMessageBox::Ok)
      : answer(initial), watch([this](QMessageBox* box) { text = box->text().toStdString(), box->button(answer)->click(); }) {}
  int count() const { return watch.seen; }
  QMessageBox::StandardButton answer;
  std::string text;
  ModalWatch<QMessageBox> watch;
};

// Closes with a reset, so the relay sees an error and ends the pair at once.
inline void resetClose(int& fd) {
  const linger l{1, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
  testsupport::closeFd(fd);
}

// The local port of `fd`, or with `peer` the port of the other end.
inline int portOf(int fd, bool peer = false) {
  sockaddr_in a{};
  socklen_t len = sizeof a;
  (peer ? ::getpeername : ::getsockname)(fd, reinterpret_cast<sockaddr*>(&a), &len);
  return ntohs(a.sin_port);
}

}  // namespace dlgtest
