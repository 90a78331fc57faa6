// The port panel driven as a user would -- clicks, typed text, answered message boxes -- over
// real INI files in a temp directory and a real repeater on 127.0.0.1. The relay is served
// from the Qt event loop, as in the program, so it keeps running inside modal windows.
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
#include "ui/ControlFactory.h"
#include "ui/ListView.h"

using namespace testsupport;
using dlgtest::BoxAnswerer;

namespace {

bool waitFor(const std::function<bool()>& done) { return QTest::qWaitFor(done, 5000); }

bool readable(int fd) {
  pollfd p{fd, POLLIN, 0};
  return ::poll(&p, 1, 0) == 1;
}

QColor backgroundOf(const QWidget* w) {
  QColor c;
  return ui::hasBackground(w, &c) ? c : QColor();
}

class PortDlgTest : public ::testing::Test {
protected:
  static void SetUpTestSuite() { ASSERT_TRUE(socketInit()); }

  void SetUp() override {
    uitest::initOnce();
    mainWindow.resize(420, 160);
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
                       "\nFORWARDHOST=" + host + "\nFORWARDPORT=" + std::to_string(forwardPort) +
                       "\n");
  }
  int iniInt(const char* key, int slot = 0) {
    return ini::getPrivateProfileInt("TCP-PORT" + std::to_string(slot), key, -1, ini);
  }
  std::string iniString(const char* key) {
    return ini::getPrivateProfileString("TCP-PORT0", key, "<none>", ini);
  }
  static void click(CPortDlg& panel, int id) {
    QTest::mouseClick(panel.button(id), Qt::LeftButton);
  }
  void typeInto(int id, const QString& text) {
    QLineEdit* edit = settings.edit(id);
    edit->setFocus();
    edit->selectAll();
    QTest::keyClicks(edit, text);
  }
  static void expectOff(CPortDlg& panel) {
    EXPECT_EQ(panel.itemText(IDC_ACTIVE), "OFF");
    EXPECT_EQ(panel.checkState(IDC_ACTIVE), 0);
    EXPECT_EQ(panel.act, 0);
    EXPECT_FALSE(panel.repeater.isListening());
  }

  TempDir dir;
  const std::string ini = (dir / "RelvaneTiv.ini").string();
  NetLoopNotifier notifier;
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

  EXPECT_EQ(backgroundOf(panel.get()), QColor(230, 230, 220));
  for (int id : {IDC_FORWARD_PORT, IDC_FORWARD_HOST, IDC_LISTEN_GROUP, IDC_COUNT}) {
    EXPECT_EQ(backgroundOf(panel->item(id)), QColor(255, 255, 180)) << id;
  }
  for (int id : {IDC_ACTIVE, IDC_SETTINGS, IDC_CONFIRM}) {
    EXPECT_EQ(backgroundOf(panel->item(id)), QColor(230, 230, 220)) << id;
  }
  int plainLabels = 0;
  for (QLabel* label : panel->findChildren<QLabel*>()) {
    if (ui::controlId(label) != IDC_STATIC) continue;
    EXPECT_EQ(backgroundOf(label), QColor(230, 230, 220)) << label->text().toStdString();
    ++plainLabels;
  }
  EXPECT_EQ(plainLabels, 3);  // 接続数, Ip/Host, Port No.
}

TEST_F(PortDlgTest, ASlotSavedAsOnListensWhenTheLaunchIsOver) {
  LoopbackListener destination;
  const int port = freePort();
  writeIni(1, port, "127.0.0.1", destination.port);
  auto panel = launch();
  EXPECT_EQ(panel->itemText(IDC_ACTIVE), "ON");
  EXPECT_EQ(panel->checkState(IDC_ACTIVE), 1);
  EXPECT_EQ(panel->itemText(IDC_LISTEN_GROUP), "TCP:" + std::to_string(port));
  EXPECT_TRUE(panel->repeater.isListening());
  int client = connectLoopback(port);
  EXPECT_TRUE(waitFor([&] { return panel->itemText(IDC_COUNT) == "1"; }));
  dlgtest::resetClose(client);
}

TEST_F(PortDlgTest, SwitchingOnWithAPortOfZeroWarnsSpringsBackAndSavesNothing) {
  struct Case {
    int port, forwardPort;
    const char* message;
  };
  const Case cases[] = {{0, 5000, "Listenポートが無効な設定です"},
                        {5001, 0, "転送先ポート番号が無効な設定です"}};
  for (const Case& c : cases) {
    writeIni(0, c.port, "127.0.0.1", c.forwardPort);
    auto panel = launch();
    const std::string before = readFile(ini);
    BoxAnswerer box;
    click(*panel, IDC_ACTIVE);
    EXPECT_EQ(box.seen.count, 1);
    EXPECT_EQ(box.seen.text, c.message);
    EXPECT_EQ(box.seen.icon, QMessageBox::Warning);
    EXPECT_EQ(box.seen.buttons, QMessageBox::Ok);
    expectOff(*panel);
    EXPECT_EQ(readFile(ini), before);
  }
}

