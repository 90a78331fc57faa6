// The dialog base: controls by id, commands, data exchange, OK/Cancel routes, colours.
#include "UiTestUtil.h"
#include "res/Resource.h"
#include "ui/Colors.h"
#include "ui/DataExchange.h"
#include "ui/Dialog.h"
#include "ui/LinkCtrl.h"
#include "ui/ListView.h"
#include "ui/SpinButton.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

namespace {

// A panel shaped like the port panel: four bindings, three commands, colour rules.
class TestPanel : public ui::CDialog {
public:
  TestPanel() : CDialog(IDD_PORT_PANEL) {
    onCommand(IDC_SETTINGS, &TestPanel::onSettings);
    onCommand(IDC_ACTIVE, &TestPanel::onToggle);
  }
  std::string countText, forwardPortText, forwardHost;
  int act = 0;
  int settingsClicks = 0;
  int stateSeenByToggle = -1;
  bool busy = false;

protected:
  void doDataExchange(ui::CDataExchange& dx) override {
    ui::ddxText(dx, IDC_COUNT, countText);
    ui::ddxText(dx, IDC_FORWARD_PORT, forwardPortText);
    ui::ddxText(dx, IDC_FORWARD_HOST, forwardHost);
    ui::ddxCheck(dx, IDC_ACTIVE, act);
  }
  std::optional<QColor> dialogColor() const override { return QColor(230, 230, 220); }
  std::optional<QColor> controlColor(int id, res::ControlKind) const override {
    if (id == IDC_COUNT) return busy ? QColor(180, 255, 180) : QColor(255, 255, 180);
    return std::nullopt;
  }

private:
  void onSettings() { ++settingsClicks; }
  void onToggle() {
    updateData(true);
    stateSeenByToggle = act;
  }
};

// A dialog shaped like the settings dialog, counting its OK and Cancel.
class TestSetting : public ui::CDialog {
public:
  TestSetting() : CDialog(IDD_SETTING) {}
  std::string host;
  int localhost = 0;
  int listenPort = 0;
  ui::CSpinButton* listenSpin = nullptr;
  int oks = 0, cancels = 0;
  bool closeOnCancel = true;

protected:
  void doDataExchange(ui::CDataExchange& dx) override {
    ui::ddxControl(dx, IDC_LISTEN_PORT_SPIN, listenSpin);
    ui::ddxText(dx, IDC_HOST_EDIT, host);
    ui::ddxCheck(dx, IDC_LOCALHOST, localhost);
    ui::ddxSpinPos(dx, IDC_LISTEN_PORT_SPIN, listenPort);
  }
  void onOK() override {
    ++oks;
    CDialog::onOK();
  }
  void onCancel() override {
    ++cancels;
    if (closeOnCancel) CDialog::onCancel();
  }
};

class Dialog : public ::testing::Test {
protected:
  void SetUp() override { uitest::initOnce(); }
};

TEST_F(Dialog, ControlsAreFoundByIdObjectNameAndType) {
  TestPanel panel;
  ASSERT_TRUE(panel.create(nullptr));
  QWidget* toggle = panel.item(IDC_ACTIVE);
  ASSERT_NE(toggle, nullptr);
  EXPECT_EQ(panel.findChild<QWidget*>(QStringLiteral("id1017")), toggle);
  EXPECT_EQ(panel.label(IDC_ACTIVE), nullptr);  // wrong type
  EXPECT_EQ(panel.item(4242), nullptr);
  auto* pushLike = qobject_cast<QPushButton*>(toggle);
  ASSERT_NE(pushLike, nullptr);
  EXPECT_TRUE(pushLike->isCheckable());
  EXPECT_FALSE(pushLike->autoDefault());  // a switch never takes the dialog's Enter
  EXPECT_EQ(panel.itemText(IDC_LISTEN_GROUP), "TCP ：65535");
  EXPECT_EQ(panel.label(IDC_COUNT)->alignment(), Qt::AlignRight | Qt::AlignVCenter);

  TestSetting setting;
  ASSERT_TRUE(setting.create());
  EXPECT_TRUE(qobject_cast<QPushButton*>(setting.button(IDOK))->isDefault());
  EXPECT_NE(qobject_cast<QCheckBox*>(setting.button(IDC_LOCALHOST)), nullptr);
}

TEST_F(Dialog, PushAndPullRoundTrip) {
  TestPanel panel;
  ASSERT_TRUE(panel.create(nullptr));
  panel.countText = "3";
  panel.forwardPortText = "8080";
  panel.forwardHost = "例.example";
  panel.act = 1;
  ASSERT_TRUE(panel.updateData(false));
  EXPECT_EQ(panel.label(IDC_FORWARD_HOST)->text(), QStringLiteral("例.example"));
  EXPECT_TRUE(panel.button(IDC_ACTIVE)->isChecked());

  panel.setItemText(IDC_FORWARD_HOST, "10.0.0.1");
  panel.button(IDC_ACTIVE)->setChecked(false);
  ASSERT_TRUE(panel.updateData(true));
  EXPECT_EQ(panel.forwardHost, "10.0.0.1");
  EXPECT_EQ(panel.act, 0);
  EXPECT_EQ(panel.countText, "3");

  TestSetting setting;
  ASSERT_TRUE(setting.create());
  ASSERT_NE(setting.listenSpin, nullptr);  // bound during the initial push
  setting.listenSpin->setRange(0, 65535);
  setting.listenPort = 8080;
  setting.host = "localhost";
  setting.localhost = 1;
  ASSERT_TRUE(setting.updateData(false));
  EXPECT_EQ(setting.edit(IDC_LISTEN_PORT_EDIT)->text(), QStringLiteral("8080"));
  QLineEdit* hostEdit = setting.edit(IDC_HOST_EDIT);
  hostEdit->clear();
  uitest::commitText(hostEdit, QStringLiteral("ホスト.local"));
  setting.edit(IDC_LISTEN_PORT_EDIT)->setText(QStringLiteral("99999"));
  setting.button(IDC_LOCALHOST)->setChecked(false);
  ASSERT_TRUE(setting.updateData(true));
  EXPECT_EQ(setting.host, "ホスト.local");
  EXPECT_EQ(setting.localhost, 0);
  EXPECT_EQ(setting.listenPort, 8080);
}

TEST_F(Dialog, MissingBoundControlFailsTheExchange) {
  class Broken : public ui::CDialog {
  public:
    Broken() : CDialog(IDD_STATUS) {}
    std::string text;
    void doDataExchange(ui::CDataExchange& dx) override { ui::ddxText(dx, IDC_COUNT, text); }
  } broken;
  ASSERT_TRUE(broken.create());
  EXPECT_FALSE(broken.updateData(true));
}

TEST_F(Dialog, ClicksArriveAsCommandsAfterTheCheckBoxFlipped) {
  TestPanel panel;
  ASSERT_TRUE(panel.create(nullptr));
  panel.show();
  QTest::mouseClick(panel.button(IDC_SETTINGS), Qt::LeftButton);
  EXPECT_EQ(panel.settingsClicks, 1);
  QTest::mouseClick(panel.button(IDC_ACTIVE), Qt::LeftButton);
  EXPECT_EQ(panel.stateSeenByToggle, 1);
  QTest::mouseClick(panel.button(IDC_ACTIVE), Qt::LeftButton);
  EXPECT_EQ(panel.stateSeenByToggle, 0);
  panel.command(IDC_SETTINGS);
  EXPECT_EQ(panel.settingsClicks, 2);
}

TEST_F(Dialog, EnterEscapeAndCloseBoxReachOkAndCancel) {
  TestSetting dlg;
  ASSERT_TRUE(dlg.create());
  dlg.show();
  dlg.edit(IDC_HOST_EDIT)->setFocus();
  QTest::keyClick(dlg.edit(IDC_HOST_EDIT), Qt::Key_Return);  // to the default button
  EXPECT_EQ(dlg.oks, 1);
  EXPECT_FALSE(dlg.isVisible());  // the default OK hides a modeless dialog

  dlg.show();
  QTest::keyClick(dlg.edit(IDC_HOST_EDIT), Qt::Key_Escape);
  EXPECT_EQ(dlg.cancels, 1);
  EXPECT_FALSE(dlg.isVisible());

  dlg.show();
  dlg.button(IDCANCEL)->setFocus();
  QTest::keyClick(dlg.button(IDCANCEL), Qt::Key_Return);  // a focused button takes Enter
  EXPECT_EQ(dlg.cancels, 2);
  EXPECT_EQ(dlg.oks, 1);

  dlg.closeOnCancel = false;
  dlg.show();
  EXPECT_FALSE(dlg.close());  // the close box is Cancel, and this Cancel keeps it open
  EXPECT_EQ(dlg.cancels, 3);
  EXPECT_TRUE(dlg.isVisible());
  dlg.closeOnCancel = true;
  EXPECT_TRUE(dlg.close());
  EXPECT_EQ(dlg.cancels, 4);
  EXPECT_FALSE(dlg.isVisible());
}

TEST_F(Dialog, PanelLeavesEnterAndEscapeToTheWindowAroundIt) {
  struct Main : ui::CDialog {
    Main() : CDialog(IDD_RELVANE_DIALOG) {}
    int oks = 0, cancels = 0;
    void onOK() override { ++oks; }
    void onCancel() override { ++cancels; }
  } main;
  ASSERT_TRUE(main.create());
  TestPanel panel;
  ASSERT_TRUE(panel.create(&main));
  panel.show();
  QWidget* toggle = panel.item(IDC_ACTIVE);
  QTest::keyClick(toggle, Qt::Key_Escape);
  EXPECT_EQ(main.cancels, 1);
  QTest::keyClick(toggle, Qt::Key_Return);  // no default button in the main window: OK
  EXPECT_EQ(main.oks, 1);
  EXPECT_FALSE(toggle->property("checked").toBool());
}

TEST_F(Dialog, ModalRunReturnsTheEndingCommand) {
  ui::CDialog about(IDD_ABOUTBOX);
  uitest::whenModal<ui::CDialog>([](ui::CDialog* d) { d->button(IDOK)->click(); });
  EXPECT_EQ(about.doModal(), IDOK);
  EXPECT_FALSE(about.isVisible());

  uitest::whenModal<ui::CDialog>([](ui::CDialog* d) { QTest::keyClick(d, Qt::Key_Escape); });
  EXPECT_EQ(about.doModal(), IDCANCEL);

  ui::CDialog panel(IDD_PORT_PANEL);
  EXPECT_EQ(panel.doModal(), -1);  // a panel has no modal run
}

TEST_F(Dialog, LinkClickIsACommandOfItsId) {
  int clicks = 0;
  struct Open : ui::CDialog {
    using CDialog::CDialog;
    using CDialog::onCommand;
  };
  Open dlg(IDD_ABOUTBOX);
  dlg.onCommand(IDC_HOMEPAGE_LINK, [&clicks] { ++clicks; });
  ASSERT_TRUE(dlg.create());
  dlg.show();
  ui::CLinkCtrl* link = dlg.link(IDC_HOMEPAGE_LINK);
  ASSERT_NE(link, nullptr);
  EXPECT_EQ(link->linkText(), "<a>Bramblecoteホームページ</a>");
  QTest::mouseClick(link, Qt::LeftButton);
  EXPECT_EQ(clicks, 1);
  QTest::keyClick(link, Qt::Key_Space);
  EXPECT_EQ(clicks, 2);
  EXPECT_TRUE(dlg.isVisible());  // a link click does not end the dialog
  EXPECT_EQ(ui::linkMarkupToHtml(QStringLiteral("a<b & <a>c</a>")),
            QStringLiteral("a&lt;b &amp; <a href=\"#\">c</a>"));
}

TEST_F(Dialog, ColourRulesFollowEveryPush) {
  TestPanel panel;
  ASSERT_TRUE(panel.create(nullptr));
  QColor color;
  ASSERT_TRUE(ui::hasBackground(&panel, &color));
  EXPECT_EQ(color, QColor(230, 230, 220));
  ASSERT_TRUE(ui::hasBackground(panel.item(IDC_COUNT), &color));
  EXPECT_EQ(color, QColor(255, 255, 180));
  EXPECT_EQ(panel.item(IDC_COUNT)->palette().color(QPalette::Window), QColor(255, 255, 180));
  EXPECT_FALSE(ui::hasBackground(panel.item(IDC_FORWARD_HOST)));

  panel.busy = true;
  panel.updateData(false);
  EXPECT_EQ(panel.item(IDC_COUNT)->palette().color(QPalette::Window), QColor(180, 255, 180));
  EXPECT_TRUE(panel.item(IDC_COUNT)->autoFillBackground());
}

TEST_F(Dialog, ListViewColumnsAndRows) {
  ui::CDialog dlg(IDD_STATUS);
  ASSERT_TRUE(dlg.create());
  ui::CListView* list = dlg.listView(IDC_CONNECTION_LIST);
  ASSERT_NE(list, nullptr);
  EXPECT_EQ(list->selectionMode(), QAbstractItemView::SingleSelection);
  EXPECT_EQ(list->insertItem(0, "no columns yet"), -1);
  list->setExtendedStyle(ui::CListView::GridLines | ui::CListView::FullRowSelect);
  EXPECT_TRUE(list->showGrid());
  EXPECT_EQ(list->selectionBehavior(), QAbstractItemView::SelectRows);
  EXPECT_EQ(list->insertColumn(0, "AcceptPeer", ui::CListView::FormatLeft, 80), 0);
  EXPECT_EQ(list->insertColumn(9, "Port", ui::CListView::FormatRight, 50), 1);  // appended
  EXPECT_EQ(list->columnWidth(1), 50);
  EXPECT_EQ(list->columnHeading(1), "Port");
  EXPECT_EQ(list->horizontalHeaderItem(1)->textAlignment(), int{Qt::AlignRight | Qt::AlignVCenter});

  EXPECT_EQ(list->insertItem(5, "10.0.0.2"), 0);  // past the end: appended
  EXPECT_EQ(list->insertItem(0, "10.0.0.1"), 0);  // before the first
  EXPECT_TRUE(list->setItemText(0, 1, "50001"));
  EXPECT_FALSE(list->setItemText(2, 1, "x"));
  EXPECT_EQ(list->itemCount(), 2);
  EXPECT_EQ(list->itemText(0, 0), "10.0.0.1");
  EXPECT_EQ(list->itemText(1, 0), "10.0.0.2");
  EXPECT_EQ(list->item(0, 1)->textAlignment(), int{Qt::AlignRight | Qt::AlignVCenter});
  EXPECT_FALSE(list->item(0, 1)->flags() & Qt::ItemIsEditable);
}

TEST_F(Dialog, CenterOnPlacesTheWindowOverAnother) {
  QWidget owner;
  owner.setGeometry(100, 80, 600, 400);
  owner.show();
  ui::CDialog dlg(IDD_SETTING);
  ASSERT_TRUE(dlg.create(&owner));
  dlg.centerOn(&owner);
  EXPECT_LE((dlg.frameGeometry().center() - owner.frameGeometry().center()).manhattanLength(), 1);
}

}  // namespace
