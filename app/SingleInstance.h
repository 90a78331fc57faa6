#pragma once
// One running program per settings file: exclusive flocks on lock files named after the
// instance name and the settings file, in a folder where only the user can create files
// ($XDG_RUNTIME_DIR, else /run/user/<uid>, else ~/.cache/relvanetiv made with mode 0700), so
// another local user cannot take the name first. The file is known twice over: by its device
// and inode (a hard link or symlink finds it), and by its folder's device and inode with its
// name (a save replaces the file and its inode, never its folder and name); another program on
// either is refused. A file that does not exist yet has only the second. The kernel drops the
// locks when the process ends, however it ends; nothing releases them earlier.
#include <string>

class CSingleInstance {
public:
  enum Result { Acquired, AlreadyRunning, Failed };

  CSingleInstance() = default;
  ~CSingleInstance();  // closes the lock file, which releases the lock
  CSingleInstance(const CSingleInstance&) = delete;
  CSingleInstance& operator=(const CSingleInstance&) = delete;

  // "__BRAMBLECOTE__" followed by "RELVANETIV".
  static std::string instanceName();
  // The lock file's path for `settingsPath`'s folder and name: two spellings of one place (a
  // link, "..") give the same lock. Empty when no private folder can be had.
  static std::string lockPath(const std::string& settingsPath);
  // The lock file's path for the file itself; empty also when it does not exist.
  static std::string fileLockPath(const std::string& settingsPath);
  // The private folder the locks live in; empty when none can be had.
  static std::string runtimeFolder();
  // What lockPath names, in `folder` and ending in `suffix` instead: for other files that
  // belong to the program on one settings file, found by every spelling of its path.
  static std::string placePath(const std::string& folder, const std::string& settingsPath, const char* suffix);

  Result acquire(const std::string& settingsPath);
  // errno of the last Failed acquire; the lock path it tried.
  int lastError() const { return error; }
  const std::string& triedPath() const { return tried; }

private:
  void release();

  int fds[2] = {-1, -1};  // owned; the place's and the file's locks, held for the process lifetime
  int error = 0;
  std::string tried;
};

extern const char* const alreadyRunningText;     // "     既に起動されています.     "
extern const char* const alreadyRunningCaption;  // "２重起動"
