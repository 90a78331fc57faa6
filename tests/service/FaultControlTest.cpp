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
  // The quickest of three round trips, in ms; each carries its bytes unchanged.
  double tripMs(const Pair& pair) {
    double best = 1e9;
    for (int i = 0; i < 3; ++i) {
      const auto t0 = std::chrono::steady_clock::now();
      EXPECT_TRUE(roundTrip(pair));
      best = std::min(best, std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count());
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
  EXPECT_EQ(ask("fault 0 clear").lines, (Lines{"up=", "down="}));
  EXPECT_LT(tripMs(live) - base, 50.0) << "the latency has gone";
  EXPECT_EQ(ask("fault 0 latency=abc").reason, "latency=abc は使えません (0～3600000)");
  EXPECT_EQ(readFile(ini), file) << "the control socket never writes the file";

  writeFile(ini, slotSection(0, 1, port, destination.port, "127.0.0.1", "FAULTDOWN=latency=100\n") +
                     slotSection(1, 0, spare, destination.port, "127.0.0.1", "PROTOCOL=UDP\n"));
  ASSERT_TRUE(slots.reload().applied());
  EXPECT_EQ(ask("fault 0").lines, (Lines{"up=", "down=latency=100"}));
  EXPECT_NEAR(tripMs(live) - base, 100.0, 5.0);
  EXPECT_EQ(ask("fault 1 latency=5").reason, "スロット 1 はUDPです。障害はTCPスロットにだけ設定できます");
  close(live);
}

}  // namespace
