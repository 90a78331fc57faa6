// Message boxes: the program's name as caption, the icon and the buttons of each kind,
// in Japanese.
#include "UiTestUtil.h"
#include "res/Resource.h"
#include "ui/MessageBox.h"

#include <QAbstractButton>
#include <QMessageBox>
#include <QTest>
#include <gtest/gtest.h>

namespace {

struct Seen {
  QString caption, text;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  QStringList buttons;
};

// Records what the next box shows, then presses `press` (Escape for NoButton).
void answer(Seen& seen, QMessageBox::StandardButton press) {
  uitest::whenModal<QMessageBox>([&seen, press](QMessageBox* box) {
    seen = {box->windowTitle(), box->text(), box->icon(), {}};
    for (QAbstractButton* b : box->buttons()) seen.buttons << b->text().remove(QLatin1Char('&'));
    if (press == QMessageBox::NoButton) QTest::keyClick(box, Qt::Key_Escape);
    else box->button(press)->click();
  });
}

TEST(MessageBox, CaptionIconButtonsAndAnswersOfEachKind) {
  uitest::initOnce();
  Seen seen;
  answer(seen, QMessageBox::Ok);
  EXPECT_EQ(ui::messageBox("現在接続はありません."), IDOK);
  EXPECT_EQ(seen.caption, QStringLiteral("relvane_ui_tests"));  // the executable's name
  EXPECT_EQ(seen.text, QStringLiteral("現在接続はありません."));
  EXPECT_EQ(seen.icon, QMessageBox::Warning);
  EXPECT_EQ(seen.buttons, QStringList{QStringLiteral("OK")});

  answer(seen, QMessageBox::No);
  EXPECT_EQ(ui::askYesNo("変更しますか？"), ui::IDNO);
  EXPECT_EQ(seen.icon, QMessageBox::Question);
  seen.buttons.sort();
  EXPECT_EQ(seen.buttons, (QStringList{QStringLiteral("いいえ(N)"), QStringLiteral("はい(Y)")}));
  answer(seen, QMessageBox::Yes);
  EXPECT_EQ(ui::askYesNo("変更しますか？"), ui::IDYES);
  answer(seen, QMessageBox::NoButton);
  EXPECT_EQ(ui::askYesNo("変更しますか？"), ui::IDNO);
}

}  // namespace
