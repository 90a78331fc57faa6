#include "ui/MessageBox.h"

#include "res/Resource.h"

#include <QApplication>
#include <QFileInfo>
#include <QMessageBox>

namespace ui {
namespace {

// Without an explicit parent the box belongs to the window the user is looking at, so
// it stays in front of it and is centred over it.
QWidget* ownerFor(QWidget* parent) { return parent ? parent : QApplication::activeWindow(); }

}  // namespace

QString applicationCaption() {
  QString path = QCoreApplication::applicationFilePath();
  if (path.isEmpty() && !QCoreApplication::arguments().isEmpty()) {
    path = QCoreApplication::arguments().constFirst();
  }
  return QFileInfo(path).completeBaseName();
}

int messageBox(const std::string& text, QWidget* parent) {
  QMessageBox box(QMessageBox::Warning, applicationCaption(), QString::fromStdString(text), QMessageBox::Ok,
                  ownerFor(parent));
  box.exec();
  return IDOK;
}

int askYesNo(const std::string& text, QWidget* parent) {
  QMessageBox box(QMessageBox::Question, applicationCaption(), QString::fromStdString(text),
                  QMessageBox::Yes | QMessageBox::No, ownerFor(parent));
  box.setDefaultButton(QMessageBox::Yes);
  return box.exec() == QMessageBox::Yes ? IDYES : IDNO;
}

}  // namespace ui
