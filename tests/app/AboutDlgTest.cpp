// The about box shows the version line built from a record standing in for the program's.
#include <gtest/gtest.h>

#include <QLabel>
#include <string>

#include "../ui/UiTestUtil.h"
#include "app/AboutDlg.h"
#include "app/AppIcon.h"
#include "app/VersionRecord.h"
#include "res/Resource.h"
#include "ui/LinkCtrl.h"

namespace {

class CountingRecord : public CVersionRecordSource {
 public:
  explicit CountingRecord(std::string text) : text(std::move(text)) {}
  std::size_t recordSize() const override { return text.size(); }
  bool readRecord(char* data, std::size_t size) const override {
    ++reads;
    text.copy(data, size);
    return true;
  }
  std::string text;
  mutable int reads = 0;
};

std::string shownLine(CAboutDlg& about) {
  about.create();
  return about.itemText(IDC_VERSION);
}

TEST(AboutBox, ShowsTheRecordsVersionAndReadsItOnceForTwoOpenings) {
  uitest::initOnce();
  CountingRecord record(
      "\\VarFileInfo\\Translation=0411 04b0\n\\StringFileInfo\\041104b0\\ProductVersion=2;1,3\n");
  CVersionCache cache;
  const auto source = [&] { return cache.versionText(record); };
  for (int opening = 0; opening < 2; ++opening) {
    CAboutDlg about(source);
    EXPECT_EQ(shownLine(about), "レルベイン Tiv. Ver.:2.1-3") << opening;
    EXPECT_EQ(about.windowTitle(), QString::fromUtf8("Relvaneのﾊﾞｰｼﾞｮﾝ情報"));
  }
  EXPECT_EQ(record.reads, 1);
}

TEST(AboutBox, MissingRecordLeavesTheBarePrefixAndTheFixedLines) {
  uitest::initOnce();
  CountingRecord none("");
  CVersionCache cache;
  QApplication::setWindowIcon(applicationIcon());  // as the program does at start-up
  CAboutDlg about([&] { return cache.versionText(none); });
  EXPECT_EQ(shownLine(about), "レルベイン Tiv. ");
  QStringList texts;
  bool iconShown = false;
  for (QLabel* l : about.findChildren<QLabel*>()) {
    texts << l->text();
    iconShown = iconShown || !l->pixmap().isNull();
  }
  EXPECT_TRUE(iconShown);
  EXPECT_TRUE(texts.contains(QString::fromUtf8("TCP リレー for Linux"))) << texts.join('|').toStdString();
  EXPECT_EQ(about.link(IDC_HOMEPAGE_LINK)->linkText(), "<a>Bramblecoteホームページ</a>");
}

}  // namespace
