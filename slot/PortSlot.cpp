#include "slot/PortSlot.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "log/EventLog.h"
#include "log/LogLines.h"
#include "log/SlotNames.h"
#include "net/LocalAddress.h"
#include "slot/AccessSettings.h"
#include "slot/AdvancedSettings.h"
#include "slot/IniDocument.h"
#include "slot/SaveReport.h"
#include "slot/SettingNumber.h"
#include "slot/SlotSections.h"
#include "slot/SlotUdp.h"

namespace {

// Byte count of the UTF-8 sequence a lead byte opens; 0 for a byte that opens none.
size_t sequenceLength(unsigned char lead) {
  if (lead < 0x80) return 1;
  if ((lead & 0xE0) == 0xC0) return 2;
  if ((lead & 0xF0) == 0xE0) return 3;
  if ((lead & 0xF8) == 0xF0) return 4;
  return 0;
}

// The host as the fixed-size buffer holds it: at most `limit` bytes, and a cut that would
// split a UTF-8 character drops that character's first bytes too.
std::string cutHost(std::string host, size_t limit) {
  if (host.size() <= limit) return host;
  host.resize(limit);
  size_t start = host.size();
  while (start > 0 && host.size() - start < 4 && (static_cast<unsigned char>(host[start - 1]) & 0xC0) == 0x80) --start;
  if (start > 0) {
    size_t len = sequenceLength(static_cast<unsigned char>(host[start - 1]));
    if (len > 1 && start - 1 + len > host.size()) host.resize(start - 1);
  }
  return host;
}

}  // namespace

// The system's reason tells a port in use from one not permitted.
std::string CPortSlot::listenFailedText(int port, int error) {
  char message[128];
  std::snprintf(message, sizeof message, kListenFailed, port);
  return error ? std::string(message) + " (" + std::strerror(error) + ")" : std::string(message);
}

CPortSlot::CPortSlot() = default;

CPortSlot::~CPortSlot() {
  // The members the repeater reports to go after it, but it must not report while it closes.
  repeater.setListener(nullptr);
  evlog::forgetSlotName(slotIndex, this);
}

void CPortSlot::publishName() const { evlog::setSlotName(slotIndex, this, options.name); }

std::string CPortSlot::sectionName() const { return slot_sections::sectionName(slotIndex); }

void CPortSlot::loadSettings() { loadSettings(ini::Document::load(iniPath)); }

void CPortSlot::loadSettings(const ini::Document& doc) {
  problems.clear();
  const std::string section = sectionName();
  // A section removed by hand from here on is the admin's choice: a save leaves it out.
  sectionKnown = doc.hasSection(section);
  // A value that is not a whole decimal number in range is named and never used.
  auto readInt = [&](const char* key, int low, int high, int def) {
    return setting_number::read(doc, section, key, low, high, def, problems);
  };
  act = readInt("ACT", 0, 1, 0);
  listenPort = readInt("PORT", 0, kMaxPort, 0);  // 0: refused at switch-on, like a missing port
  forwardHost = cutHost(doc.get(section, "FORWARDHOST").value_or(kDefaultHost), kMaxHostBytes);
  forwardPort = readInt("FORWARDPORT", 0, kMaxPort, 0);
  bufferSize = readInt("BUFFERSIZE", 1, kMaxBufferSize, kDefaultBufferSize);
  connectTimeout = readInt("CONNECTTIMEOUT", 0, kMaxTimeout, CTcpRepeater::kDefaultConnectTimeout);
  halfCloseTimeout = readInt("HALFCLOSETIMEOUT", 0, kMaxTimeout, CTcpRepeater::kDefaultHalfCloseTimeout);
  options.load(doc, section, problems);
  captureState.settings.load(doc, section, problems);
  faults.load(doc, section, options.udp, problems);
  filterModeText = slot_access::load(doc, section, filter, listenHost);
  if (!filterModeText.empty())
    problems.push_back(
        setting_number::invalidLine(section, "FILTER", filterModeText, CIpFilter::ModeAcceptAll, CIpFilter::ModeRules));
  changedKeys.clear();  // what was just read is what the file says
  checkValues(doc);
}

void CPortSlot::checkValues(const ini::Document& doc) {
  const std::string section = sectionName();
  if (act != 0 && forwardHost.empty())
    problems.push_back(section + " は ACT=" + std::to_string(act) + " ですが FORWARDHOST が空です");
  for (const std::string& key : doc.duplicateKeys(section))
    problems.push_back(section + " の " + key + " が2回以上書かれています (最初の値を使います)");
}

