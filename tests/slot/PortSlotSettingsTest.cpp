// A slot's settings against real INI files in a temp directory.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "TempDir.h"
#include "slot/PortSlot.h"

using testsupport::readFile;
using testsupport::TempDir;
using testsupport::writeFile;
namespace fs = std::filesystem;

namespace {

struct SlotInDir : testing::Test {
  TempDir dir;
  CPortSlot slot;
  std::string ini;
  SlotInDir() : ini((dir / "RelvaneTiv.ini").string()) { slot.iniPath = ini; }
};

TEST_F(SlotInDir, FirstLaunchInEmptyDirectoryWritesExactlyTheFourKeys) {
  EXPECT_EQ(slot.act, 0);
  EXPECT_EQ(slot.forwardHost, "");
  EXPECT_EQ(slot.bufferSize, 128);

  EXPECT_EQ(slot.startSlot(), "");
  EXPECT_EQ(slot.act, 0);
  EXPECT_EQ(slot.listenPort, 0);
  EXPECT_EQ(slot.forwardHost, "127.0.0.1");
  EXPECT_EQ(slot.forwardPort, 0);
  EXPECT_EQ(slot.bufferSize, 128);
  EXPECT_EQ(slot.connectionCount, 0);
  EXPECT_EQ(readFile(ini), "[TCP-PORT0]\nACT=0\nPORT=0\nFORWARDHOST=127.0.0.1\nFORWARDPORT=0\n");
  EXPECT_FALSE(fs::exists(ini + ".tmp"));
}

TEST_F(SlotInDir, HandEditedFileKeepsEveryOtherLineAndBufferSize) {
  fs::copy_file(std::string(RELVANE_TEST_DATA_DIR) + "/slot-hand-edited.ini", ini);
  slot.loadSettings();
  EXPECT_EQ(slot.act, 1);
  EXPECT_EQ(slot.listenPort, 70000) << "out-of-range ports pass through unchanged";
  EXPECT_EQ(slot.forwardHost, "db.internal");
  EXPECT_EQ(slot.forwardPort, 5432);
  EXPECT_EQ(slot.bufferSize, 64);

  slot.act = 0;
  slot.forwardHost = "backup.internal";
  slot.forwardPort = 5433;
  slot.bufferSize = 1;  // never written back
  ASSERT_TRUE(slot.saveSettings());
  const std::string expected = readFile(std::string(RELVANE_TEST_DATA_DIR) +
                                        "/slot-hand-edited.expected.ini");
  EXPECT_EQ(readFile(ini), expected);
  ASSERT_TRUE(slot.saveSettings());
  EXPECT_EQ(readFile(ini), expected) << "a second save changes nothing";
}

TEST_F(SlotInDir, SlotIndexSelectsItsOwnSection) {
  fs::copy_file(std::string(RELVANE_TEST_DATA_DIR) + "/slot-hand-edited.ini", ini);
  slot.slotIndex = 1;
  slot.loadSettings();
  EXPECT_EQ(slot.act, 1);
  EXPECT_EQ(slot.listenPort, 1);
  EXPECT_EQ(slot.forwardHost, "127.0.0.1");
  EXPECT_EQ(slot.forwardPort, 0);
  EXPECT_EQ(slot.bufferSize, 128);
}

TEST_F(SlotInDir, LongHostIsCutOnLoadAndWrittenBackCut) {
  writeFile(ini, "[TCP-PORT0]\nFORWARDHOST=" + std::string(300, 'h') + "\nFORWARDPORT=1\n");
  slot.loadSettings();
  EXPECT_EQ(slot.forwardHost, std::string(260, 'h'));
  ASSERT_TRUE(slot.saveSettings());
  EXPECT_EQ(readFile(ini), "[TCP-PORT0]\nFORWARDHOST=" + std::string(260, 'h') +
                               "\nFORWARDPORT=1\nACT=0\nPORT=0\n");

  // A cut never leaves half of a multi-byte character behind.
  const std::string kanji = "\xE4\xB8\xAD";  // three bytes
  writeFile(ini, "[TCP-PORT0]\nFORWARDHOST=" + std::string(258, 'a') + kanji + "\n");
  slot.loadSettings();
  EXPECT_EQ(slot.forwardHost, std::string(258, 'a'));
  writeFile(ini, "[TCP-PORT0]\nFORWARDHOST=" + std::string(257, 'a') + kanji + "zz\n");
  slot.loadSettings();
  EXPECT_EQ(slot.forwardHost, std::string(257, 'a') + kanji) << "a whole character at the end stays";
}

TEST_F(SlotInDir, FailedSaveKeepsOldFileAndSettingsInMemory) {
  const std::string old = "[TCP-PORT0]\nACT=0\nPORT=10\n";
  writeFile(ini, old);
  fs::create_directory(ini + ".tmp");
  slot.listenPort = 20;
  slot.forwardHost = "h";
  testing::internal::CaptureStdout();
  EXPECT_FALSE(slot.saveSettings());
  EXPECT_NE(testing::internal::GetCapturedStdout().find("Error:"), std::string::npos);
  EXPECT_EQ(readFile(ini), old);
  EXPECT_EQ(slot.listenPort, 20);
  fs::remove(ini + ".tmp");
  EXPECT_TRUE(slot.saveSettings());
  EXPECT_EQ(readFile(ini), "[TCP-PORT0]\nACT=0\nPORT=20\nFORWARDHOST=h\nFORWARDPORT=0\n");
}

TEST_F(SlotInDir, HostWithLineBreakIsNotWrittenButOtherKeysAre) {
  writeFile(ini, "[TCP-PORT0]\nFORWARDHOST=old\n");
  slot.act = 0;
  slot.listenPort = 5;
  slot.forwardHost = "evil\n[TCP-PORT0]\nPORT=1";
  testing::internal::CaptureStdout();
  EXPECT_FALSE(slot.saveSettings());
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(readFile(ini), "[TCP-PORT0]\nFORWARDHOST=old\nACT=0\nPORT=5\nFORWARDPORT=0\n");
}

}  // namespace
