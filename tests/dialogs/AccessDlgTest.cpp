// The access dialog on a working filter and listen address, driven by clicks, typing and keys:
// where its controls sit, what it shows, and that only OK writes the working copies.
#include <QLineEdit>
#include <QListWidget>
#include <QRadioButton>
#include <QTest>
#include <cmath>
#include <gtest/gtest.h>

#include "../ui/UiTestUtil.h"
#include "DialogTestUtil.h"
#include "dialogs/AccessDlg.h"
#include "filter/IpFilter.h"
#include "res/DialogTemplate.h"
#include "res/Resource.h"

namespace {

int expectX(int dlu) { return static_cast<int>(std::lround(dlu * 7 / 4.0)); }
int expectY(int dlu) { return static_cast<int>(std::lround(dlu * 13 / 8.0)); }

class AccessDlgTest : public ::testing::Test {
protected:
  void SetUp() override {
    uitest::initOnce();
    working.mode = CIpFilter::ModeRules;
    working.allowRules[working.allowCount++] = "192.168.1.0/24";
    working.allowRules[working.allowCount++] = "10.0.0.1/99";  // kept as written, though it never parses
    working.denyRules[working.denyCount++] = "192.168.1.13";
    working.allowRules[5] = "8.8.8.8";  // after the gap: inactive, and no business of the dialog
    listenHost = "127.0.0.1";
    host.show();
  }
  // Runs the dialog modally; `act` works it from inside the modal loop and must close it.
  int run(const std::function<void(CAccessDlg&)>& act) {
    CAccessDlg dialog(working, listenHost);
    uitest::whenModal<CAccessDlg>([&](CAccessDlg* d) { act(*d); });
    return dialog.doModal(&host);
  }
  static void type(CAccessDlg& d, int id, const QString& text) {
    d.edit(id)->setFocus();
    d.edit(id)->selectAll();
    QTest::keyClicks(d.edit(id), text);
  }
  // A radio button takes clicks on its circle and label only, so it is clicked on its circle.
  static void click(CAccessDlg& d, int id) {
    QAbstractButton* b = d.button(id);
    const bool radio = qobject_cast<QRadioButton*>(b) != nullptr;
    QTest::mouseClick(b, Qt::LeftButton, {}, radio ? QPoint(6, b->height() / 2) : b->rect().center());
  }
  static std::vector<std::string> entries(const std::string* rules, int count) {
    return std::vector<std::string>(rules, rules + count);
  }

