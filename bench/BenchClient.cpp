#include "BenchClient.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <thread>
#include <vector>

#include "BenchServer.h"
#include "Pattern.h"
#include "ProcStat.h"
#include "Protocol.h"

namespace bench {

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point t0) { return std::chrono::duration<double>(Clock::now() - t0).count(); }

}  // namespace

int connectTo(int port, std::string* error) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    if (error) *error = std::string("socket: ") + std::strerror(errno);
    return -1;
  }
  timeval tv{10, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
  int one = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  sockaddr_in addr = loopbackAddress(port);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    if (error) *error = std::string("connect: ") + std::strerror(errno);
    ::close(fd);
    return -1;
  }
  return fd;
}

bool sendAll(int fd, const void* data, std::size_t len) {
  const char* p = static_cast<const char*>(data);
  while (len > 0) {
    ssize_t n = ::send(fd, p, len, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    len -= static_cast<std::size_t>(n);
  }
  return true;
}

bool recvExact(int fd, void* data, std::size_t len) {
  char* p = static_cast<char*>(data);
  while (len > 0) {
    ssize_t n = ::recv(fd, p, len, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    len -= static_cast<std::size_t>(n);
  }
  return true;
}

namespace {

bool sendHeader(int fd, char command, std::uint64_t length) {
  std::uint8_t header[kHeaderSize];
  putHeader(header, command, length);
  return sendAll(fd, header, sizeof header);
}

// One connect, 1-byte echo, close; false on any failure.
bool echoOnce(int port) {
  int fd = connectTo(port, nullptr);
  if (fd < 0) return false;
  std::uint8_t msg[kHeaderSize + 1];
  putHeader(msg, 'E', 0);
  msg[kHeaderSize] = 'x';
  char back = 0;
  bool ok = sendAll(fd, msg, sizeof msg) && recvExact(fd, &back, 1) && back == 'x';
  ::close(fd);
  return ok;
}

// Sends `bytes` pattern bytes into an echo connection and reads them back,
// both at once so that neither side's buffers can fill up and stall the other.
bool echoBulk(int fd, std::size_t bytes, std::chrono::steady_clock::time_point deadline) {
  const Pattern& pattern = Pattern::instance();
  std::vector<std::uint8_t> in(kChunk);
  std::size_t sent = 0, got = 0;
  while (got < bytes && Clock::now() < deadline) {
    pollfd p{fd, static_cast<short>(POLLIN | (sent < bytes ? POLLOUT : 0)), 0};
    if (::poll(&p, 1, 1000) < 0 && errno != EINTR) return false;
    if (p.revents & POLLOUT) {
      ssize_t n = ::send(fd, pattern.at(sent), std::min(kChunk, bytes - sent), MSG_NOSIGNAL | MSG_DONTWAIT);
      if (n < 0 && errno != EAGAIN) return false;
      if (n > 0) sent += static_cast<std::size_t>(n);
    }
    if (p.revents & (POLLIN | POLLHUP | POLLERR)) {
      ssize_t n = ::recv(fd, in.data(), in.size(), MSG_DONTWAIT);
      if (n == 0 || (n < 0 && errno != EAGAIN)) return false;
      if (n > 0) {
        if (std::memcmp(in.data(), pattern.at(got), static_cast<std::size_t>(n)) != 0) return false;
        got += static_cast<std::size_t>(n);
      }
    }
  }
  return got == bytes;
}

}  // namespace

BulkResult bulkUpload(int port, std::uint64_t bytes, std::chrono::seconds limit) {
  BulkResult r;
  r.bytes = bytes;
  int fd = connectTo(port, &r.error);
  if (fd < 0) return r;
  const Pattern& pattern = Pattern::instance();
  auto t0 = Clock::now();
  auto deadline = t0 + limit;
  bool sent = sendHeader(fd, 'S', bytes);
  for (std::uint64_t done = 0; sent && done < bytes;) {
    if (Clock::now() > deadline) {
      r.error = "time limit";
      break;
    }
    std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(kChunk, bytes - done));
    ssize_t n = ::send(fd, pattern.at(done), want, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      r.error = std::string("send: ") + std::strerror(errno);
      sent = false;
      break;
    }
    done += static_cast<std::uint64_t>(n);
  }
  std::uint8_t reply[kHeaderSize];
  if (sent && r.error.empty()) {
    if (!recvExact(fd, reply, sizeof reply)) {
      r.error = "no verdict from the sink";
    } else {
      r.seconds = secondsSince(t0);
      r.ok = reply[0] == 'K' && headerLength(reply) == bytes;
      if (!r.ok) r.error = "sink saw a different stream (" + std::to_string(headerLength(reply)) + " bytes)";
    }
  }
  ::close(fd);
  return r;
}

BulkResult bulkDownload(int port, std::uint64_t bytes, std::chrono::seconds limit) {
  BulkResult r;
  r.bytes = bytes;
  int fd = connectTo(port, &r.error);
  if (fd < 0) return r;
  const Pattern& pattern = Pattern::instance();
  std::vector<std::uint8_t> buffer(kChunk);
  auto t0 = Clock::now();
  auto deadline = t0 + limit;
  std::uint64_t done = 0;
  bool match = sendHeader(fd, 'O', bytes);
  while (match && done < bytes) {
    if (Clock::now() > deadline) {
      r.error = "time limit";
      break;
    }
    ssize_t n = ::recv(fd, buffer.data(), buffer.size(), 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      r.error = n == 0 ? "closed early" : std::string("recv: ") + std::strerror(errno);
      break;
    }
    std::size_t got = static_cast<std::size_t>(n);
    if (done + got > bytes || std::memcmp(buffer.data(), pattern.at(done), got) != 0) {
      r.error = "stream differs at byte " + std::to_string(done);
      match = false;
    }
    done += got;
  }
  if (r.error.empty() && done == bytes) {
    r.seconds = secondsSince(t0);
    r.ok = true;
  }
  ::close(fd);
  return r;
}

LatencyResult latency(int port, int roundTrips, int warmup, std::chrono::seconds limit) {
  LatencyResult r;
  int fd = connectTo(port, &r.error);
  if (fd < 0) return r;
  if (!sendHeader(fd, 'E', 0)) {
    r.error = "send header";
    ::close(fd);
    return r;
  }
  std::vector<double> samples;
  samples.reserve(static_cast<std::size_t>(roundTrips));
  auto deadline = Clock::now() + limit;
  for (int i = 0; i < warmup + roundTrips && Clock::now() < deadline; ++i) {
    char out = static_cast<char>('a' + i % 26), back = 0;
    auto t0 = Clock::now();
    if (!sendAll(fd, &out, 1) || !recvExact(fd, &back, 1) || back != out) {
      r.error = "echo failed at round trip " + std::to_string(i);
      break;
    }
    if (i >= warmup) samples.push_back(secondsSince(t0) * 1e6);
  }
  ::close(fd);
  if (samples.empty()) return r;
  std::sort(samples.begin(), samples.end());
  auto at = [&](double q) { return samples[static_cast<std::size_t>(q * double(samples.size() - 1))]; };
  r.roundTrips = static_cast<int>(samples.size());
  r.p50us = at(0.50);
  r.p99us = at(0.99);
  r.p999us = at(0.999);
  r.maxUs = samples.back();
  r.ok = r.error.empty() && r.roundTrips == roundTrips;
  if (r.error.empty() && !r.ok) r.error = "time limit";
  return r;
}

RateResult connectRate(int port, int clients, int total, std::chrono::seconds limit) {
  std::atomic<int> claimed{0}, done{0}, failed{0};
  auto t0 = Clock::now();
  auto deadline = t0 + limit;
  std::vector<std::thread> threads;
  for (int t = 0; t < clients; ++t) {
    threads.emplace_back([&] {
      while (claimed.fetch_add(1) < total && Clock::now() < deadline) {
        if (echoOnce(port)) {
          ++done;
        } else if (++failed > total / 10) {
          break;  // the target is refusing; more tries would only measure the refusals
        }
      }
    });
  }
  for (auto& t : threads) t.join();
  RateResult r;
  r.seconds = secondsSince(t0);
  r.done = done;
  r.failed = failed;
  return r;
}

IdleResult idleMemory(int port, int pid, int pairs, const BenchServer& server, std::chrono::seconds limit) {
  IdleResult r;
  auto deadline = Clock::now() + limit;
  auto settle = [] { std::this_thread::sleep_for(std::chrono::milliseconds(300)); };
  int baseline = server.openConnections();
  r.rssBeforeKiB = rssKiB(pid);
  std::vector<int> fds;
  fds.reserve(static_cast<std::size_t>(pairs));
  while (static_cast<int>(fds.size()) < pairs && Clock::now() < deadline) {
    int fd = connectTo(port, &r.error);
    if (fd < 0) break;
    fds.push_back(fd);
  }
  r.pairs = static_cast<int>(fds.size());
  while (server.openConnections() < baseline + r.pairs && Clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  if (server.openConnections() < baseline + r.pairs && r.error.empty()) r.error = "not every pair reached the server";
  settle();
  r.rssQuietKiB = rssKiB(pid);
  std::uint8_t msg[kHeaderSize + 1];
  putHeader(msg, 'E', 0);
  msg[kHeaderSize] = 'x';
  for (std::size_t i = 0; i < fds.size() && r.error.empty(); ++i) {
    char back = 0;
    if (!sendAll(fds[i], msg, sizeof msg) || !recvExact(fds[i], &back, 1) || back != 'x')
      r.error = "echo failed on connection " + std::to_string(i);
  }
  settle();
  r.rssEchoedKiB = rssKiB(pid);
  for (std::size_t i = 0; i < fds.size() && r.error.empty(); ++i)
    if (!echoBulk(fds[i], 1 << 20, deadline)) r.error = "1 MiB echo failed on connection " + std::to_string(i);
  settle();
  r.rssBulkKiB = rssKiB(pid);
  r.ok = r.error.empty() && r.pairs == pairs && r.rssBeforeKiB > 0 && r.rssQuietKiB > 0 && r.rssEchoedKiB > 0 &&
         r.rssBulkKiB > 0;
  for (int fd : fds) ::close(fd);
  // Let the target tear the pairs down before anything else is measured.
  auto teardown = Clock::now() + limit;
  while (server.openConnections() > baseline && Clock::now() < teardown)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  return r;
}

}  // namespace bench
