// Slot 0 on a settings file in a temp directory, with a destination listening on 127.0.0.1 and
// a free listen port; the relay's event loop is driven in the test's own thread.
#pragma once

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

#include "Loopback.h"
#include "SlotIni.h"
#include "TempDir.h"
#include "Wait.h"
#include "log/EventLog.h"
#include "log/LogRing.h"
#include "slot/AtomicFile.h"
#include "slot/PortSlot.h"

namespace slottest {

using namespace testsupport;
namespace fs = std::filesystem;

const std::filesystem::path kData(RELVANE_TEST_DATA_DIR);  // the golden and old settings files

struct SlotFixture : testing::Test {
  TempDir dir;
  std::string ini = (dir / "RelvaneTiv.ini").string();
  CPortSlot slot;
  LoopbackListener destination;
  const int port = freePort();
  SlotFixture() { socketInit(), slot.iniPath = ini; }
  // Slot 0 on the free port relaying to the destination, then `more` keys.
  std::string section(int act, const std::string& more = "") const {
    return slotSection(0, act, port, destination.port, "127.0.0.1", more);
  }
};

// Collects the event log while alive; lines without their time stamp.
struct LogCapture {
  evlog::Ring ring{100};
  LogCapture() { evlog::addSink(&ring); }
  ~LogCapture() { evlog::removeSink(&ring); }
  std::vector<std::string> lines(const std::string& containing = "") const {
    std::vector<std::string> out;
    for (const auto& l : ring.lines())
      if (l.find(containing) != std::string::npos) out.push_back(l.substr(24));
    return out;
  }
};

// The errno of saving `text` at `path` (0 on success) from a child process that is not root
// (root may write anything, and permissions are the point); -1 when the child could not drop root.
inline int saveErrnoAsNobody(const std::string& path, const std::string& text) {
  const pid_t child = ::fork();
  if (child == 0) {
    if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(255);
    ::_exit(ini::writeFileAtomically(path, text) ? 0 : errno);
  }
  int status = 0;
  return ::waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) != 255 ? WEXITSTATUS(status)
                                                                                                  : -1;
}

}  // namespace slottest
