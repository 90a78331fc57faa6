#include "slot/SlotActivity.h"

#include <cstring>

#include "log/EventLog.h"
#include "log/LogLines.h"

namespace {

std::string withReason(const char* what, int err) { return std::string(what) + "(" + std::strerror(err) + ")"; }

bool connected(const CTcpStreamPair& pair) {
  return pair.acceptStream && pair.connectStream && pair.acceptStream->connectState == STREAM_CONNECTED &&
         pair.connectStream->connectState == STREAM_CONNECTED;
}

}  // namespace

std::string endingText(PairEnding how, int err) {
  switch (how) {
    case PairEnding::ClientClosed: return "クライアントが切断";
    case PairEnding::DestinationClosed: return "転送先が切断";
    case PairEnding::ClientReset: return "クライアントがリセット";
    case PairEnding::DestinationReset: return "転送先がリセット";
    case PairEnding::ClientFailed: return withReason("クライアント側エラー", err);
    case PairEnding::DestinationFailed: return withReason("転送先側エラー", err);
    case PairEnding::ConnectFailed: return withReason("接続失敗", err);
    case PairEnding::HalfCloseTimedOut: return "片側の終了後に無通信のため切断";
    case PairEnding::Stopped: break;
  }
  return "停止";
}

void CSlotActivity::switchedOn(int slotIndex, const std::string& host, int port) {
  slot = slotIndex;
  destinationHost = host;
  destinationPort = port;
  ended = {};
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
  const bool named = out && !out->peerAddress.empty();
  end.destinationAddress = named ? out->peerAddress : destinationHost;
  end.destinationPort = named ? out->peerPort : destinationPort;
  end.fromClient = in->receivedBytes;
  end.toClient = in->sentBytes;
  end.duration = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - pair.started);
  end.ending = pair.failure.empty() ? endingText(how, err) : "接続失敗(" + pair.failure + ")";
  evlog::post(evlog::connectionEndLine(end));
}

void CSlotActivity::peerRefused(const std::string& address, int port) {
  ++ended.refused;
  if (evlog::enabled()) evlog::post(evlog::peerRefusedLine(slot, address, port));
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
