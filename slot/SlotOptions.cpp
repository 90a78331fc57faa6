#include "slot/SlotOptions.h"

#include <cstdio>

#include "net/ListenAddress.h"
#include "slot/PortSlot.h"
#include "slot/SettingNumber.h"

namespace {

// The code point at `at`, moving past it; -1 for a byte that opens no well-formed UTF-8 sequence.
long nextCodePoint(std::string_view s, size_t& at) {
  const auto lead = static_cast<unsigned char>(s[at++]);
  if (lead < 0x80) return lead;
  const int length = lead >= 0xF0 && lead <= 0xF4 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC2 && lead <= 0xDF ? 2 : 0;
  if (length == 0 || at + length - 1 > s.size()) return -1;
  long cp = lead & (0x7F >> length);
  for (int i = 1; i < length; ++i, ++at) {
    if ((static_cast<unsigned char>(s[at]) & 0xC0) != 0x80) return -1;
    cp = (cp << 6) | (static_cast<unsigned char>(s[at]) & 0x3F);
  }
  constexpr long kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
  if (cp < kLeast[length] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return -1;
  return cp;
}

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
  // A name the log could not show as written is not used, but leaves the slot as it works.
  name = doc.get(section, "NAME").value_or("");
  if (!isValidName(name)) {
    problems.push_back(section + " の NAME は無効な値です (" + std::to_string(kMaxNameChars) +
                       "文字まで、制御文字なし)");
    name.clear();
  }
  sourceAddress = doc.get(section, "SOURCEADDRESS").value_or("");
  if (!sourceAddress.empty() && net::literalFamily(sourceAddress) == 0) {
    problems.push_back(section + " の SOURCEADDRESS=" + sourceAddress + " は無効な値です (IPアドレス)");
    refuse("SOURCEADDRESS", sourceAddress);
  }
}

bool SlotOptions::isValidName(std::string_view text) {
  if (!text.empty() && (text.front() == ' ' || text.back() == ' ')) return false;
  const bool quoted = text.size() >= 2 && (text.front() == '"' || text.front() == '\'') && text.front() == text.back();
  if (quoted) return false;  // the file's reader would take the quotes off
  int count = 0;
  for (size_t at = 0; at < text.size(); ++count) {
    const long cp = nextCodePoint(text, at);
    if (cp < 0x20 || cp == 0x7F || (cp >= 0x80 && cp <= 0x9F) || count == kMaxNameChars) return false;
  }
  return true;
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
