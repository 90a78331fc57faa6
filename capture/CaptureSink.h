#pragma once
#include <cstdint>

#include "capture/CapturedConnection.h"

// Told of a store's events as they are recorded, also of a connection the store no longer holds
// in memory: the bound on memory is not a bound on what a sink sees.
class CaptureSink {
public:
  virtual void opened(const CapturedConnection& connection) = 0;  // before its first piece
  virtual void piece(std::uint64_t serial, const Piece& piece) = 0;
  virtual void ended(std::uint64_t serial) = 0;  // nothing more of it comes

protected:
  ~CaptureSink() = default;
};
