#include "slot/SlotFaults.h"

#include "slot/PortSlot.h"

void SlotFaults::load(const ini::Document& doc, const std::string& section, bool udp,
                      std::vector<std::string>& problems) {
  *this = {};
  for (net::FaultSet* set : {&kept.up, &kept.down}) {
    const char* key = set == &kept.up ? kUpKey : kDownKey;
    const std::string text = doc.get(section, key).value_or("");
    if (udp && !text.empty()) {
      problems.push_back(section + " の " + key + " はUDPスロットでは使いません");
      continue;
    }
    std::string error;
    if (const std::optional<net::FaultSet> read = parse(text, error)) *set = *read;
    else
      problems.push_back(section + " の " + key + "=" + text + " は無効な値です (" + error + ")");
  }
  live = kept;
}

bool SlotFaults::reload(const SlotFaults& fresh) {
  if (fresh.kept == kept) return false;
  kept = live = fresh.kept;
  return true;
}

std::optional<net::FaultSet> SlotFaults::parse(const std::string& text, std::string& error) {
  // The key names its direction; a word that names one, or clears, has no place in it.
  if (text.find("direction") != std::string::npos || text.find("clear") != std::string::npos) {
    error = "direction と clear は書けません";
    return std::nullopt;
  }
  net::Faults read;
  if (!net::applyFaultText(text + " direction=up", read, error)) return std::nullopt;
  return read.up;
}

std::array<std::pair<std::string, std::string>, 2> SlotFaults::values() const {
  return {{{kUpKey, net::faultText(kept.up)}, {kDownKey, net::faultText(kept.down)}}};
}

void CPortSlot::setFaults(const net::Faults& next, bool keep) {
  faults.live = next;
  if (!options.udp) repeater.setFaults(next);
  if (!keep) return;
  const auto before = faults.values();
  faults.kept = next;
  const auto after = faults.values();
  for (std::size_t i = 0; i < after.size(); ++i)
    if (before[i].second != after[i].second) markChanged(after[i].first);
}
