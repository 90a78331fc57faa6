// A hand-edited file never opens more than it says: values that are not plainly right are named
// and not used, and sections the slots do not use are named and left as they are. Real files in
// a temp directory, real sockets on loopback (127.0.0.2 stands in for a foreign peer).
#include "SlotFixture.h"
#include "slot/SlotSet.h"

using namespace slottest;

namespace {

using Strict = SlotFixture;
const std::string kBad = " は無効な値です ", kTwice = " が2回以上書かれています (最初の値を使います)";

// Each case: keys written before a valid switched-on section (the first of a name is the one
// read), the refusal, the problems named (without "TCP-PORT0 の ").
TEST_F(Strict, AValueThatIsNotPlainlyRightIsNamedAndNeverOpensTheSlotWider) {
  const std::string p = std::to_string(port), off = "OFFのまま設定を見直して下さい";
  const struct {
    std::string keys, refusal;
    std::vector<std::string> named;
  } cases[] = {
      {"FILTER=3x\n", "フィルタ設定 FILTER=3x" + kBad + "(0～3)。" + off, {"FILTER=3x" + kBad + "(0～3)"}},
      {"FILTER=l\n", "フィルタ設定 FILTER=l" + kBad + "(0～3)。" + off, {"FILTER=l" + kBad + "(0～3)"}},
      {"FILTER=7\n", "フィルタ設定 FILTER=7" + kBad + "(0～3)。" + off, {"FILTER=7" + kBad + "(0～3)"}},
      {"FILTER=3\nALLOW0=10.1.2.3/\n", "許可ルール「10.1.2.3/」を解釈できません。" + off, {}},
      {"PORT=" + p + "x\n", CPortSlot::kListenPortInvalid, {"PORT=" + p + "x" + kBad + "(0～65535)", "PORT" + kTwice}},
      {"FORWARDPORT=-1\n",
       CPortSlot::kForwardPortInvalid,
       {"FORWARDPORT=-1" + kBad + "(0～65535)", "FORWARDPORT" + kTwice}},
      {"ACT=yes\nBUFFERSIZE=12k\nCONNECTTIMEOUT=abc\nHALFCLOSETIMEOUT=86401\n",
       "",
       {"ACT=yes" + kBad + "(0～1)", "BUFFERSIZE=12k" + kBad + "(1～65536)", "CONNECTTIMEOUT=abc" + kBad + "(0～86400)",
        "HALFCLOSETIMEOUT=86401" + kBad + "(0～86400)", "ACT" + kTwice}}};
  for (const auto& c : cases) {
    const std::string file = "[TCP-PORT0]\n" + c.keys + section(1, "127.0.0.1").substr(12);
    writeFile(ini, file);
    EXPECT_EQ(slot.startSlot(), c.refusal) << c.keys;
    for (std::string& problem : slot.problems) problem.erase(0, std::string("TCP-PORT0 の ").size());
    EXPECT_EQ(slot.problems, c.named);
    EXPECT_FALSE(slot.started()) << c.keys;
    EXPECT_EQ(std::tie(slot.bufferSize, slot.connectTimeout, slot.halfCloseTimeout), std::make_tuple(128, 30, 600));
    slot.shutdownSlot();
    EXPECT_EQ(readFile(ini), file) << "nothing is written while the user changed nothing";
  }
  writeFile(ini, section(1, "127.0.0.1", "FILTER=03\nALLOW1=127.0.0.0/8\nDENY1=127.0.0.2\n"));
  ASSERT_EQ(slot.startSlot(), "");  // rules after a gap count: one peer is served, the other refused
  int served = connectLoopback(port, 2s, "127.0.0.1", "127.0.0.3"),
      refused = connectLoopback(port, 2s, "127.0.0.1", "127.0.0.2");
  EXPECT_TRUE(waitUntil([&] { return slot.connectionCount == 1 && slot.totals().refused == 1; }));
  bool closed = false;
  EXPECT_EQ(recvUntilEof(refused, 2s, &closed), "") << "a refused peer gets no byte";
  int server = destination.acceptOne(2s);
  EXPECT_TRUE(closed && server >= 0 && destination.acceptOne(200ms) < 0) << "one onward connection: the served one";
  closeFd(served), closeFd(refused), closeFd(server);
}

// The set reads the file once, at open: the slots start from that reading.
TEST_F(Strict, SectionsTheSlotsDoNotUseAreNamedAndAFileWithProblemsStaysAsItIs) {
  std::string more;
  for (int i = 1; i <= 30; ++i) more += slotSection(i, 0, 0, 0);
  const std::string on = section(1, "127.0.0.1");
  const struct {
    std::string file;
    std::vector<std::string> named;
    int slots;
  } cases[] = {{on + "[TCP-PORT1]\n[TCP-PORT3]\n[tcp-port1]\n[TCP-PORT01]\n",
                {"TCP-PORT3 は使われていません (TCP-PORT2 がないため)",
                 "tcp-port1 は使われていません (同じ名前のセクションが先にあります)",
                 "TCP-PORT01 は使われていません (スロットの番号として読めません)"},
                2},
               {on + more, {"TCP-PORT30 は使われていません (スロットは 30 個までです)"}, 30},
               {"[TCP-PORT1]\n" + on.substr(12), {"TCP-PORT1 は使われていません (TCP-PORT0 がないため)"}, 1}};
  for (const auto& c : cases) {
    writeFile(ini, c.file);
    CSlotSet set(ini, nullptr);
    set.open();
    std::filesystem::remove(ini);
    set.startAll([](CPortSlot&, const std::string&) { return true; });
    EXPECT_FALSE(std::filesystem::exists(ini)) << "a file with problems gets no section at launch";
    EXPECT_EQ(std::make_tuple(set.problems(), set.size()), std::make_tuple(c.named, c.slots));
    EXPECT_EQ(set[0].started(), c.slots > 1) << "slot 0 as read at open; an unused section opens no port";
    writeFile(ini, c.file);
    set.shutdown();
    EXPECT_EQ(readFile(ini), c.file);
  }
}

}  // namespace
