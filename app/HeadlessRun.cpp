#include "app/HeadlessRun.h"

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <poll.h>
#include <unistd.h>

#include "app/SignalPipe.h"
#include "log/EventLog.h"
#include "log/FdSink.h"
#include "net/EventLoop.h"
#include "net/Trace.h"
#include "slot/PortSlot.h"

std::string defaultIniPath() {
  std::error_code ec;
  std::string dir = std::filesystem::current_path(ec).string();
  if (dir == "/") dir.clear();  // "/" + "/" + name would double the slash
  return dir + "/" + "RelvaneTiv.ini";
}

CHeadlessRun::CHeadlessRun(std::string iniPath, int debugMode, bool headless, bool quiet)
    : iniPath(std::move(iniPath)), debugMode(debugMode), headless(headless), quiet(quiet) {}

int CHeadlessRun::run() {
  trace("CHeadlessRun::run() ini=%s\n", iniPath.c_str());
  evlog::FdSink standardError(STDERR_FILENO);
  if (!quiet) evlog::addSink(&standardError);
  CPortSlot slot;
  slot.slotIndex = 0;
  slot.iniPath = iniPath;
  // A refused switch-on leaves the slot off, as a click would. The log tells it; a quiet run
  // still says it, as it is an error, on standard error where a person running without a
  // window looks.
  std::string refusal = slot.startSlot();
  if (!refusal.empty() && quiet) std::fprintf(stderr, "%s\n", refusal.c_str());

  serveUntilClosed();

  trace("CHeadlessRun::run() shutdown\n");
  slot.shutdownSlot();
  evlog::removeSink(&standardError);
  return 0;
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
