#pragma once
// A settings file with three slots in a temp directory, opened and started as a run starts them:
// slot 0 relays to a destination on 127.0.0.1, slot 1 is off, slot 2 is on but has no listen
// port (its switch-on is refused). The control and metrics servers serve it; they and the relay
// run in this thread's loop, and their clients in threads of their own, so those may block.
#include <gtest/gtest.h>

#include <future>
#include <map>
#include <sstream>
#include <string>

#include "Loopback.h"
#include "SlotIni.h"
#include "TempDir.h"
#include "Wait.h"
#include "service/ControlServer.h"
#include "service/MetricsServer.h"
#include "slot/SlotSet.h"

namespace servicetest {

using namespace testsupport;

struct ServiceFixture : testing::Test {
  TempDir dir;
  std::string ini = (dir / "RelvaneTiv.ini").string(), socket = (dir / "control.sock").string();
  LoopbackListener destination;
  const int port = freePort(), spare = freePort(), metricsPort = freePort();
  CSlotSet slots{ini, nullptr};
  service::ControlServer control{
      slots, {{}, "この実行では設定を読み直せません", [this](int n, bool on) { return slots[n].toggleSlot(on); }}};
  service::MetricsServer metrics{slots, "9.8.7"};
  struct Pair {
    int client = -1, server = -1;
  };

  ServiceFixture() {
    socketInit();
    writeFile(ini, slotSection(0, 1, port, destination.port) + slotSection(1, 0, spare, destination.port) +
                       slotSection(2, 1, 0, destination.port));
    slots.open();
    slots.startAll([](CPortSlot&, const std::string&) { return true; });
    EXPECT_EQ(control.open(socket) + metrics.open("127.0.0.1", metricsPort), "");
  }
  ~ServiceFixture() override { slots.shutdown(); }

  // Runs `work` in a thread of its own while this thread serves the loop; its result.
  template <typename T>
  T beside(std::function<T()> work) {
    std::future<T> result = std::async(std::launch::async, std::move(work));
    waitUntil([&] { return result.wait_for(std::chrono::seconds(0)) == std::future_status::ready; });
    return result.get();
  }
  // A connection through slot 0 that has carried `up` bytes to the destination and `down` back.
  Pair relayOnce(std::size_t up, std::size_t down) {
    Pair pair{connectLoopback(port), beside<int>([&] { return destination.acceptOne(); })};
    EXPECT_TRUE(sendAll(pair.client, std::string(up, 'u')) && sendAll(pair.server, std::string(down, 'd')));
    EXPECT_EQ(beside<std::string>([&] { return recvExact(pair.server, up) + recvExact(pair.client, down); }),
              std::string(up, 'u') + std::string(down, 'd'));
    return pair;
  }
  void close(Pair& pair) {
    const int before = slots[0].connectionCount;
    closeFd(pair.client), closeFd(pair.server);
    EXPECT_TRUE(waitUntil([&] { return slots[0].connectionCount < before; }));
  }
  // True when the pair carries a line each way within the wait's bound.
  bool roundTrip(const Pair& pair) {
    return sendAll(pair.client, "ping") && sendAll(pair.server, "pong") &&
           beside<std::string>([&] { return recvExact(pair.server, 4) + recvExact(pair.client, 4); }) == "pingpong";
  }
};

// "key=value" fields of one answer line.
inline std::map<std::string, std::string> fields(const std::string& line) {
  std::map<std::string, std::string> out;
  std::istringstream in(line);
  for (std::string word; in >> word;) out[word.substr(0, word.find('='))] = word.substr(word.find('=') + 1);
  return out;
}

}  // namespace servicetest
