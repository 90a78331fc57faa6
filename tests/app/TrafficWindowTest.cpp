// Capture switched from a panel's menu and a connection's bytes reached from the status table,
// through the real window offscreen on real loopback connections.
#include <gtest/gtest.h>

#include <QMenu>
#include <QPlainTextEdit>

#include "Loopback.h"
#include "Modal.h"
#include "SlotIni.h"
#include "TempDir.h"
#include "Wait.h"
#include "app/RelvaneDlg.h"
#include "dialogs/StatusDlg.h"
#include "dialogs/TrafficDlg.h"
#include "panel/PortDlg.h"
#include "res/Resource.h"
#include "ui/ListView.h"
#include "ui/NetLoopNotifier.h"

using namespace testsupport;
using namespace std::chrono_literals;

namespace {

QAction* entry(QMenu& menu, int id) {
  for (QAction* action : menu.actions())
    if (action->data().toInt() == id) return action;
  return nullptr;
}

// The relay runs on the window's loop: wait for bytes while it turns, then read them.
std::string arrived(int fd, std::size_t n) {
  std::string got;
  waitUntil([&] { return readableWithin(fd, 0ms) && (got += recvExact(fd, n - got.size(), 100ms)).size() == n; });
  return got;
}

}  // namespace

TEST(TrafficWindow, CaptureSwitchedOnAPanelShowsTheConnectionChosenInTheStatusTable) {
  initUiOnce();
  TempDir temp;
  ::setenv("XDG_RUNTIME_DIR", temp.path().c_str(), 1);
  NetLoopNotifier sockets;
  LoopbackListener destination;
  const int port = freePort();
  const std::string ini = (temp / "RelvaneTiv.ini").string();
  const std::string file = slotSection(0, 1, port, destination.port);
  writeFile(ini, file);
  CRelvaneDlg window(ini);
  ASSERT_TRUE(window.create());
  CPortDlg& panel = *window.portPanels()[0];
  ASSERT_TRUE(panel.slot.started());
  {
    QMenu menu;
    panel.addContextEntries(menu);
    ASSERT_TRUE(entry(menu, ID_PANEL_CAPTURE) && entry(menu, ID_PANEL_TRAFFIC));
    EXPECT_FALSE(entry(menu, ID_PANEL_CAPTURE)->isChecked());
    EXPECT_FALSE(entry(menu, ID_PANEL_TRAFFIC)->isEnabled());  // nothing captured yet
  }
  panel.command(ID_PANEL_CAPTURE);
  EXPECT_EQ(readFile(ini), file + "CAPTURE=1\n");

  int client = connectLoopback(port);
  ASSERT_TRUE(waitUntil([&] { return panel.slot.connectionCount == 1; }));  // connected onward: queued for us
  const int server = destination.acceptOne();
  const std::string request = "GET / HTTP/1.0\r\n\r\n", reply = "HTTP/1.0 200 OK\r\n\r\n";
  ASSERT_TRUE(sendAll(client, request));
  EXPECT_EQ(arrived(server, request.size()), request);
  ASSERT_TRUE(sendAll(server, reply));
  EXPECT_EQ(arrived(client, reply.size()), reply);

  std::string shown;
  whenModal<CStatusDlg>([&](CStatusDlg* status) {
    status->list->setCurrentCell(0, 0);
    whenModal<CTrafficDlg>([&](CTrafficDlg* view) {
      waitUntil([&] { return view->text()->toPlainText().contains("200 OK"); }, 3s);
      shown = view->text()->toPlainText().toStdString();
      view->close();
    });
    status->showCurrentTraffic();
    status->close();
  });
  click(panel.button(IDC_CONFIRM));
  const std::size_t up = shown.find("【上り】"), down = shown.find("【下り】");
  ASSERT_TRUE(up != std::string::npos && down != std::string::npos) << shown;
  EXPECT_LT(up, down);
  EXPECT_NE(shown.find("47 45 54 20 2f 20 48 54", up), std::string::npos) << shown;  // "GET / HT"
  EXPECT_NE(shown.find("HTTP/1.0 200 OK", down), std::string::npos) << shown;

  panel.command(ID_PANEL_CAPTURE);  // off: saved, and what was held stays viewable
  EXPECT_EQ(readFile(ini), file + "CAPTURE=0\n");
  QMenu menu;
  panel.addContextEntries(menu);
  EXPECT_FALSE(entry(menu, ID_PANEL_CAPTURE)->isChecked());
  EXPECT_TRUE(entry(menu, ID_PANEL_TRAFFIC)->isEnabled());
  closeFd(client);
  ::close(server);
}
