#include "service/ControlClient.h"

#include <cerrno>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace service {

namespace {

using Clock = std::chrono::steady_clock;

// Waits for `events` on fd until `deadline`; false when the time ran out first.
bool waitFor(int fd, short events, Clock::time_point deadline) {
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) return false;
    pollfd p{fd, events, 0};
    const int n = ::poll(&p, 1, static_cast<int>(left));
    if (n > 0) return true;
    if (n < 0 && errno != EINTR) return false;
  }
}

bool sendAll(int fd, const std::string& text, Clock::time_point deadline) {
  for (std::size_t sent = 0; sent < text.size();) {
    const ssize_t n = ::send(fd, text.data() + sent, text.size() - sent, MSG_DONTWAIT | MSG_NOSIGNAL);
    if (n > 0) sent += static_cast<std::size_t>(n);
    else if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
      if (!waitFor(fd, POLLOUT, deadline)) return false;
    } else {
      return false;
    }
  }
  return true;
}

// Everything up to the answer's empty line (or the server's close).
bool receiveAnswer(int fd, std::string& text, Clock::time_point deadline) {
  char chunk[4096];
  while (text.find("\n\n") == std::string::npos && text.size() <= kMaxAnswerBytes) {
    const ssize_t n = ::recv(fd, chunk, sizeof chunk, MSG_DONTWAIT);
    if (n > 0) text.append(chunk, static_cast<std::size_t>(n));
    else if (n == 0)
      return !text.empty();
    else if (errno != EAGAIN && errno != EINTR)
      return false;
    else if (!waitFor(fd, POLLIN, deadline))
      return false;
  }
  return text.size() <= kMaxAnswerBytes;
}

void parse(const std::string& text, ControlAnswer& answer) {
  std::size_t at = 0;
  std::vector<std::string> lines;
  while (at < text.size()) {
    const std::size_t end = text.find('\n', at);
    std::string line = text.substr(at, end == std::string::npos ? std::string::npos : end - at);
    if (line.empty()) break;
    lines.push_back(std::move(line));
    if (end == std::string::npos) break;
    at = end + 1;
  }
  answer.outcome = ControlAnswer::Outcome::Answered;
  answer.ok = !lines.empty() && lines[0] == "OK";
  if (!answer.ok)
    answer.reason = lines.empty() ? "empty answer" : lines[0].substr(lines[0].rfind("ERR ", 0) == 0 ? 4 : 0);
  if (!lines.empty()) answer.lines.assign(lines.begin() + 1, lines.end());
}

}  // namespace

ControlAnswer askControl(const std::string& socketPath, const std::string& request, std::chrono::milliseconds timeout) {
  ControlAnswer answer;
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (socketPath.empty() || socketPath.size() >= sizeof address.sun_path) return answer;
  std::memcpy(address.sun_path, socketPath.data(), socketPath.size());
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) return answer;
  const auto deadline = Clock::now() + timeout;
  // A non-blocking local connect does not wait: it is taken, refused, or the server's backlog
  // is full (a server that does not get round to accepting).
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    answer.outcome = errno == EAGAIN ? ControlAnswer::Outcome::NoAnswer : ControlAnswer::Outcome::NotServed;
    ::close(fd);
    return answer;
  }
  std::string text;
  answer.outcome = ControlAnswer::Outcome::NoAnswer;
  if (sendAll(fd, request + "\n", deadline) && receiveAnswer(fd, text, deadline)) parse(text, answer);
  ::close(fd);
  return answer;
}

}  // namespace service
