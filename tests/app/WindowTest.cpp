// The real main window on the offscreen platform, driven as a user drives it: slots launched,
// added and removed through its menus, each panel's buttons, boxes and dialogs, every way of
// closing, its menus, the about box and the README picture. Real INI files, real relaying on
// 127.0.0.1, the socket loop served from Qt's loop as in the program, so relaying goes on under
// modal windows.
#include <gtest/gtest.h>

#include <QClipboard>
#include <QContextMenuEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QScreen>
#include <QScrollBar>
#include <QTest>
#include <QToolButton>
#include <filesystem>
#include <future>
#include <map>
#include <sys/stat.h>

#include "Loopback.h"
#include "Modal.h"
#include "SlotIni.h"
#include "TempDir.h"
#include "UdpPeer.h"
#include "Wait.h"
#include "app/AboutDlg.h"
#include "app/ControlPlace.h"
#include "app/RelvaneDlg.h"
#include "app/VersionRecord.h"
#include "dialogs/AccessDlg.h"
#include "dialogs/LogDlg.h"
#include "dialogs/StatusDlg.h"
#include "dialogs/TotalsDlg.h"
#include "log/EventLog.h"
#include "panel/PortDlg.h"
#include "res/Resource.h"
#include "service/ControlClient.h"
#include "ui/Colors.h"
#include "ui/ListView.h"
#include "ui/NetLoopNotifier.h"
#include "ui/SpinButton.h"

using namespace testsupport;

namespace {

using Texts = std::vector<std::string>;

bool accepting(int port) {
  int fd = connectLoopback(port, 200ms);
  const bool connected = fd >= 0;
  return closeFd(fd), connected;
}

QColor colourOf(const QWidget* w) {
  QColor c;
  return ui::hasBackground(w, &c) ? c : QColor();
}

// Runs `open` while a timer answers what it brings up: a popup menu gets its entry `label`
// chosen (its entries go to `entries`, a greyed one marked "-"), a message box the button
// `answer` (else OK), any other modal window is closed. Returns the texts of the boxes (an
// about box's version line, another window's title).
Texts answerWhile(const std::function<void()>& open, const char* label = "",
                  QMessageBox::StandardButton answer = QMessageBox::Yes, QStringList* entries = nullptr) {
  Texts boxes;
  QTimer timer;
  QObject::connect(&timer, &QTimer::timeout, [&] {
    if (auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())) {
      QAction* wanted = nullptr;
      for (QAction* action : menu->actions()) {
        if (entries) *entries << (action->isEnabled() ? "" : "-") + action->text();
        if (action->text() == QString::fromUtf8(label) && action->isVisible()) wanted = action;
      }
      entries = nullptr;
      if (!wanted) return menu->close(), void();
      menu->setActiveAction(wanted), QTest::keyClick(menu, Qt::Key_Return);
    } else if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
      boxes.push_back(box->text().toStdString());
      box->button(box->button(answer) ? answer : QMessageBox::Ok)->click();
    } else if (QWidget* modal = QApplication::activeModalWidget()) {
      auto* about = qobject_cast<CAboutDlg*>(modal);
      boxes.push_back(about ? about->itemText(IDC_VERSION) : modal->windowTitle().toStdString());
      modal->close();
    }
  });
  timer.start(20);
  open();
  return boxes;
}

// Right-clicks `target` and chooses `label` from the menu that comes up.
Texts chooseFromMenu(QWidget* target, const char* label, QMessageBox::StandardButton answer = QMessageBox::Yes,
                     QStringList* entries = nullptr) {
  QContextMenuEvent click(QContextMenuEvent::Mouse, QPoint(2, 2), target->mapToGlobal(QPoint(2, 2)));
  return answerWhile([&] { QApplication::sendEvent(target, &click); }, label, answer, entries);
}

// The INI file in a temp directory, which is the runtime directory too.
class Window : public ::testing::Test {
protected:
  void SetUp() override { initUiOnce(), ::setenv("XDG_RUNTIME_DIR", temp.path().c_str(), 1); }
  std::string ini() const { return (temp / "RelvaneTiv.ini").string(); }
  TempDir temp;
  NetLoopNotifier sockets;
  LoopbackListener destination;
};

