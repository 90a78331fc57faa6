#include "log/SlotNames.h"

#include <vector>

namespace evlog {
namespace {

struct Entry {
  const void* owner = nullptr;
  std::string name;
};

std::vector<Entry>& entries() {
  static std::vector<Entry> all;
  return all;
}

}  // namespace

void setSlotName(int slot, const void* owner, std::string name) {
  if (slot < 0) return;
  if (entries().size() <= static_cast<size_t>(slot)) entries().resize(slot + 1);
  entries()[slot] = {owner, std::move(name)};
}

void forgetSlotName(int slot, const void* owner) {
  if (slot >= 0 && static_cast<size_t>(slot) < entries().size() && entries()[slot].owner == owner) entries()[slot] = {};
}

const std::string& slotName(int slot) {
  static const std::string none;
  return slot >= 0 && static_cast<size_t>(slot) < entries().size() ? entries()[slot].name : none;
}

}  // namespace evlog
