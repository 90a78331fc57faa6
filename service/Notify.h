#pragma once
// The service manager's readiness messages: one datagram each to the socket NOTIFY_SOCKET
// names (a path, or an abstract name written with a leading '@'), sent without waiting. A
// manager that is gone, slow or absent never holds up or fails the program.
#include <sys/socket.h>
#include <sys/un.h>

#include <chrono>
#include <string>

#include "net/TimerQueue.h"

namespace service {

class Notify {
public:
  static constexpr const char* kVariable = "NOTIFY_SOCKET";
  static constexpr std::chrono::milliseconds kStatusInterval{1000};

  // `socketName` as NOTIFY_SOCKET holds it; "" (or a name that is neither an absolute path nor
  // '@' and a name, or too long) sends nothing.
  explicit Notify(const std::string& socketName);
  ~Notify();
  Notify(const Notify&) = delete;
  Notify& operator=(const Notify&) = delete;

  // NOTIFY_SOCKET's value, taken out of the environment so that nothing the program starts
  // later speaks for it.
  static std::string takeFromEnvironment();

  bool active() const { return fd_ >= 0; }
  void ready() { send("READY=1"); }
  // RELOADING=1 with the monotonic clock's time in microseconds, as the manager matches it.
  void reloading();
  void stopping() { send("STOPPING=1"); }
  // STATUS=text when it differs from the last one sent, at most once per kStatusInterval: a
  // text given sooner waits on a loop timer, and the last one given by then goes.
  void status(const std::string& text);
  // One datagram; false when it could not be sent (nothing else happens).
  bool send(const std::string& message) const;

private:
  void sendStatus();

  int fd_ = -1;
  sockaddr_un address_{};
  socklen_t length_ = 0;
  std::string sentStatus_;
  std::string wantedStatus_;
  std::chrono::steady_clock::time_point sentAt_{};
  net::Timer statusTimer_;
};

}  // namespace service
