// Templates become widgets at the pixel positions the dialog font's metrics give.
#include "Modal.h"
#include "res/DialogTemplate.h"
#include "res/Resource.h"
#include "ui/Dialog.h"
#include "ui/DialogUnits.h"

#include <QFontInfo>
#include <QLineEdit>
#include <QStyleOptionFrame>
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
  const QFont font = ui::dialogFont("ＭＳ Ｐゴシック", 9);
  EXPECT_EQ(QFontInfo(font).family(), QStringLiteral("IPAPGothic"));
  const ui::DialogUnits units = ui::DialogUnits::fromFont(font);
  EXPECT_EQ(QSize(units.baseX, units.baseY), QSize(7, 13));

  ui::CDialog panel(IDD_PORT_PANEL);
  ASSERT_TRUE(panel.create(&host));
  EXPECT_EQ(panel.clientRect(), QRect(2, 2, 331, 67));  // inside a border and a static edge
  EXPECT_EQ(QFontInfo(panel.item(IDC_ACTIVE)->font()).family(), QStringLiteral("IPAPGothic"));
  const res::DialogTemplate* t = res::findDialogTemplate(IDD_PORT_PANEL);
  QList<QWidget*> controls;
  for (QWidget* w : panel.findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
    if (w->property("controlId").isValid()) controls.append(w);
  }
  ASSERT_EQ(controls.size(), static_cast<qsizetype>(t->controls.size()));
  for (size_t i = 0; i < t->controls.size(); ++i) {
    const res::ControlTemplate& c = t->controls[i];
    const QRect expected(2 + expectX(c.x), 2 + expectY(c.y), expectX(c.cx), expectY(c.cy));
    EXPECT_EQ(controls[i]->geometry(), expected) << "control " << i << " id " << c.id;
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
    opt.rect = edit->rect();
    opt.lineWidth = edit->hasFrame() ? edit->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &opt, edit) : 0;
    const QRect contents = edit->style()->subElementRect(QStyle::SE_LineEditContents, &opt, edit);
    const QMargins m = edit->textMargins();
    EXPECT_LE(edit->fontMetrics().horizontalAdvance(QStringLiteral("65535")),
              contents.width() - m.left() - m.right() - 4) << id;
  }
}

}  // namespace
