// The main window on the offscreen platform: panel layout, slots added and removed, the boxes
// at launch, every way of closing it stopping the slots, the visibility rule and its menus.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QContextMenuEvent>
#include <QDir>
#include <QMenu>
#include <QMessageBox>
#include <QScreen>
#include <QTest>
#include <cstdlib>
#include <functional>
#include <map>
#include <sys/stat.h>

#include "Modal.h"
#include "ChildProcess.h"
#include "app/AboutDlg.h"
#include "app/RelvaneDlg.h"
#include "dialogs/LogDlg.h"
#include "res/Resource.h"
#include "slot/NetLoopNotifier.h"
#include "slot/PortDlg.h"

using namespace apptest;
using namespace testsupport;

namespace {

// A temp directory as the working directory (the INI file goes there) and as the runtime
// directory, with the socket loop served from Qt's loop.
class MainWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    testsupport::initUiOnce();
    ::setenv("XDG_RUNTIME_DIR", temp.path().c_str(), 1);
    QDir::setCurrent(QString::fromStdString(temp.path().string()));
  }
  void TearDown() override { QDir::setCurrent(previous); }
  std::filesystem::path ini() const { return temp / "RelvaneTiv.ini"; }

  TempDir temp;
  QString previous = QDir::currentPath();
  NetLoopNotifier sockets;
};

TEST_F(MainWindow, OnePanelPerSlotSectionInColumnsOfFiveAndAWindowOfFixedSize) {
  const struct { int sections, panels, columns, rows; } cases[] = {
      {0, 1, 1, 1}, {1, 1, 1, 1}, {3, 3, 1, 3}, {6, 6, 2, 5}, {11, 11, 3, 5}, {31, 30, 6, 5}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.sections);
    std::string file = "[OTHER]\nKEEP=me\n";
    for (int i = 0; i < c.sections; ++i) file += slotSection(i, 0, 0, 0);
    writeFile(ini(), file);
    CRelvaneDlg window(ini().string());
    ASSERT_TRUE(window.create());
    ASSERT_EQ(window.portPanels().size(), static_cast<std::size_t>(c.panels));
    const QSize panel = window.panelRectangle().size();
    ASSERT_TRUE(panel.width() > 150 && panel.height() > 40);
    EXPECT_EQ(window.size(), QSize(c.columns * panel.width(), 20 + c.rows * panel.height()));
    EXPECT_EQ(window.minimumSize(), window.maximumSize()) << "not resizable";
    EXPECT_FALSE(window.windowFlags() & Qt::WindowMaximizeButtonHint);
    const int last = c.panels - 1;
    EXPECT_EQ(window.portPanels().back()->geometry().topLeft(),
              QPoint(last / 5 * panel.width(), 20 + last % 5 * panel.height()));
    for (int i = 0; i < c.panels; ++i) EXPECT_EQ(window.portPanels()[i]->slotIndex, i);
    // Only a file without any slot section gets one; the others are left as they were.
    EXPECT_EQ(readFile(ini()), c.sections ? file : file + slotSection(0, 0, 0, 0));
  }
}

