// Fault soak of the relay engine (not a test): for a set time, many concurrent connections
// through one relay, with random sizes, resets from either side, half-closes answered by a
// reply, slow readers and a destination that goes away and comes back. Every byte that arrives
// is compared with the byte the other end sent.
//
//   relvane-soak [--minutes M] [--connections N] [--seed S]
//
// One process: the relay runs on a thread of its own (its own loop, as in the program); the
// destination and the clients are blocking sockets on threads, one per connection. Prints one
// line of totals per 10 s and a summary; exits 1 if any byte was corrupted, lost before a
// reset, or a reset arrived as an orderly end.
#include <arpa/inet.h>
#include <fcntl.h>
#include <linux/sockios.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "Pattern.h"
#include "net/AsyncSocket.h"
#include "net/EventLoop.h"
#include "net/TcpRepeater.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

enum Mode : std::uint8_t { Both, HalfCloseReply, ClientReset, ServerReset, SlowReader, kModes };
const char* const kModeNames[] = {"both ways", "half-close + reply", "client reset", "server reset", "slow reader"};

// What a connection asks of the destination; sent first by the client.
struct Header {
  std::uint32_t id;
  std::uint32_t up;                    // bytes the client sends
  std::uint32_t down;                  // bytes the destination sends
  std::uint32_t resetAt;               // ClientReset / ServerReset: the side resets after this many bytes
  std::uint64_t upOffset, downOffset;  // where in the pattern each stream starts
  std::uint8_t mode;
};

// How one side saw the stream it read.
struct Received {
  std::uint64_t bytes = 0;
  bool corrupt = false;
  bool reset = false;  // ended in ECONNRESET (else an orderly end, or a timeout)
  bool timedOut = false;
};

struct Totals {
  std::atomic<std::uint64_t> connections{0}, bytes{0}, refusedWhileDown{0};
  std::atomic<std::uint64_t> injected[kModes]{};
  std::atomic<std::uint64_t> restarts{0}, corrupted{0}, lostBeforeReset{0}, resetAsEnd{0}, incomplete{0};
} totals;

std::FILE* out = stderr;  // standard output carries the engine's trace (to /dev/null here)
std::atomic<int> serving{0};

int listenOn(int port) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  int on = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(static_cast<std::uint16_t>(port));
  if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(fd, 1024) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

int boundPort(int fd) {
  sockaddr_in a{};
  socklen_t len = sizeof a;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  return ntohs(a.sin_port);
}

bool waitFor(int fd, short events, int ms) {
  pollfd p{fd, events, 0};
  return ::poll(&p, 1, ms) == 1;
}

// 0 when every byte went, else the error that stopped it (ETIMEDOUT when nothing moved).
int sendPattern(int fd, std::uint64_t offset, std::uint64_t n) {
  const auto& pattern = bench::Pattern::instance();
  for (std::uint64_t sent = 0; sent < n;) {
    if (!waitFor(fd, POLLOUT, 20000)) return ETIMEDOUT;
    std::size_t chunk = static_cast<std::size_t>(std::min<std::uint64_t>(n - sent, 65536));
    ssize_t k = ::send(fd, pattern.at(offset + sent), chunk, MSG_NOSIGNAL);
    if (k <= 0) return k < 0 ? errno : EPIPE;
    sent += static_cast<std::uint64_t>(k);
  }
  return 0;
}

// A reset is reported to one call only: when the writer of a socket took it, the reader sees
// an orderly end, so the two views are joined.
void joinWriter(Received& r, int writerError) {
  if (writerError == ECONNRESET && !r.timedOut) r.reset = true;
}

