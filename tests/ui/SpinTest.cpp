// The port fields of the settings dialog: a spin bound to an edit box that accepts any
// text, with the position keeping its last valid value.
#include "Modal.h"
#include "res/Resource.h"
#include "ui/Dialog.h"
#include "ui/SpinButton.h"

#include <QLineEdit>
#include <QTest>
#include <QToolButton>
#include <gtest/gtest.h>

namespace {

TEST(Spin, PositionTakesOnlyValidTypedNumbersClampsToRangeAndArrowsStepFromTheLastValidOne) {
  testsupport::initUiOnce();
  ui::CDialog dlg{IDD_SETTING};
  ASSERT_TRUE(dlg.create());
  ui::CSpinButton* listen = dlg.spin(IDC_LISTEN_PORT_SPIN);
  ASSERT_NE(listen, nullptr);
  QLineEdit* edit = dlg.edit(IDC_LISTEN_PORT_EDIT);
  listen->setRange(0, 65535);
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
  testsupport::commitText(edit, QStringLiteral("８０８１ポート"));  // full-width digits
  EXPECT_EQ(edit->text(), QStringLiteral("８０８１ポート"));
  EXPECT_EQ(listen->pos(), 8080);

  // The buttons step from the last valid position and rewrite the text.
  const auto buttons = listen->findChildren<QToolButton*>();
  ASSERT_EQ(buttons.size(), 2);
  for (QToolButton* button : buttons) {
    const int before = listen->pos();
    button->click();
    EXPECT_EQ(listen->pos(), before + (button->arrowType() == Qt::UpArrow ? 1 : -1));
    EXPECT_EQ(edit->text(), QString::number(listen->pos()));
  }

  EXPECT_EQ(listen->setPos(12345), 8080);  // returns the previous position
  EXPECT_EQ(edit->text(), QStringLiteral("12345"));
  listen->setPos(70000);
  EXPECT_EQ(listen->pos(), 65535);
  EXPECT_EQ(edit->text(), QStringLiteral("65535"));
  listen->setPos(-3);
  EXPECT_EQ(listen->pos(), 0);
  listen->setPos(500);
  listen->setRange(0, 100);  // a narrower range pulls the position in
  EXPECT_EQ(listen->pos(), 100);

  // The other field takes the arrow keys, stopping at the top.
  ui::CSpinButton* forward = dlg.spin(IDC_FORWARD_PORT_SPIN);
  QLineEdit* forwardEdit = dlg.edit(IDC_FORWARD_PORT_EDIT);
  forward->setRange(0, 65535);
  forward->setPos(80);
  forwardEdit->setFocus();
  for (Qt::Key key : {Qt::Key_Up, Qt::Key_Down, Qt::Key_Down}) QTest::keyClick(forwardEdit, key);
  EXPECT_EQ(forwardEdit->text(), QStringLiteral("79"));
  forward->setPos(65535);
  QTest::keyClick(forwardEdit, Qt::Key_Up);
  EXPECT_EQ(forward->pos(), 65535);
}

}  // namespace
