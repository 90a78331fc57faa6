#include "app/AppIcon.h"

#include <QString>

QIcon applicationIcon() {
  QIcon icon;
  for (int size : {16, 24, 32, 48, 256})
    icon.addFile(QStringLiteral(":/icons/relvanetiv-%1.png").arg(size), QSize(size, size));
  return icon;
}
