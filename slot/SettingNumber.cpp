#include "slot/SettingNumber.h"

#include "slot/IniDocument.h"

namespace setting_number {

std::optional<int> parse(std::string_view text, int low, int high) {
  if (text.empty()) return std::nullopt;
  long long value = 0;
  for (char ch : text) {
    if (ch < '0' || ch > '9') return std::nullopt;
    value = value * 10 + (ch - '0');
    if (value > high) return std::nullopt;  // also keeps a long digit run from overflowing
  }
  if (value < low) return std::nullopt;
  return static_cast<int>(value);
}

std::string invalidLine(const std::string& section, const std::string& key, const std::string& text, int low,
                        int high) {
  return section + " の " + key + "=" + text + " は無効な値です (" + std::to_string(low) + "～" + std::to_string(high) +
         ")";
}

int read(const ini::Document& doc, const std::string& section, const char* key, int low, int high, int absent,
         std::vector<std::string>& problems) {
  const std::string text = doc.get(section, key).value_or("");
  if (text.empty()) return absent;
  const std::optional<int> value = parse(text, low, high);
  if (!value) problems.push_back(invalidLine(section, key, text, low, high));
  return value.value_or(absent);
}

}  // namespace setting_number
