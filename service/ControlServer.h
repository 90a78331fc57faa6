#pragma once
// The control socket of a run: a local stream socket (see service/SocketFile.h) served inside the
// thread's loop, one request per connection (see service/ControlCommands.h), after which the
// server closes. A request line is at most kMaxRequestBytes; the whole exchange has kDeadline, so a
// client that stalls or never reads is closed and the relay never waits for it. Only this user
// (or root) is answered.
#include <chrono>
#include <cstddef>
#include <memory>
#include <string>

#include "service/ControlCommands.h"
#include "service/ExchangeSet.h"
#include "service/SocketFile.h"

namespace service {

class Listener;

class ControlServer {
public:
  static constexpr std::size_t kMaxRequestBytes = 256;
  static constexpr std::chrono::milliseconds kDeadline{5000};
  // Connections served at once; more are closed as they come, so that clients that stall
  // cannot take the descriptors the relay needs.
  static constexpr std::size_t kMaxClients = 16;

  ControlServer(CSlotSet& slots, ControlHooks hooks);  // `slots` not owned; it outlives this
  ~ControlServer();                                    // closes every connection and the socket, and removes its file
  ControlServer(const ControlServer&) = delete;
  ControlServer& operator=(const ControlServer&) = delete;

  // Serves at `path` from now on; "" when it does, else the reason it cannot.
  std::string open(const std::string& path);
  int clients() const { return exchanges_.size(); }

private:
  void accepted(int fd);

  ControlCommands commands_;
  SocketFile file_;
  std::unique_ptr<Listener> listener_;
  ExchangeSet exchanges_;  // after commands_, which its answers use
};

}  // namespace service
