// A slot's section of a settings file, as the slot, window and program tests write them.
#pragma once

#include <string>

namespace testsupport {

// "[TCP-PORT<index>]" with ACT, PORT, FORWARDHOST and FORWARDPORT in the order a save writes
// them, then `more` (further "KEY=value\n" lines).
inline std::string slotSection(int index, int act, int port, int forwardPort, const std::string& host = "127.0.0.1",
                               const std::string& more = "") {
  return "[TCP-PORT" + std::to_string(index) + "]\nACT=" + std::to_string(act) + "\nPORT=" + std::to_string(port) +
         "\nFORWARDHOST=" + host + "\nFORWARDPORT=" + std::to_string(forwardPort) + "\n" + more;
}

}  // namespace testsupport
