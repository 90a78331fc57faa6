#include "capture/CaptureStore.h"

#include <algorithm>

namespace {
int index(Direction d) { return d == Direction::up ? 0 : 1; }
}  // namespace

void CaptureStore::opened(std::uint64_t serial, const Endpoint& client, const Endpoint& listener, Transport transport) {
  if (bySerial_.count(serial)) return;
  CapturedConnection& c = bySerial_[serial];
  c.serial = serial;
  c.transport = transport;
  c.client = client;
  c.listener = listener;
  c.openedSteady = std::chrono::steady_clock::now();
  c.openedWall = std::chrono::system_clock::now();
  order_.push_back(serial);
}

CapturedConnection* CaptureStore::live(std::uint64_t serial) {
  auto it = bySerial_.find(serial);
  return it == bySerial_.end() || it->second.ended ? nullptr : &it->second;
}

Piece& CaptureStore::append(CapturedConnection& c, Piece::Kind kind, Direction direction) {
  Piece& p = c.pieces.emplace_back();
  p.kind = kind;
  p.direction = direction;
  p.steady = std::chrono::steady_clock::now();
  p.wall = std::chrono::system_clock::now();
  p.offset = c.seen[index(direction)];
  return p;
}

void CaptureStore::data(std::uint64_t serial, Direction direction, std::string_view bytes) {
  CapturedConnection* c = live(serial);
  if (!c || bytes.empty()) return;
  const int i = index(direction);
  std::uint64_t room = limits_.perDirection - std::min(limits_.perDirection, c->kept[i]);
  if (c->transport == Transport::udp && bytes.size() > room) room = 0;  // datagrams stay whole
  const std::size_t take = static_cast<std::size_t>(std::min<std::uint64_t>(room, bytes.size()));
  if (take > 0) {
    append(*c, Piece::Kind::data, direction).bytes.assign(bytes.substr(0, take));
    c->kept[i] += take;
    held_ += take;
    dropOldestBut(serial);
  }
  c->seen[i] += bytes.size();
}

void CaptureStore::closed(std::uint64_t serial, Direction direction) {
  CapturedConnection* c = live(serial);
  if (!c) return;
  append(*c, Piece::Kind::fin, direction);
  const Direction other = direction == Direction::up ? Direction::down : Direction::up;
  c->ended = std::any_of(c->pieces.begin(), c->pieces.end(),
                         [other](const Piece& p) { return p.kind == Piece::Kind::fin && p.direction == other; });
}

void CaptureStore::reset(std::uint64_t serial, Direction direction) {
  CapturedConnection* c = live(serial);
  if (!c) return;
  append(*c, Piece::Kind::rst, direction);
  c->ended = true;
}

void CaptureStore::dropOldestBut(std::uint64_t keep) {
  for (auto it = order_.begin(); held_ > limits_.total && it != order_.end();) {
    if (*it == keep) {
      ++it;
      continue;
    }
    held_ -= bySerial_[*it].heldBytes();
    bySerial_.erase(*it);
    it = order_.erase(it);
  }
}

std::vector<const CapturedConnection*> CaptureStore::connections() const {
  std::vector<const CapturedConnection*> out;
  out.reserve(order_.size());
  for (std::uint64_t serial : order_) out.push_back(&bySerial_.at(serial));
  return out;
}

const CapturedConnection* CaptureStore::find(std::uint64_t serial) const {
  auto it = bySerial_.find(serial);
  return it == bySerial_.end() ? nullptr : &it->second;
}

const std::vector<Piece>& CaptureStore::pieces(std::uint64_t serial) const {
  static const std::vector<Piece> none;
  const CapturedConnection* c = find(serial);
  return c ? c->pieces : none;
}
