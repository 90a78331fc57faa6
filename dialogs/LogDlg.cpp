#include "dialogs/LogDlg.h"

#include <QClipboard>
#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QSaveFile>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>

#include "res/Resource.h"
#include "ui/MessageBox.h"

CLogDlg::CLogDlg() : ui::CDialog(IDD_LOG) {
  onCommand(IDC_LOG_COPY, &CLogDlg::onCopy);
  onCommand(IDC_LOG_SAVE, &CLogDlg::onSave);
  onCommand(IDC_LOG_CLEAR, &CLogDlg::onClear);
}

CLogDlg::~CLogDlg() { setRing(nullptr); }

QPlainTextEdit* CLogDlg::text() const { return itemAs<QPlainTextEdit>(IDC_LOG_TEXT); }

bool CLogDlg::onInitDialog() {
  if (QLineEdit* field = edit(IDC_LOG_SEARCH)) {
    field->setClearButtonEnabled(true);
    connect(field, &QLineEdit::textChanged, this, &CLogDlg::onSearch);
  }
  // Never wrapped, so a long line is read by scrolling sideways rather than cut at the edge.
  if (QPlainTextEdit* view = text()) view->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  ui::CDialog::onInitDialog();
  fill();  // a ring given before the window was made
  return true;
}

void CLogDlg::setRing(evlog::Ring* r) {
  if (ring) ring->setWatcher(nullptr);
  ring = r;
  if (!ring) return;
  ring->setWatcher(this);
  capacity = ring->capacity();
  held.clear();
  for (const std::string& line : ring->lines()) held.push_back(QString::fromStdString(line));
  fill();
}

bool CLogDlg::shows(const QString& line) const {
  return search.isEmpty() || line.contains(search, Qt::CaseInsensitive);
}

void CLogDlg::fill() {
  QPlainTextEdit* view = text();
  if (!view) return;
  view->setMaximumBlockCount(static_cast<int>(capacity));
  view->clear();
  for (const QString& line : held)
    if (shows(line)) view->appendPlainText(line);
  view->verticalScrollBar()->setValue(view->verticalScrollBar()->maximum());
  showCount();
}

void CLogDlg::lineAdded(const std::string& line) {
  held.push_back(QString::fromStdString(line));
  // Appending keeps a view that sat at the bottom there and leaves any other place alone; it
  // never touches focus or stacking.
  QPlainTextEdit* view = text();
  if (view && shows(held.back())) view->appendPlainText(held.back());
  if (held.size() > capacity) dropOldest();
  if (!search.isEmpty()) showCount();
}

void CLogDlg::dropOldest() {
  const bool wasShown = shows(held.front());
  held.pop_front();
  // Without a search the view holds what the window holds and its block limit drops the line.
  QPlainTextEdit* view = text();
  if (!view || search.isEmpty() || !wasShown) return;
  QScrollBar* bar = view->verticalScrollBar();
  const int place = bar->value();
  const bool atEnd = place == bar->maximum();
  QTextCursor first(view->document());
  if (!first.movePosition(QTextCursor::NextBlock, QTextCursor::KeepAnchor))
    first.movePosition(QTextCursor::EndOfBlock, QTextCursor::KeepAnchor);
  first.removeSelectedText();
  if (!atEnd) bar->setValue(place - 1);  // the lines read stay where they were
}

void CLogDlg::onSearch(const QString& typed) {
  search = typed;
  fill();
}

void CLogDlg::showCount() {
  // Only a search needs saying how much of the log is left in view.
  setItemText(IDC_LOG_SHOWN, search.isEmpty()
                                 ? std::string()
                                 : QStringLiteral("%1 / %2 行").arg(lineCount()).arg(held.size()).toStdString());
}

int CLogDlg::lineCount() const {
  const QPlainTextEdit* view = text();
  return view && !view->document()->isEmpty() ? view->document()->blockCount() : 0;
}

QString CLogDlg::shownText() const {
  const QPlainTextEdit* view = text();
  return view && !view->document()->isEmpty() ? view->toPlainText() + '\n' : QString();
}

void CLogDlg::onCopy() { QGuiApplication::clipboard()->setText(shownText()); }

void CLogDlg::onClear() {
  // The window's lines only: the ring serves nothing else, and the journal has them all.
  held.clear();
  fill();
}

void CLogDlg::onSave() {
  const QString name = QDateTime::currentDateTime().toString(QStringLiteral("'relvanetiv-log-'yyyyMMdd-HHmmss'.txt'"));
  const QString path = QFileDialog::getSaveFileName(this, QString::fromUtf8(kSaveTitle), QDir::home().filePath(name),
                                                    QStringLiteral("テキスト (*.txt);;すべてのファイル (*)"));
  if (!path.isEmpty()) saveTo(path);
}

bool CLogDlg::saveTo(const QString& path) {
  // Written beside the old file and renamed over it, so a failed save leaves no half a log.
  QSaveFile file(path);
  const QByteArray bytes = shownText().toUtf8();
  if (file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit()) return true;
  ui::messageBox(QString::fromUtf8(kSaveFailed).arg(QDir::toNativeSeparators(path), file.errorString()).toStdString(),
                 this);
  return false;
}

void CLogDlg::keyPressEvent(QKeyEvent* event) {
  // Enter in the search field ends the typing, not the window.
  const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
  if (enter && focusWidget() == item(IDC_LOG_SEARCH)) return event->accept();
  ui::CDialog::keyPressEvent(event);
}
