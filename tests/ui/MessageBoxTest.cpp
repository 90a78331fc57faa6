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

void record(QMessageBox* box, Seen& seen) {
  seen.caption = box->windowTitle();
  seen.text = box->text();
  seen.icon = box->icon();
  for (QAbstractButton* b : box->buttons()) seen.buttons << b->text();
}

class MessageBox : public ::testing::Test {
protected:
  void SetUp() override { uitest::initOnce(); }
};

TEST_F(MessageBox, CaptionIsTheExecutableName) {
  EXPECT_EQ(ui::applicationCaption(), QStringLiteral("relvane_ui_tests"));
}

TEST_F(MessageBox, WarningHasOkOnly) {
  Seen seen;
  uitest::whenModal<QMessageBox>([&seen](QMessageBox* box) {
    record(box, seen);
    box->button(QMessageBox::Ok)->click();
  });
  EXPECT_EQ(ui::messageBox("現在接続はありません."), IDOK);
  EXPECT_EQ(seen.caption, QStringLiteral("relvane_ui_tests"));
  EXPECT_EQ(seen.text, QStringLiteral("現在接続はありません."));
  EXPECT_EQ(seen.icon, QMessageBox::Warning);
  EXPECT_EQ(seen.buttons, QStringList{QStringLiteral("OK")});
}

TEST_F(MessageBox, QuestionHasJapaneseYesAndNo) {
  Seen seen;
  uitest::whenModal<QMessageBox>([&seen](QMessageBox* box) {
    record(box, seen);
    box->button(QMessageBox::No)->click();
  });
  EXPECT_EQ(ui::askYesNo("変更しますか？"), ui::IDNO);
  EXPECT_EQ(seen.caption, QStringLiteral("relvane_ui_tests"));
  EXPECT_EQ(seen.icon, QMessageBox::Question);
  ASSERT_EQ(seen.buttons.size(), 2);
  QStringList plain;
  for (QString t : seen.buttons) plain << t.remove(QLatin1Char('&'));
  EXPECT_TRUE(plain.contains(QStringLiteral("はい(Y)"))) << plain.join(' ').toStdString();
  EXPECT_TRUE(plain.contains(QStringLiteral("いいえ(N)"))) << plain.join(' ').toStdString();

  uitest::whenModal<QMessageBox>([](QMessageBox* box) { box->button(QMessageBox::Yes)->click(); });
  EXPECT_EQ(ui::askYesNo("変更しますか？"), ui::IDYES);

  uitest::whenModal<QMessageBox>([](QMessageBox* box) { QTest::keyClick(box, Qt::Key_Escape); });
  EXPECT_EQ(ui::askYesNo("変更しますか？"), ui::IDNO);
}

}  // namespace
