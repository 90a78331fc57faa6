// The connection status table over a real repeater with real loopback connections.
#include <gtest/gtest.h>

#include "../ui/UiTestUtil.h"
#include "DialogTestUtil.h"
#include "dialogs/StatusDlg.h"
#include "net/AsyncSocket.h"
#include "net/EventLoop.h"
#include "net/TcpRepeater.h"
#include "ui/ListView.h"

namespace {

using std::to_string;

class StatusDlgTest : public ::testing::Test, public CTcpRepeaterListener {
protected:
  void SetUp() override {
    uitest::initOnce();
    ASSERT_TRUE(socketInit());
    repeater.setListener(this);
  }
  void TearDown() override {
    for (auto* fds : {&clients, &served}) for (int& fd : *fds) dlgtest::resetClose(fd);
    repeater.stop();
  }
  void notifyOnConnectionCount(int c) override { count = c; }
  static bool pumpUntil(const std::function<bool()>& done) {
    return net::EventLoop::current().runUntil(done, std::chrono::seconds(5));
  }
  std::vector<std::string> rows() {  // each row's ten cells joined by '|'
    std::vector<std::string> table(dialog.list->itemCount());
    for (int r = 0; r < int(table.size()); ++r) {
      for (int c = 0; c < 10; ++c) table[r] += (c ? "|" : "") + dialog.list->itemText(r, c);
    }
    return table;
  }

  int count = 0;
  CTcpRepeater repeater;
  CStatusDlg dialog;
  std::vector<int> clients, served;
};

TEST_F(StatusDlgTest, TenColumnsListingLiveAndConnectingPairsInIndexOrderAsASnapshot) {
  testsupport::LoopbackListener destination;
  const int listenPort = testsupport::freePort();
  repeater.start(listenPort, "127.0.0.1", destination.port);
  ASSERT_TRUE(repeater.isListening());
  for (int i = 0; i < 3; ++i) {
    clients.push_back(testsupport::connectLoopback(listenPort));
    ASSERT_TRUE(pumpUntil([&] { return count == i + 1; }));
    served.push_back(destination.acceptOne());
  }
  // One queued connection fills a backlog of 0: the fourth pair's connect stays in progress.
  ::listen(destination.fd, 0);
  served.push_back(testsupport::connectLoopback(destination.port));
  clients.push_back(testsupport::connectLoopback(listenPort));
  ASSERT_TRUE(pumpUntil([&] { return repeater.pairTableSize() == 4; }));
  dlgtest::resetClose(clients[1]);  // frees table entry 1
  ASSERT_TRUE(testsupport::sendAll(clients[2], std::string(1000, 'x')));
  int position = 2;
  CTcpStreamPair* third = repeater.getNextPair(position);
  ASSERT_TRUE(pumpUntil([&] { return count == 2 && third->connectStream->maxRemainCount > 0; }));

  dialog.repeater = &repeater;
  ASSERT_TRUE(dialog.create());
  const auto table = rows();
  auto port = [](int fd, bool peer = false) { return to_string(dlgtest::portOf(fd, peer)) + '|'; };
  const std::string lo = "127.0.0.1|", slot = lo + to_string(listenPort) + "|0|";  // 0 came back
  const std::string dest = lo + to_string(destination.port) + '|';
  auto relayed = [&](int i) {
    return lo + port(clients[i]) + slot + lo + port(served[i], true) + dest;
  };
  const int used = third->connectStream->maxRemainCount;
  EXPECT_EQ(table, (std::vector<std::string>{relayed(0) + "0", relayed(2) + to_string(used),
                                             lo + port(clients[3]) + slot + "|0||0|0"}));
  std::string columns;
  for (int c = 0; c < dialog.list->columnCount(); ++c) {
    columns += dialog.list->columnHeading(c) + ' ' + to_string(dialog.list->columnWidth(c)) +
               (dialog.list->columnFormat(c) == ui::CListView::FormatLeft ? "<|" : ">|");
  }
  EXPECT_EQ(columns, "AcceptPeer 80<|Port 50>|BindIp 80<|Port 50>|UsedBuff 70>|"
                     "BindIp 80<|Port 50>|ConnectPeer 80<|Port 50>|UsedBuff 70>|");
  EXPECT_EQ(dialog.list->extendedStyle(), ui::CListView::GridLines | ui::CListView::FullRowSelect);

  dlgtest::resetClose(clients[0]);  // ends while the dialog is open: still listed
  ASSERT_TRUE(pumpUntil([&] { return count == 1; }));
  EXPECT_EQ(rows(), table);
}

}  // namespace

namespace {

TEST_F(StatusDlgTest, IPv6AddressesShowWholeInColumnsThatWidenForThem) {
  testsupport::LoopbackListener destination;
  const int listenPort = testsupport::freePort();
  repeater.setListenBindAddress(1, "::");  // dual stack: an IPv4 client shows as ::ffff:127.0.0.1
  repeater.start(listenPort, "127.0.0.1", destination.port);
  if (!repeater.isListening()) GTEST_SKIP() << "no IPv6 on this machine";
  clients.push_back(testsupport::connectLoopback(listenPort));
  ASSERT_TRUE(pumpUntil([&] { return count == 1; }));
  served.push_back(destination.acceptOne());
  dialog.repeater = &repeater;
  ASSERT_TRUE(dialog.create());
  for (int column : {0, 2}) {
    EXPECT_EQ(dialog.list->itemText(0, column), "::ffff:127.0.0.1");
    EXPECT_GT(dialog.list->columnWidth(column),
              dialog.list->fontMetrics().horizontalAdvance(QStringLiteral("::ffff:127.0.0.1")));
  }
  EXPECT_EQ(dialog.list->columnWidth(7), 80) << "an IPv4 column keeps its width";
  EXPECT_EQ(dialog.list->columnHeading(0), "AcceptPeer");
}

}  // namespace