TEST_F(PortDlgTest, ALaunchRefusedForAMissingDestinationPortKeepsTheFileAsItWas) {
  writeFile(ini, "[TCP-PORT0]\nACT=1\nPORT=5002\n");
  BoxAnswerer box;
  auto panel = launch();
  EXPECT_EQ(box.seen.text, "転送先ポート番号が無効な設定です");
  expectOff(*panel);
  EXPECT_EQ(readFile(ini), "[TCP-PORT0]\nACT=1\nPORT=5002\n");
}

TEST_F(PortDlgTest, OnAndOffStartAndStopTheRelayAndAreSaved) {
  LoopbackListener destination;
  const int port = freePort();
  writeIni(0, port, "127.0.0.1", destination.port);
  auto panel = launch();
  click(*panel, IDC_ACTIVE);
  EXPECT_EQ(panel->itemText(IDC_ACTIVE), "ON");
  EXPECT_EQ(iniInt("ACT"), 1);
  EXPECT_TRUE(panel->repeater.isListening());
  click(*panel, IDC_ACTIVE);
  expectOff(*panel);
  EXPECT_EQ(iniInt("ACT"), 0);
  EXPECT_LT(connectLoopback(port, std::chrono::milliseconds(500)), 0);
}

TEST_F(PortDlgTest, AnEmptyHostShowsOnAndIsSavedButListensNowhere) {
  writeIni(0, freePort(), "", 5003);
  auto panel = launch();
  BoxAnswerer box;
  click(*panel, IDC_ACTIVE);
  EXPECT_EQ(box.seen.count, 0);
  EXPECT_EQ(panel->itemText(IDC_ACTIVE), "ON");
  EXPECT_EQ(iniInt("ACT"), 1);
  EXPECT_FALSE(panel->repeater.isListening());
}

TEST_F(PortDlgTest, AListenPortTakenByAnotherProgramIsReportedAndTheSwitchSpringsBack) {
  LoopbackListener occupant;
  writeIni(0, occupant.port, "127.0.0.1", 5004);
  auto panel = launch();
  const std::string before = readFile(ini);
  BoxAnswerer box;
  click(*panel, IDC_ACTIVE);
  EXPECT_EQ(box.seen.text, "Listenポート(" + std::to_string(occupant.port) + ")を開けませんでした");
  EXPECT_EQ(box.seen.icon, QMessageBox::Warning);
  expectOff(*panel);
  EXPECT_EQ(readFile(ini), before);
}

TEST_F(PortDlgTest, SettingsAreRefusedWhileOnAndWhileTheDialogIsHeld) {
  writeIni(0, 6001, "127.0.0.1", 6002);
  auto first = launch(0);
  auto second = launch(1);
  {
    BoxAnswerer box;
    click(*first, IDC_SETTINGS);
    EXPECT_EQ(box.seen.count, 0);
  }
  EXPECT_TRUE(settings.isVisible());
  EXPECT_EQ(settings.listener, static_cast<CSettingDlgListener*>(first.get()));
  for (CPortDlg* panel : {second.get(), first.get()}) {
    BoxAnswerer box;
    click(*panel, IDC_SETTINGS);
    EXPECT_EQ(box.seen.text, "現在PORTの設定中です");
    EXPECT_EQ(settings.listener, static_cast<CSettingDlgListener*>(first.get()));
  }
  QTest::mouseClick(settings.button(IDCANCEL), Qt::LeftButton);

  click(*first, IDC_ACTIVE);  // ON
  ASSERT_EQ(first->act, 1);
  BoxAnswerer box;
  click(*first, IDC_SETTINGS);
  EXPECT_EQ(box.seen.text, "PORTを使用中です。OFF状態で設定して下さい");
  EXPECT_FALSE(settings.isVisible());
  EXPECT_TRUE(settings.isFree());

  click(*second, IDC_SETTINGS);  // once free, another panel may have it
  EXPECT_EQ(settings.listener, static_cast<CSettingDlgListener*>(second.get()));
  settings.close();
  EXPECT_TRUE(settings.isFree());
}

