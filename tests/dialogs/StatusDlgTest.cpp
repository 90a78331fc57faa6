// The connection status table over a real repeater with real loopback connections.
#include <QTest>
#include <gtest/gtest.h>

#include "../ui/UiTestUtil.h"
#include "DialogTestUtil.h"
#include "Loopback.h"
#include "dialogs/StatusDlg.h"
#include "net/AsyncSocket.h"
#include "net/EventLoop.h"
#include "net/TcpRepeater.h"
#include "res/Resource.h"
#include "ui/ListView.h"

using namespace std::chrono_literals;
using testsupport::closeFd;

namespace {

struct CountListener : CTcpRepeaterListener {
  int count = 0;
  void notifyOnConnectionCount(int c) override { count = c; }
};

class StatusDlgTest : public ::testing::Test {
protected:
  void SetUp() override {
    uitest::initOnce();
    ASSERT_TRUE(socketInit());
    repeater.setListener(&counts);
  }
  void TearDown() override {
    for (int& fd : clients) dlgtest::resetClose(fd);
    for (int& fd : served) closeFd(fd);
    repeater.stop();
  }

  void start(int destinationPort) {
    listenPort = testsupport::freePort();
    repeater.start(listenPort, "127.0.0.1", destinationPort);
    ASSERT_TRUE(repeater.isListening());
  }
  bool pumpUntil(const std::function<bool()>& done) {
    return net::EventLoop::current().runUntil(done, 5s);
  }
  // One client through the relay, its destination side accepted; waits for the count.
  void connectClient(testsupport::LoopbackListener& destination) {
    const int expected = counts.count + 1;
    clients.push_back(testsupport::connectLoopback(listenPort));
    ASSERT_GE(clients.back(), 0);
    ASSERT_TRUE(pumpUntil([&] { return counts.count == expected; }));
    served.push_back(destination.acceptOne());
    ASSERT_GE(served.back(), 0);
  }
  std::vector<std::string> row(CStatusDlg& dialog, int r) {
    std::vector<std::string> cells;
    for (int c = 0; c < 10; ++c) cells.push_back(dialog.list->itemText(r, c));
    return cells;
  }
  std::string str(int n) { return std::to_string(n); }

