#include "net/Faults.h"

#include <charconv>
#include <sstream>
#include <utility>
#include <vector>

namespace net {

bool FaultSet::any() const { return *this != FaultSet{}; }

namespace {

bool number(const std::string& text, long long lo, long long hi, long long& out) {
  const char* end = text.data() + text.size();
  auto [p, ec] = std::from_chars(text.data(), end, out);
  return ec == std::errc() && p == end && out >= lo && out <= hi;
}

// Sets one key in `set`; false for an unknown key or a bad value.
bool setKey(FaultSet& set, const std::string& key, const std::string& value) {
  long long v = 0;
  constexpr long long kMs = 3600 * 1000, kBytes = 1LL << 50;
  auto asInt = [&](int& field, long long lo, long long hi) {
    if (!number(value, lo, hi, v)) return false;
    field = static_cast<int>(v);
    return true;
  };
  auto asBytes = [&](std::uint64_t& field) {
    if (!number(value, 0, kBytes, v)) return false;
    field = static_cast<std::uint64_t>(v);
    return true;
  };
  if (key == "latency") return asInt(set.latencyMs, 0, kMs);
  if (key == "jitter") return asInt(set.jitterMs, 0, kMs);
  if (key == "bandwidth") return asInt(set.bandwidthKiBs, 0, 1 << 22);
  if (key == "limit_data") return asBytes(set.limitBytes);
  if (key == "reset_after") return asBytes(set.resetBytes);
  if (key == "slice") return asInt(set.sliceBytes, 0, 1 << 20);
  if (key == "slice_delay") return asInt(set.sliceDelayMs, 0, kMs);
  if (key == "timeout") return asInt(set.timeoutMs, -1, kMs);
  if (key == "slow_close") return asInt(set.slowCloseMs, 0, kMs);
  if (key == "reset_percent") return asInt(set.resetPercent, 0, 100);
  return false;
}

}  // namespace

bool applyFaultText(const std::string& text, Faults& faults, std::string& error) {
  std::istringstream in(text);
  std::vector<std::pair<std::string, std::string>> settings;
  bool up = true, down = true, clear = false;
  for (std::string word; in >> word;) {
    if (word == "clear") {
      clear = true;
      continue;
    }
    const auto eq = word.find('=');
    if (eq == std::string::npos) {
      error = "bad word: " + word;
      return false;
    }
    std::string key = word.substr(0, eq), value = word.substr(eq + 1);
    if (key != "direction") {
      settings.emplace_back(std::move(key), std::move(value));
    } else if (value == "up" || value == "down" || value == "both") {
      up = value != "down";
      down = value != "up";
    } else {
      error = "bad direction: " + value;
      return false;
    }
  }
  Faults next = faults;
  for (FaultSet* set : {up ? &next.up : nullptr, down ? &next.down : nullptr}) {
    if (!set) continue;
    if (clear) *set = FaultSet{};
    for (const auto& [key, value] : settings)
      if (!setKey(*set, key, value)) {
        error = "bad setting: " + key + "=" + value;
        return false;
      }
  }
  faults = next;
  return true;
}

std::string faultText(const FaultSet& set) {
  std::ostringstream out;
  const FaultSet none;
  auto put = [&](const char* key, auto value, auto unset) {
    if (value != unset) out << (out.tellp() > 0 ? " " : "") << key << '=' << value;
  };
  put("latency", set.latencyMs, none.latencyMs);
  put("jitter", set.jitterMs, none.jitterMs);
  put("bandwidth", set.bandwidthKiBs, none.bandwidthKiBs);
  put("limit_data", set.limitBytes, none.limitBytes);
  put("reset_after", set.resetBytes, none.resetBytes);
  put("slice", set.sliceBytes, none.sliceBytes);
  put("slice_delay", set.sliceDelayMs, none.sliceDelayMs);
  put("timeout", set.timeoutMs, none.timeoutMs);
  put("slow_close", set.slowCloseMs, none.slowCloseMs);
  put("reset_percent", set.resetPercent, none.resetPercent);
  return out.str();
}

}  // namespace net
