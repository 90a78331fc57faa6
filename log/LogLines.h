#pragma once
// The texts of the event lines, without the time stamp that post() puts in front. Plain text,
// one line each: fields as key=value so a reader can grep for them, addresses as address:port
// (an IPv6 address in brackets), byte counts as plain numbers.
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace evlog {

struct ConnectionEnd {
  int slot = 0;
  std::string clientAddress;
  int clientPort = 0;
  std::string destinationAddress;
  int destinationPort = 0;
  std::uint64_t fromClient = 0;  // bytes received from the client
  std::uint64_t toClient = 0;    // bytes sent to the client
  std::chrono::milliseconds duration{0};
  std::string ending;  // how it ended, in the user's words
};

std::string endpoint(const std::string& address, int port);
std::string seconds(std::chrono::milliseconds duration);  // "12.345s"
std::string thousandths(int part);                        // ".045" for 45 (0..999)

std::string listeningLine(int slot, const std::string& address, int port, const std::string& destinationHost,
                          int destinationPort);
std::string stoppedLine(int slot);
std::string switchOnRefusedLine(int slot, const std::string& message);
std::string peerRefusedLine(int slot, const std::string& address, int port);
std::string loopRefusedLine(int slot, const std::string& address, int port);
std::string connectionEndLine(const ConnectionEnd& end);

// A reload that took the file: the slot numbers of each outcome.
struct ReloadSummary {
  std::vector<int> kept;         // untouched
  std::vector<int> changed;      // new settings for new clients (or switched on)
  std::vector<int> added;        // new sections
  std::vector<int> removed;      // sections gone: not listening, their pairs end on their own
  std::vector<int> switchedOff;  // ACT=0 now: likewise
  std::vector<int> refused;      // saved ON but could not listen
};
std::string reloadLine(const ReloadSummary& summary);
// A reload that changed nothing, with one reason (the reason quoted).
std::string reloadRefusedLine(const std::string& reason);

}  // namespace evlog
