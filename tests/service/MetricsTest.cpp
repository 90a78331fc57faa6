// The metrics responder over a real slot set: the text parsed back counts what the slot relayed,
// promtool accepts it, and requests other than GET /metrics are turned away. Its stalled clients
// are in ControlTest.cpp, beside the control socket's.
#include <cstdio>
#include <cstdlib>
#include <sstream>

#include "ServiceFixture.h"
#include "UdpPeer.h"
#include "log/EventLog.h"
#include "log/LogRing.h"
#include "service/SlotReport.h"

using namespace servicetest;

namespace {

constexpr const char* kPromtool = RELVANE_PROMTOOL;

struct MetricsTest : ServiceFixture {
  // The whole response to `request`, read until the server closes.
  std::string fetch(const std::string& request) {
    return beside<std::string>([&] {
      int fd = connectLoopback(metricsPort);
      std::string response = sendAll(fd, request) ? recvUntilEof(fd, 5s) : "<send failed>";
      closeFd(fd);
      return response;
    });
  }
};

// Samples by "name{labels}", with the # lines left out.
std::map<std::string, double> samples(const std::string& body) {
  std::map<std::string, double> out;
  std::istringstream in(body);
  for (std::string line; std::getline(in, line);) {
    if (line.empty() || line[0] == '#') continue;
    const auto space = line.rfind(' ');
    out[line.substr(0, space)] = std::stod(line.substr(space + 1));
  }
  return out;
}

}  // namespace

TEST_F(MetricsTest, CountsWhatTheSlotsRelayedInTheTextFormat) {
  Pair ended = relayOnce(300, 4000);
  close(ended);
  Pair live = relayOnce(21, 5);
  const std::string response = fetch("GET /metrics HTTP/1.1\r\nHost: localhost\r\nAccept: */*\r\n\r\n");
  ASSERT_EQ(response.substr(0, response.find("\r\n")), "HTTP/1.1 200 OK");
  EXPECT_NE(response.find("Content-Type: text/plain; version=0.0.4; charset=utf-8\r\n"), std::string::npos);
  const std::string body = response.substr(response.find("\r\n\r\n") + 4);
  EXPECT_NE(response.find("Content-Length: " + std::to_string(body.size()) + "\r\n"), std::string::npos);
  const auto values = samples(body);
  const std::string zero = "{slot=\"0\",listen_port=\"" + std::to_string(port) + "\"}";
  const std::string one = "{slot=\"1\",listen_port=\"" + std::to_string(spare) + "\"}";
  const std::map<std::string, double> expected{{"relvanetiv_build_info{version=\"9.8.7\"}", 1},
                                               {"relvanetiv_slot_up" + zero, 1},
                                               {"relvanetiv_slot_up" + one, 0},
                                               {"relvanetiv_slot_open_connections" + zero, 1},
                                               {"relvanetiv_slot_connections_total" + zero, 2},
                                               {"relvanetiv_slot_refused_total" + zero, 0},
                                               {"relvanetiv_slot_connect_failures_total" + zero, 0},
                                               {"relvanetiv_slot_received_bytes_total" + zero, 321},
                                               {"relvanetiv_slot_sent_bytes_total" + zero, 4005}};
  for (const auto& [name, value] : expected) EXPECT_EQ(values.count(name) ? values.at(name) : -1, value) << name;
  EXPECT_EQ(values.size(), 1u + 10 * 3) << "every family has a sample for each of the three slots";
  close(live);

  if (kPromtool[0] == '\0') GTEST_SKIP() << "promtool is not installed (Debian package prometheus): not checked by it";
  const std::string file = (dir / "metrics.txt").string();
  writeFile(file, body);
  const std::string command = std::string(kPromtool) + " check metrics < " + file + " > " + file + ".out 2>&1";
  EXPECT_EQ(std::system(command.c_str()), 0) << readFile(file + ".out");
}

// Only GET of /metrics is served; each other request gets its status and the connection ends.
TEST_F(MetricsTest, TurnsAwayEveryOtherRequest) {
  const std::pair<std::string, std::string> cases[] = {
      {"GET /other HTTP/1.1\r\n\r\n", "HTTP/1.1 404 Not Found"},
      {"POST /metrics HTTP/1.1\r\nContent-Length: 0\r\n\r\n", "HTTP/1.1 405 Method Not Allowed"},
      {"GET /metrics\r\n\r\n", "HTTP/1.1 400 Bad Request"},
      {"GET /metrics HTTP/2.0\r\n\r\n", "HTTP/1.1 400 Bad Request"},
      {"GET /metrics HTTP/1.1\r\nX: " + std::string(8192, 'x'), "HTTP/1.1 400 Bad Request"}};
  for (const auto& [request, status] : cases) {
    const std::string response = fetch(request);
    EXPECT_EQ(response.substr(0, response.find("\r\n")), status) << request.substr(0, 40);
  }
}

