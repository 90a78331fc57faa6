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

TEST(LogDlg, SearchedSavedAndCleared) {
  initUiOnce();
  TempDir temp;
  evlog::Ring ring(5);
  for (const char* text : {"alpha one", "beta two", "Alpha 三番目 ありがとう"}) ring.write(evlog::messageLine(text));
  ring.write(evlog::messageLine(std::string(400, 'x') + " alpha at the end"));
  CLogDlg log;
  ASSERT_TRUE(log.create());
  log.setRing(&ring), log.show(), QApplication::processEvents();
  const QScrollBar* sideways = log.text()->horizontalScrollBar();
  EXPECT_TRUE(sideways->isVisible() && sideways->maximum() > 0) << "the long line is scrolled to, not cut";

  QLineEdit* search = log.edit(IDC_LOG_SEARCH);
  search->setFocus();
  QTest::keyClicks(search, "ALPHA");
  EXPECT_EQ(log.itemText(IDC_LOG_SHOWN), "3 / 4 行");
  QTest::keyClick(search, Qt::Key_Return);  // ends the typing, not the window
  EXPECT_TRUE(log.isVisible());
  for (const char* text : {"gamma", "alpha five"}) ring.write(evlog::messageLine(text));  // "alpha one" leaves
  EXPECT_EQ(log.itemText(IDC_LOG_SHOWN), "3 / 5 行");

  const std::string saved = (temp / "log.txt").string();
  whenModal<QFileDialog>([&](QFileDialog* dialog) {
    dialog->selectFile(QString::fromStdString(saved)), static_cast<QDialog*>(dialog)->accept();
  });
  click(log.button(IDC_LOG_SAVE));
  const auto& in = ring.lines();  // the lines shown, in UTF-8
  EXPECT_EQ(readFile(saved), in[1] + '\n' + in[2] + '\n' + in[4] + '\n');
  BoxAnswerer box;
  const std::string nowhere = (temp / "gone" / "log.txt").string();
  EXPECT_TRUE(!log.saveTo(QString::fromStdString(nowhere)) && box.count == 1 &&
              box.text.starts_with("ログを保存できませんでした: " + nowhere + "\n"));

  search->clear();
  EXPECT_EQ(log.lineCount(), 5);
  click(log.button(IDC_LOG_CLEAR));
  EXPECT_TRUE(log.lineCount() + log.heldCount() == 0 && ring.lines().size() == 5u) << "the ring keeps its lines";
  ring.write(evlog::messageLine("after the clear"));
  EXPECT_TRUE(log.lineCount() == 1 && log.text()->toPlainText().endsWith("\"after the clear\""));
}

}  // namespace
