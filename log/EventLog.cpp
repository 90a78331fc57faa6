#include "log/EventLog.h"

#include <algorithm>
#include <ctime>
#include <vector>

#include "log/LogLines.h"

namespace evlog {
namespace {

std::vector<Sink*>& sinks() {
  static std::vector<Sink*> all;  // one thread only: the GUI thread or the headless loop
  return all;
}

// The local date and time of one second, formatted once: lines come in bursts within a second.
struct LocalSecond {
  std::time_t formattedFor = -1;
  long inZone = 0;  // the zone's offset when formatted (tzset may change it)
  char text[40] = {};
  std::size_t length = 0;
  long offset = 0;  // seconds east of UTC at that second
};

const LocalSecond& localSecond(std::time_t t) {
  static LocalSecond cached;  // one thread only, as the sinks
  if (t != cached.formattedFor || ::timezone != cached.inZone) {
    std::tm local{};
    ::localtime_r(&t, &local);
    cached.length = std::strftime(cached.text, sizeof cached.text, "%Y-%m-%d %H:%M:%S", &local);
    cached.offset = local.tm_gmtoff;
    cached.formattedFor = t;
    cached.inZone = ::timezone;
  }
  return cached;
}

std::pair<std::time_t, int> split(std::chrono::system_clock::time_point when) {
  using namespace std::chrono;
  const auto sinceEpoch = when.time_since_epoch();
  const auto wholeSeconds = floor<std::chrono::seconds>(sinceEpoch);
  return {static_cast<std::time_t>(wholeSeconds.count()),
          static_cast<int>(duration_cast<milliseconds>(sinceEpoch - wholeSeconds).count())};
}

std::string twoDigits(long n) { return {static_cast<char>('0' + n / 10), static_cast<char>('0' + n % 10)}; }

}  // namespace

void addSink(Sink* sink) {
  if (sink && std::find(sinks().begin(), sinks().end(), sink) == sinks().end()) sinks().push_back(sink);
}

void removeSink(Sink* sink) { std::erase(sinks(), sink); }

bool enabled() { return !sinks().empty(); }

void post(const Record& record) {
  if (!enabled()) return;
  if (sinks().size() == 1) return sinks().front()->write(record);
  // A sink may remove itself while it writes; walk a copy.
  const std::vector<Sink*> targets = sinks();
  for (Sink* sink : targets) sink->write(record);
}

void post(const std::string& text) {
  if (enabled()) post(messageLine(text));
}

std::string localTimestamp(std::chrono::system_clock::time_point when) {
  const auto [t, millis] = split(when);
  const LocalSecond& second = localSecond(t);
  return std::string(second.text, second.length) + thousandths(millis);
}

std::string isoTimestamp(std::chrono::system_clock::time_point when) {
  const auto [t, millis] = split(when);
  const LocalSecond& second = localSecond(t);
  std::string text(second.text, second.length);
  if (text.size() > 10) text[10] = 'T';
  text += thousandths(millis);
  const long east = second.offset < 0 ? -second.offset : second.offset;
  text += second.offset < 0 ? '-' : '+';
  text += twoDigits(east / 3600) + ':' + twoDigits(east / 60 % 60);
  return text;
}

}  // namespace evlog
