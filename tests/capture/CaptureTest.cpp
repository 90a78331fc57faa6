#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "CaptureTools.h"
#include "TempDir.h"
#include "capture/CaptureFile.h"
#include "capture/CaptureStore.h"
#include "capture/PcapWriter.h"

namespace {

using namespace capturetest;

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

TEST_F(CaptureTest, HoldsEachDirectionsBytesInOrderWithTheirEvents) {
  CaptureStore store;
  feed(store);
  ASSERT_EQ(store.connections().size(), 3u);
  EXPECT_EQ(held(store, 1, Direction::up), up1a + up1b);
  EXPECT_EQ(held(store, 1, Direction::down), down1);
  EXPECT_EQ(held(store, 2, Direction::up), up2);
  EXPECT_EQ(held(store, 2, Direction::down), down2);
  const std::vector<Piece>& p1 = store.pieces(1);
  ASSERT_EQ(p1.size(), 5u);
  EXPECT_EQ(p1[3].kind, Piece::Kind::fin);
  EXPECT_EQ(p1[4].kind, Piece::Kind::fin);
  EXPECT_EQ(p1[4].direction, Direction::down);
  for (std::size_t i = 1; i < p1.size(); ++i) EXPECT_LE(p1[i - 1].steady, p1[i].steady);
  EXPECT_EQ(store.pieces(2).back().kind, Piece::Kind::rst);
  EXPECT_TRUE(store.find(2)->ended);
  EXPECT_EQ(store.find(2)->client.text(), "::1");
  EXPECT_EQ(store.heldBytes(), up1a.size() + up1b.size() + down1.size() + up2.size() + down2.size() + 11);
}

// A bound on memory is not one on the file: a live connection dropped from memory goes on there,
// and the bytes beyond the bound per direction leave a gap in its sequence numbers, nothing else.
TEST_F(CaptureTest, KeepsTheFirstBytesEachWayAndDropsTheOldestConnectionsOverTheBound) {
  testsupport::TempDir dir;
  const std::string path = (dir / "gap.pcapng").string();
  CaptureStore store({.perDirection = 1000, .total = 2500});
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
  EXPECT_EQ(store.heldBytes(), 2000u);
  store.data(1, Direction::down, "late reply");
  store.closed(1, Direction::up);
  store.closed(1, Direction::down);
  if (!haveTshark()) GTEST_SKIP() << "tshark is not installed (scripts/setup-deps.sh --test installs it)";
  EXPECT_EQ(run("tshark -r " + path +
                " -Y tcp.stream==0 -T fields -E separator=, -e tcp.srcport -e tcp.seq -e tcp.len"
                " -e tcp.flags"),
            "40001,0,0,0x0002\n80,0,0,0x0012\n40001,1,0,0x0010\n40001,1,600,0x0018\n40001,601,400,0x0018\n"
            "80,1,10,0x0018\n40001,1201,0,0x0011\n80,11,0,0x0011\n");
}

TEST_F(CaptureTest, PcapFilesGiveTheBytesBothWaysWithHandshakeFinAndReset) {
  if (!haveTshark()) GTEST_SKIP() << "tshark is not installed (scripts/setup-deps.sh --test installs it)";
  CaptureStore store;
  feed(store);
  testsupport::TempDir dir;
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
  std::istringstream fields(run("tshark -r " + file +
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

}  // namespace
