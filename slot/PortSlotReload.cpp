// The slot's part of a reload: its settings compared with the file's and taken while it runs.
#include "log/EventLog.h"
#include "log/LogLines.h"
#include "slot/AccessSettings.h"
#include "slot/PortSlot.h"

bool CPortSlot::sameListener(const CPortSlot& other) const {
  return listenPort == other.listenPort && listenHost == other.listenHost;
}

bool CPortSlot::sameSettings(const CPortSlot& other) const {
  return sameListener(other) && forwardHost == other.forwardHost && forwardPort == other.forwardPort &&
         bufferSize == other.bufferSize && connectTimeout == other.connectTimeout &&
         halfCloseTimeout == other.halfCloseTimeout && options == other.options &&
         filterModeText == other.filterModeText &&
         slot_access::values(filter, listenHost) == slot_access::values(other.filter, other.listenHost);
}

void CPortSlot::copySettings(const CPortSlot& from) {
  act = from.act;
  listenPort = from.listenPort;
  listenHost = from.listenHost;
  editListenHost = from.listenHost;
  forwardHost = from.forwardHost;
  forwardPort = from.forwardPort;
  bufferSize = from.bufferSize;
  connectTimeout = from.connectTimeout;
  halfCloseTimeout = from.halfCloseTimeout;
  options = from.options;
  filter = from.filter;  // in place: the repeater points at it
  editFilter = from.filter;
  filterModeText = from.filterModeText;
  problems = from.problems;
  sectionKnown = from.sectionKnown;
  changedKeys.clear();  // what was just read is what the file says
  publishName();
}

CPortSlot::Reloaded CPortSlot::reloadFrom(const CPortSlot& fresh, std::string& refusal, bool quietRefusal) {
  // A name labels the slot's lines and nothing it relays: taken at once, never a restart.
  if (options.name != fresh.options.name) options.name = fresh.options.name, publishName();
  takeCapture(fresh.captureState.settings);
  const bool faultsTaken = faults.reload(fresh.faults);
  if (faultsTaken) setFaults(faults.live, false);
  const Reloaded unchanged = faultsTaken ? Reloaded::Changed : Reloaded::Kept;  // faults need no restart
  const bool same = sameSettings(fresh);
  const bool listening = started();
  if (fresh.act == 0) {
    copySettings(fresh);
    if (!listening) return same ? unchanged : Reloaded::Changed;
    stopListening();
    return Reloaded::Stopped;
  }
  if (!listening) {  // switched off, or refused before: it is tried again
    copySettings(fresh);
    refusal = switchTo(1);
    return refusal.empty() ? Reloaded::Started : Reloaded::Refused;
  }
  return same ? unchanged : takeLive(fresh, refusal, quietRefusal);
}

// The new listener first: when it cannot open, nothing of the old settings has gone.
CPortSlot::Reloaded CPortSlot::takeLive(const CPortSlot& fresh, std::string& refusal, bool quietRefusal) {
  if (options.udp || fresh.options.udp) {
    Reloaded outcome = Reloaded::Changed;
    refusal = restartAs(fresh, outcome);
    return outcome;
  }
  if (!sameListener(fresh)) {
    const bool bind = !fresh.listenHost.empty();
    if (const int error = repeater.relisten(fresh.listenPort, bind ? 1 : 0, bind ? fresh.listenHost : "localhost")) {
      refusal = listenFailedText(fresh.listenPort, error);
      if (!quietRefusal) refuse(refusal);
      return Reloaded::Refused;
    }
  }
  copySettings(fresh);
  repeater.setBufferSize(bufferSize);
  repeater.setConnectTimeout(connectTimeout);
  repeater.setHalfCloseTimeout(halfCloseTimeout);
  configureOutgoing();
  repeater.retarget(destinations());
  activity.retargeted(forwardHost, forwardPort);
  logListening();
  return Reloaded::Changed;
}

std::string CPortSlot::startLoaded() {
  publishName();
  return switchTo(act);
}

void CPortSlot::stopListening() {
  const bool wasListening = started();
  repeater.stopListening();
  stopUdp();
  act = 0;
  if (wasListening && evlog::enabled()) evlog::post(evlog::stoppedLine(slotIndex));
}
