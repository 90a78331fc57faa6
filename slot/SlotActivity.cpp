#include "slot/SlotActivity.h"

#include <cstring>
#include <optional>

#include "log/EventLog.h"
#include "log/LogLines.h"
#include "net/DestinationList.h"

namespace {

bool connected(const CTcpStreamPair& pair) {
  return pair.acceptStream && pair.connectStream && pair.acceptStream->connectState == STREAM_CONNECTED &&
         pair.connectStream->connectState == STREAM_CONNECTED;
}

}  // namespace

EndingNames endingNames(PairEnding how) {
  switch (how) {
    case PairEnding::ClientClosed: return {"client_closed", "クライアントが切断"};
    case PairEnding::DestinationClosed: return {"destination_closed", "転送先が切断"};
    case PairEnding::ClientReset: return {"client_reset", "クライアントがリセット"};
    case PairEnding::DestinationReset: return {"destination_reset", "転送先がリセット"};
    case PairEnding::ClientFailed: return {"client_failed", "クライアント側エラー"};
    case PairEnding::DestinationFailed: return {"destination_failed", "転送先側エラー"};
    case PairEnding::ConnectFailed: return {"connect_failed", "接続失敗"};
    case PairEnding::HalfCloseTimedOut: return {"half_close_timeout", "片側の終了後に無通信のため切断"};
    case PairEnding::IdleTimedOut: return {"idle_timeout", "無通信のため切断"};
    case PairEnding::ClosedByUser: return {"closed_by_user", "ユーザーが切断"};
    case PairEnding::Stopped: break;
  }
  return {"stopped", "停止"};
}

void CSlotActivity::switchedOn(int slotIndex, const std::string& host, int port) {
  slot = slotIndex;
  destinationHost = host;
  destinationPort = port;
  ended = {};
}

void CSlotActivity::pairOpened(const CTcpStreamPair& pair) {
  if (!evlog::enabled() || !pair.acceptStream || !pair.connectStream) return;
  evlog::ConnectionOpen open;
  open.slot = slot;
  open.clientAddress = pair.acceptStream->peerAddress;
  open.clientPort = pair.acceptStream->peerPort;
  open.destinationAddress = pair.connectStream->peerAddress;
  open.destinationPort = pair.connectStream->peerPort;
  evlog::post(evlog::connectionOpenLine(open));
}

void CSlotActivity::pairEnded(const CTcpStreamPair& pair, PairEnding how, int err) {
  const CTcpSockStream* in = pair.acceptStream.get();
  const CTcpSockStream* out = pair.connectStream.get();
  if (connected(pair)) ++ended.served;
  if (how == PairEnding::ConnectFailed) ++ended.failed;
  if (in) ended.fromClient += in->receivedBytes, ended.toClient += in->sentBytes;
  if (!evlog::enabled() || !in) return;

  evlog::ConnectionEnd end;
  end.slot = slot;
  end.clientAddress = in->peerAddress;
  end.clientPort = in->peerPort;
  // A destination never reached has no address of its own yet: name the one it was sent to.
  // Of several destinations, the last one it was sent to.
  const bool named = out && !out->peerAddress.empty();
  const std::optional<net::HostPort> target = net::parseForwardValue(pair.target());
  end.destinationAddress = named ? out->peerAddress : target ? target->host : destinationHost;
  end.destinationPort = named ? out->peerPort : target ? target->port : destinationPort;
  end.fromClient = in->receivedBytes;
  end.toClient = in->sentBytes;
  end.duration = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - pair.started);
  // A name without an address is a failed connect whatever the resolver's own code.
  const EndingNames names = endingNames(pair.failure.empty() ? how : PairEnding::ConnectFailed);
  end.endCode = names.code;
  end.ending = names.words;
  const bool failed = how == PairEnding::ClientFailed || how == PairEnding::DestinationFailed ||
                      how == PairEnding::ConnectFailed;
  end.reason = !pair.failure.empty() ? pair.failure : failed && err != 0 ? std::strerror(err) : "";
  evlog::post(evlog::connectionEndLine(end));
}

void CSlotActivity::peerRefused(const std::string& address, int port) {
  ++ended.refused;
  if (evlog::enabled()) evlog::post(evlog::peerRefusedLine(slot, address, port));
}

void CSlotActivity::destinationChanged(const std::string& destination, bool up) {
  if (evlog::enabled()) evlog::post(evlog::destinationStateLine(slot, destination, up));
}

void CSlotActivity::loopRefused(const std::string& address, int port) {
  if (evlog::enabled()) evlog::post(evlog::loopRefusedLine(slot, address, port));
}

SlotTotals CSlotActivity::totals(CTcpRepeater& repeater) const {
  SlotTotals all = ended;
  int position = 0;
  while (const CTcpStreamPair* pair = repeater.getNextPair(position)) {
    if (connected(*pair)) ++all.served;
    if (pair->acceptStream)
      all.fromClient += pair->acceptStream->receivedBytes, all.toClient += pair->acceptStream->sentBytes;
  }
  return all;
}