// Reads until the end (or at most `limit` bytes past which the stream counts as corrupt),
// comparing each byte with the pattern from `offset`.
Received readPattern(int fd, std::uint64_t offset, std::uint64_t limit, bool slow) {
  const auto& pattern = bench::Pattern::instance();
  Received r;
  std::vector<char> buf(slow ? 4096 : 65536);
  for (;;) {
    if (!waitFor(fd, POLLIN, 20000)) {
      r.timedOut = true;
      return r;
    }
    ssize_t k = ::recv(fd, buf.data(), buf.size(), 0);
    if (k == 0) return r;
    if (k < 0) {
      r.reset = errno == ECONNRESET;
      return r;
    }
    if (r.bytes + static_cast<std::uint64_t>(k) > limit ||
        std::memcmp(buf.data(), pattern.at(offset + r.bytes), static_cast<std::size_t>(k)) != 0)
      r.corrupt = true;
    r.bytes += static_cast<std::uint64_t>(k);
    totals.bytes += static_cast<std::uint64_t>(k);
    if (slow) std::this_thread::sleep_for(1ms);
  }
}

// Resets the connection once every byte sent has reached the other end's kernel; false when
// they had not within 5 s (the bytes the reset then throws away were never the relay's).
bool resetWhenAcked(int fd) {
  int unacked = 1;
  for (int i = 0; i < 5000 && unacked > 0; ++i) {
    if (::ioctl(fd, SIOCOUTQ, &unacked) != 0) break;
    if (unacked > 0) std::this_thread::sleep_for(1ms);
  }
  linger l{1, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
  ::close(fd);
  return unacked == 0;
}

// --- the destination -------------------------------------------------------------------------

std::mutex seenMutex;
std::map<std::uint32_t, Received> seenByServer;  // by connection id

void serveOne(int fd) {
  Header h{};
  for (std::size_t got = 0; got < sizeof h;) {
    if (!waitFor(fd, POLLIN, 20000)) return (void)::close(fd);
    ssize_t k = ::recv(fd, reinterpret_cast<char*>(&h) + got, sizeof h - got, 0);
    if (k <= 0) return (void)::close(fd);
    got += static_cast<std::size_t>(k);
  }
  Received up;
  const std::uint64_t downBytes = h.mode == ServerReset ? h.resetAt : h.down;
  if (h.mode == HalfCloseReply) {
    up = readPattern(fd, h.upOffset, h.up, false);
    sendPattern(fd, h.downOffset, downBytes);
    ::close(fd);
  } else {
    int writerError = 0;
    std::thread writer([&] {
      writerError = sendPattern(fd, h.downOffset, downBytes);
      if (h.mode == ServerReset) return;
      ::shutdown(fd, SHUT_WR);
    });
    up = readPattern(fd, h.upOffset, h.up, false);
    writer.join();
    joinWriter(up, writerError);
    if (h.mode == ServerReset) {
      resetWhenAcked(fd);
    } else {
      ::close(fd);
    }
  }
  std::lock_guard<std::mutex> lock(seenMutex);
  seenByServer[h.id] = up;
}

void serveAndCount(int fd) {
  serveOne(fd);
  --serving;
}

// Accepts until told to stop; goes away for 300 ms every `restartEvery` to stand for a
// destination being restarted.
void destination(int port, std::chrono::seconds restartEvery, const std::atomic<bool>& stop) {
  auto nextRestart = Clock::now() + restartEvery;
  int listener = listenOn(port);
  while (!stop) {
    if (Clock::now() >= nextRestart) {
      ::close(listener);
      ++totals.restarts;
      std::this_thread::sleep_for(300ms);
      listener = -1;
      for (int i = 0; i < 100 && listener < 0; ++i)
        (listener = listenOn(port)) < 0 && (std::this_thread::sleep_for(10ms), 0);
      nextRestart = Clock::now() + restartEvery;
      if (listener < 0) return;
    }
    if (!waitFor(listener, POLLIN, 50)) continue;
    int fd = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    ++serving;
    std::thread(serveAndCount, fd).detach();
  }
  ::close(listener);
}

// --- the clients -----------------------------------------------------------------------------

bool takeServerView(std::uint32_t id, Received& view) {
  for (int i = 0; i < 400; ++i) {
    {
      std::lock_guard<std::mutex> lock(seenMutex);
      auto it = seenByServer.find(id);
      if (it != seenByServer.end()) {
        view = it->second;
        seenByServer.erase(it);
        return true;
      }
    }
    std::this_thread::sleep_for(5ms);
  }
  return false;
}

int connectTo(int port) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(static_cast<std::uint16_t>(port));
  if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

void describe(const char* what, const Header& h, const Received& c, const Received& s) {
  std::fprintf(out,
               "  %s: connection %u (%s), up %u down %u reset at %u; client got %llu%s%s, destination got %llu%s%s\n",
               what, h.id, kModeNames[h.mode], h.up, h.down, h.resetAt, (unsigned long long)c.bytes,
               c.reset ? " then a reset" : "", c.timedOut ? " then nothing (timeout)" : "", (unsigned long long)s.bytes,
               s.reset ? " then a reset" : "", s.timedOut ? " then nothing (timeout)" : "");
}

void judge(const Header& h, const Received& atClient, bool serverSaw, const Received& atServer) {
  if (atClient.corrupt || (serverSaw && atServer.corrupt)) ++totals.corrupted;
  if (!serverSaw) {  // the destination was away: the client must have been cut, not served
    if (atClient.bytes == 0) ++totals.refusedWhileDown;
    else
      ++totals.incomplete;
    return;
  }
  switch (h.mode) {
    case ClientReset:
      if (atServer.bytes < h.resetAt) ++totals.lostBeforeReset, describe("lost before a reset", h, atClient, atServer);
      else if (!atServer.reset)
        ++totals.resetAsEnd, describe("reset arrived as an end", h, atClient, atServer);
      break;
    case ServerReset:
      if (atClient.bytes < h.resetAt) ++totals.lostBeforeReset, describe("lost before a reset", h, atClient, atServer);
      else if (!atClient.reset)
        ++totals.resetAsEnd, describe("reset arrived as an end", h, atClient, atServer);
      break;
    default:
      if (atClient.bytes != h.down || atServer.bytes != h.up || atClient.reset || atServer.reset || atClient.timedOut ||
          atServer.timedOut)
        ++totals.incomplete, describe("incomplete", h, atClient, atServer);
  }
}

void client(int relayPort, std::uint32_t firstId, std::uint32_t stride, std::uint64_t seed,
            Clock::time_point deadline) {
  std::mt19937_64 random(seed);
  for (std::uint32_t id = firstId; Clock::now() < deadline; id += stride) {
    Header h{};
    h.id = id;
    h.mode = static_cast<std::uint8_t>(random() % kModes);
    // Mostly small, sometimes up to 2 MiB; reset streams stay within what the relay holds.
    auto size = [&] {
      return static_cast<std::uint32_t>(random() % 8 == 0 ? random() % (2u << 20) : random() % 65536);
    };
    h.up = size();
    h.down = size();
    h.resetAt = static_cast<std::uint32_t>(random() % 60000);
    if (h.mode == ClientReset) h.up = h.resetAt;
    if (h.mode == ServerReset) h.down = h.resetAt;
    h.upOffset = random() % bench::Pattern::kPeriod;
    h.downOffset = random() % bench::Pattern::kPeriod;
    ++totals.injected[h.mode];

    int fd = connectTo(relayPort);
    if (fd < 0) continue;
    ::send(fd, &h, sizeof h, MSG_NOSIGNAL);
    Received atClient;
    const bool slow = h.mode == SlowReader;
    if (h.mode == HalfCloseReply) {
      sendPattern(fd, h.upOffset, h.up);
      ::shutdown(fd, SHUT_WR);
      atClient = readPattern(fd, h.downOffset, h.down, false);
      ::close(fd);
    } else if (h.mode == ClientReset) {
      if (sendPattern(fd, h.upOffset, h.up) != 0 || !resetWhenAcked(fd)) h.resetAt = 0;  // nothing owed
    } else {
      int writerError = 0;
      std::thread writer([&] {
        writerError = sendPattern(fd, h.upOffset, h.up);
        ::shutdown(fd, SHUT_WR);
      });
      atClient = readPattern(fd, h.downOffset, h.down, slow);
      writer.join();
      joinWriter(atClient, writerError);
      ::close(fd);
    }
    Received atServer;
    const bool served = takeServerView(id, atServer);
    if (h.mode == ClientReset) atClient = Received{};
    judge(h, atClient, served, atServer);
    ++totals.connections;
  }
}

void report(const char* what, double seconds) {
  std::fprintf(out,
               "%s %.0f s: %llu connections, %.1f MiB checked, destination restarts %llu, cut while it was away %llu; "
               "corrupted %llu, lost before a reset %llu, reset passed on as an orderly end %llu, incomplete %llu\n",
               what, seconds, (unsigned long long)totals.connections.load(), totals.bytes.load() / 1048576.0,
               (unsigned long long)totals.restarts.load(), (unsigned long long)totals.refusedWhileDown.load(),
               (unsigned long long)totals.corrupted.load(), (unsigned long long)totals.lostBeforeReset.load(),
               (unsigned long long)totals.resetAsEnd.load(), (unsigned long long)totals.incomplete.load());
}

}  // namespace

