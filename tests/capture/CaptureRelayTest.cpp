// Slots capturing what they relay over loopback, with their capture file in a temp directory.
#include <gtest/gtest.h>
#include <sys/socket.h>

#include <atomic>
#include <filesystem>
#include <thread>

#include "CaptureTools.h"
#include "SlotIni.h"
#include "TempDir.h"
#include "UdpPeer.h"
#include "log/EventLog.h"
#include "log/LogRing.h"
#include "slot/PortSlot.h"

namespace {

using namespace capturetest;
using namespace testsupport;
namespace fs = std::filesystem;

// What the client leg carried in order: each run of data one way joined, and the FINs and RSTs.
std::vector<std::string> transcript(const CapturedConnection& c) {
  std::vector<std::string> out;
  for (const Piece& p : c.pieces) {
    const std::string way = p.direction == Direction::up ? ">" : "<";
    if (p.kind != Piece::Kind::data) out.push_back(way + (p.kind == Piece::Kind::fin ? "FIN" : "RST"));
    else if (!out.empty() && out.back().rfind(way + " ", 0) == 0)
      out.back() += p.bytes;
    else
      out.push_back(way + " " + p.bytes);
  }
  return out;
}

// Sends `bytes` from one peer and expects them whole at the other.
void pass(int from, int to, const std::string& bytes) {
  sendAll(from, bytes);
  EXPECT_EQ(recvExact(to, bytes.size()), bytes);
}

struct CaptureRelay : testing::Test {
  TempDir dir;
  std::string ini = (dir / "RelvaneTiv.ini").string();
  CPortSlot slot;
  const int port = freePort();
  LoopbackListener destination;
  CaptureRelay() { socketInit(), slot.iniPath = ini; }
  // Runs the peers' side on a thread while the slot relays on this one.
  void peers(const std::function<void(int client, int server)>& work) {
    std::atomic<bool> done{false};
    std::thread side([&] {
      int c = connectLoopback(port), d = destination.acceptOne();
      work(c, d), closeFd(c), closeFd(d), done = true;
    });
    EXPECT_TRUE(waitUntil([&] { return done.load(); }, std::chrono::seconds(60)));
    side.join();
  }
  bool settled(std::size_t connections) const {
    return waitUntil([&] {
      const CaptureStore* s = slot.capture();
      return s && s->connections().size() == connections && s->connections().back()->ended;
    });
  }
};

// Bulk through three pairs rotates the file over five times; then capture off relays unseen, and
// on again starts a fresh file holding exchanges ended by the client's FIN, and two resets.
// Reloaded as a UDP slot, the store keeps them and adds the datagrams.
TEST_F(CaptureRelay, HoldsAndWritesExactlyWhatEachConnectionCarried) {
  writeFile(ini, slotSection(0, 1, port, destination.port, "127.0.0.1",
                             "CAPTURE=1\nCAPTUREKB=1024\nCAPTUREFILE=cap.pcapng\nCAPTUREFILEMB=1\n"));
  ASSERT_EQ(slot.startSlot(), "");
  const std::string chunk = pattern(64 * 1024, 1), path = (dir / "cap.pcapng").string();
  for (std::size_t pair = 1; pair <= 3; ++pair) {
    peers([&](int c, int d) {
      for (int i = 0; i < 32; ++i) pass(i < 16 ? c : d, i < 16 ? d : c, chunk);
    });
    ASSERT_TRUE(settled(pair));
  }
  for (int n = 1; n <= 4; ++n) EXPECT_LE(fs::file_size(path + "." + std::to_string(n)), 1u << 20);

  slot.setCapturing(false);
  peers([&](int c, int d) { pass(c, d, "unseen"); });
  waitUntil([&] { return slot.livePairs() == 0; });
  EXPECT_EQ(slot.capture()->connections().size(), 3u) << "capture off records nothing";

  slot.setCapturing(true);
  const std::string up[] = {"GET /a HTTP/1.1\r\n\r\n", pattern(3000, 2)}, down[] = {"200", std::string("O\0K", 3)};
  const std::string last = pattern(5000, 3);
  peers([&](int c, int d) {
    for (int i = 0; i < 2; ++i) {
      pass(c, d, up[i]);
      pass(d, c, down[i]);
    }
    ::shutdown(c, SHUT_WR);
    EXPECT_EQ(recvUntilEof(d), "");
    sendAll(d, last), ::shutdown(d, SHUT_WR);
    EXPECT_EQ(recvUntilEof(c), last);
  });
  ASSERT_TRUE(settled(4));
  EXPECT_EQ(transcript(*slot.capture()->connections()[3]),
            (std::vector<std::string>{"> " + up[0], "< " + down[0], "> " + up[1], "< " + down[1], ">FIN", "< " + last,
                                      "<FIN"}));
  for (bool clientResets : {true, false}) {
    peers([&](int c, int d) {
      pass(c, d, up[0]);
      resetClose(clientResets ? c : d), waitPeerClosed(clientResets ? d : c);
    });
    ASSERT_TRUE(settled(clientResets ? 5 : 6));
    EXPECT_EQ(transcript(*slot.capture()->connections().back()),
              (std::vector<std::string>{"> " + up[0], clientResets ? ">RST" : "<RST"}));
  }
  const std::string resetBy = std::to_string(slot.capture()->connections()[4]->client.port);
  // A reload takes the keys live. To UDP, with a file whose folder is not there: one line, and
  // the relay and the store go on, each datagram whole.
  UdpEcho echo;
  evlog::Ring log{100};
  evlog::addSink(&log);
  const auto reload = [&](const std::string& keys) {
    writeFile(ini, slotSection(0, 1, port, echo.port, "127.0.0.1", "PROTOCOL=UDP\n" + keys));
    CPortSlot fresh;
    fresh.iniPath = ini, fresh.loadSettings();
    std::string refusal;
    slot.reloadFrom(fresh, refusal);
  };
  reload("CAPTURE=1\nCAPTUREKB=1024\nCAPTUREFILE=gone/c.pcap\n");
  int client = udpSocket("127.0.0.1");
  const std::string datagrams[] = {"a", pattern(1400, 4), pattern(60000, 5)};
  for (const std::string& d : datagrams) {
    sendTo(client, "127.0.0.1", port, d);
    EXPECT_EQ(awaitDatagram(client), d);
  }
  closeFd(client);
  slot.stopListening();
  evlog::removeSink(&log);
  ASSERT_EQ(slot.capture()->connections().size(), 7u) << "the pairs before stay";
  const CapturedConnection& session = *slot.capture()->connections().back();
  EXPECT_TRUE(session.ended && session.transport == Transport::udp && session.listener.text() == "127.0.0.1");
  ASSERT_EQ(session.pieces.size(), 6u);
  for (std::size_t i = 0; i < 6; ++i) EXPECT_EQ(session.pieces[i].bytes, datagrams[i / 2]) << i;
  std::string lines;
  for (const std::string& line : log.lines()) lines += line;
  EXPECT_EQ(lines.find("キャプチャ書込失敗"), lines.rfind("キャプチャ書込失敗"));
  EXPECT_NE(lines.find("TCP-PORT0 キャプチャ書込失敗 ファイル=" + (dir / "gone/c.pcap").string()), std::string::npos);
  // A new bound starts a new store; the switch is saved.
  reload("CAPTURE=0\nCAPTUREKB=64\n");
  EXPECT_TRUE(!slot.capturing() && slot.capture()->connections().size() == 7u) << "off keeps the store";
  slot.setCapturing(true), slot.saveSettings();
  EXPECT_TRUE(slot.capture()->limits().perDirection == 64u << 10 && slot.capture()->connections().empty());
  EXPECT_EQ(readFile(ini), slotSection(0, 1, port, echo.port, "127.0.0.1", "PROTOCOL=UDP\nCAPTURE=1\nCAPTUREKB=64\n"));
  if (!haveTshark()) GTEST_SKIP() << "tshark is not installed (scripts/setup-deps.sh --test installs it)";
  const Followed followed = follow(path, "tcp", 0);
  EXPECT_EQ(followed.fromFirst, up[0] + up[1]);
  EXPECT_EQ(followed.fromSecond, down[0] + down[1] + last);
  EXPECT_EQ(run("tshark -r " + path + " -Y tcp.flags.reset==1 -T fields -e tcp.stream -e tcp.srcport"),
            "1\t" + resetBy + "\n2\t" + std::to_string(port) + "\n");
}

}  // namespace
