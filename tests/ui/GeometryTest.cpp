// Templates become widgets at the pixel positions the dialog font's metrics give.
#include "UiTestUtil.h"
#include "res/DialogTemplate.h"
#include "res/Resource.h"
#include "ui/Dialog.h"
#include "ui/DialogUnits.h"

#include <QFontInfo>
#include <QLineEdit>
#include <QWidget>
#include <cmath>
#include <gtest/gtest.h>

namespace {

// Independent of ui::mulDiv: plain rounding of the exact quotient.
int expectX(int dlu) { return static_cast<int>(std::lround(dlu * 7 / 4.0)); }
int expectY(int dlu) { return static_cast<int>(std::lround(dlu * 13 / 8.0)); }

class Geometry : public ::testing::Test {
protected:
  void SetUp() override {
    uitest::initOnce();
    // Every pixel expectation below assumes the 96 dpi the offscreen platform reports.
    QWidget probe;
    ASSERT_EQ(probe.logicalDpiX(), 96);
    ASSERT_EQ(probe.logicalDpiY(), 96);
  }
};

TEST(MulDiv, RoundsHalfAwayFromZero) {
  EXPECT_EQ(ui::mulDiv(189, 7, 4), 331);   // 330.75
  EXPECT_EQ(ui::mulDiv(2, 1, 4), 1);       // 0.5
  EXPECT_EQ(ui::mulDiv(1, 1, 4), 0);       // 0.25
  EXPECT_EQ(ui::mulDiv(-5, 3, 2), -8);     // -7.5
  EXPECT_EQ(ui::mulDiv(1 << 30, 8, 8), 1 << 30);  // no overflow in the product
  EXPECT_EQ(ui::mulDiv(5, 5, 0), -1);
}

TEST_F(Geometry, DialogFontResolvesToSubstituteWithWindowsBaseUnits) {
  const QFont font = ui::dialogFont("ＭＳ Ｐゴシック", 9);
  EXPECT_EQ(QFontInfo(font).family(), QStringLiteral("IPAPGothic"));
  const ui::DialogUnits units = ui::DialogUnits::fromFont(font);
  EXPECT_EQ(units.baseX, 7);
  EXPECT_EQ(units.baseY, 13);
}

TEST_F(Geometry, PortPanelControlsSitWhereTheirDialogUnitsMap) {
  QWidget host;
  ui::CDialog panel(IDD_PORT_PANEL);
  ASSERT_TRUE(panel.create(&host));
  EXPECT_FALSE(panel.isWindow());
  EXPECT_EQ(panel.parentWidget(), &host);
  EXPECT_EQ(panel.clientRect(), QRect(2, 2, 331, 67));  // inside a border and a static edge
  EXPECT_EQ(panel.size(), QSize(335, 71));

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
  EXPECT_EQ(panel.item(IDC_ACTIVE)->geometry(), QRect(18, 28, 40, 23));
}

TEST_F(Geometry, PopupHasFixedTemplateSizeTitleAndFont) {
  ui::CDialog dlg(IDD_SETTING);
  ASSERT_TRUE(dlg.create());
  EXPECT_TRUE(dlg.isWindow());
  EXPECT_EQ(dlg.size(), QSize(334, 112));
  EXPECT_EQ(dlg.minimumSize(), dlg.maximumSize());
  EXPECT_EQ(dlg.windowTitle(), QStringLiteral("RELVANE設定"));
  EXPECT_EQ(QFontInfo(dlg.item(IDC_HOST_EDIT)->font()).family(), QStringLiteral("IPAPGothic"));
  EXPECT_FALSE(dlg.isVisible());
  EXPECT_FALSE(dlg.create());  // built once
}

TEST_F(Geometry, SpinTakesRightEndOfItsBuddy) {
  ui::CDialog dlg(IDD_SETTING);
  ASSERT_TRUE(dlg.create());
  const QRect edit = dlg.item(IDC_LISTEN_PORT_EDIT)->geometry();
  const QRect spin = dlg.item(IDC_LISTEN_PORT_SPIN)->geometry();
  const QRect templ(expectX(13), expectY(29), expectX(33), expectY(12));
  EXPECT_EQ(edit.united(spin), templ);
  EXPECT_EQ(spin.left(), edit.right() + 1);
  EXPECT_EQ(spin.width(), expectX(10));
  EXPECT_EQ(spin.height(), edit.height());
}

TEST_F(Geometry, MainWindowIsVisibleAtCreationPanelsAreNot) {
  ui::CDialog main(IDD_RELVANE_DIALOG);
  ASSERT_TRUE(main.create());
  EXPECT_TRUE(main.isVisible());
  ui::CDialog panel(IDD_PORT_PANEL);
  ASSERT_TRUE(panel.create(&main));
  EXPECT_FALSE(panel.isVisible());
  panel.show();
  EXPECT_TRUE(panel.isVisible());
  EXPECT_EQ(panel.pos(), QPoint(0, 0));  // showing must not move a panel the owner placed
  panel.hide();
}

}  // namespace