std::vector<std::pair<std::string, std::string>> CPortSlot::savedValues() const {
  return {{"ACT", std::to_string(act)},
          {"PORT", std::to_string(listenPort)},
          {"FORWARDHOST", forwardHost},
          {"FORWARDPORT", std::to_string(forwardPort)}};
}

bool CPortSlot::saveSettings() {
  // An admin's hand edit made while the program runs stands unless the user changes the slot.
  if (sectionKnown && changedKeys.empty()) return true;
  ini::Document doc = ini::Document::load(iniPath);
  if (!doc.readable()) {
    if (saveReport) saveReport->refused(doc.refusal());
    return false;
  }
  const std::string section = sectionName();
  const bool wholeSection = !doc.hasSection(section);
  if (!wholeSection && changedKeys.empty()) return sectionKnown = true;  // the file says it all
  // Each key is set even when another was refused, so one bad value loses no other setting.
  bool ok = true;
  for (const auto& [key, value] : savedValues())
    if (wholeSection || changedKeys.count(key)) ok = doc.set(section, key, value) && ok;
  // Not part of a new section: these keys appear only once the user has changed them.
  for (const auto& [key, value] : slot_access::values(filter, listenHost))
    if (changedKeys.count(key)) ok = doc.set(section, key, value) && ok;
  // A key set back to its default needs no line: one is written only over the file's own.
  const auto setChanged = [&](const std::string& key, const std::string& text, bool isDefault) {
    if (changedKeys.count(key) && (!isDefault || doc.get(section, key))) ok = doc.set(section, key, text) && ok;
  };
  for (const advanced::Value& v : advanced::values(*this)) setChanged(v.key, v.text, v.isDefault);
  setChanged("CAPTURE", capturing() ? "1" : "0", !capturing());
  for (const auto& [key, value] : faults.values()) setChanged(key, value, value.empty());
  if (!doc.save(iniPath)) {
    const int error = errno;
    if (saveReport) saveReport->failed(iniPath, error);
    return false;
  }
  if (wholeSection && sectionKnown && evlog::enabled())
    evlog::post(section + " はファイルから消えていましたが、このスロットが変更されたため追加しました: " + iniPath);
  changedKeys.clear();
  sectionKnown = true;
  return ok;
}

void CPortSlot::takeAccess(const CIpFilter& newFilter, const std::string& newListenHost) {
  const auto before = slot_access::values(filter, listenHost);
  const auto after = slot_access::values(newFilter, newListenHost);
  for (size_t i = 0; i < after.size(); ++i)
    if (before[i].second != after[i].second) markChanged(after[i].first);
  filter = newFilter;
  listenHost = newListenHost;
}

std::string CPortSlot::switchOnRefusal() const {
  if (listenPort <= 0 || listenPort > kMaxPort) return kListenPortInvalid;
  if (forwardPort <= 0 || forwardPort > kMaxPort) return kForwardPortInvalid;
  for (const net::HostPort& to : destinations())
    if (to.port == listenPort && net::isThisHost(to.host)) return kForwardToItself;
  if (std::string refusal = slot_access::switchOnRefusal(filter, listenHost, filterModeText); !refusal.empty())
    return refusal;
  return options.switchOnRefusal();
}

std::string CPortSlot::toggleSlot(int newAct) {
  std::string refusal = switchTo(newAct);
  if (refusal.empty()) {
    markChanged("ACT");
    saveSettings();
  }
  return refusal;
}

std::string CPortSlot::switchTo(int newAct) {
  act = newAct != 0 ? 1 : 0;  // a check box knows only on and off
  if (act == 1) {
    std::string refusal = switchOnRefusal();
    if (!refusal.empty()) {
      act = 0;
      return refuse(refusal);
    }
  }
  applyState();
  applyCapture();
  if (listenFailed()) {
    const int error = listenError();
    stopRepeater();
    act = 0;
    return refuse(listenFailedText(listenPort, error));
  }
  return {};
}

std::string CPortSlot::refuse(std::string message) {
  if (evlog::enabled()) evlog::post(evlog::switchOnRefusedLine(slotIndex, message));
  return message;
}

