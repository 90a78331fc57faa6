// The fault dialog from a running slot's panel, driven offscreen over real loopback sockets:
// faults set in it reach the connection already running and are saved as exactly the keys set;
// OK without a change and Cancel write nothing; a bad field is named with what it takes and the
// dialog stays open; cleared, the keys the file has are written empty.
#include <QEventLoop>
#include <QMenu>
#include <QTimer>
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "Loopback.h"
#include "Modal.h"
#include "SlotIni.h"
#include "TempDir.h"
#include "Wait.h"
#include "dialogs/FaultDlg.h"
#include "panel/PortDlg.h"
#include "res/Resource.h"
#include "ui/NetLoopNotifier.h"

namespace {

using namespace testsupport;
using Clock = std::chrono::steady_clock;

// Runs `work` on a thread of its own while the window's loop serves the relay (at most 10 s).
void beside(const std::function<void()>& work) {
  QEventLoop loop;
  QTimer::singleShot(10000, &loop, &QEventLoop::quit);
  std::thread peer([&] { work(), QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection); });
  loop.exec();
  peer.join();
}

// The quickest of three trips of a small message from `from` to `to`, in ms; each arrives as sent.
double oneWayMs(int from, int to, char seed) {
  double best = 1e9;
  for (char i = 0; i < 3; ++i) {
    const std::string sent(100, static_cast<char>(seed + i));
    std::string got;
    Clock::duration took{};
    beside([&] {
      const auto t0 = Clock::now();
      if (sendAll(from, sent)) got = recvExact(to, sent.size(), 5s);
      took = Clock::now() - t0;
    });
    EXPECT_EQ(got, sent);
    best = std::min(best, std::chrono::duration<double, std::milli>(took).count());
  }
  return best;
}

QAction* faultEntry(CPortDlg& panel, QMenu& menu) {
  panel.addContextEntries(menu);
  for (QAction* action : menu.actions())
    if (action->data().toInt() == ID_PANEL_FAULTS) return action;
  return nullptr;
}

// Runs the panel's fault dialog; `act` works it and ends it.
void run(CPortDlg& panel, const std::function<void(CFaultDlg&)>& act) {
  whenModal<CFaultDlg>([&](CFaultDlg* d) { act(*d); });
  panel.command(ID_PANEL_FAULTS);
}

void type(CFaultDlg& d, bool down, int key, const QString& text) {
  retype(d.edit((down ? IDC_FAULT_DOWN0 : IDC_FAULT_UP0) + key), text);
}

}  // namespace

TEST(FaultDlg, FaultsSetOnARunningSlotReachItsLivePairAndAreSavedAsExactlyTheKeysSet) {
  initUiOnce(), socketInit();
  NetLoopNotifier sockets;
  TempDir dir;
  LoopbackListener destination;
  const std::string ini = (dir / "RelvaneTiv.ini").string();
  const int port = freePort();
  std::string file = slotSection(0, 1, port, destination.port) + slotSection(1, 0, freePort(), destination.port) +
                     "PROTOCOL=UDP\n[OTHER]\nKEEP=me\n";
  writeFile(ini, file);
  QWidget host;
  host.show();
  CPortSlot slot, udp;
  slot.iniPath = udp.iniPath = ini, udp.slotIndex = 1;
  ASSERT_EQ(slot.startSlot() + udp.startSlot(), "");
  CPortDlg panel(slot), udpPanel(udp);
  panel.create(&host), udpPanel.create(&host);
  panel.initSlot(), udpPanel.initSlot();
  QMenu menu, udpMenu;
  ASSERT_TRUE(faultEntry(panel, menu) && faultEntry(udpPanel, udpMenu));
  EXPECT_TRUE(faultEntry(panel, menu)->isEnabled() && !faultEntry(udpPanel, udpMenu)->isEnabled());

  int client = connectLoopback(port);
  ASSERT_TRUE(waitUntil([&] { return slot.connectionCount == 1; }));
  int server = destination.acceptOne();
  const double base = oneWayMs(server, client, 'a');

  run(panel, [](CFaultDlg& d) {  // what runs: none; OK without a change writes nothing
    for (int id = IDC_FAULT_UP0; id < IDC_FAULT_CLEAR; ++id) EXPECT_EQ(d.itemText(id), "") << id;
    click(d.button(IDOK));
  });
  run(panel, [](CFaultDlg& d) { type(d, true, 0, "80"), click(d.button(IDCANCEL)); });
  EXPECT_EQ(readFile(ini), file);
  EXPECT_FALSE(slot.faults.live.any());

  run(panel, [](CFaultDlg& d) {
    BoxAnswerer box;
    type(d, true, 0, "80"), type(d, false, 3, "1000000"), type(d, false, 9, "101");
    click(d.button(IDOK));
    EXPECT_TRUE(d.isVisible());
    EXPECT_EQ(box.text, "「上り リセットの確率 (%)」の値「101」は使えません (0～100)");
    type(d, false, 9, "x");
    click(d.button(IDOK));
    EXPECT_EQ(box.text, "「上り リセットの確率 (%)」の値「x」は使えません (0～100)");
    d.edit(IDC_FAULT_UP0 + 9)->clear();
    click(d.button(IDOK));
  });
  const std::string keys = "FAULTUP=limit_data=1000000\nFAULTDOWN=latency=80\n";
  file.insert(file.find("[TCP-PORT1]"), keys);
  EXPECT_EQ(readFile(ini), file);
  EXPECT_GE(oneWayMs(server, client, 'b'), 80.0) << "the running pair's answers wait; alone it took " << base;

  run(panel, [](CFaultDlg& d) {  // shown as set; cleared, the keys the file has now are written empty
    EXPECT_EQ(d.itemText(IDC_FAULT_DOWN0) + "|" + d.itemText(IDC_FAULT_UP0 + 3), "80|1000000");
    click(d.button(IDC_FAULT_CLEAR)), click(d.button(IDOK));
  });
  file.replace(file.find(keys), keys.size(), "FAULTUP=\nFAULTDOWN=\n");
  EXPECT_EQ(readFile(ini), file);
  EXPECT_LT(oneWayMs(server, client, 'c'), base + 50.0) << "the latency has gone";
  closeFd(client), closeFd(server);
  slot.shutdownSlot(), udp.shutdownSlot();
}
