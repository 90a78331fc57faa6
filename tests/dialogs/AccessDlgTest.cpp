// The access dialog on a working filter and listen address, driven by clicks, typing and keys:
// what it shows, how it checks rules, and that only OK writes the working copies.
#include <QListWidget>
#include <gtest/gtest.h>

#include "Modal.h"
#include "dialogs/AccessDlg.h"
#include "filter/IpFilter.h"
#include "res/Resource.h"

namespace {

using Rules = std::vector<std::string>;
using namespace testsupport;

void click(CAccessDlg& d, int id) { testsupport::click(d.button(id)); }
void type(CAccessDlg& d, int id, const QString& text) { retype(d.edit(id), text); }
void add(CAccessDlg& d, const QString& rule, bool deny = false) {
  type(d, deny ? IDC_DENY_EDIT : IDC_ALLOW_EDIT, rule), click(d, deny ? IDC_DENY_ADD : IDC_ALLOW_ADD);
}
void remove(CAccessDlg& d, int listId, int row) {
  d.listBox(listId)->setCurrentRow(row), click(d, listId == IDC_ALLOW_LIST ? IDC_ALLOW_REMOVE : IDC_DENY_REMOVE);
}

// (Escape and the close box are Cancel in every dialog: the window's settings dialog scenario.)
TEST(AccessDlg, CancelLeavesTheWorkingCopiesAloneOkChecksWhatWasTypedAndWritesThem) {
  initUiOnce();
  QWidget host;
  host.show();
  CIpFilter working;
  working.mode = CIpFilter::ModeRules;
  working.allowRules[working.allowCount++] = "192.168.1.0/24";
  working.allowRules[working.allowCount++] = "10.0.0.1/99";  // kept as written, though it never parses
  working.denyRules[working.denyCount++] = "192.168.1.13";
  working.allowRules[5] = "8.8.8.8";  // after the gap: inactive, and no business of the dialog
  std::string listenHost = "127.0.0.1";
  // Runs the dialog modally; `act` works it from inside the modal loop and must close it with `button`.
  auto run = [&](int button, const std::function<void(CAccessDlg&)>& act) {
    CAccessDlg dialog(working, listenHost);
    whenModal<CAccessDlg>([&](CAccessDlg* d) { act(*d); });
    EXPECT_EQ(dialog.doModal(&host), button);
  };
  auto allow = [&](int count) { return Rules(working.allowRules, working.allowRules + count); };
  const Rules before = allow(10);
  run(IDCANCEL, [&](CAccessDlg& d) {
    EXPECT_TRUE(d.itemAs<QRadioButton>(IDC_MODE_RULES)->isChecked());
    EXPECT_EQ(d.rules(IDC_ALLOW_LIST), (Rules{"192.168.1.0/24", "10.0.0.1/99"}));
    EXPECT_EQ(d.rules(IDC_DENY_LIST), Rules{"192.168.1.13"});
    EXPECT_EQ(d.itemText(IDC_LISTEN_HOST_EDIT), "127.0.0.1");
    click(d, IDC_MODE_LOCALHOST);
    add(d, "::1");
    type(d, IDC_LISTEN_HOST_EDIT, "::");
    click(d, IDCANCEL);
  });
  EXPECT_EQ(std::tie(working.mode, listenHost), std::make_tuple(CIpFilter::ModeRules, "127.0.0.1"));
  EXPECT_EQ(allow(10), before);

  working.mode = 7;  // a mode the radios cannot show comes up as "all"
  BoxAnswerer box;
  run(IDOK, [&](CAccessDlg& d) {
    EXPECT_TRUE(d.itemAs<QRadioButton>(IDC_MODE_ALL)->isChecked());
    add(d, "2001:db8::/", true);  // refused: the message names it and the text stays to be mended
    EXPECT_EQ(box.text, "ルール「2001:db8::/」を解釈できません。\n例: 192.168.1.0/24、2001:db8::/32");
    EXPECT_EQ(d.itemText(IDC_DENY_EDIT), "2001:db8::/");
    add(d, " 2001:db8::/32 ", true);
    EXPECT_EQ(d.itemText(IDC_DENY_EDIT), "");
    for (int i = 0; i < 9; ++i) add(d, QString("10.0.%1.0/24").arg(i), true);
    EXPECT_EQ(box.text, "ルールは10個までです");
    remove(d, IDC_DENY_LIST, 9);   // now the typed rule fits
    remove(d, IDC_ALLOW_LIST, 1);  // the unparsable one goes
    click(d, IDC_ALLOW_REMOVE);    // nothing selected any more: nothing else goes
    add(d, "10.0.0.0/8");
    type(d, IDC_ALLOW_EDIT, "172.16.0.0/12");
    type(d, IDC_LISTEN_HOST_EDIT, "localhost");
    click(d, IDOK);  // the typed rules go in; the host name does not pass
    EXPECT_TRUE(d.isVisible());
    EXPECT_EQ(box.text, "待ち受けアドレス「localhost」はIPアドレスではありません");
    type(d, IDC_LISTEN_HOST_EDIT, "::");
    click(d, IDC_MODE_PRIVATE);
    QTest::keyClick(d.edit(IDC_LISTEN_HOST_EDIT), Qt::Key_Return);
  });
  EXPECT_EQ(box.count, 3);
  EXPECT_EQ(box.look, "relvane_dialogs_tests|2|OK");  // the program's name; the warning icon
  EXPECT_EQ(std::tie(working.mode, listenHost), std::make_tuple(CIpFilter::ModePrivate, "::"));
  // Three rules counted now: the fourth entry is emptied, so the inactive rule after it stays inactive.
  EXPECT_EQ(allow(working.allowCount + 3), (Rules{"192.168.1.0/24", "10.0.0.0/8", "172.16.0.0/12", "", "", "8.8.8.8"}));
  Rules deny{"192.168.1.13", "2001:db8::/32"};
  for (int i : {0, 1, 2, 3, 4, 5, 6, 8}) deny.push_back("10.0." + std::to_string(i) + ".0/24");
  EXPECT_EQ(Rules(working.denyRules, working.denyRules + working.denyCount), deny);
}

}  // namespace
