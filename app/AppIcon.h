#pragma once
// The application icon in every size the desktop may ask for (16, 24, 32, 48, 256 px).
#include <QIcon>

QIcon applicationIcon();
