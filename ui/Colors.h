// Background colours through palettes. Text is always drawn on a transparent background
// in Qt, so giving a control a background is all a colour rule needs.
#pragma once

#include <QColor>

class QWidget;

namespace ui {

// Fills the widget's whole rectangle with the colour (its Window role). Children that
// do not paint their own background show it too.
void setBackground(QWidget* widget, const QColor& color);

// Back to the colours the widget inherits from its parent and style.
void clearBackground(QWidget* widget);

// True when setBackground gave the widget a colour; the colour in that case.
bool hasBackground(const QWidget* widget, QColor* color = nullptr);

}  // namespace ui
