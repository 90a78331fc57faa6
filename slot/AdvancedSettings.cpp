#include "slot/AdvancedSettings.h"

#include "net/DestinationList.h"
#include "net/ListenAddress.h"
#include "slot/PortSlot.h"
#include "slot/SettingNumber.h"

namespace advanced {
namespace {

constexpr int kMaxTime = CPortSlot::kMaxTimeout;
constexpr std::array<NumberKey, kNumbers> kNumberKeys{{
    {"BUFFERSIZE", 1, CPortSlot::kMaxBufferSize, CPortSlot::kDefaultBufferSize},
    {"CONNECTTIMEOUT", 0, kMaxTime, CTcpRepeater::kDefaultConnectTimeout},
    {"HALFCLOSETIMEOUT", 0, kMaxTime, CTcpRepeater::kDefaultHalfCloseTimeout},
    {"IDLETIMEOUT", 0, kMaxTime, 0},
    {"KEEPALIVE", 0, SlotOptions::kMaxKeepAlive, 0},
    {"MAXCONN", 0, SlotOptions::kMaxConnections, 0},
    {"UDPTIMEOUT", 1, kMaxTime, SlotOptions::kDefaultUdpTimeout},
    {"RETRYDOWN", 0, kMaxTime, net::RelayOptions{}.retryDown},
    {"CHECKINTERVAL", 0, kMaxTime, 0},
}};

// The slot's own place for each number.
template <class Slot>
auto& numberIn(Slot& slot, Number number) {
  switch (number) {
    case BufferSize: return slot.bufferSize;
    case ConnectTimeout: return slot.connectTimeout;
    case HalfCloseTimeout: return slot.halfCloseTimeout;
    case IdleTimeout: return slot.options.relay.idleTimeout;
    case KeepAlive: return slot.options.relay.keepAlive;
    case MaxConn: return slot.options.relay.maxConn;
    case UdpTimeout: return slot.options.udpTimeout;
    case RetryDown: return slot.options.relay.retryDown;
    case CheckInterval:
    case kNumbers: break;
  }
  return slot.options.relay.checkInterval;
}

std::string forwardKey(size_t index) { return "FORWARD" + std::to_string(index + 1); }

std::string keyOf(const std::string& keyAndText) { return keyAndText.substr(0, keyAndText.find('=')); }

}  // namespace

const NumberKey& numberKey(Number number) { return kNumberKeys[number]; }

Settings read(const CPortSlot& slot) {
  Settings s;
  s.name = slot.options.name;
  s.udp = slot.options.udp;
  for (int n = 0; n < kNumbers; ++n) s.numbers[n] = std::to_string(numberIn(slot, Number(n)));
  s.sourceAddress = slot.options.sourceAddress;
  for (size_t i = 0; i < slot.options.more.size() && i < s.forwards.size(); ++i)
    s.forwards[i] = net::forwardValueText(slot.options.more[i]);
  s.balance = static_cast<int>(slot.options.relay.balance);
  s.sendProxy = slot.options.relay.sendProxy;
  s.acceptProxy = slot.options.relay.acceptProxy;
  return s;
}

std::optional<Problem> check(const Settings& s) {
  if (!SlotOptions::isValidName(s.name))
    return Problem{"NAME", std::to_string(SlotOptions::kMaxNameChars) + "文字まで、制御文字なし"};
  for (int n = 0; n < kNumbers; ++n) {
    const NumberKey& k = kNumberKeys[n];
    if (!s.numbers[n].empty() && !setting_number::parse(s.numbers[n], k.low, k.high))
      return Problem{k.key, std::to_string(k.low) + "～" + std::to_string(k.high)};
  }
  if (!s.sourceAddress.empty() && net::literalFamily(s.sourceAddress) == 0)
    return Problem{"SOURCEADDRESS", "IPアドレス"};
  for (size_t i = 0; i < s.forwards.size(); ++i)
    if (!s.forwards[i].empty() && !net::parseForwardValue(s.forwards[i])) return Problem{forwardKey(i), "host:port"};
  if (s.balance < 0 || s.balance > 2) return Problem{"BALANCE", "0～2"};
  if (s.sendProxy < 0 || s.sendProxy > 2) return Problem{"SENDPROXY", "0～2"};
  return std::nullopt;
}

void apply(CPortSlot& slot, const Settings& s) {
  const std::vector<Value> before = values(slot);
  SlotOptions& o = slot.options;
  o.name = s.name;
  o.udp = s.udp;
  for (int n = 0; n < kNumbers; ++n) {
    const NumberKey& k = kNumberKeys[n];
    numberIn(slot, Number(n)) = setting_number::parse(s.numbers[n], k.low, k.high).value_or(k.byDefault);
  }
  o.sourceAddress = s.sourceAddress;
  o.more.clear();
  for (const std::string& text : s.forwards)
    if (const std::optional<net::HostPort> to = net::parseForwardValue(text)) o.more.push_back(*to);
  o.relay.balance = static_cast<net::BalanceMode>(s.balance);
  o.relay.sendProxy = s.sendProxy;
  o.relay.acceptProxy = s.acceptProxy;
  const std::vector<Value> after = values(slot);
  const std::string refused = keyOf(o.invalid);
  bool forwards = refused.starts_with("FORWARD");
  for (size_t i = 0; i < after.size(); ++i) {
    const bool changed = before[i].text != after[i].text || after[i].key == refused;
    if (changed && after[i].key.starts_with("FORWARD")) forwards = true;
    else if (changed)
      slot.markChanged(after[i].key);
  }
  // The file's positions may have gaps the list closed up: every position is written again.
  for (size_t i = 0; forwards && i < s.forwards.size(); ++i) slot.markChanged(forwardKey(i));
  for (const Value& v : after)
    if (v.key == refused) o.invalid.clear();
  slot.publishName();
}

std::vector<Value> values(const CPortSlot& slot) {
  const SlotOptions& o = slot.options;
  std::vector<Value> all{{"NAME", o.name, o.name.empty()}, {"PROTOCOL", o.udp ? "UDP" : "TCP", !o.udp}};
  for (int n = 0; n < kNumbers; ++n) {
    const int value = numberIn(slot, Number(n));
    all.push_back({kNumberKeys[n].key, std::to_string(value), value == kNumberKeys[n].byDefault});
  }
  all.push_back({"SOURCEADDRESS", o.sourceAddress, o.sourceAddress.empty()});
  for (size_t i = 0; i < SlotOptions::kMaxForwards; ++i) {
    const std::string text = i < o.more.size() ? net::forwardValueText(o.more[i]) : "";
    all.push_back({forwardKey(i), text, text.empty()});
  }
  const int balance = static_cast<int>(o.relay.balance);
  all.push_back({"BALANCE", std::to_string(balance), balance == 0});
  all.push_back({"SENDPROXY", std::to_string(o.relay.sendProxy), o.relay.sendProxy == 0});
  all.push_back({"ACCEPTPROXY", o.relay.acceptProxy ? "1" : "0", !o.relay.acceptProxy});
  return all;
}

}  // namespace advanced
