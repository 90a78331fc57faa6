// The port panel driven as a user would -- clicks, typed text, answered message boxes -- over
// real INI files and a real repeater on 127.0.0.1, served from the Qt event loop as in the
// program, so relaying goes on inside modal windows.
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QRadioButton>
#include <QTest>
#include <gtest/gtest.h>
#include <arpa/inet.h>
#include <poll.h>

#include "../dialogs/DialogTestUtil.h"
#include "../ui/UiTestUtil.h"
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
using dlgtest::BoxAnswerer;

namespace {

bool waitFor(const std::function<bool()>& done) { return QTest::qWaitFor(done, 5000); }
bool readable(int fd) {
  pollfd p{fd, POLLIN, 0};
  return ::poll(&p, 1, 0) == 1;
}
QColor colourOf(const QWidget* w) {
  QColor c;
  return ui::hasBackground(w, &c) ? c : QColor();
}
void click(QWidget* w) { QTest::mouseClick(w, Qt::LeftButton); }

class PortDlgTest : public ::testing::Test {
protected:
  static void SetUpTestSuite() { ASSERT_TRUE(socketInit()); }
  void SetUp() override {
    uitest::initOnce();
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
  dlgtest::ModalWatch<QMessageBox> boxWatch([&](QMessageBox* box) {  // relaying goes on under it
    text = box->text().toStdString();
    clients[0] = connectLoopback(port);
    served = waitFor([&] { return panel->connectionCount == 1; }) ? destination.acceptOne() : -1;
    if (served >= 0 && sendAll(clients[0], "ping") && waitFor([&] { return readable(served); }))
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
  dlgtest::ModalWatch<CStatusDlg> statusWatch([&](CStatusDlg* status) {
    rows = status->list->itemCount();
    click(status->button(IDOK));
  });
  click(panel->button(IDC_CONFIRM));  // the rows themselves are the status dialog's own tests
  EXPECT_EQ(rows, 2);
  dlgtest::resetClose(clients[0]);
  ASSERT_TRUE(waitFor([&] { return panel->itemText(IDC_COUNT) == "1"; }));
  EXPECT_EQ(colourOf(count), CPortDlg::kActive);
  closeFd(served);
  dlgtest::resetClose(clients[1]);
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
  struct Case { int port, forwardPort; std::string message; };
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
    EXPECT_EQ(panel->itemText(IDC_ACTIVE), "OFF");
    EXPECT_EQ(panel->checkState(IDC_ACTIVE), 0);
    EXPECT_FALSE(panel->repeater.isListening());
    EXPECT_EQ(readFile(ini), before);
  }
}

TEST_F(PortDlgTest, TheSettingsDialogThroughThePanel) {
  writeIni(0, 1000, "example.org", 2000);
  auto panel = launch(0);
  const std::string p = std::to_string(port);
  struct { std::string listen, host, forward; } typed[] = {{p, "relay.example", "6000"},
      {"7000", "other", "7001"}, {"7000", "other", "7001"}, {"abc", "relay.example", "70000"}};
  for (int way = 0; way < 4; ++way) {  // OK, Cancel, the close box, OK with letters and 70000
    click(panel->button(IDC_SETTINGS));
    EXPECT_EQ(settings.edit(IDC_LISTEN_PORT_EDIT)->text().toStdString(), way ? p : "1000");
    typeInto(IDC_LISTEN_PORT_EDIT, typed[way].listen);
    typeInto(IDC_HOST_EDIT, typed[way].host);
    typeInto(IDC_FORWARD_PORT_EDIT, typed[way].forward);
    if (way == 1) click(settings.button(IDCANCEL));
    else if (way == 2) settings.close();
    else click(settings.button(IDOK));
    EXPECT_TRUE(settings.isFree());
    EXPECT_EQ(panel->itemText(IDC_LISTEN_GROUP), "TCP:" + p) << way;
    EXPECT_EQ(panel->itemText(IDC_FORWARD_HOST), "relay.example");
    EXPECT_EQ(panel->itemText(IDC_FORWARD_PORT), "6000");
    EXPECT_EQ(readFile(ini), "[TCP-PORT0]\nACT=0\nPORT=" + p +
                                 "\nFORWARDHOST=relay.example\nFORWARDPORT=6000\n");
  }

  auto second = launch(1);
  click(panel->button(IDC_SETTINGS));
  BoxAnswerer box;
  click(second->button(IDC_SETTINGS));  // held by the first panel
  EXPECT_EQ(box.text, "現在PORTの設定中です");
  EXPECT_EQ(settings.listener, static_cast<CSettingDlgListener*>(panel.get()));
  box.answer = QMessageBox::No;
  QLineEdit* host = settings.edit(IDC_HOST_EDIT);
  QWidget* tick = settings.button(IDC_LOCALHOST);
  click(tick);
  EXPECT_EQ(box.text, "localhost(同じPC内)への転送に変更しますか？");
  EXPECT_EQ(host->text(), "relay.example");
  click(tick);  // un-tick: nothing asked
  box.answer = QMessageBox::Yes;
  click(tick);
  EXPECT_EQ(box.count(), 3);
  EXPECT_FALSE(host->isEnabled());
  click(tick);  // un-tick, then re-tick a name that is local already: nothing asked
  click(tick);
  EXPECT_EQ(box.count(), 3);
  EXPECT_EQ(settings.checkState(IDC_LOCALHOST), 1);
  click(settings.button(IDOK));
  EXPECT_EQ(panel->itemText(IDC_FORWARD_HOST), "127.0.0.1");
  EXPECT_EQ(ini::getPrivateProfileString("TCP-PORT0", "FORWARDHOST", "", ini), "127.0.0.1");

  click(panel->button(IDC_ACTIVE));
  ASSERT_TRUE(panel->repeater.isListening());
  box.answer = QMessageBox::Ok;
  click(panel->button(IDC_SETTINGS));
  EXPECT_EQ(box.text, "PORTを使用中です。OFF状態で設定して下さい");
  EXPECT_TRUE(settings.isFree());
  click(second->button(IDC_SETTINGS));  // free again: another panel may have it
  EXPECT_EQ(settings.listener, static_cast<CSettingDlgListener*>(second.get()));
  second.reset();  // a panel that goes away gives it back
  EXPECT_TRUE(settings.isFree());
}

// The access dialog from the panel's context entries: refused while ON, only OK makes the
// working copy live, and only the keys the user changed reach the file.
TEST_F(PortDlgTest, TheAccessDialogThroughThePanel) {
  writeIni(0, port, "127.0.0.1", destination.port);
  auto panel = launch();
  const std::string before = readFile(ini);
  QMenu menu;
  panel->addContextEntries(menu);
  ASSERT_EQ(menu.actions().size(), 7);  // the access dialog, then six lines of totals
  EXPECT_EQ(menu.actions()[0]->text(), QString::fromUtf8("アクセス設定(&A)..."));
  EXPECT_EQ(menu.actions()[0]->data().toInt(), ID_PANEL_ACCESS);
  EXPECT_EQ(menu.actions()[3]->text(), QString::fromUtf8("拒否した接続: 0"));

  uitest::whenModal<CAccessDlg>([](CAccessDlg* d) {
    QTest::mouseClick(d->button(IDC_MODE_LOCALHOST), Qt::LeftButton, {}, QPoint(6, 6));  // on its circle
    d->edit(IDC_LISTEN_HOST_EDIT)->setText("::");
    d->close();
  });
  panel->command(ID_PANEL_ACCESS);
  EXPECT_EQ(panel->filter.mode, CIpFilter::ModeAcceptAll);
  EXPECT_EQ(readFile(ini), before);
  uitest::whenModal<CAccessDlg>([](CAccessDlg* d) {
    QTest::mouseClick(d->button(IDC_MODE_LOCALHOST), Qt::LeftButton, {}, QPoint(6, 6));
    QTest::mouseClick(d->button(IDOK), Qt::LeftButton);
  });
  panel->command(ID_PANEL_ACCESS);
  EXPECT_EQ(panel->filter.mode, CIpFilter::ModeLocalHost);
  EXPECT_EQ(readFile(ini), before + "FILTER=1\n") << "only the changed key is written";

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
  const int newPort = freePort();
  typeInto(IDC_LISTEN_PORT_EDIT, std::to_string(newPort));
  typeInto(IDC_HOST_EDIT, "relay.example");
  typeInto(IDC_FORWARD_PORT_EDIT, "6000");
  click(settings.button(IDOK));
  EXPECT_EQ(panel->itemText(IDC_LISTEN_GROUP), "TCP:" + std::to_string(newPort));
  EXPECT_EQ(panel->itemText(IDC_FORWARD_HOST), "relay.example");
  EXPECT_EQ(panel->itemText(IDC_FORWARD_PORT), "6000");
  EXPECT_EQ(readFile(ini), "[TCP-PORT0]\nACT=1\nPORT=" + std::to_string(newPort) +
                               "\nFORWARDHOST=relay.example\nFORWARDPORT=6000\n");
  int client = connectLoopback(port);  // still the old port, to the old destination
  ASSERT_GE(client, 0);
  int served = waitFor([&] { return panel->connectionCount == 1; }) ? destination.acceptOne() : -1;
  EXPECT_GE(served, 0);
  EXPECT_LT(connectLoopback(newPort, 200ms), 0);
  closeFd(client);
  closeFd(served);
  click(panel->button(IDC_ACTIVE));
}

TEST_F(PortDlgTest, LocalHostInAnyCaseTicksTheBoxAndAHostInAnotherEncodingSurvivesOk) {
  for (const std::string host : {"localhost", "LocalHost", "LOCALHOST", "127.0.0.1", "localhost.example"}) {
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
}

TEST_F(PortDlgTest, ColoursFollowTheTableAndTheLabelsShowWhole) {
  writeIni(0, 1000, "127.0.0.1", 2000);
  auto panel = launch();
  EXPECT_EQ(colourOf(panel.get()), CPortDlg::kBackground);
  for (int id : {IDC_ACTIVE, IDC_SETTINGS, IDC_CONFIRM}) EXPECT_EQ(colourOf(panel->item(id)), CPortDlg::kBackground) << id;
  for (int id : {IDC_FORWARD_PORT, IDC_FORWARD_HOST, IDC_LISTEN_GROUP, IDC_COUNT})
    EXPECT_EQ(colourOf(panel->item(id)), CPortDlg::kValue) << id;
  // The fixed labels: the background colour, and room for their whole text in the font
  // actually used (a substitute font is wider than the one the panel was drawn with).
  int labels = 0;
  for (auto* label : panel->findChildren<QLabel*>()) {
    const QString text = label->text();
    if (text != "Port No." && text != "Ip/Host" && text != QString::fromUtf8("接続数")) continue;
    ++labels;
    EXPECT_EQ(colourOf(label), CPortDlg::kBackground) << text.toStdString();
    EXPECT_LE(label->fontMetrics().horizontalAdvance(text), label->contentsRect().width())
        << text.toStdString();
  }
  EXPECT_EQ(labels, 3);
}

}  // namespace
