// The event log: time stamps, fan-out to sinks, the descriptor sink's batches, the lines' texts.
// (The ring of recent lines and its watcher are the log window's test.)
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <regex>

#include "TempDir.h"
#include "log/EventLog.h"
#include "log/FdSink.h"
#include "log/LogLines.h"
#include "log/LogRing.h"

using namespace std::chrono;

// The zone stays set: nothing else in this program reads the local time.
TEST(EventLog, StampsLocalTimeToTheMillisecondInTheZoneOfTheMoment) {
  const auto when = system_clock::time_point(seconds(1796605323) + milliseconds(45));  // 2026-12-07 01:02:03 UTC
  auto in = [](const char* zone, auto t) { return ::setenv("TZ", zone, 1), ::tzset(), evlog::localTimestamp(t); };
  EXPECT_EQ(in("UTC0", when), "2026-12-07 01:02:03.045");
  EXPECT_EQ(in("JST-9", when), "2026-12-07 10:02:03.045");  // the same second, formatted anew
  EXPECT_EQ(in("JST-9", when + milliseconds(999)), "2026-12-07 10:02:04.044");
}

TEST(EventLog, EverySinkGetsEachStampedLineOnce) {
  evlog::Ring ring, other;
  for (evlog::Ring* sink : {&ring, &ring, &other}) evlog::addSink(sink);  // the first once only
  evlog::post("line 1"), evlog::removeSink(&ring);
  evlog::post("line 2"), evlog::removeSink(&other);
  EXPECT_FALSE(evlog::enabled());  // so callers need not build their lines
  evlog::post("nobody listens");
  const std::regex stamped(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} line 1)");
  EXPECT_TRUE(ring.lines().size() == 1 && std::regex_match(ring.lines().front(), stamped)) << ring.lines().front();
  EXPECT_EQ(other.lines().size(), 2u);
}

// As the headless run uses it: a round's lines wait for its flush, a line longer than a pipe's
// atomic write goes out whole, the sink's end writes what it still holds, and a closed
// descriptor loses lines without hanging.
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
    batched.write(std::string(70000, 'y')), batched.flush();
    EXPECT_EQ(testsupport::readFile(path).size(), 16u + 70001u);
    batched.write("last");
  }
  EXPECT_EQ(testsupport::readFile(path).substr(16 + 70001), "last\n");
  ::close(fd);
  evlog::FdSink(-1).write("lost");  // flushed at its end, into an error
}

// The lines a slot's own tests do not show: an IPv6 destination in brackets, byte counts past
// 32 bits, durations over an hour, and a refused relay loop.
TEST(EventLog, LineTexts) {
  EXPECT_EQ(evlog::loopRefusedLine(0, "127.0.0.1", 40001), "TCP-PORT0 中継ループ拒否 接続元=127.0.0.1:40001");
  EXPECT_EQ(
      evlog::connectionEndLine({2, "127.0.0.2", 5555, "::1", 80, 5000000000ull, 7, 3723004ms, "クライアントが切断"}),
      "TCP-PORT2 接続終了 接続元=127.0.0.2:5555 転送先=[::1]:80 受信=5000000000 送信=7 "
      "時間=3723.004s 終了=クライアントが切断");
}
