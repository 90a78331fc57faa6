// The log window over a real ring of event lines, on the offscreen platform.
#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QPlainTextEdit>
#include <QScrollBar>

#include "Modal.h"
#include "dialogs/LogDlg.h"
#include "log/EventLog.h"
#include "res/Resource.h"

namespace {

TEST(LogDlg, KeepsTheNewestThousandLinesLastAndCopiesThemWithoutTakingFocus) {
  testsupport::initUiOnce();
  evlog::Ring ring;
  evlog::addSink(&ring);
  for (int i = 0; i < 10; ++i) evlog::post("before " + std::to_string(i));
  CLogDlg log;
  ASSERT_TRUE(log.create());
  log.setRing(&ring);
  EXPECT_EQ(log.lineCount(), 10) << "lines from before the window opened are there";
  log.show();

  QWidget other;  // the window the user works in
  other.show(), other.activateWindow(), QApplication::processEvents();
  ASSERT_EQ(QApplication::activeWindow(), &other);

  for (int i = 0; i < 1005; ++i) evlog::post("line " + std::to_string(i));
  QApplication::processEvents();
  evlog::removeSink(&ring);
  EXPECT_EQ(QApplication::activeWindow(), &other);
  EXPECT_TRUE(log.lineCount() == 1000 && ring.lines().size() == 1000u) << log.lineCount();
  const QString shown = log.text()->toPlainText();
  EXPECT_TRUE(shown.section('\n', 0, 0).endsWith(" line 5")) << "the oldest went first";
  EXPECT_TRUE(shown.endsWith(" line 1004"));
  EXPECT_TRUE(log.text()->isReadOnly());
  QScrollBar* bar = log.text()->verticalScrollBar();
  EXPECT_EQ(bar->value(), bar->maximum()) << "the newest line is in view";

  log.command(IDC_LOG_COPY);
  EXPECT_EQ(QGuiApplication::clipboard()->text(), shown + '\n');
  log.setRing(nullptr);
  ring.write("after the window let go");
  EXPECT_TRUE(log.text()->toPlainText().endsWith(" line 1004"));
}

}  // namespace