// Runs `open` while a timer answers what it brings up: a popup menu gets its entry `label`
// chosen (its entries go to `entries`, a greyed one marked "-"), a message box the button
// `answer` (else OK), any other modal window is closed. Returns the texts of the
// boxes (an about box's version line, another window's title).
std::vector<std::string> answerWhile(const std::function<void()>& open, const char* label = "",
                                     QMessageBox::StandardButton answer = QMessageBox::Yes,
                                     QStringList* entries = nullptr) {
  std::vector<std::string> boxes;
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
      menu->setActiveAction(wanted);
      QTest::keyClick(menu, Qt::Key_Return);
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
std::vector<std::string> chooseFromMenu(QWidget* target, const char* label,
                                        QMessageBox::StandardButton answer = QMessageBox::Yes,
                                        QStringList* entries = nullptr) {
  return answerWhile([target] {
    QContextMenuEvent click(QContextMenuEvent::Mouse, QPoint(2, 2), target->mapToGlobal(QPoint(2, 2)));
    QApplication::sendEvent(target, &click);
  }, label, answer, entries);
}

TEST_F(MainWindow, SlotsAreAddedAndRemovedThroughTheContextMenusKeepingEveryOtherByte) {
  LoopbackListener destination;
  const std::string port = std::to_string(freePort()), to = std::to_string(destination.port);
  const std::string head = "; mine\n[TCP-PORT0]\nACT=0\nPORT=" + port + "\nFORWARDPORT=" + to + "\n\n";
  const std::string tail = "[OTHER]\nKEEP=me\n[TCP-PORT2]\nACT=0\nPORT=0083\nFORWARDHOST=\x93\xfa\n";
  writeFile(ini(), head + "[TCP-PORT1]\nPORT=82\n\n" + tail);
  CRelvaneDlg window(ini().string());
  ASSERT_TRUE(window.create());
  ASSERT_EQ(window.portPanels().size(), 3u);
  CPortDlg* first = window.portPanels()[0];
  CPortDlg* third = window.portPanels()[2];

  // No is no; a slot that is ON is not removed.
  EXPECT_EQ(chooseFromMenu(window.portPanels()[1], CRelvaneDlg::kRemoveSlot, QMessageBox::No),
            std::vector<std::string>{"TCP-PORT1 (TCP:82) を削除しますか？"});
  QTest::mouseClick(first->button(IDC_ACTIVE), Qt::LeftButton);
  ASSERT_TRUE(first->started());
  EXPECT_EQ(chooseFromMenu(first->item(IDC_COUNT), CRelvaneDlg::kRemoveSlot),
            std::vector<std::string>{CRelvaneDlg::kRemoveWhileOn});
  QTest::mouseClick(first->button(IDC_ACTIVE), Qt::LeftButton);
  EXPECT_EQ(window.portPanels().size(), 3u);

  chooseFromMenu(window.portPanels()[1]->item(IDC_FORWARD_HOST), CRelvaneDlg::kRemoveSlot);
  ASSERT_EQ(window.portPanels().size(), 2u);
  EXPECT_EQ(window.portPanels()[1], third);
  EXPECT_EQ(third->slotIndex, 1);
  const QSize panel = window.panelRectangle().size();
  EXPECT_EQ(window.size(), QSize(panel.width(), 20 + 2 * panel.height()));

  for (int added = 3; added <= 6; ++added) chooseFromMenu(&window, CRelvaneDlg::kAddSlot);
  ASSERT_EQ(window.portPanels().size(), 6u);
  EXPECT_EQ(window.portPanels()[5]->slotIndex, 5);
  EXPECT_EQ(window.portPanels()[5]->itemText(IDC_ACTIVE), "OFF");
  std::string added = head + "[OTHER]\nKEEP=me\n[TCP-PORT1]\nACT=0\nPORT=0083\nFORWARDHOST=\x93\xfa\n";
  for (int i = 2; i < 6; ++i) added += slotSection(i, 0, 0, 0);
  EXPECT_EQ(readFile(ini()), added);
  EXPECT_EQ(window.size(), QSize(2 * panel.width(), 20 + 5 * panel.height()));
  EXPECT_TRUE(window.screen()->availableGeometry().contains(window.frameGeometry()));
}

// The slot's tests own which values are bad and which switch-ons are refused; the window's part
// is one box per cause, naming the slot.
TEST_F(MainWindow, LaunchShowsEachCauseInOneBoxNamingTheSlot) {
  const std::string file = slotSection(0, 0, freePort(), 9) + "[TCP-PORT1]\nACT=1\nPORT=1\nFORWARDPORT=99999\n";
  writeFile(ini(), file);
  ::chmod(ini().c_str(), 0444);
  CRelvaneDlg window(ini().string());
  EXPECT_EQ(answerWhile([&] { EXPECT_TRUE(window.create()); }),
            (std::vector<std::string>{"TCP-PORT1: 転送先ポート番号が無効な設定です",
                                      "設定ファイルに無効な値があります:\n"
                                      "TCP-PORT1 の FORWARDPORT=99999 は無効な値です (0～65535)\n"}));
  QAbstractButton* toggle = window.portPanels()[0]->button(IDC_ACTIVE);
  for (std::size_t boxes : {1u, 0u})  // a failed save, told once
    EXPECT_EQ(answerWhile([&] { QTest::mouseClick(toggle, Qt::LeftButton); }).size(), boxes);
  EXPECT_EQ(readFile(ini()), file);
}

// (The program runs show the relayed connections closed and a hand edit kept.)
TEST_F(MainWindow, EveryWayOfClosingStopsTheSlot) {
  const std::pair<const char*, std::function<void(CRelvaneDlg&)>> ways[] = {
      {"close box", [](CRelvaneDlg& w) { w.close(); }},
      {"Escape", [](CRelvaneDlg& w) { QTest::keyClick(&w, Qt::Key_Escape); }},
      {"Enter", [](CRelvaneDlg& w) { QTest::keyClick(&w, Qt::Key_Return); }},
      {"exit command", [](CRelvaneDlg& w) { w.command(ID_EXIT_APP); }},
  };
  for (const auto& [name, close] : ways) {
    SCOPED_TRACE(name);
    const int port = freePort();
    writeFile(ini(), slotSection(0, 1, port, 9));
    CRelvaneDlg window(ini().string());
    bool listened = false;
    QTimer::singleShot(0, &window, [&] { listened = accepting(port), close(window); });
    QTimer::singleShot(10000, &window, [&] { window.done(99); });  // a way that fails must not hang
    EXPECT_NE(window.runModal(), 99);
    EXPECT_TRUE(listened && window.portPanels().empty());
    EXPECT_FALSE(accepting(port));
  }
}

// Over a panel the menu starts with the panel's entries and the slot's totals (the only slot
// cannot be removed); the about entry and system commands with its id open the about box,
// "ログ" the log window, which shows what the slot has logged since the window was made.
// First the window stays hidden while not meant visible, until the open command.
TEST_F(MainWindow, MenusOpenTheAboutBoxTheAccessDialogAndTheLogWindowAndTheOpenCommandShowsIt) {
  const int port = freePort();
  writeFile(ini(), slotSection(0, 0, port, 9));
  CRelvaneDlg window(ini().string());
  ASSERT_TRUE(window.create());
  window.showMainWindow(false);
  window.show();
  window.setGeometry(QRect(QPoint(10, 10), window.size()));
  EXPECT_FALSE(window.isVisible());
  window.command(ID_OPEN_MAINWINDOW);
  EXPECT_TRUE(window.isVisible());
  window.showMinimized();
  ASSERT_TRUE(window.windowState() & Qt::WindowMinimized);
  window.command(ID_OPEN_MAINWINDOW);
  EXPECT_FALSE(window.windowState() & Qt::WindowMinimized);
  EXPECT_FALSE(window.portPanels().empty());  // opening is not closing
  CPortDlg* panel = window.portPanels()[0];
  QWidget* target = panel->item(IDC_COUNT);  // a right click on a panel's count
  const char* about = "レルベイン Tiv のﾊﾞｰｼﾞｮﾝ情報";
  QStringList entries;
  EXPECT_EQ(chooseFromMenu(target, about, QMessageBox::Yes, &entries),
            std::vector<std::string>{"レルベイン Tiv. Ver.:" RELVANE_PROJECT_VERSION});  // our record
  EXPECT_EQ(entries.join('|').toStdString(),
            "アクセス設定(&A)...|-TCP:" + std::to_string(port) + " ON以降の累計|-処理した接続: 0|-拒否した接続: 0|"
            "-失敗した接続: 0|-受信: 0 バイト|-送信: 0 バイト||スロットを追加|-このスロットを削除|ログ||" + about);
  for (int id : {0x0010, 0x0013, 0x001F, 0x0020, 0xF060})  // the low four bits do not count
    EXPECT_EQ(answerWhile([&] { window.onSysCommand(id); }).size(), id < 0x20 ? 1u : 0u) << id;
  EXPECT_EQ(chooseFromMenu(target, "アクセス設定(&A)..."), std::vector<std::string>{"アクセス設定"});

  QTest::mouseClick(panel->button(IDC_ACTIVE), Qt::LeftButton);
  chooseFromMenu(target, "ログ");
  ASSERT_NE(window.logWindow(), nullptr);
  EXPECT_TRUE(window.logWindow()->isVisible());
  const std::string log = window.logWindow()->itemText(IDC_LOG_TEXT);
  EXPECT_NE(log.find(" TCP-PORT0 待ち受け開始 待受=0.0.0.0:" + std::to_string(port)), std::string::npos) << log;
}

// The README picture: seven slots in two columns, three of them ON with 3, 1 and 2 live
// connections, drawn by the program's own widgets. RELVANE_SCREENSHOT names the file to write.
TEST_F(MainWindow, PictureShowsSeveralSlotsSomeOnWithLiveConnections) {
  LoopbackListener destination;
  const std::map<int, int> clients = {{0, 3}, {1, 1}, {4, 2}};  // slot switched on: its clients
  std::map<int, int> ports;
  std::string file;
  for (int i = 0; i < 7; ++i)
    file += clients.contains(i) ? slotSection(i, 1, ports[i] = freePort(), destination.port) : slotSection(i, 0, 10080 + i, 80 + i);
  writeFile(ini(), file);
  CRelvaneDlg window(ini().string());
  ASSERT_TRUE(window.create());
  std::vector<int> fds;
  for (const auto& [slot, count] : clients) {
    for (int c = 0; c < count; ++c) {
      fds.push_back(connectLoopback(ports[slot]));
      ASSERT_TRUE(QTest::qWaitFor([&] { return window.portPanels()[slot]->connectionCount == c + 1; }));
      fds.push_back(destination.acceptOne());
    }
    EXPECT_EQ(window.portPanels()[slot]->itemText(IDC_COUNT), std::to_string(count));
  }
  if (const char* out = std::getenv("RELVANE_SCREENSHOT")) { EXPECT_TRUE(window.grab().save(out)); }
  for (int& fd : fds) closeFd(fd);
}

}  // namespace
