// The main window's arithmetic: panels in columns of five below the 20-pixel band.
#include <gtest/gtest.h>

#include "app/PanelLayout.h"

namespace {

const QSize panel(300, 70);
const QSize frame(8, 30);

TEST(PanelLayout, OnePanelSitsBelowTheBandAndTheWindowFitsIt) {
  const auto l = panel_layout::compute(1, panel, frame);
  ASSERT_EQ(l.panelPositions.size(), 1u);
  EXPECT_EQ(l.panelPositions[0], QPoint(0, 20));
  EXPECT_EQ(l.clientSize, QSize(300, 90));
  EXPECT_EQ(l.windowSize, QSize(308, 120));
}

TEST(PanelLayout, FivePanelsFillOneColumn) {
  const auto l = panel_layout::compute(5, panel, frame);
  ASSERT_EQ(l.panelPositions.size(), 5u);
  for (int i = 0; i < 5; ++i) EXPECT_EQ(l.panelPositions[i], QPoint(0, 20 + i * 70)) << i;
  EXPECT_EQ(l.clientSize, QSize(300, 370));
}

TEST(PanelLayout, SixthPanelOpensTheSecondColumnAtTheTop) {
  const auto l = panel_layout::compute(6, panel, frame);
  EXPECT_EQ(l.panelPositions[4], QPoint(0, 300));
  EXPECT_EQ(l.panelPositions[5], QPoint(300, 20));
  EXPECT_EQ(l.clientSize, QSize(600, 370));
  EXPECT_EQ(l.windowSize, QSize(608, 400));
}

TEST(PanelLayout, ElevenPanelsTakeThreeColumnsAndAllStayInside) {
  const auto l = panel_layout::compute(11, panel, frame);
  EXPECT_EQ(l.panelPositions[9], QPoint(300, 300));
  EXPECT_EQ(l.panelPositions[10], QPoint(600, 20));
  EXPECT_EQ(l.clientSize, QSize(900, 370));
  for (const QPoint& p : l.panelPositions) {
    EXPECT_LE(p.x() + panel.width(), l.clientSize.width());
    EXPECT_LE(p.y() + panel.height(), l.clientSize.height());
  }
}

TEST(PanelLayout, NoPanelsKeepsTheBandAndOneEmptyColumn) {
  const auto l = panel_layout::compute(0, panel, frame);
  EXPECT_TRUE(l.panelPositions.empty());
  EXPECT_EQ(l.clientSize, QSize(300, 20));
}

}  // namespace
