// Dialog units -> pixels, from the dialog font's metrics the way the desktop has always
// done it: base X is the average width of A-Z a-z, base Y the font height; a horizontal
// unit is baseX/4 pixels and a vertical one baseY/8, each value rounded on its own.
#pragma once

#include <QRect>

class QFont;
class QPaintDevice;

namespace ui {

// a * b / c rounded half away from zero, without intermediate overflow.
int mulDiv(int a, int b, int c);

struct DialogUnits {
  int baseX = 0;
  int baseY = 0;

  // Base units of a font as drawn on a device (the screen when device is null).
  static DialogUnits fromFont(const QFont& font, const QPaintDevice* device = nullptr);

  int toPixelsX(int dlu) const { return mulDiv(dlu, baseX, 4); }
  int toPixelsY(int dlu) const { return mulDiv(dlu, baseY, 8); }
  // Position and size mapped separately, as a template's controls are placed.
  QRect toPixels(int x, int y, int cx, int cy) const;
};

}  // namespace ui
