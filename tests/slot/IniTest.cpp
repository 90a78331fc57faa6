// The INI layer: golden files edited byte for byte, reading rules, and what failing saves leave.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <climits>
#include <filesystem>

#include "TempDir.h"
#include "slot/IniDocument.h"
#include "slot/IniFile.h"

using namespace testsupport;
namespace fs = std::filesystem;

namespace {

std::string golden(const std::string& name) { return readFile(fs::path(RELVANE_TEST_DATA_DIR) / name); }

TEST(IniGolden, CrlfFileWithCommentsOddSpacingCaseAndQuotes) {
  const std::string before = golden("crlf-mixed.ini");
  ini::Document doc = ini::Document::parse(before);
  EXPECT_EQ(doc.text(), before);
  EXPECT_EQ(doc.get("TCP-PORT0", "ACT"), "0");
  EXPECT_EQ(doc.get("tcp-PORT0", "PORT"), "8080");
  EXPECT_EQ(doc.get("TCP-PORT0", "FORWARDHOST"), "host with spaces ");
  EXPECT_EQ(doc.get("TCP-PORT0", "FORWARDPORT"), std::nullopt);
  EXPECT_EQ(doc.get("general", "ACT"), "9");
  EXPECT_EQ(doc.get("TCP-PORT1", "ACT"), std::nullopt) << "keys do not leak across sections";

  for (auto [k, v] : {std::pair{"ACT", "1"}, {"PORT", "10080"},
                      {"FORWARDHOST", "\xE8\xBB\xA2\xE9\x80\x81.example"}, {"FORWARDPORT", "80"}})
    EXPECT_TRUE(doc.set("TCP-PORT0", k, v));
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

TEST(IniDocument, ReadingAndWritingRules) {
  ini::Document doc = ini::Document::parse(
      "top=outside\n[A]\n; K=commented\n#K=hashed\nk = 'single' \nK=second\nQ=\"mismatched'\n"
      "QQ=\"\"inner\"\"\n[B\nX=in A still\n\n[a]\nY=duplicate section\n");
  EXPECT_EQ(doc.get("A", "K"), "single") << "first occurrence wins, comments never match";
  EXPECT_EQ(doc.get("A", "Q"), "\"mismatched'");
  EXPECT_EQ(doc.get("A", "QQ"), "\"inner\"") << "only one pair of quotes goes";
  EXPECT_EQ(doc.get("A", "X"), "in A still") << "a '[' line without ']' is no header";
  EXPECT_EQ(doc.get("A", "Y"), std::nullopt) << "only the first of duplicate sections is read";
  EXPECT_EQ(doc.get("", "top"), std::nullopt);

  EXPECT_TRUE(doc.set("a", "K", "3"));
  EXPECT_TRUE(doc.set("A", "new", "v"));
  const std::string after = doc.text();
  EXPECT_NE(after.find("k = 3\nK=second\n"), std::string::npos) << after;
  EXPECT_NE(after.find("X=in A still\nnew=v\n\n[a]\n"), std::string::npos) << after;
  for (auto [s, k, v] : {std::tuple{"A", "K", "line\nbreak"}, {"A", "K", "cr\r"}, {"A", "a=b", "v"},
                         {"A]x", "K", "v"}, {"A", " ", "v"}, {"", "K", "v"}})
    EXPECT_FALSE(doc.set(s, k, v)) << s << "/" << k << "/" << v;
  EXPECT_EQ(doc.text(), after) << "a refused write changes nothing";
}

TEST(IniParseInt, LeadingDigitsSignAndSaturation) {
  struct { const char* text; int expected; } cases[] = {
      {"42", 42}, {"-7", -7}, {"+5", 5}, {"12ab", 12}, {"abc", 0}, {"0x10", 0}, {"-", 0},
      {"- 5", 0}, {"1.9", 1}, {"65536", 65536}, {"2147483647", INT_MAX}, {"2147483648", INT_MAX},
      {"99999999999999999999999", INT_MAX}, {"-2147483648", INT_MIN}, {"-2147483649", INT_MIN},
      {"-99999999999999999999999", INT_MIN}, {"", 128}};
  for (auto& c : cases) EXPECT_EQ(ini::parseInt(c.text, 128), c.expected) << c.text;
}

TEST(IniFile, DefaultsWhenMissingAndWritesCreateFileSectionAndKey) {
  TempDir dir;
  const std::string path = (dir / "a.ini").string();
  EXPECT_EQ(ini::getPrivateProfileString("S", "K", "dflt", path), "dflt");
  EXPECT_EQ(ini::getPrivateProfileInt("S", "K", 77, path), 77);
  EXPECT_FALSE(fs::exists(path)) << "reading never creates the file";
  for (auto [s, k, v] : {std::tuple{"S", "K", "1"}, {"S", "L", "x"}, {"T", "K", ""}, {"s", "k", "3"}})
    EXPECT_TRUE(ini::writePrivateProfileString(s, k, v, path));
  EXPECT_EQ(readFile(path), "[S]\nK=3\nL=x\n[T]\nK=\n");
  EXPECT_EQ(ini::getPrivateProfileInt("S", "K", 0, path), 3);
  EXPECT_EQ(ini::getPrivateProfileInt("T", "K", 9, path), 9) << "an empty value reads as default";
  EXPECT_FALSE(fs::exists(path + ".tmp"));
}

TEST(IniSave, KeepsPermissionsAndWritesThroughSymlink) {
  TempDir dir;
  const fs::path real = dir / "real.ini", link = dir / "link.ini";
  writeFile(real, "[S]\nK=1\n");
  ::chmod(real.c_str(), 0640);
  fs::create_symlink(real, link);
  EXPECT_TRUE(ini::writePrivateProfileString("S", "K", "2", link.string()));
  EXPECT_TRUE(fs::is_symlink(link));
  EXPECT_EQ(readFile(real), "[S]\nK=2\n");
  EXPECT_EQ(fs::status(real).permissions(), fs::perms(0640));
}

// Limits the size of files this process writes, so a write stops half-way with EFBIG.
struct FileSizeLimit {
  rlimit saved{};
  sighandler_t handler = ::signal(SIGXFSZ, SIG_IGN);
  explicit FileSizeLimit(rlim_t bytes) {
    ::getrlimit(RLIMIT_FSIZE, &saved);
    rlimit lim{bytes, saved.rlim_max};
    ::setrlimit(RLIMIT_FSIZE, &lim);
  }
  ~FileSizeLimit() {
    ::setrlimit(RLIMIT_FSIZE, &saved);
    ::signal(SIGXFSZ, handler);
  }
};

TEST(IniSave, FailuresLeaveTheOldFileWholeAndTheDocumentIntact) {
  TempDir dir;
  const std::string path = (dir / "a.ini").string();
  const std::string old = "[S]\nK=1\n" + std::string(3000, ';') + "\n";
  writeFile(path, old);
  ini::Document doc = ini::Document::load(path);
  ASSERT_TRUE(doc.set("S", "K", "2"));
  testing::internal::CaptureStdout();
  bool saved;
  {
    FileSizeLimit limit(1024);
    saved = doc.save(path);
  }
  fs::create_directory(path + ".tmp");  // now the temporary file cannot even be opened
  EXPECT_FALSE(ini::writePrivateProfileString("S", "K", "3", path));
  std::string trace = testing::internal::GetCapturedStdout();
  EXPECT_FALSE(saved);
  EXPECT_NE(trace.find("Error:ini::writeFileAtomically()-write()"), std::string::npos) << trace;
  EXPECT_NE(trace.find("Error:ini::writeFileAtomically()-open()"), std::string::npos) << trace;
  EXPECT_EQ(readFile(path), old);
  EXPECT_TRUE(fs::is_directory(path + ".tmp")) << "someone else's directory is not removed";
  fs::remove(path + ".tmp");
  EXPECT_TRUE(doc.save(path)) << "the change is still held and goes through once possible";
  EXPECT_EQ(ini::getPrivateProfileString("S", "K", "", path), "2");
}

TEST(IniSave, UnreadableFileIsNeverOverwritten) {
  TempDir dir;
  const fs::path path = dir / "a.ini";
  fs::create_directory(path);  // a directory where the file should be
  writeFile(path / "inside", "x");
  testing::internal::CaptureStdout();
  EXPECT_EQ(ini::getPrivateProfileInt("S", "K", 9, path.string()), 9);
  EXPECT_FALSE(ini::writePrivateProfileString("S", "K", "1", path.string()));
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(readFile(path / "inside"), "x");
}

}  // namespace
