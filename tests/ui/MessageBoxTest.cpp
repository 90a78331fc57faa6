// Message boxes: the program's name as caption, the icon and the buttons of each kind,
// in Japanese.
#include "Modal.h"
#include "res/Resource.h"
#include "ui/MessageBox.h"

#include <QAbstractButton>
#include <QMessageBox>
#include <QTest>
#include <gtest/gtest.h>

namespace {

// Notes what the next box shows as "caption|text|icon|buttons sorted", then presses `press`
// (Escape for NoButton).
void answer(std::string& seen, QMessageBox::StandardButton press) {
  testsupport::whenModal<QMessageBox>([&seen, press](QMessageBox* box) {
    QStringList buttons;
    for (QAbstractButton* b : box->buttons()) buttons << b->text().remove(QLatin1Char('&'));
    buttons.sort();
    seen = QStringList{box->windowTitle(), box->text(), QString::number(box->icon()), buttons.join(',')}.join('|').toStdString();
    if (press == QMessageBox::NoButton) QTest::keyClick(box, Qt::Key_Escape);
    else box->button(press)->click();
  });
}

TEST(MessageBox, CaptionIconButtonsAndAnswersOfEachKind) {
  testsupport::initUiOnce();
  std::string seen;
  answer(seen, QMessageBox::Ok);
  EXPECT_EQ(ui::messageBox("現在接続はありません."), IDOK);
  // The executable's name as caption; icon 2 is the warning, 4 the question.
  EXPECT_EQ(seen, "relvane_ui_tests|現在接続はありません.|2|OK");
  answer(seen, QMessageBox::No);
  EXPECT_EQ(ui::askYesNo("変更しますか？"), ui::IDNO);
  EXPECT_EQ(seen, "relvane_ui_tests|変更しますか？|4|いいえ(N),はい(Y)");
  answer(seen, QMessageBox::NoButton);
  EXPECT_EQ(ui::askYesNo("変更しますか？"), ui::IDNO);
}

}  // namespace
