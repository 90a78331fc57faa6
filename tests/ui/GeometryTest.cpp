// Templates become widgets at the pixel positions the dialog font's metrics give.
#include "UiTestUtil.h"
#include "res/DialogTemplate.h"
#include "res/Resource.h"
#include "ui/Dialog.h"
#include "ui/DialogUnits.h"

#include <QFontInfo>
#include <cmath>
#include <gtest/gtest.h>

namespace {

// Independent of ui::mulDiv: plain rounding of the exact quotient.
int expectX(int dlu) { return static_cast<int>(std::lround(dlu * 7 / 4.0)); }
int expectY(int dlu) { return static_cast<int>(std::lround(dlu * 13 / 8.0)); }

TEST(Geometry, PortPanelControlsSitWhereTheirDialogUnitsMap) {
  uitest::initOnce();
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
}

}  // namespace
