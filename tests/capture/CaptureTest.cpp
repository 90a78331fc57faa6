#include <gtest/gtest.h>
#include <sys/resource.h>

#include <cerrno>
#include <csignal>
#include <filesystem>

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

std::string pattern(std::size_t n, int seed) {
  std::string s(n, '\0');
  for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>((i * 7 + seed) & 0xff);
  return s;
}

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
  void checkFlags(const std::string& file);
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

TEST_F(CaptureTest, KeepsTheFirstBytesEachWayAndDropsTheOldestConnectionsOverTheBound) {
  CaptureStore store({.perDirection = 1000, .total = 2500});
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
}

// Written whole from the store, in both formats, and as it happens by a file told each event.
TEST_F(CaptureTest, PcapFilesGiveTheBytesBothWaysWithHandshakeFinAndReset) {
  if (!haveTshark()) GTEST_SKIP() << "tshark is not installed (scripts/setup-deps.sh --test installs it)";
  testsupport::TempDir dir;
  const std::string live = (dir / "live.pcapng").string();
  CaptureStore store;
  CaptureFile liveFile(live, 1 << 20, [](int err) { ADD_FAILURE() << err; });
  store.setSink(&liveFile);
  feed(store);
  ASSERT_TRUE(writeStore(store, (dir / "all.pcapng").string(), PcapFormat::pcapng));
  ASSERT_TRUE(writeStore(store, (dir / "all.pcap").string(), PcapFormat::pcap));
  for (const std::string& file : {(dir / "all.pcapng").string(), (dir / "all.pcap").string(), live}) {
    Followed first = follow(file, "tcp", 0), second = follow(file, "tcp", 1), udp = follow(file, "udp", 0);
    EXPECT_EQ(first.fromFirst, up1a + up1b) << file;
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
  for (const std::string& file : {(dir / "all.pcapng").string(), live}) checkFlags(file);
}

// A bound on memory is not one on the file: a live connection dropped from memory goes on there.
// The bytes beyond the bound per direction leave a gap in the sequence numbers, nothing else.
TEST_F(CaptureTest, TheFileGoesOnBeyondTheBoundsWithAGapInTheSequenceNumbers) {
  if (!haveTshark()) GTEST_SKIP() << "tshark is not installed (scripts/setup-deps.sh --test installs it)";
  testsupport::TempDir dir;
  const std::string path = (dir / "gap.pcapng").string();
  CaptureStore store({.perDirection = 1000, .total = 2500});
  CaptureFile file(path, 1 << 20, [](int err) { ADD_FAILURE() << err; });
  store.setSink(&file);
  store.opened(1, at("127.0.0.1", 40001), at("127.0.0.1", 8080));
  store.data(1, Direction::up, pattern(1500, 0));
  store.opened(2, at("127.0.0.1", 40002), at("127.0.0.1", 8080));
  store.data(2, Direction::up, pattern(1000, 1));
  store.data(2, Direction::down, pattern(1000, 2));
  EXPECT_EQ(store.find(1), nullptr);
  EXPECT_EQ(store.heldBytes(), 2000u);
  store.data(1, Direction::down, "late reply");
  store.closed(1, Direction::up);
  store.closed(1, Direction::down);
  EXPECT_EQ(run("tshark -r " + path +
                " -Y tcp.stream==0 -T fields -E separator=, -e tcp.srcport -e tcp.seq -e tcp.len -e tcp.flags"),
            "40001,0,0,0x0002\n8080,0,0,0x0012\n40001,1,0,0x0010\n40001,1,1000,0x0018\n"
            "8080,1,10,0x0018\n40001,1501,0,0x0011\n8080,11,0,0x0011\n");
  EXPECT_EQ(follow(path, "tcp", 0).fromFirst, pattern(1000, 0));
}

void CaptureTest::checkFlags(const std::string& file) {
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
  EXPECT_EQ(lines, 18u) << file;  // v4: 3 + 1 + 3 (150000 bytes in IP-sized parts) + 1 + 2 FIN; v6: 3 + 2 + RST; 2 UDP
  const std::vector<std::string> handshake = {"0x0002", "0x0012", "0x0010"};
  ASSERT_GE(flags[0].size(), 5u);
  ASSERT_GE(flags[1].size(), 5u);
  EXPECT_EQ(std::vector<std::string>(flags[0].begin(), flags[0].begin() + 3), handshake);
  EXPECT_EQ(std::vector<std::string>(flags[1].begin(), flags[1].begin() + 3), handshake);
  EXPECT_EQ(std::vector<std::string>(flags[0].end() - 2, flags[0].end()),
            (std::vector<std::string>{"0x0011", "0x0011"}));
  EXPECT_EQ(flags[1].back(), "0x0014");
}

// A file that can take no more (here its size limit, as a full disk would) stops at a whole packet
// and says so once; the store goes on.
TEST_F(CaptureTest, AWriteThatFailsStopsTheFileOnce) {
  testsupport::TempDir dir;
  const std::string path = (dir / "full.pcap").string();
  std::vector<int> errors;
  CaptureStore store;
  {
    CaptureFile file(path, 1 << 20, [&](int err) { errors.push_back(err); });
    store.setSink(&file);
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit before{}, small{};
    ::getrlimit(RLIMIT_FSIZE, &before);
    small = {100000, before.rlim_max};
    ::setrlimit(RLIMIT_FSIZE, &small);
    store.opened(1, at("127.0.0.1", 40001), at("127.0.0.1", 8080));
    for (int i = 0; i < 4; ++i) store.data(1, Direction::up, pattern(30000, i));
    ::setrlimit(RLIMIT_FSIZE, &before);
    EXPECT_FALSE(file.writing());
    store.closed(1, Direction::up);
    store.setSink(nullptr);
  }
  EXPECT_EQ(errors, std::vector<int>{EFBIG});
  EXPECT_EQ(held(store, 1, Direction::up).size(), 120000u);
  EXPECT_LE(std::filesystem::file_size(path), 100000u);
}

}  // namespace
