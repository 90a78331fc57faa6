#include "log/SessionLines.h"

#include <cstring>

#include "log/LogLines.h"

namespace evlog {

Record sessionOpenLine(int slot, const std::string& clientAddress, int clientPort, const std::string& destination) {
  Record record(Level::Info, "session_open", "UDPセッション開始", slot);
  return record.add("client", "接続元", endpoint(clientAddress, clientPort)).add("destination", "転送先", destination);
}

Record sessionEndLine(const SessionEnd& end) {
  const bool failed = std::strncmp(end.endCode, "destination_", 12) == 0;
  Record record(failed ? Level::Warning : Level::Info, "session_end", "UDPセッション終了", end.slot);
  record.add("client", "接続元", endpoint(end.clientAddress, end.clientPort))
      .add("destination", "転送先",
           end.destinationAddress.empty() ? std::string("-") : endpoint(end.destinationAddress, end.destinationPort))
      .add("received_datagrams", "受信数", end.datagramsFromClient)
      .add("received", "受信", end.bytesFromClient)
      .add("sent_datagrams", "送信数", end.datagramsToClient)
      .add("sent", "送信", end.bytesToClient);
  return addEnding(record, end.duration, end.endCode, end.ending, end.reason);
}

Record datagramRefusedLine(int slot, const std::string& address, int port, std::uint64_t unlogged) {
  Record record = peerRefusedLine(slot, address, port);
  if (unlogged > 0) record.add("unlogged", "記録省略", unlogged);
  return record;
}

}  // namespace evlog