// Launch boxes name their slot; a removed slot takes its section along and the later ones move
// down with every other byte kept; added slots are saved switched off; the panels stand in
// columns of five; a failed save is told once and the change waits for the next save.
TEST_F(Window, ThreeSlotsLaunchedOneRemovedSomeAddedInColumnsOfFive) {
  const int port = freePort();
  const std::string head = "; mine\n" + slotSection(0, 1, port, destination.port) + "\n[OTHER]\nKEEP=me\n";
  const std::string tail = "[TCP-PORT2]\nACT=0\nPORT=0083\nFORWARDHOST=\x93\xfa\n";
  writeFile(ini(), head + "[TCP-PORT1]\nACT=1\nPORT=1\nFORWARDPORT=99999\n" + tail);
  CRelvaneDlg window(ini());
  const Texts launchBoxes = {
      "TCP-PORT1: 転送先ポート番号が無効な設定です",
      "設定ファイルに無効な値があります:\nTCP-PORT1 の FORWARDPORT=99999 は無効な値です (0～65535)\n"};
  EXPECT_EQ(answerWhile([&] { EXPECT_TRUE(window.create()); }), launchBoxes);
  ASSERT_EQ(window.portPanels().size(), 3u);
  CPortDlg *first = window.portPanels()[0], *third = window.portPanels()[2];
  EXPECT_EQ(third->itemText(IDC_FORWARD_HOST), "\uFFFD\uFFFD");  // shown, not kept
  EXPECT_TRUE(first->slot.started());

  const char* remove = CRelvaneDlg::kRemoveSlot;
  EXPECT_EQ(chooseFromMenu(window.portPanels()[1], remove, QMessageBox::No),
            Texts{"TCP-PORT1 (TCP:1) を削除しますか？"});
  chooseFromMenu(window.portPanels()[1]->item(IDC_FORWARD_HOST), remove);
  ASSERT_EQ(window.portPanels(), (std::vector<CPortDlg*>{first, third}));  // renumbered: its key goes to [TCP-PORT1]
  const std::string renamed = head + "[TCP-PORT1]" + tail.substr(tail.find('\n'));
  const QSize panel = window.panelRectangle().size();
  ASSERT_TRUE(panel.width() > 150 && panel.height() > 40);
  EXPECT_EQ(window.size(), QSize(panel.width(), 20 + 2 * panel.height()));

  click(third->button(IDC_SETTINGS));  // only the changed key is written; the host keeps its bytes
  EXPECT_TRUE(third->settingsDialog->edit(IDC_HOST_EDIT)->isEnabled()) << "not this PC";
  retype(third->settingsDialog->edit(IDC_FORWARD_PORT_EDIT), "2001");
  click(third->settingsDialog->button(IDOK));
  std::string file = renamed + "FORWARDPORT=2001\n";
  EXPECT_EQ(readFile(ini()), file);

  for (int added = 3; added <= 6; ++added) chooseFromMenu(&window, CRelvaneDlg::kAddSlot);
  ASSERT_EQ(window.portPanels().size(), 6u);
  EXPECT_TRUE(window.screen()->availableGeometry().contains(window.frameGeometry()));
  while (window.portPanels().size() < 11) window.addSlot();
  EXPECT_EQ(window.portPanels()[10]->itemText(IDC_ACTIVE), "OFF");
  for (int i = 2; i < 11; ++i) file += slotSection(i, 0, 0, 0, "127.0.0.1", "LISTENHOST=127.0.0.1\n");
  EXPECT_EQ(readFile(ini()), file);
  EXPECT_EQ(window.size(), QSize(3 * panel.width(), 20 + 5 * panel.height()));
  EXPECT_EQ(window.portPanels()[7]->geometry().topLeft(), QPoint(panel.width(), 20 + 2 * panel.height()));
  EXPECT_TRUE(window.minimumSize() == window.maximumSize() && !(window.windowFlags() & Qt::WindowMaximizeButtonHint));

  ::chmod(ini().c_str(), 0444);
  for (std::size_t boxes : {1u, 0u})  // the same cause twice is told once
    EXPECT_EQ(answerWhile([&] { click(first->button(IDC_ACTIVE)); }).size(), boxes);
  EXPECT_EQ(readFile(ini()), file);
  ::chmod(ini().c_str(), 0644);
  click(first->button(IDC_ACTIVE));
  EXPECT_FALSE(first->slot.started());
  EXPECT_EQ(readFile(ini()), file.replace(file.find("ACT=1"), 5, "ACT=0"));
}

