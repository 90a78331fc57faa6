// The event log: time stamps, fan-out to sinks, the ring of recent lines, the lines' texts.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <optional>
#include <regex>

#include "TempDir.h"
#include "log/EventLog.h"
#include "log/FdSink.h"
#include "log/LogLines.h"
#include "log/LogRing.h"

using namespace std::chrono;

namespace {

struct Collect : evlog::RingWatcher {
  std::vector<std::string> seen;
  void lineAdded(const std::string& line) override { seen.push_back(line); }
};

// The test's own time zone while alive; the process's own back afterwards.
struct ZoneGuard {
  std::optional<std::string> saved;
  explicit ZoneGuard(const char* zone) {
    if (const char* old = std::getenv("TZ")) saved = old;
    ::setenv("TZ", zone, 1), ::tzset();
  }
  ~ZoneGuard() { saved ? ::setenv("TZ", saved->c_str(), 1) : ::unsetenv("TZ"), ::tzset(); }
};

}  // namespace

TEST(EventLog, StampsLocalTimeToTheMillisecond) {
  const auto when = system_clock::time_point(seconds(1796605323) + milliseconds(45));  // 2026-12-07 01:02:03 UTC
  {
    ZoneGuard utc("UTC0");
    EXPECT_EQ(evlog::localTimestamp(when), "2026-12-07 01:02:03.045");
  }
  ZoneGuard tokyo("JST-9");
  EXPECT_EQ(evlog::localTimestamp(when), "2026-12-07 10:02:03.045");
  EXPECT_EQ(evlog::localTimestamp(when + milliseconds(999)), "2026-12-07 10:02:04.044");
}

TEST(EventLog, EverySinkGetsEachStampedLineAndTheRingKeepsTheNewest) {
  EXPECT_FALSE(evlog::enabled());
  evlog::post("nobody listens");  // must not crash or be kept anywhere

  evlog::Ring ring(3), other;
  Collect watcher;
  ring.setWatcher(&watcher);
  evlog::addSink(&ring);
  evlog::addSink(&ring);  // once only
  evlog::addSink(&other);
  EXPECT_TRUE(evlog::enabled());
  for (int i = 1; i <= 5; ++i) evlog::post("line " + std::to_string(i));
  evlog::removeSink(&ring);
  evlog::post("line 6");
  evlog::removeSink(&other);
  EXPECT_FALSE(evlog::enabled());

  ASSERT_EQ(ring.lines().size(), 3u);
  const std::regex stamped(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} line 5)");
  EXPECT_TRUE(std::regex_match(ring.lines().back(), stamped)) << ring.lines().back();
  EXPECT_EQ(ring.lines().front().substr(24), "line 3");
  EXPECT_EQ(watcher.seen.size(), 5u);
  EXPECT_EQ(other.lines().size(), 6u);
}

// As the headless run uses it: a round's lines wait for its flush, a round that logs a lot
// writes early, the sink's end writes what it still holds, and a closed descriptor loses lines
// without hanging.
TEST(EventLog, BatchedDescriptorSinkWritesWholeLines) {
  testsupport::TempDir dir;
  const std::string path = (dir / "batched").string();
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
  ASSERT_GE(fd, 0);
  {
    evlog::FdSink batched(fd);
    batched.write("一行目 a=1"), batched.write("b");
    EXPECT_EQ(testsupport::readFile(path), "");
    batched.flush();
    EXPECT_EQ(testsupport::readFile(path), "一行目 a=1\nb\n");
    batched.write(std::string(70000, 'y'));
    EXPECT_EQ(testsupport::readFile(path).size(), 16u + 70001u);
    batched.write("last");
  }
  EXPECT_EQ(testsupport::readFile(path).substr(16 + 70001), "last\n");
  evlog::FdSink closed(fd);
  ::close(fd);
  closed.write("after close"), closed.flush();
  EXPECT_EQ(testsupport::readFile(path).size(), 16u + 70001u + 5u);
}

// The lines a slot's own tests do not show: an IPv6 destination in brackets, byte counts past
// 32 bits, durations over an hour, and a refused relay loop.
TEST(EventLog, LineTexts) {
  EXPECT_EQ(evlog::loopRefusedLine(0, "127.0.0.1", 40001), "TCP-PORT0 中継ループ拒否 接続元=127.0.0.1:40001");
  evlog::ConnectionEnd end;
  end.slot = 2, end.clientAddress = "127.0.0.2", end.clientPort = 5555;
  end.destinationAddress = "::1", end.destinationPort = 80;
  end.fromClient = 5000000000ull, end.toClient = 7, end.duration = milliseconds(3723004);
  end.ending = "クライアントが切断";
  EXPECT_EQ(evlog::connectionEndLine(end),
            "TCP-PORT2 接続終了 接続元=127.0.0.2:5555 転送先=[::1]:80 受信=5000000000 送信=7 "
            "時間=3723.004s 終了=クライアントが切断");
}
