#include "ui/DialogUnits.h"

#include <QFont>
#include <QFontMetrics>
#include <QString>
#include <cstdint>
#include <cstdlib>

namespace ui {

int mulDiv(int a, int b, int c) {
  if (c == 0) return -1;  // what the desktop's own MulDiv answers; never a crash
  const int64_t product = int64_t{a} * b;
  const int64_t magnitude = (std::llabs(product) + std::llabs(c) / 2) / std::llabs(c);
  const bool negative = (product < 0) != (c < 0);
  return static_cast<int>(negative ? -magnitude : magnitude);
}

DialogUnits DialogUnits::fromFont(const QFont& font, const QPaintDevice* device) {
  static const QString letters = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
  // QFontMetrics wants a non-const device but only reads its resolution.
  const QFontMetrics fm = device ? QFontMetrics(font, const_cast<QPaintDevice*>(device)) : QFontMetrics(font);
  DialogUnits u;
  u.baseX = (fm.horizontalAdvance(letters) / 26 + 1) / 2;
  u.baseY = fm.height();
  return u;
}

QRect DialogUnits::toPixels(int x, int y, int cx, int cy) const {
  return QRect(toPixelsX(x), toPixelsY(y), toPixelsX(cx), toPixelsY(cy));
}

}  // namespace ui
