#pragma once
// The client side of the UDP bench. Every datagram carries its sequence number in its first 8
// bytes and the bench pattern after it, from an offset the number chooses; an echo counts only
// if it comes back byte for byte. A wrong byte, a wrong length, a datagram never sent or one
// answered twice is an error, not a figure. A datagram not back within the loss timeout is lost,
// so a relay that drops never stalls a run. An empty datagram carries no number and is only
// counted: rinetd sends them to open and close its sessions.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

namespace bench {

struct UdpRttResult {
  bool ok = false;
  std::string error;
  double p50us = 0, p99us = 0;
  int lost = 0;  // round trips given up after the loss timeout, and not in the percentiles
};

// `count` ping-pongs of 64-byte datagrams on one socket, after `warmup` untimed ones.
UdpRttResult udpRoundTrips(int port, int count, int warmup, std::chrono::milliseconds lossTimeout,
                           std::chrono::seconds limit);

struct UdpLoad {
  int port = 0;
  std::size_t size = 64;                        // bytes per datagram, 8..65507
  int clients = 1;                              // sockets, each its own source port and so its own relay session
  int window = 32;                              // datagrams in flight per socket
  std::uint64_t count = 1000000;                // per socket, at most
  std::chrono::duration<double> duration{2.0};  // sending stops after this, whichever comes first
  std::chrono::milliseconds lossTimeout{200};
};

struct UdpLoadResult {
  bool ok = false;
  std::string error;
  std::size_t size = 0;
  std::uint64_t sent = 0, answered = 0, lost = 0;
  std::uint64_t late = 0;   // came back after they had been counted lost (they stay lost)
  std::uint64_t empty = 0;  // empty datagrams received
  double seconds = 0;       // from the first send to the last answer
  double perSecond() const { return seconds > 0 ? double(answered) / seconds : 0; }
  double mibPerSecond() const { return perSecond() * double(size) / (1024.0 * 1024.0); }
  double lostPercent() const { return sent ? 100.0 * double(lost) / double(sent) : 0; }
};

UdpLoadResult udpWindowed(const UdpLoad& load);

// Whether an echo comes back through the port within about a second.
bool udpAnswers(int port);

}  // namespace bench
