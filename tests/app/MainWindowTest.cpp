// The main window on the offscreen platform: panel layout, every way of closing it saving
// and stopping the slots, the visibility rule and the about entry of its context menu.
#include <gtest/gtest.h>

#include <QContextMenuEvent>
#include <QDir>
#include <QImage>
#include <QMenu>
#include <QTest>
#include <cstdlib>
#include <functional>

#include "../ui/UiTestUtil.h"
#include "ChildProcess.h"
#include "app/AboutDlg.h"
#include "app/RelvaneDlg.h"
#include "dialogs/AccessDlg.h"
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
    uitest::initOnce();
    ::setenv("XDG_RUNTIME_DIR", temp.path().c_str(), 1);
    QDir::setCurrent(QString::fromStdString(temp.path().string()));
  }
  void TearDown() override { QDir::setCurrent(previous); }
  std::filesystem::path ini() const { return temp / "RelvaneTiv.ini"; }

  TempDir temp;
  QString previous = QDir::currentPath();
  NetLoopNotifier sockets;
};

TEST_F(MainWindow, PanelsStandInColumnsOfFiveBelowTheBand) {
  const struct { int panels, columns, rows, lastColumn, lastRow; } cases[] = {
      {1, 1, 1, 0, 0}, {5, 1, 5, 0, 4}, {6, 2, 5, 1, 0}, {11, 3, 5, 2, 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.panels);
    CRelvaneDlg window(c.panels);
    ASSERT_TRUE(window.create());
    ASSERT_EQ(window.portPanels().size(), static_cast<std::size_t>(c.panels));
    const QSize panel = window.panelRectangle().size();
    ASSERT_TRUE(panel.width() > 150 && panel.height() > 40);
    EXPECT_EQ(window.size(), QSize(c.columns * panel.width(), 20 + c.rows * panel.height()));
    EXPECT_EQ(window.portPanels().front()->geometry().topLeft(), QPoint(0, 20));
    EXPECT_EQ(window.portPanels().back()->geometry().topLeft(),
              QPoint(c.lastColumn * panel.width(), 20 + c.lastRow * panel.height()));
    const std::string saved = readFile(ini());
    for (int i = 0; i < c.panels; ++i) {
      EXPECT_EQ(window.portPanels()[i]->slotIndex, i);
      EXPECT_TRUE(window.rect().contains(window.portPanels()[i]->geometry())) << i;
      EXPECT_NE(saved.find("[TCP-PORT" + std::to_string(i) + "]"), std::string::npos) << i;
    }
  }
}

TEST_F(MainWindow, EveryWayOfClosingSavesTheSlotAndClosesItsSockets) {
  LoopbackListener destination;
  const std::pair<const char*, std::function<void(CRelvaneDlg&)>> ways[] = {
      {"close box", [](CRelvaneDlg& w) { w.close(); }},
      {"Escape", [](CRelvaneDlg& w) { QTest::keyClick(&w, Qt::Key_Escape); }},
      {"Enter", [](CRelvaneDlg& w) { QTest::keyClick(&w, Qt::Key_Return); }},
      {"exit command", [](CRelvaneDlg& w) { w.command(ID_EXIT_APP); }},
  };
  for (const auto& [name, close] : ways) {
    SCOPED_TRACE(name);
    const int port = freePort();
    writeFile(ini(), slotSection(0, 1, port, destination.port) + "[OTHER]\nKEEP=me\n");
    CRelvaneDlg window;
    int client = -1, server = -1;
    bool counted = false;
    QTimer::singleShot(0, &window, [&] {
      client = connectLoopback(port);
      // The relay runs on this thread: it must connect out before the destination accepts.
      counted = QTest::qWaitFor([&] { return window.portPanels()[0]->connectionCount == 1; });
      server = destination.acceptOne();
      writeFile(ini(), "[TCP-PORT0]\nACT=0\n[OTHER]\nKEEP=me\n");  // overwritten at exit
      close(window);
    });
    QTimer::singleShot(10000, &window, [&] { window.done(99); });  // a way that fails must not hang
    EXPECT_NE(window.runModal(), 99);
    EXPECT_TRUE(counted);
    EXPECT_TRUE(window.portPanels().empty());
    EXPECT_TRUE(hasLines(readFile(ini()), {"ACT=1", "PORT=" + std::to_string(port), "KEEP=me"}));
    EXPECT_FALSE(accepting(port));
    EXPECT_TRUE(waitPeerClosed(client));
    EXPECT_TRUE(waitPeerClosed(server));
    closeFd(client);
    closeFd(server);
  }
}

