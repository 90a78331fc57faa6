#include "service/ControlServer.h"

#include <optional>
#include <sys/socket.h>
#include <unistd.h>

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

namespace {

// The request is its first line.
std::optional<std::string> firstLine(const std::string& request) {
  const auto end = request.find('\n');
  if (end == std::string::npos) return std::nullopt;
  std::string line = request.substr(0, end);
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

}  // namespace

ControlServer::ControlServer(CSlotSet& slots, ControlHooks hooks)
    : commands_(slots, std::move(hooks)),
      exchanges_(kMaxClients, {kMaxRequestBytes, kDeadline, "ERR request too long\n\n"},
                 [this](const std::string& request) -> std::optional<std::string> {
                   const std::optional<std::string> line = firstLine(request);
                   return line ? std::optional(commands_.answer(*line)) : std::nullopt;
                 }) {}

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
  if (isOwnUser(fd)) return exchanges_.take(fd);
  ::close(fd);
}

}  // namespace service
