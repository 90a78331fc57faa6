#include "HomePage.h"

#include <QDesktopServices>
#include <QUrl>

void openHomePage() {
  (void)QDesktopServices::openUrl(QUrl(QString::fromLatin1(homePageAddress)));
}

void onHomePageLink(const QString&) {
  // The link text carries no address of its own; every link goes to the one page.
  openHomePage();
}
