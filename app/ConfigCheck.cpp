#include "app/ConfigCheck.h"

#include "log/LogLines.h"
#include "slot/SettingsCheck.h"

namespace {

std::string slotLine(const CPortSlot& slot) {
  const std::string name = slot.sectionName() + " ";
  if (slot.act == 0) return name + "OFFのまま";
  if (const std::string refusal = SettingsCheck::refusal(slot); !refusal.empty())
    return name + "ON拒否 理由=" + refusal;
  const std::string listen = slot.listenHost.empty() ? "*:" + std::to_string(slot.listenPort)
                                                     : evlog::endpoint(slot.listenHost, slot.listenPort);
  return name + "起動 待受=" + listen + " 転送先=" + evlog::endpoint(slot.forwardHost, slot.forwardPort);
}

}  // namespace

int checkSettingsFile(const std::string& iniPath, std::FILE* out) {
  const SettingsCheck check = checkSettings(iniPath);
  std::fprintf(out, "設定ファイル: %s\n", iniPath.c_str());
  for (const std::string& problem : check.problems) std::fprintf(out, "問題: %s\n", problem.c_str());
  bool allStart = check.problems.empty();
  int starting = 0;
  for (const auto& slot : check.slots) {
    std::fprintf(out, "%s\n", slotLine(*slot).c_str());
    const bool refused = !SettingsCheck::refusal(*slot).empty();
    allStart = allStart && !refused;
    if (slot->act != 0 && !refused) ++starting;
  }
  if (check.problems.empty() && starting == 0)
    std::fprintf(out, "ACT=1 で起動するスロットがありません (--headless では起動できません)\n");
  std::fprintf(out, "%s\n", allStart ? "問題なし" : "問題あり");
  return allStart ? 0 : 1;
}
