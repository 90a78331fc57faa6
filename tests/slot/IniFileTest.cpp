// The private-profile functions on real files, and what a failing save leaves behind.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>

#include "TempDir.h"
#include "slot/IniDocument.h"
#include "slot/IniFile.h"

using testsupport::readFile;
using testsupport::TempDir;
using testsupport::writeFile;
namespace fs = std::filesystem;

namespace {

TEST(IniFile, MissingFileSectionOrKeyGivesDefaultsAndWritesCreateThem) {
  TempDir dir;
  const std::string path = (dir / "a.ini").string();
  EXPECT_EQ(ini::getPrivateProfileString("S", "K", "dflt", path), "dflt");
  EXPECT_EQ(ini::getPrivateProfileInt("S", "K", 77, path), 77);
  EXPECT_FALSE(fs::exists(path)) << "reading never creates the file";

  EXPECT_TRUE(ini::writePrivateProfileString("S", "K", "1", path));
  EXPECT_TRUE(ini::writePrivateProfileString("S", "L", "x", path));
  EXPECT_TRUE(ini::writePrivateProfileString("T", "K", "2", path));
  EXPECT_TRUE(ini::writePrivateProfileString("s", "k", "3", path));
  EXPECT_EQ(readFile(path), "[S]\nK=3\nL=x\n[T]\nK=2\n");
  EXPECT_EQ(ini::getPrivateProfileInt("S", "K", 0, path), 3);
  EXPECT_EQ(ini::getPrivateProfileString("T", "missing", "d", path), "d");
  EXPECT_FALSE(fs::exists(path + ".tmp")) << "no temporary file is left behind";
}

TEST(IniFile, EmptyValueIntReadsDefaultQuotedIntReadsNumber) {
  TempDir dir;
  const std::string path = (dir / "a.ini").string();
  writeFile(path, "[S]\nE=\nQ=\" 12 \"\nN=port9\n");
  EXPECT_EQ(ini::getPrivateProfileInt("S", "E", 128, path), 128);
  EXPECT_EQ(ini::getPrivateProfileInt("S", "Q", 0, path), 0) << "blank inside quotes stays";
  EXPECT_EQ(ini::getPrivateProfileInt("S", "N", 5, path), 0);
}

TEST(IniSave, KeepsPermissionsAndWritesThroughSymlink) {
  TempDir dir;
  const fs::path real = dir / "real.ini", link = dir / "link.ini";
  writeFile(real, "[S]\nK=1\n");
  ::chmod(real.c_str(), 0640);
  fs::create_symlink(real, link);
  EXPECT_TRUE(ini::writePrivateProfileString("S", "K", "2", link.string()));
  EXPECT_TRUE(fs::is_symlink(link)) << "the link stays a link";
  EXPECT_EQ(readFile(real), "[S]\nK=2\n");
  struct stat st {};
  ASSERT_EQ(::stat(real.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
}

TEST(IniSave, FailureToCreateTemporaryLeavesOldFile) {
  TempDir dir;
  const std::string path = (dir / "a.ini").string();
  const std::string old = "; mine\n[S]\nK=1\n";
  writeFile(path, old);
  fs::create_directory(path + ".tmp");  // the temporary file cannot be opened
  testing::internal::CaptureStdout();
  EXPECT_FALSE(ini::writePrivateProfileString("S", "K", "2", path));
  EXPECT_NE(testing::internal::GetCapturedStdout().find("Error:"), std::string::npos);
  EXPECT_EQ(readFile(path), old);
  EXPECT_TRUE(fs::is_directory(path + ".tmp")) << "someone else's directory is not removed";
}

// Limits the file size for this process so a write stops half-way with EFBIG.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    ::getrlimit(RLIMIT_FSIZE, &saved_);
    oldHandler_ = ::signal(SIGXFSZ, SIG_IGN);
    rlimit lim = saved_;
    lim.rlim_cur = bytes;
    ::setrlimit(RLIMIT_FSIZE, &lim);
  }
  ~FileSizeLimit() {
    ::setrlimit(RLIMIT_FSIZE, &saved_);
    ::signal(SIGXFSZ, oldHandler_);
  }

 private:
  rlimit saved_{};
  sighandler_t oldHandler_;
};

TEST(IniSave, WriteFailingHalfWayLeavesOldFileWholeAndDocumentIntact) {
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
  std::string trace = testing::internal::GetCapturedStdout();
  EXPECT_FALSE(saved);
  EXPECT_NE(trace.find("Error:"), std::string::npos) << trace;
  EXPECT_NE(trace.find("write()"), std::string::npos) << "the failure must come mid-write";
  EXPECT_EQ(readFile(path), old);
  EXPECT_FALSE(fs::exists(path + ".tmp"));
  // The change is still held and goes through once the disk allows it.
  EXPECT_TRUE(doc.save(path));
  EXPECT_EQ(ini::getPrivateProfileString("S", "K", "", path), "2");
}

TEST(IniSave, UnreadableFileIsNeverOverwritten) {
  TempDir dir;
  const std::string path = (dir / "a.ini").string();
  fs::create_directory(path);  // a directory where the file should be
  writeFile(fs::path(path) / "inside", "x");
  testing::internal::CaptureStdout();
  EXPECT_EQ(ini::getPrivateProfileInt("S", "K", 9, path), 9);
  EXPECT_FALSE(ini::writePrivateProfileString("S", "K", "1", path));
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(readFile(fs::path(path) / "inside"), "x");
}

}  // namespace