// One panel from a file without slots: its settings and access dialogs, the shared dialog held
// by one panel at a time, refusals, relaying under a box, the count and the status table.
TEST_F(Window, APanelDrivenThroughItsButtonsAndDialogs) {
  writeFile(ini(), "[OTHER]\nKEEP=me\n");
  CRelvaneDlg window(ini());
  ASSERT_TRUE(window.create());
  std::string file = "[OTHER]\nKEEP=me\n" + slotSection(0, 0, 0, 0);
  EXPECT_EQ(readFile(ini()), file) << "a file without slots gets one";
  window.addSlot();
  CPortDlg *panel = window.portPanels()[0], *second = window.portPanels()[1];
  CSettingDlg& settings = *panel->settingsDialog;

  EXPECT_EQ(answerWhile([&] { click(panel->button(IDC_ACTIVE)); }), Texts{CPortSlot::kListenPortInvalid});
  EXPECT_TRUE(panel->itemText(IDC_ACTIVE) == "OFF" && !panel->checkState(IDC_ACTIVE));
  click(panel->button(IDC_SETTINGS));  // 127.0.0.1 is this PC: ticked, the host not typed
  EXPECT_TRUE(settings.checkState(IDC_LOCALHOST) == 1 && !settings.edit(IDC_HOST_EDIT)->isEnabled());
  EXPECT_EQ(answerWhile([&] { click(second->button(IDC_SETTINGS)); }), Texts{CPortDlg::kSettingBusy});
  const std::string p = std::to_string(freePort()), to = std::to_string(destination.port);
  retype(settings.edit(IDC_LISTEN_PORT_EDIT), p.c_str()), retype(settings.edit(IDC_FORWARD_PORT_EDIT), to.c_str());
  click(settings.button(IDOK));
  EXPECT_EQ(panel->itemText(IDC_LISTEN_GROUP) + " " + panel->itemText(IDC_FORWARD_PORT), "TCP:" + p + " " + to);
  file = "[OTHER]\nKEEP=me\n" + slotSection(0, 0, std::stoi(p), destination.port) +
         slotSection(1, 0, 0, 0, "127.0.0.1", "LISTENHOST=127.0.0.1\n");
  EXPECT_EQ(readFile(ini()), file);

  // Taken on OK; only the changed key is written.
  whenModal<CAccessDlg>([](CAccessDlg* d) { click(d->button(IDC_MODE_LOCALHOST)), click(d->button(IDOK)); });
  panel->command(ID_PANEL_ACCESS);
  EXPECT_EQ(panel->slot.filter.mode, CIpFilter::ModeLocalHost);
  file.insert(file.find("[TCP-PORT1]"), "FILTER=1\n");
  EXPECT_EQ(readFile(ini()), file);

  click(panel->button(IDC_SETTINGS)), click(panel->button(IDC_ACTIVE));  // switched on while the dialog is open
  ASSERT_TRUE(panel->slot.started());
  const auto accessThenSettings = [&] { panel->command(ID_PANEL_ACCESS), click(panel->button(IDC_SETTINGS)); };
  EXPECT_EQ(answerWhile(accessThenSettings), Texts(2, CPortDlg::kPortInUse));
  const std::string moved = std::to_string(freePort());
  retype(settings.edit(IDC_LISTEN_PORT_EDIT), moved.c_str());
  click(settings.button(IDOK));  // taken over and saved; the running relay keeps the old port
  EXPECT_EQ(panel->itemText(IDC_LISTEN_GROUP), "TCP:" + moved);
  EXPECT_NE(readFile(ini()).find("ACT=1\nPORT=" + moved + "\n"), std::string::npos);
  EXPECT_FALSE(accepting(std::stoi(moved)));
  click(second->button(IDC_SETTINGS));  // free again: another panel may have it
  EXPECT_EQ(settings.listener, static_cast<CSettingDlgListener*>(second));
  answerWhile([&] { EXPECT_TRUE(window.removeSlot(second)); });
  EXPECT_TRUE(settings.isFree()) << "a panel that goes away gives it back";

  int clients[2] = {-1, -1}, served = -1;
  std::string atDestination, text;
  whenModal<QMessageBox>([&](QMessageBox* box) {  // relaying goes on under a box
    text = box->text().toStdString();
    clients[0] = connectLoopback(std::stoi(p));
    served = waitUntil([&] { return panel->slot.connectionCount == 1; }) ? destination.acceptOne() : -1;
    if (served >= 0 && sendAll(clients[0], "ping") && waitUntil([&] { return readableWithin(served, 0ms); }))
      atDestination = recvExact(served, 4);
    box->button(QMessageBox::Ok)->click();
  });
  click(panel->button(IDC_CONFIRM));  // while nothing is connected
  EXPECT_EQ(text, "現在接続はありません.");
  EXPECT_EQ(atDestination, "ping");
  clients[1] = connectLoopback(std::stoi(p));
  ASSERT_TRUE(waitUntil([&] { return panel->itemText(IDC_COUNT) == "2"; }));
  EXPECT_EQ(colourOf(panel->item(IDC_COUNT)), CPortDlg::kActive);
  int rows = -1;
  whenModal<CStatusDlg>([&](CStatusDlg* status) { rows = status->list->itemCount(), click(status->button(IDOK)); });
  click(panel->button(IDC_CONFIRM));
  EXPECT_EQ(rows, 2);
  for (int& client : clients) resetClose(client);
  closeFd(served);
  ASSERT_TRUE(waitUntil([&] { return panel->itemText(IDC_COUNT) == "0"; }));
  EXPECT_EQ(colourOf(panel->item(IDC_COUNT)), CPortDlg::kValue);

  QStringList fitting;  // fixed labels on the panel's colour with room for their text in the font actually used
  for (auto* label : panel->findChildren<QLabel*>())
    if (colourOf(label) == CPortDlg::kBackground &&
        label->fontMetrics().horizontalAdvance(label->text()) <= label->contentsRect().width())
      fitting << label->text();
  for (const char* caption : {"Port No.", "Ip/Host", "接続数"}) EXPECT_TRUE(fitting.contains(caption)) << caption;
  EXPECT_EQ(colourOf(panel), CPortDlg::kBackground);
  EXPECT_EQ(colourOf(panel->item(IDC_FORWARD_HOST)), CPortDlg::kValue);
  window.close();
}

