// A slot on a settings file in a temp directory, with a destination listening on 127.0.0.1 and
// a free listen port; the relay's event loop is driven in the test's own thread.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "Loopback.h"
#include "SlotIni.h"
#include "TempDir.h"
#include "Wait.h"
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

}  // namespace slottest
