// The version text of the about box: records that are good, missing or broken, and the cache.
#include <gtest/gtest.h>

#include <string>

#include "app/VersionRecord.h"

namespace {

// A record held in memory that counts how often it is read.
class StandInRecord : public CVersionRecordSource {
 public:
  explicit StandInRecord(std::string text, bool readable = true)
      : text(std::move(text)), readable(readable) {}
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

std::string japaneseRecord(const std::string& productVersion) {
  return "\\VarFileInfo\\Translation=0411 04b0\n"
         "\\StringFileInfo\\041104b0\\ProductVersion=" + productVersion + "\n";
}

std::string aboutLineFor(const CVersionRecordSource& record) {
  CVersionCache cache;
  return aboutVersionLine(cache.versionText(record));
}

}  // namespace

TEST(AboutVersionLine, ShowsProductVersionWithCommasAndSemicolonsReplaced) {
  EXPECT_EQ(aboutLineFor(StandInRecord(japaneseRecord("1, 0, 1, 114"))),
            "レルベイン Tiv. Ver.:1- 0- 1- 114");
  EXPECT_EQ(aboutLineFor(StandInRecord(japaneseRecord("2;1,3"))), "レルベイン Tiv. Ver.:2.1-3");
  EXPECT_EQ(aboutLineFor(StandInRecord(japaneseRecord("1.0.1.114"))),
            "レルベイン Tiv. Ver.:1.0.1.114");
}

TEST(AboutVersionLine, MissingOrBrokenRecordShowsOnlyThePrefix) {
  const StandInRecord cases[] = {
      StandInRecord(""),                                          // no record at all
      StandInRecord(japaneseRecord("1.0"), /*readable=*/false),   // size known, read fails
      StandInRecord("\\StringFileInfo\\041104b0\\ProductVersion=1.0\n"),  // no translation
      StandInRecord("\\VarFileInfo\\Translation=zz11 04b0\n" + japaneseRecord("1.0")),
      StandInRecord("\\VarFileInfo\\Translation=0411\n"),         // half a translation entry
  };
  for (const auto& record : cases) {
    CVersionCache cache;
    EXPECT_STREQ(cache.versionText(record), "");
    EXPECT_EQ(cache.readFlag(), 0);
    EXPECT_EQ(aboutVersionLine(cache.versionText(record)), "レルベイン Tiv. ");
  }
}

TEST(AboutVersionLine, UsesTheFirstTranslationsStringTable) {
  // The English table comes second in the file but the translation names it; sub-blocks
  // match without regard to case.
  StandInRecord record(
      "\\VarFileInfo\\Translation=0409 04B0\n"
      "\\StringFileInfo\\041104b0\\ProductVersion=9.9\n"
      "\\stringfileinfo\\040904b0\\productversion=3.2\n");
  EXPECT_EQ(aboutLineFor(record), "レルベイン Tiv. Ver.:3.2");
}

TEST(VersionCache, ReadsOnceAfterSuccessAndRetriesAfterFailure) {
  CVersionCache cache;
  StandInRecord broken(japaneseRecord("1.0"), /*readable=*/false);
  EXPECT_STREQ(cache.versionText(broken), "");
  EXPECT_STREQ(cache.versionText(broken), "");
  EXPECT_EQ(broken.reads, 2);

  StandInRecord good(japaneseRecord("1, 2"));
  EXPECT_STREQ(cache.versionText(good), "Ver.:1, 2");
  good.text = japaneseRecord("7.7");  // a later change is not seen: the first read stands
  EXPECT_STREQ(cache.versionText(good), "Ver.:1, 2");
  EXPECT_EQ(good.reads, 1);
  EXPECT_EQ(cache.readFlag(), 1);
}

TEST(VersionCache, TranslationWithoutProductVersionIsCachedAsBarePrefix) {
  CVersionCache cache;
  StandInRecord record("\\VarFileInfo\\Translation=0411 04b0\n");
  EXPECT_STREQ(cache.versionText(record), "Ver.:");
  EXPECT_EQ(cache.readFlag(), 1);
}

TEST(VersionCache, LongProductVersionIsCutToTheBufferOnACharacterBoundary) {
  CVersionCache cache;
  std::string longVersion = std::string(248, '1') + "あいう";  // 248 + 9 bytes
  std::string text = cache.versionText(StandInRecord(japaneseRecord(longVersion)));
  EXPECT_LT(text.size(), CVersionCache::bufferSize);
  EXPECT_EQ(text, "Ver.:" + std::string(248, '1'));  // "あ" would not fit whole
}

TEST(VersionCache, ProgramRecordCarriesTheProjectVersion) {
  EXPECT_EQ(std::string(versionText()), std::string("Ver.:") + RELVANE_PROJECT_VERSION);
  EXPECT_EQ(versionText(), versionText());
}
