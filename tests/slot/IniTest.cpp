// The INI layer: golden files edited byte for byte, reading rules, and what failing saves leave.
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <array>
#include <memory>

#include "SlotFixture.h"
#include "slot/IniDocument.h"
#include "slot/IniFile.h"
#include "slot/SlotSections.h"

using namespace slottest;

namespace {

TEST(IniGolden, HandEditedFilesAreLoadedChangedAndSavedByteForByte) {
  const ini::Document crlf = ini::Document::parse(readFile(kData / "crlf-mixed.ini"));
  EXPECT_EQ(crlf.get("tcp-PORT0", "ACT"), "0");
  EXPECT_EQ(crlf.get("TCP-PORT0", "FORWARDHOST"), "host with spaces ");
  EXPECT_EQ(crlf.get("TCP-PORT1", "ACT"), std::nullopt) << "keys do not leak across sections";
  EXPECT_EQ(ini::Document::parse(readFile(kData / "lf-bom-no-final-newline.ini")).get("OTHER", "Key"), "value")
      << "the byte order mark is not part of a name";

  TempDir dir;
  const std::string path = (dir / "a.ini").string();
  const char* keys[] = {"ACT", "PORT", "FORWARDHOST", "FORWARDPORT"};
  const std::pair<std::string, std::array<const char*, 4>> cases[] = {
      {"crlf-mixed", {"1", "10080", "\xE8\xBB\xA2\xE9\x80\x81.example", "80"}},
      {"lf-bom-no-final-newline", {"0", "0", "127.0.0.1", "0"}}};  // section appended
  for (auto& [name, values] : cases) {
    writeFile(path, readFile(kData / (name + ".ini")));
    ini::Document doc = ini::Document::load(path);
    for (int i = 0; i < 4; ++i) EXPECT_TRUE(doc.set("TCP-PORT0", keys[i], values[i]));
    ASSERT_TRUE(doc.save(path));
    EXPECT_EQ(readFile(path), readFile(kData / (name + ".expected.ini"))) << name;
  }
}

TEST(IniDocument, ReadingAndWritingRulesAndForgedLinesRefused) {
  ini::Document doc = ini::Document::parse(
      "[A]\n; K=commented\n#K=hashed\nk = 'single' \nK=second\n"
      "QQ=\"\"inner\"\"\n[B\nX=in A still\n\n[a]\nY=duplicate section\n");
  EXPECT_EQ(doc.get("A", "K"), "single") << "first occurrence wins, comments never match";
  EXPECT_EQ(doc.get("A", "QQ"), "\"inner\"") << "only one pair of quotes goes";
  EXPECT_EQ(doc.get("A", "X"), "in A still") << "a '[' line without ']' is no header";
  EXPECT_EQ(doc.get("A", "Y"), std::nullopt) << "only the first of duplicate sections is read";

  EXPECT_TRUE(doc.set("a", "K", "3"));
  const std::string after = doc.text();
  EXPECT_NE(after.find("k = 3\nK=second\n"), std::string::npos) << after;
  const char* forged[] = {"A",  "K",  "line\nbreak", "A",   "K", "cr\r", "A",  "a=b", "v",   "A]x", "K",
                          "v",  "A",  " ",           "v",   "",  "K",    "v",  "A",   "[B]", "v",   "A",
                          "[K", "v]", "A",           " ;K", "v", "A",    "#K", "v"};  // (section, key, value) triples
  for (int i = 0; i < 30; i += 3) EXPECT_FALSE(doc.set(forged[i], forged[i + 1], forged[i + 2])) << i / 3;
  EXPECT_EQ(doc.text(), after) << "a refused write changes nothing";
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
  ~FileSizeLimit() { ::setrlimit(RLIMIT_FSIZE, &saved), ::signal(SIGXFSZ, handler); }
};

// A read-only file kept even against root is the slot set's and the window's failed-save step.
TEST(IniSave, FailuresLeaveTheOldFileWholeAFolderRefusingTheTemporaryFileGetsAnInPlaceWrite) {
  TempDir dir;
  const std::string path = (dir / "a.ini").string();
  const std::string old = "[S]\nK=1\n" + std::string(3000, ';') + "\n";
  writeFile(path, old);
  ini::Document doc = ini::Document::load(path);
  ASSERT_TRUE(doc.set("S", "K", "2"));
  auto limit = std::make_unique<FileSizeLimit>(1024);
  errno = 0;
  EXPECT_FALSE(doc.save(path));
  EXPECT_EQ(errno, EFBIG) << "the cause is kept for the report";
  limit.reset();
  EXPECT_EQ(readFile(path), old);
  EXPECT_TRUE(doc.save(path)) << "the change is still held and goes through once possible";
  EXPECT_EQ(ini::getPrivateProfileString("S", "K", "", path), "2");

  ::chmod(dir.path().c_str(), 0755);
  fs::create_directory(dir / "locked");
  const std::string inLocked = (dir / "locked" / "b.ini").string();
  writeFile(inLocked, "[S]\nK=a long old value that is longer than the new one\n");
  ::chmod(inLocked.c_str(), 0666);
  ::chmod((dir / "locked").c_str(), 0555);
  EXPECT_EQ(saveErrnoAsNobody(inLocked, "[S]\nK=3\n"), 0);
  EXPECT_EQ(readFile(inLocked), "[S]\nK=3\n");

  // Missing folders on the way are made, private to the user.
  const fs::path deep = dir / "cfg" / "relvanetiv" / "c.ini";
  EXPECT_TRUE(ini::writeFileAtomically(deep.string(), "[S]\n"));
  EXPECT_EQ(fs::status(dir / "cfg" / "relvanetiv").permissions(), fs::perms::owner_all);
}

TEST(SlotSections, CountedFromTheFileAndRemovingOneRenumbersTheRestKeepingEveryOtherByte) {
  // Past the 30th slot and after a gap sections count as no slot: the strict settings test.
  const char* texts[] = {"", "[OTHER]\nA=1\n", "[TCP-PORT0]\n", "[tcp-port0]\n[TCP-PORT1]\n[Tcp-Port2]\n",
                         "[TCP-PORT0]\n[TCP-PORT2]\n"};
  const int counts[] = {1, 1, 1, 3, 1};
  for (int i = 0; i < 5; ++i) EXPECT_EQ(slot_sections::count(ini::Document::parse(texts[i])), counts[i]) << texts[i];

  const std::string before =
      "; my relays\r\n[TCP-PORT0]\r\nACT=1\r\n\r\n[ TCP-PORT1 ]  ; the middle one\r\nPORT=0080\r\n\r\n"
      "[OTHER]\r\nX=y\r\n[TCP-PORT2]\r\nFORWARDHOST=\x93\xfa\x96\x7b\r\n[TCP-PORT3]\r\nACT=0";
  ini::Document doc = ini::Document::parse(before);
  ASSERT_TRUE(slot_sections::remove(doc, 1));
  EXPECT_EQ(doc.text(),
            "; my relays\r\n[TCP-PORT0]\r\nACT=1\r\n\r\n"
            "[OTHER]\r\nX=y\r\n[TCP-PORT1]\r\nFORWARDHOST=\x93\xfa\x96\x7b\r\n[TCP-PORT2]\r\nACT=0");
  EXPECT_EQ(slot_sections::count(doc), 3);
  EXPECT_FALSE(slot_sections::remove(doc, 5));
}

}  // namespace
