#pragma once
// The process-wide event log a user and an admin read: the program's start, a slot listening or
// stopped, a refused switch-on, a peer refused by the filter, and a line when a relayed
// connection opens and when it ends. Unlike the debug trace it is never written per read or
// write: callers build a record once per event, and only when someone listens (enabled()).
// Each sink writes the record in its own shape (LogFormat.h).
#include <chrono>
#include <string>

#include "log/LogRecord.h"
#include "log/LogSink.h"

namespace evlog {

// Sinks are not owned; remove one before it goes away. Adding one twice adds it once.
void addSink(Sink* sink);
void removeSink(Sink* sink);
// True while at least one sink listens; callers skip building their records otherwise.
bool enabled();

// Hands the record to every sink.
void post(const Record& record);
// A notice in words of its own, for a line that has no event of its own yet ("message").
void post(const std::string& text);

// "YYYY-MM-DD hh:mm:ss.mmm" in local time.
std::string localTimestamp(std::chrono::system_clock::time_point when);
// "YYYY-MM-DDThh:mm:ss.mmm+hh:mm" in local time, with the zone's offset then.
std::string isoTimestamp(std::chrono::system_clock::time_point when);

}  // namespace evlog
