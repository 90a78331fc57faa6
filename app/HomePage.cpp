#include "HomePage.h"

#include <QDesktopServices>
#include <QUrl>

void openHomePage() { (void)QDesktopServices::openUrl(QUrl(QString::fromLatin1(homePageAddress))); }
