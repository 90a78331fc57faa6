#pragma once
// The names users give their slots, by slot number, for the lines of the log. A slot publishes
// its name whenever its name or its number may have changed; every line of a slot is shaped
// (LogFormat.h) at the moment it is posted, so it carries the name the slot has then. The log
// is one thread's, like the rest of the program.
#include <string>

namespace evlog {

// `owner` is the slot publishing (only compared): a slot that goes away forgets its number only
// while the number is still its own, not once a later slot has moved down to it.
void setSlotName(int slot, const void* owner, std::string name);
void forgetSlotName(int slot, const void* owner);
// "" for a slot without a name.
const std::string& slotName(int slot);

}  // namespace evlog
