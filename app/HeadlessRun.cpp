#include "app/HeadlessRun.h"

#include <cerrno>
#include <cstdio>
#include <sys/epoll.h>
#include <unistd.h>

#include "app/LogDrain.h"
#include "app/ProgramLog.h"
#include "app/RunServices.h"
#include "app/SignalPipe.h"
#include "log/EventLog.h"
#include "log/FdSink.h"
#include "log/LogFormat.h"
#include "log/LogLines.h"
#include "net/EventLoop.h"
#include "net/Trace.h"
#include "service/Notify.h"
#include "slot/SaveReport.h"
#include "slot/SlotSet.h"

CHeadlessRun::CHeadlessRun(std::string path, int debug, bool withoutWindow, bool silent)
    : iniPath(std::move(path)),
      debugMode(debug),
      headless(withoutWindow),
      quiet(silent),
      notify(std::make_unique<service::Notify>(service::Notify::takeFromEnvironment())) {}

CHeadlessRun::~CHeadlessRun() = default;

int CHeadlessRun::run() {
  trace("CHeadlessRun::run() ini=%s\n", iniPath.c_str());
  // What a window would show in a box goes the same way as the event log, so a reader that
  // stops reading holds up neither.
  evlog::FdSink standardError(STDERR_FILENO);
  CLogDrain drain(net::EventLoop::current(), standardError);
  if (!quiet) evlog::addSink(&standardError);
  standardError.setFormat(chosenLogFormat(logFormat, nullptr));
  auto tell = [&standardError](const evlog::Record& record) { standardError.write(record); };
  CSaveReport saveReport([&](const std::string& text) { tell(evlog::saveFailedLine(iniPath, text)); });
  CSlotSet slots(iniPath, &saveReport);
  running = &slots;
  errorSink = &standardError;
  int started = 0;
  if (!CSignalPipe::closeAsked(debugMode, headless)) {
    slots.open();
    standardError.setFormat(chosenLogFormat(logFormat, &slots.globals()));
    for (const std::string& problem : slots.problems()) tell(evlog::problemLine(-1, problem));
    slots.startAll([&](CPortSlot& slot, const std::string& refusal) {
      for (const std::string& problem : slot.problems) tell(evlog::problemLine(slot.slotIndex, problem));
      // The log tells a refusal; a quiet run still says it, as it is an error.
      if (!refusal.empty() && quiet) tell(evlog::switchOnRefusedLine(slot.slotIndex, refusal));
      if (slot.started()) ++started;
      standardError.flush();
      return !CSignalPipe::closeAsked(debugMode, headless);
    });
    if (evlog::enabled() && !CSignalPipe::closeAsked(debugMode, headless))
      evlog::post(evlog::startLine(productVersion(), iniPath, slots.size(), started));
    standardError.flush();
  }

  const bool stopped = CSignalPipe::closeAsked(debugMode, headless);
  if (stopped) {
    trace("CHeadlessRun: closing before the start ended\n");
  } else if (started == 0) {
    tell(evlog::startRefusedLine(iniPath, "起動できたスロットがありません (ACT=1 で起動できるスロットが必要です)"));
  } else {
    // Every slot saved ON has started or been refused: the service is up.
    notify->ready();
    refreshStatus();
    slots.onCountChange = [this] { refreshStatus(); };
    // The control socket and the metrics, while the slots are served.
    service::ControlHooks hooks;
    hooks.reload = [this] { return reloadSettings(); };
    hooks.switchSlot = [this, &slots](int n, bool on) {
      std::string refusal = slots[n].toggleSlot(on ? 1 : 0);
      refreshStatus();
      return refusal;
    };
    CRunServices services(slots, hooks);
    services.open(iniPath, [&](const std::string& text) { tell(evlog::serviceFailedLine(text)); });
    serveUntilClosed();
  }
  slots.onCountChange = nullptr;
  notify->stopping();
  CSignalPipe::restoreDefaults();  // nobody reads the pipe now: a second signal ends a stuck stop

  trace("CHeadlessRun::run() shutdown\n");
  slots.shutdown();
  evlog::removeSink(&standardError);
  standardError.drain(kLogDrainAtEnd);
  running = nullptr;
  errorSink = nullptr;
  return started == 0 && !stopped ? 1 : 0;
}

// ---- Reload and the service manager's messages ----

service::ReloadAnswer CHeadlessRun::reloadSettings() {
  if (!running) return {};
  notify->reloading();
  const CSlotSet::ReloadResult result = running->reload();
  std::string line;  // the control socket's answer: the reload's line, or the first reason
  if (result.applied()) {
    const evlog::Record record = evlog::reloadLine(result.summary);
    if (evlog::enabled()) evlog::post(record);
    line = evlog::textLine(record);
  } else {
    for (const std::string& problem : result.problems) {
      const evlog::Record refused = evlog::reloadRefusedLine(problem);
      if (evlog::enabled()) evlog::post(refused);
      if (quiet) errorSink->write(refused);  // an error: a quiet run says it too
      if (line.empty()) line = problem;
    }
  }
  notify->ready();
  refreshStatus();
  errorSink->flush();  // a signal is served outside a loop round, whose end would write the lines
  return {result.applied(), line};
}

void CHeadlessRun::refreshStatus() {
  if (!running || !notify->active()) return;
  notify->status("待ち受け中のスロット=" + std::to_string(running->listening()) +
                 " 接続中=" + std::to_string(running->connectionsOpen()));
}

namespace {

// The signal pipe as one more registration of the socket loop, so a single epoll_wait serves
// both and nothing polls first.
struct SignalWatch final : net::EventLoop::Watcher {
  bool ready = false;
  void onReady(std::uint32_t) override { ready = true; }
};

}  // namespace

void CHeadlessRun::serveUntilClosed() {
  net::EventLoop& loop = net::EventLoop::current();
  SignalWatch signals;
  const net::EventLoop::Token token = loop.add(CSignalPipe::readFd(), &signals);
  loop.setInterest(token, EPOLLIN);
  if (CSignalPipe::reloadAsked()) reloadSettings();  // asked for during the start
  for (bool closing = false; !closing;) {
    if (!loop.wait(-1)) {
      trace("Error:CHeadlessRun epoll_wait() errno=%d\n", errno);
      break;  // the loop cannot be waited on any more: close in order rather than spin
    }
    if (!signals.ready) continue;
    signals.ready = false;
    bool reload = false;
    for (int signo : CSignalPipe::drain()) {
      const SignalAction action = signalAction(signo, debugMode, headless);
      if (action == SignalAction::CloseInOrder) {
        trace("CHeadlessRun: signal %d, closing\n", signo);
        closing = true;
        break;
      }
      reload = reload || action == SignalAction::Reload;  // several at once: one reload
      if (action == SignalAction::Ignore) trace("CHeadlessRun: signal %d ignored\n", signo);
    }
    if (reload && !closing) reloadSettings();
  }
  loop.remove(token);
}
