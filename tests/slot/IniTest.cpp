// The INI layer: golden files edited byte for byte, reading rules, and what failing saves leave.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <climits>
#include <filesystem>
#include <functional>
#include <memory>

#include "TempDir.h"
#include "slot/AtomicFile.h"
#include "slot/IniDocument.h"
#include "slot/IniFile.h"
#include "slot/SlotSections.h"

using namespace testsupport;
namespace fs = std::filesystem;

namespace {

const fs::path kData(RELVANE_TEST_DATA_DIR);

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
  for (auto [s, k, v] : {std::tuple{"A", "K", "line\nbreak"},
                         {"A", "K", "cr\r"},
                         {"A", "a=b", "v"},
                         {"A]x", "K", "v"},
                         {"A", " ", "v"},
                         {"", "K", "v"},
                         {"A", "[B]", "v"},
                         {"A", "[K", "v]"},
                         {"A", " ;K", "v"},
                         {"A", "#K", "v"}})
    EXPECT_FALSE(doc.set(s, k, v)) << s << "/" << k << "/" << v;
  EXPECT_EQ(doc.text(), after) << "a refused write changes nothing";
}

TEST(IniParseInt, LeadingDigitsSignAndSaturation) {
  struct {
    const char* text;
    int expected;
  } cases[] = {{"42", 42},
               {"-7", -7},
               {"+5", 5},
               {"12ab", 12},
               {"abc", 0},
               {"0x10", 0},
               {"-", 0},
               {"- 5", 0},
               {"1.9", 1},
               {"2147483648", INT_MAX},
               {"99999999999999999999999", INT_MAX},
               {"-2147483648", INT_MIN},
               {"-2147483649", INT_MIN},
               {"", 128}};
  for (auto& c : cases) EXPECT_EQ(ini::parseInt(c.text, 128), c.expected) << c.text;
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

// Runs `write` in a child process that is not root (root may create files anywhere, and
// permissions are the point here); true when it reported success.
bool writesAsAnotherUser(const std::function<bool()>& write) {
  const pid_t child = ::fork();
  if (child == 0) {
    if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(2);
    ::_exit(write() ? 0 : 1);
  }
  int status = 0;
  return ::waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

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

  ::chmod(path.c_str(), 0640);  // a save keeps the mode and writes through a symbolic link
  fs::create_symlink(path, dir / "link.ini");
  EXPECT_TRUE(ini::writePrivateProfileString("S", "K", "4", (dir / "link.ini").string()));
  EXPECT_TRUE(fs::is_symlink(dir / "link.ini"));
  EXPECT_EQ(ini::getPrivateProfileString("S", "K", "", path), "4");
  EXPECT_EQ(fs::status(path).permissions(), fs::perms(0640));

  fs::create_directory(dir / "folder.ini");  // unreadable as a file: a save says why
  errno = 0;
  EXPECT_FALSE(ini::Document::load((dir / "folder.ini").string()).save((dir / "folder.ini").string()));
  EXPECT_EQ(errno, EISDIR);

  ::chmod(dir.path().c_str(), 0755);
  fs::create_directory(dir / "locked");
  const std::string inLocked = (dir / "locked" / "b.ini").string();
  writeFile(inLocked, "[S]\nK=a long old value that is longer than the new one\n");
  ::chmod(inLocked.c_str(), 0666);
  ::chmod((dir / "locked").c_str(), 0555);
  EXPECT_TRUE(writesAsAnotherUser([&] { return ini::writeFileAtomically(inLocked, "[S]\nK=3\n"); }));
  EXPECT_EQ(readFile(inLocked), "[S]\nK=3\n");
  // Neither the folder nor the file may be written: the save fails, nothing changes.
  ::chmod(inLocked.c_str(), 0644);
  EXPECT_FALSE(writesAsAnotherUser([&] { return ini::writeFileAtomically(inLocked, "x"); }));
  EXPECT_EQ(readFile(inLocked), "[S]\nK=3\n");

  // Missing folders on the way are made, private to the user.
  const fs::path deep = dir / "cfg" / "relvanetiv" / "c.ini";
  EXPECT_TRUE(ini::writeFileAtomically(deep.string(), "[S]\n"));
  EXPECT_EQ(fs::status(dir / "cfg" / "relvanetiv").permissions(), fs::perms::owner_all);
}

TEST(SlotSections, CountedFromTheFileAndRemovingOneRenumbersTheRestKeepingEveryOtherByte) {
  std::string file;
  for (int i = 0; i < 31; ++i) file += "[TCP-PORT" + std::to_string(i) + "]\nPORT=" + std::to_string(i) + "\n";
  const std::pair<std::string, int> cases[] = {{"", 1},
                                               {"[OTHER]\nA=1\n", 1},
                                               {"[TCP-PORT0]\n", 1},
                                               {"[tcp-port0]\n[TCP-PORT1]\n[Tcp-Port2]\n", 3},
                                               {"[TCP-PORT0]\n[TCP-PORT2]\n", 1},
                                               {"[TCP-PORT1]\n", 1},
                                               {file, 30}};
  for (const auto& [text, expected] : cases)
    EXPECT_EQ(slot_sections::count(ini::Document::parse(text)), expected) << text;

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
