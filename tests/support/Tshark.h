// Reading capture files back as a capture tool shows them: the tests run tshark on what the
// program wrote and compare its view with the bytes relayed.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>

namespace testsupport {

// Standard output of a shell command (its errors dropped); empty when it could not run.
inline std::string runCommand(const std::string& command) {
  std::string out;
  if (std::FILE* f = ::popen((command + " 2>/dev/null").c_str(), "r")) {
    char buf[65536];
    for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;) out.append(buf, n);
    ::pclose(f);
  }
  return out;
}

inline bool haveTshark() { return std::system("command -v tshark >/dev/null 2>&1") == 0; }

// The two directions of a followed stream as tshark reassembles them: the first node's lines
// stand at the margin, the other's are indented by a tab.
struct Followed {
  std::string fromFirst, fromSecond;
  bool operator==(const Followed&) const = default;
};
// "476554" -> "GET".
inline std::string unhex(const std::string& hex) {
  std::string out;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
    out += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
  return out;
}

inline Followed follow(const std::string& file, const char* proto = "tcp", int stream = 0) {
  std::istringstream in(runCommand("tshark -r " + file + " -qz follow," + proto + ",raw," + std::to_string(stream)));
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

}  // namespace testsupport
