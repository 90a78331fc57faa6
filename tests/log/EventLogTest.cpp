// The event log: time stamps, fan-out to sinks, the descriptor sink's batches, and every event in
// both shapes. (The ring of recent lines and its watcher are the log window's test.)
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <regex>

#include "TempDir.h"
#include "log/EventLog.h"
#include "log/FdSink.h"
#include "log/LogLines.h"
#include "log/LogRing.h"
#include "log/SlotNames.h"

using namespace std::chrono;

namespace {

const auto kWhen = system_clock::time_point(seconds(1796605323) + milliseconds(45));  // 2026-12-07 01:02:03 UTC

evlog::Record at(evlog::Record record) { return record.time = kWhen, record; }

void inZone(const char* zone) { ::setenv("TZ", zone, 1), ::tzset(); }

}  // namespace

TEST(EventLog, StampsLocalTimeToTheMillisecondInTheZoneOfTheMoment) {
  inZone("UTC0");
  EXPECT_EQ(evlog::localTimestamp(kWhen), "2026-12-07 01:02:03.045");
  inZone("JST-9");  // the same second, formatted anew
  EXPECT_EQ(evlog::localTimestamp(kWhen), "2026-12-07 10:02:03.045");
  EXPECT_EQ(evlog::isoTimestamp(kWhen + milliseconds(999)), "2026-12-07T10:02:04.044+09:00");
  inZone("<-0330>3:30");
  EXPECT_EQ(evlog::isoTimestamp(kWhen), "2026-12-06T21:32:03.045-03:30");
}

TEST(EventLog, EverySinkGetsEachStampedLineOnce) {
  evlog::Ring ring, other;
  for (evlog::Ring* sink : {&ring, &ring, &other}) evlog::addSink(sink);  // the first once only
  evlog::post("line 1"), evlog::removeSink(&ring);
  evlog::post("line 2"), evlog::removeSink(&other);
  EXPECT_FALSE(evlog::enabled());  // so callers need not build their lines
  evlog::post("nobody listens");
  const std::regex stamped(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} RelvaneTiv 通知 内容="line 1")");
  EXPECT_TRUE(ring.lines().size() == 1 && std::regex_match(ring.lines().front(), stamped)) << ring.lines().front();
  EXPECT_EQ(other.lines().size(), 2u);
}

// As the headless run uses it: a round's lines wait for its flush, a line longer than a pipe's
// atomic write goes out whole, the sink's end writes what it still holds, and a closed
// descriptor loses lines without hanging.
TEST(EventLog, BatchedDescriptorSinkWritesWholeLines) {
  inZone("UTC0");
  testsupport::TempDir dir;
  const std::string path = (dir / "batched").string();
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
  ASSERT_GE(fd, 0);
  const std::string stamp = "2026-12-07 01:02:03.045 ";
  {
    evlog::FdSink batched(fd);
    batched.write(at(evlog::stoppedLine(1))), batched.write(at(evlog::stoppedLine(2)));
    EXPECT_EQ(testsupport::readFile(path), "");
    batched.flush();
    EXPECT_EQ(testsupport::readFile(path), stamp + "TCP-PORT1 停止\n" + stamp + "TCP-PORT2 停止\n");
    batched.write(at(evlog::messageLine(std::string(70000, 'y')))), batched.flush();
    EXPECT_EQ(testsupport::readFile(path).size(), 2 * 41u + 70050u);
    batched.write(at(evlog::stoppedLine(3)));
  }
  EXPECT_EQ(testsupport::readFile(path).substr(2 * 41 + 70050), stamp + "TCP-PORT3 停止\n");
  ::close(fd);
  evlog::FdSink(-1).write(evlog::stoppedLine(0));  // flushed at its end, into an error
}

namespace {

// One of each event; the refusal's reason holds what could break a line or a JSON string.
const std::string kHostile = std::string("a \"b\"\\\n\t\x01\xff\xe3\x81") + "あ";

std::vector<evlog::Record> everyEvent() {
  evlog::ConnectionEnd ended{
      2, "127.0.0.2", 5555, "::1", 80, 5000000000ull, 7, 3723004ms, "connect_failed", "接続失敗", "Connection refused"};
  return {evlog::startLine("1.2.0", "/etc/relvanetiv/RelvaneTiv.ini", 3, 2),
          evlog::listeningLine(0, "0.0.0.0", 10080, "example.test", 80),
          evlog::stoppedLine(0),
          evlog::switchOnRefusedLine(1, kHostile),
          evlog::peerRefusedLine(0, "127.0.0.3", 40000),
          evlog::loopRefusedLine(0, "127.0.0.1", 40001),
          evlog::connectionOpenLine({2, "127.0.0.2", 5555, "::1", 80}),
          evlog::connectionEndLine(ended),
          evlog::problemLine(1, "TCP-PORT1 の PORT=-1 は無効な値です (0～65535)"),
          evlog::saveFailedLine("/x.ini", "設定を保存できませんでした"),
          evlog::startRefusedLine("/x.ini", "     既に起動されています.     "),
          evlog::settingsCopiedLine("/x.ini", "コピーしました"),
          evlog::linesDroppedLine(12),
          evlog::messageLine("")};
}

// What a log shipper reads (the file strictly UTF-8, each line's priority and object): each
// line's event and its sorted keys, and the hostile reason again.
std::string parsedBack(const testsupport::TempDir& dir, const std::string& path) {
  const std::string script = (dir / "parse.py").string();
  testsupport::writeFile(script,
                         "import json,sys\n"
                         "for line in open(sys.argv[1], encoding='utf-8', errors='strict'):\n"
                         "  o = json.loads(line[3:])\n"
                         "  print(line[1], o['event'], ','.join(sorted(o)), json.dumps(o.get('reason', '')))\n");
  FILE* run = ::popen(("python3 " + script + " " + path + " 2>&1").c_str(), "r");
  std::string out;
  if (!run) return out;
  char buffer[4096];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, run)) > 0;) out.append(buffer, n);
  ::pclose(run);
  return out;
}

}  // namespace

