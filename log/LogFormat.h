#pragma once
// The two shapes of a log line.
//
// Text: "<YYYY-MM-DD hh:mm:ss.mmm> <who> <event> <key>=<value>..." where <who> is the slot as
// its section is named (TCP-PORTn) or "RelvaneTiv" for the program as a whole; a slot with a
// name (SlotNames.h) has 名前=<name> as its first field. A value is
// written as it is when it is one plain token; otherwise (empty, a space, a quote, a backslash,
// a control character, bytes that are not UTF-8) it is quoted, with \" \\ \n \r \t, \xHH for a
// byte that is not UTF-8 or a control character and \uHHHH for a separator, so a value never
// breaks the line or the split at spaces.
//
// JSON: one object per line, ASCII keys: time (ISO 8601 with the zone's offset), level (err,
// warning, notice, info), event, slot (a number, when the event is a slot's), name (when that slot
// has one), then the event's
// fields; strings escaped as JSON needs, bytes that are not UTF-8 as U+FFFD.
//
// On the journal a line starts with "<n>", the record's level.
#include <string>

#include "log/LogRecord.h"

namespace evlog {

enum class Format { Text, Json };

std::string textLine(const Record& record);
std::string jsonLine(const Record& record);
// The line as a descriptor gets it, without its line break.
std::string renderLine(const Record& record, Format format, bool journal);

// A value of the text form, quoted only when it must be.
void appendTextValue(std::string& to, const std::string& value);
// A JSON string with its quotes.
void appendJsonString(std::string& to, const std::string& value);

// "err", "warning", "notice", "info".
const char* levelName(Level level);

}  // namespace evlog
