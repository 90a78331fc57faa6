// Faults switched through the control socket as a test suite drives them, while one connection
// runs: the delay set shows in that connection's own round trips on top of what they took
// before, goes again once cleared, and not a byte changes. The settings file is never written by
// it; a reload takes the file's fault keys live.
#include <algorithm>
#include <chrono>

#include "ServiceFixture.h"
#include "service/ControlClient.h"

using namespace servicetest;
using service::ControlAnswer;
using Lines = std::vector<std::string>;

namespace {

struct FaultControl : ServiceFixture {
  ControlAnswer ask(const std::string& request) {
    return beside<ControlAnswer>([&] { return service::askControl(socket, request, 5s); });
  }
  // The quickest of three round trips of a small message each way, in ms; each message arrives
  // as it was sent.
  double roundTripMs(const Pair& pair, char seed) {
    double best = 1e9;
    for (char i = 0; i < 3; ++i) {
      std::string up(64, '\0'), down(64, '\0');
      for (std::size_t b = 0; b < up.size(); ++b) up[b] = static_cast<char>(seed * 31 + i * 7 + b), down[b] = ~up[b];
      const auto [took, got] = beside<std::pair<double, std::string>>([&] {
        const auto t0 = std::chrono::steady_clock::now();
        std::string seen;
        if (sendAll(pair.client, up)) seen = recvExact(pair.server, up.size());
        if (sendAll(pair.server, down)) seen += recvExact(pair.client, down.size());
        return std::make_pair(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count(),
                              seen);
      });
      EXPECT_EQ(got, up + down);
      best = std::min(best, took);
    }
    return best;
  }
};

TEST_F(FaultControl, ALatencySwitchedOnAndClearedWhileAConnectionRunsChangesNoByteNorTheFile) {
  const std::string file = readFile(ini);
  Pair live = relayOnce(10, 10);
  const double base = roundTripMs(live, 1);

  ControlAnswer answer = ask("fault 0 latency=100 jitter=0 direction=down");
  ASSERT_TRUE(answer.ok) << answer.reason;
  EXPECT_EQ(answer.lines, (Lines{"up=", "down=latency=100"}));
  EXPECT_NEAR(roundTripMs(live, 2) - base, 100.0, 5.0) << "the path's own " << base << " ms";
  answer = ask("fault 0 limit_data=1000000 timeout=-1 direction=up");  // adds to what is set
  EXPECT_EQ(answer.lines, (Lines{"up=limit_data=1000000", "down=latency=100"}));
  EXPECT_EQ(ask("fault 0").lines, answer.lines);
  answer = ask("fault 0 clear direction=down");
  EXPECT_EQ(answer.lines, (Lines{"up=limit_data=1000000", "down="}));
  EXPECT_LT(roundTripMs(live, 3) - base, 50.0) << "the latency has gone";
  EXPECT_EQ(ask("fault 0 clear").lines, (Lines{"up=", "down="}));

  const std::pair<std::string, std::string> refused[] = {
      {"fault 0 latency=abc", "latency=abc は使えません (0～3600000)"},
      {"fault 0 speed=3 direction=up", "不明な障害です: speed"},
      {"fault 0 latency=5 direction=sideways", "direction=sideways は使えません (up、down、both)"},
      {"fault x latency=5", "使い方: fault N [障害 | clear]"},
      {"fault 3", "スロット 3 はありません (スロット数 3)"},
  };
  for (const auto& [request, reason] : refused) {
    answer = ask(request);
    EXPECT_EQ(std::make_pair(answer.ok, answer.reason), std::make_pair(false, reason)) << request;
  }
  EXPECT_TRUE(ask("fault 0").lines == (Lines{"up=", "down="})) << "a refused text changes nothing";
  EXPECT_EQ(readFile(ini), file) << "the control socket never writes the file";

  // The file's keys, reloaded, reach the running connection; a UDP slot has no faults.
  writeFile(ini, slotSection(0, 1, port, destination.port, "127.0.0.1", "FAULTDOWN=latency=100\n") +
                     slotSection(1, 0, spare, destination.port, "127.0.0.1", "PROTOCOL=UDP\n") +
                     slotSection(2, 0, 0, destination.port));
  const CSlotSet::ReloadResult reloaded = slots.reload();
  ASSERT_TRUE(reloaded.problems.empty()) << reloaded.problems.front();
  EXPECT_EQ(ask("fault 0").lines, (Lines{"up=", "down=latency=100"}));
  EXPECT_NEAR(roundTripMs(live, 4) - base, 100.0, 5.0);
  answer = ask("fault 1 latency=5");
  EXPECT_EQ(std::make_pair(answer.ok, answer.reason),
            std::make_pair(false, std::string("スロット 1 はUDPです。障害はTCPスロットにだけ設定できます")));
  close(live);
}

}  // namespace
