// The about box's version line from records standing in for the program's: good, missing
// or broken ones, and the cache that reads a good record once.
#include <gtest/gtest.h>

#include <string>

#include "Modal.h"
#include "app/AboutDlg.h"
#include "app/VersionRecord.h"
#include "res/Resource.h"

namespace {

// A record held in memory that counts how often it is read.
class StandInRecord : public CVersionRecordSource {
 public:
  explicit StandInRecord(std::string text, bool readable = true) : text(std::move(text)), readable(readable) {}
  std::size_t recordSize() const override { return text.size(); }
  bool readRecord(char* data, std::size_t size) const override {
    ++reads;
    if (!readable || size > text.size()) return false;
    text.copy(data, size);
    return true;
  }
  std::string text;
  bool readable;
  mutable int reads = 0;
};

std::string japanese(const std::string& productVersion) {
  return "\\VarFileInfo\\Translation=0411 04b0\n\\StringFileInfo\\041104b0\\ProductVersion=" +
         productVersion + "\n";
}

}  // namespace

TEST(AboutBox, ShowsTheFirstTranslationsProductVersionOrOnlyThePrefix) {
  testsupport::initUiOnce();
  const struct { std::string record, text; bool readable = true; } cases[] = {
      {japanese("1, 0, 1, 114"), "Ver.:1- 0- 1- 114"},
      {japanese("2;1,3"), "Ver.:2.1-3"},
      // The translation names the second table; sub-blocks match without regard to case.
      {"\\VarFileInfo\\Translation=0409 04B0\n\\StringFileInfo\\041104b0\\ProductVersion=9.9\n"
       "\\stringfileinfo\\040904b0\\productversion=3.2\n", "Ver.:3.2"},
      {"\\VarFileInfo\\Translation=0411 04b0\n", "Ver.:"},  // no product version
      {"", ""},                                              // no record
      {"\\StringFileInfo\\041104b0\\ProductVersion=1.0\n", ""},  // no translation
      {"\\VarFileInfo\\Translation=zz11 04b0\n" + japanese("1.0"), ""},
      {"\\VarFileInfo\\Translation=0411\n", ""},
  };
  for (const auto& c : cases) {
    CVersionCache cache;
    const StandInRecord record(c.record, c.readable);
    CAboutDlg about([&] { return cache.versionText(record); });
    ASSERT_TRUE(about.create());
    EXPECT_EQ(about.itemText(IDC_VERSION), "レルベイン Tiv. " + c.text) << c.record;
  }
}

TEST(VersionCache, ReadsOnceAfterSuccessRetriesAfterFailureAndCutsOnACharacter) {
  CVersionCache cache;
  StandInRecord broken(japanese("1.0"), false), good(japanese("1, 2"));
  EXPECT_STREQ(cache.versionText(broken), "");
  EXPECT_STREQ(cache.versionText(broken), "");
  EXPECT_EQ(broken.reads, 2);
  EXPECT_STREQ(cache.versionText(good), "Ver.:1, 2");
  good.text = japanese("7.7");  // a later change is not seen: the first good read stands
  EXPECT_STREQ(cache.versionText(good), "Ver.:1, 2");
  EXPECT_EQ(good.reads, 1);
  CVersionCache fresh;  // 248 + 9 bytes: "あ" would not fit whole
  EXPECT_EQ(fresh.versionText(StandInRecord(japanese(std::string(248, '1') + "あいう"))),
            "Ver.:" + std::string(248, '1'));
}
