#include "dialogs/LogDlg.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QPlainTextEdit>
#include <QTextDocument>

#include "res/Resource.h"

CLogDlg::CLogDlg() : ui::CDialog(IDD_LOG) { onCommand(IDC_LOG_COPY, &CLogDlg::onCopy); }

CLogDlg::~CLogDlg() { setRing(nullptr); }

QPlainTextEdit* CLogDlg::text() const { return itemAs<QPlainTextEdit>(IDC_LOG_TEXT); }

void CLogDlg::setRing(evlog::Ring* r) {
  if (ring) ring->setWatcher(nullptr);
  ring = r;
  if (!ring) return;
  ring->setWatcher(this);
  fill();
}

void CLogDlg::fill() {
  QPlainTextEdit* view = text();
  if (!view) return;
  view->setMaximumBlockCount(static_cast<int>(ring->capacity()));
  view->clear();
  for (const std::string& line : ring->lines()) view->appendPlainText(QString::fromStdString(line));
}

void CLogDlg::lineAdded(const std::string& line) {
  // Appending keeps a view that sat at the bottom there and leaves any other place alone; it
  // never touches focus or stacking.
  if (QPlainTextEdit* view = text()) view->appendPlainText(QString::fromStdString(line));
}

int CLogDlg::lineCount() const {
  const QPlainTextEdit* view = text();
  return view && !view->document()->isEmpty() ? view->document()->blockCount() : 0;
}

void CLogDlg::onCopy() {
  if (const QPlainTextEdit* view = text()) QGuiApplication::clipboard()->setText(view->toPlainText() + '\n');
}
