// The log window over a real ring, driven as a reader drives it: a long line scrolled to
// sideways, a search typed, lines arriving and leaving under it, the lines shown saved through
// the file dialog and read back, a save that fails, and clearing.
#include <QFileDialog>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <gtest/gtest.h>

#include "Modal.h"
#include "TempDir.h"
#include "dialogs/LogDlg.h"
#include "log/LogLines.h"
#include "res/Resource.h"

namespace {

using namespace testsupport;

// The ring's lines that hold `word` (as the reader typed it, any case), each ended by a newline.
std::string linesWith(const evlog::Ring& ring, const QString& word) {
  std::string text;
  for (const std::string& line : ring.lines())
    if (QString::fromStdString(line).contains(word, Qt::CaseInsensitive)) text += line + '\n';
  return text;
}

TEST(LogDlg, SearchedSavedAndCleared) {
  initUiOnce();
  TempDir temp;
  evlog::Ring ring(5);
  for (const char* text : {"alpha one", "beta two", "Alpha 三番目 ありがとう"}) ring.write(evlog::messageLine(text));
  ring.write(evlog::messageLine(std::string(400, 'x') + " alpha at the end"));
  CLogDlg log;
  ASSERT_TRUE(log.create());
  log.setRing(&ring);
  log.show();
  QApplication::processEvents();
  const QScrollBar* sideways = log.text()->horizontalScrollBar();
  EXPECT_TRUE(sideways->isVisible() && sideways->maximum() > 0) << "the long line is scrolled to, not cut";

  QLineEdit* search = log.edit(IDC_LOG_SEARCH);
  search->setFocus();
  QTest::keyClicks(search, "ALPHA");
  EXPECT_EQ(log.lineCount(), 3);
  EXPECT_EQ(log.itemText(IDC_LOG_SHOWN), "3 / 4 行");
  QTest::keyClick(search, Qt::Key_Return);
  EXPECT_TRUE(log.isVisible()) << "Enter in the search field keeps the window";
  ring.write(evlog::messageLine("gamma"));
  ring.write(evlog::messageLine("alpha five"));  // the ring is full: "alpha one" leaves, here too
  EXPECT_EQ(log.itemText(IDC_LOG_SHOWN), "3 / 5 行");
  EXPECT_EQ(log.text()->toPlainText().toStdString() + '\n', linesWith(ring, "alpha"));

  const std::string saved = (temp / "log.txt").string();
  whenModal<QFileDialog>([&](QFileDialog* dialog) {
    dialog->selectFile(QString::fromStdString(saved)), static_cast<QDialog*>(dialog)->accept();
  });
  click(log.button(IDC_LOG_SAVE));
  EXPECT_EQ(readFile(saved), linesWith(ring, "alpha"));  // the lines shown, in UTF-8
  {
    BoxAnswerer box;
    const QString nowhere = QString::fromStdString((temp / "gone" / "log.txt").string());
    EXPECT_FALSE(log.saveTo(nowhere));
    EXPECT_EQ(box.count, 1);
    EXPECT_EQ(box.text.rfind("ログを保存できませんでした: " + nowhere.toStdString() + "\n", 0), 0u) << box.text;
  }

  search->clear();
  EXPECT_EQ(log.lineCount(), 5);
  click(log.button(IDC_LOG_CLEAR));
  EXPECT_EQ(log.lineCount() + log.heldCount(), 0);
  EXPECT_EQ(ring.lines().size(), 5u) << "the ring keeps its lines";
  ring.write(evlog::messageLine("after the clear"));
  EXPECT_TRUE(log.lineCount() == 1 && log.text()->toPlainText().endsWith("\"after the clear\""));
  log.setRing(nullptr);
}

}  // namespace
