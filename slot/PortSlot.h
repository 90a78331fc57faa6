#pragma once
// CPortSlot: one forwarding slot's settings, their INI persistence and the switching rules,
// without any window. A port panel shows one and a headless run uses it directly; both get it
// from the slot set that owns it. Every switch-on, refusal, stop, connection opening and end is
// told to the event log.
#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "filter/IpFilter.h"
#include "net/TcpRepeater.h"
#include "slot/SlotActivity.h"
#include "slot/SlotCapture.h"
#include "slot/SlotFaults.h"
#include "slot/SlotOptions.h"

class CSaveReport;
class CSlotUdp;
class CUdpSession;
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
  static constexpr int kMaxTimeout = 86400;     // seconds, for both time bounds

  CPortSlot();
  virtual ~CPortSlot();
  CPortSlot(const CPortSlot&) = delete;
  CPortSlot& operator=(const CPortSlot&) = delete;

  // Fills the settings, the filter and the listen address from the slot's section of `doc`; a
  // missing section, key or empty value gives the default. A host longer than kMaxHostBytes is
  // cut, never inside a UTF-8 character. A number is used only when its whole text is decimal
  // and in range; any other is listed in `problems` and never used: ACT means off, PORT and
  // FORWARDPORT are 0 (the switch-on is refused), BUFFERSIZE and the time bounds take their
  // defaults, FILTER serves nobody and refuses the switch-on. A key written twice is listed too.
  void loadSettings(const ini::Document& doc);
  void loadSettings();  // from the file as it is now
  // Merges onto the file as it is on disk now: the keys marked changed since they were read or
  // last saved are set, in one save; every other key keeps its text and every other line stays.
  // The slot's first save gives a file (or a new slot) without its section the four keys of
  // savedValues(). Later, a section that has gone from the file (or the whole file) stays gone
  // unless the user changed the slot: then it is appended with the four keys and the event log
  // says so. Nothing to write: the file is not even read. False when a value was refused, the
  // file refused (see ini::Document::refusal()) or the save failed; the keys stay marked and
  // `saveReport` (when set) tells the user.
  bool saveSettings();
  // The access dialog's OK: the filter and listen address become live, and the keys whose text
  // changes are marked. They are never part of a new section: a file gets them once changed.
  void takeAccess(const CIpFilter& newFilter, const std::string& newListenHost);
  // "" when switching on is allowed, else the message, in this order: kListenPortInvalid and
  // kForwardPortInvalid (a port outside 1..65535), kForwardToItself (this host at the listen
  // port: every client would make one more), then the access settings' refusals (a FILTER that
  // names no mode, a rule that does not parse in rule mode, a listen address that is not this
  // machine's), then the further keys' (SlotOptions: an invalid value that may not fall back, a
  // source address that is not this machine's). kForwardToItself counts every destination.
  std::string switchOnRefusal() const;
  // The user's ON/OFF click with the new check state (any non-zero is on). A refused switch-on,
  // or one whose listen port could not be opened (kListenFailed), sets act = 0, saves nothing
  // and returns the message; otherwise ACT is saved and "" returned. So "on" means listening,
  // except with an empty host, which starts nothing on purpose.
  std::string toggleSlot(int newAct);
  // The launch: loadSettings(doc), then the same switching as toggleSlot(act), but a refusal is
  // not the user switching off: ACT keeps its text, so the next launch tries again. When `doc`
  // lacks the section and `mayAddSection`, the file gets it (a file with problems is left as it
  // is); `newListenHost`, when not empty, is then the slot's listen address and written with the
  // four keys. Returns the refusal.
  std::string startSlot(const ini::Document& doc, bool mayAddSection, const std::string& newListenHost = "");
  std::string startSlot();  // from the file as it is now, adding the section when it lacks it
  // Listening after the last switch (for datagrams, of a UDP slot).
  bool started() const;
  // act 0: stops the repeater (logging the stop when it was listening). A port 0 or an empty
  // host: nothing. Else configures the repeater (buffer size, time bounds, the listen address
  // when one is set, the filter), starts the totals again and starts it; the destination may be
  // a host name or a literal IPv4 or IPv6 address. Logs where it listens. A UDP slot does the
  // same with a UDP relay made afresh.
  void applyState();
  // saveSettings() when something is unsaved, then the repeater stops, closing every live
  // connection.
  void shutdownSlot();

  // What a reload did to the slot that keeps its number.
  enum class Reloaded {
    Kept,     // the same settings, and listening or not as the file says: untouched (a new NAME aside)
    Changed,  // new settings taken: for the clients from now on, the live pairs carry on
    Started,  // saved ON and not listening before: switched on with the settings read
    Stopped,  // switched off in the file: no longer listening, the live pairs carry on
    Refused,  // saved ON but could not listen; `refusal` says why
  };
  // The reload: `fresh` is this slot's section read again (loadSettings) with nothing to refuse.
  // The settings are compared with what this slot runs. A listener is reopened only when the
  // listen port or address changed, the new one opened before the old one closes; when that
  // fails the slot keeps its old settings and listener. The destination, buffer size, time bounds and filter apply to the clients from
  // now on. Nothing is saved: ACT keeps its text even when a switch-on is refused. A refusal is
  // logged, except a new listener's when `quietRefusal` (the caller tries again later).
  Reloaded reloadFrom(const CPortSlot& fresh, std::string& refusal, bool quietRefusal = false);
  // The switch-on of startSlot for a slot loaded already (a reload's new slot); the refusal.
  std::string startLoaded();
  // Stops taking clients and lets the live pairs end on their own (logging the stop).
  void stopListening();
  // True when the file's settings of `other` are these (ACT aside).
  bool sameSettings(const CPortSlot& other) const;
  // Pairs connected or still connecting, and UDP sessions.
  int livePairs() const;
  // The relayed pairs one after another, from position 0; null after the last.
  CTcpStreamPair* nextPair(int& position) { return repeater.getNextPair(position); }
  // Ends one live connection as the user asked, logged as such: the pair with this serial, in
  // order on both sides, or the UDP session with it. False when it has gone already.
  bool closeBySerial(std::uint64_t serial, bool udpSession);
  // Connections served, refused, failed and bytes each way since the slot was last switched
  // on, live connections included.
  SlotTotals totals();
  bool isUdp() const { return options.udp; }
  // The slot's capture (SlotCapture.h); null until capture was first on. It stays with the slot:
  // ended connections remain viewable after capture is switched off and while the slot is OFF.
  const CaptureStore* capture() const;
  bool capturing() const;
  // The panel's switch: live at once for the connections from then on (those captured so far
  // stop when it goes off); CAPTURE is marked for the next save.
  void setCapturing(bool on);
  // A UDP slot's live sessions, the one silent the longest first; none for a TCP slot.
  void forEachSession(const std::function<void(const CUdpSession&)>& visit) const;
  // The address and port listened on; false when not listening.
  bool listenName(std::string& address, int& port) const;
  // "TCP:<port>" or "UDP:<port>", as the panel heads the slot.
  std::string listenCaption() const;
  // Each destination's state when the slot has more than one (else empty).
  std::vector<CTcpRepeater::DestinationState> destinationStates() const { return repeater.destinationStates(); }

  void notifyOnConnectionCount(int count) override;
  void notifyOnPairOpen(const CTcpStreamPair& pair) override;
  void notifyOnPairEnd(const CTcpStreamPair& pair, PairEnding how, int err) override;
  void notifyOnPeerRefused(const std::string& address, int port) override;
  void notifyOnLoopRefused(const std::string& address, int port) override;
  void notifyOnDestinationState(const std::string& destination, bool up) override;

  // "TCP-PORT<slotIndex>".
  std::string sectionName() const;

  // Tells the log this slot's name under its number; again whenever either may have changed.
  void publishName() const;

  // Faults on the relayed bytes of a TCP slot from now on and on its live pairs. `keep`: the
  // user set them in the fault dialog, and the keys whose text changes are marked for the save.
  void setFaults(const net::Faults& next, bool keep);

  // The user changed the setting kept under `key`: the next save writes it.
  void markChanged(const std::string& key) { changedKeys.insert(key); }
  bool hasUnsavedChanges() const { return !changedKeys.empty(); }
  // Every key a new section lists, with its value, in the order written. A new key joins
  // here and is marked when the user changes it. The access keys (AccessSettings.h) and the
  // advanced ones (AdvancedSettings.h) are written only once changed, never with a new section.
  std::vector<std::pair<std::string, std::string>> savedValues() const;

  std::string forwardHost;              // [FORWARDHOST] a host name or a literal address; "" starts nothing
  int act = 0;                          // [ACT] 1 = switched on
  int slotIndex = 0;                    // set by the slot set: section "TCP-PORT<slotIndex>"
  std::string iniPath;                  // set by the slot set: the settings file
  int connectionCount = 0;              // connected pairs as last reported by the repeater
  int listenPort = 0;                   // [PORT] 0 = not set
  int forwardPort = 0;                  // [FORWARDPORT] 0 = not set
  int bufferSize = kDefaultBufferSize;  // [BUFFERSIZE] KiB per stream buffer
  std::string listenHost;               // [LISTENHOST] literal local address; "" = every address
  std::string editListenHost;           // working copy handed to the access dialog
  // Hand-edited values that cannot be right or are not used, one text each naming the slot and
  // the key; filled by loadSettings for the owner to show.
  std::vector<std::string> problems;
  CSaveReport* saveReport = nullptr;  // not owned; tells the user of a failed save
  // Told after every connection count the repeater reports (the panel repaints); may be empty.
  std::function<void(int count)> onConnectionCount;
  // The owning set's own hook, told after onConnectionCount; may be empty.
  std::function<void()> onPairsChanged;
  // [CONNECTTIMEOUT], [HALFCLOSETIMEOUT] seconds 0..kMaxTimeout, 0 = the system's own / none.
  int connectTimeout = CTcpRepeater::kDefaultConnectTimeout;
  int halfCloseTimeout = CTcpRepeater::kDefaultHalfCloseTimeout;
  SlotOptions options;   // [FORWARD1..9, BALANCE, ..., MAXCONN, PROTOCOL, UDPTIMEOUT, NAME]
  CIpFilter filter;      // [FILTER, ALLOW0..9, DENY0..9] live; the repeater points at it while on
  CIpFilter editFilter;  // working copy handed to the settings and access dialogs
  SlotFaults faults;     // [FAULTUP, FAULTDOWN]; change the live ones with setFaults

