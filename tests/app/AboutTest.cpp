// The about box's version line from records standing in for the program's: good, missing
// or broken ones, and the cache that reads a good record once. (The line the box makes of the
// program's own record is the window's test.)
#include <gtest/gtest.h>

#include <string>

#include "app/VersionRecord.h"

namespace {

// A record held in memory that counts how often it is read.
struct StandInRecord : CVersionRecordSource {
  explicit StandInRecord(std::string text, bool readable = true) : text(std::move(text)), readable(readable) {}
  std::size_t recordSize() const override { return text.size(); }
  bool readRecord(char* data, std::size_t size) const override {
    ++reads;
    return readable && size <= text.size() && text.copy(data, size) == size;
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

TEST(VersionLine, TheFirstTranslationsProductVersionOrOnlyThePrefixReadOnceGoodAndCutOnACharacter) {
  const std::pair<std::string, std::string> cases[] = {
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
  for (const auto& [record, text] : cases) {
    CVersionCache cache;
    EXPECT_EQ(aboutVersionLine(cache.versionText(StandInRecord(record))), "レルベイン Tiv. " + text) << record;
  }

  CVersionCache cache;
  StandInRecord broken(japanese("1.0"), false), good(japanese("1, 2"));
  for (int i = 0; i < 2; ++i) EXPECT_STREQ(cache.versionText(broken), "");
  EXPECT_EQ(broken.reads, 2) << "a failed read is tried again";
  EXPECT_STREQ(cache.versionText(good), "Ver.:1, 2");
  good.text = japanese("7.7");  // a later change is not seen: the first good read stands
  EXPECT_STREQ(cache.versionText(good), "Ver.:1, 2");
  EXPECT_EQ(good.reads, 1);
  CVersionCache fresh;  // 248 + 9 bytes: "あ" would not fit whole
  EXPECT_EQ(fresh.versionText(StandInRecord(japanese(std::string(248, '1') + "あいう"))),
            "Ver.:" + std::string(248, '1'));
}
