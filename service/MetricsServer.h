#pragma once
// The metrics responder: HTTP/1.0 and 1.1 on one TCP address, inside the thread's loop. It
// answers only "GET /metrics" (a query string is ignored) with service/MetricsText.h, any other
// path with 404, any other method with 405 and anything it cannot read with 400; one response
// per connection, then it closes. The request head is bounded to kMaxRequestBytes and the
// exchange to kDeadline, so a client that stalls or never reads costs the relay nothing.
#include <chrono>
#include <cstddef>
#include <memory>
#include <string>

#include "service/ExchangeSet.h"

class CSlotSet;

namespace service {

class Listener;

class MetricsServer {
public:
  static constexpr std::size_t kMaxRequestBytes = 8192;
  static constexpr std::chrono::milliseconds kDeadline{5000};
  // Connections served at once; more are closed as they come, so that clients that stall
  // cannot take the descriptors the relay needs.
  static constexpr std::size_t kMaxClients = 16;

  // `slots` not owned; it outlives this. `version` goes into the build info.
  MetricsServer(CSlotSet& slots, std::string version);
  ~MetricsServer();
  MetricsServer(const MetricsServer&) = delete;
  MetricsServer& operator=(const MetricsServer&) = delete;

  // Listens on the literal `address` and `port`; "" when it does, else the reason it cannot.
  std::string open(const std::string& address, int port);
  int clients() const { return exchanges_.size(); }

  // The response to a whole request head (request line and header lines).
  std::string respond(const std::string& head);

private:
  CSlotSet& slots_;
  std::string version_;
  std::unique_ptr<Listener> listener_;
  ExchangeSet exchanges_;
};

}  // namespace service
