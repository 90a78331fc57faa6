#include "LocalNameServer.h"

#include <algorithm>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace nettest {
namespace {

constexpr int kTypeA = 1, kTypeAAAA = 28;

std::string u16(int v) { return {static_cast<char>((v >> 8) & 0xFF), static_cast<char>(v & 0xFF)}; }
int readU16(const std::string& s, std::size_t at) {
  return at + 1 < s.size() ? (static_cast<unsigned char>(s[at]) << 8) | static_cast<unsigned char>(s[at + 1]) : -1;
}

// The question's name in dotted form, lower case; the offset after it in `end`.
std::string questionName(const std::string& q, std::size_t& end) {
  std::string name;
  std::size_t at = 12;
  while (at < q.size() && q[at] != 0) {
    std::size_t len = static_cast<unsigned char>(q[at]);
    if (!name.empty()) name += '.';
    name += q.substr(at + 1, len);
    at += len + 1;
  }
  end = at + 1;
  std::transform(name.begin(), name.end(), name.begin(), ::tolower);
  return name;
}

}  // namespace

LocalNameServer::LocalNameServer() {
  fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a);
  socklen_t len = sizeof a;
  ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
  port_ = ntohs(a.sin_port);
  thread_ = std::thread([this] { run(); });
}

LocalNameServer::~LocalNameServer() {
  stop_ = true;
  thread_.join();
  ::close(fd_);
}

void LocalNameServer::set(const std::string& name, Entry entry) {
  std::lock_guard<std::mutex> lock(mutex_);
  names_[name] = std::move(entry);
}

int LocalNameServer::questions(const std::string& name) const {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = asked_.find(name);
  return it == asked_.end() ? 0 : it->second;
}

std::string LocalNameServer::answer(const std::string& query, std::chrono::milliseconds& delay, bool& silent) {
  std::size_t end = 0;
  const std::string name = questionName(query, end);
  const int type = readU16(query, end);
  if (type < 0 || end + 4 > query.size()) return {};
  std::lock_guard<std::mutex> lock(mutex_);
  ++asked_[name];
  auto it = names_.find(name);
  const bool known = it != names_.end();
  std::vector<std::string> addresses;
  if (known) {
    delay = it->second.delay;
    silent = it->second.silent;
    addresses = type == kTypeA ? it->second.v4 : type == kTypeAAAA ? it->second.v6 : addresses;
  }
  std::string r = query.substr(0, 2) + u16(known ? 0x8180 : 0x8183) + u16(1) + u16(static_cast<int>(addresses.size())) +
                  u16(0) + u16(0) + query.substr(12, end + 4 - 12);
  for (const std::string& text : addresses) {
    char raw[16] = {};
    const bool v6 = type == kTypeAAAA;
    ::inet_pton(v6 ? AF_INET6 : AF_INET, text.c_str(), raw);
    r += u16(0xC00C) + u16(type) + u16(1) + u16(0) + u16(60) + u16(v6 ? 16 : 4) + std::string(raw, v6 ? 16 : 4);
  }
  return r;
}

void LocalNameServer::run() {
  while (!stop_) {
    auto now = std::chrono::steady_clock::now();
    for (auto it = due_.begin(); it != due_.end();) {
      if (it->when > now) {
        ++it;
        continue;
      }
      ::sendto(fd_, it->packet.data(), it->packet.size(), 0, reinterpret_cast<const sockaddr*>(it->to.data()),
               static_cast<socklen_t>(it->to.size()));
      it = due_.erase(it);
    }
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, 10) <= 0) continue;
    char buf[512];
    sockaddr_in from{};
    socklen_t len = sizeof from;
    ssize_t n = ::recvfrom(fd_, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &len);
    if (n < 12) continue;
    std::chrono::milliseconds delay{0};
    bool silent = false;
    std::string reply = answer(std::string(buf, static_cast<std::size_t>(n)), delay, silent);
    if (reply.empty() || silent) continue;
    due_.push_back({now + delay, reply, std::string(reinterpret_cast<const char*>(&from), len)});
  }
}

}  // namespace nettest
