#pragma once
// The slots a settings file holds: the consecutive sections "TCP-PORT0", "TCP-PORT1", ...
// from the first. A file with none still has one slot (its section is written at the first
// save); at most maxSlots are used.
#include <string>
#include <vector>

namespace ini {
class Document;
}

namespace slot_sections {

inline constexpr int maxSlots = 30;

// "TCP-PORT<index>".
std::string sectionName(int index);

// 1..maxSlots: how many consecutive slot sections the document holds, at least one.
int count(const ini::Document& doc);

// One launch line for each section that looks like a slot's ("TCP-PORT" and anything, in any
// case) but is not one of the count(doc) used ones: after a gap in the numbering, past
// maxSlots, a repeat of an earlier section (the first one is used), or a name that is no slot
// number ("TCP-PORT01"). Each names the section and why.
std::vector<std::string> unused(const ini::Document& doc);

// Takes slot `index`'s section out and moves every later consecutive one down a number, so
// the list stays consecutive; every other line stays as it was. False when it is absent.
bool remove(ini::Document& doc, int index);

}  // namespace slot_sections
