#include "service/MetricsServer.h"

#include <cerrno>
#include <cstring>
#include <optional>
#include <sys/socket.h>
#include <unistd.h>

#include "net/SocketAddress.h"
#include "service/Listener.h"
#include "service/MetricsText.h"
#include "service/SlotReport.h"

namespace service {

namespace {

std::string response(const char* status, const std::string& body, const char* extra = "") {
  return std::string("HTTP/1.1 ") + status + "\r\nContent-Type: " +
         (std::strncmp(status, "200", 3) == 0 ? "text/plain; version=0.0.4; charset=utf-8" : "text/plain") +
         "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n" + extra + "Connection: close\r\n\r\n" + body;
}

// Where the head ends: the first empty line (CRLF or a bare LF, as lenient clients send).
std::optional<std::size_t> headEnd(const std::string& bytes) {
  for (const char* end : {"\r\n\r\n", "\n\n"})
    if (const std::size_t at = bytes.find(end); at != std::string::npos) return at;
  return std::nullopt;
}

}  // namespace

MetricsServer::MetricsServer(CSlotSet& slots, std::string version)
    : slots_(slots),
      version_(std::move(version)),
      exchanges_(kMaxClients, {kMaxRequestBytes, kDeadline, response("400 Bad Request", "request too long\n")},
                 [this](const std::string& request) -> std::optional<std::string> {
                   const std::optional<std::size_t> end = headEnd(request);
                   return end ? std::optional(respond(request.substr(0, *end))) : std::nullopt;
                 }) {}

MetricsServer::~MetricsServer() {
  exchanges_.clear();
  listener_.reset();
}

std::string MetricsServer::open(const std::string& address, int port) {
  net::SocketAddress where;
  if (!net::SocketAddress::parse(address, port, where)) return "METRICS: not a literal address: " + address;
  const int fd = streamSocket(where.family());
  const int on = 1;
  if (fd >= 0 && ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) == 0 &&
      ::bind(fd, where.get(), where.length) == 0 && ::listen(fd, 16) == 0) {
    listener_ = std::make_unique<Listener>(fd, [this](int client) { exchanges_.take(client); });
    return {};
  }
  const int error = errno;
  if (fd >= 0) ::close(fd);
  return "METRICS: " + endpointText(where.text(), port) + ": " + std::strerror(error);
}

std::string MetricsServer::respond(const std::string& head) {
  const std::string line = head.substr(0, head.find_first_of("\r\n"));
  const std::size_t sp1 = line.find(' ');
  const std::size_t sp2 = sp1 == std::string::npos ? sp1 : line.find(' ', sp1 + 1);
  const std::string version = sp2 == std::string::npos ? "" : line.substr(sp2 + 1);
  if (sp2 == std::string::npos || sp1 == 0 || (version != "HTTP/1.0" && version != "HTTP/1.1"))
    return response("400 Bad Request", "bad request\n");
  const std::string method = line.substr(0, sp1);
  const std::string target = line.substr(sp1 + 1, sp2 - sp1 - 1);
  if (method != "GET") return response("405 Method Not Allowed", "only GET\n", "Allow: GET\r\n");
  if (target.substr(0, target.find('?')) != "/metrics") return response("404 Not Found", "not found\n");
  return response("200 OK", metricsText(slots_, version_));
}

}  // namespace service
