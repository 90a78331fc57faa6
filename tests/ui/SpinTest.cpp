// The port fields of the settings dialog: a spin bound to an edit box that accepts any
// text, with the position keeping its last valid value.
#include "UiTestUtil.h"
#include "res/Resource.h"
#include "ui/Dialog.h"
#include "ui/SpinButton.h"

#include <QLineEdit>
#include <QTest>
#include <QToolButton>
#include <gtest/gtest.h>

namespace {

TEST(Spin, PositionTakesOnlyValidTypedNumbersClampsToRangeAndArrowsStepFromTheLastValidOne) {
  uitest::initOnce();
  ui::CDialog dlg{IDD_SETTING};
  ASSERT_TRUE(dlg.create());
  ui::CSpinButton *listen = dlg.spin(IDC_LISTEN_PORT_SPIN), *forward = dlg.spin(IDC_FORWARD_PORT_SPIN);
  ASSERT_TRUE(listen && forward);
  QLineEdit *edit = dlg.edit(IDC_LISTEN_PORT_EDIT), *forwardEdit = dlg.edit(IDC_FORWARD_PORT_EDIT);
  for (ui::CSpinButton* spin : {listen, forward}) spin->setRange(0, 65535);
  auto retype = [edit](const QString& text) {
    edit->selectAll();
    QTest::keyClick(edit, Qt::Key_Delete);
    QTest::keyClicks(edit, text);
  };
  retype(QStringLiteral(" 443 "));
  EXPECT_EQ(listen->pos(), 443);
  listen->setPos(8080);
  // 70000 passes through 7000 while typed: only the text as it stands counts.
  for (const char* bad : {"abc", "70000", "1,000"}) {
    retype(QString::fromLatin1(bad));
    EXPECT_EQ(listen->pos(), 8080) << bad;
    EXPECT_EQ(edit->text(), QString::fromLatin1(bad));
  }
  edit->clear();
  uitest::commitText(edit, QStringLiteral("８０８１ポート"));  // full-width digits
  EXPECT_EQ(edit->text(), QStringLiteral("８０８１ポート"));
  EXPECT_EQ(listen->pos(), 8080);

  // The buttons step from the last valid position and rewrite the text.
  const auto buttons = listen->findChildren<QToolButton*>();
  ASSERT_EQ(buttons.size(), 2);
  QToolButton* up = buttons[0]->arrowType() == Qt::UpArrow ? buttons[0] : buttons[1];
  QToolButton* down = up == buttons[0] ? buttons[1] : buttons[0];
  up->click();
  EXPECT_EQ(edit->text(), QStringLiteral("8081"));
  down->click();
  down->click();
  EXPECT_EQ(listen->pos(), 8079);

  EXPECT_EQ(listen->setPos(12345), 8079);  // returns the previous position
  EXPECT_EQ(edit->text(), QStringLiteral("12345"));
  listen->setPos(70000);
  EXPECT_EQ(listen->pos(), 65535);
  EXPECT_EQ(edit->text(), QStringLiteral("65535"));
  listen->setPos(-3);
  EXPECT_EQ(listen->pos(), 0);
  listen->setPos(500);
  listen->setRange(0, 100);  // a narrower range pulls the position in
  EXPECT_EQ(listen->pos(), 100);

  // The other field's arrow keys, stopping at the top.
  forward->setPos(80);
  forwardEdit->setFocus();
  QTest::keyClick(forwardEdit, Qt::Key_Up);
  EXPECT_EQ(forwardEdit->text(), QStringLiteral("81"));
  QTest::keyClick(forwardEdit, Qt::Key_Down);
  QTest::keyClick(forwardEdit, Qt::Key_Down);
  EXPECT_EQ(forward->pos(), 79);
  forward->setPos(65535);
  QTest::keyClick(forwardEdit, Qt::Key_Up);
  EXPECT_EQ(forward->pos(), 65535);
}

}  // namespace
