#include "slot/SlotSections.h"

#include <algorithm>

#include "slot/IniDocument.h"

namespace slot_sections {

std::string sectionName(int index) { return "TCP-PORT" + std::to_string(index); }

int count(const ini::Document& doc) {
  int n = 0;
  while (n < maxSlots && doc.hasSection(sectionName(n))) ++n;
  return std::max(n, 1);
}

bool remove(ini::Document& doc, int index) {
  if (!doc.removeSection(sectionName(index))) return false;
  for (int next = index + 1; doc.hasSection(sectionName(next)); ++next)
    doc.renameSection(sectionName(next), sectionName(next - 1));
  return true;
}

}  // namespace slot_sections
