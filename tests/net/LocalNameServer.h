#pragma once
// A name server of the test's own on 127.0.0.1 (UDP, a port of the kernel's choosing): answers A
// and AAAA questions for the names it is given, after the delay given for each, and "no such
// name" for every other. Runs on a thread; every wait in it is bounded.
#include <arpa/inet.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

namespace nettest {

class LocalNameServer {
public:
  struct Entry {
    std::vector<std::string> v4, v6;  // literal addresses
    std::chrono::milliseconds delay{0};
  };

  LocalNameServer() {
    sockaddr_in a{};
    a.sin_family = AF_INET, a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    ::bind(fd_, reinterpret_cast<sockaddr*>(&a), len);
    ::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
    thread_ = std::thread([this] { run(); });
  }
  ~LocalNameServer() { stop_ = true, thread_.join(), ::close(fd_); }
  LocalNameServer(const LocalNameServer&) = delete;
  LocalNameServer& operator=(const LocalNameServer&) = delete;

  void set(const std::string& name, Entry entry) {
    std::lock_guard lock(mutex_);
    names_[name] = std::move(entry);
  }
  std::string address() const { return "127.0.0.1:" + std::to_string(port_); }  // c-ares' form
  int questions(const std::string& name) const {  // A and AAAA questions seen for the name
    std::lock_guard lock(mutex_);
    return asked_.count(name) ? asked_.at(name) : 0;
  }

private:
  static std::string u16(int v) { return {static_cast<char>((v >> 8) & 0xFF), static_cast<char>(v & 0xFF)}; }

  // The reply to a question, and after how long; empty for what is no question.
  std::string answer(const std::string& q, std::chrono::milliseconds& delay) {
    std::string name;
    std::size_t at = 12;
    for (; at < q.size() && q[at] != 0; at += static_cast<unsigned char>(q[at]) + 1u)
      name += (name.empty() ? "" : ".") + q.substr(at + 1, static_cast<unsigned char>(q[at]));
    const std::size_t end = at + 1;  // the question's type and class follow the name
    if (end + 4 > q.size()) return {};
    std::transform(name.begin(), name.end(), name.begin(), ::tolower);
    const int type = static_cast<unsigned char>(q[end]) << 8 | static_cast<unsigned char>(q[end + 1]);
    const bool v6 = type == 28;
    std::lock_guard lock(mutex_);
    ++asked_[name];
    auto it = names_.find(name);
    const bool known = it != names_.end();
    const std::vector<std::string> none,
        &addresses = !known ? none : type == 1 ? it->second.v4 : v6 ? it->second.v6 : none;
    if (known) delay = it->second.delay;
    std::string r = q.substr(0, 2) + u16(known ? 0x8180 : 0x8183) + u16(1) + u16(static_cast<int>(addresses.size())) +
                    u16(0) + u16(0) + q.substr(12, end + 4 - 12);
    for (const std::string& text : addresses) {
      char raw[16] = {};
      ::inet_pton(v6 ? AF_INET6 : AF_INET, text.c_str(), raw);
      r += u16(0xC00C) + u16(type) + u16(1) + u16(0) + u16(60) + u16(v6 ? 16 : 4) + std::string(raw, v6 ? 16 : 4);
    }
    return r;
  }

  void run() {
    std::vector<std::tuple<std::chrono::steady_clock::time_point, std::string, sockaddr_in>> due;
    while (!stop_) {
      const auto now = std::chrono::steady_clock::now();
      std::erase_if(due, [&](auto& d) {
        auto& [when, packet, to] = d;
        if (when > now) return false;
        ::sendto(fd_, packet.data(), packet.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
        return true;
      });
      pollfd p{fd_, POLLIN, 0};
      char buf[512];
      sockaddr_in from{};
      socklen_t len = sizeof from;
      const ssize_t n =
          ::poll(&p, 1, 10) > 0 ? ::recvfrom(fd_, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &len) : 0;
      std::chrono::milliseconds delay{0};
      std::string reply = n >= 12 ? answer(std::string(buf, static_cast<std::size_t>(n)), delay) : "";
      if (!reply.empty()) due.emplace_back(now + delay, std::move(reply), from);
    }
  }

  int fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  int port_ = 0;
  std::atomic<bool> stop_{false};
  mutable std::mutex mutex_;
  std::map<std::string, Entry> names_;
  std::map<std::string, int> asked_;
  std::thread thread_;
};

}  // namespace nettest
