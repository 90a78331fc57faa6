#include "capture/ConnectionPackets.h"

#include "capture/PacketSynth.h"

namespace {

using namespace packet_synth::tcp_flag;

// Initial sequence numbers; any will do, distinct ones make a trace easier to read.
constexpr std::uint32_t clientIsn = 0x10000000, listenerIsn = 0x20000000;
constexpr std::uint32_t base[2] = {clientIsn + 1, listenerIsn + 1};  // of each direction's first byte

int index(Direction d) { return d == Direction::up ? 0 : 1; }

}  // namespace

ConnectionSynth::ConnectionSynth(const CapturedConnection& c)
    : transport_(c.transport),
      client_(c.client),
      listener_(c.listener),
      openedSteady_(c.openedSteady),
      openedWall_(c.openedWall),
      next_{base[0], base[1]} {}

void ConnectionSynth::opening(std::vector<SynthPacket>& out) const {
  if (transport_ == Transport::udp) return;
  push(out, openedSteady_, openedWall_, Direction::up, clientIsn, 0, syn, {});
  push(out, openedSteady_, openedWall_, Direction::down, listenerIsn, clientIsn + 1, syn | ack, {});
  push(out, openedSteady_, openedWall_, Direction::up, clientIsn + 1, listenerIsn + 1, ack, {});
}

void ConnectionSynth::piece(const Piece& p, std::vector<SynthPacket>& out) {
  if (transport_ == Transport::udp) {
    if (p.kind == Piece::Kind::data) {
      const bool up = p.direction == Direction::up;
      out.push_back({p.steady, p.wall, packet_synth::udp(up ? client_ : listener_, up ? listener_ : client_, p.bytes)});
    }
    return;
  }
  const int i = index(p.direction);
  std::uint32_t seq = base[i] + static_cast<std::uint32_t>(p.offset);
  if (p.kind == Piece::Kind::data) {
    const std::size_t most = packet_synth::maxTcpPayload(client_.v6);
    for (std::size_t at = 0; at < p.bytes.size(); at += most) {
      std::string_view part = std::string_view(p.bytes).substr(at, most);
      push(out, p.steady, p.wall, p.direction, seq, next_[1 - i], psh | ack, part);
      seq += static_cast<std::uint32_t>(part.size());
    }
    next_[i] = seq;
  } else if (p.kind == Piece::Kind::fin) {
    push(out, p.steady, p.wall, p.direction, seq, next_[1 - i], fin | ack, {});
    next_[i] = seq + 1;
  } else {
    push(out, p.steady, p.wall, p.direction, seq, next_[1 - i], rst | ack, {});
  }
}

void ConnectionSynth::push(std::vector<SynthPacket>& out, std::chrono::steady_clock::time_point steady,
                           std::chrono::system_clock::time_point wall, Direction d, std::uint32_t seq,
                           std::uint32_t ackNo, std::uint8_t flags, std::string_view payload) const {
  const bool up = d == Direction::up;
  out.push_back({steady, wall,
                 packet_synth::tcp(up ? client_ : listener_, up ? listener_ : client_, seq, ackNo, flags, payload)});
}

std::vector<SynthPacket> connectionPackets(const CapturedConnection& c) {
  std::vector<SynthPacket> out;
  ConnectionSynth synth(c);
  synth.opening(out);
  for (const Piece& p : c.pieces) synth.piece(p, out);
  return out;
}
