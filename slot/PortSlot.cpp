#include "slot/PortSlot.h"

#include <cerrno>
#include <cstdio>

#include "log/EventLog.h"
#include "log/LogLines.h"
#include "net/LocalAddress.h"
#include "slot/AccessSettings.h"
#include "slot/IniDocument.h"
#include "slot/IniFile.h"
#include "slot/SaveReport.h"
#include "slot/SlotSections.h"

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
  while (start > 0 && host.size() - start < 4 &&
         (static_cast<unsigned char>(host[start - 1]) & 0xC0) == 0x80)
    --start;
  if (start > 0) {
    size_t len = sequenceLength(static_cast<unsigned char>(host[start - 1]));
    if (len > 1 && start - 1 + len > host.size()) host.resize(start - 1);
  }
  return host;
}

// An optional sign and decimal digits only: "0080" is 80, "80x" or "abc" are not numbers.
bool isPlainNumber(const std::string& text) {
  size_t i = (text[0] == '-' || text[0] == '+') ? 1 : 0;
  return i < text.size() && text.find_first_not_of("0123456789", i) == std::string::npos;
}

}  // namespace

CPortSlot::~CPortSlot() {
  // The members the repeater reports to go after it, but it must not report while it closes.
  repeater.setListener(nullptr);
}

std::string CPortSlot::sectionName() const { return slot_sections::sectionName(slotIndex); }

void CPortSlot::loadSettings() {
  const ini::Document doc = ini::Document::load(iniPath);
  const std::string section = sectionName();
  auto readInt = [&](const char* key, int def) {
    auto value = doc.get(section, key);
    return value ? ini::parseInt(*value, def) : def;
  };
  act = readInt("ACT", 0);
  listenPort = readInt("PORT", 0);
  forwardHost = cutHost(doc.get(section, "FORWARDHOST").value_or(kDefaultHost), kMaxHostBytes);
  forwardPort = readInt("FORWARDPORT", 0);
  bufferSize = readInt("BUFFERSIZE", kDefaultBufferSize);
  connectTimeout = readInt("CONNECTTIMEOUT", CTcpRepeater::kDefaultConnectTimeout);
  halfCloseTimeout = readInt("HALFCLOSETIMEOUT", CTcpRepeater::kDefaultHalfCloseTimeout);
  slot_access::load(doc, section, filter, listenHost);
  changedKeys.clear();  // what was just read is what the file says
  checkValues(doc);
}

void CPortSlot::checkValues(const ini::Document& doc) {
  problems.clear();
  const std::string section = sectionName();
  auto check = [&](const char* key, int low, int high) {
    const auto text = doc.get(section, key);
    if (!text || text->empty()) return;
    const int value = ini::parseInt(*text, 0);
    if (!isPlainNumber(*text) || value < low || value > high)
      problems.push_back(section + " の " + key + "=" + *text + " は無効な値です (" +
                         std::to_string(low) + "～" + std::to_string(high) + ")");
  };
  check("PORT", 0, kMaxPort);
  check("FORWARDPORT", 0, kMaxPort);  // 0 is "not set", refused only when switching on
  check("BUFFERSIZE", 1, kMaxBufferSize);
  if (act != 0 && forwardHost.empty())
    problems.push_back(section + " は ACT=" + std::to_string(act) + " ですが FORWARDHOST が空です");
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
  if (forwardPort == listenPort && net::isThisHost(forwardHost)) return kForwardToItself;
  return slot_access::switchOnRefusal(filter, listenHost);
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
  // A check box knows only on and off; a hand-edited ACT=2 or -1 counts as on and is validated.
  act = newAct != 0 ? 1 : 0;
  if (act == 1) {
    std::string refusal = switchOnRefusal();
    if (!refusal.empty()) {
      act = 0;
      return refuse(refusal);
    }
  }
  applyState();
  if (listenFailed()) {
    repeater.stop();
    act = 0;
    char message[128];
    std::snprintf(message, sizeof message, kListenFailed, listenPort);
    return refuse(message);
  }
  return {};
}

std::string CPortSlot::refuse(std::string message) {
  if (evlog::enabled()) evlog::post(evlog::switchOnRefusedLine(slotIndex, message));
  return message;
}

void CPortSlot::stopRepeater() {
  const bool wasListening = repeater.isListening();
  repeater.stop();  // each live connection's end is logged from here
  if (wasListening && evlog::enabled()) evlog::post(evlog::stoppedLine(slotIndex));
}

bool CPortSlot::listenFailed() const {
  // An empty host starts nothing on purpose; only a start that was tried can have failed.
  return act == 1 && listenPort != 0 && forwardPort != 0 && !forwardHost.empty() &&
         !repeater.isListening();
}

std::string CPortSlot::startSlot() {
  connectionCount = 0;
  loadSettings();
  std::string refusal = switchTo(act);
  saveSettings();  // a file without the section gets it; otherwise nothing changed
  return refusal;
}

void CPortSlot::applyState() {
  if (act == 0) {
    stopRepeater();
    return;
  }
  if (listenPort == 0 || forwardPort == 0 || forwardHost.empty()) return;
  repeater.setListener(this);
  repeater.setBufferSize(bufferSize);
  repeater.setConnectTimeout(connectTimeout);
  repeater.setHalfCloseTimeout(halfCloseTimeout);
  // No listen address keeps the old way: every local address, and the old placeholder.
  repeater.setListenBindAddress(listenHost.empty() ? 0 : 1, listenHost.empty() ? "localhost" : listenHost);
  repeater.setConnectBindAddress(0, "localhost");
  repeater.filter = &filter;
  activity.switchedOn(slotIndex, forwardHost, forwardPort);
  repeater.start(listenPort, forwardHost, forwardPort);
  std::string address;
  int port = 0;
  if (evlog::enabled() && repeater.listenName(address, port))
    evlog::post(evlog::listeningLine(slotIndex, address, port, forwardHost, forwardPort));
}

void CPortSlot::shutdownSlot() {
  saveSettings();
  stopRepeater();
}

void CPortSlot::notifyOnConnectionCount(int count) {
  connectionCount = count;
  if (onConnectionCount) onConnectionCount(count);
}

void CPortSlot::notifyOnPairEnd(const CTcpStreamPair& pair, PairEnding how, int err) {
  activity.pairEnded(pair, how, err);
}

void CPortSlot::notifyOnPeerRefused(const std::string& address, int port) {
  activity.peerRefused(address, port);
}

void CPortSlot::notifyOnLoopRefused(const std::string& address, int port) {
  activity.loopRefused(address, port);
}
