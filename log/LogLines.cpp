#include "log/LogLines.h"

#include <cstdio>

namespace evlog {
namespace {

// The slot as the settings file names its section.
std::string slotName(int slot) { return "TCP-PORT" + std::to_string(slot); }

}  // namespace

std::string endpoint(const std::string& address, int port) {
  const bool v6 = address.find(':') != std::string::npos;
  return (v6 ? "[" + address + "]" : address) + ':' + std::to_string(port);
}

std::string seconds(std::chrono::milliseconds duration) {
  const long long ms = duration.count() < 0 ? 0 : duration.count();
  char text[32];
  std::snprintf(text, sizeof text, "%lld.%03llds", ms / 1000, ms % 1000);
  return text;
}

std::string listeningLine(int slot, const std::string& address, int port,
                          const std::string& destinationHost, int destinationPort) {
  return slotName(slot) + " 待ち受け開始 待受=" + endpoint(address, port) +
         " 転送先=" + endpoint(destinationHost, destinationPort);
}

std::string stoppedLine(int slot) { return slotName(slot) + " 停止"; }

std::string switchOnRefusedLine(int slot, const std::string& message) {
  return slotName(slot) + " ON拒否 理由=" + message;
}

std::string peerRefusedLine(int slot, const std::string& address, int port) {
  return slotName(slot) + " フィルタ拒否 接続元=" + endpoint(address, port);
}

std::string loopRefusedLine(int slot, const std::string& address, int port) {
  return slotName(slot) + " 中継ループ拒否 接続元=" + endpoint(address, port);
}

std::string connectionEndLine(const ConnectionEnd& end) {
  return slotName(end.slot) + " 接続終了 接続元=" + endpoint(end.clientAddress, end.clientPort) +
         " 転送先=" + endpoint(end.destinationAddress, end.destinationPort) +
         " 受信=" + std::to_string(end.fromClient) + " 送信=" + std::to_string(end.toClient) +
         " 時間=" + seconds(end.duration) + " 終了=" + end.ending;
}

}  // namespace evlog
