#include "slot/SlotSet.h"

#include <algorithm>
#include <cerrno>
#include <set>

#include "log/SlotNames.h"
#include "slot/IniDocument.h"
#include "slot/SaveReport.h"
#include "slot/SettingsCheck.h"
#include "slot/SlotSections.h"

CSlotSet::CSlotSet(std::string path, CSaveReport* report) : iniPath(std::move(path)), saveReport(report) {}

CSlotSet::~CSlotSet() = default;

bool CSlotSet::full() const { return size() >= slot_sections::maxSlots; }

CPortSlot& CSlotSet::makeSlot() { return adopt(std::make_unique<CPortSlot>()); }

CPortSlot& CSlotSet::adopt(std::unique_ptr<CPortSlot> made) {
  auto& slot = *owned.emplace_back(std::move(made));
  slot.slotIndex = size() - 1;
  slot.iniPath = iniPath;
  slot.saveReport = saveReport;
  slot.onPairsChanged = [this] { pairsChanged(); };
  return slot;
}

void CSlotSet::open(int count) {
  launchDocument = std::make_unique<ini::Document>(ini::Document::load(iniPath));
  launchProblems = slot_sections::unused(*launchDocument);
  globalSettings = readGlobalSettings(*launchDocument);
  launchProblems.insert(launchProblems.end(), globalSettings.problems.begin(), globalSettings.problems.end());
  if (count <= 0) count = slot_sections::count(*launchDocument);
  for (int i = 0; i < count; ++i) makeSlot();
}

void CSlotSet::startAll(const std::function<bool(CPortSlot&, const std::string&)>& started) {
  // Every slot loads from the one reading open() made; it is dropped once all have started.
  const std::unique_ptr<ini::Document> doc = std::move(launchDocument);
  if (!doc) return;
  for (int i = 0; i < size(); ++i) owned[i]->loadSettings(*doc);
  bool clean = launchProblems.empty();
  for (int i = 0; i < size(); ++i) clean = clean && owned[i]->problems.empty();
  for (int i = 0; i < size(); ++i) {  // by index: `started` may run a nested loop
    CPortSlot& slot = *owned[i];
    if (!started(slot, slot.startSlot(*doc, clean))) return;
  }
}

std::optional<std::string> CSlotSet::addSlot(const std::string& listenHost) {
  if (full()) return std::nullopt;
  return makeSlot().startSlot(ini::Document::load(iniPath), true, listenHost);
}

std::unique_ptr<CPortSlot> CSlotSet::removeSlot(int index) {
  if (index < 0 || index >= size()) return nullptr;
  ini::Document doc = ini::Document::load(iniPath);
  if (slot_sections::remove(doc, index) && !doc.save(iniPath)) {
    if (saveReport) saveReport->failed(iniPath, errno);
    return nullptr;  // the file still has the slot: so does the set
  }
  std::unique_ptr<CPortSlot> removed = std::move(owned[index]);
  removed->onPairsChanged = nullptr;  // no longer the set's
  owned.erase(owned.begin() + index);
  for (int later = index; later < size(); ++later) --owned[later]->slotIndex, owned[later]->publishName();
  evlog::setSlotName(size(), nullptr, {});  // the number no slot has now
  return removed;
}

void CSlotSet::shutdown() {
  for (auto& slot : owned) slot->shutdownSlot();
  for (auto& slot : retiring) slot->shutdownSlot();
}

int CSlotSet::connectionsOpen() const {
  int open = 0;
  for (const auto& slot : owned) open += slot->connectionCount;
  for (const auto& slot : retiring) open += slot->connectionCount;
  return open;
}

int CSlotSet::listening() const {
  return static_cast<int>(std::count_if(owned.begin(), owned.end(), [](const auto& slot) { return slot->started(); }));
}

void CSlotSet::pairsChanged() {
  // Not from here: the repeater reporting the count is still at work.
  if (!retiring.empty() && !sweep.active()) sweep.start(std::chrono::milliseconds(0), [this] { sweepRetired(); });
  if (onCountChange) onCountChange();
}

void CSlotSet::sweepRetired() {
  std::erase_if(retiring, [](const auto& slot) { return slot->livePairs() == 0; });
}

void CSlotSet::retireLast() {
  std::unique_ptr<CPortSlot> slot = std::move(owned.back());
  owned.pop_back();
  slot->stopListening();
  if (slot->livePairs() > 0) retiring.push_back(std::move(slot));
}

void CSlotSet::count(evlog::ReloadSummary& summary, int index, CPortSlot::Reloaded how) {
  switch (how) {
    case CPortSlot::Reloaded::Kept: summary.kept.push_back(index); break;
    case CPortSlot::Reloaded::Changed:
    case CPortSlot::Reloaded::Started: summary.changed.push_back(index); break;
    case CPortSlot::Reloaded::Stopped: summary.switchedOff.push_back(index); break;
    case CPortSlot::Reloaded::Refused: summary.refused.push_back(index); break;
  }
}

CSlotSet::ReloadResult CSlotSet::reload() {
  SettingsCheck next = checkSettings(iniPath);
  ReloadResult result;
  result.problems = next.everyProblem();
  if (!result.problems.empty()) return result;
  evlog::ReloadSummary& summary = result.summary;
  const int wanted = static_cast<int>(next.slots.size());
  std::set<int> portsHeld;  // by the slots listening before: one may move onto another's
  for (const auto& slot : owned)
    if (slot->started()) portsHeld.insert(slot->listenPort);
  // The ports given up go first.
  for (int index = size() - 1; index >= wanted; --index) {
    retireLast();
    summary.removed.insert(summary.removed.begin(), index);
  }
  std::string refusal;
  for (int index = 0; index < size(); ++index)
    if (next.slots[index]->act == 0) count(summary, index, owned[index]->reloadFrom(*next.slots[index], refusal));
  takeSwitchedOn(next.slots, portsHeld, summary);
  for (int index = size(); index < wanted; ++index) {
    summary.added.push_back(index);
    if (!adopt(std::move(next.slots[index])).startLoaded().empty()) summary.refused.push_back(index);
  }
  for (auto* list : {&summary.changed, &summary.refused}) std::sort(list->begin(), list->end());
  return result;
}

// A port another slot held may be free only once that slot has moved: a slot refused such a
// port tries again once every slot has moved, its old listener closed first.
void CSlotSet::takeSwitchedOn(const std::vector<std::unique_ptr<CPortSlot>>& sections, const std::set<int>& portsHeld,
                              evlog::ReloadSummary& summary) {
  std::string refusal;
  std::vector<int> again;
  for (int index = 0; index < size(); ++index) {
    CPortSlot& slot = *owned[index];
    const CPortSlot& fresh = *sections[index];
    if (fresh.act == 0) continue;
    const bool another = fresh.listenPort != slot.listenPort && portsHeld.count(fresh.listenPort) > 0;
    const CPortSlot::Reloaded how = slot.reloadFrom(fresh, refusal, another);
    if (how == CPortSlot::Reloaded::Refused && another && slot.started()) again.push_back(index);
    else
      count(summary, index, how);
  }
  for (int index : again) owned[index]->stopListening();
  for (int index : again) count(summary, index, owned[index]->reloadFrom(*sections[index], refusal));
}
