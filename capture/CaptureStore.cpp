#include "capture/CaptureStore.h"

#include <algorithm>

namespace {
int index(Direction d) { return d == Direction::up ? 0 : 1; }
}  // namespace

void CaptureStore::opened(std::uint64_t serial, const Endpoint& client, const Endpoint& listener, Transport transport) {
  forget(serial);
  CapturedConnection& c = bySerial_[serial];
  c.serial = serial;
  c.transport = transport;
  c.client = client;
  c.listener = listener;
  c.openedSteady = std::chrono::steady_clock::now();
  c.openedWall = std::chrono::system_clock::now();
  order_.push_back(serial);
  if (sink_) sink_->opened(c);
  charge(c, kConnectionCost);
}

void CaptureStore::charge(CapturedConnection& c, std::uint64_t cost) {
  c.cost += cost;
  held_ += cost;
  dropOldestBut(c.serial);
}

void CaptureStore::forget(std::uint64_t serial) {
  auto it = bySerial_.find(serial);
  if (it == bySerial_.end()) return;
  if (!it->second.ended && sink_) sink_->ended(serial);
  if (it->second.inMemory) {
    held_ -= it->second.cost;
    order_.erase(std::find(order_.begin(), order_.end(), serial));
  }
  bySerial_.erase(it);
}

CapturedConnection* CaptureStore::live(std::uint64_t serial) {
  auto it = bySerial_.find(serial);
  return it == bySerial_.end() || it->second.ended ? nullptr : &it->second;
}

Piece CaptureStore::make(const CapturedConnection& c, Piece::Kind kind, Direction direction) {
  Piece p;
  p.kind = kind;
  p.direction = direction;
  p.steady = std::chrono::steady_clock::now();
  p.wall = std::chrono::system_clock::now();
  p.offset = c.seen[index(direction)];
  return p;
}

void CaptureStore::record(CapturedConnection& c, Piece piece) {
  if (sink_) sink_->piece(c.serial, piece);
  if (!c.inMemory) return;
  const std::uint64_t cost = kPieceCost + piece.bytes.size();
  c.pieces.push_back(std::move(piece));
  charge(c, cost);
}

void CaptureStore::data(std::uint64_t serial, Direction direction, std::string_view bytes) {
  CapturedConnection* c = live(serial);
  if (!c || bytes.empty()) return;
  const int i = index(direction);
  // One connection alone never holds more than the whole bound.
  const std::uint64_t most = std::min(limits_.perDirection, limits_.total - std::min(limits_.total, c->kept[1 - i]));
  std::uint64_t room = most - std::min(most, c->kept[i]);
  if (c->transport == Transport::udp && bytes.size() > room) room = 0;  // datagrams stay whole
  const std::size_t take = static_cast<std::size_t>(std::min<std::uint64_t>(room, bytes.size()));
  if (take > 0) {
    Piece p = make(*c, Piece::Kind::data, direction);
    p.bytes.assign(bytes.substr(0, take));
    c->kept[i] += take;
    record(*c, std::move(p));
  }
  c->seen[i] += bytes.size();
}

void CaptureStore::closed(std::uint64_t serial, Direction direction) {
  CapturedConnection* c = live(serial);
  const int i = index(direction);
  if (!c || c->finished[i]) return;
  c->finished[i] = true;
  record(*c, make(*c, Piece::Kind::fin, direction));
  if (c->finished[1 - i]) end(*c);
}

void CaptureStore::reset(std::uint64_t serial, Direction direction) {
  CapturedConnection* c = live(serial);
  if (!c) return;
  record(*c, make(*c, Piece::Kind::rst, direction));
  end(*c);
}

void CaptureStore::ended(std::uint64_t serial) {
  if (CapturedConnection* c = live(serial)) end(*c);
}

void CaptureStore::end(CapturedConnection& c) {
  c.ended = true;
  if (sink_) sink_->ended(c.serial);
  if (!c.inMemory) bySerial_.erase(c.serial);
}

void CaptureStore::dropOldestBut(std::uint64_t keep) {
  for (auto it = order_.begin(); held_ > limits_.total && it != order_.end();) {
    if (*it == keep) {
      ++it;
      continue;
    }
    CapturedConnection& c = bySerial_.at(*it);
    held_ -= c.cost;
    if (c.ended) {
      bySerial_.erase(*it);
    } else {
      c.inMemory = false;
      c.pieces = {};
      c.cost = 0;
    }
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
  return it == bySerial_.end() || !it->second.inMemory ? nullptr : &it->second;
}

const std::vector<Piece>& CaptureStore::pieces(std::uint64_t serial) const {
  static const std::vector<Piece> none;
  const CapturedConnection* c = find(serial);
  return c ? c->pieces : none;
}