// "スロットを追加" makes a slot that listens on this PC only and says so in its section, while a
// slot of an old file (every address, the filter off) warns on its tooltips and in its listening
// line. While a slot is ON its menu greys what it would refuse; its totals open in a window.
TEST_F(Window, ANewSlotListensOnThisPcOnlyAndTheMenuFollowsTheSlotsState) {
  const int old = freePort(), p = freePort();
  const std::string to = std::to_string(destination.port), first = slotSection(0, 1, old, destination.port);
  writeFile(ini(), first);
  CRelvaneDlg window(ini());
  ASSERT_TRUE(window.create());
  const std::string warning = "他のPCから接続可能・フィルタなし";
  EXPECT_TRUE(window.portPanels()[0]->item(IDC_FORWARD_HOST)->toolTip().endsWith(QString::fromStdString(warning)));
  chooseFromMenu(&window, CRelvaneDlg::kAddSlot);
  ASSERT_EQ(window.portPanels().size(), 2u);
  CPortDlg* added = window.portPanels()[1];
  EXPECT_EQ(readFile(ini()), first + slotSection(1, 0, 0, 0, "127.0.0.1", "LISTENHOST=127.0.0.1\n"));

  click(added->button(IDC_SETTINGS));
  retype(added->settingsDialog->edit(IDC_LISTEN_PORT_EDIT), QString::number(p));
  retype(added->settingsDialog->edit(IDC_FORWARD_PORT_EDIT), QString::fromStdString(to));
  click(added->settingsDialog->button(IDOK));
  EXPECT_EQ(added->item(IDC_FORWARD_PORT)->toolTip().toStdString(),
            "転送先: 127.0.0.1:" + to + "\n待ち受け: 127.0.0.1 (TCP:" + std::to_string(p) +
                ")\n接続を受け付ける相手: すべて受け付ける");
  click(added->button(IDC_ACTIVE));
  EXPECT_EQ(connectLoopback(p, 2s, "127.0.0.2"), -1) << "another local address finds nobody listening";
  int client = connectLoopback(p);
  ASSERT_TRUE(waitUntil([&] { return added->slot.totals().served == 1; })) << "served from 127.0.0.1";

  QStringList entries;
  chooseFromMenu(added->item(IDC_COUNT), "?", QMessageBox::Yes, &entries);  // no such entry: only looked at
  EXPECT_EQ(entries.join('|').toStdString(),
            "-アクセス設定(&A)...|-詳細設定(&D)...|累計(&T)...|通信内容を記録(&C)|-通信内容(&V)...|"
            "障害シミュレーション(&F)...||スロットを追加|-このスロットを削除|ログ||レルベイン Tiv のﾊﾞｰｼﾞｮﾝ情報");
  EXPECT_EQ(chooseFromMenu(added->item(IDC_COUNT), CPortDlg::kTotalsEntry), Texts{"累計"});
  std::string figures;
  whenModal<CTotalsDlg>([&](CTotalsDlg* d) {
    figures = d->itemText(IDC_TOTALS_LABELS) + "|" + d->itemText(IDC_TOTALS_VALUES), click(d->button(IDOK));
  });
  added->command(ID_PANEL_TOTALS);
  EXPECT_EQ(figures, "処理した接続\n拒否した接続\n失敗した接続\n受信\n送信|1\n0\n0\n0 バイト\n0 バイト");
  closeFd(client);

  window.command(ID_VIEW_LOG);
  const std::string log = window.logWindow()->itemText(IDC_LOG_TEXT), dest = " 転送先=127.0.0.1:" + to;
  EXPECT_NE(log.find(" TCP-PORT0 待ち受け開始 待受=0.0.0.0:" + std::to_string(old) + dest + " 注意=" + warning + "\n"),
            std::string::npos)
      << log;
  EXPECT_NE(log.find(" TCP-PORT1 待ち受け開始 待受=127.0.0.1:" + std::to_string(p) + dest + "\n"), std::string::npos);
}

