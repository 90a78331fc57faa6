#pragma once
// The process-wide event log a user and an admin read: a slot listening or stopped, a refused
// switch-on, a peer refused by the filter, and one line per relayed connection when it ends.
// Unlike the debug trace it has no decoration and is never written per read or write: callers
// build a line once per event, and only when someone listens (enabled()).
#include <chrono>
#include <string>

#include "log/LogSink.h"

namespace evlog {

// Sinks are not owned; remove one before it goes away. Adding one twice adds it once.
void addSink(Sink* sink);
void removeSink(Sink* sink);
// True while at least one sink listens; callers skip building their text otherwise.
bool enabled();

// Stamps `text` with the local time and hands the line to every sink.
void post(const std::string& text);

// "YYYY-MM-DD hh:mm:ss.mmm" in local time.
std::string localTimestamp(std::chrono::system_clock::time_point when);

}  // namespace evlog
