// The connection status table over a real repeater with real loopback connections.
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

class StatusDlgTest : public ::testing::Test, public CTcpRepeaterListener {
protected:
  void SetUp() override {
    uitest::initOnce();
    ASSERT_TRUE(socketInit());
    repeater.setListener(this);
  }
  void TearDown() override {
    for (int& fd : clients) dlgtest::resetClose(fd);
    for (int& fd : served) closeFd(fd);
    repeater.stop();
  }
  void notifyOnConnectionCount(int c) override { count = c; }

  void start(int destinationPort) {
    repeater.start(listenPort, "127.0.0.1", destinationPort);
    ASSERT_TRUE(repeater.isListening());
  }
  static bool pumpUntil(const std::function<bool()>& done) {
    return net::EventLoop::current().runUntil(done, 5s);
  }
  // The dialog as it fills itself when it opens.
  std::vector<std::vector<std::string>> snapshot(CStatusDlg& dialog) {
    dialog.repeater = &repeater;
    EXPECT_TRUE(dialog.create());
    return rows(dialog);
  }
  static std::vector<std::vector<std::string>> rows(CStatusDlg& dialog) {
    std::vector<std::vector<std::string>> table(dialog.list->itemCount());
    for (int r = 0; r < dialog.list->itemCount(); ++r) {
      for (int c = 0; c < 10; ++c) table[r].push_back(dialog.list->itemText(r, c));
    }
    return table;
  }
  static std::string str(int n) { return std::to_string(n); }

  int count = 0;
  CTcpRepeater repeater;
  const int listenPort = testsupport::freePort();
  std::vector<int> clients, served;
};

TEST_F(StatusDlgTest, ColumnsAndLivePairsInIndexOrderKeptAsASnapshot) {
  testsupport::LoopbackListener destination;
  start(destination.port);
  for (int i = 0; i < 3; ++i) {
    clients.push_back(testsupport::connectLoopback(listenPort));
    ASSERT_TRUE(pumpUntil([&] { return count == i + 1; }));
    served.push_back(destination.acceptOne());
  }
  dlgtest::resetClose(clients[1]);  // frees table entry 1
  ASSERT_TRUE(pumpUntil([&] { return count == 2; }));
  ASSERT_TRUE(testsupport::sendAll(clients[2], std::string(1000, 'x')));
  int position = 2;
  CTcpStreamPair* third = repeater.getNextPair(position);
  ASSERT_TRUE(pumpUntil([&] { return third->connectStream->maxRemainCount > 0; }));

  CStatusDlg dialog;
  const auto table = snapshot(dialog);
  const char* headings[] = {"AcceptPeer", "Port", "BindIp",      "Port", "UsedBuff",
                            "BindIp",     "Port", "ConnectPeer", "Port", "UsedBuff"};
  const int widths[] = {80, 50, 80, 50, 70, 80, 50, 80, 50, 70};
  ASSERT_EQ(dialog.list->columnCount(), 10);
  for (int c = 0; c < 10; ++c) {
    EXPECT_EQ(dialog.list->columnHeading(c), headings[c]);
    EXPECT_EQ(dialog.list->columnWidth(c), widths[c]);
    EXPECT_EQ(dialog.list->columnFormat(c),  // addresses left, numbers right
              widths[c] == 80 ? ui::CListView::FormatLeft : ui::CListView::FormatRight);
  }
  EXPECT_EQ(dialog.list->extendedStyle(), ui::CListView::GridLines | ui::CListView::FullRowSelect);
  EXPECT_EQ(dialog.itemText(IDOK), "閉じる");

  ASSERT_EQ(table.size(), 2u);
  const int clientOfRow[] = {0, 2};
  for (int r = 0; r < 2; ++r) {
    const auto& cells = table[r];
    EXPECT_EQ(cells[0], "127.0.0.1");
    EXPECT_EQ(cells[1], str(dlgtest::localPortOf(clients[clientOfRow[r]])));
    EXPECT_EQ(cells[2], "127.0.0.1");
    EXPECT_EQ(cells[3], str(listenPort));
    EXPECT_EQ(cells[4], "0");  // nothing came back from the destination
    EXPECT_EQ(cells[5], "127.0.0.1");
    EXPECT_NE(cells[6], "0");
    EXPECT_EQ(cells[7], "127.0.0.1");
    EXPECT_EQ(cells[8], str(destination.port));
  }
  EXPECT_EQ(table[0][9], "0");
  EXPECT_GT(std::stoi(table[1][9]), 0);
  EXPECT_LE(std::stoi(table[1][9]), 1000);

  dlgtest::resetClose(clients[0]);  // ends while the dialog is open: still listed
  ASSERT_TRUE(pumpUntil([&] { return count == 1; }));
  EXPECT_EQ(rows(dialog), table);
}

TEST_F(StatusDlgTest, APairStillConnectingShowsAnEmptyOutgoingSide) {
  dlgtest::StalledListener destination;
  start(destination.port);
  clients.push_back(testsupport::connectLoopback(listenPort));
  int position = 0;
  ASSERT_TRUE(pumpUntil([&] { return repeater.getNextPair(position = 0) != nullptr; }));
  EXPECT_EQ(count, 0);

  CStatusDlg dialog;
  const auto table = snapshot(dialog);
  ASSERT_EQ(table.size(), 1u);
  const std::vector<std::string> expected{
      "127.0.0.1", str(dlgtest::localPortOf(clients[0])), "127.0.0.1", str(listenPort), "0",
      "", "0", "", "0", "0"};
  EXPECT_EQ(table[0], expected);
}

}  // namespace
