#pragma once
// The keys of a slot that neither the settings dialog nor the access dialog holds, as the
// advanced settings dialog edits them: read from the slot into a plain struct, checked by the
// file's own rules, and put back with only the keys whose value changed marked for the save.
//
// Saving (CPortSlot::saveSettings) writes a marked key with its new value; a key set back to its
// default is written with the default's text (an empty one for NAME, SOURCEADDRESS and FORWARDn,
// which reads as unset) when the section has the key, and left out when it has not. So a file
// that never had these keys keeps every byte until the user sets one.
#include <array>
#include <optional>
#include <string>
#include <vector>

#include "slot/SlotOptions.h"

class CPortSlot;

namespace advanced {

// The numbers, in the dialog's order.
enum Number {
  BufferSize,
  ConnectTimeout,
  HalfCloseTimeout,
  IdleTimeout,
  KeepAlive,
  MaxConn,
  UdpTimeout,
  RetryDown,
  CheckInterval,
  kNumbers
};

struct NumberKey {
  const char* key;
  int low, high, byDefault;
};
const NumberKey& numberKey(Number number);

struct Settings {
  std::string name;                                             // NAME
  bool udp = false;                                             // PROTOCOL
  std::array<std::string, kNumbers> numbers;                    // as typed; "" is the key's default
  std::string sourceAddress;                                    // SOURCEADDRESS
  std::array<std::string, SlotOptions::kMaxForwards> forwards;  // FORWARD1..9, "host:port"; "" none
  int balance = 0;                                              // BALANCE 0..2
  int sendProxy = 0;                                            // SENDPROXY 0..2
  bool acceptProxy = false;                                     // ACCEPTPROXY
};

// A value the file would not take: its key and what the key takes, for the message.
struct Problem {
  std::string key;
  std::string expected;
};

// What the slot runs now; the numbers as decimal text, the destinations in their order.
Settings read(const CPortSlot& slot);
// The first value the file's rules refuse, in the dialog's order; nullopt when all pass.
std::optional<Problem> check(const Settings& settings);
// Takes checked settings into the slot and marks the keys whose value changed. A value the file
// held that refused the switch-on is replaced by what the dialog showed, so an OK mends it.
void apply(CPortSlot& slot, const Settings& settings);

struct Value {
  std::string key;
  std::string text;
  bool isDefault;  // the same as a missing key
};
// Every key with the text it is saved with, always in the same order.
std::vector<Value> values(const CPortSlot& slot);

}  // namespace advanced
