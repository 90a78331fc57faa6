#include "service/ControlServer.h"

#include <optional>
#include <sys/socket.h>
#include <unistd.h>

#include "service/Exchange.h"
#include "service/Listener.h"

namespace service {

namespace {

bool isOwnUser(int fd) {
  ucred peer{};
  socklen_t length = sizeof peer;
  if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &length) != 0) return false;
  return peer.uid == ::geteuid() || peer.uid == 0;
}

}  // namespace

ControlServer::ControlServer(CSlotSet& slots, ControlHooks hooks) : commands_(slots, std::move(hooks)) {}

ControlServer::~ControlServer() {
  exchanges_.clear();
  listener_.reset();
}

std::string ControlServer::open(const std::string& path) {
  std::string reason;
  const int fd = file_.listen(path, reason);
  if (fd < 0) return reason;
  listener_ = std::make_unique<Listener>(fd, [this](int client) { accepted(client); });
  return {};
}

void ControlServer::accepted(int fd) {
  if (exchanges_.size() >= kMaxClients || !isOwnUser(fd)) {
    ::close(fd);
    return;
  }
  Exchange::Bounds bounds{kMaxRequestBytes, kDeadline, "ERR request too long\n\n"};
  auto answerer = [this](const std::string& request) -> std::optional<std::string> {
    const auto end = request.find('\n');
    if (end == std::string::npos) return std::nullopt;
    std::string line = request.substr(0, end);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return commands_.answer(line);
  };
  auto exchange = std::make_unique<Exchange>(fd, bounds, answerer, [this](Exchange& done) { exchanges_.erase(&done); });
  Exchange* key = exchange.get();
  exchanges_.emplace(key, std::move(exchange));
}

}  // namespace service
