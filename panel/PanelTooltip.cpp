#include "panel/PanelTooltip.h"

#include "log/LogLines.h"
#include "slot/AccessSettings.h"
#include "slot/PortSlot.h"

namespace panel_tooltip {
namespace {

std::string balanceText(net::BalanceMode mode) {
  switch (mode) {
    case net::BalanceMode::Failover: return "先頭から順に、使える先へ";
    case net::BalanceMode::RoundRobin: return "順番に (ラウンドロビン)";
    case net::BalanceMode::LeastConnections: return "接続数の少ない先へ";
  }
  return {};
}

// The rules in use: a gap in the list is no rule.
int ruleCount(const std::string* rules, int count) {
  int used = 0;
  for (int i = 0; i < count && i < CIpFilter::kMaxRules; ++i) used += rules[i].empty() ? 0 : 1;
  return used;
}

// In the access dialog's words.
std::string filterText(const CIpFilter& filter) {
  switch (filter.mode) {
    case CIpFilter::ModeAcceptAll: return "すべて受け付ける";
    case CIpFilter::ModeLocalHost: return "このPCからのみ (127.0.0.1, ::1)";
    case CIpFilter::ModePrivate: return "ループバックとプライベートネットワーク";
    case CIpFilter::ModeRules:
      return "許可・拒否ルール (許可 " + std::to_string(ruleCount(filter.allowRules, filter.allowCount)) + "件、拒否 " +
             std::to_string(ruleCount(filter.denyRules, filter.denyCount)) + "件)";
  }
  return "無効な設定 (誰も受け付けない)";
}

std::string destinationLines(const CPortSlot& slot) {
  const auto& more = slot.options.more;
  if (more.empty()) return "転送先: " + evlog::endpoint(slot.forwardHost, slot.forwardPort) + "\n";
  std::string lines = "転送先1: " + evlog::endpoint(slot.forwardHost, slot.forwardPort) + "\n";
  for (std::size_t i = 0; i < more.size(); ++i)
    lines += "転送先" + std::to_string(i + 2) + ": " + evlog::endpoint(more[i].host, more[i].port) + "\n";
  return lines + "振り分け: " + balanceText(slot.options.relay.balance) + "\n";
}

}  // namespace

std::string text(const CPortSlot& slot) {
  std::string tip = destinationLines(slot);
  tip += "待ち受け: " + (slot.listenHost.empty() ? std::string("すべてのアドレス") : slot.listenHost) + " (" +
         slot.listenCaption() + ")\n";
  tip += "接続を受け付ける相手: " + filterText(slot.filter);
  if (slot_access::openToOtherMachines(slot.filter, slot.listenHost))
    tip += std::string("\n注意: ") + slot_access::kOpenToOthers;
  return tip;
}

}  // namespace panel_tooltip
