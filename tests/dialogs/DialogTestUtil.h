// Helpers for the slot-dialog and port-panel tests: answering modal windows from a timer,
// resetting connections, and a destination that leaves connects hanging.
#pragma once

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QTimer>
#include <functional>
#include <string>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace dlgtest {

// While alive, hands each modal window of type W that comes up to `act` (which closes it).
template <class W>
class ModalWatch {
public:
  explicit ModalWatch(std::function<void(W*)> act) : act_(std::move(act)) {
    QObject::connect(&timer_, &QTimer::timeout, [this] {
      auto* w = qobject_cast<W*>(QApplication::activeModalWidget());
      if (!w || w == busy_) return;
      busy_ = w;  // `act` may run nested loops; each window is handled once
      ++seen;
      act_(w);
      busy_ = nullptr;
    });
    timer_.start(10);
  }
  int seen = 0;

private:
  std::function<void(W*)> act_;
  QTimer timer_;
  W* busy_ = nullptr;
};

// Records the last message box and presses `answer` on it.
struct BoxAnswerer {
  explicit BoxAnswerer(QMessageBox::StandardButton initial = QMessageBox::Ok)
      : answer(initial), watch([this](QMessageBox* box) {
          text = box->text().toStdString();
          icon = box->icon();
          buttons = box->standardButtons();
          box->button(answer)->click();
        }) {}
  int count() const { return watch.seen; }
  QMessageBox::StandardButton answer;
  std::string text;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  QMessageBox::StandardButtons buttons;
  ModalWatch<QMessageBox> watch;
};

// Closes with a reset, so the relay sees an error and ends the pair at once.
inline void resetClose(int& fd) {
  linger l{1, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
  ::close(fd);
  fd = -1;
}

inline int localPortOf(int fd) {
  sockaddr_in a{};
  socklen_t len = sizeof a;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  return ntohs(a.sin_port);
}

// Listens on 127.0.0.1 with a backlog of 0 and never accepts: with one connection queued
// (`filler`), further connects stay in progress because their SYNs are dropped.
struct StalledListener {
  StalledListener() {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::listen(fd, 0);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    port = ntohs(a.sin_port);
    filler = ::socket(AF_INET, SOCK_STREAM, 0);
    ::connect(filler, reinterpret_cast<sockaddr*>(&a), sizeof a);
  }
  ~StalledListener() { ::close(filler), ::close(fd); }
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  int port = 0;
  int filler = -1;
};

}  // namespace dlgtest