  QWidget host;
  CIpFilter working;
  std::string listenHost;
};

TEST_F(AccessDlgTest, EveryControlSitsAtItsMappedRectangleInTheDialogFont) {
  CAccessDlg dialog(working, listenHost);
  ASSERT_TRUE(dialog.create(&host));
  const res::DialogTemplate* t = res::findDialogTemplate(IDD_ACCESS);
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(dialog.windowTitle(), QString::fromUtf8("アクセス設定"));
  EXPECT_EQ(dialog.size(), QSize(expectX(t->cx), expectY(t->cy)));
  QList<QWidget*> controls;
  for (QWidget* w : dialog.findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
    if (w->property("controlId").isValid()) controls.append(w);
  ASSERT_EQ(controls.size(), static_cast<qsizetype>(t->controls.size()));
  for (size_t i = 0; i < t->controls.size(); ++i) {
    const res::ControlTemplate& c = t->controls[i];
    EXPECT_EQ(controls[i]->geometry(), QRect(expectX(c.x), expectY(c.y), expectX(c.cx), expectY(c.cy)))
        << "control " << i << " id " << c.id;
    EXPECT_EQ(controls[i]->font().family(), dialog.font().family()) << c.id;
  }
  for (int id = IDC_MODE_ALL; id <= IDC_MODE_RULES; ++id) EXPECT_NE(dialog.itemAs<QRadioButton>(id), nullptr);
  for (int id : {IDC_ALLOW_LIST, IDC_DENY_LIST}) EXPECT_NE(dialog.listBox(id), nullptr);
}

TEST_F(AccessDlgTest, ShowsTheWorkingCopyAndEveryWayButOkLeavesItAlone) {
  const CIpFilter before = working;
  const std::function<void(CAccessDlg&)> ways[] = {
      [](CAccessDlg& d) { click(d, IDCANCEL); },
      [](CAccessDlg& d) { QTest::keyClick(d.edit(IDC_LISTEN_HOST_EDIT), Qt::Key_Escape); },
      [](CAccessDlg& d) { d.close(); }};
  for (const auto& leave : ways) {
    const int result = run([&](CAccessDlg& d) {
      EXPECT_TRUE(d.itemAs<QRadioButton>(IDC_MODE_RULES)->isChecked());
      EXPECT_EQ(d.rules(IDC_ALLOW_LIST), (std::vector<std::string>{"192.168.1.0/24", "10.0.0.1/99"}));
      EXPECT_EQ(d.rules(IDC_DENY_LIST), std::vector<std::string>{"192.168.1.13"});
      EXPECT_EQ(d.itemText(IDC_LISTEN_HOST_EDIT), "127.0.0.1");
      click(d, IDC_MODE_LOCALHOST);
      type(d, IDC_ALLOW_EDIT, "::1");
      click(d, IDC_ALLOW_ADD);
      type(d, IDC_LISTEN_HOST_EDIT, "::");
      leave(d);
    });
    EXPECT_EQ(result, IDCANCEL);
    EXPECT_EQ(working.mode, before.mode);
    EXPECT_EQ(entries(working.allowRules, 10), entries(before.allowRules, 10));
    EXPECT_EQ(listenHost, "127.0.0.1");
  }
}

TEST_F(AccessDlgTest, RulesAreCheckedAsTypedAndOkWritesModeListsAndListenAddress) {
  dlgtest::BoxAnswerer box;
  const int result = run([&](CAccessDlg& d) {
    type(d, IDC_DENY_EDIT, "2001:db8::/");
    click(d, IDC_DENY_ADD);  // refused: the message names it and the text stays to be mended
    EXPECT_EQ(box.text, "ルール「2001:db8::/」を解釈できません。\n例: 192.168.1.0/24、2001:db8::/32");
    EXPECT_EQ(d.rules(IDC_DENY_LIST).size(), 1u);
    type(d, IDC_DENY_EDIT, " 2001:db8::/32 ");
    click(d, IDC_DENY_ADD);
    EXPECT_EQ(d.itemText(IDC_DENY_EDIT), "");
    d.listBox(IDC_ALLOW_LIST)->setCurrentRow(1);
    click(d, IDC_ALLOW_REMOVE);  // the unparsable one goes
    click(d, IDC_ALLOW_REMOVE);  // nothing selected any more: nothing else goes
    for (int i = 0; i < 9; ++i) type(d, IDC_ALLOW_EDIT, QString("10.0.%1.0/24").arg(i)), click(d, IDC_ALLOW_ADD);
    EXPECT_EQ(d.rules(IDC_ALLOW_LIST).size(), 10u);
    type(d, IDC_ALLOW_EDIT, "10.9.9.9");
    click(d, IDC_ALLOW_ADD);
    EXPECT_EQ(box.text, "ルールは10個までです");
    d.listBox(IDC_ALLOW_LIST)->setCurrentRow(9);
    click(d, IDC_ALLOW_REMOVE);
    type(d, IDC_LISTEN_HOST_EDIT, "localhost");
    click(d, IDOK);  // the typed rule goes in; the host name does not pass
    EXPECT_TRUE(d.isVisible());
    EXPECT_EQ(box.text, "待ち受けアドレス「localhost」はIPアドレスではありません");
    EXPECT_EQ(d.rules(IDC_ALLOW_LIST).back(), "10.9.9.9");
    type(d, IDC_LISTEN_HOST_EDIT, "::");
    click(d, IDC_MODE_PRIVATE);
    QTest::keyClick(d.edit(IDC_LISTEN_HOST_EDIT), Qt::Key_Return);
  });
  EXPECT_EQ(result, IDOK);
  EXPECT_EQ(box.count(), 3);
  EXPECT_EQ(working.mode, CIpFilter::ModePrivate);
  std::vector<std::string> allow{"192.168.1.0/24"};
  for (int i = 0; i < 8; ++i) allow.push_back("10.0." + std::to_string(i) + ".0/24");
  allow.push_back("10.9.9.9");
  EXPECT_EQ(entries(working.allowRules, working.allowCount), allow);
  EXPECT_EQ(entries(working.denyRules, 3), (std::vector<std::string>{"192.168.1.13", "2001:db8::/32", ""}));
  EXPECT_EQ(working.denyCount, 2);
  EXPECT_EQ(listenHost, "::");
}

TEST_F(AccessDlgTest, ShorterListsEmptyWhatTheyNoLongerReachAndStopBeforeAnOldGap) {
  run([](CAccessDlg& d) {
    d.listBox(IDC_ALLOW_LIST)->setCurrentRow(0);
    click(d, IDC_ALLOW_REMOVE);
    type(d, IDC_ALLOW_EDIT, "10.0.0.0/8");
    click(d, IDC_ALLOW_ADD);
    type(d, IDC_ALLOW_EDIT, "172.16.0.0/12");
    click(d, IDC_ALLOW_ADD);
    click(d, IDOK);
  });
  // Three rules now: the fourth entry is emptied, so the inactive rule after it stays inactive.
  EXPECT_EQ(working.allowCount, 3);
  EXPECT_EQ(entries(working.allowRules, 6),
            (std::vector<std::string>{"10.0.0.1/99", "10.0.0.0/8", "172.16.0.0/12", "", "", "8.8.8.8"}));
  working.mode = 7;  // a mode the radios cannot show comes up as "all", and OK keeps it that way
  run([](CAccessDlg& d) {
    EXPECT_TRUE(d.itemAs<QRadioButton>(IDC_MODE_ALL)->isChecked());
    click(d, IDOK);
  });
  EXPECT_EQ(working.mode, CIpFilter::ModeAcceptAll);
}

}  // namespace
