// The port panel driven as a user would -- clicks, typed text, answered message boxes -- over
// real INI files in a temp directory and a real repeater on 127.0.0.1, served from the Qt
// event loop as in the program, so relaying goes on inside modal windows.
#include <QLabel>
#include <QLineEdit>
#include <QTest>
#include <gtest/gtest.h>
#include <poll.h>

#include <memory>

#include "../dialogs/DialogTestUtil.h"
#include "../ui/UiTestUtil.h"
#include "Loopback.h"
#include "TempDir.h"
#include "dialogs/StatusDlg.h"
#include "net/AsyncSocket.h"
#include "res/Resource.h"
#include "slot/IniFile.h"
#include "slot/NetLoopNotifier.h"
#include "slot/PortDlg.h"
#include "ui/Colors.h"
#include "ui/ListView.h"

using namespace testsupport;
using dlgtest::BoxAnswerer;

namespace {

const QColor kBackground(230, 230, 220), kValue(255, 255, 180), kActive(180, 255, 180);

bool waitFor(const std::function<bool()>& done) { return QTest::qWaitFor(done, 5000); }
bool readable(int fd) {
  pollfd p{fd, POLLIN, 0};
  return ::poll(&p, 1, 0) == 1;
}
QColor colourOf(const QWidget* w) {
  QColor c;
  return ui::hasBackground(w, &c) ? c : QColor();
}

class PortDlgTest : public ::testing::Test {
protected:
  static void SetUpTestSuite() { ASSERT_TRUE(socketInit()); }
  void SetUp() override {
    uitest::initOnce();
    mainWindow.show();
    ASSERT_TRUE(settings.create(&mainWindow));
    settings.setCentreWidget(&mainWindow);
  }

  std::unique_ptr<CPortDlg> launch(int slot = 0) {
    auto panel = std::make_unique<CPortDlg>();
    EXPECT_TRUE(panel->create(&mainWindow));
    panel->slotIndex = slot;
    panel->iniPath = ini;
    panel->settingsDialog = &settings;
    panel->show();
    panel->initSlot();
    return panel;
  }
  void writeIni(int act, int port, const std::string& host, int forwardPort) {
    writeFile(ini, "[TCP-PORT0]\nACT=" + std::to_string(act) + "\nPORT=" + std::to_string(port) +
                       "\nFORWARDHOST=" + host + "\nFORWARDPORT=" + std::to_string(forwardPort) + "\n");
  }
  int iniInt(const char* key) { return ini::getPrivateProfileInt("TCP-PORT0", key, -1, ini); }
  static void click(QWidget* w) { QTest::mouseClick(w, Qt::LeftButton); }
  void typeInto(int id, const QString& text) {
    settings.edit(id)->selectAll();
    QTest::keyClicks(settings.edit(id), text);
  }
  static void expectOff(CPortDlg& panel) {
    EXPECT_EQ(panel.itemText(IDC_ACTIVE), "OFF");
    EXPECT_EQ(panel.checkState(IDC_ACTIVE), 0);
    EXPECT_FALSE(panel.repeater.isListening());
  }