// A UDP slot in the window: headed UDP:<port>, its session counted and listed in the status table.
TEST_F(Window, AUdpSlotCountsAndListsItsSessions) {
  UdpEcho echo;
  const int p = freePort();
  writeFile(ini(), slotSection(0, 1, p, echo.port, "127.0.0.1", "PROTOCOL=UDP\n"));
  CRelvaneDlg window(ini());
  ASSERT_TRUE(window.create());
  CPortDlg* panel = window.portPanels()[0];
  EXPECT_EQ(panel->itemText(IDC_LISTEN_GROUP), "UDP:" + std::to_string(p));
  int client = udpSocket("127.0.0.1");
  sendTo(client, "127.0.0.1", p, "ping");
  EXPECT_EQ(awaitDatagram(client), "ping");
  EXPECT_EQ(panel->itemText(IDC_COUNT), "1");
  std::string cells;
  whenModal<CStatusDlg>([&](CStatusDlg* status) {
    cells = status->list->itemText(0, 1) + " " + status->list->itemText(0, 8), click(status->button(IDOK));
  });
  click(panel->button(IDC_CONFIRM));
  EXPECT_EQ(cells, std::to_string(portOf(client)) + " " + std::to_string(echo.port));
  closeFd(client);
  window.close();
}

// The control socket of the window's file: on and off go through the panel, whose box follows as
// after a click; reload is refused, as the window holds the user's settings. The socket goes
// with the window.
TEST_F(Window, ControlRequestsSwitchThroughThePanelAndReloadIsRefused) {
  const int port = freePort();
  writeFile(ini(), slotSection(0, 0, port, destination.port));
  CRelvaneDlg window(ini());
  ASSERT_TRUE(window.create());
  CPortDlg* panel = window.portPanels()[0];
  const std::string socket = controlSocketPath(ini());
  const auto ask = [&](const std::string& request) {  // the client blocks: in a thread of its own
    auto answer = std::async(std::launch::async, [&] { return service::askControl(socket, request, 5s); });
    waitUntil([&] { return answer.wait_for(0s) == std::future_status::ready; });
    return answer.get();
  };
  for (const bool on : {true, false}) {
    EXPECT_TRUE(ask(on ? "on 0" : "off 0").ok);
    EXPECT_EQ(panel->checkState(IDC_ACTIVE) == 1 && panel->itemText(IDC_ACTIVE) == "ON", on);
    EXPECT_EQ(accepting(port), on);
  }
  EXPECT_EQ(ask("reload").reason,
            "ウィンドウ版は編集中の設定を保持しているため読み直しません。ファイルを読み直すにはウィンドウを閉じて起動し"
            "直してください");
  window.close();
  EXPECT_FALSE(std::filesystem::exists(socket));
}

