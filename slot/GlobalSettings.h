#pragma once
// The settings that belong to the program rather than to one slot: the optional "[GLOBAL]"
// section. Each key is read only when present and read strictly: a value that is not right
// is named in `problems` and not used, so the program runs as if the key were absent.
#include <string>
#include <vector>

namespace ini {
class Document;
}

struct GlobalSettings {
  static constexpr const char* kSection = "GLOBAL";

  enum class LogFormat { Text, Json };

  // [METRICS] "address:port" ("[v6]:port" for IPv6): where the metrics are served; an empty
  // address means the key is absent and nothing is served.
  std::string metricsAddress;
  int metricsPort = 0;
  // [LOGFORMAT] "text" or "json" (any case).
  LogFormat logFormat = LogFormat::Text;
  bool logFormatSet = false;  // the key was present and valid

  // One launch line for each key that is not used, naming the section, the key and the text.
  std::vector<std::string> problems;
};

GlobalSettings readGlobalSettings(const ini::Document& doc);

// Splits "address:port" or "[v6]:port" where the address is a literal IPv4 or IPv6 address and
// the port 1..65535. False, leaving the outputs as they were, for anything else.
bool parseAddressPort(const std::string& text, std::string& address, int& port);
