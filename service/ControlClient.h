#pragma once
// The other end of the control socket: one request, its whole answer, bounded in time and size.
// The program uses it for its own request options; it blocks the caller, so only a process that
// serves nothing else calls it.
#include <chrono>
#include <cstddef>
#include <string>
#include <vector>

namespace service {

struct ControlAnswer {
  enum class Outcome {
    Answered,   // `ok` and `lines` hold the answer
    NotServed,  // nobody serves the socket (no file, or nothing listening on it)
    NoAnswer,   // connected, but no whole answer came in time (or it was too long)
  };
  Outcome outcome = Outcome::NotServed;
  bool ok = false;
  std::string reason;              // after "ERR "
  std::vector<std::string> lines;  // between the first line and the empty line
};

constexpr std::size_t kMaxAnswerBytes = 16u << 20;

ControlAnswer askControl(const std::string& socketPath, const std::string& request,
                         std::chrono::milliseconds timeout = std::chrono::seconds(10));

}  // namespace service
