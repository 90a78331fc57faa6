#include "app/HeadlessRun.h"

#include <cerrno>
#include <cstdio>
#include <memory>
#include <poll.h>
#include <vector>

#include "app/SignalPipe.h"
#include "net/EventLoop.h"
#include "net/Trace.h"
#include "slot/IniDocument.h"
#include "slot/PortSlot.h"
#include "slot/SaveReport.h"
#include "slot/SlotSections.h"

CHeadlessRun::CHeadlessRun(std::string iniPath, int debugMode, bool headless)
    : iniPath(std::move(iniPath)), debugMode(debugMode), headless(headless) {}

int CHeadlessRun::run() {
  trace("CHeadlessRun::run() ini=%s\n", iniPath.c_str());
  auto toStderr = [](const std::string& text) { std::fprintf(stderr, "%s\n", text.c_str()); };
  CSaveReport saveReport(toStderr);
  const int count = slot_sections::count(ini::Document::load(iniPath));
  std::vector<std::unique_ptr<CPortSlot>> slots;
  int started = 0;
  for (int i = 0; i < count; ++i) {
    auto& slot = *slots.emplace_back(std::make_unique<CPortSlot>());
    slot.slotIndex = i;
    slot.iniPath = iniPath;
    slot.saveReport = &saveReport;
    const std::string refusal = slot.startSlot();
    for (const std::string& problem : slot.problems) toStderr(problem);
    if (!refusal.empty()) toStderr(slot.sectionName() + ": " + refusal);
    if (slot.started()) ++started;
  }

  if (started == 0) {
    toStderr("起動できたスロットがありません (ACT=1 で起動できるスロットが必要です)");
  } else {
    serveUntilClosed();
    CSignalPipe::restoreDefaults();  // nobody reads the pipe now: a second signal ends a stuck stop
  }

  trace("CHeadlessRun::run() shutdown\n");
  for (auto& slot : slots) slot->shutdownSlot();
  return started == 0 ? 1 : 0;
}

void CHeadlessRun::serveUntilClosed() {
  net::EventLoop& loop = net::EventLoop::current();
  pollfd fds[2] = {{loop.fd(), POLLIN, 0}, {CSignalPipe::readFd(), POLLIN, 0}};
  for (;;) {
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      trace("Error:CHeadlessRun poll() errno=%d\n", errno);
      return;  // nothing left to wait on: close in order rather than spin
    }
    if (fds[0].revents & (POLLNVAL | POLLERR)) {
      trace("Error:CHeadlessRun socket loop fd revents=%d\n", fds[0].revents);
      return;  // the loop cannot be waited on any more: close in order rather than spin
    }
    if (fds[0].revents != 0) loop.dispatch();
    if (fds[1].revents == 0) continue;
    for (int signo : CSignalPipe::drain()) {
      if (signalAction(signo, debugMode, headless) == SignalAction::CloseInOrder) {
        trace("CHeadlessRun: signal %d, closing\n", signo);
        return;
      }
      trace("CHeadlessRun: signal %d ignored\n", signo);
    }
  }
}
