#pragma once
// A settings file with three slots in a temp directory, opened and started as a run starts them:
// slot 0 relays to a destination on 127.0.0.1, slot 1 is off, slot 2 is on but has no listen
// port (its switch-on is refused). Its relay, and the servers under test, run in this thread's
// loop; the clients of the servers run in threads of their own, so they may block.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <future>
#include <map>
#include <string>
#include <vector>

#include "Loopback.h"
#include "SlotIni.h"
#include "TempDir.h"
#include "Wait.h"
#include "slot/SlotSet.h"

namespace servicetest {

using namespace testsupport;

struct ServiceFixture : testing::Test {
  TempDir dir;
  std::string ini = (dir / "RelvaneTiv.ini").string();
  LoopbackListener destination;
  const int port = freePort(), spare = freePort();
  CSlotSet slots{ini, nullptr};

  ServiceFixture();
  ~ServiceFixture() override;

  // A connection through slot 0 that has carried `up` bytes to the destination and `down` back.
  struct Pair {
    int client = -1, server = -1;
  };
  Pair relayOnce(std::size_t up, std::size_t down);
  void close(Pair& pair);
  // True when `fd` can send and receive through the slot within the wait's bound.
  bool roundTrip(const Pair& pair);

  // Runs `work` in a thread of its own while this thread serves the loop; its result.
  template <typename T>
  T beside(std::function<T()> work) {
    std::future<T> result = std::async(std::launch::async, std::move(work));
    waitUntil([&] { return result.wait_for(std::chrono::seconds(0)) == std::future_status::ready; });
    return result.get();
  }
};

// "key=value" fields of one answer line.
std::map<std::string, std::string> fields(const std::string& line);

}  // namespace servicetest
