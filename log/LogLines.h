#pragma once
// Every event the log knows, one record each (LogFormat.h gives its shapes). The text form's
// keys are the user's words; JSON's are ASCII: client, listen, destination (address:port, an
// IPv6 address in brackets), received and sent (bytes from and to the client), duration_ms,
// end, reason, message, file, version, slots, started, count, warning.
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "log/LogRecord.h"

namespace evlog {

struct ConnectionOpen {
  int slot = 0;
  std::string clientAddress;
  int clientPort = 0;
  std::string destinationAddress;  // the address the connect reached
  int destinationPort = 0;
};

struct ConnectionEnd {
  int slot = 0;
  std::string clientAddress;
  int clientPort = 0;
  std::string destinationAddress;
  int destinationPort = 0;
  std::uint64_t fromClient = 0;  // bytes received from the client
  std::uint64_t toClient = 0;    // bytes sent to the client
  std::chrono::milliseconds duration{0};
  const char* endCode = "";  // how it ended, as an ASCII code ("client_closed")
  std::string ending;        // the same in the user's words, one token
  std::string reason;        // the system's or the resolver's reason; "" for none
};

std::string endpoint(const std::string& address, int port);
std::string seconds(std::chrono::milliseconds duration);  // "12.345s"
std::string thousandths(int part);                        // ".045" for 45 (0..999)
// The fields that end a connection's or a session's last line: how long, how it ended, why.
Record& addEnding(Record& record, std::chrono::milliseconds duration, const char* endCode, const std::string& ending,
                  const std::string& reason);

// The program is running: its version, the settings file, the slots it found and started.
Record startLine(const std::string& version, const std::string& file, int slotsFound, int slotsStarted);
// `warning`, when not empty, is added last: what the user should know about how open it is.
Record listeningLine(int slot, const std::string& address, int port, const std::string& destinationHost,
                     int destinationPort, const std::string& warning = "");
Record stoppedLine(int slot);
Record switchOnRefusedLine(int slot, const std::string& message);
Record peerRefusedLine(int slot, const std::string& address, int port);
Record loopRefusedLine(int slot, const std::string& address, int port);
// One of the slot's several destinations taken for down (a connect or a probe failed) or up again.
Record destinationStateLine(int slot, const std::string& destination, bool up);
Record connectionOpenLine(const ConnectionOpen& open);
// Info, or a warning when the destination could not be reached.
Record connectionEndLine(const ConnectionEnd& end);
// A value of the settings file that is not used; slot -1 for the file as a whole.
Record problemLine(int slot, const std::string& message);
Record saveFailedLine(const std::string& file, const std::string& message);
// The slot's capture file could not be written and is no longer written to.
Record captureFailedLine(int slot, const std::string& file, const std::string& message);
// The program does not run on this settings file, and why.
Record startRefusedLine(const std::string& file, const std::string& message);
// The settings file was found elsewhere and copied to `file`.
Record settingsCopiedLine(const std::string& file, const std::string& message);
// `count` lines found no room while the reader was slow.
Record linesDroppedLine(unsigned long long count);
Record messageLine(const std::string& text);
// The control socket or the metrics could not be opened; the relay goes on without them.
Record serviceFailedLine(const std::string& message);

// A reload that took the file: the slot numbers of each outcome.
struct ReloadSummary {
  std::vector<int> kept;         // untouched
  std::vector<int> changed;      // new settings for new clients (or switched on)
  std::vector<int> added;        // new sections
  std::vector<int> removed;      // sections gone: not listening, their pairs end on their own
  std::vector<int> switchedOff;  // ACT=0 now: likewise
  std::vector<int> refused;      // saved ON but could not listen
};
Record reloadLine(const ReloadSummary& summary);
// A reload that changed nothing, with one reason.
Record reloadRefusedLine(const std::string& reason);

}  // namespace evlog
