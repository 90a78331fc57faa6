// The connection status table over a real repeater with real loopback connections, and the
// byte counts and ages as it shows them.
#include <gtest/gtest.h>

#include "Loopback.h"
#include "Modal.h"
#include "Wait.h"
#include "dialogs/CountText.h"
#include "dialogs/StatusDlg.h"
#include "net/AsyncSocket.h"
#include "net/EventLoop.h"
#include "net/TcpRepeater.h"
#include "ui/ListView.h"

#include <QCoreApplication>
#include <QItemSelectionModel>
#include <regex>

namespace {

using std::to_string;
using namespace testsupport;
using namespace std::chrono_literals;

class StatusDlgTest : public ::testing::Test, public CTcpRepeaterListener {
protected:
  void SetUp() override {
    initUiOnce(), repeater.setListener(this);
    ASSERT_TRUE(socketInit());
  }
  void TearDown() override {
    for (auto* fds : {&clients, &served})
      for (int& fd : *fds) resetClose(fd);
    repeater.stop();
  }
  void notifyOnConnectionCount(int c) override { count = c; }
  // False when it cannot listen.
  bool start() { return repeater.start(listenPort, "127.0.0.1", destination.port), repeater.isListening(); }
  // Each row's cells from `first` to before `end`, joined by '|'.
  std::vector<std::string> rows(int first = 0, int end = 12) {
    std::vector<std::string> table(dialog.list->itemCount());
    for (int r = 0; r < int(table.size()); ++r)
      for (int c = first; c < end; ++c) table[r] += (c > first ? "|" : "") + dialog.list->itemText(r, c);
    return table;
  }

  int count = 0;
  LoopbackListener destination;
  const int listenPort = freePort();
  CTcpRepeater repeater;
  CStatusDlg dialog;
  std::vector<int> clients, served;
};

// The counts and ages past what a short test shows: every thousands separator, days as hours.
TEST_F(StatusDlgTest, ListsPairsInIndexOrderFollowsTheTableEverySecondAndWidensForIPv6) {
  EXPECT_EQ(thousands(999) + " " + thousands(1000) + " " + thousands(~0ull), "999 1,000 18,446,744,073,709,551,615");
  EXPECT_TRUE(elapsedText(90061s) == "25:01:01" && elapsedText(-5s) == "0:00:00");
  ASSERT_TRUE(start());
  for (int i = 0; i < 3; ++i) {
    clients.push_back(connectLoopback(listenPort));
    ASSERT_TRUE(waitUntil([&] { return count == i + 1; }));
    served.push_back(destination.acceptOne());
  }
  // One queued connection fills a backlog of 0: the fourth pair's connect stays in progress.
  ::listen(destination.fd, 0);
  served.push_back(connectLoopback(destination.port));
  clients.push_back(connectLoopback(listenPort));
  ASSERT_TRUE(waitUntil([&] { return repeater.pairTableSize() == 4; }));
  resetClose(clients[1]);  // frees table entry 1
  ASSERT_TRUE(sendAll(clients[2], std::string(1000, 'x')));
  int position = 2;
  CTcpStreamPair* thirdPair = repeater.getNextPair(position);
  ASSERT_TRUE(waitUntil([&] { return count == 2 && thirdPair->acceptStream->receivedBytes == 1000; }));

  dialog.nextPair = [this](int& at) { return repeater.getNextPair(at); };
  ASSERT_TRUE(dialog.create());
  const auto table = rows();
  auto port = [](int fd, bool peer = false) { return to_string(portOf(fd, peer)) + '|'; };
  const std::string lo = "127.0.0.1|", slot = lo + to_string(listenPort) + "|0|";  // 0 came back
  const std::string dest = lo + to_string(destination.port) + '|', connecting = slot + "|0||0|0|0|0";
  auto relayed = [&](int i) { return lo + port(clients[i]) + slot + lo + port(served[i], true) + dest; };
  const std::string third = relayed(2) + to_string(thirdPair->connectStream->maxRemainCount) + "|1,000|0";
  EXPECT_EQ(table, (std::vector<std::string>{relayed(0) + "0|0|0", third, lo + port(clients[3]) + connecting}));
  for (const std::string& age : rows(12, 13)) EXPECT_TRUE(std::regex_match(age, std::regex("0:00:[0-5]\\d"))) << age;

  // The third pair is selected; the first ends, a new one comes, and the dialog's own timer
  // brings the table up to date with the selection still on the third.
  dialog.list->selectRow(1);
  resetClose(clients[0]);
  ASSERT_TRUE(waitUntil([&] { return count == 1; }));
  clients.push_back(connectLoopback(listenPort));
  ASSERT_TRUE(
      waitUntil([&] { return repeater.pairTableSize() == 4 && repeater.getNextPair(position = 0) != thirdPair; }));
  std::vector<std::string> now;
  for (int i = 0; i < 250 && (now = rows()) == table; ++i)  // up to 5 s
    net::EventLoop::current().runFor(20ms), QCoreApplication::processEvents();
  EXPECT_EQ(now,
            (std::vector<std::string>{lo + port(clients[4]) + connecting, third, lo + port(clients[3]) + connecting}));
  const QModelIndexList selected = dialog.list->selectionModel()->selectedRows();
  EXPECT_TRUE(selected.size() == 1 && selected[0].row() == 1) << "the third pair stays selected";
  resetClose(clients[2]);
  ASSERT_TRUE(waitUntil([&] { return count == 0; }));
  dialog.refresh();
  EXPECT_EQ(dialog.list->itemCount(), 2);
  EXPECT_TRUE(dialog.list->selectionModel()->selectedRows().empty()) << "the selected pair is gone";
  EXPECT_EQ(dialog.list->columnWidth(0), 80);

  // Listening dual stack, an IPv4 client shows as ::ffff:127.0.0.1, whole, in columns that widen.
  repeater.stop();
  repeater.setListenBindAddress(1, "::");
  if (!start()) GTEST_SKIP() << "no IPv6 on this machine";
  clients.push_back(connectLoopback(listenPort));  // connecting: the backlog is full
  ASSERT_TRUE(waitUntil([&] { return repeater.pairTableSize() == 1; }));
  dialog.refresh();
  const int whole = dialog.list->fontMetrics().horizontalAdvance(QStringLiteral("::ffff:127.0.0.1"));
  for (int column : {0, 2})
    EXPECT_TRUE(dialog.list->itemText(0, column) == "::ffff:127.0.0.1" && dialog.list->columnWidth(column) > whole);
  EXPECT_EQ(dialog.list->columnWidth(7), 80) << "an IPv4 column keeps its width";
}

}  // namespace
