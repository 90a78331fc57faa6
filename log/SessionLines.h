#pragma once
// The lines of a UDP slot's sessions, beside the connection lines of LogLines.h: one when a
// client's first datagram starts a session, one when it ends with what moved each way.
#include <chrono>
#include <cstdint>
#include <string>

#include "log/LogRecord.h"

namespace evlog {

struct SessionEnd {
  int slot = 0;
  std::string clientAddress;
  int clientPort = 0;
  std::string destinationAddress;  // the address the session's socket was connected to
  int destinationPort = 0;
  std::uint64_t datagramsFromClient = 0, bytesFromClient = 0;
  std::uint64_t datagramsToClient = 0, bytesToClient = 0;
  std::chrono::milliseconds duration{0};
  const char* endCode = "";  // how it ended, as an ASCII code ("idle_timeout")
  const char* ending = "";   // the same in the user's words
  std::string reason;        // the system's or the resolver's reason; "" for none
};

Record sessionOpenLine(int slot, const std::string& clientAddress, int clientPort, const std::string& destination);
// Info, or a warning when the destination refused or failed.
Record sessionEndLine(const SessionEnd& end);
// A datagram the filter refused; `unlogged` more were refused since the last such line.
Record datagramRefusedLine(int slot, const std::string& address, int port, std::uint64_t unlogged);

}  // namespace evlog
