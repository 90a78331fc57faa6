#pragma once
// A UDP slot's relay and what it tells: the session count to the slot, each session's start and
// end to the event log, and the refused datagrams, whose lines come at most once a second (a
// flood of datagrams from refused or forged sources must not flood the log; the lines between
// are counted in the next). Made afresh at each switch-on, so its totals are since then.
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

#include "net/UdpRelay.h"
#include "slot/SlotActivity.h"

class CSlotUdp final : public CUdpRelayListener {
public:
  CSlotUdp(int slot, std::string destination, std::function<void(int count)> onCount);
  CSlotUdp(const CSlotUdp&) = delete;
  CSlotUdp& operator=(const CSlotUdp&) = delete;

  SlotTotals totals() const;

  void notifyOnSessionCount(int count) override;
  void notifyOnSessionStart(const CUdpSession& session) override;
  void notifyOnSessionEnd(const CUdpSession& session, UdpSessionEnding how, int err) override;
  void notifyOnDatagramRefused(const std::string& address, int port) override;
  void notifyOnLoopRefused(const std::string& address, int port) override;

private:
  const int slot_;
  const std::string destination_;  // as the settings name it, for the start lines
  std::function<void(int)> onCount_;
  std::chrono::steady_clock::time_point lastRefusedLine_{};
  std::uint64_t unlogged_ = 0;

public:
  CUdpRelay relay;  // last: gone first, and it reports nothing as it goes
};
