#pragma once
// CPortSlot: one forwarding slot's settings, their INI persistence and the switching rules,
// without any window. The port panel (CPortDlg) derives from it and adds the widgets; a
// headless run uses it directly.
//
// Set by the owner before anything else:
//   int slotIndex            section "TCP-PORT<slotIndex>" of the INI file
//   std::string iniPath      full path of the INI file
// Settings (the INI keys in brackets):
//   int act                  1 = switched on [ACT]; 0 on construction
//   int listenPort           0 = not set [PORT]
//   std::string forwardHost  host name or dotted IPv4 [FORWARDHOST]; empty on construction
//   int forwardPort          0 = not set [FORWARDPORT]
//   int bufferSize           KiB per stream buffer [BUFFERSIZE, read only]; 128 on construction
//   int connectTimeout       seconds, 0 = the system's own [CONNECTTIMEOUT, read only]; 30
//   int halfCloseTimeout     seconds, 0 = none [HALFCLOSETIMEOUT, read only]; 600
//   int connectionCount      connected pairs as last reported by the repeater
//   std::string listenHost   literal local address to listen on, "" = every address [LISTENHOST]
//   std::string editListenHost  working copy handed to the access dialog
//   CIpFilter filter         live filter [FILTER, ALLOW0..9, DENY0..9]; the repeater points at
//                            it while started
//   CIpFilter editFilter     working copy handed to the settings and access dialogs
//   CTcpRepeater repeater    declared last, so it is destroyed first
// Operations:
//   void loadSettings()             fill the settings from the file; a missing file, section or
//                                   key gives the default (0, "127.0.0.1", 128). A host longer
//                                   than kMaxHostBytes is cut (never inside a UTF-8 character).
//                                   Values that cannot be right are listed in `problems`. Also
//                                   reads the filter and the listen address (AccessSettings.h).
//   bool saveSettings()             writes the keys the user changed since they were read or last
//                                   saved (markChanged), in one save; every other key keeps its
//                                   text and every other line stays. A file without the slot's
//                                   section gets the whole section. Nothing to write: the file is
//                                   not touched. False when the save failed: the keys stay marked,
//                                   `saveReport` (when set) tells the user.
//   std::string switchOnRefusal() const
//                                   "" when switching on is allowed, else the message to show:
//                                   kListenPortInvalid, then kForwardPortInvalid (a port outside
//                                   1..65535), then kForwardToItself (the destination is this
//                                   host at the listen port: every client would make one more,
//                                   endlessly), then a rule that does not parse in mode 3, then a
//                                   listen address that is not this machine's (AccessSettings.h).
//   void takeAccess(const CIpFilter& newFilter, const std::string& newListenHost)
//                                   the access dialog's OK: the filter and listen address become
//                                   live, and the keys whose text changes (FILTER, ALLOWn, DENYn,
//                                   LISTENHOST) are marked for the next save. They are never part
//                                   of a new section: a file gets them once the user changes them.
//   std::string toggleSlot(int newAct)  (any non-zero newAct means on)
//                                   the user's ON/OFF click with the new check state: a refused
//                                   switch-on sets act = 0, starts and saves nothing and returns
//                                   the message; otherwise act = newAct, applyState(), ACT is
//                                   saved and "" is returned. A start that could not open the
//                                   listen port is refused the same way (kListenFailed), so "on"
//                                   always means listening. The caller shows the message.
//   std::string startSlot()         the launch: connectionCount = 0, loadSettings(), the same
//                                   switching as toggleSlot(act), but a refusal is not the user
//                                   switching off: ACT keeps its text, so the next launch tries
//                                   again. Returns the refusal.
//   void applyState()               act 0: stop the repeater. A port 0 or an empty host: nothing.
//                                   Else configure the repeater (listener, buffer size, bind
//                                   addresses off, filter) and start it.
//   void shutdownSlot()             saveSettings(), then stop the repeater.
//   virtual void notifyOnConnectionCount(int count)
//                                   stores the count; the panel overrides it to repaint too.
//   SlotTotals totals()             connections served, refused, failed and bytes each way since
//                                   the slot was last switched on, live connections included.
// Every switch-on, refusal, stop and connection end is told to the event log (log/).
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "filter/IpFilter.h"
#include "net/TcpRepeater.h"
#include "slot/SlotActivity.h"

class CSaveReport;
namespace ini {
class Document;
}

class CPortSlot : public CTcpRepeaterListener {
 public:
  static constexpr const char* kListenPortInvalid = "Listenポートが無効な設定です";
  static constexpr const char* kForwardPortInvalid = "転送先ポート番号が無効な設定です";
  // A switch-on whose listen port could not be opened (taken, or not permitted); %d the port.
  static constexpr const char* kListenFailed = "Listenポート(%d)を開けませんでした";
  static constexpr const char* kForwardToItself = "転送先がこのスロット自身のListenポートです";
  static constexpr const char* kDefaultHost = "127.0.0.1";
  static constexpr int kDefaultBufferSize = 128;
  static constexpr size_t kMaxHostBytes = 260;
  static constexpr int kMaxPort = 65535;
  static constexpr int kMaxBufferSize = 65536;  // KiB

  CPortSlot() = default;
  virtual ~CPortSlot();
  CPortSlot(const CPortSlot&) = delete;
  CPortSlot& operator=(const CPortSlot&) = delete;

  void loadSettings();
  bool saveSettings();
  void takeAccess(const CIpFilter& newFilter, const std::string& newListenHost);
  std::string switchOnRefusal() const;
  std::string toggleSlot(int newAct);
  std::string startSlot();
  // Running (listening) after the last switch.
  bool started() const { return repeater.isListening(); }
  void applyState();
  void shutdownSlot();
  void notifyOnConnectionCount(int count) override;
  void notifyOnPairEnd(const CTcpStreamPair& pair, PairEnding how, int err) override;
  void notifyOnPeerRefused(const std::string& address, int port) override;
  void notifyOnLoopRefused(const std::string& address, int port) override;
  SlotTotals totals() { return activity.totals(repeater); }

  std::string sectionName() const;

  // The user changed the setting kept under `key`: the next save writes it.
  void markChanged(const std::string& key) { changedKeys.insert(key); }
  bool hasUnsavedChanges() const { return !changedKeys.empty(); }
  // Every key the slot writes with its value, in the order a new section lists them. A new
  // key joins here and is marked when the user changes it.
  virtual std::vector<std::pair<std::string, std::string>> savedValues() const;

  // Declaration order matters: members are destroyed in reverse, the repeater first.
  std::string forwardHost;
  int act = 0;
  int slotIndex = 0;
  std::string iniPath;
  int connectionCount = 0;
  int listenPort = 0;
  int forwardPort = 0;
  int bufferSize = kDefaultBufferSize;
  std::string listenHost;
  std::string editListenHost;
  // Hand-edited values that cannot be right, one text each naming the slot and the key;
  // filled by loadSettings for the owner to show.
  std::vector<std::string> problems;
  CSaveReport* saveReport = nullptr;  // not owned; tells the user of a failed save
  int connectTimeout = CTcpRepeater::kDefaultConnectTimeout;
  int halfCloseTimeout = CTcpRepeater::kDefaultHalfCloseTimeout;
  CIpFilter filter;
  CIpFilter editFilter;
  CSlotActivity activity;
  CTcpRepeater repeater;

 private:
  bool listenFailed() const;
  std::string switchTo(int newAct);
  void checkValues(const ini::Document& doc);
  std::string refuse(std::string message);  // logs a refused switch-on and returns the message
  void stopRepeater();

  std::set<std::string> changedKeys;
};
