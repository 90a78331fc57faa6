#pragma once
// What one slot has done since it was switched on, as the event log tells it and as the panel
// sums it up: every relayed connection's opening and end (each made into a record once, and only
// when the log has a reader), every peer the filter refused, and the totals of both.
#include <cstdint>
#include <string>

#include "net/TcpRepeater.h"

// Of a UDP slot: sessions started, datagrams refused, sessions the destination ended.
struct SlotTotals {
  std::uint64_t served = 0;   // connections that reached the destination
  std::uint64_t refused = 0;  // peers the filter did not serve
  std::uint64_t failed = 0;   // connections whose destination could not be reached
  std::uint64_t fromClient = 0;
  std::uint64_t toClient = 0;
  std::uint64_t datagramsFromClient = 0;  // UDP slots only, as the dropped ones
  std::uint64_t datagramsToClient = 0;
  std::uint64_t dropped = 0;  // lost to a full buffer either way
};

// How a pair ended: an ASCII code for the JSON log and the user's words, one token each.
struct EndingNames {
  const char* code;
  const char* words;
};
EndingNames endingNames(PairEnding how);

class CSlotActivity {
public:
  // A fresh start: the totals go back to zero and the destination to report is this one.
  void switchedOn(int slot, const std::string& destinationHost, int destinationPort);
  // A reload gave the running slot another destination: new clients' failures name it; the totals go on.
  void retargeted(const std::string& host, int port) { destinationHost = host, destinationPort = port; }
  // The destination's connect succeeded.
  void pairOpened(const CTcpStreamPair& pair);
  void pairEnded(const CTcpStreamPair& pair, PairEnding how, int err);
  void peerRefused(const std::string& address, int port);
  // A connection from the program's own outgoing socket: logged, not counted as a filter refusal.
  void loopRefused(const std::string& address, int port);
  void destinationChanged(const std::string& destination, bool up);

  // The ended connections' totals plus what the repeater's live pairs have carried so far.
  SlotTotals totals(CTcpRepeater& repeater) const;

private:
  int slot = 0;
  std::string destinationHost;  // as started or last retargeted
  int destinationPort = 0;
  SlotTotals ended;
};
