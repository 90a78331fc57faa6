#include "capture/ConnectionPackets.h"

#include <algorithm>

#include "capture/PacketSynth.h"

namespace {

using namespace packet_synth::tcp_flag;

// Initial sequence numbers; any will do, distinct ones make a trace easier to read.
constexpr std::uint32_t clientIsn = 0x10000000, listenerIsn = 0x20000000;

int index(Direction d) { return d == Direction::up ? 0 : 1; }

class TcpLeg {
public:
  TcpLeg(const CapturedConnection& c, std::vector<SynthPacket>& out) : c_(c), out_(out) {}

  void handshake() {
    emit(c_.openedSteady, c_.openedWall, Direction::up, clientIsn, 0, syn, {});
    emit(c_.openedSteady, c_.openedWall, Direction::down, listenerIsn, clientIsn + 1, syn | ack, {});
    emit(c_.openedSteady, c_.openedWall, Direction::up, clientIsn + 1, listenerIsn + 1, ack, {});
  }

  void piece(const Piece& p) {
    const int i = index(p.direction);
    std::uint32_t seq = base_[i] + static_cast<std::uint32_t>(p.offset);
    if (p.kind == Piece::Kind::data) {
      const std::size_t most = packet_synth::maxTcpPayload(c_.client.v6);
      for (std::size_t at = 0; at < p.bytes.size(); at += most) {
        std::string_view part = std::string_view(p.bytes).substr(at, most);
        emit(p.steady, p.wall, p.direction, seq, next_[1 - i], psh | ack, part);
        seq += static_cast<std::uint32_t>(part.size());
      }
      next_[i] = seq;
    } else if (p.kind == Piece::Kind::fin) {
      emit(p.steady, p.wall, p.direction, seq, next_[1 - i], fin | ack, {});
      next_[i] = seq + 1;
    } else {
      emit(p.steady, p.wall, p.direction, seq, next_[1 - i], rst | ack, {});
    }
  }

private:
  void emit(std::chrono::steady_clock::time_point steady, std::chrono::system_clock::time_point wall, Direction d,
            std::uint32_t seq, std::uint32_t ackNo, std::uint8_t flags, std::string_view payload) {
    const bool up = d == Direction::up;
    out_.push_back(
        {steady, wall,
         packet_synth::tcp(up ? c_.client : c_.listener, up ? c_.listener : c_.client, seq, ackNo, flags, payload)});
  }

  const CapturedConnection& c_;
  std::vector<SynthPacket>& out_;
  std::uint32_t base_[2] = {clientIsn + 1, listenerIsn + 1};
  std::uint32_t next_[2] = {clientIsn + 1, listenerIsn + 1};
};

}  // namespace

std::vector<SynthPacket> connectionPackets(const CapturedConnection& c) {
  std::vector<SynthPacket> out;
  if (c.transport == Transport::udp) {
    for (const Piece& p : c.pieces) {
      if (p.kind != Piece::Kind::data) continue;
      const bool up = p.direction == Direction::up;
      out.push_back(
          {p.steady, p.wall, packet_synth::udp(up ? c.client : c.listener, up ? c.listener : c.client, p.bytes)});
    }
    return out;
  }
  TcpLeg leg(c, out);
  leg.handshake();
  for (const Piece& p : c.pieces) leg.piece(p);
  return out;
}