// The shared settings dialog as a panel opens it: typing (also through the input method), the
// port fields, every way out, and the localhost tick with its question.
TEST_F(Window, TheSettingsDialogTypedIntoLeftEveryWayAndTickedForLocalhost) {
  writeFile(ini(), slotSection(0, 0, 8080, 8080, "example.org"));
  CRelvaneDlg window(ini());
  ASSERT_TRUE(window.create());
  CPortDlg* panel = window.portPanels()[0];
  CSettingDlg& dialog = *panel->settingsDialog;
  QLineEdit *listen = dialog.edit(IDC_LISTEN_PORT_EDIT), *forward = dialog.edit(IDC_FORWARD_PORT_EDIT),
            *host = dialog.edit(IDC_HOST_EDIT);
  click(panel->button(IDC_SETTINGS));
  commitText(host, QStringLiteral("ホスト"));                    // after the shown text
  for (const char* text : {" 443 ", "abc", "70000", "1,000"}) {  // the text as it stands, not on the way
    retype(listen, text);
    EXPECT_EQ(std::make_tuple(dialog.listenPortSpin->pos(), listen->text()), std::make_tuple(443, QString(text)));
  }
  listen->clear(), commitText(listen, QStringLiteral("８０８１"));                // full-width: no number
  for (QToolButton* arrow : dialog.listenPortSpin->findChildren<QToolButton*>())  // steps from the last valid number
    if (arrow->arrowType() == Qt::UpArrow) arrow->click();
  EXPECT_EQ(listen->text(), "444");
  for (Qt::Key key : {Qt::Key_Up, Qt::Key_Down, Qt::Key_Down}) QTest::keyClick(forward, key);  // arrow keys too
  EXPECT_EQ(forward->text(), "8079");
  for (const auto& [pos, key, text] : {std::tuple{70000, Qt::Key_Up, "65535"}, {-3, Qt::Key_Down, "0"}}) {
    dialog.destinationPortSpin->setPos(pos);  // both stop at the ends of the range
    QTest::keyClick(forward, key);
    EXPECT_EQ(forward->text(), text);
  }
  retype(listen, "99999");
  QTest::keyClick(host, Qt::Key_Return);
  EXPECT_EQ(panel->itemText(IDC_FORWARD_HOST) + " " + panel->itemText(IDC_LISTEN_GROUP), "example.orgホスト TCP:444");

  auto key = [&](int id, Qt::Key k) { return [&, id, k] { QTest::keyClick(dialog.item(id), k); }; };
  const std::pair<std::function<void()>, bool> ways[] = {
      // and whether it takes; a focused button takes Enter
      {key(IDC_HOST_EDIT, Qt::Key_Return), true},
      {[&] { click(dialog.button(IDOK)); }, true},
      {key(IDC_HOST_EDIT, Qt::Key_Escape), false},
      {[&] { click(dialog.button(IDCANCEL)); }, false},
      {[&] { dialog.close(); }, false},
      {[&] { dialog.button(IDCANCEL)->setFocus(), key(IDCANCEL, Qt::Key_Return)(); }, false}};
  for (int way = 0; way < 6; ++way) {
    window.move(200 + 20 * way, 150 + 10 * way);  // each opening follows the window
    click(panel->button(IDC_SETTINGS));
    EXPECT_FALSE(dialog.isFree());
    const QPoint centre = window.mapToGlobal(window.rect().center());
    EXPECT_LE((dialog.frameGeometry().center() - centre).manhattanLength(), 2) << way;
    retype(listen, QString::number(1000 + way));
    ways[way].first();
    ASSERT_TRUE(!dialog.isVisible() && dialog.isFree()) << way;  // else the next opening is refused
    EXPECT_EQ(panel->itemText(IDC_LISTEN_GROUP), "TCP:" + std::to_string(ways[way].second ? 1000 + way : 1001)) << way;
  }

  click(panel->button(IDC_SETTINGS));
  retype(host, "localhost.example");
  BoxAnswerer box;
  std::string states;  // after each answer, the tick and the host
  for (auto answer : {QMessageBox::NoButton, QMessageBox::No, QMessageBox::Yes, QMessageBox::Yes, QMessageBox::Yes}) {
    box.answer = answer;
    click(dialog.button(IDC_LOCALHOST));
    states += (dialog.checkState(IDC_LOCALHOST) ? "[x] " : "[ ] ") + host->text().toStdString() +
              (host->isEnabled() ? "|" : " (locked)|");
  }
  EXPECT_EQ(states, "[x] localhost.example|[ ] localhost.example|[x] 127.0.0.1 (locked)|[ ] 127.0.0.1|[x] 127.0.0.1|");
  EXPECT_EQ(box.count, 2);  // only the ticks over another host ask (Escape answering No)
  EXPECT_EQ(box.text, "localhost(同じPC内)への転送に変更しますか？");
  EXPECT_EQ(box.look, "app_window_test|4|いいえ(N),はい(Y)");  // the program's name; the question icon
  EXPECT_FALSE(CSettingDlg::isLocalHostName("127.0.0.2") || CSettingDlg::isLocalHostName(" localhost"));
}

