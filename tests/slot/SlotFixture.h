// A slot on a settings file in a temp directory, with a destination listening on 127.0.0.1 and
// a free listen port; the relay's event loop is driven in the test's own thread.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "Loopback.h"
#include "TempDir.h"
#include "net/EventLoop.h"
#include "slot/PortSlot.h"

namespace slottest {

using namespace testsupport;

inline bool runUntil(const std::function<bool()>& done) { return net::EventLoop::current().runUntil(done, 5s); }

struct SlotFixture : testing::Test {
  TempDir dir;
  std::string ini = (dir / "RelvaneTiv.ini").string();
  CPortSlot slot;
  LoopbackListener destination;
  const int port = freePort();
  SlotFixture() { socketInit(), slot.iniPath = ini; }
  // Slot 0 on the free port, relaying to `host` at the destination's port, then `more` keys.
  std::string section(int act, const std::string& host, const std::string& more = "") const {
    return "[TCP-PORT0]\nACT=" + std::to_string(act) + "\nPORT=" + std::to_string(port) + "\nFORWARDHOST=" + host +
           "\nFORWARDPORT=" + std::to_string(destination.port) + "\n" + more;
  }
};

}  // namespace slottest
