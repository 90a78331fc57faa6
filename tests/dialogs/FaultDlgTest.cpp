// The fault dialog from a running slot's panel, offscreen over real loopback sockets: faults set
// in it reach the connection already running and are saved as exactly the keys set; OK without a
// change writes nothing; a bad field is named with what it takes and the dialog stays open;
// cleared, the keys the file has are written empty.
#include <gtest/gtest.h>

#include "Loopback.h"
#include "Modal.h"
#include "SlotIni.h"
#include "TempDir.h"
#include "Wait.h"
#include "dialogs/FaultDlg.h"
#include "panel/PortDlg.h"
#include "res/Resource.h"
#include "ui/NetLoopNotifier.h"

using namespace testsupport;

TEST(FaultDlg, FaultsSetOnARunningSlotReachItsLivePairAndAreSavedAsExactlyTheKeysSet) {
  initUiOnce(), socketInit();
  NetLoopNotifier sockets;
  TempDir dir;
  LoopbackListener destination;
  const std::string ini = (dir / "RelvaneTiv.ini").string();
  const int port = freePort();
  std::string file = slotSection(0, 1, port, destination.port) + "[OTHER]\nKEEP=me\n";
  writeFile(ini, file);
  CPortSlot slot;
  slot.iniPath = ini;
  ASSERT_EQ(slot.startSlot(), "");
  CPortDlg panel(slot);
  panel.create(), panel.initSlot();
  int client = connectLoopback(port);
  ASSERT_TRUE(waitUntil([&] { return slot.connectionCount == 1; }));
  int server = destination.acceptOne();
  const auto run = [&](const std::function<void(CFaultDlg&)>& act) {
    whenModal<CFaultDlg>([&](CFaultDlg* d) { act(*d), click(d->button(IDOK)); });
    panel.command(ID_PANEL_FAULTS);
  };
  run([](CFaultDlg&) {});
  EXPECT_EQ(readFile(ini), file);

  BoxAnswerer box;
  run([&](CFaultDlg& d) {
    retype(d.edit(IDC_FAULT_DOWN0), "80"), retype(d.edit(IDC_FAULT_UP0 + 3), "1000000");
    retype(d.edit(IDC_FAULT_UP0 + 9), "101"), click(d.button(IDOK));
    EXPECT_TRUE(d.isVisible());
    EXPECT_EQ(box.text, "「上り リセットの確率 (%)」の値「101」は使えません (0～100)");
    d.edit(IDC_FAULT_UP0 + 9)->clear();
  });
  const std::string keys = "FAULTUP=limit_data=1000000\nFAULTDOWN=latency=80\n";
  EXPECT_EQ(readFile(ini), file.insert(file.find("[OTHER]"), keys));
  const auto sent = std::chrono::steady_clock::now();
  ASSERT_TRUE(sendAll(server, "pong") &&
              waitUntil([&] { return readableWithin(client, std::chrono::milliseconds(0)); }));
  EXPECT_GE(std::chrono::steady_clock::now() - sent, std::chrono::milliseconds(80)) << "the live pair's answer waits";
  EXPECT_EQ(recvExact(client, 4), "pong");

  run([](CFaultDlg& d) { click(d.button(IDC_FAULT_CLEAR)); });
  EXPECT_EQ(readFile(ini), file.replace(file.find(keys), keys.size(), "FAULTUP=\nFAULTDOWN=\n"));
  closeFd(client), closeFd(server);
  slot.shutdownSlot();
}
