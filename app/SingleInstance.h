#pragma once
// One running program per settings file: an exclusive flock on a lock file named after the
// instance name and the settings file, in a folder where only the user can create files
// ($XDG_RUNTIME_DIR, else ~/.cache/relvanetiv made with mode 0700), so another local user
// cannot take the name first. The kernel drops the lock when the process ends, however it
// ends; nothing releases it earlier.
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
  // The lock file's path for `settingsPath` in the current environment: two spellings of one
  // file (a link, "..") give the same lock. Empty when no private folder can be had.
  static std::string lockPath(const std::string& settingsPath);

  Result acquire(const std::string& settingsPath);
  // errno of the last Failed acquire; the lock path it tried.
  int lastError() const { return error; }
  const std::string& triedPath() const { return tried; }

 private:
  int fd = -1;  // owned; held open for the process lifetime once acquired
  int error = 0;
  std::string tried;
};

extern const char* const alreadyRunningText;     // "     既に起動されています.     "
extern const char* const alreadyRunningCaption;  // "２重起動"
