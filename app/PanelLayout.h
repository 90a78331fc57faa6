#pragma once
// Where the main window puts its port panels and how large it makes itself.
// Pure arithmetic, so the numbers can be checked without a window.
#include <QPoint>
#include <QSize>
#include <vector>

namespace panel_layout {

// The band above the panels that holds the "Powered By" link.
constexpr int bandHeight = 20;
// Panels per column; further panels start a new column to the right.
constexpr int panelsPerColumn = 5;

struct Layout {
  std::vector<QPoint> panelPositions;  // client coordinates, slot order
  QSize clientSize;                    // the area the panels and the band need
  QSize windowSize;                    // clientSize plus the frame
};

// count panels of panelSize each; frame is window size minus client size.
Layout compute(int count, QSize panelSize, QSize frame);

}  // namespace panel_layout