  CountListener counts;
  CTcpRepeater repeater;
  int listenPort = 0;
  std::vector<int> clients;
  std::vector<int> served;
};

TEST_F(StatusDlgTest, TenColumnsWithHeadingsWidthsAlignmentsGridAndRowSelection) {
  CStatusDlg dialog;  // no repeater: the table stays empty
  ASSERT_TRUE(dialog.create());
  EXPECT_EQ(dialog.windowTitle().toStdString(), "接続状況");
  EXPECT_EQ(dialog.itemText(IDOK), "閉じる");
  ASSERT_NE(dialog.list, nullptr);
  const char* headings[] = {"AcceptPeer", "Port", "BindIp", "Port", "UsedBuff",
                            "BindIp", "Port", "ConnectPeer", "Port", "UsedBuff"};
  const int widths[] = {80, 50, 80, 50, 70, 80, 50, 80, 50, 70};
  ASSERT_EQ(dialog.list->columnCount(), 10);
  for (int c = 0; c < 10; ++c) {
    EXPECT_EQ(dialog.list->columnHeading(c), headings[c]) << c;
    EXPECT_EQ(dialog.list->columnWidth(c), widths[c]) << c;
    const bool numeric = widths[c] != 80;
    EXPECT_EQ(dialog.list->columnFormat(c),
              numeric ? ui::CListView::FormatRight : ui::CListView::FormatLeft) << c;
  }
  EXPECT_EQ(dialog.list->extendedStyle(), ui::CListView::GridLines | ui::CListView::FullRowSelect);
  EXPECT_EQ(dialog.list->selectionMode(), QAbstractItemView::SingleSelection);
  EXPECT_EQ(dialog.list->itemCount(), 0);
}

TEST_F(StatusDlgTest, LivePairsAreListedInIndexOrderAsASnapshot) {
  testsupport::LoopbackListener destination;
  start(destination.port);
  for (int i = 0; i < 3; ++i) connectClient(destination);
  dlgtest::resetClose(clients[1]);  // frees table entry 1
  ASSERT_TRUE(pumpUntil([&] { return counts.count == 2; }));

  const std::string payload(1000, 'x');
  ASSERT_TRUE(testsupport::sendAll(clients[2], payload));
  int position = 0;
  repeater.getNextPair(position);
  CTcpStreamPair* third = repeater.getNextPair(position);
  ASSERT_NE(third, nullptr);
  ASSERT_TRUE(pumpUntil([&] { return third->connectStream->maxRemainCount > 0; }));

  CStatusDlg dialog;
  dialog.repeater = &repeater;
  ASSERT_TRUE(dialog.create());
  ASSERT_EQ(dialog.list->itemCount(), 2);
  const int clientIndex[] = {0, 2};
  for (int r = 0; r < 2; ++r) {
    const int c = clientIndex[r];
    const std::vector<std::string> cells = row(dialog, r);
    EXPECT_EQ(cells[0], "127.0.0.1");
    EXPECT_EQ(cells[1], str(dlgtest::localPortOf(clients[c])));
    EXPECT_EQ(cells[2], "127.0.0.1");
    EXPECT_EQ(cells[3], str(listenPort));
    EXPECT_EQ(cells[4], "0");  // nothing came back from the destination
    EXPECT_EQ(cells[5], "127.0.0.1");
    EXPECT_NE(cells[6], "0");
    EXPECT_EQ(cells[7], "127.0.0.1");
    EXPECT_EQ(cells[8], str(destination.port));
  }
  EXPECT_EQ(row(dialog, 0)[9], "0");
  const int used = std::stoi(row(dialog, 1)[9]);
  EXPECT_GT(used, 0);
  EXPECT_LE(used, 1000);

  // A connection that ends while the dialog is open stays listed.
  const std::string firstClientPort = str(dlgtest::localPortOf(clients[0]));
  dlgtest::resetClose(clients[0]);
  ASSERT_TRUE(pumpUntil([&] { return counts.count == 1; }));
  EXPECT_EQ(dialog.list->itemCount(), 2);
  EXPECT_EQ(row(dialog, 0)[1], firstClientPort);
}

TEST_F(StatusDlgTest, APairStillConnectingShowsAnEmptyOutgoingSide) {
  dlgtest::StalledListener destination;
  ASSERT_NE(destination.port, 0);
  int filler = testsupport::connectLoopback(destination.port);  // fills its queue
  ASSERT_GE(filler, 0);
  start(destination.port);
  clients.push_back(testsupport::connectLoopback(listenPort));
  ASSERT_GE(clients.back(), 0);
  int position = 0;
  ASSERT_TRUE(pumpUntil([&] { position = 0; return repeater.getNextPair(position) != nullptr; }));
  position = 0;
  EXPECT_EQ(repeater.getNextPair(position)->connectStream->connectState, STREAM_CONNECTING);
  EXPECT_EQ(counts.count, 0);

  CStatusDlg dialog;
  dialog.repeater = &repeater;
  ASSERT_TRUE(dialog.create());
  ASSERT_EQ(dialog.list->itemCount(), 1);
  const std::vector<std::string> cells = row(dialog, 0);
  EXPECT_EQ(cells[1], str(dlgtest::localPortOf(clients[0])));
  EXPECT_EQ(cells[3], str(listenPort));
  EXPECT_EQ(cells[5], "");
  EXPECT_EQ(cells[6], "0");
  EXPECT_EQ(cells[7], "");
  EXPECT_EQ(cells[8], "0");
  EXPECT_EQ(cells[9], "0");
  closeFd(filler);
}

TEST_F(StatusDlgTest, ClosedByItsButtonOrEscapeWhenRunModally) {
  int closedBy = 0;
  dlgtest::ModalWatch<CStatusDlg> watch([&](CStatusDlg* d) {
    if (closedBy++ == 0) {
      QTest::mouseClick(d->button(IDOK), Qt::LeftButton);
    } else {
      QTest::keyClick(d->list, Qt::Key_Escape);
    }
  });
  CStatusDlg first;
  EXPECT_EQ(first.doModal(), IDOK);
  CStatusDlg second;
  EXPECT_EQ(second.doModal(), IDCANCEL);
  EXPECT_EQ(watch.seen(), 2);
}

}  // namespace