TEST_F(PortDlgTest, SettingsOkTakesTheValuesOverWhileCancelAndTheCloseBoxKeepThePanelAsItWas) {
  writeIni(0, 1000, "example.org", 2000);
  auto panel = launch();
  click(*panel, IDC_SETTINGS);
  ASSERT_TRUE(settings.isVisible());
  EXPECT_EQ(settings.edit(IDC_LISTEN_PORT_EDIT)->text(), "1000");
  EXPECT_EQ(settings.edit(IDC_HOST_EDIT)->text(), "example.org");
  EXPECT_EQ(settings.edit(IDC_FORWARD_PORT_EDIT)->text(), "2000");
  EXPECT_EQ(settings.checkState(IDC_LOCALHOST), 0);
  EXPECT_TRUE(settings.edit(IDC_HOST_EDIT)->isEnabled());
  typeInto(IDC_LISTEN_PORT_EDIT, "5000");
  typeInto(IDC_HOST_EDIT, "relay.example");
  typeInto(IDC_FORWARD_PORT_EDIT, "6000");
  QTest::mouseClick(settings.button(IDOK), Qt::LeftButton);
  EXPECT_FALSE(settings.isVisible());
  EXPECT_EQ(panel->itemText(IDC_LISTEN_GROUP), "TCP:5000");
  EXPECT_EQ(panel->itemText(IDC_FORWARD_HOST), "relay.example");
  EXPECT_EQ(panel->itemText(IDC_FORWARD_PORT), "6000");
  EXPECT_EQ(iniInt("PORT"), 5000);
  EXPECT_EQ(iniString("FORWARDHOST"), "relay.example");
  EXPECT_EQ(iniInt("FORWARDPORT"), 6000);
  EXPECT_EQ(iniInt("ACT"), 0);

  const std::string saved = readFile(ini);
  const std::function<void()> cancels[] = {
      [&] { QTest::mouseClick(settings.button(IDCANCEL), Qt::LeftButton); },
      [&] { settings.close(); },
  };
  for (const auto& cancel : cancels) {
    click(*panel, IDC_SETTINGS);
    EXPECT_EQ(settings.edit(IDC_LISTEN_PORT_EDIT)->text(), "5000");  // refilled from the panel
    typeInto(IDC_LISTEN_PORT_EDIT, "7000");
    typeInto(IDC_HOST_EDIT, "other.example");
    cancel();
    EXPECT_TRUE(settings.isFree());
    EXPECT_EQ(panel->listenPort, 5000);
    EXPECT_EQ(panel->itemText(IDC_FORWARD_HOST), "relay.example");
    EXPECT_EQ(readFile(ini), saved);
  }

  // Letters and out-of-range numbers leave the last valid ports in force.
  click(*panel, IDC_SETTINGS);
  typeInto(IDC_LISTEN_PORT_EDIT, "abc");
  typeInto(IDC_FORWARD_PORT_EDIT, "70000");
  QTest::keyClick(settings.edit(IDC_FORWARD_PORT_EDIT), Qt::Key_Return);
  EXPECT_EQ(panel->listenPort, 5000);
  EXPECT_EQ(panel->forwardPort, 6000);
  EXPECT_EQ(panel->itemText(IDC_FORWARD_PORT), "6000");
}

TEST_F(PortDlgTest, ALocalHostOpensTickedAndOkWhileSwitchedOnTakesEffectOnlyAtTheNextStart) {
  LoopbackListener destination;
  const int oldPort = freePort();
  writeIni(0, oldPort, "LocalHost", destination.port);
  auto panel = launch();
  click(*panel, IDC_SETTINGS);
  EXPECT_EQ(settings.checkState(IDC_LOCALHOST), 1);
  EXPECT_FALSE(settings.edit(IDC_HOST_EDIT)->isEnabled());

  click(*panel, IDC_ACTIVE);  // the modeless dialog leaves the panel usable
  ASSERT_EQ(panel->itemText(IDC_ACTIVE), "ON");
  const int newPort = freePort();
  typeInto(IDC_LISTEN_PORT_EDIT, QString::number(newPort));
  QTest::mouseClick(settings.button(IDOK), Qt::LeftButton);
  EXPECT_EQ(panel->itemText(IDC_LISTEN_GROUP), "TCP:" + std::to_string(newPort));
  EXPECT_EQ(iniInt("PORT"), newPort);
  EXPECT_EQ(iniInt("ACT"), 1);
  int client = connectLoopback(oldPort);  // still relaying on the old port
  EXPECT_GE(client, 0);
  EXPECT_TRUE(waitFor([&] { return panel->connectionCount == 1; }));
  dlgtest::resetClose(client);
}

