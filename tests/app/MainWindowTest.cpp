// The main window on the offscreen platform: panels and their layout, every way of
// closing it saving and stopping the slots, the visibility rule, the context-menu about
// entry and the home-page link.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QContextMenuEvent>
#include <QDesktopServices>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QTimer>
#include <QUrl>
#include <QImage>
#include <cstdlib>
#include <functional>

#include "WindowTestUtil.h"
#include "app/AboutDlg.h"
#include "app/RelvaneDlg.h"
#include "app/RelvaneWindowedApp.h"
#include "dialogs/SettingDlg.h"
#include "res/Resource.h"
#include "slot/PortDlg.h"
#include "ui/LinkCtrl.h"

using apptest::accepting;
using apptest::slotSection;
using testsupport::readFile;
using testsupport::writeFile;

namespace {

// Records what the desktop was asked to open instead of starting a browser.
class UrlRecorder : public QObject {
  Q_OBJECT
 public:
  UrlRecorder() { QDesktopServices::setUrlHandler("https", this, "open"); }
  ~UrlRecorder() override { QDesktopServices::unsetUrlHandler("https"); }
  QList<QUrl> opened;
 public slots:
  void open(const QUrl& url) { opened.append(url); }
};

struct LayoutCase {
  int panels;
  int columns;
  int rows;
  int lastColumn;  // where the last panel stands
  int lastRow;
};

void PrintTo(const LayoutCase& c, std::ostream* os) { *os << c.panels << " panels"; }

class MainWindowLayout : public ::testing::TestWithParam<LayoutCase> {
 protected:
  apptest::WindowDir dir;
};

TEST_P(MainWindowLayout, PanelsInColumnsOfFiveBelowTheBand) {
  const LayoutCase c = GetParam();
  CRelvaneDlg window(c.panels);
  ASSERT_TRUE(window.create());
  ASSERT_EQ(window.portPanels().size(), static_cast<std::size_t>(c.panels));

  const QSize panel = window.panelRectangle().size();
  ASSERT_GT(panel.width(), 150);
  ASSERT_GT(panel.height(), 40);
  EXPECT_EQ(window.size(), QSize(c.columns * panel.width(), 20 + c.rows * panel.height()));
  EXPECT_EQ(window.portPanels().front()->geometry().topLeft(), QPoint(0, 20));
  EXPECT_EQ(window.portPanels().back()->geometry().topLeft(),
            QPoint(c.lastColumn * panel.width(), 20 + c.lastRow * panel.height()));
  for (int i = 0; i < c.panels; ++i) {
    CPortDlg* p = window.portPanels()[i];
    EXPECT_EQ(p->slotIndex, i);
    EXPECT_EQ(p->iniPath, (dir.temp / "RelvaneTiv.ini").string());
    EXPECT_EQ(p->settingsDialog, window.sharedSettingsDialog());
    EXPECT_TRUE(p->isVisible()) << i;
    EXPECT_TRUE(window.rect().contains(p->geometry())) << i;
  }
  // Every slot wrote its section at launch.
  const std::string ini = dir.iniText();
  for (int i = 0; i < c.panels; ++i)
    EXPECT_NE(ini.find("[TCP-PORT" + std::to_string(i) + "]"), std::string::npos) << i;
}

INSTANTIATE_TEST_SUITE_P(Counts, MainWindowLayout,
                         ::testing::Values(LayoutCase{1, 1, 1, 0, 0}, LayoutCase{5, 1, 5, 0, 4},
                                           LayoutCase{6, 2, 5, 1, 0}, LayoutCase{11, 3, 5, 2, 0}),
                         [](const auto& info) { return std::to_string(info.param.panels); });

class MainWindow : public ::testing::Test {
 protected:
  apptest::WindowDir dir;
};

TEST_F(MainWindow, OpensTitledShownAndWithTheSharedSettingsDialogHidden) {
  CRelvaneDlg window;
  ASSERT_TRUE(window.create());
  EXPECT_EQ(window.windowTitle(), QString::fromUtf8("レルベイン Tiv."));
  EXPECT_TRUE(window.isVisible());
  EXPECT_TRUE(window.isMeantVisible());
  EXPECT_FALSE(window.isGlassEnabled());
  EXPECT_EQ(window.iniFilePath(), (dir.temp / "RelvaneTiv.ini").string());
  ASSERT_NE(window.sharedSettingsDialog(), nullptr);
  EXPECT_FALSE(window.sharedSettingsDialog()->isVisible());
  EXPECT_EQ(window.sharedSettingsDialog()->parentWidget(), &window);
  const auto sizes = window.windowIcon().availableSizes();
  for (int px : {16, 24, 32, 48, 256}) EXPECT_TRUE(sizes.contains(QSize(px, px))) << px;
  auto* link = window.link(IDC_HOMEPAGE_LINK);
  ASSERT_NE(link, nullptr);
  EXPECT_EQ(link->linkText(), "<a>Powered By Bramblecote</a>");
  EXPECT_LT(link->geometry().bottom(), 20);  // in the band, above the panels
  EXPECT_TRUE(window.rect().contains(link->geometry()));
}

struct CloseWay {
  const char* name;
  std::function<void(CRelvaneDlg&)> close;
  int result;
};

TEST_F(MainWindow, EveryWayOfClosingSavesTheSlotAndClosesItsSockets) {
  testsupport::LoopbackListener destination;
  const std::vector<CloseWay> ways = {
      {"close box", [](CRelvaneDlg& w) { w.close(); }, IDCANCEL},
      {"Escape", [](CRelvaneDlg& w) { QTest::keyClick(&w, Qt::Key_Escape); }, IDCANCEL},
      {"Enter", [](CRelvaneDlg& w) { QTest::keyClick(&w, Qt::Key_Return); }, IDOK},
      {"exit command", [](CRelvaneDlg& w) { w.command(ID_EXIT_APP); }, 0},
  };
  for (const CloseWay& way : ways) {
    SCOPED_TRACE(way.name);
    const int port = testsupport::freePort();
    writeFile(dir.ini(), slotSection(0, 1, port, destination.port) + "[OTHER]\nKEEP=me\n");
    CRelvaneDlg window;
    int client = -1, server = -1;
    bool counted = false;
    QTimer::singleShot(0, &window, [&] {
      client = testsupport::connectLoopback(port);
      // The relay runs on this thread: it must connect out before the destination accepts.
      counted = QTest::qWaitFor([&] { return window.portPanels()[0]->connectionCount == 1; });
      server = destination.acceptOne();
      writeFile(dir.ini(), "[TCP-PORT0]\nACT=0\n[OTHER]\nKEEP=me\n");  // overwritten at exit
      way.close(window);
    });
    QTimer watchdog;  // a way that fails to close must not hang the suite
    watchdog.setSingleShot(true);
    QObject::connect(&watchdog, &QTimer::timeout, &window, [&] { window.done(99); });
    watchdog.start(10000);
    const int result = window.runModal();
    watchdog.stop();

    EXPECT_EQ(result, way.result);
    EXPECT_TRUE(counted);
    EXPECT_TRUE(window.portPanels().empty());
    EXPECT_EQ(window.sharedSettingsDialog(), nullptr);
    const std::string ini = dir.iniText();
    for (const std::string& line : std::vector<std::string>{"ACT=1", "PORT=" + std::to_string(port), "KEEP=me"})
      EXPECT_NE(ini.find(line), std::string::npos) << line << " missing in\n" << ini;
    EXPECT_FALSE(accepting(port));
    EXPECT_TRUE(testsupport::waitPeerClosed(client));
    EXPECT_TRUE(testsupport::waitPeerClosed(server));
    testsupport::closeFd(client);
    testsupport::closeFd(server);
  }
}

TEST_F(MainWindow, ClosingFromOutsideEndsAnOpenMessageBoxFirst) {
  writeFile(dir.ini(), slotSection(0, 0, 0, 0));
  CRelvaneDlg window;
  std::string shown;
  QTimer::singleShot(0, &window, [&] {
    uitest::whenModal<QMessageBox>([&](QMessageBox* box) {
      shown = box->text().toStdString();
      window.closeInOrder();  // as a termination signal does
    });
    window.portPanels()[0]->button(IDC_CONFIRM)->click();  // "no connections" box
  });
  window.runModal();
  EXPECT_EQ(shown, "現在接続はありません.");
  EXPECT_TRUE(window.portPanels().empty());
  EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

TEST_F(MainWindow, StaysHiddenWhileNotMeantVisibleAndOpenCommandRestoresIt) {
  CRelvaneDlg window;
  ASSERT_TRUE(window.create());
  window.showMainWindow(false);
  window.show();
  window.setGeometry(QRect(QPoint(10, 10), window.size()));
  EXPECT_FALSE(window.isVisible());
  EXPECT_FALSE(window.isMeantVisible());

  window.command(ID_OPEN_MAINWINDOW);
  EXPECT_TRUE(window.isVisible());
  window.showMinimized();
  ASSERT_TRUE(window.windowState() & Qt::WindowMinimized);
  window.command(ID_OPEN_MAINWINDOW);
  EXPECT_FALSE(window.windowState() & Qt::WindowMinimized);
  EXPECT_TRUE(window.isVisible());
  EXPECT_FALSE(window.portPanels().empty());  // opening is not closing
}

TEST_F(MainWindow, ContextMenuCarriesTheAboutEntryFromAnywhereInTheWindow) {
  CRelvaneDlg window;
  ASSERT_TRUE(window.create());
  const QList<QAction*> actions = window.windowMenu()->actions();
  ASSERT_EQ(actions.size(), 2);
  EXPECT_TRUE(actions[0]->isSeparator());
  EXPECT_EQ(actions[1]->text(), QString::fromUtf8("レルベイン Tiv のﾊﾞｰｼﾞｮﾝ情報"));
  EXPECT_EQ(actions[1]->data().toInt(), ID_SYS_ABOUT);

  // A right click on the panel's connection count: the menu pops up, the entry is chosen.
  QWidget* target = window.portPanels()[0]->item(IDC_COUNT);
  ASSERT_NE(target, nullptr);
  std::string aboutText;
  QTimer::singleShot(50, &window, [&] {
    auto* popup = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    if (!popup) return;
    uitest::whenModal<CAboutDlg>([&](CAboutDlg* about) {
      aboutText = about->itemText(IDC_VERSION);
      about->close();
    });
    popup->setActiveAction(actions[1]);
    QTest::keyClick(popup, Qt::Key_Return);
  });
  QContextMenuEvent click(QContextMenuEvent::Mouse, QPoint(2, 2), target->mapToGlobal(QPoint(2, 2)));
  QApplication::sendEvent(target, &click);
  EXPECT_EQ(aboutText.rfind("レルベイン Tiv. Ver.:", 0), 0u) << aboutText;
}

TEST_F(MainWindow, AboutCommandIgnoresTheLowFourBits) {
  CRelvaneDlg window;
  ASSERT_TRUE(window.create());
  for (int id : {0x0010, 0x0013, 0x001F}) {
    bool opened = false;
    uitest::whenModal<CAboutDlg>([&](CAboutDlg* about) {
      opened = true;
      about->close();
    });
    window.onSysCommand(id);
    EXPECT_TRUE(opened) << id;
  }
  window.onSysCommand(0x0020);  // another command: returns without a box
  window.onSysCommand(0xF060);
  EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

TEST_F(MainWindow, LinksOpenTheHomePageAndLeaveTheWindowsOpen) {
  UrlRecorder recorder;
  CRelvaneDlg window;
  ASSERT_TRUE(window.create());
  QTest::mouseClick(window.link(IDC_HOMEPAGE_LINK), Qt::LeftButton, {}, QPoint(5, 5));
  ASSERT_EQ(recorder.opened.size(), 1);
  EXPECT_EQ(recorder.opened[0], QUrl("https://www.bramblecote.example/"));
  EXPECT_TRUE(window.isVisible());

  CAboutDlg about([] { return "Ver.:1"; });
  ASSERT_TRUE(about.create(&window));
  about.show();
  QTest::mouseClick(about.link(IDC_HOMEPAGE_LINK), Qt::LeftButton, {}, QPoint(5, 5));
  EXPECT_EQ(recorder.opened.size(), 2);
  EXPECT_TRUE(about.isVisible());
}

// The refusals of start-up, as the windowed program shows them.
class RefusingApp : public CRelvaneWindowedApp {
 public:
  using CRelvaneWindowedApp::showRefusal;
};

TEST(WindowedRefusals, SecondInstanceGetsAPlainBoxAndFailuresTheProgramsOwn) {
  uitest::initOnce();
  RefusingApp app;
  QString title, text;
  QMessageBox::Icon icon = QMessageBox::Information;
  const auto answer = [&](QMessageBox* box) {
    title = box->windowTitle();
    text = box->text();
    icon = box->icon();
    box->button(QMessageBox::Ok)->click();
  };
  uitest::whenModal<QMessageBox>(answer);
  app.showRefusal("     既に起動されています.     ", "２重起動");
  EXPECT_EQ(title, QString::fromUtf8("２重起動"));
  EXPECT_EQ(text, QString::fromUtf8("     既に起動されています.     "));
  EXPECT_EQ(icon, QMessageBox::NoIcon);

  uitest::whenModal<QMessageBox>(answer);
  app.showRefusal("Windows ｿｹｯﾄの初期化に失敗しました。", nullptr);
  EXPECT_EQ(title, QCoreApplication::applicationName());  // the executable's name
  EXPECT_EQ(text, QString::fromUtf8("Windows ｿｹｯﾄの初期化に失敗しました。"));
  EXPECT_EQ(icon, QMessageBox::Warning);
}

// The picture in the README: slot ON with live connections, drawn by the program's own
// widgets. Set RELVANE_SCREENSHOT to a file name to keep it.
TEST_F(MainWindow, PictureShowsTheSlotOnWithItsLiveConnections) {
  testsupport::LoopbackListener destination;
  const int port = testsupport::freePort();
  writeFile(dir.ini(), slotSection(0, 1, port, destination.port));
  CRelvaneDlg window;
  ASSERT_TRUE(window.create());
  int clients[3], servers[3];
  for (int i = 0; i < 3; ++i) {
    clients[i] = testsupport::connectLoopback(port);
    ASSERT_TRUE(QTest::qWaitFor([&] { return window.portPanels()[0]->connectionCount == i + 1; }));
    servers[i] = destination.acceptOne();
  }
  CPortDlg* panel = window.portPanels()[0];
  EXPECT_EQ(panel->itemText(IDC_ACTIVE), "ON");
  EXPECT_EQ(panel->itemText(IDC_COUNT), "3");
  EXPECT_EQ(panel->itemText(IDC_LISTEN_GROUP), "TCP:" + std::to_string(port));

  const QImage picture = window.grab().toImage();
  EXPECT_EQ(picture.size(), window.size() * picture.devicePixelRatio());
  // The count field is drawn light green while connections are live.
  QWidget* count = panel->item(IDC_COUNT);
  const QPoint inCount = count->mapTo(&window, QPoint(2, count->height() / 2));
  EXPECT_EQ(picture.pixelColor(inCount * picture.devicePixelRatio()), QColor(180, 255, 180));
  if (const char* out = std::getenv("RELVANE_SCREENSHOT")) {
    EXPECT_TRUE(picture.save(out));
  }
  for (int i = 0; i < 3; ++i) {
    testsupport::closeFd(clients[i]);
    testsupport::closeFd(servers[i]);
  }
}

}  // namespace

#include "MainWindowTest.moc"
