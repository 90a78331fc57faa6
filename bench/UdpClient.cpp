#include "UdpClient.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <deque>
#include <memory>
#include <utility>
#include <vector>

#include "Pattern.h"

namespace bench {
namespace {

using Clock = std::chrono::steady_clock;
constexpr std::size_t kHeader = 8;  // the sequence number
constexpr std::size_t kMaxDatagram = 65507;
constexpr std::size_t kReceiveBuffer = 65536;  // one more than the largest, so a longer echo shows

// Every socket and every datagram starts somewhere else in the pattern, so an echo swapped
// between two sessions or two datagrams cannot match.
std::uint64_t offsetOf(std::uint64_t seq, int flow) { return seq * 8191 + std::uint64_t(flow) * 131071; }

class Socket {
public:
  explicit Socket(int port);
  ~Socket() {
    if (fd_ >= 0) ::close(fd_);
  }
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;
  int fd() const { return fd_; }

private:
  int fd_ = -1;
};

// Connected, so only the relay's (or the echo server's) address gets through, and the kernel
// reports an ICMP refusal as ECONNREFUSED.
Socket::Socket(int port) {
  fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd_ < 0) return;
  int size = 4 << 20;
  ::setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
  ::setsockopt(fd_, SOL_SOCKET, SO_SNDBUF, &size, sizeof size);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<std::uint16_t>(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    ::close(fd_);
    fd_ = -1;
  }
}

// 0 when the whole datagram went out, else the errno.
int sendDatagram(int fd, std::uint64_t seq, int flow, std::size_t size) {
  std::uint64_t header = seq;
  iovec parts[2] = {{&header, kHeader},
                    {const_cast<std::uint8_t*>(Pattern::instance().at(offsetOf(seq, flow))), size - kHeader}};
  msghdr m{};
  m.msg_iov = parts;
  m.msg_iovlen = 2;
  const ssize_t n = ::sendmsg(fd, &m, 0);
  if (n < 0) return errno;
  return std::size_t(n) == size ? 0 : EMSGSIZE;
}

// Reads an echo's sequence number into `seq` and checks the rest; empty when it is what was sent.
std::string check(const char* data, ssize_t n, std::size_t size, int flow, std::uint64_t sentUpTo, std::uint64_t& seq) {
  if (n < 0 || std::size_t(n) != size)
    return "an echo of " + std::to_string(n) + " bytes for datagrams of " + std::to_string(size);
  std::memcpy(&seq, data, kHeader);
  if (seq >= sentUpTo) return "an echo of datagram #" + std::to_string(seq) + ", which was never sent";
  if (std::memcmp(data + kHeader, Pattern::instance().at(offsetOf(seq, flow)), size - kHeader) != 0)
    return "the echo of datagram #" + std::to_string(seq) + " came back changed";
  return {};
}

int millisUntil(Clock::time_point t, int atMost) {
  const auto left = std::chrono::duration_cast<std::chrono::microseconds>(t - Clock::now()).count();
  return int(std::clamp<long long>((left + 999) / 1000, 0, atMost));
}

bool transient(int err) { return err == EAGAIN || err == EWOULDBLOCK || err == ENOBUFS || err == EINTR; }

}  // namespace

UdpRttResult udpRoundTrips(int port, int count, int warmup, std::chrono::milliseconds lossTimeout,
                           std::chrono::seconds limit) {
  UdpRttResult r;
  Socket s(port);
  if (s.fd() < 0) return r.error = "socket: " + std::string(std::strerror(errno)), r;
  std::vector<double> times;
  times.reserve(std::size_t(count));
  std::vector<char> buffer(kReceiveBuffer);
  const auto end = Clock::now() + limit;
  const std::uint64_t total = std::uint64_t(warmup) + std::uint64_t(count);
  std::uint64_t seq = 0;
  for (; seq < total && Clock::now() < end; ++seq) {
    const auto sent = Clock::now();
    const int err = sendDatagram(s.fd(), seq, 0, 64);
    if (err && err != ECONNREFUSED && !transient(err)) return r.error = std::string("send: ") + std::strerror(err), r;
    const auto deadline = sent + lossTimeout;
    bool back = false;
    while (!back && Clock::now() < deadline) {
      pollfd p{s.fd(), POLLIN, 0};
      ::poll(&p, 1, millisUntil(deadline, 1000));
      for (;;) {
        const ssize_t n = ::recv(s.fd(), buffer.data(), buffer.size(), MSG_DONTWAIT);
        if (n < 0 && (errno == ECONNREFUSED || errno == EINTR)) continue;
        if (n < 0) break;
        if (n == 0) continue;
        std::uint64_t got = 0;
        std::string wrong = check(buffer.data(), n, 64, 0, seq + 1, got);
        if (!wrong.empty()) return r.error = wrong, r;
        if (got != seq) continue;  // one that had been given up on
        back = true;
        if (seq >= std::uint64_t(warmup))
          times.push_back(std::chrono::duration<double, std::micro>(Clock::now() - sent).count());
        break;
      }
    }
    if (!back && seq >= std::uint64_t(warmup)) ++r.lost;
  }
  if (seq < total) return r.error = "time limit after " + std::to_string(seq) + " round trips", r;
  if (times.empty()) return r.error = "no echo came back", r;
  std::sort(times.begin(), times.end());
  r.p50us = times[times.size() / 2];
  r.p99us = times[times.size() * 99 / 100];
  r.ok = true;
  return r;
}

