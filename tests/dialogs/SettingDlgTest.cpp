// The shared settings dialog driven by clicks, keys and typing, with a recording listener
// in place of a panel. (The port panel's tests drive it through a real panel.)
#include <QAbstractButton>
#include <QLineEdit>
#include <QTest>
#include <gtest/gtest.h>

#include "../ui/UiTestUtil.h"
#include "DialogTestUtil.h"
#include "dialogs/SettingDlg.h"
#include "res/Resource.h"

namespace {

struct Listener : CSettingDlgListener {
  CSettingDlg* dialog = nullptr;
  int calls = 0;
  int freeDuringCall = -1;
  void onSettingOk() override { ++calls, freeDuringCall = dialog->free; }
};

class SettingDlgTest : public ::testing::Test {
protected:
  void SetUp() override {
    uitest::initOnce();
    mainWindow.setGeometry(120, 90, 500, 300);
    mainWindow.show();
    ASSERT_TRUE(dialog.create(&mainWindow));
    dialog.setCentreWidget(&mainWindow);
    listener.dialog = &dialog;
  }
  void open(const std::string& host) {  // the part of a panel's filling that matters here
    dialog.beginEdit(&listener);
    dialog.host = host;
    dialog.localhost = CSettingDlg::isLocalHostName(host);
    dialog.enableItem(IDC_HOST_EDIT, !dialog.localhost);
    dialog.updateData(false);
    dialog.show();
  }
  int offCentre() {
    const QPoint centre = mainWindow.mapToGlobal(mainWindow.rect().center());
    return (dialog.frameGeometry().center() - centre).manhattanLength();
  }
  QLineEdit* hostEdit() { return dialog.edit(IDC_HOST_EDIT); }
  void tickLocalhost() { QTest::mouseClick(dialog.button(IDC_LOCALHOST), Qt::LeftButton); }

  QWidget mainWindow;
  CSettingDlg dialog;
  Listener listener;
};

TEST_F(SettingDlgTest, ReservedAndCentredWhenOpenedFreedByEnterEscapeOrTheCloseBox) {
  EXPECT_TRUE(dialog.isFree());
  EXPECT_EQ(dialog.windowTitle().toStdString(), "RELVANE設定");
  open("example.org");
  EXPECT_FALSE(dialog.isFree());
  EXPECT_LE(offCentre(), 2);
  QTest::keyClick(hostEdit(), Qt::Key_Return);
  EXPECT_EQ(listener.calls, 1);
  EXPECT_EQ(listener.freeDuringCall, 1);

  mainWindow.move(300, 200);  // the next opening follows the window
  for (int way = 0; way < 2; ++way) {
    open("example.org");
    EXPECT_LE(offCentre(), 2);
    if (way == 0) QTest::keyClick(hostEdit(), Qt::Key_Escape); else dialog.close();
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_TRUE(dialog.isFree());
    EXPECT_EQ(dialog.listener, nullptr);
  }
  EXPECT_EQ(listener.calls, 1);
}

TEST_F(SettingDlgTest, TickingLocalhostAsksAndOnlyYesSwitchesTheHost) {
  open("example.org");
  dlgtest::BoxAnswerer box(QMessageBox::No);
  tickLocalhost();
  EXPECT_EQ(box.count(), 1);
  EXPECT_EQ(box.text, "localhost(同じPC内)への転送に変更しますか？");
  EXPECT_EQ(box.icon, QMessageBox::Question);
  EXPECT_EQ(box.buttons, QMessageBox::Yes | QMessageBox::No);
  EXPECT_EQ(hostEdit()->text(), "example.org");
  EXPECT_TRUE(hostEdit()->isEnabled());
  EXPECT_EQ(dialog.checkState(IDC_LOCALHOST), 1);

  tickLocalhost();  // untick: no question
  box.answer = QMessageBox::Yes;
  tickLocalhost();
  EXPECT_EQ(box.count(), 2);
  EXPECT_EQ(hostEdit()->text(), "127.0.0.1");
  EXPECT_FALSE(hostEdit()->isEnabled());
}

TEST_F(SettingDlgTest, UntickEnablesTheHostAndReTickingALocalHostAsksNothing) {
  open("LocalHost");
  EXPECT_EQ(dialog.checkState(IDC_LOCALHOST), 1);
  EXPECT_FALSE(hostEdit()->isEnabled());
  dlgtest::BoxAnswerer any;
  tickLocalhost();
  EXPECT_EQ(dialog.checkState(IDC_LOCALHOST), 0);
  EXPECT_TRUE(hostEdit()->isEnabled());
  EXPECT_EQ(hostEdit()->text(), "LocalHost");
  hostEdit()->setText("127.0.0.1");
  tickLocalhost();
  EXPECT_EQ(any.count(), 0);
  EXPECT_TRUE(hostEdit()->isEnabled());
  EXPECT_FALSE(CSettingDlg::isLocalHostName("127.0.0.2"));
  EXPECT_FALSE(CSettingDlg::isLocalHostName(" localhost"));
}

}  // namespace
