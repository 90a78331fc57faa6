// What the dialog layer does for every dialog that no dialog's own test shows: templates become
// widgets at the pixel positions the dialog font's metrics give, a link's click and keys run its
// command and leave the dialog open, and colour rules follow every push.
#include "Modal.h"
#include "res/Resource.h"
#include "ui/Colors.h"
#include "ui/Dialog.h"
#include "ui/LinkCtrl.h"

#include <QFontInfo>
#include <QLineEdit>
#include <QStyleOptionFrame>
#include <QTest>
#include <cmath>
#include <gtest/gtest.h>

namespace {

// Independent of ui::mulDiv: plain rounding of the exact quotient.
int expectX(int dlu) { return static_cast<int>(std::lround(dlu * 7 / 4.0)); }
int expectY(int dlu) { return static_cast<int>(std::lround(dlu * 13 / 8.0)); }

TEST(Geometry, PortPanelControlsSitWhereTheirDialogUnitsMapAndPortFieldsShowFiveDigits) {
  testsupport::initUiOnce();
  QWidget host;
  ASSERT_EQ(QPoint(host.logicalDpiX(), host.logicalDpiY()), QPoint(96, 96));  // assumed below
  EXPECT_EQ(QFontInfo(ui::dialogFont("ＭＳ Ｐゴシック", 9)).family(), QStringLiteral("IPAPGothic"));

  ui::CDialog panel(IDD_PORT_PANEL);
  ASSERT_TRUE(panel.create(&host));
  EXPECT_EQ(QSize(panel.units().baseX, panel.units().baseY), QSize(7, 13));
  EXPECT_EQ(panel.clientRect(), QRect(2, 2, 331, 67));  // inside a border and a static edge
  EXPECT_EQ(QFontInfo(panel.item(IDC_ACTIVE)->font()).family(), QStringLiteral("IPAPGothic"));
  const res::DialogTemplate* t = res::findDialogTemplate(IDD_PORT_PANEL);
  QList<QWidget*> controls;
  for (QWidget* w : panel.findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
    if (w->property("controlId").isValid()) controls.append(w);
  ASSERT_EQ(controls.size(), static_cast<qsizetype>(t->controls.size()));
  for (size_t i = 0; i < t->controls.size(); ++i) {
    const res::ControlTemplate& c = t->controls[i];
    EXPECT_EQ(controls[i]->geometry(), QRect(2 + expectX(c.x), 2 + expectY(c.y), expectX(c.cx), expectY(c.cy))) << i;
  }

  // Every port field shows five digits whole beside its spin (as QLineEdit lays out its text:
  // the style's contents rectangle, less the text margins and its own 2 px on either side).
  ui::CDialog settings(IDD_SETTING);
  ASSERT_TRUE(settings.create(&host));
  for (int id : {IDC_LISTEN_PORT_EDIT, IDC_FORWARD_PORT_EDIT}) {
    auto* edit = qobject_cast<QLineEdit*>(settings.item(id));
    ASSERT_NE(edit, nullptr) << id;
    QStyleOptionFrame opt;
    opt.initFrom(edit);
    opt.lineWidth = edit->hasFrame() ? edit->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &opt, edit) : 0;
    const QRect contents = edit->style()->subElementRect(QStyle::SE_LineEditContents, &opt, edit);
    const QMargins m = edit->textMargins();
    EXPECT_LE(edit->fontMetrics().horizontalAdvance(QStringLiteral("65535")),
              contents.width() - m.left() - m.right() - 4)
        << id;
  }
}

// The about box's template, with a colour rule that follows a member.
struct Probe : ui::CDialog {
  Probe() : CDialog(IDD_ABOUTBOX) {
    onCommand(IDC_HOMEPAGE_LINK, [this] { ++clicks; });
  }
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
    about.alert = alert, about.updateData(false);
    EXPECT_EQ(colourOf(about.item(IDC_VERSION)), alert ? QColor(Qt::red) : QColor()) << alert;
  }
  ui::CLinkCtrl* link = about.link(IDC_HOMEPAGE_LINK);
  QTest::mouseClick(link, Qt::LeftButton);
  for (Qt::Key key : {Qt::Key_Space, Qt::Key_Return}) QTest::keyClick(link, key);  // Return: not the dialog's OK
  EXPECT_TRUE(about.clicks == 3 && about.isVisible()) << about.clicks;
}

}  // namespace
