// What the dialog layer does for every dialog that no dialog's own test shows: a link's click
// and keys run its command and leave the dialog open, and colour rules follow every push.
#include "Modal.h"
#include "res/Resource.h"
#include "ui/Colors.h"
#include "ui/Dialog.h"
#include "ui/LinkCtrl.h"

#include <QTest>
#include <gtest/gtest.h>

namespace {

// The about box's template, with a colour rule that follows a member.
struct Probe : ui::CDialog {
  Probe() : CDialog(IDD_ABOUTBOX) { onCommand(IDC_HOMEPAGE_LINK, [this] { ++clicks; }); }
  int clicks = 0;
  bool alert = false;
  std::optional<QColor> dialogColor() const override { return QColor(Qt::white); }
  std::optional<QColor> controlColor(int id, res::ControlKind) const override {
    return alert && id == IDC_VERSION ? std::optional(QColor(Qt::red)) : std::nullopt;
  }
};

QColor colourOf(const QWidget* w) {
  QColor c;
  return ui::hasBackground(w, &c) ? c : QColor();  // invalid: the default look
}

TEST(Dialog, ALinkRunsItsCommandAndColourRulesFollowEveryPush) {
  testsupport::initUiOnce();
  Probe about;
  ASSERT_TRUE(about.create());
  about.show();
  EXPECT_EQ(colourOf(&about), QColor(Qt::white));
  for (bool alert : {true, false}) {
    about.alert = alert;
    about.updateData(false);
    EXPECT_EQ(colourOf(about.item(IDC_VERSION)), alert ? QColor(Qt::red) : QColor()) << alert;
  }
  ui::CLinkCtrl* link = about.link(IDC_HOMEPAGE_LINK);
  QTest::mouseClick(link, Qt::LeftButton);
  for (Qt::Key key : {Qt::Key_Space, Qt::Key_Return}) QTest::keyClick(link, key);  // Return: not the dialog's OK
  EXPECT_EQ(about.clicks, 3);
  EXPECT_TRUE(about.isVisible());
}

}  // namespace
