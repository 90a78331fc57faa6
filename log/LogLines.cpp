#include "log/LogLines.h"

namespace evlog {
namespace {

// The slot as the settings file names its section.
std::string slotName(int slot) { return "TCP-PORT" + std::to_string(slot); }

}  // namespace

namespace {

void appendEndpoint(std::string& to, const std::string& address, int port) {
  const bool v6 = address.find(':') != std::string::npos;
  if (v6) to += '[';
  to += address;
  if (v6) to += ']';
  to += ':';
  to += std::to_string(port);
}

}  // namespace

std::string endpoint(const std::string& address, int port) {
  std::string text;
  appendEndpoint(text, address, port);
  return text;
}

// Written out by hand: a line is stamped per connection, and printf costs several times this.
std::string thousandths(int part) {
  const char text[5] = {'.', static_cast<char>('0' + part / 100), static_cast<char>('0' + part / 10 % 10),
                        static_cast<char>('0' + part % 10), '\0'};
  return text;
}

std::string seconds(std::chrono::milliseconds duration) {
  const long long ms = duration.count() < 0 ? 0 : duration.count();
  return std::to_string(ms / 1000) + thousandths(static_cast<int>(ms % 1000)) + 's';
}

std::string listeningLine(int slot, const std::string& address, int port, const std::string& destinationHost,
                          int destinationPort) {
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

// One per connection: built in one string rather than a chain of temporaries.
std::string connectionEndLine(const ConnectionEnd& end) {
  std::string line = slotName(end.slot);
  line.reserve(192);
  line += " 接続終了 接続元=";
  appendEndpoint(line, end.clientAddress, end.clientPort);
  line += " 転送先=";
  appendEndpoint(line, end.destinationAddress, end.destinationPort);
  line += " 受信=";
  line += std::to_string(end.fromClient);
  line += " 送信=";
  line += std::to_string(end.toClient);
  line += " 時間=";
  line += seconds(end.duration);
  line += " 終了=";
  line += end.ending;
  return line;
}

namespace {

// "0,2" for slots 0 and 2; "-" for none, so every field has a value.
std::string numbers(const std::vector<int>& slots) {
  std::string text;
  for (int slot : slots) text += (text.empty() ? "" : ",") + std::to_string(slot);
  return text.empty() ? "-" : text;
}

}  // namespace

std::string reloadLine(const ReloadSummary& summary) {
  return "設定再読込 維持=" + numbers(summary.kept) + " 変更=" + numbers(summary.changed) +
         " 追加=" + numbers(summary.added) + " 削除=" + numbers(summary.removed) +
         " OFF=" + numbers(summary.switchedOff) + " ON拒否=" + numbers(summary.refused);
}

std::string reloadRefusedLine(const std::string& reason) {
  std::string quoted = reason;
  for (char& c : quoted)
    if (c == '"') c = '\'';
  return "設定再読込なし(変更なし) 理由=\"" + quoted + "\"";
}

}  // namespace evlog