namespace {

enum State : std::uint8_t { Unsent, Waiting, Answered, Lost, Late };

// One socket of a windowed run: its datagrams in flight and what became of each one sent.
struct Flow {
  explicit Flow(int port) : socket(port) {}
  Socket socket;
  std::uint64_t next = 0;  // the sequence number of the next datagram
  int inFlight = 0;
  std::vector<std::uint8_t> state;                                // per sequence number
  std::deque<std::pair<std::uint64_t, Clock::time_point>> queue;  // sent, with deadlines, in order
};

class WindowedRun {
public:
  explicit WindowedRun(const UdpLoad& load) : load_(load), buffer_(kReceiveBuffer) {
    r_.size = load.size;
    for (int i = 0; i < load.clients; ++i) {
      flows_.push_back(std::make_unique<Flow>(load.port));
      flows_.back()->state.assign(load.count, Unsent);
    }
  }

  UdpLoadResult run();

private:
  bool fill(Flow& flow, int index, Clock::time_point now);  // false on an error
  void expire(Flow& flow, Clock::time_point now);
  bool drain(Flow& flow, int index);  // false on an error

  const UdpLoad& load_;
  std::vector<std::unique_ptr<Flow>> flows_;
  std::vector<char> buffer_;
  UdpLoadResult r_;
  Clock::time_point lastAnswer_;
  bool blocked_ = false;  // a send found the socket's buffer full: try again soon
};

bool WindowedRun::fill(Flow& f, int index, Clock::time_point now) {
  while (f.inFlight < load_.window && f.next < load_.count) {
    const int err = sendDatagram(f.socket.fd(), f.next, index, load_.size);
    if (transient(err)) return blocked_ = true, true;
    // ECONNREFUSED: an earlier datagram drew an ICMP refusal. This one is counted as sent and
    // will time out, so a relay that refuses shows as loss.
    if (err && err != ECONNREFUSED) return r_.error = std::string("send: ") + std::strerror(err), false;
    f.state[f.next] = Waiting;
    f.queue.emplace_back(f.next, now + load_.lossTimeout);
    ++f.next, ++f.inFlight, ++r_.sent;
  }
  return true;
}

void WindowedRun::expire(Flow& f, Clock::time_point now) {
  while (!f.queue.empty() && (f.state[f.queue.front().first] != Waiting || f.queue.front().second <= now)) {
    std::uint8_t& s = f.state[f.queue.front().first];
    if (s == Waiting) s = Lost, --f.inFlight, ++r_.lost;
    f.queue.pop_front();
  }
}

bool WindowedRun::drain(Flow& f, int index) {
  for (;;) {
    const ssize_t n = ::recv(f.socket.fd(), buffer_.data(), buffer_.size(), MSG_DONTWAIT);
    if (n < 0 && (errno == ECONNREFUSED || errno == EINTR)) continue;
    if (n < 0) return true;
    if (n == 0) {
      ++r_.empty;
      continue;
    }
    std::uint64_t seq = 0;
    std::string wrong = check(buffer_.data(), n, load_.size, index, f.next, seq);
    if (!wrong.empty()) return r_.error = wrong, false;
    std::uint8_t& s = f.state[seq];
    if (s == Answered || s == Late) return r_.error = "datagram #" + std::to_string(seq) + " came back twice", false;
    if (s == Lost) {
      s = Late, ++r_.late;
      continue;
    }
    s = Answered, --f.inFlight, ++r_.answered;
    lastAnswer_ = Clock::now();
  }
}

UdpLoadResult WindowedRun::run() {
  if (load_.size < kHeader || load_.size > kMaxDatagram) return r_.error = "datagram size out of range", r_;
  std::vector<pollfd> polled;
  for (const auto& f : flows_) {
    if (f->socket.fd() < 0) return r_.error = "socket: " + std::string(std::strerror(errno)), r_;
    polled.push_back({f->socket.fd(), POLLIN, 0});
  }
  const auto start = Clock::now();
  const auto stopSending = start +
                           std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(load_.duration));
  lastAnswer_ = start;
  for (;;) {
    const auto now = Clock::now();
    const bool sending = now < stopSending;
    bool waiting = false;
    blocked_ = false;
    Clock::time_point nextDeadline = now + std::chrono::milliseconds(50);
    for (std::size_t i = 0; i < flows_.size(); ++i) {
      Flow& f = *flows_[i];
      if (sending && !fill(f, int(i), now)) return r_;
      expire(f, now);
      if (f.inFlight > 0) waiting = true;
      if (!f.queue.empty()) nextDeadline = std::min(nextDeadline, f.queue.front().second);
    }
    // Every datagram sent has a deadline, so this ends within the loss timeout of the last send.
    if (!waiting &&
        (!sending || std::all_of(flows_.begin(), flows_.end(), [&](const auto& f) { return f->next >= load_.count; })))
      break;
    if (::poll(polled.data(), polled.size(), blocked_ ? 1 : millisUntil(nextDeadline, 50)) <= 0) continue;
    for (std::size_t i = 0; i < flows_.size(); ++i)
      if (polled[i].revents && !drain(*flows_[i], int(i))) return r_;
  }
  r_.seconds = std::chrono::duration<double>(lastAnswer_ - start).count();
  r_.ok = true;
  return r_;
}

}  // namespace

UdpLoadResult udpWindowed(const UdpLoad& load) {
  if (load.clients < 1 || load.window < 1 || load.count < 1) {
    UdpLoadResult r;
    r.error = "nothing to send";
    return r;
  }
  WindowedRun run(load);
  return run.run();
}

bool udpAnswers(int port) {
  UdpLoad probe;
  probe.port = port;
  probe.window = 1;
  probe.count = 5;
  probe.duration = std::chrono::seconds(1);
  const UdpLoadResult r = udpWindowed(probe);
  return r.ok && r.answered > 0;
}

}  // namespace bench