// A slot reloaded with a second destination that refuses: round robin sends the second client
// there, it fails over to the first, and the log, the status line, the connection rows and the
// metrics show where each pair went and the refusing one down.
TEST_F(MetricsTest, EachDestinationsStateAndWhereEachPairWent) {
  const int refusing = freePort();
  writeFile(ini, slotSection(0, 1, port, destination.port, "127.0.0.1",
                             "FORWARD1=127.0.0.1:" + std::to_string(refusing) + "\nBALANCE=1\n"));
  ASSERT_EQ(slots.reload().summary.changed, std::vector<int>{0});
  evlog::Ring log;
  evlog::addSink(&log);
  Pair first = relayOnce(1, 1), second = relayOnce(1, 1);
  evlog::removeSink(&log);
  const std::string up = "127.0.0.1:" + std::to_string(destination.port),
                    down = "127.0.0.1:" + std::to_string(refusing);
  ASSERT_EQ(log.lines().size(), 3u);  // the pairs' opened lines, and between them the one down
  EXPECT_EQ(log.lines()[1].substr(24), "TCP-PORT0 転送先停止 転送先=" + down);
  EXPECT_EQ(fields(service::slotStatusLine(slots[0]))["destinations"], up + "/up," + down + "/down");
  EXPECT_EQ(fields(service::connectionRows(slots[0]).at(1))["target"], up) << "the second, failed over";
  const std::string response = fetch("GET /metrics HTTP/1.1\r\n\r\n");
  const auto values = samples(response.substr(response.find("\r\n\r\n") + 4));
  const std::string labels = "{slot=\"0\",listen_port=\"" + std::to_string(port) + "\",destination=\"";
  EXPECT_EQ(values.at("relvanetiv_destination_up" + labels + down + "\"}"), 0);
  EXPECT_EQ(values.at("relvanetiv_destination_connections" + labels + up + "\"}"), 2);
  close(first), close(second);
}

// A reload switches slot 1 on as a UDP slot: a datagram goes both ways, the session shows in the
// status line, the rows and the metrics, and the log tells its start and, after UDPTIMEOUT, its end.
TEST_F(MetricsTest, AUdpSlotsSessionAndDatagrams) {
  UdpEcho echo;
  writeFile(ini, slotSection(0, 1, port, destination.port) +
                     slotSection(1, 1, spare, echo.port, "127.0.0.1", "PROTOCOL=UDP\nUDPTIMEOUT=1\n"));
  ASSERT_TRUE(slots.reload().applied() && slots[1].started());
  evlog::Ring log;
  evlog::addSink(&log);
  int client = udpSocket("127.0.0.1");
  sendTo(client, "127.0.0.1", spare, "ping");
  EXPECT_EQ(awaitDatagram(client), "ping");
  const std::string from = "127.0.0.1:" + std::to_string(portOf(client)), to = "127.0.0.1:" + std::to_string(echo.port);
  auto status = fields(service::slotStatusLine(slots[1]));
  EXPECT_EQ(status["protocol"] + status["connections"] + status["received_datagrams"] + status["sent"], "udp114");
  const std::vector<std::string> rows = service::connectionRows(slots[1]);
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(fields(rows[0])["client"] + " " + fields(rows[0])["destination"], from + " " + to);
  const std::string response = fetch("GET /metrics HTTP/1.1\r\n\r\n");
  const auto values = samples(response.substr(response.find("\r\n\r\n") + 4));
  const std::string labels = "{slot=\"1\",listen_port=\"" + std::to_string(spare) + "\"}";
  EXPECT_EQ(values.at("relvanetiv_slot_sent_datagrams_total" + labels), 1);
  EXPECT_TRUE(waitUntil([&] { return slots[1].connectionCount == 0; }, 5s)) << "UDPTIMEOUT ends it";
  evlog::removeSink(&log);
  closeFd(client);
  ASSERT_EQ(log.lines().size(), 2u);
  EXPECT_EQ(log.lines()[0].substr(24), "TCP-PORT1 UDPセッション開始 接続元=" + from + " 転送先=" + to);
  const std::string end = log.lines()[1].substr(24);
  EXPECT_EQ(end.substr(0, end.find(" 時間=")),
            "TCP-PORT1 UDPセッション終了 接続元=" + from + " 転送先=" + to + " 受信数=1 受信=4 送信数=1 送信=4");
  EXPECT_EQ(end.substr(end.rfind(' ')), " 終了=無通信のため終了");
}