// Closing by the close box, Escape, Enter and the exit command.
TEST_F(Window, EveryWayOfClosingStopsTheSlots) {
  const std::function<void(CRelvaneDlg&)> ways[] = {
      [](CRelvaneDlg& w) { w.close(); }, [](CRelvaneDlg& w) { QTest::keyClick(&w, Qt::Key_Escape); },
      [](CRelvaneDlg& w) { QTest::keyClick(&w, Qt::Key_Return); }, [](CRelvaneDlg& w) { w.command(ID_EXIT_APP); }};
  for (int way = 0; way < 4; ++way) {
    const int port = freePort();
    writeFile(ini(), slotSection(0, 1, port, 9));
    CRelvaneDlg window(ini());
    bool listened = false;
    QTimer::singleShot(0, &window, [&] { listened = accepting(port), ways[way](window); });
    QTimer::singleShot(10000, &window, [&] { window.done(99); });  // a way that fails must not hang
    EXPECT_TRUE(window.runModal() != 99 && listened && window.portPanels().empty() && !accepting(port)) << way;
  }
}

// The README picture: seven slots in two columns, three of them ON with 3, 1 and 2 live
// connections (RELVANE_SCREENSHOT names the file to write). The window stays hidden while it is
// not meant to be visible; over a panel the menu starts with the panel's entries and its totals;
// the about entry and system commands with its id open the about box, "ログ" the log window
// that follows the log without taking the focus.
TEST_F(Window, PictureMenusAboutBoxLogWindowAndTheOpenCommand) {
  const std::map<int, int> clients = {{0, 3}, {1, 1}, {4, 2}};  // slot switched on: its clients
  std::map<int, int> ports;
  std::string file;
  for (int i = 0; i < 7; ++i)
    file += clients.contains(i) ? slotSection(i, 1, ports[i] = freePort(), destination.port)
                                : slotSection(i, 0, 10080 + i, 80 + i, "LocalHost");
  writeFile(ini(), file);
  CRelvaneDlg window(ini());
  ASSERT_TRUE(window.create());
  std::vector<int> fds;
  for (const auto& [slot, count] : clients) {
    for (int c = 0; c < count; ++c) {
      fds.push_back(connectLoopback(ports[slot]));
      ASSERT_TRUE(waitUntil([&] { return window.portPanels()[slot]->slot.connectionCount == c + 1; }));
      fds.push_back(destination.acceptOne());
    }
    EXPECT_EQ(window.portPanels()[slot]->itemText(IDC_COUNT), std::to_string(count));
  }
  const char* picture = std::getenv("RELVANE_SCREENSHOT");
  EXPECT_TRUE(!picture || window.grab().save(picture));
  for (int& fd : fds) closeFd(fd);

  window.showMainWindow(false), window.show();
  window.setGeometry(QRect(QPoint(10, 10), window.size()));
  EXPECT_FALSE(window.isVisible());
  window.command(ID_OPEN_MAINWINDOW);
  EXPECT_TRUE(window.isVisible());
  window.showMinimized(), window.command(ID_OPEN_MAINWINDOW);
  EXPECT_FALSE(window.windowState() & Qt::WindowMinimized);
  QWidget* target = window.portPanels()[2]->item(IDC_COUNT);  // a right click on a panel's count
  const char* about = "レルベイン Tiv のﾊﾞｰｼﾞｮﾝ情報";
  QStringList entries;
  EXPECT_EQ(chooseFromMenu(target, about, QMessageBox::Yes, &entries),
            Texts{"レルベイン Tiv. Ver.:" RELVANE_PROJECT_VERSION});  // our record
  EXPECT_EQ(entries.join('|').toStdString(),
            "アクセス設定(&A)...|詳細設定(&D)...|累計(&T)...|通信内容を記録(&C)|-通信内容(&V)...|"
            "障害シミュレーション(&F)...||スロットを追加|このスロットを削除|ログ||" +
                std::string(about));
  for (int id : {0x0010, 0x0013, 0x001F, 0x0020, 0xF060})  // the low four bits do not count
    EXPECT_EQ(answerWhile([&] { window.onSysCommand(id); }).size(), id < 0x20 ? 1u : 0u) << id;
  EXPECT_EQ(chooseFromMenu(target, "アクセス設定(&A)..."), Texts{"アクセス設定"});
  click(window.portPanels()[2]->button(IDC_SETTINGS));  // this PC in any case: ticked
  EXPECT_EQ(window.portPanels()[2]->settingsDialog->checkState(IDC_LOCALHOST), 1);
  chooseFromMenu(target, "ログ");  // with the lines from before it opened
  CLogDlg* log = window.logWindow();
  ASSERT_TRUE(log && log->isVisible());
  EXPECT_NE(log->itemText(IDC_LOG_TEXT).find(" TCP-PORT4 待ち受け開始 待受=0.0.0.0:" + std::to_string(ports[4])),
            std::string::npos);
  window.activateWindow(), QApplication::processEvents();  // the window the user works in
  ASSERT_EQ(QApplication::activeWindow(), &window);
  for (int i = 0; i < 1005; ++i) evlog::post("line " + std::to_string(i));
  QApplication::processEvents();
  EXPECT_EQ(QApplication::activeWindow(), &window) << "new lines do not take the focus";
  const QString shown = log->text()->toPlainText();  // the newest thousand, the oldest gone first
  EXPECT_TRUE(log->lineCount() == 1000 && shown.section('\n', 0, 0).endsWith("=\"line 5\"") &&
              shown.endsWith("=\"line 1004\""));
  const QScrollBar* bar = log->text()->verticalScrollBar();
  EXPECT_TRUE(log->text()->isReadOnly() && bar->value() == bar->maximum()) << "the newest line is in view";
  log->command(IDC_LOG_COPY);
  EXPECT_EQ(QGuiApplication::clipboard()->text().toStdString(), (shown + '\n').toStdString());
  log->setRing(nullptr), evlog::post("after the window let go");
  EXPECT_TRUE(log->text()->toPlainText().endsWith("=\"line 1004\""));
}

