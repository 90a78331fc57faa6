// A hand-edited file never opens more than it says: values that are not plainly right are named
// and not used, and sections the slots do not use are named and left as they are. Real files in
// a temp directory, real sockets on loopback (127.0.0.2 stands in for a foreign peer).
#include "SlotFixture.h"
#include "slot/GlobalSettings.h"
#include "slot/IniDocument.h"
#include "slot/SlotSet.h"

using namespace slottest;

namespace {

using Strict = SlotFixture;
const std::string kBad = " は無効な値です ", kTwice = " が2回以上書かれています (最初の値を使います)";

// Each case: the file (keys before a valid switched-on section: the first of a name is the one
// read), the refusal, the problems named (without "TCP-PORT0 の "). A refusal at launch is not the
// user switching off; the listen port's refusals come from the self-check, before any bind.
TEST_F(Strict, AValueThatIsNotPlainlyRightIsNamedAndNeverOpensTheSlotWider) {
  LoopbackListener taken;  // a listen port that another socket holds
  const std::string p = std::to_string(port), held = std::to_string(taken.port), fix = "OFFのまま設定を見直して下さい";
  auto keys = [&](const std::string& more) { return "[TCP-PORT0]\n" + more + section(1).substr(12); };
  auto self = [&](const char* host) {
    return "[TCP-PORT0]\nACT=1\nPORT=" + held + "\nFORWARDHOST=" + host + "\nFORWARDPORT=" + held + "\n";
  };
  const std::string itself = "転送先がこのスロット自身のListenポートです", unread = "」を解釈できません。" + fix;
  const std::string noPort = "転送先ポート番号が無効な設定です";
  const struct {
    std::string file, refusal;
    std::vector<std::string> named;
  } cases[] = {
      {keys("FILTER=3x\n"), "フィルタ設定 FILTER=3x" + kBad + "(0～3)。" + fix, {"FILTER=3x" + kBad + "(0～3)"}},
      {keys("FILTER=l\n"), "フィルタ設定 FILTER=l" + kBad + "(0～3)。" + fix, {"FILTER=l" + kBad + "(0～3)"}},
      {keys("FILTER=7\n"), "フィルタ設定 FILTER=7" + kBad + "(0～3)。" + fix, {"FILTER=7" + kBad + "(0～3)"}},
      {keys("PORT=" + p + "x\n"),
       CPortSlot::kListenPortInvalid,
       {"PORT=" + p + "x" + kBad + "(0～65535)", "PORT" + kTwice}},
      {keys("FORWARDPORT=-1\n"),
       CPortSlot::kForwardPortInvalid,
       {"FORWARDPORT=-1" + kBad + "(0～65535)", "FORWARDPORT" + kTwice}},
      {keys("ACT=yes\nBUFFERSIZE=12k\nCONNECTTIMEOUT=abc\nHALFCLOSETIMEOUT=86401\nCAPTURE=on\nCAPTUREKB=0\n"
            "CAPTUREMB=4097\nCAPTUREFILE=logs/\nCAPTUREFILEMB=1.5\n"),
       "",
       {"ACT=yes" + kBad + "(0～1)", "BUFFERSIZE=12k" + kBad + "(1～65536)", "CONNECTTIMEOUT=abc" + kBad + "(0～86400)",
        "HALFCLOSETIMEOUT=86401" + kBad + "(0～86400)", "CAPTURE=on" + kBad + "(0～1)",
        "CAPTUREKB=0" + kBad + "(1～1048576)", "CAPTUREMB=4097" + kBad + "(1～4096)",
        "CAPTUREFILEMB=1.5" + kBad + "(1～4096)", "CAPTUREFILE=logs/" + kBad + "(ファイルのパス)", "ACT" + kTwice}},
      {"[TCP-PORT0]\nACT=1\nPORT=8080\n", noPort, {}},
      {"[TCP-PORT0]\nACT=1\nPORT=8080\nFORWARDHOST=\n", noPort, {"ACT=1 ですが FORWARDHOST が空です"}},
      {self("127.0.0.2"), itself, {}},
      {self("LocalHost"), itself, {}},
      {section(1, "FILTER=3\nALLOW0=127.0.0.1\nALLOW1=10.0.0.0/33\n"), "許可ルール「10.0.0.0/33" + unread, {}},
      {section(1, "FILTER=3\nALLOW0=0.0.0.0/0\nDENY0=localhost\n"), "拒否ルール「localhost" + unread, {}},
      {section(1, "LISTENHOST=192.0.2.1\n"), "待ち受けアドレス「192.0.2.1」はこのPCのアドレスではありません", {}},
      {section(1, "LISTENHOST=db.example\n"), "待ち受けアドレス「db.example」はこのPCのアドレスではありません", {}},
      {keys("FORWARD2=db:0\nMAXCONN=2x\n"),
       "設定 FORWARD2=db:0" + kBad.substr(0, kBad.size() - 1) + "。" + fix,
       {"FORWARD2=db:0" + kBad + "(host:port)", "MAXCONN=2x" + kBad + "(0～1000000)"}},
      {keys("SENDPROXY=3\nACCEPTPROXY=on\nIDLETIMEOUT=1h\n"),
       "設定 SENDPROXY=3" + kBad.substr(0, kBad.size() - 1) + "。" + fix,
       {"SENDPROXY=3" + kBad + "(0～2)", "ACCEPTPROXY=on" + kBad + "(0～1)", "IDLETIMEOUT=1h" + kBad + "(0～86400)"}},
      {section(1, "FORWARD1=127.0.0.1:" + p + "\n"), itself, {}},
      {section(1, "SOURCEADDRESS=192.0.2.1\n"), "送信元アドレス「192.0.2.1」はこのPCのアドレスではありません", {}},
      {keys("PROTOCOL=udp\nUDPTIMEOUT=0\n"),
       "設定 PROTOCOL=udp" + kBad.substr(0, kBad.size() - 1) + "。" + fix,
       {"PROTOCOL=udp" + kBad + "(TCP または UDP)", "UDPTIMEOUT=0" + kBad + "(1～86400)"}}};
  for (const auto& c : cases) {
    writeFile(ini, c.file);
    EXPECT_EQ(slot.startSlot(), c.refusal) << c.file;
    for (std::string& problem : slot.problems) problem.erase(0, std::string("TCP-PORT0 の ").size());
    EXPECT_EQ(slot.problems, c.named) << c.file;
    EXPECT_EQ(std::make_tuple(slot.act, slot.started(), slot.bufferSize, slot.connectTimeout, slot.halfCloseTimeout,
                              slot.capturing()),
              std::make_tuple(0, false, 128, 30, 600, false))
        << c.file;
    slot.shutdownSlot();
    EXPECT_EQ(readFile(ini), c.file) << "nothing is written while the user changed nothing";
  }
}

// The set reads the file once, at open: the slots start from that reading.
TEST_F(Strict, SectionsTheSlotsDoNotUseAreNamedAndAFileWithProblemsStaysAsItIs) {
  std::string more;
  for (int i = 1; i <= 30; ++i) more += slotSection(i, 0, 0, 0);
  const std::string on = section(1);
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
    EXPECT_TRUE(c.slots < 30 || !set.addSlot()) << "a full set adds none";
    writeFile(ini, c.file);
    set.shutdown();
    EXPECT_EQ(readFile(ini), c.file);
  }
}

}  // namespace

