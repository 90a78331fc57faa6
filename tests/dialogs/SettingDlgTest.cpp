// The shared settings dialog driven as a user would: clicks, keys, typing and answers to its
// localhost question, with a recording listener in place of a panel.
#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

#include "../ui/UiTestUtil.h"
#include "DialogTestUtil.h"
#include "dialogs/SettingDlg.h"
#include "res/Resource.h"
#include "ui/SpinButton.h"

namespace {

// Reads the values out on OK, the way a panel does.
struct RecordingListener : CSettingDlgListener {
  CSettingDlg* dialog = nullptr;
  int calls = 0;
  int freeDuringCall = -1;
  int listenPort = -1;
  int forwardPort = -1;
  std::string host;
  void onSettingOk() override {
    ++calls;
    freeDuringCall = dialog->free;
    dialog->updateData(true);
    listenPort = dialog->listenPortSpin->pos();
    forwardPort = dialog->destinationPortSpin->pos();
    host = dialog->host;
  }
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

  // What a panel does when its settings button is pressed.
  void open(int listenPort, const std::string& host, int forwardPort) {
    dialog.beginEdit(&listener);
    dialog.listenPortSpin->setRange(0, 65535);
    dialog.listenPortSpin->setPos(listenPort);
    dialog.host = host;
    dialog.destinationPortSpin->setRange(0, 65535);
    dialog.destinationPortSpin->setPos(forwardPort);
    const bool local = CSettingDlg::isLocalHostName(host);
    dialog.localhost = local;
    dialog.enableItem(IDC_HOST_EDIT, !local);
    dialog.updateData(false);
    dialog.show();
    QApplication::processEvents();
  }

  void replaceText(int id, const QString& text) {
    QLineEdit* edit = dialog.edit(id);
    edit->setFocus();
    edit->selectAll();
    QTest::keyClicks(edit, text);
  }

  void expectClosedAndFree() {
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_TRUE(dialog.isFree());
    EXPECT_EQ(dialog.listener, nullptr);
  }