private:
  bool listenFailed() const;
  std::string switchTo(int newAct);
  void checkValues(const ini::Document& doc);
  std::string refuse(std::string message);  // logs a refused switch-on and returns the message
  void stopRepeater();
  static std::string listenFailedText(int port, int error);  // kListenFailed with the system's reason
  void copySettings(const CPortSlot& from);
  bool sameListener(const CPortSlot& other) const;
  Reloaded takeLive(const CPortSlot& fresh, std::string& refusal, bool quietRefusal);
  void logListening();
  std::vector<net::HostPort> destinations() const;  // FORWARDHOST:FORWARDPORT, then FORWARD1..9
  void configureOutgoing();                         // the options and the source address
  void startUdp();
  void stopUdp();  // its sessions end, each logged
  bool udpListening() const;
  int listenError() const;
  std::string restartAs(const CPortSlot& fresh, Reloaded& outcome);  // a reload to or of a UDP slot
  void applyCapture();                                               // the store and file the keys ask for
  void takeCapture(const CaptureSettings& fresh);                    // a reload's keys, live

  std::set<std::string> changedKeys;
  std::string filterModeText;  // a FILTER text that names no mode, for the refusal to name
  bool sectionKnown = false;   // the section was in the file at a save of this run
  CSlotActivity activity;
  CSlotCapture captureState;      // outlives the relays below, which capture into it
  std::unique_ptr<CSlotUdp> udp;  // since a UDP slot's last switch-on
  // Declared last, so it is destroyed first, before anything it reports to.
  CTcpRepeater repeater;
};
