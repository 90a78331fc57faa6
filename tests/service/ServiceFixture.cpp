#include "ServiceFixture.h"

#include <sstream>

namespace servicetest {

ServiceFixture::ServiceFixture() {
  socketInit();
  writeFile(ini, slotSection(0, 1, port, destination.port) + slotSection(1, 0, spare, destination.port) +
                     slotSection(2, 1, 0, destination.port));
  slots.open();
  slots.startAll([](CPortSlot&, const std::string&) { return true; });
}

ServiceFixture::~ServiceFixture() { slots.shutdown(); }

ServiceFixture::Pair ServiceFixture::relayOnce(std::size_t up, std::size_t down) {
  Pair pair;
  pair.client = connectLoopback(port);
  pair.server = beside<int>([&] { return destination.acceptOne(); });
  const std::string toServer(up, 'u'), toClient(down, 'd');
  EXPECT_TRUE(sendAll(pair.client, toServer));
  EXPECT_EQ(beside<std::string>([&] { return recvExact(pair.server, up); }), toServer);
  EXPECT_TRUE(sendAll(pair.server, toClient));
  EXPECT_EQ(beside<std::string>([&] { return recvExact(pair.client, down); }), toClient);
  return pair;
}

void ServiceFixture::close(Pair& pair) {
  const int before = slots[0].connectionCount;
  closeFd(pair.client), closeFd(pair.server);
  EXPECT_TRUE(waitUntil([&] { return slots[0].connectionCount < before; }));
}

bool ServiceFixture::roundTrip(const Pair& pair) {
  return sendAll(pair.client, "ping") && beside<std::string>([&] { return recvExact(pair.server, 4); }) == "ping" &&
         sendAll(pair.server, "pong") && beside<std::string>([&] { return recvExact(pair.client, 4); }) == "pong";
}

std::map<std::string, std::string> fields(const std::string& line) {
  std::map<std::string, std::string> out;
  std::istringstream in(line);
  for (std::string word; in >> word;) {
    const auto eq = word.find('=');
    out[word.substr(0, eq)] = eq == std::string::npos ? "" : word.substr(eq + 1);
  }
  return out;
}

}  // namespace servicetest
