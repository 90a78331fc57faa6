#pragma once
// Faults set on a slot, per direction: up is what the client sends on to the destination, down is
// what the destination sends back. A fault only delays, slices or cuts; it never changes a byte.
// The text form is the one typed at the control socket and kept in the slot's keys:
//   "latency=200 jitter=20 direction=down", "bandwidth=64", "clear".
#include <array>
#include <cstdint>
#include <string>

namespace net {

struct FaultSet {
  int latencyMs = 0;
  int jitterMs = 0;              // each read's delay is latency +/- up to jitter
  int bandwidthKiBs = 0;         // 0: no cap
  std::uint64_t limitBytes = 0;  // close the pair once this many bytes went this way (0: off)
  std::uint64_t resetBytes = 0;  // reset the pair once this many bytes went this way (0: off)
  int sliceBytes = 0;            // sends cut into pieces of at most this size (0: off) ...
  int sliceDelayMs = 0;          // ... with this pause between them
  int timeoutMs = -1;            // stop relaying; close after this many ms (0: never; -1: off)
  int slowCloseMs = 0;           // the end of input passed on this much later
  int resetPercent = 0;          // a pair is reset at its start with this probability
  bool any() const;
  bool operator==(const FaultSet&) const = default;
};

struct Faults {
  FaultSet up;
  FaultSet down;
  bool any() const { return up.any() || down.any(); }
  bool operator==(const Faults&) const = default;
};

// One key of the text form: the values it takes, and the one that means "not set".
struct FaultKey {
  const char* name;
  long long low, high, unset;
};
inline constexpr std::size_t kFaultKeys = 10;
// Every key, in the text form's order; an index into it names a key below.
const std::array<FaultKey, kFaultKeys>& faultKeys();
long long faultValue(const FaultSet& set, std::size_t key);
// False, leaving `set` as it was, for a value outside the key's range.
bool setFaultValue(FaultSet& set, std::size_t key, long long value);

// Applies one line of the text form to `faults` (to the directions it names, both by default).
// False, with `error` set and `faults` unchanged, for an unknown key or a value out of range.
bool applyFaultText(const std::string& text, Faults& faults, std::string& error);
// The text form of one direction, without the direction; empty when nothing is set.
std::string faultText(const FaultSet& set);

}  // namespace net