int main(int argc, char** argv) {
  double minutes = 1;
  int connections = 200;
  std::uint64_t seed = 1;
  for (int i = 1; i + 1 < argc; i += 2) {
    std::string flag = argv[i];
    if (flag == "--minutes") minutes = std::atof(argv[i + 1]);
    else if (flag == "--connections")
      connections = std::atoi(argv[i + 1]);
    else if (flag == "--seed")
      seed = std::strtoull(argv[i + 1], nullptr, 10);
    else
      return std::fprintf(stderr, "usage: relvane-soak [--minutes M] [--connections N] [--seed S]\n"), 2;
  }
  if (!std::getenv("SOAK_TRACE") && !std::freopen("/dev/null", "w", stdout)) return 2;
  std::setvbuf(out, nullptr, _IOLBF, 0);

  int probe = listenOn(0);
  const int destPort = boundPort(probe);
  ::close(probe);
  probe = listenOn(0);
  const int relayPort = boundPort(probe);
  ::close(probe);

  std::atomic<bool> stop{false}, relayReady{false};
  std::thread relay([&] {
    socketInit();
    CTcpRepeater repeater;
    repeater.start(relayPort, "127.0.0.1", destPort);
    relayReady = repeater.isListening();
    if (!relayReady) return;
    while (!stop) net::EventLoop::current().runOnce(50ms);
    repeater.stop();
  });
  std::thread dest(destination, destPort, std::chrono::seconds(5), std::cref(stop));
  for (int i = 0; i < 200 && !relayReady; ++i) std::this_thread::sleep_for(10ms);
  if (!relayReady) return std::fprintf(out, "the relay could not listen on %d\n", relayPort), 2;

  const auto start = Clock::now();
  const auto deadline = start +
                        std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(minutes * 60));
  std::vector<std::thread> clients;
  for (int i = 0; i < connections; ++i)
    clients.emplace_back(client, relayPort, static_cast<std::uint32_t>(i), static_cast<std::uint32_t>(connections),
                         seed * 1000003 + static_cast<std::uint64_t>(i), deadline);
  std::thread progress([&] {
    while (Clock::now() < deadline) {
      std::this_thread::sleep_for(10s);
      std::fprintf(out, "... %.0f s: %llu connections, %.1f MiB, corrupted %llu, lost %llu\n",
                   std::chrono::duration<double>(Clock::now() - start).count(),
                   (unsigned long long)totals.connections.load(), totals.bytes.load() / 1048576.0,
                   (unsigned long long)totals.corrupted.load(), (unsigned long long)totals.lostBeforeReset.load());
    }
  });
  for (auto& t : clients) t.join();
  progress.join();
  stop = true;
  dest.join();
  relay.join();
  for (int i = 0; i < 2500 && serving > 0; ++i) std::this_thread::sleep_for(10ms);

  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  std::fprintf(out, "faults injected:");
  for (int m = 0; m < kModes; ++m)
    std::fprintf(out, " %s %llu;", kModeNames[m], (unsigned long long)totals.injected[m].load());
  std::fprintf(out, " destination restarts %llu\n", (unsigned long long)totals.restarts.load());
  report("soak", seconds);
  const bool clean = totals.corrupted == 0 && totals.lostBeforeReset == 0 && totals.resetAsEnd == 0;
  std::fflush(out);
  // A destination thread still stuck in a read must not meet the statics being destroyed.
  std::_Exit(clean ? 0 : 1);
}
