#include "log/EventLog.h"

#include "log/LogLines.h"

#include <algorithm>
#include <ctime>
#include <vector>

namespace evlog {
namespace {

std::vector<Sink*>& sinks() {
  static std::vector<Sink*> all;  // one thread only: the GUI thread or the headless loop
  return all;
}

}  // namespace

void addSink(Sink* sink) {
  if (sink && std::find(sinks().begin(), sinks().end(), sink) == sinks().end()) sinks().push_back(sink);
}

void removeSink(Sink* sink) { std::erase(sinks(), sink); }

bool enabled() { return !sinks().empty(); }

void post(const std::string& text) {
  if (!enabled()) return;
  std::string line = localTimestamp(std::chrono::system_clock::now());
  line.reserve(line.size() + 1 + text.size());
  line += ' ';
  line += text;
  if (sinks().size() == 1) return sinks().front()->write(line);
  // A sink may remove itself while it writes; walk a copy.
  const std::vector<Sink*> targets = sinks();
  for (Sink* sink : targets) sink->write(line);
}

// Lines come in bursts within one second: the date and time are formatted once per second,
// only the milliseconds per line.
std::string localTimestamp(std::chrono::system_clock::time_point when) {
  using namespace std::chrono;
  const auto sinceEpoch = when.time_since_epoch();
  const auto wholeSeconds = floor<std::chrono::seconds>(sinceEpoch);
  const auto millis = static_cast<int>(duration_cast<milliseconds>(sinceEpoch - wholeSeconds).count());
  const std::time_t t = static_cast<std::time_t>(wholeSeconds.count());
  static std::time_t formattedFor = -1;  // one thread only, as the sinks
  static long formattedInZone = 0;       // the zone's offset then (tzset may change it)
  static char text[40];
  static std::size_t length = 0;
  if (t != formattedFor || ::timezone != formattedInZone) {
    std::tm local{};
    ::localtime_r(&t, &local);
    length = std::strftime(text, sizeof text - 5, "%Y-%m-%d %H:%M:%S", &local);
    formattedFor = t;
    formattedInZone = ::timezone;
  }
  return std::string(text, length) + thousandths(millis);
}

}  // namespace evlog
