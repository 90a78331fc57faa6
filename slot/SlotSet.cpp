#include "slot/SlotSet.h"

#include <cerrno>

#include "slot/IniDocument.h"
#include "slot/SaveReport.h"
#include "slot/SlotSections.h"

CSlotSet::CSlotSet(std::string path, CSaveReport* report) : iniPath(std::move(path)), saveReport(report) {}

CSlotSet::~CSlotSet() = default;

bool CSlotSet::full() const { return size() >= slot_sections::maxSlots; }

CPortSlot& CSlotSet::makeSlot() {
  auto& slot = *owned.emplace_back(std::make_unique<CPortSlot>());
  slot.slotIndex = size() - 1;
  slot.iniPath = iniPath;
  slot.saveReport = saveReport;
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

std::optional<std::string> CSlotSet::addSlot() {
  if (full()) return std::nullopt;
  return makeSlot().startSlot();
}

std::unique_ptr<CPortSlot> CSlotSet::removeSlot(int index) {
  if (index < 0 || index >= size()) return nullptr;
  ini::Document doc = ini::Document::load(iniPath);
  if (slot_sections::remove(doc, index) && !doc.save(iniPath)) {
    if (saveReport) saveReport->failed(iniPath, errno);
    return nullptr;  // the file still has the slot: so does the set
  }
  std::unique_ptr<CPortSlot> removed = std::move(owned[index]);
  owned.erase(owned.begin() + index);
  for (int later = index; later < size(); ++later) --owned[later]->slotIndex;
  return removed;
}

void CSlotSet::shutdown() {
  for (auto& slot : owned) slot->shutdownSlot();
}