  QWidget mainWindow;
  CSettingDlg dialog;
  RecordingListener listener;
};

TEST_F(SettingDlgTest, BeginEditReservesAndCentresOnTheGivenWindow) {
  EXPECT_TRUE(dialog.isFree());
  EXPECT_FALSE(dialog.isVisible());
  EXPECT_EQ(dialog.windowTitle().toStdString(), "RELVANE設定");
  open(8080, "example.org", 80);
  EXPECT_FALSE(dialog.isFree());
  EXPECT_EQ(dialog.listener, &listener);
  auto offCentre = [&] {
    const QPoint mainCentre = mainWindow.mapToGlobal(mainWindow.rect().center());
    return (dialog.frameGeometry().center() - mainCentre).manhattanLength();
  };
  EXPECT_LE(offCentre(), 2);

  mainWindow.move(300, 200);  // the next opening follows the window
  dialog.command(IDCANCEL);
  open(8080, "example.org", 80);
  EXPECT_LE(offCentre(), 2);
}

TEST_F(SettingDlgTest, OkByButtonOrEnterHandsTheValuesBackOnce) {
  open(8080, "example.org", 80);
  replaceText(IDC_HOST_EDIT, "relay.example");
  replaceText(IDC_FORWARD_PORT_EDIT, "8443");
  QTest::mouseClick(dialog.button(IDOK), Qt::LeftButton);
  EXPECT_EQ(listener.calls, 1);
  EXPECT_EQ(listener.freeDuringCall, 1);
  EXPECT_EQ(listener.host, "relay.example");
  EXPECT_EQ(listener.listenPort, 8080);
  EXPECT_EQ(listener.forwardPort, 8443);
  expectClosedAndFree();

  open(1, "h", 2);
  replaceText(IDC_LISTEN_PORT_EDIT, "9000");
  QTest::keyClick(dialog.edit(IDC_LISTEN_PORT_EDIT), Qt::Key_Return);
  EXPECT_EQ(listener.calls, 2);
  EXPECT_EQ(listener.listenPort, 9000);
  expectClosedAndFree();
}

TEST_F(SettingDlgTest, CancelEscapeAndTheCloseBoxFreeItWithoutCallingBack) {
  const std::function<void()> ways[] = {
      [&] { QTest::mouseClick(dialog.button(IDCANCEL), Qt::LeftButton); },
      [&] { QTest::keyClick(dialog.edit(IDC_HOST_EDIT), Qt::Key_Escape); },
      [&] { dialog.close(); },
  };
  for (const auto& cancel : ways) {
    open(8080, "example.org", 80);
    replaceText(IDC_HOST_EDIT, "typed.but.cancelled");
    cancel();
    expectClosedAndFree();
    EXPECT_EQ(dialog.filterCopy, nullptr);
  }
  EXPECT_EQ(listener.calls, 0);
}

TEST_F(SettingDlgTest, TickingLocalhostAsksAndYesSwitchesToTheLoopbackAddress) {
  open(8080, "example.org", 80);
  dlgtest::BoxAnswerer yes(QMessageBox::Yes);
  QTest::mouseClick(dialog.button(IDC_LOCALHOST), Qt::LeftButton);
  EXPECT_EQ(yes.seen.count, 1);
  EXPECT_EQ(yes.seen.text, "localhost(同じPC内)への転送に変更しますか？");
  EXPECT_EQ(yes.seen.icon, QMessageBox::Question);
  EXPECT_EQ(yes.seen.buttons, QMessageBox::Yes | QMessageBox::No);
  EXPECT_EQ(dialog.edit(IDC_HOST_EDIT)->text(), "127.0.0.1");
  EXPECT_FALSE(dialog.edit(IDC_HOST_EDIT)->isEnabled());
  EXPECT_EQ(dialog.checkState(IDC_LOCALHOST), 1);
}

TEST_F(SettingDlgTest, AnsweringNoLeavesHostAndEditBoxButKeepsTheTick) {
  open(8080, "example.org", 80);
  dlgtest::BoxAnswerer no(QMessageBox::No);
  QTest::mouseClick(dialog.button(IDC_LOCALHOST), Qt::LeftButton);
  EXPECT_EQ(no.seen.count, 1);
  EXPECT_EQ(dialog.edit(IDC_HOST_EDIT)->text(), "example.org");
  EXPECT_TRUE(dialog.edit(IDC_HOST_EDIT)->isEnabled());
  EXPECT_EQ(dialog.checkState(IDC_LOCALHOST), 1);
}

TEST_F(SettingDlgTest, UntickEnablesTheHostAndReTickingALocalHostAsksNothing) {
  open(8080, "LocalHost", 80);
  EXPECT_EQ(dialog.checkState(IDC_LOCALHOST), 1);
  EXPECT_FALSE(dialog.edit(IDC_HOST_EDIT)->isEnabled());

  dlgtest::BoxAnswerer any(QMessageBox::No);
  QTest::mouseClick(dialog.button(IDC_LOCALHOST), Qt::LeftButton);  // untick
  EXPECT_EQ(dialog.checkState(IDC_LOCALHOST), 0);
  EXPECT_TRUE(dialog.edit(IDC_HOST_EDIT)->isEnabled());
  EXPECT_EQ(dialog.edit(IDC_HOST_EDIT)->text(), "LocalHost");

  replaceText(IDC_HOST_EDIT, "127.0.0.1");
  QTest::mouseClick(dialog.button(IDC_LOCALHOST), Qt::LeftButton);  // tick again
  EXPECT_EQ(any.seen.count, 0);
  EXPECT_EQ(dialog.checkState(IDC_LOCALHOST), 1);
  EXPECT_TRUE(dialog.edit(IDC_HOST_EDIT)->isEnabled());
}

TEST_F(SettingDlgTest, PortFieldsKeepTheirLastValidValueForLettersAndOutOfRangeNumbers) {
  open(8080, "example.org", 80);
  replaceText(IDC_LISTEN_PORT_EDIT, "abc");
  replaceText(IDC_FORWARD_PORT_EDIT, "70000");
  QTest::mouseClick(dialog.button(IDOK), Qt::LeftButton);
  EXPECT_EQ(listener.listenPort, 8080);
  EXPECT_EQ(listener.forwardPort, 80);

  open(8080, "example.org", 80);
  replaceText(IDC_LISTEN_PORT_EDIT, "65535");
  replaceText(IDC_FORWARD_PORT_EDIT, "-1");
  QTest::keyClick(dialog.edit(IDC_FORWARD_PORT_EDIT), Qt::Key_Up);  // the destination spin steps
  QTest::mouseClick(dialog.button(IDOK), Qt::LeftButton);
  EXPECT_EQ(listener.listenPort, 65535);
  EXPECT_EQ(listener.forwardPort, 81);
}

TEST(SettingDlgNames, LocalHostInAnyCaseAndTheLoopbackAddressCountAsLocal) {
  EXPECT_TRUE(CSettingDlg::isLocalHostName("localhost"));
  EXPECT_TRUE(CSettingDlg::isLocalHostName("LOCALhost"));
  EXPECT_TRUE(CSettingDlg::isLocalHostName("127.0.0.1"));
  EXPECT_FALSE(CSettingDlg::isLocalHostName("127.0.0.2"));
  EXPECT_FALSE(CSettingDlg::isLocalHostName(" localhost"));
  EXPECT_FALSE(CSettingDlg::isLocalHostName(""));
}

}  // namespace