TEST_F(MainWindow, StaysHiddenWhileNotMeantVisibleAndTheOpenCommandRestoresIt) {
  CRelvaneDlg window;
  ASSERT_TRUE(window.create());
  EXPECT_TRUE(window.isVisible());
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
  EXPECT_TRUE(window.isVisible());
  EXPECT_FALSE(window.portPanels().empty());  // opening is not closing
}

// Runs `open` while a timer answers what it shows: a popup menu chooses its last entry, a box
// is closed. Returns the version line of the about box shown, "none" when there was none.
std::string aboutShownBy(const std::function<void()>& open) {
  std::string shown = "none";
  QTimer answer;
  QObject::connect(&answer, &QTimer::timeout, [&] {
    if (auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())) {
      QTimer::singleShot(0, menu, [menu] {  // another timer: this one must answer the box
        menu->setActiveAction(menu->actions().last());
        QTest::keyClick(menu, Qt::Key_Return);
      });
    } else if (QWidget* box = QApplication::activeModalWidget()) {
      if (auto* about = qobject_cast<CAboutDlg*>(box)) shown = about->itemText(IDC_VERSION);
      box->close();
    }
  });
  answer.start(50);
  open();
  return shown;
}

TEST_F(MainWindow, ContextMenuAndCommandsWithTheAboutIdOpenTheAboutBox) {
  CRelvaneDlg window;
  ASSERT_TRUE(window.create());
  ASSERT_EQ(window.windowMenu()->actions().size(), 2);
  EXPECT_EQ(window.windowMenu()->actions().last()->text(), QString::fromUtf8("レルベイン Tiv のﾊﾞｰｼﾞｮﾝ情報"));
  QWidget* target = window.portPanels()[0]->item(IDC_COUNT);  // a right click on a panel's count
  QContextMenuEvent click(QContextMenuEvent::Mouse, QPoint(2, 2), target->mapToGlobal(QPoint(2, 2)));
  EXPECT_EQ(aboutShownBy([&] { QApplication::sendEvent(target, &click); }),
            "レルベイン Tiv. Ver.:" RELVANE_PROJECT_VERSION);  // the program's own record
  for (int id : {0x0010, 0x0013, 0x001F, 0x0020, 0xF060})  // the low four bits do not count
    EXPECT_EQ(aboutShownBy([&] { window.onSysCommand(id); }) != "none", id < 0x20) << id;

  // On a panel its own entries come first, and the first opens its access dialog.
  QStringList entries;
  bool accessShown = false;
  QTimer answer;
  QObject::connect(&answer, &QTimer::timeout, [&] {
    if (auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())) {
      for (QAction* a : menu->actions()) entries << (a->isSeparator() ? QStringLiteral("-") : a->text());
      QTimer::singleShot(0, menu, [menu] {
        menu->setActiveAction(menu->actions().first());
        QTest::keyClick(menu, Qt::Key_Return);
      });
    } else if (auto* access = qobject_cast<CAccessDlg*>(QApplication::activeModalWidget())) {
      accessShown = true;
      access->close();
    }
  });
  answer.start(50);
  QContextMenuEvent again(QContextMenuEvent::Mouse, QPoint(2, 2), target->mapToGlobal(QPoint(2, 2)));
  QApplication::sendEvent(target, &again);
  answer.stop();
  EXPECT_TRUE(accessShown);
  EXPECT_EQ(entries.join('|'), QString::fromUtf8("アクセス設定(&A)...|拒否した接続: 0件|-|レルベイン Tiv のﾊﾞｰｼﾞｮﾝ情報"));
}

// The README picture: the slot ON with live connections, drawn by the program's own widgets.
// RELVANE_SCREENSHOT names the file to write it to.
TEST_F(MainWindow, PictureShowsTheSlotOnWithItsLiveConnections) {
  LoopbackListener destination;
  const int port = freePort();
  writeFile(ini(), slotSection(0, 1, port, destination.port));
  CRelvaneDlg window;
  ASSERT_TRUE(window.create());
  CPortDlg* panel = window.portPanels()[0];
  int fds[6];
  for (int i = 0; i < 3; ++i) {
    fds[2 * i] = connectLoopback(port);
    ASSERT_TRUE(QTest::qWaitFor([&] { return panel->connectionCount == i + 1; }));
    fds[2 * i + 1] = destination.acceptOne();
  }
  EXPECT_EQ(panel->itemText(IDC_ACTIVE), "ON");
  EXPECT_EQ(panel->itemText(IDC_COUNT), "3");
  const QImage picture = window.grab().toImage();
  EXPECT_EQ(picture.size(), window.size() * picture.devicePixelRatio());
  if (const char* out = std::getenv("RELVANE_SCREENSHOT")) {
    EXPECT_TRUE(picture.save(out));
  }
  for (int& fd : fds) closeFd(fd);
}

}  // namespace
