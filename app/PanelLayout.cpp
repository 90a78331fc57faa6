#include "PanelLayout.h"

#include <algorithm>

namespace panel_layout {

Layout compute(int count, QSize panelSize, QSize frame) {
  Layout layout;
  const int n = std::max(count, 0);
  const int w = panelSize.width();
  const int h = panelSize.height();
  for (int i = 0; i < n; ++i) {
    const int column = i / panelsPerColumn;
    const int row = i % panelsPerColumn;
    layout.panelPositions.emplace_back(column * w, bandHeight + row * h);
  }
  // Every column is as tall as the first, so the window grows sideways only;
  // an empty window still keeps room for one column.
  const int columns = std::max(1, (n + panelsPerColumn - 1) / panelsPerColumn);
  const int rows = std::min(n, panelsPerColumn);
  layout.clientSize = QSize(columns * w, bandHeight + rows * h);
  layout.windowSize = layout.clientSize + frame;
  return layout;
}

}  // namespace panel_layout
