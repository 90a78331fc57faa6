#pragma once
// The program's own part of the log: its version as the start line gives it, the shape the run
// writes on standard error (the command line's --log-format, else the settings file's
// LOGFORMAT, else text), and a line written at once, before any loop runs (a refused start).
#include <string>

#include "log/LogFormat.h"
#include "log/LogRecord.h"

struct GlobalSettings;

// The product version of the program's own record, without the about box's "Ver.:".
std::string productVersion();

// `commandLine` is "text", "json" or "" (not given); `file` may be null (not read yet).
evlog::Format chosenLogFormat(const std::string& commandLine, const GlobalSettings* file);

// Writes the record as one line on standard error now, with the journal's prefix when standard
// error is the journal.
void writeNow(const evlog::Record& record, evlog::Format format);
