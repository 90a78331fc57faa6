// Process-wide set-up of the dialog layer: the dialog font's substitutes and Qt's
// Japanese translation of its standard buttons. Call once after the QApplication exists.
#pragma once

#include <QFont>

namespace ui {

// Registers the font substitutes and loads Qt's Japanese translation. Safe to call more
// than once. Returns whether the translation was found and installed.
bool initApplication();

// The font a template names, at the given point size. Its family resolves through the
// substitutes registered by initApplication when the face itself is not installed.
QFont dialogFont(const char* face, int pointSize);

}  // namespace ui
