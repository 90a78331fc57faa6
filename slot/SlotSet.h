#pragma once
// CSlotSet: the one owner of the slots of a settings file. It counts the file's slot sections,
// makes one slot for each, starts them at launch, adds the next one, removes one (the later
// sections move down a number, every other byte stays), takes the file again while the slots
// relay (the headless run's reload) and shuts them down in slot order. The headless run and the
// main window both stand on it; the window only shows a panel per slot.
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "log/LogLines.h"
#include "net/TimerQueue.h"
#include "slot/GlobalSettings.h"
#include "slot/PortSlot.h"

class CSaveReport;
namespace ini {
class Document;
}

class CSlotSet {
public:
  // saveReport: not owned; given to every slot, it tells the user of a failed save.
  CSlotSet(std::string iniPath, CSaveReport* saveReport);
  ~CSlotSet();
  CSlotSet(const CSlotSet&) = delete;
  CSlotSet& operator=(const CSlotSet&) = delete;

  // Reads the file (the launch's one reading) and makes `count` slots, or with 0 one per slot
  // section the file holds (at least one, at most slot_sections::maxSlots), none started yet.
  // The sections it does not use are named in problems().
  void open(int count = 0);
  // The launch, after open(): every slot loads from open()'s reading and starts as saved, in
  // slot order; `started` hears of each with its refusal ("" for none) before the next one
  // starts, and stops the launch by returning false (the later slots are not started). A slot
  // without a section gets it written only when the file had no problem (see problems() and
  // each slot's), so a file the user must look at is not changed behind them.
  void startAll(const std::function<bool(CPortSlot&, const std::string& refusal)>& started);
  // A new last slot, started (switched off, its section saved with the four keys unless the
  // file has it already; a new section gets LISTENHOST=`listenHost` too when that is not empty).
  // Its refusal; nullopt when the set is full and nothing was added.
  std::optional<std::string> addSlot(const std::string& listenHost = "");
  // Takes slot `index`'s section out of the file and the slot out of the set; the later slots
  // move down a number. The caller has made sure it is off. The slot is handed back so that
  // whatever shows it can go first; null (and the failure told) when the file keeps it.
  std::unique_ptr<CPortSlot> removeSlot(int index);
  // Saves and stops every slot in slot order, then the retiring ones (see reload()).
  void shutdown();
  // Drops every slot (after shutdown).
  void clear() {
    owned.clear();
    retiring.clear();
  }

  struct ReloadResult {
    std::vector<std::string> problems;  // why nothing changed; empty when the file was taken
    evlog::ReloadSummary summary;       // what the reload did, slot by slot
    bool applied() const { return problems.empty(); }
  };
  // Reads the file again under every rule of the launch (see SettingsCheck.h) and takes it,
  // without ever writing it. A file that cannot be read, that has any problem, or one of whose
  // slots saved ON would be refused changes nothing. Otherwise the same slot is the same
  // section, TCP-PORTn, before and after (a section taken out of the middle makes the later
  // ones different slots with new settings): each slot takes its section as
  // CPortSlot::reloadFrom says; a slot past the file's last section stops listening and leaves
  // the set, and lives on as a retiring slot until its last pair ends; a new section's slot
  // starts as saved. Listeners are closed before others open, so a slot may take a port another
  // slot left in the same reload; slots that trade ports close their old listeners first and
  // then open the new ones. The [GLOBAL] settings stay as the launch read them.
  ReloadResult reload();

  // Told when a slot's count of pairs changes, retiring slots included; may be empty.
  std::function<void()> onCountChange;
  // Connected pairs of every slot, the retiring ones included.
  int connectionsOpen() const;
  // Slots listening now.
  int listening() const;

  // The launch lines about the file as a whole: each slot-like section that is not used and
  // each [GLOBAL] key that is not.
  const std::vector<std::string>& problems() const { return launchProblems; }
  // The program's own settings as open() read them.
  const GlobalSettings& globals() const { return globalSettings; }

  int size() const { return static_cast<int>(owned.size()); }
  bool full() const;
  CPortSlot& operator[](int index) { return *owned[index]; }
  const CPortSlot& operator[](int index) const { return *owned[index]; }

private:
  CPortSlot& makeSlot();
  CPortSlot& adopt(std::unique_ptr<CPortSlot> slot);
  void retireLast();
  void pairsChanged();
  void sweepRetired();
  void count(evlog::ReloadSummary& summary, int index, CPortSlot::Reloaded how);
  void takeSwitchedOn(const std::vector<std::unique_ptr<CPortSlot>>& sections, const std::set<int>& portsHeld,
                      evlog::ReloadSummary& summary);

  std::string iniPath;
  CSaveReport* saveReport;
  std::vector<std::unique_ptr<CPortSlot>> owned;  // owned; slot order
  // Owned: slots a reload took out of the set whose pairs have not all ended; each goes at the
  // loop round after its last pair's end.
  std::vector<std::unique_ptr<CPortSlot>> retiring;
  net::Timer sweep;
  std::unique_ptr<ini::Document> launchDocument;  // open()'s reading, until startAll()
  std::vector<std::string> launchProblems;
  GlobalSettings globalSettings;
};
