#include "slot/IniFile.h"

#include <climits>

#include "slot/IniDocument.h"

namespace ini {

int parseInt(std::string_view value, int def) {
  if (value.empty()) return def;
  size_t i = 0;
  bool negative = value[0] == '-';
  if (value[0] == '-' || value[0] == '+') ++i;
  // Accumulate as a negative number: its range holds INT_MIN as well as INT_MAX's negation.
  long long acc = 0;
  for (; i < value.size() && value[i] >= '0' && value[i] <= '9'; ++i) {
    acc = acc * 10 - (value[i] - '0');
    if (acc < INT_MIN) return negative ? INT_MIN : INT_MAX;
  }
  if (negative) return static_cast<int>(acc);
  return acc < -INT_MAX ? INT_MAX : static_cast<int>(-acc);
}

std::string getPrivateProfileString(const std::string& section, const std::string& key, const std::string& def,
                                    const std::string& path) {
  return Document::load(path).get(section, key).value_or(def);
}

int getPrivateProfileInt(const std::string& section, const std::string& key, int def, const std::string& path) {
  auto value = Document::load(path).get(section, key);
  return value ? parseInt(*value, def) : def;
}

bool writePrivateProfileString(const std::string& section, const std::string& key, const std::string& value,
                               const std::string& path) {
  Document doc = Document::load(path);
  return doc.readable() && doc.set(section, key, value) && doc.save(path);
}

}  // namespace ini
