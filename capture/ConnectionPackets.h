#pragma once
#include <chrono>
#include <string>
#include <vector>

#include "capture/CapturedConnection.h"

// One synthesized IP packet and when it passed.
struct SynthPacket {
  std::chrono::steady_clock::time_point steady;  // orders packets of several connections
  std::chrono::system_clock::time_point wall;    // stamped in the file
  std::string ip;
};

// The packets of a connection's client leg as a capture on the wire would have shown them:
// for TCP a handshake at opening, data split to fit IP packets with sequence and
// acknowledgement numbers following the bytes, FIN and RST where they happened; for UDP one
// datagram per piece.
std::vector<SynthPacket> connectionPackets(const CapturedConnection& connection);
