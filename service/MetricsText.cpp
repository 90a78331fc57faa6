#include "service/MetricsText.h"

#include <cstdint>
#include <functional>

#include "slot/SlotSet.h"

namespace service {

namespace {

struct Family {
  const char* name;
  const char* type;
  const char* help;
  std::function<std::uint64_t(CPortSlot&, const SlotTotals&)> value;
};

const Family kFamilies[] = {
    {"relvanetiv_slot_up", "gauge", "Whether the slot listens (1) or not (0).",
     [](CPortSlot& s, const SlotTotals&) -> std::uint64_t { return s.started() ? 1 : 0; }},
    {"relvanetiv_slot_open_connections", "gauge", "Connections the slot relays now.",
     [](CPortSlot& s, const SlotTotals&) -> std::uint64_t { return s.connectionCount > 0 ? s.connectionCount : 0; }},
    {"relvanetiv_slot_connections_total", "counter",
     "Connections that reached the destination since the slot was switched on.",
     [](CPortSlot&, const SlotTotals& t) { return t.served; }},
    {"relvanetiv_slot_refused_total", "counter", "Clients the filter did not serve since the slot was switched on.",
     [](CPortSlot&, const SlotTotals& t) { return t.refused; }},
    {"relvanetiv_slot_connect_failures_total", "counter",
     "Connections whose destination could not be reached since the slot was switched on.",
     [](CPortSlot&, const SlotTotals& t) { return t.failed; }},
    {"relvanetiv_slot_received_bytes_total", "counter", "Bytes received from clients since the slot was switched on.",
     [](CPortSlot&, const SlotTotals& t) { return t.fromClient; }},
    {"relvanetiv_slot_sent_bytes_total", "counter", "Bytes sent to clients since the slot was switched on.",
     [](CPortSlot&, const SlotTotals& t) { return t.toClient; }},
    {"relvanetiv_slot_received_datagrams_total", "counter",
     "Datagrams received from clients since the slot was switched on (UDP slots).",
     [](CPortSlot&, const SlotTotals& t) { return t.datagramsFromClient; }},
    {"relvanetiv_slot_sent_datagrams_total", "counter",
     "Datagrams sent to clients since the slot was switched on (UDP slots).",
     [](CPortSlot&, const SlotTotals& t) { return t.datagramsToClient; }},
    {"relvanetiv_slot_dropped_datagrams_total", "counter",
     "Datagrams lost to a full buffer since the slot was switched on (UDP slots).",
     [](CPortSlot&, const SlotTotals& t) { return t.dropped; }},
};

std::string header(const char* name, const char* type, const char* help) {
  return std::string("# HELP ") + name + " " + help + "\n# TYPE " + name + " " + type + "\n";
}

// Each destination of the slots that have several; nothing for the others.
std::string destinationFamilies(CSlotSet& slots, const std::vector<std::string>& labels) {
  std::string up, live;
  for (int i = 0; i < slots.size(); ++i) {
    for (const CTcpRepeater::DestinationState& d : slots[i].destinationStates()) {
      const std::string label = labels[i].substr(0, labels[i].size() - 1) + ",destination=\"" + labelValue(d.name) +
                                "\"}";
      up += "relvanetiv_destination_up" + label + (d.up ? " 1\n" : " 0\n");
      live += "relvanetiv_destination_connections" + label + " " + std::to_string(d.live) + "\n";
    }
  }
  if (up.empty()) return "";
  return header("relvanetiv_destination_up", "gauge", "Whether the destination is taken for up (1) or down (0).") + up +
         header("relvanetiv_destination_connections", "gauge", "Pairs connecting to the destination or connected.") +
         live;
}

}  // namespace

std::string labelValue(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\\' || c == '"') out += '\\';
    if (c == '\n') {
      out += "\\n";
      continue;
    }
    out += c;
  }
  return out;
}

std::string metricsText(CSlotSet& slots, const std::string& version) {
  std::string text = header("relvanetiv_build_info", "gauge", "The program's version; always 1.");
  text += "relvanetiv_build_info{version=\"" + labelValue(version) + "\"} 1\n";
  std::vector<SlotTotals> totals;
  std::vector<std::string> labels;
  for (int i = 0; i < slots.size(); ++i) {
    totals.push_back(slots[i].totals());
    labels.push_back("{slot=\"" + std::to_string(slots[i].slotIndex) + "\",listen_port=\"" +
                     std::to_string(slots[i].listenPort) + "\"}");
  }
  for (const Family& family : kFamilies) {
    text += header(family.name, family.type, family.help);
    for (int i = 0; i < slots.size(); ++i)
      text += family.name + labels[i] + " " + std::to_string(family.value(slots[i], totals[i])) + "\n";
  }
  return text + destinationFamilies(slots, labels);
}

}  // namespace service
