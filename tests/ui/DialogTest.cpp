// The dialog base: controls by id, commands, data exchange, OK/Cancel routes, colours.
#include "UiTestUtil.h"
#include "res/Resource.h"
#include "ui/Colors.h"
#include "ui/DataExchange.h"
#include "ui/Dialog.h"
#include "ui/LinkCtrl.h"
#include "ui/SpinButton.h"

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

// A panel shaped like the port panel: bindings, a command, colour rules.
class TestPanel : public ui::CDialog {
public:
  TestPanel() : CDialog(IDD_PORT_PANEL) {
    onCommand(IDC_ACTIVE, [this] { updateData(true); stateSeenByToggle = act; });
  }
  std::string forwardHost;
  int act = 0, stateSeenByToggle = -1;
  bool busy = false;

protected:
  void doDataExchange(ui::CDataExchange& dx) override {
    ui::ddxText(dx, IDC_FORWARD_HOST, forwardHost);
    ui::ddxCheck(dx, IDC_ACTIVE, act);
  }
  std::optional<QColor> dialogColor() const override { return QColor(230, 230, 220); }
  std::optional<QColor> controlColor(int id, res::ControlKind) const override {
    if (id != IDC_COUNT) return std::nullopt;
    return busy ? QColor(180, 255, 180) : QColor(255, 255, 180);
  }
};

// A dialog shaped like the settings dialog, counting its OK and Cancel.
class TestSetting : public ui::CDialog {
public:
  TestSetting() : CDialog(IDD_SETTING) {}
  std::string host;
  int localhost = 0, listenPort = 0, oks = 0, cancels = 0;
  ui::CSpinButton* listenSpin = nullptr;
  bool closeOnCancel = true;

protected:
  void doDataExchange(ui::CDataExchange& dx) override {
    ui::ddxControl(dx, IDC_LISTEN_PORT_SPIN, listenSpin);
    ui::ddxText(dx, IDC_HOST_EDIT, host);
    ui::ddxCheck(dx, IDC_LOCALHOST, localhost);
    ui::ddxSpinPos(dx, IDC_LISTEN_PORT_SPIN, listenPort);
  }
  void onOK() override { ++oks; CDialog::onOK(); }
  void onCancel() override {
    ++cancels;
    if (closeOnCancel) CDialog::onCancel();
  }
};

TEST(Dialog, PanelFindsControlsByIdRunsCommandsAndReappliesColoursOnPush) {
  uitest::initOnce();
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

  QColor color;
  ASSERT_TRUE(ui::hasBackground(&panel, &color));
  EXPECT_EQ(color, QColor(230, 230, 220));
  EXPECT_EQ(panel.item(IDC_COUNT)->palette().color(QPalette::Window), QColor(255, 255, 180));
  EXPECT_FALSE(ui::hasBackground(panel.item(IDC_FORWARD_HOST)));
  panel.forwardHost = "例.example";
  panel.busy = true;
  ASSERT_TRUE(panel.updateData(false));
  EXPECT_EQ(panel.label(IDC_FORWARD_HOST)->text(), QStringLiteral("例.example"));
  EXPECT_EQ(panel.item(IDC_COUNT)->palette().color(QPalette::Window), QColor(180, 255, 180));
  EXPECT_TRUE(panel.item(IDC_COUNT)->autoFillBackground());
}

TEST(Dialog, SettingsRoundTripJapaneseTextAndRouteAFocusedButtonAndTheCloseBox) {
  uitest::initOnce();
  TestSetting dlg;
  ASSERT_TRUE(dlg.create());
  ASSERT_NE(dlg.listenSpin, nullptr);  // bound during the initial push
  QLineEdit* host = dlg.edit(IDC_HOST_EDIT);
  QLineEdit* port = dlg.edit(IDC_LISTEN_PORT_EDIT);
  dlg.listenSpin->setRange(0, 65535);
  dlg.listenPort = 8080;
  dlg.host = "例.example";
  dlg.localhost = 1;
  ASSERT_TRUE(dlg.updateData(false));
  EXPECT_EQ(port->text(), QStringLiteral("8080"));
  EXPECT_EQ(host->text(), QStringLiteral("例.example"));
  EXPECT_TRUE(dlg.button(IDC_LOCALHOST)->isChecked());
  host->clear();
  uitest::commitText(host, QStringLiteral("ホスト.local"));
  port->setText(QStringLiteral("99999"));
  dlg.button(IDC_LOCALHOST)->setChecked(false);
  ASSERT_TRUE(dlg.updateData(true));
  EXPECT_EQ(dlg.host, "ホスト.local");
  EXPECT_EQ(dlg.localhost, 0);
  EXPECT_EQ(dlg.listenPort, 8080);  // out of range: the last valid position

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
  uitest::initOnce();
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
