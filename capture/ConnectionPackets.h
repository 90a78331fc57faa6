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

// The packets of a connection's client leg as a capture on the wire would have shown them,
// made as its pieces come: for TCP a handshake at opening, data split to fit IP packets with
// sequence and acknowledgement numbers following the stream's offsets (bytes beyond the capture's
// bound leave a gap, never bytes of our making), FIN and RST where they happened; for UDP one
// datagram per piece.
class ConnectionSynth {
public:
  explicit ConnectionSynth(const CapturedConnection& connection);  // takes its ends and opening
  void opening(std::vector<SynthPacket>& out) const;               // nothing for UDP
  void piece(const Piece& piece, std::vector<SynthPacket>& out);

private:
  void push(std::vector<SynthPacket>& out, std::chrono::steady_clock::time_point steady,
            std::chrono::system_clock::time_point wall, Direction d, std::uint32_t seq, std::uint32_t ackNo,
            std::uint8_t flags, std::string_view payload) const;

  Transport transport_;
  Endpoint client_, listener_;
  std::chrono::steady_clock::time_point openedSteady_;
  std::chrono::system_clock::time_point openedWall_;
  std::uint32_t next_[2];  // the sequence number after what each side has sent
};

// A whole connection's packets, as held.
std::vector<SynthPacket> connectionPackets(const CapturedConnection& connection);
