// A slot on a settings file in a temp directory, with a destination listening on 127.0.0.1 and
// a free listen port; the relay's event loop is driven in the test's own thread.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Loopback.h"
#include "SlotIni.h"
#include "TempDir.h"
#include "Wait.h"
#include "log/EventLog.h"
#include "log/LogRing.h"
#include "slot/PortSlot.h"

namespace slottest {

using namespace testsupport;

struct SlotFixture : testing::Test {
  TempDir dir;
  std::string ini = (dir / "RelvaneTiv.ini").string();
  CPortSlot slot;
  LoopbackListener destination;
  const int port = freePort();
  SlotFixture() { socketInit(), slot.iniPath = ini; }
  // Slot 0 on the free port, relaying to `host` at the destination's port, then `more` keys.
  std::string section(int act, const std::string& host, const std::string& more = "") const {
    return slotSection(0, act, port, destination.port, host, more);
  }
};

// Collects the event log while alive; lines without their time stamp.
struct LogCapture {
  evlog::Ring ring{100};
  LogCapture() { evlog::addSink(&ring); }
  ~LogCapture() { evlog::removeSink(&ring); }
  std::vector<std::string> lines(const std::string& containing = "") const {
    std::vector<std::string> out;
    for (const auto& l : ring.lines())
      if (l.find(containing) != std::string::npos) out.push_back(l.substr(24));
    return out;
  }
};

}  // namespace slottest
