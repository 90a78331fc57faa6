#include "slot/GlobalSettings.h"

#include <arpa/inet.h>
#include <strings.h>

#include "slot/IniDocument.h"
#include "slot/SettingNumber.h"

namespace {

bool literalAddress(const std::string& text, bool v6) {
  unsigned char bytes[16];
  return inet_pton(v6 ? AF_INET6 : AF_INET, text.c_str(), bytes) == 1;
}

std::string invalidLine(const std::string& key, const std::string& text, const char* expected) {
  return std::string(GlobalSettings::kSection) + " の " + key + "=" + text + " は無効な値です (" + expected + ")";
}

}  // namespace

bool parseAddressPort(const std::string& text, std::string& address, int& port) {
  const std::size_t colon = text.rfind(':');
  if (colon == std::string::npos) return false;
  std::string host = text.substr(0, colon);
  const bool bracketed = host.size() >= 2 && host.front() == '[' && host.back() == ']';
  if (bracketed) host = host.substr(1, host.size() - 2);
  // An IPv6 address needs its brackets, or its last group would pass for the port.
  if (!literalAddress(host, bracketed)) return false;
  const std::optional<int> number = setting_number::parse(std::string_view(text).substr(colon + 1), 1, 65535);
  if (!number) return false;
  address = host;
  port = *number;
  return true;
}

GlobalSettings readGlobalSettings(const ini::Document& doc) {
  GlobalSettings settings;
  const char* section = GlobalSettings::kSection;
  if (const std::optional<std::string> metrics = doc.get(section, "METRICS"); metrics && !metrics->empty()) {
    if (!parseAddressPort(*metrics, settings.metricsAddress, settings.metricsPort))
      settings.problems.push_back(invalidLine("METRICS", *metrics, "アドレス:ポート"));
  }
  if (const std::optional<std::string> format = doc.get(section, "LOGFORMAT"); format && !format->empty()) {
    if (strcasecmp(format->c_str(), "json") == 0 || strcasecmp(format->c_str(), "text") == 0) {
      settings.logFormat = strcasecmp(format->c_str(), "json") == 0 ? GlobalSettings::LogFormat::Json
                                                                    : GlobalSettings::LogFormat::Text;
      settings.logFormatSet = true;
    } else {
      settings.problems.push_back(invalidLine("LOGFORMAT", *format, "text または json"));
    }
  }
  for (const std::string& key : doc.duplicateKeys(section))
    settings.problems.push_back(std::string(section) + " の " + key + " が2回以上書かれています (最初の値を使います)");
  return settings;
}