// The about box's version line from records standing in for the program's: good, missing or
// broken ones, and the cache that reads a good record once.
// A record held in memory that counts how often it is read.
struct StandInRecord : CVersionRecordSource {
  explicit StandInRecord(std::string record, bool isReadable = true) : text(std::move(record)), readable(isReadable) {}
  std::size_t recordSize() const override { return text.size(); }
  bool readRecord(char* data, std::size_t size) const override {
    return ++reads, readable && size <= text.size() && text.copy(data, size) == size;
  }
  std::string text;
  bool readable;
  mutable int reads = 0;
};

std::string japanese(const std::string& version) {
  return "\\VarFileInfo\\Translation=0411 04b0\n\\StringFileInfo\\041104b0\\ProductVersion=" + version + "\n";
}

TEST(VersionLine, TheFirstTranslationsProductVersionOrOnlyThePrefixReadOnceGoodAndCutOnACharacter) {
  const std::pair<std::string, std::string> cases[] = {
      {japanese("1, 0, 1, 114"), "Ver.:1- 0- 1- 114"},
      {japanese("2;1,3"), "Ver.:2.1-3"},
      // The translation names the second table; sub-blocks match without regard to case.
      {"\\VarFileInfo\\Translation=0409 04B0\n\\StringFileInfo\\041104b0\\ProductVersion=9.9\n"
       "\\stringfileinfo\\040904b0\\productversion=3.2\n",
       "Ver.:3.2"},
      {"\\VarFileInfo\\Translation=0411 04b0\n", "Ver.:"},       // no product version
      {"", ""},                                                  // no record
      {"\\StringFileInfo\\041104b0\\ProductVersion=1.0\n", ""},  // no translation
      {"\\VarFileInfo\\Translation=zz11 04b0\n" + japanese("1.0"), ""},
      {"\\VarFileInfo\\Translation=0411\n", ""},
      {japanese(std::string(248, '1') + "あいう"), "Ver.:" + std::string(248, '1')},  // 257 bytes: "あ" would not fit
  };
  for (const auto& [record, text] : cases) {
    CVersionCache cache;
    EXPECT_EQ(aboutVersionLine(cache.versionText(StandInRecord(record))), "レルベイン Tiv. " + text) << record;
  }

  CVersionCache cache;  // a failed read is tried again; the first good read stands, later changes unseen
  StandInRecord broken(japanese("1.0"), false), good(japanese("1, 2"));
  EXPECT_TRUE(!*cache.versionText(broken) && !*cache.versionText(broken) && broken.reads == 2);
  EXPECT_STREQ(cache.versionText(good), "Ver.:1, 2");
  good.text = japanese("7.7");
  EXPECT_TRUE(cache.versionText(good) == std::string("Ver.:1, 2") && good.reads == 1);
}

}  // namespace
