// Capture switched from a panel's menu and a connection's bytes reached from the status table,
// through the real window offscreen on real loopback connections.
#include <gtest/gtest.h>

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
  panel.command(ID_PANEL_CAPTURE);
  EXPECT_EQ(readFile(ini), file + "CAPTURE=1\n");

  int client = connectLoopback(port);
  ASSERT_TRUE(waitUntil([&] { return panel.slot.connectionCount == 1; }));  // connected onward: queued for us
  const int server = destination.acceptOne();
  // The peers do not read: what the relay read is captured, whether or not it was taken.
  ASSERT_TRUE(sendAll(client, "GET / HTTP/1.0\r\n\r\n") && sendAll(server, "HTTP/1.0 200 OK\r\n\r\n"));
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
  EXPECT_NE(shown.find("47 45 54 20 2f 20 48 54", up), std::string::npos) << shown;  // "GET / HT"
  EXPECT_NE(shown.find("HTTP/1.0 200 OK", down), std::string::npos) << shown;

  panel.command(ID_PANEL_CAPTURE);  // off: saved, and what was held stays viewable
  EXPECT_EQ(readFile(ini), file + "CAPTURE=0\n");
  EXPECT_TRUE(!panel.slot.capturing() && panel.slot.capture()->connections().size() == 1u);
  closeFd(client);
  ::close(server);
}
