#include "service/ControlCommands.h"

#include <sstream>
#include <vector>

#include "service/SlotReport.h"
#include "slot/SlotSet.h"

namespace service {

namespace {

// A text from elsewhere (a refusal, the reload's line) kept to one line of the answer.
std::string oneLine(std::string text) {
  for (char& c : text)
    if (c == '\n' || c == '\r') c = ' ';
  return text;
}

std::string ok(const std::vector<std::string>& lines) {
  std::string text = "OK\n";
  for (const std::string& line : lines) text += oneLine(line) + "\n";
  return text + "\n";
}

std::string err(const std::string& reason) { return "ERR " + oneLine(reason) + "\n\n"; }

std::vector<std::string> words(const std::string& line) {
  std::istringstream in(line);
  std::vector<std::string> out;
  for (std::string word; in >> word;) out.push_back(word);
  return out;
}

// A slot number as the request wrote it: decimal digits only; -1 for anything else.
int slotNumber(const std::string& text) {
  if (text.empty() || text.size() > 4 || text.find_first_not_of("0123456789") != std::string::npos) return -1;
  return std::stoi(text);
}

}  // namespace

ControlCommands::ControlCommands(CSlotSet& slots, ControlHooks hooks) : slots_(slots), hooks_(std::move(hooks)) {}

std::string ControlCommands::answer(const std::string& line) {
  const std::vector<std::string> w = words(line);
  if (w.empty()) return err("要求が空です");
  const std::string& verb = w[0];
  if (w.size() == 1 && verb == "status") return status();
  if (w.size() == 1 && verb == "reload") return reload();
  const bool numbered = verb == "connections" || verb == "on" || verb == "off" || verb == "fault";
  if (!numbered) return err("不明な要求です: " + token(verb.substr(0, 32)));
  const bool withText = verb == "fault" && w.size() >= 2;
  const int n = w.size() == 2 || withText ? slotNumber(w[1]) : -1;
  if (n < 0) return err("使い方: " + verb + (verb == "fault" ? " N [障害 | clear]" : " N"));
  if (n >= slots_.size())
    return err("スロット " + std::to_string(n) + " はありません (スロット数 " + std::to_string(slots_.size()) + ")");
  if (verb == "fault") return fault(n, line.substr(line.find(w[1]) + w[1].size()));
  return verb == "connections" ? connections(n) : switchSlot(n, verb == "on");
}

std::string ControlCommands::status() {
  std::vector<std::string> lines;
  for (int i = 0; i < slots_.size(); ++i) lines.push_back(slotStatusLine(slots_[i]));
  return ok(lines);
}

std::string ControlCommands::connections(int n) {
  std::vector<std::string> rows = connectionRows(slots_[n]);
  std::size_t bytes = 0, kept = 0;
  while (kept < rows.size() && bytes + rows[kept].size() + 1 <= kMaxAnswerBytes) bytes += rows[kept++].size() + 1;
  if (kept < rows.size()) {
    const std::size_t more = rows.size() - kept;
    rows.resize(kept);
    rows.push_back("more=" + std::to_string(more));
  }
  return ok(rows);
}

std::string ControlCommands::reload() {
  if (!hooks_.reload) return err(hooks_.noReload);
  const ReloadAnswer answer = hooks_.reload();
  return answer.applied ? ok({answer.line}) : err(answer.line);
}

std::string ControlCommands::switchSlot(int n, bool on) {
  CPortSlot& slot = slots_[n];
  const bool already = on ? slot.started() : slot.act == 0;
  if (!already) {
    if (!hooks_.switchSlot) return err("この実行では ON/OFF を切り替えられません");
    if (const std::string refusal = hooks_.switchSlot(n, on); !refusal.empty()) return err(refusal);
  }
  return ok({slotStatusLine(slots_[n])});
}

std::string ControlCommands::fault(int n, const std::string& text) {
  CPortSlot& slot = slots_[n];
  if (slot.isUdp()) return err("スロット " + std::to_string(n) + " はUDPです。障害はTCPスロットにだけ設定できます");
  net::Faults next = slot.faults.live;
  std::string error;
  if (!net::applyFaultText(text, next, error)) return err(error);
  if (next != slot.faults.live) slot.setFaults(next, false);
  return ok({"up=" + net::faultText(next.up), "down=" + net::faultText(next.down)});
}

}  // namespace service
