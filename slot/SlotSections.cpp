#include "slot/SlotSections.h"

#include <algorithm>
#include <cctype>
#include <optional>
#include <set>
#include <string_view>

#include "slot/IniDocument.h"
#include "slot/SettingNumber.h"

namespace slot_sections {

std::string sectionName(int index) { return "TCP-PORT" + std::to_string(index); }

int count(const ini::Document& doc) {
  int n = 0;
  while (n < maxSlots && doc.hasSection(sectionName(n))) ++n;
  return std::max(n, 1);
}

namespace {

constexpr std::string_view kStem = "TCP-PORT";

bool startsWithStem(const std::string& name) {
  if (name.size() < kStem.size()) return false;
  for (size_t i = 0; i < kStem.size(); ++i)
    if (std::toupper(static_cast<unsigned char>(name[i])) != kStem[i]) return false;
  return true;
}

// The slot number a section name after the stem spells exactly, as sectionName() writes it.
std::optional<int> slotNumber(const std::string& name) {
  const std::string digits = name.substr(kStem.size());
  const std::optional<int> index = setting_number::parse(digits, 0, 1000000);
  if (!index || std::to_string(*index) != digits) return std::nullopt;
  return index;
}

}  // namespace

std::vector<std::string> unused(const ini::Document& doc) {
  int present = 0;  // consecutive sections from TCP-PORT0: these are the used ones
  while (present < maxSlots && doc.hasSection(sectionName(present))) ++present;
  std::vector<std::string> lines;
  std::set<int> seen;
  for (const std::string& name : doc.sectionNames()) {
    if (!startsWithStem(name)) continue;
    const std::optional<int> index = slotNumber(name);
    std::string why;
    if (!index) why = "スロットの番号として読めません";
    else if (!seen.insert(*index).second)
      why = "同じ名前のセクションが先にあります";
    else if (*index >= maxSlots)
      why = "スロットは " + std::to_string(maxSlots) + " 個までです";
    else if (*index >= present)
      why = sectionName(present) + " がないため";
    if (!why.empty()) lines.push_back(name + " は使われていません (" + why + ")");
  }
  return lines;
}

bool remove(ini::Document& doc, int index) {
  if (!doc.removeSection(sectionName(index))) return false;
  for (int next = index + 1; doc.hasSection(sectionName(next)); ++next)
    doc.renameSection(sectionName(next), sectionName(next - 1));
  return true;
}

}  // namespace slot_sections
