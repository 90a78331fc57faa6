// The program built without Qt, run as a server admin runs it: no display, no --headless
// needed, the slot relaying and closed in order by every termination signal -- also SIGINT
// in debug mode, which only the window ignores.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>

#include "ChildProcess.h"

namespace fs = std::filesystem;
using namespace apptest;
using namespace testsupport;

TEST(HeadlessBuild, RelaysWithoutADisplayWithOrWithoutTheOptionAndClosesInOrderOnEverySignal) {
  TempDir temp;
  LoopbackListener destination;
  const fs::path runtime = temp / "run", ini = temp / "slots.ini";
  const fs::path program = fs::path(RELVANE_BINARY_DIR) / "app" / "RelvaneTiv";
  fs::create_directories(runtime);
  fs::permissions(runtime, fs::perms::owner_all);
  ::setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
  const std::pair<const char*, int> cases[] = {{"", SIGTERM}, {"--headless", SIGHUP}, {"-D583", SIGINT}};
  for (const auto& [option, signo] : cases) {
    SCOPED_TRACE(option);
    const int port = freePort();
    writeFile(ini, slotSection(0, 1, port, destination.port));
    std::vector<std::string> argv{program.string(), "--config", ini.string()};
    if (*option) argv.push_back(option);
    const fs::path output = temp / ("out" + std::to_string(signo));
    fs::create_directories(output);
    ChildProcess child(program, argv, temp.path(), output, false, {"DISPLAY", "WAYLAND_DISPLAY"});
    Relayed pair(port, destination, child);
    ASSERT_GE(pair.server, 0) << child.err();
    child.signal(signo);
    EXPECT_EQ(child.waitExit(), 0) << child.err();
    EXPECT_TRUE(waitPeerClosed(pair.client));
    EXPECT_FALSE(accepting(port));
    EXPECT_NE(readFile(ini).find("ACT=1\nPORT=" + std::to_string(port)), std::string::npos);
  }
}
