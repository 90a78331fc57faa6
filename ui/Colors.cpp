#include "ui/Colors.h"

#include <QPalette>
#include <QWidget>

namespace ui {
namespace {
constexpr const char* kColorProperty = "relvaneBackground";
}

void setBackground(QWidget* widget, const QColor& color) {
  if (!widget) return;
  QColor current;
  if (hasBackground(widget, &current) && current == color) return;  // avoid needless repaints
  QPalette palette = widget->palette();
  palette.setColor(QPalette::Window, color);
  widget->setPalette(palette);
  widget->setAutoFillBackground(true);
  widget->setProperty(kColorProperty, color);
}

void clearBackground(QWidget* widget) {
  if (!widget || !hasBackground(widget)) return;
  widget->setAutoFillBackground(false);
  widget->setPalette(QPalette());  // an empty resolve mask: inherit everything again
  widget->setProperty(kColorProperty, QVariant());
}

bool hasBackground(const QWidget* widget, QColor* color) {
  if (!widget) return false;
  const QVariant value = widget->property(kColorProperty);
  if (!value.isValid()) return false;
  if (color) *color = value.value<QColor>();
  return true;
}

}  // namespace ui