// Every event in both shapes. Text: one line each, the slot or the program, the event, then
// key=value tokens, a value with anything that would split or break it quoted and escaped. JSON
// on the journal's stream: the priority in front, then an object a JSON parser takes back.
TEST(EventLog, EveryEventInTheTextShapeAndAsJsonOnTheJournal) {
  inZone("UTC0");
  testsupport::TempDir dir;
  const std::string textPath = (dir / "text").string(), jsonPath = (dir / "json").string();
  const int textFd = ::open(textPath.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
  const int jsonFd = ::open(jsonPath.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
  struct stat st {};
  ASSERT_TRUE(textFd >= 0 && jsonFd >= 0 && ::fstat(jsonFd, &st) == 0);
  ::setenv("JOURNAL_STREAM", (std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino)).c_str(), 1);
  {
    evlog::FdSink text(textFd), json(jsonFd);
    json.setFormat(evlog::Format::Json);
    for (const evlog::Record& record : everyEvent()) text.write(at(record)), json.write(at(record));
  }
  ::unsetenv("JOURNAL_STREAM"), ::close(textFd), ::close(jsonFd);

  const std::string text = testsupport::readFile(textPath);
  const std::regex shape(
      R"(2026-12-07 01:02:03\.045 (TCP-PORT\d|RelvaneTiv) \S+( [^ =]+=([^ "\\\n]+|"([^"\\\n]|\\.)*"))*\n)");
  EXPECT_EQ(std::distance(std::sregex_iterator(text.begin(), text.end(), shape), {}), 14) << text;
  for (const char* expected :
       {" TCP-PORT1 ON拒否 理由=\"a \\\"b\\\"\\\\\\n\\t\\x01\\xff\\xe3\\x81あ\"\n",
        " TCP-PORT2 接続終了 接続元=127.0.0.2:5555 転送先=[::1]:80 受信=5000000000 送信=7 時間=3723.004s "
        "終了=接続失敗 理由=\"Connection refused\"\n",
        " RelvaneTiv 起動 版=1.2.0 設定=/etc/relvanetiv/RelvaneTiv.ini スロット数=3 起動数=2\n",
        " RelvaneTiv 起動拒否 設定=/x.ini 内容=\"     既に起動されています.     \"\n", " RelvaneTiv 通知 内容=\"\"\n"})
    EXPECT_NE(text.find(expected), std::string::npos) << expected << "\n" << text;

  EXPECT_EQ(
      parsedBack(dir, jsonPath),
      "5 start event,file,level,slots,started,time,version \"\"\n"
      "5 listening destination,event,level,listen,slot,time \"\"\n"
      "5 stopped event,level,slot,time \"\"\n"
      "4 switch_on_refused event,level,reason,slot,time \"a \\\"b\\\"\\\\\\n\\t\\u0001\\ufffd\\ufffd\\ufffd\\u3042\"\n"
      "4 peer_refused client,event,level,slot,time \"\"\n"
      "4 loop_refused client,event,level,slot,time \"\"\n"
      "6 connection_open client,destination,event,level,slot,time \"\"\n"
      "4 connection_end client,destination,duration_ms,end,event,level,reason,received,sent,slot,time "
      "\"Connection refused\"\n"
      "4 problem event,level,message,slot,time \"\"\n"
      "3 save_failed event,file,level,message,time \"\"\n"
      "3 start_refused event,file,level,message,time \"\"\n"
      "5 settings_copied event,file,level,message,time \"\"\n"
      "4 lines_dropped count,event,level,time \"\"\n"
      "5 message event,level,message,time \"\"\n");
  EXPECT_NE(testsupport::readFile(jsonPath).find(R"("received":5000000000,"sent":7,"duration_ms":3723004,)"),
            std::string::npos);
}

// A named slot's lines carry its name in both shapes; a slot going away forgets only a number
// that is still its own.
TEST(EventLog, ANamedSlotsLinesCarryItsNameUntilItsOwnerForgetsIt) {
  int owner = 0, later = 0;
  evlog::setSlotName(3, &owner, "db \"main\"");
  const evlog::Record stopped = evlog::stoppedLine(3);
  EXPECT_TRUE(evlog::textLine(stopped).ends_with(" TCP-PORT3 停止 名前=\"db \\\"main\\\"\""));
  EXPECT_TRUE(evlog::jsonLine(stopped).ends_with(",\"slot\":3,\"name\":\"db \\\"main\\\"\"}"));
  evlog::setSlotName(3, &later, "moved");
  evlog::forgetSlotName(3, &owner);
  EXPECT_EQ(evlog::slotName(3), "moved");
  evlog::forgetSlotName(3, &later);
  EXPECT_EQ(evlog::slotName(3), "");
}
