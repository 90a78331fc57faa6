// The connection status table over a real repeater with real loopback connections, and the
// byte counts and ages as it shows them; sorting, copying and closing as a user does them.
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

#include <QClipboard>
#include <QCoreApplication>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QMenu>
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

// Four clients from different loopback addresses, each having sent a different count of bytes:
// sorted by value, two rows selected by clicks, copied with Ctrl+C, kept selected through a
// refresh that adds a row between them, then closed from the context menu.
TEST_F(StatusDlgTest, SortsByValueCopiesAndClosesTheSelectedConnectionsInOrder) {
  ASSERT_TRUE(start());
  const std::vector<std::string> sources{"127.0.0.10", "127.0.0.9", "127.0.0.100", "127.0.0.2", "127.0.0.50"};
  const std::vector<std::string> sent{std::string(1200, 'a'), "bbbbb", std::string(90, 'c'), std::string(10000, 'd')};
  auto connectFrom = [&](int i) {
    clients.push_back(connectLoopback(listenPort, 5s, "127.0.0.1", sources[i].c_str()));
    return waitUntil([&] { return count == i + 1; }) && (served.push_back(destination.acceptOne()), true);
  };
  for (int i = 0, at; i < 4; ++i) {
    ASSERT_TRUE(connectFrom(i) && sendAll(clients[i], sent[i]));
    ASSERT_TRUE(waitUntil([&] { return repeater.getNextPair(at = i)->acceptStream->receivedBytes == sent[i].size(); }));
  }
  dialog.nextPair = [this](int& at) { return repeater.getNextPair(at); };
  dialog.closeConnection = [this](std::uint64_t serial, bool) {
    return repeater.closeBySerial(serial, PairEnding::ClosedByUser);
  };
  ASSERT_TRUE(dialog.create());
  dialog.show();
  auto clickHeading = [&](int column) {  // sections are 50 pixels wide or more
    QHeaderView* header = dialog.list->horizontalHeader();
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, {header->sectionViewportPosition(column) + 25, 5});
  };
  auto at = [&](int row) { return dialog.list->visualRect(dialog.list->model()->index(row, 1)).center(); };

  clickHeading(10);  // 受信, smallest first
  EXPECT_EQ(rows(10, 11), (std::vector<std::string>{"5", "90", "1,200", "10,000"}));
  clickHeading(0), clickHeading(0);  // the second click: the other way
  EXPECT_EQ(rows(0, 1), (std::vector<std::string>{"127.0.0.100", "127.0.0.10", "127.0.0.9", "127.0.0.2"}));

  QTest::mouseClick(dialog.list->viewport(), Qt::LeftButton, {}, at(1));
  QTest::mouseClick(dialog.list->viewport(), Qt::LeftButton, Qt::ControlModifier, at(3));
  QTest::keyClick(dialog.list, Qt::Key_C, Qt::ControlModifier);
  auto tabbed = [&](int row) { return QString::fromStdString(rows(0, 13)[row]).replace('|', '\t') + '\n'; };
  EXPECT_EQ(QApplication::clipboard()->text(),
            "AcceptPeer\tPort\tBindIp\tPort\tUsedBuff\tBindIp\tPort\tConnectPeer\tPort\tUsedBuff\t受信\t送信\t時間\n" +
                tabbed(1) + tabbed(3));

  ASSERT_TRUE(connectFrom(4));
  dialog.refresh();
  EXPECT_EQ(rows(0, 1),
            (std::vector<std::string>{"127.0.0.100", "127.0.0.50", "127.0.0.10", "127.0.0.9", "127.0.0.2"}));
  const QModelIndexList selected = dialog.list->selectionModel()->selectedRows();
  EXPECT_TRUE(selected.size() == 2 && selected[0].row() + selected[1].row() == 6) << "the same two stay selected";

  // The menu a right click opens, answered by a click on its close item.
  QTimer menuClicker;
  QObject::connect(&menuClicker, &QTimer::timeout, [&] {
    auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    for (QAction* action : menu ? menu->actions() : QList<QAction*>())
      if (action->text() == CStatusDlg::kCloseItem && action->isEnabled())
        return QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(action).center());
    if (menu) menu->close();
  });
  menuClicker.start(10);
  QContextMenuEvent rightClick(QContextMenuEvent::Mouse, at(2), dialog.list->viewport()->mapToGlobal(at(2)));
  QApplication::sendEvent(dialog.list->viewport(), &rightClick);
  EXPECT_EQ(rows(0, 1), (std::vector<std::string>{"127.0.0.100", "127.0.0.50", "127.0.0.9"}));
  // Each end gets what was on its way, then an orderly end, not a reset; the others relay on.
  for (int i : {0, 3}) {
    bool closed = false, reset = true, clientClosed = false, clientReset = true;
    EXPECT_EQ(recvUntilEof(served[i], 5s, &closed, &reset), sent[i]);
    EXPECT_EQ(recvUntilEof(clients[i], 5s, &clientClosed, &clientReset), "");
    EXPECT_TRUE(closed && !reset && clientClosed && !clientReset) << sources[i];
  }
  for (int i : {1, 2, 4}) {
    ASSERT_TRUE(sendAll(served[i], "alive"));
    ASSERT_TRUE(waitUntil([&] { return readableWithin(clients[i], 0ms); }));
    EXPECT_EQ(recvExact(clients[i], 5, 1s), "alive") << sources[i];
  }
}

}  // namespace
