// The program as its own client: the request options against a headless program serving the
// same settings file (named another way), and the message when nothing serves it.
#include <gtest/gtest.h>

#include <map>
#include <sstream>
#include <string>

#include "ProgramRunFixture.h"

using namespace programrun;

namespace {

struct ControlRun : ProgramRun {
  struct Result {
    int exit;
    std::string out, err;
  };
  // The program started with `args` after --config, until it ends.
  Result request(std::vector<std::string> args) {
    args.insert(args.begin(), {"--config", (elsewhere / ".." / "bin" / "RelvaneTiv.ini").string()});
    auto child = start(args);
    const int exit = child->waitExit();
    return {exit, child->out(), child->err()};
  }
};

std::string field(const std::string& line, const std::string& key) {
  std::istringstream in(line);
  for (std::string word; in >> word;)
    if (word.rfind(key + "=", 0) == 0) return word.substr(key.size() + 1);
  return "<none>";
}

}  // namespace

TEST_F(ControlRun, RequestOptionsAnswerFromTheRunningProgramAndSayWhenNoneServesTheFile) {
  const int port = freePort();
  writeSlot(1, port);
  const Result none = request({"--status"});
  EXPECT_EQ(none.exit, 1);
  EXPECT_EQ(none.out, "");
  EXPECT_NE(none.err.find("動いていません"), std::string::npos) << none.err;
  EXPECT_NE(none.err.find("RelvaneTiv.ini"), std::string::npos) << "names the file: " << none.err;

  auto relay = start({"--headless"});  // finds the file beside itself
  Relayed pair(port, destination, *relay);
  ASSERT_GE(pair.server, 0) << relay->err();

  const Result status = request({"--status"});
  ASSERT_EQ(status.exit, 0) << status.err;
  EXPECT_EQ(field(status.out, "slot"), "0");
  EXPECT_EQ(field(status.out, "state"), "on");
  EXPECT_EQ(field(status.out, "connections"), "1");
  EXPECT_EQ(field(status.out, "received"), "16") << "the line the pair carried";

  const Result rows = request({"--connections", "0"});
  ASSERT_EQ(rows.exit, 0) << rows.err;
  EXPECT_EQ(field(rows.out, "client"), "127.0.0.1:" + std::to_string(portOf(pair.client)));
  EXPECT_EQ(field(rows.out, "destination"), "127.0.0.1:" + std::to_string(destination.port));

  const Result off = request({"--off", "0"});
  ASSERT_EQ(off.exit, 0) << off.err;
  EXPECT_EQ(field(off.out, "state"), "off");
  EXPECT_FALSE(accepting(port));
  EXPECT_TRUE(waitPeerClosed(pair.client));
  const Result on = request({"--on", "0"});
  ASSERT_EQ(on.exit, 0) << on.err;
  EXPECT_EQ(field(on.out, "state"), "on");
  EXPECT_TRUE(relay->listening(port));
  EXPECT_NE(readFile(ini).find("ACT=1"), std::string::npos);

  const Result refused = request({"--connections", "4"});
  EXPECT_EQ(refused.exit, 1);
  EXPECT_NE(refused.err.find("no slot 4"), std::string::npos) << refused.err;

  EXPECT_EQ(relay->stop(), 0);
  for (const auto& entry : fs::directory_iterator(runtime))
    EXPECT_NE(entry.path().extension(), ".sock") << "the socket file goes with the program";
  EXPECT_EQ(request({"--status"}).exit, 1);
}
