#pragma once
// The slots a settings file holds: the consecutive sections "TCP-PORT0", "TCP-PORT1", ...
// from the first. A file with none still has one slot (its section is written at the first
// save); at most maxSlots are used.
#include <string>

namespace ini {
class Document;
}

namespace slot_sections {

inline constexpr int maxSlots = 30;

// "TCP-PORT<index>".
std::string sectionName(int index);

// 1..maxSlots: how many consecutive slot sections the document holds, at least one.
int count(const ini::Document& doc);

// Takes slot `index`'s section out and moves every later consecutive one down a number, so
// the list stays consecutive; every other line stays as it was. False when it is absent.
bool remove(ini::Document& doc, int index);

}  // namespace slot_sections
