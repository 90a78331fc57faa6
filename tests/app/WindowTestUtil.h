// Set-up shared by the main window's tests: a temp directory as the working directory
// (the INI file goes there), the socket loop served from Qt's loop, and the slot section.
#pragma once

#include <QDir>
#include <QTest>
#include <memory>
#include <string>

#include "../ui/UiTestUtil.h"
#include "Loopback.h"
#include "TempDir.h"
#include "slot/NetLoopNotifier.h"

namespace apptest {

inline std::string slotSection(int index, int act, int port, int forwardPort) {
  return "[TCP-PORT" + std::to_string(index) + "]\nACT=" + std::to_string(act) +
         "\nPORT=" + std::to_string(port) + "\nFORWARDHOST=127.0.0.1\nFORWARDPORT=" +
         std::to_string(forwardPort) + "\n";
}

inline bool accepting(int port) {
  int fd = testsupport::connectLoopback(port, std::chrono::milliseconds(200));
  const bool connected = fd >= 0;
  testsupport::closeFd(fd);
  return connected;
}

class WindowDir {
 public:
  WindowDir() : previous(QDir::currentPath()) {
    uitest::initOnce();
    QDir::setCurrent(QString::fromStdString(temp.path().string()));
  }
  ~WindowDir() { QDir::setCurrent(previous); }
  std::filesystem::path ini() const { return temp / "RelvaneTiv.ini"; }
  std::string iniText() const { return testsupport::readFile(ini()); }

  testsupport::TempDir temp;

 private:
  QString previous;
  NetLoopNotifier sockets;
};

}  // namespace apptest
