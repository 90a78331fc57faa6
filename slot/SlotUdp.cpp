#include "slot/SlotUdp.h"

#include <cstring>
#include <utility>

#include "log/EventLog.h"
#include "log/LogLines.h"
#include "log/SessionLines.h"

namespace {

struct UdpEndingNames {
  const char* code;
  const char* words;
};

UdpEndingNames namesOf(UdpSessionEnding how) {
  switch (how) {
    case UdpSessionEnding::IdleTimedOut: return {"idle_timeout", "無通信のため終了"};
    case UdpSessionEnding::Evicted: return {"evicted", "上限のため入れ替え"};
    case UdpSessionEnding::DestinationRefused: return {"destination_refused", "転送先が拒否"};
    case UdpSessionEnding::DestinationFailed: return {"destination_failed", "転送先側エラー"};
    case UdpSessionEnding::ClosedByUser: return {"closed_by_user", "ユーザーが終了"};
    case UdpSessionEnding::Stopped: break;
  }
  return {"stopped", "停止"};
}

}  // namespace

CSlotUdp::CSlotUdp(int slot, std::string destination, std::function<void(int)> onCount)
    : slot_(slot), destination_(std::move(destination)), onCount_(std::move(onCount)) {
  relay.setListener(this);
}

SlotTotals CSlotUdp::totals() const {
  const UdpTotals& t = relay.totals();
  SlotTotals all;
  all.served = t.sessions;
  all.refused = t.refused;
  all.failed = t.failed;
  all.fromClient = t.toDestination.bytes;
  all.toClient = t.toClient.bytes;
  all.datagramsFromClient = t.toDestination.datagrams;
  all.datagramsToClient = t.toClient.datagrams;
  all.dropped = t.dropped;
  return all;
}

void CSlotUdp::notifyOnSessionCount(int count) {
  if (onCount_) onCount_(count);
}

void CSlotUdp::notifyOnSessionStart(const CUdpSession& session) {
  if (evlog::enabled())
    evlog::post(evlog::sessionOpenLine(slot_, session.client().text(), session.client().port(), destination_));
}

void CSlotUdp::notifyOnSessionEnd(const CUdpSession& session, UdpSessionEnding how, int err) {
  if (!evlog::enabled()) return;
  evlog::SessionEnd end;
  end.slot = slot_;
  end.clientAddress = session.client().text();
  end.clientPort = session.client().port();
  if (session.connected()) end.destinationAddress = session.destination().text();
  end.destinationPort = session.destination().port();
  end.datagramsFromClient = session.toDestination.datagrams;
  end.bytesFromClient = session.toDestination.bytes;
  end.datagramsToClient = session.toClient.datagrams;
  end.bytesToClient = session.toClient.bytes;
  end.duration = std::chrono::duration_cast<std::chrono::milliseconds>(CUdpSession::Clock::now() - session.started);
  const UdpEndingNames names = namesOf(how);
  end.endCode = names.code;
  end.ending = names.words;
  end.reason = !session.failure.empty() ? session.failure : err != 0 ? std::strerror(err) : "";
  evlog::post(evlog::sessionEndLine(end));
}

void CSlotUdp::notifyOnDatagramRefused(const std::string& address, int port) {
  const auto now = std::chrono::steady_clock::now();
  if (now - lastRefusedLine_ < std::chrono::seconds(1)) {
    ++unlogged_;
    return;
  }
  lastRefusedLine_ = now;
  if (evlog::enabled()) evlog::post(evlog::datagramRefusedLine(slot_, address, port, unlogged_));
  unlogged_ = 0;
}

void CSlotUdp::notifyOnLoopRefused(const std::string& address, int port) {
  if (evlog::enabled()) evlog::post(evlog::loopRefusedLine(slot_, address, port));
}
