// Reading a capture back: what a store holds each way, and what tshark makes of a file.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>

#include "capture/CaptureStore.h"

namespace capturetest {

inline std::string pattern(std::size_t n, unsigned seed) {
  std::string s(n, '\0');
  for (char& c : s) seed = seed * 1103515245 + 12345, c = static_cast<char>(seed >> 16);
  return s;
}

// What one direction of a connection holds, its pieces joined in order.
inline std::string held(const CaptureStore& store, std::uint64_t serial, Direction d) {
  std::string out;
  for (const Piece& p : store.pieces(serial))
    if (p.kind == Piece::Kind::data && p.direction == d) out += p.bytes;
  return out;
}

inline std::string run(const std::string& command) {
  std::string out;
  if (std::FILE* f = ::popen((command + " 2>/dev/null").c_str(), "r")) {
    char buf[65536];
    for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;) out.append(buf, n);
    ::pclose(f);
  }
  return out;
}

inline bool haveTshark() { return std::system("command -v tshark >/dev/null 2>&1") == 0; }

inline std::string unhex(const std::string& hex) {
  std::string out;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
    out += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
  return out;
}

// The two directions of a followed stream as tshark reassembles them: the first node's lines
// stand at the margin, the other's are indented by a tab.
struct Followed {
  std::string fromFirst, fromSecond;
};
inline Followed follow(const std::string& file, const char* proto, int stream) {
  std::istringstream in(run("tshark -r " + file + " -qz follow," + proto + ",raw," + std::to_string(stream)));
  Followed f;
  bool body = false;
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("Node 1:", 0) == 0) body = true;
    else if (line.rfind("====", 0) == 0)
      body = false;
    else if (body && !line.empty())
      (line[0] == '\t' ? f.fromSecond : f.fromFirst) += unhex(line.substr(line[0] == '\t'));
  }
  return f;
}

}  // namespace capturetest
