#include "service/Notify.h"

#include <fcntl.h>
#include <time.h>
#include <unistd.h>

#include <cstddef>
#include <cstdlib>
#include <cstring>

namespace service {

Notify::Notify(const std::string& name) {
  const bool abstract = !name.empty() && name[0] == '@';
  if (name.size() < 2 || (!abstract && name[0] != '/') || name.size() >= sizeof address_.sun_path) return;
  address_.sun_family = AF_UNIX;
  std::memcpy(address_.sun_path, name.data(), name.size());
  if (abstract) address_.sun_path[0] = '\0';  // the name is the bytes after it, without an end
  length_ = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + name.size() + (abstract ? 0 : 1));
  fd_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
}

Notify::~Notify() {
  if (fd_ >= 0) ::close(fd_);
}

std::string Notify::takeFromEnvironment() {
  const char* value = std::getenv(kVariable);
  std::string name = value ? value : "";
  ::unsetenv(kVariable);
  return name;
}

bool Notify::send(const std::string& message) const {
  if (fd_ < 0) return false;
  const auto* to = reinterpret_cast<const sockaddr*>(&address_);
  return ::sendto(fd_, message.data(), message.size(), MSG_NOSIGNAL | MSG_DONTWAIT, to, length_) ==
         static_cast<ssize_t>(message.size());
}

void Notify::reloading() {
  timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  const long long micros = static_cast<long long>(now.tv_sec) * 1000000 + now.tv_nsec / 1000;
  send("RELOADING=1\nMONOTONIC_USEC=" + std::to_string(micros));
}

void Notify::status(const std::string& text) {
  if (!active() || (text == sentStatus_ && !statusTimer_.active())) return;
  wantedStatus_ = text;
  if (statusTimer_.active()) return;  // it goes when the timer fires
  const auto since = std::chrono::steady_clock::now() - sentAt_;
  if (since >= kStatusInterval) return sendStatus();
  statusTimer_.start(
      std::chrono::duration_cast<std::chrono::milliseconds>(kStatusInterval - since) + std::chrono::milliseconds(1),
      [this] { sendStatus(); });
}

void Notify::sendStatus() {
  if (wantedStatus_ == sentStatus_) return;
  sentStatus_ = wantedStatus_;
  sentAt_ = std::chrono::steady_clock::now();
  send("STATUS=" + sentStatus_);
}

}  // namespace service
