// Faults switched through the control socket as a test suite drives them, while one connection
// runs: the delay set shows in that connection's round trips on top of what they took before and
// goes once cleared, no byte changes, and the settings file is never written; a reload takes the
// file's fault keys live.
#include <algorithm>

#include "ServiceFixture.h"
#include "service/ControlClient.h"

using namespace servicetest;
using Lines = std::vector<std::string>;

namespace {

struct FaultControl : ServiceFixture {
  service::ControlAnswer ask(const std::string& request) {
    return beside<service::ControlAnswer>([&] { return service::askControl(socket, request, 5s); });
  }
  // The quickest of three round trips, in ms, each carrying its bytes unchanged; timed where
  // the bytes arrive, as the loop's thread sees them only at its next look.
  double tripMs(const Pair& pair) {
    using Clock = std::chrono::steady_clock;
    using Arrival = std::pair<std::string, Clock::time_point>;
    double best = 1e9;
    for (int i = 0; i < 3; ++i) {
      const auto t0 = Clock::now();
      EXPECT_TRUE(sendAll(pair.client, "ping") && sendAll(pair.server, "pong"));
      const Arrival got = beside<Arrival>([&] {
        std::string bytes = recvExact(pair.server, 4) + recvExact(pair.client, 4);
        return Arrival{bytes, Clock::now()};
      });
      EXPECT_EQ(got.first, "pingpong");
      best = std::min(best, std::chrono::duration<double, std::milli>(got.second - t0).count());
    }
    return best;
  }
};

TEST_F(FaultControl, ALatencySwitchedOnAndClearedWhileAConnectionRunsChangesNoByteNorTheFile) {
  const std::string file = readFile(ini);
  Pair live = relayOnce(10, 10);
  const double base = tripMs(live);
  EXPECT_EQ(ask("fault 0 latency=100 direction=down").lines, (Lines{"up=", "down=latency=100"}));
  EXPECT_NEAR(tripMs(live) - base, 100.0, 5.0) << "the path's own " << base << " ms";
  EXPECT_EQ(ask("fault 0 slice=9 direction=up").lines, (Lines{"up=slice=9", "down=latency=100"}));
  EXPECT_EQ(ask("fault 0 clear direction=up").lines, (Lines{"up=", "down=latency=100"}));
  for (const char* bad : {"latency=-1", "speed=3", "direction=sideways", "latency"})  // a bad line changes nothing
    EXPECT_FALSE(ask("fault 0 bandwidth=64 " + std::string(bad)).ok) << bad;
  EXPECT_EQ(ask("fault 0").lines, (Lines{"up=", "down=latency=100"}));
  EXPECT_EQ(ask("fault 0 clear").lines, (Lines{"up=", "down="}));
  const double cleared = tripMs(live);  // the path's own again, measured as close as may be to the next
  EXPECT_LT(cleared - base, 50.0) << "the latency has gone";
  EXPECT_EQ(ask("fault 0 latency=abc").reason, "latency=abc は使えません (0～3600000)");
  EXPECT_EQ(readFile(ini), file) << "the control socket never writes the file";

  writeFile(ini, slotSection(0, 1, port, destination.port, "127.0.0.1", "FAULTDOWN=latency=100\n") +
                     slotSection(1, 0, spare, destination.port, "127.0.0.1", "PROTOCOL=UDP\n"));
  ASSERT_TRUE(slots.reload().applied());
  EXPECT_EQ(ask("fault 0").lines, (Lines{"up=", "down=latency=100"}));
  EXPECT_NEAR(tripMs(live) - std::min(base, cleared), 100.0, 5.0);
  EXPECT_EQ(ask("fault 1 latency=5").reason, "スロット 1 はUDPです。障害はTCPスロットにだけ設定できます");
  close(live);
}

}  // namespace