// The program's own section: present keys read strictly, absent ones leave everything as before.
TEST(GlobalSection, KeysAreReadOnlyWhenRightAndNamedOtherwise) {
  const GlobalSettings none = readGlobalSettings(ini::Document::parse("[TCP-PORT0]\nACT=1\n"));
  EXPECT_TRUE(none.metricsAddress.empty() && !none.logFormatSet && none.problems.empty());

  const GlobalSettings good =
      readGlobalSettings(ini::Document::parse("[global]\nMETRICS=[::1]:9464\nLOGFORMAT=JSON\n"));
  EXPECT_EQ(good.metricsAddress, "::1");
  EXPECT_EQ(good.metricsPort, 9464);
  EXPECT_TRUE(good.logFormatSet && good.logFormat == GlobalSettings::LogFormat::Json);
  EXPECT_TRUE(good.problems.empty());

  for (const char* metrics : {"127.0.0.1", "127.0.0.1:0", "127.0.0.1:65536", "localhost:9464", "::1:9464",
                              "[127.0.0.1]:9464", "127.0.0.1:94x", "[::1]:"}) {
    const GlobalSettings bad =
        readGlobalSettings(ini::Document::parse(std::string("[GLOBAL]\nMETRICS=") + metrics + "\nLOGFORMAT=xml\n"));
    EXPECT_TRUE(bad.metricsAddress.empty() && !bad.logFormatSet) << metrics;
    ASSERT_EQ(bad.problems.size(), 2u) << metrics;
    EXPECT_NE(bad.problems[0].find(std::string("METRICS=") + metrics), std::string::npos) << bad.problems[0];
  }
}

// Keys whose default opens nothing wider fall back to it and the slot switches on (a reload that
// changes the new keys is in MetricsTest.cpp). No fault is the safe side: an invalid direction
// has none, the valid one is read.
TEST_F(Strict, NewKeysWhoseDefaultOpensNothingWiderFallBack) {
  writeFile(ini, section(1,
                         "BALANCE=3\nRETRYDOWN=x\nCHECKINTERVAL=1.5\nKEEPALIVE=-1\nFAULTUP=latency=9 direction=up\n"
                         "FAULTDOWN=latency=50 jitter=5\n"));
  EXPECT_TRUE(slot.startSlot().empty() && slot.started() && slot.problems.size() == 5u);
  EXPECT_EQ(slot.problems[4],
            "TCP-PORT0 の FAULTUP=latency=9 direction=up は無効な値です (direction と clear は書けません)");
  EXPECT_EQ(slot.options.relay, net::RelayOptions{});
  EXPECT_EQ(net::faultText(slot.faults.live.up) + "|" + net::faultText(slot.faults.live.down), "|latency=50 jitter=5");
}
