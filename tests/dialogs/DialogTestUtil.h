// Helpers shared by the slot-dialog and port-panel tests: answering modal windows from a
// timer, resetting connections, and a destination that leaves connects hanging.
#pragma once

#include <QApplication>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <string>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace dlgtest {

// While alive, hands every modal window of type W that comes up to `act` (which should close
// it) and counts them. Bounded by its own lifetime; the destructor stops the timer.
template <class W>
class ModalWatch {
public:
  explicit ModalWatch(std::function<void(W*)> act) : act_(std::move(act)) {
    timer_.setInterval(10);
    QObject::connect(&timer_, &QTimer::timeout, [this] {
      auto* w = qobject_cast<W*>(QApplication::activeModalWidget());
      if (!w || w == handling_) return;
      handling_ = w;  // the callback may run nested loops; act on each window once
      ++seen_;
      act_(w);
      handling_ = nullptr;
    });
    timer_.start();
  }
  int seen() const { return seen_; }

private:
  std::function<void(W*)> act_;
  QTimer timer_;
  W* handling_ = nullptr;
  int seen_ = 0;
};

// What a message box showed, captured before it was answered.
struct BoxSeen {
  int count = 0;
  std::string text;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  QMessageBox::StandardButtons buttons;
};

// Records each message box and presses `answer` on it.
class BoxAnswerer {
public:
  explicit BoxAnswerer(QMessageBox::StandardButton answer = QMessageBox::Ok)
      : watch_([this, answer](QMessageBox* box) {
          ++seen.count;
          seen.text = box->text().toStdString();
          seen.icon = box->icon();
          seen.buttons = box->standardButtons();
          if (QAbstractButton* b = box->button(answer)) b->click(); else box->reject();
        }) {}
  BoxSeen seen;

private:
  ModalWatch<QMessageBox> watch_;
};

// Closes with a reset (RST), so the relay sees an error and tears the pair down at once.
inline void resetClose(int& fd) {
  if (fd < 0) return;
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

// A listener on 127.0.0.1 with a backlog of 0 that never accepts: once one connection sits in
// its queue, further connects stay in progress (their SYNs are dropped) until it is closed.
class StalledListener {
public:
  StalledListener() {
    fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 && ::listen(fd_, 0) == 0 &&
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len) == 0) {
      port = ntohs(a.sin_port);
    }
  }
  ~StalledListener() {
    if (fd_ >= 0) ::close(fd_);
  }
  StalledListener(const StalledListener&) = delete;
  StalledListener& operator=(const StalledListener&) = delete;
  int port = 0;

private:
  int fd_ = -1;
};

}  // namespace dlgtest
