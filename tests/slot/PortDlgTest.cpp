// The port panel driven as a user would -- clicks, typed text, answered message boxes -- over
// real INI files and a real repeater on 127.0.0.1, served from the Qt event loop as in the
// program, so relaying goes on inside modal windows.
#include <QLabel>
#include <QLineEdit>
#include <QTest>
#include <gtest/gtest.h>

#include "Modal.h"
#include "Loopback.h"
#include "TempDir.h"
#include "dialogs/AccessDlg.h"
#include "dialogs/StatusDlg.h"
#include "net/AsyncSocket.h"
#include "res/Resource.h"
#include "slot/IniFile.h"
#include "slot/NetLoopNotifier.h"
#include "slot/PortDlg.h"
#include "ui/Colors.h"
#include "ui/ListView.h"

using namespace testsupport;
using testsupport::BoxAnswerer;

namespace {

bool waitFor(const std::function<bool()>& done) { return QTest::qWaitFor(done, 5000); }
QColor colourOf(const QWidget* w) {
  QColor c;
  return ui::hasBackground(w, &c) ? c : QColor();
}
void click(QWidget* w) { QTest::mouseClick(w, Qt::LeftButton); }

class PortDlgTest : public ::testing::Test {
protected:
  static void SetUpTestSuite() { ASSERT_TRUE(socketInit()); }
  void SetUp() override {
    testsupport::initUiOnce();
    mainWindow.show();
    ASSERT_TRUE(settings.create(&mainWindow));
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
  void typeInto(int id, const std::string& text) {
    settings.edit(id)->selectAll();
    QTest::keyClicks(settings.edit(id), QString::fromStdString(text));
  }

  TempDir dir;
  const std::string ini = (dir / "RelvaneTiv.ini").string();
  NetLoopNotifier notifier;
  LoopbackListener destination;
  const int port = freePort();
  QWidget mainWindow;
  CSettingDlg settings;
};

TEST_F(PortDlgTest, ASwitchedOnPanelRelaysCountsListsAndSwitchesOffAndOnAgain) {
  writeIni(1, port, "127.0.0.1", destination.port);
  auto panel = launch();
  const QWidget* count = panel->item(IDC_COUNT);
  int clients[2] = {-1, -1}, served = -1;
  std::string text, atDestination;
  testsupport::ModalWatch<QMessageBox> boxWatch([&](QMessageBox* box) {  // relaying goes on under it
    text = box->text().toStdString();
    clients[0] = connectLoopback(port);
    served = waitFor([&] { return panel->connectionCount == 1; }) ? destination.acceptOne() : -1;
    if (served >= 0 && sendAll(clients[0], "ping") && waitFor([&] { return readableWithin(served, 0ms); }))
      atDestination = recvExact(served, 4);
    box->button(QMessageBox::Ok)->click();
  });
  click(panel->button(IDC_CONFIRM));  // no connections yet
  EXPECT_EQ(text, "現在接続はありません.");
  EXPECT_EQ(atDestination, "ping");
  clients[1] = connectLoopback(port);
  ASSERT_TRUE(waitFor([&] { return panel->itemText(IDC_COUNT) == "2"; }));
  EXPECT_EQ(colourOf(count), CPortDlg::kActive);

  int rows = -1;
  testsupport::ModalWatch<CStatusDlg> statusWatch([&](CStatusDlg* status) {
    rows = status->list->itemCount();
    click(status->button(IDOK));
  });
  click(panel->button(IDC_CONFIRM));  // the rows themselves are the status dialog's own tests
  EXPECT_EQ(rows, 2);
  for (int& client : clients) testsupport::resetClose(client);
  closeFd(served);
  ASSERT_TRUE(waitFor([&] { return panel->itemText(IDC_COUNT) == "0"; }));
  EXPECT_EQ(colourOf(count), CPortDlg::kValue);

  for (int act : {0, 1}) {
    click(panel->button(IDC_ACTIVE));
    EXPECT_EQ(panel->itemText(IDC_ACTIVE), act ? "ON" : "OFF");
    EXPECT_EQ(panel->repeater.isListening(), act == 1);
    EXPECT_EQ(ini::getPrivateProfileInt("TCP-PORT0", "ACT", -1, ini), act);
  }
}

TEST_F(PortDlgTest, ARefusedSwitchOnWarnsSpringsBackToOffAndLeavesTheFileAsItWas) {
  writeIni(0, destination.port, "127.0.0.1", 5004);  // the port is taken by another listener
  auto panel = launch();
  const std::string before = readFile(ini);
  BoxAnswerer box;
  click(panel->button(IDC_ACTIVE));
  EXPECT_EQ(box.count(), 1);
  EXPECT_EQ(box.text, "Listenポート(" + std::to_string(destination.port) + ")を開けませんでした");
  EXPECT_EQ(std::make_tuple(panel->itemText(IDC_ACTIVE), panel->checkState(IDC_ACTIVE)), std::make_tuple("OFF", 0));
  EXPECT_FALSE(panel->repeater.isListening());
  EXPECT_EQ(readFile(ini), before);
}

// How the dialog itself answers its ways out and the localhost tick is the dialog's own test;
// here: what reaches the panel and the file, and who holds the one shared dialog.
TEST_F(PortDlgTest, TheSettingsDialogThroughThePanel) {
  writeIni(0, 1000, "example.org", 2000);
  auto panel = launch(0);
  const std::string p = std::to_string(port);
  for (bool ok : {true, false}) {
    click(panel->button(IDC_SETTINGS));
    EXPECT_EQ(settings.edit(IDC_LISTEN_PORT_EDIT)->text().toStdString(), ok ? "1000" : p);
    typeInto(IDC_LISTEN_PORT_EDIT, ok ? p : "7000");
    typeInto(IDC_HOST_EDIT, ok ? "relay.example" : "other");
    typeInto(IDC_FORWARD_PORT_EDIT, ok ? "6000" : "7001");
    click(settings.button(ok ? IDOK : IDCANCEL));
    EXPECT_TRUE(settings.isFree());
    EXPECT_EQ(panel->itemText(IDC_LISTEN_GROUP), "TCP:" + p) << ok;
    EXPECT_EQ(panel->itemText(IDC_FORWARD_HOST), "relay.example");
    EXPECT_EQ(panel->itemText(IDC_FORWARD_PORT), "6000");
    EXPECT_EQ(readFile(ini), "[TCP-PORT0]\nACT=0\nPORT=" + p + "\nFORWARDHOST=relay.example\nFORWARDPORT=6000\n");
  }

  auto second = launch(1);
  click(panel->button(IDC_SETTINGS));
  BoxAnswerer box;
  click(second->button(IDC_SETTINGS));  // held by the first panel
  EXPECT_EQ(box.text, "現在PORTの設定中です");
  EXPECT_EQ(settings.listener, static_cast<CSettingDlgListener*>(panel.get()));
  click(settings.button(IDCANCEL));
  click(panel->button(IDC_ACTIVE));
  ASSERT_TRUE(panel->repeater.isListening());
  click(panel->button(IDC_SETTINGS));
  EXPECT_EQ(box.text, "PORTを使用中です。OFF状態で設定して下さい");
  EXPECT_TRUE(settings.isFree());
  click(second->button(IDC_SETTINGS));  // free again: another panel may have it
  EXPECT_EQ(settings.listener, static_cast<CSettingDlgListener*>(second.get()));
  second.reset();  // a panel that goes away gives it back
  EXPECT_TRUE(settings.isFree());
}

// The access dialog from the panel: refused while ON, only OK makes the working copy live,
// and only the keys the user changed reach the file.
TEST_F(PortDlgTest, TheAccessDialogThroughThePanel) {
  writeIni(0, port, "127.0.0.1", destination.port);
  auto panel = launch();
  const std::string before = readFile(ini);
  for (bool ok : {false, true}) {
    testsupport::whenModal<CAccessDlg>([ok](CAccessDlg* d) {
      QTest::mouseClick(d->button(IDC_MODE_LOCALHOST), Qt::LeftButton, {}, QPoint(6, 6));  // on its circle
      if (!ok) d->edit(IDC_LISTEN_HOST_EDIT)->setText("::");
      ok ? QTest::mouseClick(d->button(IDOK), Qt::LeftButton) : void(d->close());
    });
    panel->command(ID_PANEL_ACCESS);
    EXPECT_EQ(panel->filter.mode, ok ? CIpFilter::ModeLocalHost : CIpFilter::ModeAcceptAll);
    EXPECT_EQ(readFile(ini), before + (ok ? "FILTER=1\n" : "")) << "only the changed key is written";
  }
  click(panel->button(IDC_ACTIVE));
  ASSERT_TRUE(panel->repeater.isListening());
  BoxAnswerer box;
  panel->command(ID_PANEL_ACCESS);
  EXPECT_EQ(box.text, "PORTを使用中です。OFF状態で設定して下さい");
  EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

TEST_F(PortDlgTest, OkWhileTheSlotIsOnTakesTheValuesOverButTheRunningRelayKeepsTheOldOnes) {
  writeIni(0, port, "127.0.0.1", destination.port);
  auto panel = launch();
  click(panel->button(IDC_SETTINGS));
  click(panel->button(IDC_ACTIVE));  // switched on while the dialog is open
  ASSERT_TRUE(panel->started());
  click(settings.button(IDC_LOCALHOST));  // untick: the host may be typed
  const std::string newPort = std::to_string(freePort());
  typeInto(IDC_LISTEN_PORT_EDIT, newPort);
  typeInto(IDC_HOST_EDIT, "relay.example");
  click(settings.button(IDOK));
  EXPECT_EQ(panel->itemText(IDC_LISTEN_GROUP), "TCP:" + newPort);
  EXPECT_EQ(readFile(ini), "[TCP-PORT0]\nACT=1\nPORT=" + newPort + "\nFORWARDHOST=relay.example\nFORWARDPORT=" +
                               std::to_string(destination.port) + "\n");
  int client = connectLoopback(port);  // still the old port, to the old destination
  int served = waitFor([&] { return panel->connectionCount == 1; }) ? destination.acceptOne() : -1;
  EXPECT_GE(served, 0);
  EXPECT_LT(connectLoopback(std::stoi(newPort), 200ms), 0);
  closeFd(client), closeFd(served);
  click(panel->button(IDC_ACTIVE));
}

TEST_F(PortDlgTest, LocalHostInAnyCaseTicksTheBoxAHostInAnotherEncodingSurvivesAndLabelsShowWhole) {
  for (const std::string host : {"LocalHost", "127.0.0.1", "localhost.example"}) {
    writeIni(0, 1000, host, 2000);
    auto panel = launch();
    click(panel->button(IDC_SETTINGS));
    const bool local = host != "localhost.example";
    EXPECT_EQ(settings.checkState(IDC_LOCALHOST), local ? 1 : 0) << host;
    EXPECT_EQ(settings.edit(IDC_HOST_EDIT)->isEnabled(), !local) << host;
    click(settings.button(IDCANCEL));
  }
  const std::string sjis = "\x93\xfa\x96\x7b.example";  // from the other edition's file
  writeIni(0, 1000, sjis, 2000);
  auto panel = launch();
  EXPECT_EQ(panel->itemText(IDC_FORWARD_HOST), "\uFFFD\uFFFD\uFFFD{.example");  // shown, not kept
  click(panel->button(IDC_SETTINGS));
  typeInto(IDC_FORWARD_PORT_EDIT, "2001");
  click(settings.button(IDOK));
  EXPECT_EQ(readFile(ini), "[TCP-PORT0]\nACT=0\nPORT=1000\nFORWARDHOST=" + sjis + "\nFORWARDPORT=2001\n");

  // The fixed labels need room for their whole text in the font actually used (a substitute
  // font is wider than the one the panel was drawn with).
  int labels = 0;
  for (auto* label : panel->findChildren<QLabel*>()) {
    const QString text = label->text();
    if (text != "Port No." && text != "Ip/Host" && text != QString::fromUtf8("接続数")) continue;
    ++labels;
    EXPECT_EQ(colourOf(label), CPortDlg::kBackground) << text.toStdString();
    EXPECT_LE(label->fontMetrics().horizontalAdvance(text), label->contentsRect().width()) << text.toStdString();
  }
  EXPECT_EQ(labels, 3);
  EXPECT_EQ(colourOf(panel.get()), CPortDlg::kBackground);
  EXPECT_EQ(colourOf(panel->item(IDC_FORWARD_HOST)), CPortDlg::kValue);
}

}  // namespace
