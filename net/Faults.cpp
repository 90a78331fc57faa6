#include "net/Faults.h"

#include <charconv>
#include <sstream>
#include <utility>
#include <vector>

namespace net {

bool FaultSet::any() const { return *this != FaultSet{}; }

namespace {

constexpr long long kMs = 3600 * 1000, kBytes = 1LL << 50;
constexpr std::array<FaultKey, kFaultKeys> kKeys{{
    {"latency", 0, kMs, 0},
    {"jitter", 0, kMs, 0},
    {"bandwidth", 0, 1 << 22, 0},
    {"limit_data", 0, kBytes, 0},
    {"reset_after", 0, kBytes, 0},
    {"slice", 0, 1 << 20, 0},
    {"slice_delay", 0, kMs, 0},
    {"timeout", -1, kMs, -1},
    {"slow_close", 0, kMs, 0},
    {"reset_percent", 0, 100, 0},
}};

// The field of each key, in kKeys' order: an int, or a byte count.
struct Field {
  int FaultSet::*asInt;
  std::uint64_t FaultSet::*asBytes;
};
constexpr std::array<Field, kFaultKeys> kFields{{
    {&FaultSet::latencyMs, nullptr},
    {&FaultSet::jitterMs, nullptr},
    {&FaultSet::bandwidthKiBs, nullptr},
    {nullptr, &FaultSet::limitBytes},
    {nullptr, &FaultSet::resetBytes},
    {&FaultSet::sliceBytes, nullptr},
    {&FaultSet::sliceDelayMs, nullptr},
    {&FaultSet::timeoutMs, nullptr},
    {&FaultSet::slowCloseMs, nullptr},
    {&FaultSet::resetPercent, nullptr},
}};

std::string range(const FaultKey& key) { return std::to_string(key.low) + "～" + std::to_string(key.high); }

// Sets one key in `set`; false, with `error` naming it and what it takes, for an unknown key or a
// bad value.
bool setKey(FaultSet& set, const std::string& key, const std::string& value, std::string& error) {
  for (std::size_t i = 0; i < kFaultKeys; ++i) {
    if (key != kKeys[i].name) continue;
    long long v = 0;
    const char* end = value.data() + value.size();
    const auto [p, ec] = std::from_chars(value.data(), end, v);
    if (ec == std::errc() && p == end && setFaultValue(set, i, v)) return true;
    error = key + "=" + value + " は使えません (" + range(kKeys[i]) + ")";
    return false;
  }
  error = "不明な障害です: " + key;
  return false;
}

}  // namespace

const std::array<FaultKey, kFaultKeys>& faultKeys() { return kKeys; }

long long faultValue(const FaultSet& set, std::size_t key) {
  const Field& f = kFields[key];
  return f.asInt ? static_cast<long long>(set.*f.asInt) : static_cast<long long>(set.*f.asBytes);
}

bool setFaultValue(FaultSet& set, std::size_t key, long long value) {
  if (key >= kFaultKeys || value < kKeys[key].low || value > kKeys[key].high) return false;
  const Field& f = kFields[key];
  if (f.asInt) set.*f.asInt = static_cast<int>(value);
  else
    set.*f.asBytes = static_cast<std::uint64_t>(value);
  return true;
}

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
      error = "「key=値」ではありません: " + word;
      return false;
    }
    std::string key = word.substr(0, eq), value = word.substr(eq + 1);
    if (key != "direction") {
      settings.emplace_back(std::move(key), std::move(value));
    } else if (value == "up" || value == "down" || value == "both") {
      up = value != "down";
      down = value != "up";
    } else {
      error = "direction=" + value + " は使えません (up、down、both)";
      return false;
    }
  }
  Faults next = faults;
  for (FaultSet* set : {up ? &next.up : nullptr, down ? &next.down : nullptr}) {
    if (!set) continue;
    if (clear) *set = FaultSet{};
    for (const auto& [key, value] : settings)
      if (!setKey(*set, key, value, error)) return false;
  }
  faults = next;
  return true;
}

std::string faultText(const FaultSet& set) {
  std::string out;
  for (std::size_t i = 0; i < kFaultKeys; ++i)
    if (const long long value = faultValue(set, i); value != kKeys[i].unset)
      out += (out.empty() ? "" : " ") + std::string(kKeys[i].name) + "=" + std::to_string(value);
  return out;
}

}  // namespace net