  TempDir dir;
  const std::string ini = (dir / "RelvaneTiv.ini").string();
  NetLoopNotifier notifier;
  LoopbackListener destination;
  const int port = freePort();
  QWidget mainWindow;
  CSettingDlg settings;
};

TEST_F(PortDlgTest, FirstLaunchComesUpOffInItsColoursAndWritesTheFourKeys) {
  auto panel = launch();
  expectOff(*panel);
  EXPECT_EQ(panel->itemText(IDC_LISTEN_GROUP), "TCP:0");
  EXPECT_EQ(panel->itemText(IDC_FORWARD_HOST), "127.0.0.1");
  EXPECT_EQ(panel->itemText(IDC_FORWARD_PORT), "0");
  EXPECT_EQ(panel->itemText(IDC_COUNT), "0");
  EXPECT_EQ(readFile(ini), "[TCP-PORT0]\nACT=0\nPORT=0\nFORWARDHOST=127.0.0.1\nFORWARDPORT=0\n");

  EXPECT_EQ(colourOf(panel.get()), kBackground);
  for (int id : {IDC_FORWARD_PORT, IDC_FORWARD_HOST, IDC_LISTEN_GROUP, IDC_COUNT})
    EXPECT_EQ(colourOf(panel->item(id)), kValue) << id;
  for (int id : {IDC_ACTIVE, IDC_SETTINGS, IDC_CONFIRM})
    EXPECT_EQ(colourOf(panel->item(id)), kBackground) << id;
  const auto labels = panel->findChildren<QLabel*>(QRegularExpression("^$"));  // 接続数...
  EXPECT_EQ(labels.size(), 3);
  for (QLabel* label : labels) EXPECT_EQ(colourOf(label), kBackground);
}

TEST_F(PortDlgTest, ASlotSavedOnListensAfterLaunchAndEachClickStartsOrStopsItAndSaves) {
  writeIni(1, port, "127.0.0.1", destination.port);
  auto panel = launch();
  EXPECT_EQ(panel->itemText(IDC_ACTIVE), "ON");
  EXPECT_EQ(panel->itemText(IDC_LISTEN_GROUP), "TCP:" + std::to_string(port));
  EXPECT_TRUE(panel->repeater.isListening());

  click(panel->button(IDC_ACTIVE));
  expectOff(*panel);
  EXPECT_EQ(iniInt("ACT"), 0);
  click(panel->button(IDC_ACTIVE));
  EXPECT_EQ(panel->itemText(IDC_ACTIVE), "ON");
  EXPECT_EQ(iniInt("ACT"), 1);
  int client = connectLoopback(port);
  EXPECT_TRUE(waitFor([&] { return panel->itemText(IDC_COUNT) == "1"; }));
  dlgtest::resetClose(client);

  writeIni(0, port + 1, "", 5003);  // an empty host: ON and saved, silently listening nowhere
  auto empty = launch();
  BoxAnswerer box;
  click(empty->button(IDC_ACTIVE));
  EXPECT_EQ(box.count(), 0);
  EXPECT_EQ(empty->itemText(IDC_ACTIVE), "ON");
  EXPECT_EQ(iniInt("ACT"), 1);
  EXPECT_FALSE(empty->repeater.isListening());
}

TEST_F(PortDlgTest, ARefusedSwitchOnWarnsSpringsBackToOffAndLeavesTheFileAsItWas) {
  struct Case {
    int port, forwardPort;
    std::string message;
  };
  const Case cases[] = {
      {0, 5000, "Listenポートが無効な設定です"},
      {5001, 0, "転送先ポート番号が無効な設定です"},
      {destination.port, 5004,  // the port is taken by another listener
       "Listenポート(" + std::to_string(destination.port) + ")を開けませんでした"}};
  for (const Case& c : cases) {
    writeIni(0, c.port, "127.0.0.1", c.forwardPort);
    auto panel = launch();
    const std::string before = readFile(ini);
    BoxAnswerer box;
    click(panel->button(IDC_ACTIVE));
    EXPECT_EQ(box.count(), 1);
    EXPECT_EQ(box.text, c.message);
    EXPECT_EQ(box.icon, QMessageBox::Warning);
    EXPECT_EQ(box.buttons, QMessageBox::Ok);
    expectOff(*panel);
    EXPECT_EQ(readFile(ini), before);
  }
  writeFile(ini, "[TCP-PORT0]\nACT=1\nPORT=5002\n");  // refused at launch as well
  BoxAnswerer box;
  auto panel = launch();
  EXPECT_EQ(box.text, "転送先ポート番号が無効な設定です");
  expectOff(*panel);
  EXPECT_EQ(readFile(ini), "[TCP-PORT0]\nACT=1\nPORT=5002\n");
}

TEST_F(PortDlgTest, SettingsAreRefusedWhileOnAndWhileTheDialogIsHeld) {
  writeIni(0, 6001, "127.0.0.1", 6002);
  auto first = launch(0);
  auto second = launch(1);
  click(first->button(IDC_SETTINGS));
  EXPECT_TRUE(settings.isVisible());
  for (CPortDlg* panel : {second.get(), first.get()}) {
    BoxAnswerer box;
    click(panel->button(IDC_SETTINGS));
    EXPECT_EQ(box.text, "現在PORTの設定中です");
    EXPECT_EQ(settings.listener, static_cast<CSettingDlgListener*>(first.get()));
  }
  click(settings.button(IDCANCEL));

  click(first->button(IDC_ACTIVE));
  ASSERT_EQ(first->act, 1);
  BoxAnswerer box;
  click(first->button(IDC_SETTINGS));
  EXPECT_EQ(box.text, "PORTを使用中です。OFF状態で設定して下さい");
  EXPECT_TRUE(settings.isFree());
  EXPECT_FALSE(settings.isVisible());

  click(second->button(IDC_SETTINGS));  // free again: another panel may have it
  EXPECT_EQ(settings.listener, static_cast<CSettingDlgListener*>(second.get()));
  second.reset();  // a panel that goes away gives it back
  EXPECT_TRUE(settings.isFree());
  EXPECT_FALSE(settings.isVisible());
}

TEST_F(PortDlgTest, SettingsOkTakesTheValuesOverWhileCancelAndTheCloseBoxChangeNothing) {
  writeIni(0, 1000, "example.org", 2000);
  auto panel = launch();
  click(panel->button(IDC_SETTINGS));
  ASSERT_TRUE(settings.isVisible());
  EXPECT_EQ(settings.edit(IDC_LISTEN_PORT_EDIT)->text(), "1000");
  EXPECT_EQ(settings.edit(IDC_HOST_EDIT)->text(), "example.org");
  EXPECT_EQ(settings.edit(IDC_FORWARD_PORT_EDIT)->text(), "2000");
  EXPECT_EQ(settings.checkState(IDC_LOCALHOST), 0);
  EXPECT_TRUE(settings.edit(IDC_HOST_EDIT)->isEnabled());
  typeInto(IDC_LISTEN_PORT_EDIT, "5000");
  typeInto(IDC_HOST_EDIT, "relay.example");
  typeInto(IDC_FORWARD_PORT_EDIT, "6000");
  click(settings.button(IDOK));
  EXPECT_FALSE(settings.isVisible());
  EXPECT_EQ(panel->itemText(IDC_LISTEN_GROUP), "TCP:5000");
  EXPECT_EQ(panel->itemText(IDC_FORWARD_HOST), "relay.example");
  EXPECT_EQ(panel->itemText(IDC_FORWARD_PORT), "6000");
  const std::string saved = readFile(ini);
  EXPECT_EQ(saved, "[TCP-PORT0]\nACT=0\nPORT=5000\nFORWARDHOST=relay.example\nFORWARDPORT=6000\n");

  for (bool closeBox : {false, true}) {
    click(panel->button(IDC_SETTINGS));
    EXPECT_EQ(settings.edit(IDC_LISTEN_PORT_EDIT)->text(), "5000");  // refilled from the panel
    typeInto(IDC_LISTEN_PORT_EDIT, "7000");
    typeInto(IDC_HOST_EDIT, "other.example");
    if (closeBox) settings.close(); else click(settings.button(IDCANCEL));
    EXPECT_TRUE(settings.isFree());
    EXPECT_EQ(panel->itemText(IDC_LISTEN_GROUP), "TCP:5000");
    EXPECT_EQ(panel->itemText(IDC_FORWARD_HOST), "relay.example");
    EXPECT_EQ(readFile(ini), saved);
  }

  click(panel->button(IDC_SETTINGS));  // letters and 70000 leave the last valid ports
  typeInto(IDC_LISTEN_PORT_EDIT, "abc");
  typeInto(IDC_FORWARD_PORT_EDIT, "70000");
  QTest::keyClick(settings.edit(IDC_FORWARD_PORT_EDIT), Qt::Key_Return);
  EXPECT_FALSE(settings.isVisible());
  EXPECT_EQ(readFile(ini), saved);
}

TEST_F(PortDlgTest, ALocalHostOpensTickedAndOkWhileSwitchedOnWaitsForTheNextStart) {
  writeIni(0, port, "LocalHost", destination.port);
  auto panel = launch();
  click(panel->button(IDC_SETTINGS));
  EXPECT_EQ(settings.checkState(IDC_LOCALHOST), 1);
  EXPECT_FALSE(settings.edit(IDC_HOST_EDIT)->isEnabled());

  click(panel->button(IDC_ACTIVE));  // the modeless dialog leaves the panel usable
  ASSERT_EQ(panel->itemText(IDC_ACTIVE), "ON");
  typeInto(IDC_LISTEN_PORT_EDIT, QString::number(port + 1));
  click(settings.button(IDOK));
  EXPECT_EQ(panel->itemText(IDC_LISTEN_GROUP), "TCP:" + std::to_string(port + 1));
  EXPECT_EQ(iniInt("PORT"), port + 1);
  EXPECT_EQ(iniInt("ACT"), 1);
  int client = connectLoopback(port);  // still relaying on the old port
  EXPECT_TRUE(waitFor([&] { return panel->connectionCount == 1; }));
  dlgtest::resetClose(client);
}

TEST_F(PortDlgTest, TheCountAndItsColourFollowRealConnectionsAndConfirmListsThem) {
  writeIni(1, port, "127.0.0.1", destination.port);
  auto panel = launch();
  const QWidget* count = panel->item(IDC_COUNT);
  int clients[2] = {connectLoopback(port), connectLoopback(port)};
  ASSERT_TRUE(waitFor([&] { return panel->itemText(IDC_COUNT) == "2"; }));
  EXPECT_EQ(colourOf(count), kActive);

  int rows = -1;
  bool countFollowedBehind = false;
  dlgtest::ModalWatch<CStatusDlg> watch([&](CStatusDlg* status) {
    rows = status->list->itemCount();
    dlgtest::resetClose(clients[0]);
    countFollowedBehind = waitFor([&] { return panel->itemText(IDC_COUNT) == "1"; });
    click(status->button(IDOK));
  });
  click(panel->button(IDC_CONFIRM));
  EXPECT_EQ(watch.seen, 1);
  EXPECT_EQ(rows, 2);
  EXPECT_TRUE(countFollowedBehind);
  EXPECT_EQ(colourOf(count), kActive);

  dlgtest::resetClose(clients[1]);
  ASSERT_TRUE(waitFor([&] { return panel->itemText(IDC_COUNT) == "0"; }));
  EXPECT_EQ(colourOf(count), kValue);
  BoxAnswerer box;
  click(panel->button(IDC_CONFIRM));
  EXPECT_EQ(box.text, "現在接続はありません.");
  EXPECT_EQ(watch.seen, 1);
}

TEST_F(PortDlgTest, RelayingGoesOnWhileAMessageBoxIsOpen) {
  writeIni(1, port, "127.0.0.1", destination.port);
  auto panel = launch();
  std::string atDestination, atClient;
  dlgtest::ModalWatch<QMessageBox> watch([&](QMessageBox* box) {
    int client = connectLoopback(port);
    int served = waitFor([&] { return panel->connectionCount == 1; }) ? destination.acceptOne() : -1;
    if (served >= 0 && sendAll(client, "ping") && waitFor([&] { return readable(served); })) {
      atDestination = recvExact(served, 4);
      if (sendAll(served, "pong") && waitFor([&] { return readable(client); }))
        atClient = recvExact(client, 4);
    }
    dlgtest::resetClose(client);
    closeFd(served);
    box->button(QMessageBox::Ok)->click();
  });
  click(panel->button(IDC_CONFIRM));  // no connections yet: the message box
  EXPECT_EQ(watch.seen, 1);
  EXPECT_EQ(atDestination, "ping");
  EXPECT_EQ(atClient, "pong");
}

TEST_F(PortDlgTest, ConfirmWithOnlyAConnectingPairSaysThereAreNoConnections) {
  dlgtest::StalledListener stalled;
  writeIni(1, port, "127.0.0.1", stalled.port);
  auto panel = launch();
  int client = connectLoopback(port);
  int position = 0;
  ASSERT_TRUE(waitFor([&] { return panel->repeater.getNextPair(position = 0) != nullptr; }));
  BoxAnswerer box;
  click(panel->button(IDC_CONFIRM));
  EXPECT_EQ(box.text, "現在接続はありません.");
  dlgtest::resetClose(client);
}

TEST_F(PortDlgTest, ShutdownSavesTheStateOverHandEditsAndStops) {
  writeIni(1, port, "127.0.0.1", destination.port);
  auto panel = launch();
  writeIni(0, 1, "changed.by.hand", 2);
  panel->shutdownSlot();
  EXPECT_FALSE(panel->repeater.isListening());
  EXPECT_EQ(readFile(ini), "[TCP-PORT0]\nACT=1\nPORT=" + std::to_string(port) +
                               "\nFORWARDHOST=127.0.0.1\nFORWARDPORT=" +
                               std::to_string(destination.port) + "\n");
}

}  // namespace