void CPortSlot::stopRepeater() {
  const bool wasListening = repeater.isListening() || udpListening();
  repeater.stop();  // each live connection's end is logged from here
  stopUdp();
  if (wasListening && evlog::enabled()) evlog::post(evlog::stoppedLine(slotIndex));
}

bool CPortSlot::listenFailed() const {
  // An empty host starts nothing on purpose; only a start that was tried can have failed.
  return act == 1 && listenPort != 0 && forwardPort != 0 && !forwardHost.empty() && !started();
}

std::string CPortSlot::startSlot() { return startSlot(ini::Document::load(iniPath), true); }

std::string CPortSlot::startSlot(const ini::Document& doc, bool mayAddSection, const std::string& newListenHost) {
  connectionCount = 0;
  loadSettings(doc);
  const bool addSection = mayAddSection && !doc.hasSection(sectionName());
  if (addSection && !newListenHost.empty()) {
    listenHost = newListenHost;
    markChanged("LISTENHOST");
  }
  publishName();
  std::string refusal = switchTo(act);
  if (addSection) {
    for (const auto& [key, value] : savedValues()) markChanged(key);  // written as if the user set them
    saveSettings();
  }
  return refusal;
}

void CPortSlot::applyState() {
  if (act == 0) {
    stopRepeater();
    return;
  }
  if (listenPort == 0 || forwardPort == 0 || forwardHost.empty()) return;
  if (options.udp) return startUdp();
  repeater.setListener(this);
  repeater.setBufferSize(bufferSize);
  repeater.setConnectTimeout(connectTimeout);
  repeater.setHalfCloseTimeout(halfCloseTimeout);
  // No listen address keeps the old way: every local address, and the old placeholder.
  repeater.setListenBindAddress(listenHost.empty() ? 0 : 1, listenHost.empty() ? "localhost" : listenHost);
  configureOutgoing();
  repeater.setFaults(faults.live);
  repeater.filter = &filter;
  if (udp) repeater.serialsAfter(udp->relay.lastSerial());  // serials stay unique in the slot's capture
  publishName();                                            // the number may have moved since the name was read
  activity.switchedOn(slotIndex, forwardHost, forwardPort);
  repeater.start(listenPort, destinations());
  logListening();
}

std::vector<net::HostPort> CPortSlot::destinations() const {
  std::vector<net::HostPort> all{{forwardHost, forwardPort}};
  all.insert(all.end(), options.more.begin(), options.more.end());
  return all;
}

void CPortSlot::configureOutgoing() {
  repeater.setOptions(options.relay);
  const bool bind = !options.sourceAddress.empty();
  repeater.setConnectBindAddress(bind ? 1 : 0, bind ? options.sourceAddress : "localhost");
}

void CPortSlot::logListening() {
  std::string address;
  int port = 0;
  if (evlog::enabled() && listenName(address, port))
    evlog::post(
        evlog::listeningLine(slotIndex, address, port, forwardHost, forwardPort,
                             slot_access::openToOtherMachines(filter, listenHost) ? slot_access::kOpenToOthers : ""));
}

void CPortSlot::shutdownSlot() {
  if (hasUnsavedChanges()) saveSettings();  // nothing changed: the file is left as the user keeps it
  stopRepeater();
}

bool CPortSlot::closeBySerial(std::uint64_t serial, bool udpSession) {
  if (udpSession) return udp && udp->relay.closeBySerial(serial, UdpSessionEnding::ClosedByUser);
  return repeater.closeBySerial(serial, PairEnding::ClosedByUser);
}

void CPortSlot::notifyOnConnectionCount(int count) {
  connectionCount = count;
  if (onConnectionCount) onConnectionCount(count);
  if (onPairsChanged) onPairsChanged();
}

void CPortSlot::notifyOnPairOpen(const CTcpStreamPair& pair) { activity.pairOpened(pair); }

void CPortSlot::notifyOnPairEnd(const CTcpStreamPair& pair, PairEnding how, int err) {
  activity.pairEnded(pair, how, err);
}

void CPortSlot::notifyOnPeerRefused(const std::string& address, int port) { activity.peerRefused(address, port); }

void CPortSlot::notifyOnLoopRefused(const std::string& address, int port) { activity.loopRefused(address, port); }
void CPortSlot::notifyOnDestinationState(const std::string& destination, bool up) {
  activity.destinationChanged(destination, up);
}
