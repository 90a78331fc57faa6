#include "slot/AccessSettings.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include "net/ListenAddress.h"
#include "slot/SettingNumber.h"

namespace slot_access {
namespace {

std::string key(const char* stem, int index) { return stem + std::to_string(index); }

void loadRules(const ini::Document& doc, const std::string& section, const char* stem, std::string* rules,
               int32_t& count) {
  // Every entry is read: a gap before a rule must not hide it, so the list reaches the last rule.
  count = 0;
  for (int i = 0; i < CIpFilter::kMaxRules; ++i) {
    rules[i] = doc.get(section, key(stem, i)).value_or("");
    if (!rules[i].empty()) count = i + 1;
  }
}

std::string firstBadRule(const std::string* rules, int32_t count) {
  for (int i = 0; i < count && i < CIpFilter::kMaxRules; ++i)
    if (!rules[i].empty() && !CIpFilter::isValidRule(rules[i])) return rules[i];
  return {};
}

std::string withText(std::string format, const std::string& text) {
  if (const size_t at = format.find("%s"); at != std::string::npos) format.replace(at, 2, text);
  return format;
}

}  // namespace

std::string load(const ini::Document& doc, const std::string& section, CIpFilter& filter, std::string& listenHost) {
  filter = CIpFilter();
  const std::string mode = doc.get(section, "FILTER").value_or("");
  if (!mode.empty())
    filter.mode =
        setting_number::parse(mode, CIpFilter::ModeAcceptAll, CIpFilter::ModeRules).value_or(CIpFilter::ModeInvalid);
  loadRules(doc, section, "ALLOW", filter.allowRules, filter.allowCount);
  loadRules(doc, section, "DENY", filter.denyRules, filter.denyCount);
  listenHost = doc.get(section, "LISTENHOST").value_or("");
  return filter.mode == CIpFilter::ModeInvalid ? mode : std::string();
}

std::vector<std::pair<std::string, std::string>> values(const CIpFilter& filter, const std::string& listenHost) {
  std::vector<std::pair<std::string, std::string>> keys{{"FILTER", std::to_string(filter.mode)}};
  for (int i = 0; i < CIpFilter::kMaxRules; ++i) keys.emplace_back(key("ALLOW", i), filter.allowRules[i]);
  for (int i = 0; i < CIpFilter::kMaxRules; ++i) keys.emplace_back(key("DENY", i), filter.denyRules[i]);
  keys.emplace_back("LISTENHOST", listenHost);
  return keys;
}

std::string switchOnRefusal(const CIpFilter& filter, const std::string& listenHost, const std::string& modeText) {
  if (filter.mode < CIpFilter::ModeAcceptAll || filter.mode > CIpFilter::ModeRules)
    return withText(kBadMode, modeText.empty() ? std::to_string(filter.mode) : modeText);
  if (filter.mode == CIpFilter::ModeRules) {
    if (const std::string bad = firstBadRule(filter.allowRules, filter.allowCount); !bad.empty())
      return withText(kBadAllowRule, bad);
    if (const std::string bad = firstBadRule(filter.denyRules, filter.denyCount); !bad.empty())
      return withText(kBadDenyRule, bad);
  }
  if (!listenHost.empty() && !net::isLocalAddress(listenHost)) return withText(kListenHostNotLocal, listenHost);
  return {};
}

namespace {

// A literal loopback address; anything else (every address, a name) is not.
bool isLoopback(const std::string& host) {
  in_addr v4{};
  if (inet_pton(AF_INET, host.c_str(), &v4) == 1) return (ntohl(v4.s_addr) >> 24) == 127;
  in6_addr v6{};
  if (inet_pton(AF_INET6, host.c_str(), &v6) != 1) return false;
  return IN6_IS_ADDR_LOOPBACK(&v6) || (IN6_IS_ADDR_V4MAPPED(&v6) && v6.s6_addr[12] == 127);
}

}  // namespace

bool openToOtherMachines(const CIpFilter& filter, const std::string& listenHost) {
  return filter.mode == CIpFilter::ModeAcceptAll && !isLoopback(listenHost);
}

}  // namespace slot_access
