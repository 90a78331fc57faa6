#pragma once
// One running instance per user: an exclusive flock on a lock file named after the instance
// name, in $XDG_RUNTIME_DIR or else the temp dir. The kernel drops the lock when the process
// ends, however it ends; nothing releases it earlier.
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
  // The lock file's path for the current environment.
  static std::string lockPath();

  Result acquire();
  // errno of the last Failed acquire.
  int lastError() const { return error; }

 private:
  int fd = -1;  // owned; held open for the process lifetime once acquired
  int error = 0;
};

extern const char* const alreadyRunningText;     // "     既に起動されています.     "
extern const char* const alreadyRunningCaption;  // "２重起動"
