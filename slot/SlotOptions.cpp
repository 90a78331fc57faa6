#include "slot/SlotOptions.h"

#include <cstdio>

#include "net/ListenAddress.h"
#include "slot/PortSlot.h"
#include "slot/SettingNumber.h"

namespace {

std::string withText(const char* format, const std::string& text) {
  char message[512];
  std::snprintf(message, sizeof message, format, text.c_str());
  return message;
}

}  // namespace

void SlotOptions::load(const ini::Document& doc, const std::string& section, std::vector<std::string>& problems) {
  *this = {};
  auto refuse = [&](const char* key, const std::string& text) {
    if (invalid.empty()) invalid = std::string(key) + "=" + text;
  };
  // refuses: an invalid value refuses the switch-on rather than taking the default.
  auto readInt = [&](const char* key, int high, int def, bool refuses) {
    const std::string text = doc.get(section, key).value_or("");
    if (text.empty()) return def;
    const std::optional<int> value = setting_number::parse(text, 0, high);
    if (value) return *value;
    problems.push_back(setting_number::invalidLine(section, key, text, 0, high));
    if (refuses) refuse(key, text);
    return def;
  };
  for (int n = 1; n <= kMaxForwards; ++n) {
    const std::string key = "FORWARD" + std::to_string(n);
    const std::string text = doc.get(section, key).value_or("");
    if (text.empty()) continue;
    if (const std::optional<net::HostPort> to = net::parseForwardValue(text)) {
      more.push_back(*to);
      continue;
    }
    problems.push_back(section + " の " + key + "=" + text + " は無効な値です (host:port)");
    refuse(key.c_str(), text);
  }
  relay.balance = static_cast<net::BalanceMode>(readInt("BALANCE", 2, 0, false));
  relay.retryDown = readInt("RETRYDOWN", CPortSlot::kMaxTimeout, relay.retryDown, false);
  relay.checkInterval = readInt("CHECKINTERVAL", CPortSlot::kMaxTimeout, 0, false);
  relay.sendProxy = readInt("SENDPROXY", 2, 0, true);
  relay.acceptProxy = readInt("ACCEPTPROXY", 1, 0, true) != 0;
  relay.idleTimeout = readInt("IDLETIMEOUT", CPortSlot::kMaxTimeout, 0, true);
  relay.keepAlive = readInt("KEEPALIVE", kMaxKeepAlive, 0, false);
  relay.maxConn = readInt("MAXCONN", kMaxConnections, 0, true);
  loadProtocol(doc, section, problems);
  sourceAddress = doc.get(section, "SOURCEADDRESS").value_or("");
  if (!sourceAddress.empty() && net::literalFamily(sourceAddress) == 0) {
    problems.push_back(section + " の SOURCEADDRESS=" + sourceAddress + " は無効な値です (IPアドレス)");
    refuse("SOURCEADDRESS", sourceAddress);
  }
}

// A misspelt protocol refuses: the other one would listen where the user did not ask.
void SlotOptions::loadProtocol(const ini::Document& doc, const std::string& section,
                               std::vector<std::string>& problems) {
  const std::string protocol = doc.get(section, "PROTOCOL").value_or("");
  udp = protocol == "UDP";
  if (!protocol.empty() && !udp && protocol != "TCP") {
    problems.push_back(section + " の PROTOCOL=" + protocol + " は無効な値です (TCP または UDP)");
    if (invalid.empty()) invalid = "PROTOCOL=" + protocol;
  }
  const std::string timeout = doc.get(section, "UDPTIMEOUT").value_or("");
  if (!timeout.empty()) {
    const std::optional<int> value = setting_number::parse(timeout, 1, CPortSlot::kMaxTimeout);
    if (!value)
      problems.push_back(setting_number::invalidLine(section, "UDPTIMEOUT", timeout, 1, CPortSlot::kMaxTimeout));
    udpTimeout = value.value_or(kDefaultUdpTimeout);
  }
  if (!udp) return;
  for (const char* key : {"BUFFERSIZE", "CONNECTTIMEOUT", "HALFCLOSETIMEOUT", "BALANCE", "RETRYDOWN", "CHECKINTERVAL",
                          "SENDPROXY", "ACCEPTPROXY", "IDLETIMEOUT", "KEEPALIVE"})
    if (doc.get(section, key)) problems.push_back(section + " の " + key + " はUDPスロットでは使いません");
  if (!more.empty()) problems.push_back(section + " の FORWARD1..9 はUDPスロットでは使いません");
}

// The source address is judged at the switch-on: the machine's addresses may change.
std::string SlotOptions::switchOnRefusal() const {
  if (!invalid.empty()) return withText(kOptionInvalid, invalid);
  if (!sourceAddress.empty() && !net::isLocalAddress(sourceAddress)) return withText(kSourceNotLocal, sourceAddress);
  return {};
}
