// What stands at the settings file's path, who may replace it, and hand edits made while the
// program runs: real files, links, FIFOs and device nodes in a temp directory.
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include "SlotFixture.h"
#include "slot/SaveReport.h"

using namespace slottest;
using SettingsFile = SlotFixture;

namespace {

// Owner, permission bits and bytes of a regular file.
std::tuple<uid_t, mode_t, std::string> stated(const fs::path& file) {
  struct stat st {};
  ::stat(file.c_str(), &st);
  return {st.st_uid, st.st_mode & 07777, readFile(file)};
}

}  // namespace

TEST_F(SettingsFile, WhatIsNotARegularTextFileUpToOneMiBIsToldByPathAndNeverWritten) {
  std::vector<std::string> told;
  CSaveReport report([&](const std::string& text) { told.push_back(text); });
  slot.saveReport = &report;
  fs::create_symlink(dir / "nowhere", dir / "dangling.ini");
  fs::create_directory(dir / "folder.ini");
  ::mkfifo((dir / "fifo.ini").c_str(), 0600);
  writeFile(dir / "big.ini", std::string(1024 * 1024 + 1, ';'));
  writeFile(dir / "utf16.ini", std::string("\xFF\xFE[\0", 4));
  writeFile(dir / "nul.ini", std::string("[TCP-PORT0]\0", 12));
  // A node of the null device, where root may make one; never a system path.
  const bool device = ::geteuid() == 0 && ::mknod((dir / "dev.ini").c_str(), S_IFCHR | 0666, ::makedev(1, 3)) == 0;
  const char* names[] = {"dangling", "folder", "fifo", "big", "utf16", "nul", "dev"};
  const char* whats[] = {"リンク先のない",    "ディレクトリ", "(FIFO)", "1048577 バイト", "UTF-16", "NUL",
                         "キャラクタデバイス"};
  for (int i = 0; i < (device ? 7 : 6); ++i) {  // the device node last: it may not exist
    const std::string name = names[i] + std::string(".ini"), what = whats[i];
    slot.iniPath = (dir / name).string();
    const auto type = fs::symlink_status(slot.iniPath).type();
    const bool regular = type == fs::file_type::regular;
    const std::string bytes = regular ? readFile(slot.iniPath) : "";
    slot.startSlot();
    slot.markChanged("PORT");  // not even a change of the user's is written
    EXPECT_FALSE(slot.saveSettings()) << name;
    ASSERT_EQ(told.size(), i + 1u) << name;  // one report per file
    EXPECT_TRUE(told[i].find(slot.iniPath + " ") != std::string::npos && told[i].find(what) != std::string::npos)
        << told[i];
    // Nor does the save underneath, which keeps the cause: a folder is named as one.
    EXPECT_TRUE(regular ||
                (!ini::writeFileAtomically(slot.iniPath, "x") && (errno == EISDIR) == (name == "folder.ini")));
    EXPECT_EQ(fs::symlink_status(slot.iniPath).type(), type) << name;
    EXPECT_EQ(regular ? readFile(slot.iniPath) : "", bytes) << name;
  }
  EXPECT_FALSE(fs::exists(dir / "nowhere"));
}

TEST_F(SettingsFile, ASaveFollowsOnlyTheUsersLinkKeepsOwnerAndModeAndNeverReplacesWhatTheUserCouldNotWrite) {
  const bool root = ::geteuid() == 0;
  writeFile(dir / "victim", "secret");
  ::chmod((dir / "victim").c_str(), 0600);
  writeFile(ini, "old");
  ::chmod(ini.c_str(), 0640);
  ASSERT_TRUE(!root || ::chown(ini.c_str(), 65534, 65534) == 0);  // root gives another's file back
  fs::create_symlink(dir / "victim", ini + ".tmp");               // planted at the name saves once used
  fs::create_symlink(ini, dir / "link.ini");
  ASSERT_TRUE(ini::writeFileAtomically((dir / "link.ini").string(), "new"));
  EXPECT_TRUE(fs::is_symlink(dir / "link.ini"));
  EXPECT_EQ(stated(ini), std::make_tuple(root ? 65534u : ::geteuid(), 0640u, "new"));
  EXPECT_EQ(stated(dir / "victim"), std::make_tuple(::geteuid(), 0600u, "secret"));
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), {}), 4) << "no temporary file left";
  if (!root) return;  // root may write any file: the user who may not is nobody, in a folder it may write
  ::chmod(dir.path().c_str(), 0777);
  ASSERT_EQ(::chown(ini.c_str(), 0, 0), 0);
  ::chmod(ini.c_str(), 0644);
  EXPECT_EQ(saveErrnoAsNobody(ini, "new"), EACCES);
  EXPECT_EQ(readFile(ini), "new");
  ::chmod(ini.c_str(), 0606);  // nobody may write it, not give it away: written in place, still root's
  writeFile(ini, "a longer old text");
  EXPECT_EQ(saveErrnoAsNobody(ini, "new"), 0);
  EXPECT_EQ(stated(ini), std::make_tuple(0u, 0606u, "new"));
}

TEST_F(SettingsFile, ASectionOrFileRemovedByHandStaysGoneUnlessTheUserChangesTheSlot) {
  LogCapture log;
  writeFile(ini, section(0) + "[TCP-PORT1]\n");
  EXPECT_EQ(slot.startSlot(), "");
  writeFile(ini, "[TCP-PORT1]\n");
  slot.shutdownSlot();
  EXPECT_EQ(readFile(ini), "[TCP-PORT1]\n");
  fs::remove(ini);
  slot.shutdownSlot();
  EXPECT_FALSE(fs::exists(ini));
  slot.listenPort = 8080;
  slot.markChanged("PORT");
  ASSERT_TRUE(slot.saveSettings());
  EXPECT_EQ(readFile(ini), slotSection(0, 0, 8080, destination.port));
  EXPECT_EQ(log.lines("追加しました").size(), 1u);
}
