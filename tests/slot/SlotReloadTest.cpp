// A slot set taking its file again while its pairs relay in this thread: listeners that trade
// ports, one whose new port another program holds, a file with a bad value, a section removed.
#include <string>

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

std::string carried(int from, int to, const std::string& line) {
  std::string got;
  if (!sendAll(from, line)) return got;
  waitUntil([&] { return (got += receive(to, line.size() - got.size(), 10ms)).size() == line.size(); }, 5s);
  return got;
}

bool bothWays(const Pair& pair, const std::string& line) {
  return carried(pair.client, pair.server, line) == line && carried(pair.server, pair.client, line + "!") == line + "!";
}

}  // namespace

TEST_F(SlotFixture, ReloadTradesPortsKeepsAListenerWhoseNewPortIsTakenAndChangesNothingForABadFile) {
  LogCapture log;
  LoopbackListener other, taken;
  const int pa = port, pb = freePort(), pc = freePort();
  writeFile(ini, slotSection(0, 1, pa, destination.port) + slotSection(1, 1, pb, destination.port) +
                     slotSection(2, 1, pc, destination.port));
  CSlotSet set(ini, nullptr);
  set.open();
  set.startAll([](CPortSlot&, const std::string&) { return true; });
  Pair first, second;
  open(first, pa, destination), open(second, pb, destination);
  ASSERT_TRUE(first.server >= 0 && second.server >= 0);

  // Slots 0 and 1 trade ports (1 also sends elsewhere); slot 2 wants a port that is taken.
  const std::string traded = slotSection(0, 1, pb, destination.port) + slotSection(1, 1, pa, other.port) +
                             slotSection(2, 1, taken.port, destination.port);
  writeFile(ini, traded);
  const CSlotSet::ReloadResult result = set.reload();
  ASSERT_TRUE(result.applied());
  EXPECT_EQ(result.summary.changed, (std::vector<int>{0, 1}));
  EXPECT_EQ(result.summary.refused, std::vector<int>{2});
  EXPECT_EQ(log.lines("ON拒否"),
            std::vector<std::string>{"TCP-PORT2 ON拒否 理由=Listenポート(" + std::to_string(taken.port) +
                                     ")を開けませんでした (Address already in use)"});
  EXPECT_TRUE(bothWays(first, "live on slot 0") && bothWays(second, "live on slot 1"));
  Pair onA, onB, onC;
  open(onA, pa, other), open(onB, pb, destination), open(onC, pc, destination);
  EXPECT_TRUE(onA.server >= 0 && onB.server >= 0) << "each took the other's port";
  EXPECT_GE(onC.server, 0) << "slot 2 keeps its old listener and destination";

  writeFile(ini, traded + "[TCP-PORT3]\nBUFFERSIZE=huge\n");
  const CSlotSet::ReloadResult bad = set.reload();
  EXPECT_EQ(bad.problems, std::vector<std::string>{"TCP-PORT3 の BUFFERSIZE=huge は無効な値です (1～65536)"});
  EXPECT_EQ(set.size(), 3);
  EXPECT_EQ(set[2].listenPort, pc);

  // Slots 1 and 2 go; the pair slot 1 relays lives until its client ends it, counted meanwhile.
  const std::string one = slotSection(0, 1, pb, destination.port);
  writeFile(ini, one);
  const CSlotSet::ReloadResult removed = set.reload();
  EXPECT_EQ(removed.summary.removed, (std::vector<int>{1, 2}));
  ASSERT_EQ(set.size(), 1);
  for (Pair* pair : {&onA, &onB, &onC}) closeFd(pair->client), closeFd(pair->server);
  EXPECT_TRUE(waitUntil([&] { return set.connectionsOpen() == 2; })) << set.connectionsOpen();
  EXPECT_TRUE(bothWays(second, "slot 1 has left the set"));
  closeFd(second.client);
  EXPECT_TRUE(waitUntil([&] { return waitPeerClosed(second.server, 10ms); }));
  closeFd(second.server);
  EXPECT_TRUE(waitUntil([&] { return set.connectionsOpen() == 1; }));
  EXPECT_FALSE(connectLoopback(pa, 200ms) >= 0 || connectLoopback(pc, 200ms) >= 0);
  EXPECT_EQ(readFile(ini), one) << "a reload only reads";
  set.shutdown();
}
