#include "slot/SettingsCheck.h"

#include "slot/IniDocument.h"
#include "slot/SettingsRead.h"
#include "slot/SlotSections.h"

std::string SettingsCheck::refusal(const CPortSlot& slot) { return slot.act != 0 ? slot.switchOnRefusal() : ""; }

std::vector<std::string> SettingsCheck::everyProblem() const {
  std::vector<std::string> all = problems;
  for (const auto& slot : slots)
    if (const std::string why = refusal(*slot); !why.empty()) all.push_back(slot->sectionName() + ": " + why);
  return all;
}

SettingsCheck checkSettings(const std::string& iniPath) {
  SettingsCheck check;
  // Read once, like the launch: every slot is loaded from the same bytes.
  const ini::SettingsRead read = ini::readSettingsFile(iniPath);
  if (read.outcome == ini::SettingsRead::Outcome::Missing)
    check.problems.push_back("設定ファイル " + iniPath + " がありません");
  if (read.outcome != ini::SettingsRead::Outcome::Read) {
    if (!read.refusal.empty()) check.problems.push_back(read.refusal);
    return check;
  }
  const ini::Document doc = ini::Document::parse(read.bytes);
  check.problems = slot_sections::unused(doc);
  check.globals = readGlobalSettings(doc);
  check.problems.insert(check.problems.end(), check.globals.problems.begin(), check.globals.problems.end());
  const int count = slot_sections::count(doc);
  for (int i = 0; i < count; ++i) {
    CPortSlot& slot = *check.slots.emplace_back(std::make_unique<CPortSlot>());
    slot.slotIndex = i;
    slot.iniPath = iniPath;
    slot.loadSettings(doc);
    check.problems.insert(check.problems.end(), slot.problems.begin(), slot.problems.end());
  }
  return check;
}
