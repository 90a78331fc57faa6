// The shared settings dialog driven by clicks, keys and typing, with the fixture standing in
// for the panel that reserves it. (The port fields' last valid value is the spin's own test.)
#include <QLineEdit>
#include <QTest>
#include <gtest/gtest.h>

#include "Modal.h"
#include "dialogs/SettingDlg.h"
#include "res/Resource.h"

namespace {

class SettingDlgTest : public ::testing::Test, public CSettingDlgListener {
protected:
  void SetUp() override {
    testsupport::initUiOnce();
    mainWindow.setGeometry(120, 90, 500, 300);
    mainWindow.show();
    ASSERT_TRUE(dialog.create(&mainWindow));
    dialog.setCentreWidget(&mainWindow);
    hostEdit()->setText("example.org");
  }
  void onSettingOk() override { ++okCalls, freeWhenTold = dialog.isFree(); }
  void open() { dialog.beginEdit(this), dialog.show(); }  // what a panel does around filling it
  QLineEdit* hostEdit() { return dialog.edit(IDC_HOST_EDIT); }
  void click(int id) { QTest::mouseClick(dialog.button(id), Qt::LeftButton); }

  QWidget mainWindow;
  CSettingDlg dialog;
  int okCalls = 0;
  bool freeWhenTold = false;
};

TEST_F(SettingDlgTest, OpeningReservesAndCentresEveryWayOutFreesOnlyOkTellsTheListener) {
  auto key = [&](Qt::Key k) { return [&, k] { QTest::keyClick(hostEdit(), k); }; };
  const std::pair<std::function<void()>, int> ways[] = {  // each way out; OK calls so far
      {key(Qt::Key_Return), 1}, {[&] { click(IDOK); }, 2}, {key(Qt::Key_Escape), 2},
      {[&] { click(IDCANCEL); }, 2}, {[&] { dialog.close(); }, 2}};
  EXPECT_TRUE(dialog.isFree());
  for (const auto& [leave, calls] : ways) {
    mainWindow.move(mainWindow.pos() + QPoint(40, 20));  // each opening follows the window
    open();
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
  open();
  testsupport::BoxAnswerer box;
  const std::pair<QMessageBox::StandardButton, const char*> ticks[] = {  // answer; then
      {QMessageBox::No, "[x] example.org"}, {QMessageBox::No, "[ ] example.org"},
      {QMessageBox::Yes, "[x] 127.0.0.1 (locked)"}, {QMessageBox::Yes, "[ ] 127.0.0.1"},
      {QMessageBox::Yes, "[x] 127.0.0.1"}};
  for (const auto& [answer, state] : ticks) {
    box.answer = answer;
    click(IDC_LOCALHOST);
    EXPECT_EQ((dialog.checkState(IDC_LOCALHOST) ? "[x] " : "[ ] ") + hostEdit()->text().toStdString() +
                  (hostEdit()->isEnabled() ? "" : " (locked)"), state);
  }
  EXPECT_EQ(box.count(), 2);  // only the ticks over example.org ask
  EXPECT_EQ(box.text, "localhost(同じPC内)への転送に変更しますか？");
  for (const char* other : {"127.0.0.2", " localhost", "localhost.example"})
    EXPECT_FALSE(CSettingDlg::isLocalHostName(other)) << other;
}

}  // namespace
