#include "slot/PortSlot.h"

#include <cstdio>

#include "slot/AccessSettings.h"
#include "slot/IniDocument.h"
#include "slot/IniFile.h"

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

}  // namespace

CPortSlot::~CPortSlot() {
  // The panel part of this object is already gone; the repeater must not call back into it.
  repeater.setListener(nullptr);
}

std::string CPortSlot::sectionName() const { return "TCP-PORT" + std::to_string(slotIndex); }

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
  slot_access::load(doc, section, filter, listenHost);
}

bool CPortSlot::saveSettings() {
  ini::Document doc = ini::Document::load(iniPath);
  const std::string section = sectionName();
  // Each key is set even when another was refused, so one bad value loses no other setting.
  bool ok = doc.set(section, "ACT", std::to_string(act));
  ok = doc.set(section, "PORT", std::to_string(listenPort)) && ok;
  ok = doc.set(section, "FORWARDHOST", forwardHost) && ok;
  ok = doc.set(section, "FORWARDPORT", std::to_string(forwardPort)) && ok;
  return doc.save(iniPath) && ok;
}

bool CPortSlot::saveAccessSettings() {
  ini::Document doc = ini::Document::load(iniPath);
  bool changed = false;
  const bool ok = slot_access::store(doc, sectionName(), filter, listenHost, changed);
  if (!changed) return ok;  // nothing to write: the file keeps its every byte and its date
  return doc.save(iniPath) && ok;
}

std::string CPortSlot::switchOnRefusal() const {
  if (listenPort == 0) return kListenPortInvalid;
  if (forwardPort == 0) return kForwardPortInvalid;
  return slot_access::switchOnRefusal(filter, listenHost);
}

std::string CPortSlot::toggleSlot(int newAct) {
  // A check box knows only on and off; a hand-edited ACT=2 or -1 counts as on and is validated.
  act = newAct != 0 ? 1 : 0;
  if (act == 1) {
    std::string refusal = switchOnRefusal();
    if (!refusal.empty()) {
      act = 0;
      return refusal;
    }
  }
  applyState();
  if (listenFailed()) {
    repeater.stop();
    act = 0;
    char message[128];
    std::snprintf(message, sizeof message, kListenFailed, listenPort);
    return message;
  }
  saveSettings();
  return {};
}

bool CPortSlot::listenFailed() const {
  // An empty host starts nothing on purpose; only a start that was tried can have failed.
  return act == 1 && listenPort != 0 && forwardPort != 0 && !forwardHost.empty() &&
         !repeater.isListening();
}

std::string CPortSlot::startSlot() {
  connectionCount = 0;
  loadSettings();
  return toggleSlot(act);
}

void CPortSlot::applyState() {
  if (act == 0) {
    repeater.stop();
    return;
  }
  if (listenPort == 0 || forwardPort == 0 || forwardHost.empty()) return;
  repeater.setListener(this);
  repeater.setBufferSize(bufferSize);
  // No listen address keeps the old way: every local address, and the old placeholder.
  repeater.setListenBindAddress(listenHost.empty() ? 0 : 1, listenHost.empty() ? "localhost" : listenHost);
  repeater.setConnectBindAddress(0, "localhost");
  repeater.filter = &filter;
  repeater.start(listenPort, forwardHost, forwardPort);
}

void CPortSlot::shutdownSlot() {
  saveSettings();
  repeater.stop();
}

void CPortSlot::notifyOnConnectionCount(int count) { connectionCount = count; }
