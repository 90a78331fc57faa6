#pragma once
// A name server of the test's own on 127.0.0.1 (UDP, a port of the kernel's choosing), served
// from the loop itself: answers A questions for the names it is given, after the delay given for
// each, with no address to an AAAA question, and "no such name" for every other name.
#include <arpa/inet.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <string>
#include <vector>

#include "Loopback.h"
#include "net/EventLoop.h"
#include "net/TimerQueue.h"

namespace nettest {

class LocalNameServer : private net::EventLoop::Watcher {
public:
  struct Entry {
    std::vector<std::string> v4;  // literal addresses
    std::chrono::milliseconds delay{0};
  };

  LocalNameServer() {
    const sockaddr_in a{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
    ::bind(fd_, reinterpret_cast<const sockaddr*>(&a), sizeof a);
    loop_.setInterest(token_, EPOLLIN);
  }
  virtual ~LocalNameServer() {
    for (net::TimerQueue::Id id : replies_) loop_.timers().cancel(id);
    loop_.remove(token_), ::close(fd_);
  }
  LocalNameServer(const LocalNameServer&) = delete;
  LocalNameServer& operator=(const LocalNameServer&) = delete;

  void set(const std::string& name, Entry entry) { names_[name] = std::move(entry); }
  std::string address() const { return "127.0.0.1:" + std::to_string(testsupport::portOf(fd_)); }    // c-ares' form
  int questions(const std::string& name) const { return asked_.count(name) ? asked_.at(name) : 0; }  // A and AAAA

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
    ++asked_[name];
    auto it = names_.find(name);
    const bool known = it != names_.end();
    const std::vector<std::string> none, &addresses = known && type == 1 ? it->second.v4 : none;
    if (known) delay = it->second.delay;
    std::string r = q.substr(0, 2) + u16(known ? 0x8180 : 0x8183) + u16(1) + u16(static_cast<int>(addresses.size())) +
                    u16(0) + u16(0) + q.substr(12, end + 4 - 12);
    for (const std::string& text : addresses) {
      char raw[4] = {};
      ::inet_pton(AF_INET, text.c_str(), raw);
      r += u16(0xC00C) + u16(type) + u16(1) + u16(0) + u16(60) + u16(4) + std::string(raw, 4);
    }
    return r;
  }

  void onReady(std::uint32_t) override {
    char buf[512];
    sockaddr_in from{};
    socklen_t len = sizeof from;
    const ssize_t n = ::recvfrom(fd_, buf, sizeof buf, MSG_DONTWAIT, reinterpret_cast<sockaddr*>(&from), &len);
    std::chrono::milliseconds delay{0};
    std::string reply = n >= 12 ? answer(std::string(buf, static_cast<std::size_t>(n)), delay) : "";
    if (reply.empty()) return;
    replies_.push_back(loop_.timers().schedule(net::TimerQueue::Clock::now() + delay, [this, reply, from] {
      ::sendto(fd_, reply.data(), reply.size(), 0, reinterpret_cast<const sockaddr*>(&from), sizeof from);
    }));
  }

  net::EventLoop& loop_ = net::EventLoop::current();
  int fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  net::EventLoop::Token token_ = loop_.add(fd_, this);
  std::map<std::string, Entry> names_;
  std::map<std::string, int> asked_;
  std::vector<net::TimerQueue::Id> replies_;  // cancelling one that has gone is ignored
};

}  // namespace nettest
