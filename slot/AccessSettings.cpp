#include "slot/AccessSettings.h"

#include <optional>

#include "net/ListenAddress.h"

namespace slot_access {
namespace {

std::string key(const char* stem, int index) { return stem + std::to_string(index); }

// Only a plain digit run naming a known mode counts; "3x" or "-1" would otherwise turn into a
// mode the user never asked for.
int modeOf(const std::optional<std::string>& value) {
  if (!value || value->empty() || value->size() > 2) return CIpFilter::ModeAcceptAll;
  for (char ch : *value)
    if (ch < '0' || ch > '9') return CIpFilter::ModeAcceptAll;
  const int mode = std::stoi(*value);
  return mode <= CIpFilter::ModeRules ? mode : CIpFilter::ModeAcceptAll;
}

void loadRules(const ini::Document& doc, const std::string& section, const char* stem,
               std::string* rules, int32_t& count) {
  count = -1;
  for (int i = 0; i < CIpFilter::kMaxRules; ++i) {
    rules[i] = doc.get(section, key(stem, i)).value_or("");
    if (rules[i].empty() && count < 0) count = i;
  }
  if (count < 0) count = CIpFilter::kMaxRules;
}

std::string withText(std::string format, const std::string& text) {
  if (const size_t at = format.find("%s"); at != std::string::npos) format.replace(at, 2, text);
  return format;
}

}  // namespace

void load(const ini::Document& doc, const std::string& section, CIpFilter& filter,
          std::string& listenHost) {
  filter = CIpFilter();
  filter.mode = modeOf(doc.get(section, "FILTER"));
  loadRules(doc, section, "ALLOW", filter.allowRules, filter.allowCount);
  loadRules(doc, section, "DENY", filter.denyRules, filter.denyCount);
  listenHost = doc.get(section, "LISTENHOST").value_or("");
}

std::vector<std::pair<std::string, std::string>> values(const CIpFilter& filter,
                                                        const std::string& listenHost) {
  std::vector<std::pair<std::string, std::string>> keys{{"FILTER", std::to_string(filter.mode)}};
  for (int i = 0; i < CIpFilter::kMaxRules; ++i) keys.emplace_back(key("ALLOW", i), filter.allowRules[i]);
  for (int i = 0; i < CIpFilter::kMaxRules; ++i) keys.emplace_back(key("DENY", i), filter.denyRules[i]);
  keys.emplace_back("LISTENHOST", listenHost);
  return keys;
}

std::string switchOnRefusal(const CIpFilter& filter, const std::string& listenHost) {
  if (filter.mode == CIpFilter::ModeRules) {
    for (int i = 0; i < filter.allowCount && i < CIpFilter::kMaxRules; ++i)
      if (!CIpFilter::isValidRule(filter.allowRules[i])) return withText(kBadAllowRule, filter.allowRules[i]);
    for (int i = 0; i < filter.denyCount && i < CIpFilter::kMaxRules; ++i)
      if (!CIpFilter::isValidRule(filter.denyRules[i])) return withText(kBadDenyRule, filter.denyRules[i]);
  }
  if (!listenHost.empty() && !net::isLocalAddress(listenHost))
    return withText(kListenHostNotLocal, listenHost);
  return {};
}

}  // namespace slot_access
