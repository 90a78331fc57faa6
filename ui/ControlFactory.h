// Makes the widget for one control of a dialog template.
#pragma once

#include "res/DialogTemplate.h"

#include <QRect>
#include <QString>

class QWidget;

namespace ui {

// The objectName a control gets from its id ("id1017"); empty for IDC_STATIC.
QString controlObjectName(int id);

// Creates the control as a child of `parent` (which owns it) at `rect` in pixels.
// `previous` is the control made just before it: a spin control's buddy.
QWidget* createControl(const res::ControlTemplate& control, QWidget* parent, const QRect& rect, QWidget* previous);

// The template kind a control was made from (stored on the widget).
res::ControlKind controlKind(const QWidget* control);
// The id a control was made with; IDC_STATIC when it has none or is no template control.
int controlId(const QWidget* control);

}  // namespace ui
