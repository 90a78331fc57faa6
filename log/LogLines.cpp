#include "log/LogLines.h"

#include <cstring>

namespace evlog {
namespace {

void appendEndpoint(std::string& to, const std::string& address, int port) {
  const bool v6 = address.find(':') != std::string::npos;
  if (v6) to += '[';
  to += address;
  if (v6) to += ']';
  to += ':';
  to += std::to_string(port);
}

Record withFile(Level level, const char* event, const char* label, const std::string& file,
                const std::string& message) {
  Record record(level, event, label);
  record.add("file", "設定", file).add("message", "内容", message);
  return record;
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

Record& addEnding(Record& record, std::chrono::milliseconds duration, const char* endCode, const std::string& ending,
                  const std::string& reason) {
  const long long ms = duration.count() < 0 ? 0 : duration.count();
  record.add("duration_ms", nullptr, static_cast<std::uint64_t>(ms)).add(nullptr, "時間", seconds(duration));
  record.add("end", nullptr, endCode).add(nullptr, "終了", ending);
  if (!reason.empty()) record.add("reason", "理由", reason);
  return record;
}

std::string seconds(std::chrono::milliseconds duration) {
  const long long ms = duration.count() < 0 ? 0 : duration.count();
  return std::to_string(ms / 1000) + thousandths(static_cast<int>(ms % 1000)) + 's';
}

Record startLine(const std::string& version, const std::string& file, int slotsFound, int slotsStarted) {
  Record record(Level::Notice, "start", "起動");
  record.add("version", "版", version).add("file", "設定", file);
  record.add("slots", "スロット数", static_cast<std::uint64_t>(slotsFound));
  return record.add("started", "起動数", static_cast<std::uint64_t>(slotsStarted));
}

Record listeningLine(int slot, const std::string& address, int port, const std::string& destinationHost,
                     int destinationPort, const std::string& warning) {
  Record record(Level::Notice, "listening", "待ち受け開始", slot);
  record.add("listen", "待受", endpoint(address, port))
      .add("destination", "転送先", endpoint(destinationHost, destinationPort));
  if (!warning.empty()) record.add("warning", "注意", warning);
  return record;
}

Record stoppedLine(int slot) { return Record(Level::Notice, "stopped", "停止", slot); }

Record switchOnRefusedLine(int slot, const std::string& message) {
  return Record(Level::Warning, "switch_on_refused", "ON拒否", slot).add("reason", "理由", message);
}

Record peerRefusedLine(int slot, const std::string& address, int port) {
  return Record(Level::Warning, "peer_refused", "フィルタ拒否", slot).add("client", "接続元", endpoint(address, port));
}

Record loopRefusedLine(int slot, const std::string& address, int port) {
  return Record(Level::Warning, "loop_refused", "中継ループ拒否", slot)
      .add("client", "接続元", endpoint(address, port));
}

Record destinationStateLine(int slot, const std::string& destination, bool up) {
  Record record(up ? Level::Notice : Level::Warning, up ? "destination_up" : "destination_down",
                up ? "転送先復旧" : "転送先停止", slot);
  return record.add("destination", "転送先", destination);
}

Record connectionOpenLine(const ConnectionOpen& open) {
  Record record(Level::Info, "connection_open", "接続開始", open.slot);
  return record.add("client", "接続元", endpoint(open.clientAddress, open.clientPort))
      .add("destination", "転送先", endpoint(open.destinationAddress, open.destinationPort));
}

// One per connection: each field's text is built once, for both shapes.
Record connectionEndLine(const ConnectionEnd& end) {
  const bool unreached = std::strcmp(end.endCode, "connect_failed") == 0;
  Record record(unreached ? Level::Warning : Level::Info, "connection_end", "接続終了", end.slot);
  record.add("client", "接続元", endpoint(end.clientAddress, end.clientPort))
      .add("destination", "転送先", endpoint(end.destinationAddress, end.destinationPort))
      .add("received", "受信", end.fromClient)
      .add("sent", "送信", end.toClient);
  return addEnding(record, end.duration, end.endCode, end.ending, end.reason);
}

Record problemLine(int slot, const std::string& message) {
  return Record(Level::Warning, "problem", "設定の問題", slot).add("message", "内容", message);
}

Record saveFailedLine(const std::string& file, const std::string& message) {
  return withFile(Level::Error, "save_failed", "保存失敗", file, message);
}

Record captureFailedLine(int slot, const std::string& file, const std::string& message) {
  return Record(Level::Error, "capture_failed", "キャプチャ書込失敗", slot)
      .add("file", "ファイル", file)
      .add("message", "内容", message);
}

Record startRefusedLine(const std::string& file, const std::string& message) {
  return withFile(Level::Error, "start_refused", "起動拒否", file, message);
}

Record settingsCopiedLine(const std::string& file, const std::string& message) {
  return withFile(Level::Notice, "settings_copied", "設定コピー", file, message);
}

Record linesDroppedLine(unsigned long long count) {
  return Record(Level::Warning, "lines_dropped", "行省略").add("count", "行数", static_cast<std::uint64_t>(count));
}

Record messageLine(const std::string& text) {
  return Record(Level::Notice, "message", "通知").add("message", "内容", text);
}

Record serviceFailedLine(const std::string& message) {
  return Record(Level::Warning, "service_failed", "サービス失敗").add("message", "内容", message);
}

namespace {

// "0,2" for slots 0 and 2; "-" for none, so every field has a value.
std::string numbers(const std::vector<int>& slots) {
  std::string text;
  for (int slot : slots) text += (text.empty() ? "" : ",") + std::to_string(slot);
  return text.empty() ? "-" : text;
}

}  // namespace

Record reloadLine(const ReloadSummary& summary) {
  return Record(Level::Notice, "reload", "設定再読込")
      .add("kept", "維持", numbers(summary.kept))
      .add("changed", "変更", numbers(summary.changed))
      .add("added", "追加", numbers(summary.added))
      .add("removed", "削除", numbers(summary.removed))
      .add("switched_off", "OFF", numbers(summary.switchedOff))
      .add("refused", "ON拒否", numbers(summary.refused));
}

Record reloadRefusedLine(const std::string& reason) {
  return Record(Level::Warning, "reload_refused", "設定再読込なし").add("reason", "理由", reason);
}

}  // namespace evlog
