// The dialog base: controls by id, commands, data exchange, OK/Cancel routes, colours.
#include "Modal.h"
#include "res/Resource.h"
#include "ui/DataExchange.h"
#include "ui/Dialog.h"
#include "ui/LinkCtrl.h"

#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

namespace {

// Any template, with command registration open to the test.
struct Probe : ui::CDialog {
  using CDialog::CDialog;
  using CDialog::onCommand;
};

// A panel shaped like the port panel: bindings and a command.
class TestPanel : public ui::CDialog {
public:
  TestPanel() : CDialog(IDD_PORT_PANEL) {
    onCommand(IDC_ACTIVE, [this] { updateData(true); stateSeenByToggle = act; });
  }
  std::string forwardHost;
  int act = 0, stateSeenByToggle = -1;

protected:
  void doDataExchange(ui::CDataExchange& dx) override {
    ui::ddxText(dx, IDC_FORWARD_HOST, forwardHost);
    ui::ddxCheck(dx, IDC_ACTIVE, act);
  }
};

// A dialog shaped like the settings dialog, counting its OK and Cancel.
class TestSetting : public ui::CDialog {
public:
  TestSetting() : CDialog(IDD_SETTING) {}
  std::string host;
  int oks = 0, cancels = 0;
  bool closeOnCancel = true;

protected:
  void doDataExchange(ui::CDataExchange& dx) override { ui::ddxText(dx, IDC_HOST_EDIT, host); }
  void onOK() override { ++oks; CDialog::onOK(); }
  void onCancel() override {
    ++cancels;
    if (closeOnCancel) CDialog::onCancel();
  }
};

// (The colour rules reapplied on a push are the port panel's test.)
TEST(Dialog, PanelFindsControlsByIdRunsCommandsAndPushesJapaneseText) {
  testsupport::initUiOnce();
  TestPanel panel;
  ASSERT_TRUE(panel.create(nullptr));
  panel.show();
  QWidget* toggle = panel.item(IDC_ACTIVE);
  ASSERT_NE(toggle, nullptr);
  EXPECT_EQ(panel.label(IDC_ACTIVE), nullptr);  // wrong type
  EXPECT_EQ(panel.item(4242), nullptr);
  EXPECT_EQ(panel.itemText(IDC_LISTEN_GROUP), "TCP ：65535");
  QTest::mouseClick(toggle, Qt::LeftButton);
  EXPECT_EQ(panel.stateSeenByToggle, 1);  // the command runs after the switch flipped
  QTest::mouseClick(toggle, Qt::LeftButton);
  EXPECT_EQ(panel.stateSeenByToggle, 0);
  EXPECT_EQ(panel.doModal(), -1);  // a panel has no modal run

  panel.forwardHost = "例.example";
  ASSERT_TRUE(panel.updateData(false));
  EXPECT_EQ(panel.label(IDC_FORWARD_HOST)->text(), QStringLiteral("例.example"));
}

// (The settings dialog's own fields and spins round-trip in the port panel's tests.)
TEST(Dialog, SettingsPullsJapaneseTextAndRoutesAFocusedButtonAndTheCloseBox) {
  testsupport::initUiOnce();
  TestSetting dlg;
  ASSERT_TRUE(dlg.create());
  QLineEdit* host = dlg.edit(IDC_HOST_EDIT);
  host->clear();
  testsupport::commitText(host, QStringLiteral("ホスト.local"));
  ASSERT_TRUE(dlg.updateData(true));
  EXPECT_EQ(dlg.host, "ホスト.local");

  // Enter and Escape on a field reach OK and Cancel in the settings dialog's own test.
  dlg.show();
  dlg.button(IDCANCEL)->setFocus();
  QTest::keyClick(dlg.button(IDCANCEL), Qt::Key_Return);  // a focused button takes Enter
  EXPECT_EQ(dlg.cancels, 1);
  EXPECT_EQ(dlg.oks, 0);
  dlg.closeOnCancel = false;
  dlg.show();
  EXPECT_FALSE(dlg.close());  // the close box is Cancel, and this Cancel keeps it open
  EXPECT_EQ(dlg.cancels, 2);
  EXPECT_TRUE(dlg.isVisible());
}

TEST(Dialog, LinkClickRunsItsCommandAndLeavesTheDialogOpen) {
  testsupport::initUiOnce();
  int clicks = 0;
  Probe about(IDD_ABOUTBOX);
  about.onCommand(IDC_HOMEPAGE_LINK, [&clicks] { ++clicks; });
  ASSERT_TRUE(about.create());
  about.show();
  ui::CLinkCtrl* link = about.link(IDC_HOMEPAGE_LINK);
  ASSERT_NE(link, nullptr);
  QTest::mouseClick(link, Qt::LeftButton);
  QTest::keyClick(link, Qt::Key_Space);
  EXPECT_EQ(clicks, 2);
  EXPECT_TRUE(about.isVisible());
}

}  // namespace
