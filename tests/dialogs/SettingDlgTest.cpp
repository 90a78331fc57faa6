// The shared settings dialog through whole uses, the fixture standing in for the panel that
// reserves, fills and reads it: typing (also through the input method), the port fields, the
// localhost tick with its question, and every way out.
#include <QLineEdit>
#include <QTest>
#include <QToolButton>
#include <gtest/gtest.h>

#include "Modal.h"
#include "dialogs/SettingDlg.h"
#include "res/Resource.h"
#include "ui/SpinButton.h"

namespace {

class SettingDlgTest : public ::testing::Test, public CSettingDlgListener {
protected:
  void SetUp() override {
    testsupport::initUiOnce();
    mainWindow.setGeometry(120, 90, 500, 300);
    mainWindow.show();
    ASSERT_TRUE(dialog.create(&mainWindow));
    dialog.setCentreWidget(&mainWindow);
  }
  // What a panel does around showing it; on OK it reads the members back.
  void open(const std::string& host) {
    dialog.beginEdit(this);
    for (ui::CSpinButton* spin : {dialog.listenPortSpin, dialog.destinationPortSpin})
      spin->setRange(0, 65535), spin->setPos(8080);
    dialog.host = host;
    dialog.localhost = CSettingDlg::isLocalHostName(host);
    dialog.enableItem(IDC_HOST_EDIT, !dialog.localhost);
    dialog.updateData(false);
    dialog.show();
  }
  void onSettingOk() override {
    freeWhenTold = dialog.isFree(), ++okCalls;
    dialog.updateData(true);
    taken = dialog.host + ':' + std::to_string(dialog.listenPortSpin->pos());
  }
  QLineEdit* edit(int id) { return dialog.edit(id); }
  void click(int id) { QTest::mouseClick(dialog.button(id), Qt::LeftButton); }
  void retype(int id, const char* text) { edit(id)->selectAll(), QTest::keyClicks(edit(id), text); }

  QWidget mainWindow;
  CSettingDlg dialog;
  int okCalls = 0;
  bool freeWhenTold = false;
  std::string taken;
};

TEST_F(SettingDlgTest, TypedTextReachesThePanelAndAPortFieldKeepsItsLastValidNumber) {
  open("例.example");
  testsupport::commitText(edit(IDC_HOST_EDIT), QStringLiteral("ホスト"));  // after the pushed text
  ui::CSpinButton* spin = dialog.listenPortSpin;
  // Only the text as it stands counts, not what it passed through while typed.
  for (const char* text : {" 443 ", "abc", "70000", "1,000"}) {
    retype(IDC_LISTEN_PORT_EDIT, text);
    EXPECT_EQ(spin->pos(), 443) << text;
    EXPECT_EQ(edit(IDC_LISTEN_PORT_EDIT)->text(), text);
  }
  edit(IDC_LISTEN_PORT_EDIT)->clear();
  testsupport::commitText(edit(IDC_LISTEN_PORT_EDIT), QStringLiteral("８０８１"));  // full-width: no number
  EXPECT_EQ(spin->pos(), 443);
  for (QToolButton* arrow : spin->findChildren<QToolButton*>())  // it steps from the last valid number
    if (arrow->arrowType() == Qt::UpArrow) arrow->click();
  EXPECT_EQ(edit(IDC_LISTEN_PORT_EDIT)->text(), "444");
  // The destination field also takes the arrow keys; both stop at the ends of the range.
  QLineEdit* forward = edit(IDC_FORWARD_PORT_EDIT);
  for (Qt::Key key : {Qt::Key_Up, Qt::Key_Down, Qt::Key_Down}) QTest::keyClick(forward, key);
  EXPECT_EQ(forward->text(), "8079");
  for (const auto& [pos, key, text] : {std::tuple{70000, Qt::Key_Up, "65535"}, {-3, Qt::Key_Down, "0"}}) {
    dialog.destinationPortSpin->setPos(pos);
    QTest::keyClick(forward, key);
    EXPECT_EQ(forward->text(), text);
  }
  retype(IDC_LISTEN_PORT_EDIT, "99999");
  QTest::keyClick(edit(IDC_HOST_EDIT), Qt::Key_Return);
  EXPECT_EQ(taken, "例.exampleホスト:444");
}

TEST_F(SettingDlgTest, OpeningReservesAndCentresEveryWayOutFreesOnlyOkTellsTheListener) {
  auto key = [&](int id, Qt::Key k) { return [&, id, k] { QTest::keyClick(dialog.item(id), k); }; };
  // Each way out and the OK calls so far; the last: a focused button takes Enter.
  const std::pair<std::function<void()>, int> ways[] = {
      {key(IDC_HOST_EDIT, Qt::Key_Return), 1}, {[&] { click(IDOK); }, 2}, {key(IDC_HOST_EDIT, Qt::Key_Escape), 2},
      {[&] { click(IDCANCEL); }, 2}, {[&] { dialog.close(); }, 2},
      {[&] { dialog.button(IDCANCEL)->setFocus(), key(IDCANCEL, Qt::Key_Return)(); }, 2}};
  EXPECT_TRUE(dialog.isFree());
  for (const auto& [leave, calls] : ways) {
    mainWindow.move(mainWindow.pos() + QPoint(40, 20));  // each opening follows the window
    open("example.org");
    EXPECT_FALSE(dialog.isFree());
    const QPoint centre = mainWindow.mapToGlobal(mainWindow.rect().center());
    EXPECT_LE((dialog.frameGeometry().center() - centre).manhattanLength(), 2);
    leave();
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_TRUE(dialog.isFree());
    EXPECT_EQ(okCalls, calls);
  }
  EXPECT_TRUE(freeWhenTold);  // so the listener could reserve it again
}

TEST_F(SettingDlgTest, LocalhostAsksOnlyOverAnotherHost) {
  open("localhost.example");
  testsupport::BoxAnswerer box;
  const std::pair<QMessageBox::StandardButton, const char*> ticks[] = {  // answer; then
      {QMessageBox::NoButton, "[x] localhost.example"}, {QMessageBox::No, "[ ] localhost.example"},
      {QMessageBox::Yes, "[x] 127.0.0.1 (locked)"}, {QMessageBox::Yes, "[ ] 127.0.0.1"},
      {QMessageBox::Yes, "[x] 127.0.0.1"}};
  for (const auto& [answer, state] : ticks) {
    box.answer = answer;
    click(IDC_LOCALHOST);
    EXPECT_EQ((dialog.checkState(IDC_LOCALHOST) ? "[x] " : "[ ] ") + edit(IDC_HOST_EDIT)->text().toStdString() +
                  (edit(IDC_HOST_EDIT)->isEnabled() ? "" : " (locked)"), state);
  }
  EXPECT_EQ(box.count(), 2);  // only the ticks over another host ask (Escape answering No)
  EXPECT_EQ(box.text, "localhost(同じPC内)への転送に変更しますか？");
  EXPECT_EQ(box.look, "relvane_dialogs_tests|4|いいえ(N),はい(Y)");  // the program's name; the question icon
  EXPECT_FALSE(CSettingDlg::isLocalHostName("127.0.0.2") || CSettingDlg::isLocalHostName(" localhost"));
}

}  // namespace
