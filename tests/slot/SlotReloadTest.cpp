// A slot set taking its file again while its pairs relay in this thread: listeners that trade
// ports, and one whose new port another program holds. (A bad file and removed sections: the
// program-run reload test.)
#include "SlotFixture.h"
#include "slot/SlotSet.h"

using namespace slottest;

namespace {

struct Pair {
  int client = -1, server = -1;
  ~Pair() { closeFd(client), closeFd(server); }
};

// A client of `port` and the end of it that reached `to`, the relay served meanwhile.
void open(Pair& pair, int port, const LoopbackListener& to) {
  pair.client = connectLoopback(port, 1s);
  waitUntil([&] { return pair.client < 0 || (pair.server = to.acceptOne(10ms)) >= 0; }, 5s);
}

}  // namespace

TEST_F(SlotFixture, ReloadTradesPortsAndKeepsTheListenerOfASlotWhoseNewPortIsTaken) {
  LogCapture log;
  LoopbackListener other, taken;
  const int pa = port, pb = freePort(), pc = freePort();
  writeFile(ini, slotSection(0, 1, pa, destination.port) + slotSection(1, 1, pb, destination.port) +
                     slotSection(2, 1, pc, destination.port));
  CSlotSet set(ini, nullptr);
  set.open();
  set.startAll([](CPortSlot&, const std::string&) { return true; });
  Pair live;
  open(live, pa, destination);
  ASSERT_GE(live.server, 0);

  // Slots 0 and 1 trade ports (1 also sends elsewhere); slot 2 wants a port that is taken.
  const std::string traded = slotSection(0, 1, pb, destination.port) + slotSection(1, 1, pa, other.port) +
                             slotSection(2, 1, taken.port, destination.port);
  writeFile(ini, traded);
  const CSlotSet::ReloadResult result = set.reload();
  ASSERT_TRUE(result.applied());
  EXPECT_EQ(result.summary.changed, (std::vector<int>{0, 1}));
  EXPECT_EQ(result.summary.refused, std::vector<int>{2});
  EXPECT_EQ(log.lines("ON拒否"),
            std::vector<std::string>{"TCP-PORT2 ON拒否 理由=\"Listenポート(" + std::to_string(taken.port) +
                                     ")を開けませんでした (Address already in use)\""});
  EXPECT_TRUE(waitUntil([&] { return set.connectionsOpen() == 1; })) << "slot 0's pair outlives its listener";
  Pair onA, onB, onC;
  open(onA, pa, other), open(onB, pb, destination), open(onC, pc, destination);
  // Each took the other's port; slot 2 keeps its old listener and destination.
  EXPECT_TRUE(onA.server >= 0 && onB.server >= 0 && onC.server >= 0);

  set.shutdown();
}
