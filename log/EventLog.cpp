#include "log/EventLog.h"

#include <algorithm>
#include <cstdio>
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
  const std::string line = localTimestamp(std::chrono::system_clock::now()) + ' ' + text;
  // A sink may remove itself while it writes; walk a copy.
  const std::vector<Sink*> targets = sinks();
  for (Sink* sink : targets) sink->write(line);
}

std::string localTimestamp(std::chrono::system_clock::time_point when) {
  using namespace std::chrono;
  const auto sinceEpoch = when.time_since_epoch();
  const auto wholeSeconds = floor<seconds>(sinceEpoch);
  const auto millis = duration_cast<milliseconds>(sinceEpoch - wholeSeconds).count();
  const std::time_t t = static_cast<std::time_t>(wholeSeconds.count());
  std::tm local{};
  ::localtime_r(&t, &local);
  char text[40];
  const std::size_t n = std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
  std::snprintf(text + n, sizeof text - n, ".%03d", static_cast<int>(millis));
  return text;
}

}  // namespace evlog
