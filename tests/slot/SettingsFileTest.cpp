// What stands at the settings file's path, who may replace it, and hand edits made while the
// program runs: real files, links, FIFOs and device nodes in a temp directory.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include "SlotFixture.h"
#include "slot/AtomicFile.h"
#include "slot/SaveReport.h"

using namespace slottest;
namespace fs = std::filesystem;

namespace {

struct SettingsFile : SlotFixture {
  std::vector<std::string> told;
  CSaveReport report{[this](const std::string& text) { told.push_back(text); }};
  SettingsFile() { slot.saveReport = &report; }
};

// The save's errno from a child process that runs as nobody (root may write anything).
int errnoOfSaveAsNobody(const std::string& path) {
  const pid_t child = ::fork();
  if (child == 0) {
    if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(255);
    ::_exit(ini::writeFileAtomically(path, "[S]\nK=new\n") ? 0 : errno);
  }
  int status = 0;
  return ::waitpid(child, &status, 0) == child && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

TEST_F(SettingsFile, WhatIsNotARegularTextFileUpToOneMiBIsToldByPathAndNeverWritten) {
  fs::create_symlink(dir / "nowhere.ini", dir / "dangling.ini");
  fs::create_directory(dir / "folder.ini");
  ::mkfifo((dir / "fifo.ini").c_str(), 0600);
  writeFile(dir / "big.ini", "[TCP-PORT0]\n" + std::string(1024 * 1024, ';'));
  writeFile(dir / "utf16.ini", std::string("\xFF\xFE[\0T\0", 6));
  writeFile(dir / "nul.ini", std::string("[TCP-PORT0]\nACT=1\0", 18));
  const bool device = ::geteuid() == 0 && ::mknod((dir / "dev.ini").c_str(), S_IFCHR | 0666, ::makedev(1, 3)) == 0;
  const std::pair<std::string, std::string> cases[] = {
      {"dangling.ini", "リンク先のない"}, {"folder.ini", "ディレクトリ"}, {"fifo.ini", "(FIFO)"},
      {"big.ini", "1048588 バイト"}, {"utf16.ini", "UTF-16"}, {"nul.ini", "NUL"}, {"dev.ini", "キャラクタデバイス"}};
  for (const auto& [name, what] : cases) {
    if (name == "dev.ini" && !device) continue;  // needs root and a system that lets it make nodes
    SCOPED_TRACE(name);
    slot.iniPath = (dir / name).string();
    const auto before = fs::symlink_status(slot.iniPath).type();
    const std::string bytes = before == fs::file_type::regular ? readFile(slot.iniPath) : "";
    told.clear();
    EXPECT_EQ(slot.startSlot(), "");
    slot.markChanged("PORT");  // not even a change of the user's is written
    EXPECT_FALSE(slot.saveSettings());
    ASSERT_EQ(told.size(), 1u) << "told once";
    EXPECT_NE(told[0].find(slot.iniPath + " "), std::string::npos) << told[0];
    EXPECT_NE(told[0].find(what), std::string::npos) << told[0];
    if (before == fs::file_type::regular) {
      EXPECT_EQ(readFile(slot.iniPath), bytes);
    } else {  // nor does the save underneath write what is there
      EXPECT_FALSE(ini::writeFileAtomically(slot.iniPath, "x"));
      EXPECT_EQ(fs::symlink_status(slot.iniPath).type(), before);
    }
  }
  EXPECT_FALSE(fs::exists(dir / "nowhere.ini"));
}

// A link planted at the old fixed temporary name is left alone; a link to the file is kept,
// and so are the file's mode and (where root may give it) its owner.
TEST_F(SettingsFile, ASaveFollowsTheUsersLinkButNoPlantedOneAndKeepsModeAndOwner) {
  writeFile(dir / "victim", "secret\n");
  ::chmod((dir / "victim").c_str(), 0600);
  writeFile(dir / "real.ini", "[S]\nK=old\n");
  ::chmod((dir / "real.ini").c_str(), 0640);
  const bool root = ::geteuid() == 0;
  ASSERT_TRUE(!root || ::chown((dir / "real.ini").c_str(), 65534, 65534) == 0);
  fs::create_symlink(dir / "victim", dir / "real.ini.tmp");
  fs::create_symlink(dir / "real.ini", dir / "link.ini");
  ASSERT_TRUE(ini::writeFileAtomically((dir / "link.ini").string(), "[S]\nK=new\n"));
  EXPECT_TRUE(fs::is_symlink(dir / "link.ini"));
  EXPECT_EQ(readFile(dir / "real.ini"), "[S]\nK=new\n");
  EXPECT_EQ(readFile(dir / "victim"), "secret\n");
  EXPECT_EQ(fs::status(dir / "victim").permissions(), fs::perms(0600));
  struct stat st {};
  ASSERT_EQ(::stat((dir / "real.ini").c_str(), &st), 0);
  EXPECT_EQ(std::make_pair(st.st_mode & 07777, st.st_uid), std::make_pair(0640u, root ? 65534u : ::geteuid()));
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 4) << "no temporary file left";
}

// Root may write any file, so the case of a file the user cannot write is run as nobody in a
// folder nobody may write to; without root only the read-only file (refused even for root) is.
TEST_F(SettingsFile, AFileTheUserCouldNotWriteIsNeverReplacedWhateverTheFolderAllows) {
  const std::string path = (dir / "a.ini").string();
  writeFile(path, "[S]\nK=old\n");
  ::chmod(path.c_str(), 0444);
  EXPECT_FALSE(ini::writeFileAtomically(path, "x"));
  EXPECT_EQ(errno, EACCES);
  if (::geteuid() != 0) return;
  ::chmod(dir.path().c_str(), 0777);
  ::chmod(path.c_str(), 0644);
  EXPECT_EQ(errnoOfSaveAsNobody(path), EACCES);
  EXPECT_EQ(readFile(path), "[S]\nK=old\n");
  ::chmod(path.c_str(), 0666);  // nobody may write it but not own it: written in place, still root's
  EXPECT_EQ(errnoOfSaveAsNobody(path), 0);
  struct stat st {};
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(std::make_tuple(readFile(path), st.st_uid, st.st_mode & 0777), std::make_tuple("[S]\nK=new\n", 0u, 0666u));
}

TEST_F(SettingsFile, ASectionOrFileRemovedByHandStaysGoneUnlessTheUserChangesTheSlot) {
  LogCapture log;
  const std::string other = "[TCP-PORT1]\nACT=0\n";
  writeFile(ini, section(0, "127.0.0.1") + other);
  EXPECT_EQ(slot.startSlot(), "");
  writeFile(ini, other);
  slot.shutdownSlot();
  EXPECT_EQ(readFile(ini), other);
  fs::remove(ini);
  slot.shutdownSlot();
  EXPECT_FALSE(fs::exists(ini));
  slot.listenPort = 8080;
  slot.markChanged("PORT");
  ASSERT_TRUE(slot.saveSettings());
  EXPECT_EQ(readFile(ini), slotSection(0, 0, 8080, destination.port));
  EXPECT_EQ(log.lines("追加しました").size(), 1u);
}
