// The capture store and its files, then slots capturing what they relay over loopback.
#include <gtest/gtest.h>
#include <sys/socket.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "SlotIni.h"
#include "TempDir.h"
#include "Tshark.h"
#include "UdpPeer.h"
#include "capture/CaptureFile.h"
#include "capture/CaptureStore.h"
#include "capture/PcapWriter.h"
#include "log/EventLog.h"
#include "log/LogRing.h"
#include "slot/PortSlot.h"

namespace {

using namespace testsupport;
namespace fs = std::filesystem;

std::string pattern(std::size_t n, unsigned seed) {
  std::string s(n, '\0');
  for (char& c : s) seed = seed * 1103515245 + 12345, c = static_cast<char>(seed >> 16);
  return s;
}

// What one direction of a connection holds, its pieces joined in order.
std::string held(const CaptureStore& store, std::uint64_t serial, Direction d) {
  std::string out;
  for (const Piece& p : store.pieces(serial))
    if (p.kind == Piece::Kind::data && p.direction == d) out += p.bytes;
  return out;
}

Endpoint at(const char* address, std::uint16_t port) { return *Endpoint::fromText(address, port); }

class CaptureTest : public ::testing::Test {
protected:
  // A v4 connection closed by FIN both ways with a piece larger than an IP packet, a v6 one
  // reset by the destination, and UDP datagrams.
  void feed(CaptureStore& store) {
    store.opened(1, at("127.0.0.1", 40001), at("127.0.0.1", 8080));
    store.opened(2, at("::1", 40002), at("::1", 8081));
    store.data(1, Direction::up, up1a);
    store.data(2, Direction::up, up2);
    store.data(1, Direction::down, down1);
    store.data(1, Direction::up, up1b);
    store.data(2, Direction::down, down2);
    store.closed(1, Direction::up);
    store.reset(2, Direction::down);
    store.closed(1, Direction::down);
    store.data(1, Direction::up, "after the end is not captured");
    store.opened(3, at("127.0.0.1", 40003), at("127.0.0.1", 7000), Transport::udp);
    store.data(3, Direction::up, "query");
    store.data(3, Direction::down, "answer");
  }
  const std::string up1a = "GET / HTTP/1.0\r\n\r\n", up1b = pattern(300, 3), down1 = pattern(150000, 1);
  const std::string up2 = pattern(5000, 2), down2 = std::string("\x00\x01\xff binary", 10);
};

// A bound on memory is not one on the file: a live connection dropped from memory goes on there,
// and the bytes beyond the bound per direction leave a gap in its sequence numbers, nothing else.
TEST_F(CaptureTest, KeepsTheFirstBytesEachWayAndDropsTheOldestConnectionsOverTheBound) {
  TempDir dir;
  const std::string path = (dir / "gap.pcapng").string();
  // Two connections of 1000 bytes in two pieces each fit, not a third.
  const std::uint64_t each = CaptureStore::kConnectionCost + 2 * CaptureStore::kPieceCost + 1000;
  CaptureStore store({.perDirection = 1000, .total = 2 * each + 500});
  CaptureFile file(path, 1 << 20, [](int err) { ADD_FAILURE() << err; });
  store.setSink(&file);
  for (std::uint64_t serial = 1; serial <= 3; ++serial) {
    store.opened(serial, at("127.0.0.1", static_cast<std::uint16_t>(40000 + serial)), at("127.0.0.1", 80));
    store.data(serial, Direction::up, pattern(600, 0));
    store.data(serial, Direction::up, pattern(600, 1));  // only 400 of it fit
  }
  std::vector<std::uint64_t> serials;
  for (const CapturedConnection* c : store.connections()) serials.push_back(c->serial);
  EXPECT_EQ(serials, (std::vector<std::uint64_t>{2, 3}));
  EXPECT_EQ(store.find(1), nullptr);
  EXPECT_EQ(held(store, 3, Direction::up), pattern(600, 0) + pattern(600, 1).substr(0, 400));
  EXPECT_EQ(store.find(3)->seen[0], 1200u);
  EXPECT_EQ(store.heldBytes(), 2 * each);
  store.data(1, Direction::down, "late reply");
  store.closed(1, Direction::up);
  store.closed(1, Direction::down);
  for (std::uint64_t serial = 10; serial < 1010; ++serial)  // tiny ones are bounded by what each costs
    store.opened(serial, at("127.0.0.1", 41000), at("127.0.0.1", 80)), store.data(serial, Direction::up, "x");
  EXPECT_LE(store.heldBytes(), store.limits().total);
  EXPECT_LE(store.connections().size(), store.limits().total / CaptureStore::kConnectionCost);
  if (!haveTshark()) GTEST_SKIP() << "tshark is not installed (scripts/setup-deps.sh --test installs it)";
  EXPECT_EQ(runCommand("tshark -r " + path +
                       " -Y tcp.stream==0 -T fields -E separator=, -e tcp.srcport -e tcp.seq -e tcp.len"
                       " -e tcp.flags"),
            "40001,0,0,0x0002\n80,0,0,0x0012\n40001,1,0,0x0010\n40001,1,600,0x0018\n40001,601,400,0x0018\n"
            "80,1,10,0x0018\n40001,1201,0,0x0011\n80,11,0,0x0011\n");
}

TEST_F(CaptureTest, PcapFilesGiveTheBytesBothWaysWithHandshakeFinAndReset) {
  if (!haveTshark()) GTEST_SKIP() << "tshark is not installed (scripts/setup-deps.sh --test installs it)";
  CaptureStore store;
  feed(store);
  TempDir dir;
  for (PcapFormat format : {PcapFormat::pcapng, PcapFormat::pcap}) {
    const std::string file = (dir / (format == PcapFormat::pcap ? "all.pcap" : "all.pcapng")).string();
    ASSERT_TRUE(writeStore(store, file, format));
    Followed first = follow(file, "tcp", 0), second = follow(file, "tcp", 1), udp = follow(file, "udp", 0);
    EXPECT_EQ(first.fromFirst, up1a + up1b);
    EXPECT_EQ(first.fromSecond, down1);
    EXPECT_EQ(second.fromFirst, up2);
    EXPECT_EQ(second.fromSecond, down2);
    EXPECT_EQ(udp.fromFirst, "query");
    EXPECT_EQ(udp.fromSecond, "answer");
  }
  const std::string one = (dir / "one.pcapng").string();
  ASSERT_TRUE(writeConnection(*store.find(2), one));
  EXPECT_EQ(follow(one, "tcp", 0).fromFirst, up2);

  // Flags and checksums per packet, the checksums verified by tshark.
  const std::string file = (dir / "all.pcapng").string();
  std::istringstream fields(runCommand("tshark -r " + file +
                                       " -o tcp.check_checksum:TRUE -o ip.check_checksum:TRUE"
                                       " -o udp.check_checksum:TRUE -T fields -E separator=, -e tcp.stream -e tcp.flags"
                                       " -e tcp.checksum.status -e udp.checksum.status"));
  std::vector<std::string> flags[2];
  std::size_t lines = 0;
  for (std::string line; std::getline(fields, line); ++lines) {
    std::vector<std::string> f;
    std::stringstream ss(line);
    for (std::string part; std::getline(ss, part, ',');) f.push_back(part);
    f.resize(4);
    EXPECT_TRUE(f[2] == "1" || f[3] == "1") << "bad checksum: " << line;
    if (f[0] == "0" || f[0] == "1") flags[std::stoi(f[0])].push_back(f[1]);
  }
  EXPECT_EQ(lines, 18u);  // v4: 3 + 1 + 3 (150000 bytes in IP-sized parts) + 1 + 2 FIN; v6: 3 + 2 + RST; 2 UDP
  const std::vector<std::string> handshake = {"0x0002", "0x0012", "0x0010"};
  ASSERT_GE(flags[0].size(), 5u);
  ASSERT_GE(flags[1].size(), 5u);
  EXPECT_EQ(std::vector<std::string>(flags[0].begin(), flags[0].begin() + 3), handshake);
  EXPECT_EQ(std::vector<std::string>(flags[1].begin(), flags[1].begin() + 3), handshake);
  EXPECT_EQ(std::vector<std::string>(flags[0].end() - 2, flags[0].end()),
            (std::vector<std::string>{"0x0011", "0x0011"}));
  EXPECT_EQ(flags[1].back(), "0x0014");
}

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
  EXPECT_EQ(runCommand("tshark -r " + path + " -Y tcp.flags.reset==1 -T fields -e tcp.stream -e tcp.srcport"),
            "1\t" + resetBy + "\n2\t" + std::to_string(port) + "\n");
}

}  // namespace
