// The slot's UDP side: a slot with PROTOCOL=UDP relays datagrams through a UDP relay in place of
// the TCP repeater, with the same port, destination, listen address, filter and source address.
#include <algorithm>

#include "log/LogLines.h"
#include "slot/PortSlot.h"
#include "slot/SlotUdp.h"

bool CPortSlot::started() const { return options.udp ? udpListening() : repeater.isListening(); }

bool CPortSlot::udpListening() const { return udp && udp->relay.isListening(); }

int CPortSlot::listenError() const {
  return options.udp ? (udp ? udp->relay.listenError() : 0) : repeater.listenError();
}

int CPortSlot::livePairs() const { return repeater.livePairs() + (udp ? udp->relay.sessionCount() : 0); }

SlotTotals CPortSlot::totals() { return udp && options.udp ? udp->totals() : activity.totals(repeater); }

void CPortSlot::forEachSession(const std::function<void(const CUdpSession&)>& visit) const {
  if (udp) udp->relay.forEachSession(visit);
}

bool CPortSlot::listenName(std::string& address, int& port) const {
  return options.udp ? udp && udp->relay.listenName(address, port) : repeater.listenName(address, port);
}

std::string CPortSlot::listenCaption() const { return (options.udp ? "UDP:" : "TCP:") + std::to_string(listenPort); }

void CPortSlot::startUdp() {
  stopUdp();
  const std::uint64_t lastSerial = std::max(repeater.lastSerial(), udp ? udp->relay.lastSerial() : 0);
  udp = std::make_unique<CSlotUdp>(slotIndex, evlog::endpoint(forwardHost, forwardPort),
                                   [this](int count) { notifyOnConnectionCount(count); });
  udp->relay.serialsAfter(lastSerial);
  CUdpRelay& relay = udp->relay;
  relay.setListenBindAddress(listenHost.empty() ? 0 : 1, listenHost);
  relay.setConnectBindAddress(options.sourceAddress.empty() ? 0 : 1, options.sourceAddress);
  relay.setIdleTimeout(options.udpTimeout);
  relay.setMaxSessions(options.udpSessions());
  relay.filter = &filter;
  relay.start(listenPort, forwardHost, forwardPort);
  logListening();
}

void CPortSlot::stopUdp() {
  if (udp) udp->relay.stop();
}

// A session has no settings of its own to keep, so a UDP slot takes new settings by starting
// again (its sessions end, each logged); one that becomes TCP lets its sessions end likewise, and
// a TCP slot that becomes UDP lets its pairs finish as a slot switched off does.
std::string CPortSlot::restartAs(const CPortSlot& fresh, Reloaded& outcome) {
  repeater.stopListening();
  stopUdp();
  copySettings(fresh);
  std::string refusal = switchTo(1);
  outcome = refusal.empty() ? Reloaded::Changed : Reloaded::Refused;
  return refusal;
}