TEST_F(PortDlgTest, TheCountAndItsColourFollowRealConnectionsAndConfirmListsThem) {
  LoopbackListener destination;
  const int port = freePort();
  writeIni(1, port, "127.0.0.1", destination.port);
  auto panel = launch();
  const QWidget* count = panel->item(IDC_COUNT);
  int clients[2] = {connectLoopback(port), connectLoopback(port)};
  ASSERT_TRUE(waitFor([&] { return panel->itemText(IDC_COUNT) == "2"; }));
  EXPECT_EQ(backgroundOf(count), QColor(180, 255, 180));

  int rows = -1;
  bool countFollowedBehind = false;
  dlgtest::ModalWatch<CStatusDlg> watch([&](CStatusDlg* status) {
    rows = status->list->itemCount();
    dlgtest::resetClose(clients[0]);
    countFollowedBehind = waitFor([&] { return panel->itemText(IDC_COUNT) == "1"; });
    QTest::mouseClick(status->button(IDOK), Qt::LeftButton);
  });
  click(*panel, IDC_CONFIRM);
  EXPECT_EQ(watch.seen(), 1);
  EXPECT_EQ(rows, 2);
  EXPECT_TRUE(countFollowedBehind);
  EXPECT_EQ(backgroundOf(count), QColor(180, 255, 180));

  dlgtest::resetClose(clients[1]);
  ASSERT_TRUE(waitFor([&] { return panel->itemText(IDC_COUNT) == "0"; }));
  EXPECT_EQ(backgroundOf(count), QColor(255, 255, 180));
  BoxAnswerer box;
  click(*panel, IDC_CONFIRM);
  EXPECT_EQ(box.seen.text, "現在接続はありません.");
  EXPECT_EQ(watch.seen(), 1);
}

TEST_F(PortDlgTest, RelayingGoesOnWhileAMessageBoxIsOpen) {
  LoopbackListener destination;
  const int port = freePort();
  writeIni(1, port, "127.0.0.1", destination.port);
  auto panel = launch();
  std::string atDestination, atClient;
  dlgtest::ModalWatch<QMessageBox> watch([&](QMessageBox* box) {
    int client = connectLoopback(port);
    int served = -1;
    if (waitFor([&] { return panel->connectionCount == 1; })) served = destination.acceptOne();
    if (served >= 0 && sendAll(client, "ping") && waitFor([&] { return readable(served); })) {
      atDestination = recvExact(served, 4);
      if (sendAll(served, "pong") && waitFor([&] { return readable(client); })) {
        atClient = recvExact(client, 4);
      }
    }
    dlgtest::resetClose(client);
    closeFd(served);
    box->button(QMessageBox::Ok)->click();
  });
  click(*panel, IDC_CONFIRM);  // no connections yet: the message box
  EXPECT_EQ(watch.seen(), 1);
  EXPECT_EQ(atDestination, "ping");
  EXPECT_EQ(atClient, "pong");
}

TEST_F(PortDlgTest, ConfirmWithOnlyAConnectingPairSaysThereAreNoConnections) {
  dlgtest::StalledListener destination;
  int filler = connectLoopback(destination.port);
  const int port = freePort();
  writeIni(1, port, "127.0.0.1", destination.port);
  auto panel = launch();
  int client = connectLoopback(port);
  int position = 0;
  ASSERT_TRUE(waitFor([&] { position = 0; return panel->repeater.getNextPair(position) != nullptr; }));
  BoxAnswerer box;
  click(*panel, IDC_CONFIRM);
  EXPECT_EQ(box.seen.text, "現在接続はありません.");
  EXPECT_EQ(panel->itemText(IDC_COUNT), "0");
  dlgtest::resetClose(client);
  closeFd(filler);
}

TEST_F(PortDlgTest, ShutdownSavesAndStopsAndAPanelGoingAwayFreesTheDialog) {
  LoopbackListener destination;
  const int port = freePort();
  writeIni(0, port, "127.0.0.1", destination.port);
  auto panel = launch();
  click(*panel, IDC_ACTIVE);
  writeIni(0, 1, "changed.by.hand", 2);  // the next save overwrites hand edits
  panel->shutdownSlot();
  EXPECT_FALSE(panel->repeater.isListening());
  EXPECT_EQ(iniInt("ACT"), 1);
  EXPECT_EQ(iniInt("PORT"), port);
  EXPECT_EQ(iniString("FORWARDHOST"), "127.0.0.1");

  auto other = launch(1);
  click(*other, IDC_SETTINGS);
  ASSERT_FALSE(settings.isFree());
  other.reset();
  EXPECT_TRUE(settings.isFree());
  EXPECT_FALSE(settings.isVisible());
}

}  // namespace
