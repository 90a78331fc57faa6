#include "app/HeadlessRun.h"

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <sys/epoll.h>

#include "app/SignalPipe.h"
#include "net/EventLoop.h"
#include "net/Trace.h"
#include "slot/PortSlot.h"

std::string defaultIniPath() {
  std::error_code ec;
  std::string dir = std::filesystem::current_path(ec).string();
  if (dir == "/") dir.clear();  // "/" + "/" + name would double the slash
  return dir + "/" + "RelvaneTiv.ini";
}

CHeadlessRun::CHeadlessRun(std::string iniPath, int debugMode, bool headless)
    : iniPath(std::move(iniPath)), debugMode(debugMode), headless(headless) {}

int CHeadlessRun::run() {
  trace("CHeadlessRun::run() ini=%s\n", iniPath.c_str());
  CPortSlot slot;
  slot.slotIndex = 0;
  slot.iniPath = iniPath;
  // A refused switch-on leaves the slot off, as a click would; the message has no window
  // to go to, so it goes where a person running without one looks.
  std::string refusal = slot.startSlot();
  if (!refusal.empty()) std::fprintf(stderr, "%s\n", refusal.c_str());

  serveUntilClosed();

  trace("CHeadlessRun::run() shutdown\n");
  slot.shutdownSlot();
  return 0;
}

namespace {

// The signal pipe as one more registration of the socket loop, so a single epoll_wait serves
// both and nothing polls first.
struct SignalWatch : net::EventLoop::Watcher {
  bool ready = false;
  void onReady(std::uint32_t) override { ready = true; }
};

}  // namespace

void CHeadlessRun::serveUntilClosed() {
  net::EventLoop& loop = net::EventLoop::current();
  SignalWatch signals;
  const net::EventLoop::Token token = loop.add(CSignalPipe::readFd(), &signals);
  loop.setInterest(token, EPOLLIN);
  for (bool closing = false; !closing;) {
    if (!loop.wait(-1)) {
      trace("Error:CHeadlessRun epoll_wait() errno=%d\n", errno);
      break;  // the loop cannot be waited on any more: close in order rather than spin
    }
    if (!signals.ready) continue;
    signals.ready = false;
    for (int signo : CSignalPipe::drain()) {
      if (signalAction(signo, debugMode, headless) == SignalAction::CloseInOrder) {
        trace("CHeadlessRun: signal %d, closing\n", signo);
        closing = true;
        break;
      }
      trace("CHeadlessRun: signal %d ignored\n", signo);
    }
  }
  loop.remove(token);
}
