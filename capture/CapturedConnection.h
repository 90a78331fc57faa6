#pragma once
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "capture/Endpoint.h"

// up: from the client towards the destination; down: back to the client.
enum class Direction : std::uint8_t { up, down };
enum class Transport : std::uint8_t { tcp, udp };

// One captured event of a connection, in the order it happened.
struct Piece {
  enum class Kind : std::uint8_t { data, fin, rst };
  Kind kind = Kind::data;
  Direction direction = Direction::up;
  std::chrono::steady_clock::time_point steady;
  std::chrono::system_clock::time_point wall;
  std::uint64_t offset = 0;  // stream position in its direction before this piece, kept or not
  std::string bytes;         // data or a whole UDP datagram; empty for fin and rst
};

// A connection's capture: who spoke, when it opened, and its pieces in time order.
struct CapturedConnection {
  std::uint64_t serial = 0;
  Transport transport = Transport::tcp;
  Endpoint client, listener;
  std::chrono::steady_clock::time_point openedSteady;
  std::chrono::system_clock::time_point openedWall;
  std::vector<Piece> pieces;
  std::uint64_t seen[2] = {0, 0};     // bytes passed each way, captured or not
  std::uint64_t kept[2] = {0, 0};     // bytes captured each way, within the bound per direction
  bool finished[2] = {false, false};  // FIN seen each way
  bool ended = false;                 // reset, FIN both ways, or the relay let go of it
  bool inMemory = true;               // false once dropped for the store's bound while still live
  // What it takes in the store's bound: the bytes kept and a share for each piece and for itself,
  // so that a flood of tiny connections is bounded as surely as a few large ones.
  std::uint64_t cost = 0;
};
