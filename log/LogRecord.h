#pragma once
// One event of the log before it becomes a line: when, how grave, which slot, what happened and
// its fields. Every line the program logs is one of these, so the text and the JSON forms (see
// LogFormat.h) cannot drift apart, and a new event only names its fields.
#include <chrono>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace evlog {

// The journal's priorities (sd-daemon(3)): the number is the "<n>" a line gets there.
enum class Level { Error = 3, Warning = 4, Notice = 5, Info = 6 };

// A value under its JSON key and its key in the text form. A null key keeps the field out of
// that form: "end" is an ASCII code in JSON and the user's words in the text, each its own field.
struct Field {
  const char* key;    // ASCII, for JSON; null: text form only
  const char* label;  // the text form's key; null: JSON only
  std::string value;
  bool number = false;  // JSON writes it bare
};

struct Record {
  Record(Level grade, const char* eventName, const char* eventLabel, int slotNumber = -1)
      : level(grade), event(eventName), label(eventLabel), slot(slotNumber) {
    fields.reserve(8);
  }

  Record& add(const char* key, const char* fieldLabel, std::string value) {
    fields.push_back({key, fieldLabel, std::move(value), false});
    return *this;
  }
  Record& add(const char* key, const char* fieldLabel, std::uint64_t number) {
    fields.push_back({key, fieldLabel, std::to_string(number), true});
    return *this;
  }

  std::chrono::system_clock::time_point time = std::chrono::system_clock::now();
  Level level;
  const char* event;  // ASCII name, JSON "event"
  const char* label;  // the event's word in the text form
  int slot;           // the n of TCP-PORTn; -1 for the program as a whole
  std::vector<Field> fields;
};

}  // namespace evlog
