// Reading and editing INI text: golden files go in, get edited, and must come out byte for byte.
#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "TempDir.h"
#include "slot/IniDocument.h"
#include "slot/IniFile.h"

using testsupport::readFile;

namespace {

std::string golden(const std::string& name) {
  return readFile(std::string(RELVANE_TEST_DATA_DIR) + "/" + name);
}

TEST(IniGolden, CrlfFileWithCommentsOddSpacingAndQuotes) {
  std::string before = golden("crlf-mixed.ini");
  ASSERT_FALSE(before.empty());
  ini::Document doc = ini::Document::parse(before);
  EXPECT_EQ(doc.text(), before) << "an untouched document must serialise unchanged";

  // Names match without regard to case or surrounding blanks; values lose blanks and quotes.
  EXPECT_EQ(doc.get("TCP-PORT0", "ACT"), "0");
  EXPECT_EQ(doc.get("tcp-PORT0", "PORT"), "8080");
  EXPECT_EQ(doc.get("TCP-PORT0", "FORWARDHOST"), "host with spaces ");
  EXPECT_EQ(doc.get("TCP-PORT0", "BUFFERSIZE"), "64");
  EXPECT_EQ(doc.get("TCP-PORT0", "FORWARDPORT"), std::nullopt);
  EXPECT_EQ(doc.get("general", "ACT"), "9");
  EXPECT_EQ(doc.get("TCP-PORT1", "PORT"), "9000");
  EXPECT_EQ(doc.get("TCP-PORT1", "ACT"), std::nullopt) << "keys do not leak across sections";
  EXPECT_EQ(doc.get("TCP-PORT2", "PORT"), std::nullopt);

  EXPECT_TRUE(doc.set("TCP-PORT0", "ACT", "1"));
  EXPECT_TRUE(doc.set("TCP-PORT0", "PORT", "10080"));
  EXPECT_TRUE(doc.set("TCP-PORT0", "FORWARDHOST", "relay.example"));
  EXPECT_TRUE(doc.set("TCP-PORT0", "FORWARDPORT", "80"));
  EXPECT_EQ(doc.text(), golden("crlf-mixed.expected.ini"));
}

TEST(IniGolden, LfFileWithBomAndNoFinalNewlineGetsSectionAppended) {
  ini::Document doc = ini::Document::parse(golden("lf-bom-no-final-newline.ini"));
  EXPECT_EQ(doc.get("OTHER", "Key"), "value") << "the byte order mark is not part of a name";
  for (auto [k, v] : {std::pair{"ACT", "0"}, {"PORT", "0"}, {"FORWARDHOST", "127.0.0.1"},
                      {"FORWARDPORT", "0"}})
    EXPECT_TRUE(doc.set("TCP-PORT0", k, v));
  EXPECT_EQ(doc.text(), golden("lf-bom-no-final-newline.expected.ini"));
}

TEST(IniDocument, ReadingRules) {
  ini::Document doc = ini::Document::parse(
      "top=outside\n"
      "[A]\n"
      "; K=commented\n"
      "#K=hashed\n"
      "k = 'single' \n"
      "K=second\n"
      "Q=\"mismatched'\n"
      "E=\n"
      "QQ=\"\"inner\"\"\n"
      "noequals\n"
      "[B\n"
      "X=in A still\n"
      "[a]\n"
      "Y=duplicate section\n");
  EXPECT_EQ(doc.get("A", "K"), "single") << "first occurrence wins, comments never match";
  EXPECT_EQ(doc.get("A", "Q"), "\"mismatched'");
  EXPECT_EQ(doc.get("A", "E"), "");
  EXPECT_EQ(doc.get("A", "QQ"), "\"inner\"") << "only one pair of quotes goes";
  EXPECT_EQ(doc.get("A", "X"), "in A still") << "a '[' line without ']' is no header";
  EXPECT_EQ(doc.get("A", "Y"), std::nullopt) << "only the first of duplicate sections is read";
  EXPECT_EQ(doc.get("", "top"), std::nullopt);
}

TEST(IniDocument, WritesReplaceFirstOccurrenceAndRefuseBrokenLines) {
  ini::Document doc = ini::Document::parse("[S]\nk=1\nK=2\n\n[T]\n");
  EXPECT_TRUE(doc.set("s", "K", "3"));
  EXPECT_TRUE(doc.set("T", "new", "v"));
  EXPECT_EQ(doc.text(), "[S]\nk=3\nK=2\n\n[T]\nnew=v\n");

  const std::string before = doc.text();
  EXPECT_FALSE(doc.set("S", "K", "line\nbreak"));
  EXPECT_FALSE(doc.set("S", "K", "carriage\rreturn"));
  EXPECT_FALSE(doc.set("S", "a=b", "v"));
  EXPECT_FALSE(doc.set("S]x", "K", "v"));
  EXPECT_FALSE(doc.set("S", " ", "v"));
  EXPECT_FALSE(doc.set("", "K", "v"));
  EXPECT_EQ(doc.text(), before) << "a refused write changes nothing";
}

TEST(IniDocument, BytesOutsideAsciiArePreserved) {
  const std::string text = "[S]\nHOST=\xE4\xB8\xAD\xE7\xB6\x99\n; \xFF\xFE stray bytes\n";
  ini::Document doc = ini::Document::parse(text);
  EXPECT_EQ(doc.get("S", "HOST"), "\xE4\xB8\xAD\xE7\xB6\x99");
  EXPECT_EQ(doc.text(), text);
  EXPECT_TRUE(doc.set("S", "HOST", "\xE8\xBB\xA2\xE9\x80\x81"));
  EXPECT_EQ(doc.text(), "[S]\nHOST=\xE8\xBB\xA2\xE9\x80\x81\n; \xFF\xFE stray bytes\n");
}

TEST(IniParseInt, LeadingDigitsSignAndSaturation) {
  struct Case { const char* text; int expected; } cases[] = {
      {"42", 42},           {"-7", -7},           {"+5", 5},
      {"12ab", 12},         {"abc", 0},           {"0x10", 0},
      {"-", 0},             {"- 5", 0},           {"007", 7},
      {"1.9", 1},           {"2147483647", INT_MAX},
      {"2147483648", INT_MAX},                    {"99999999999999999999999", INT_MAX},
      {"-2147483648", INT_MIN},                   {"-2147483649", INT_MIN},
      {"-99999999999999999999999", INT_MIN},      {"65536", 65536},
  };
  for (const Case& c : cases) EXPECT_EQ(ini::parseInt(c.text, -1), c.expected) << c.text;
  EXPECT_EQ(ini::parseInt("", 128), 128) << "an empty value reads as the default";
}

}  // namespace
