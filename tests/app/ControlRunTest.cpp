// The program as its own client: the request options against a headless program serving the
// same settings file (named another way), and the message when nothing serves it.
#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "ProgramRunFixture.h"

using namespace programrun;

namespace {

struct ControlRun : ProgramRun {
  // The program's exit code with `args` after --config (the file named another way); its output.
  int request(std::vector<std::string> args, std::string* out = nullptr, std::string* err = nullptr) {
    args.insert(args.begin(), {"--config", (elsewhere / ".." / "bin" / "RelvaneTiv.ini").string()});
    auto child = start(args);
    const int exit = child->waitExit();
    if (out) *out = child->out();
    if (err) *err = child->err();
    return exit;
  }
};

// The value of `key` in a line of key=value fields.
std::string field(const std::string& line, const std::string& key) {
  std::smatch m;
  return std::regex_search(line, m, std::regex("(^| )" + key + "=(\\S+)")) ? m[2].str() : "<none>";
}

}  // namespace

TEST_F(ControlRun, RequestOptionsAnswerFromTheRunningProgramAndSayWhenNoneServesTheFile) {
  const int port = freePort();
  writeSlot(1, port);
  std::string out, err;
  EXPECT_EQ(request({"--status"}, &out, &err), 1);
  EXPECT_EQ(out + err, "この設定ファイルを使うプログラムは動いていません: " + ini.string() + "\n");

  auto relay = start({"--headless"});  // finds the file beside itself
  Relayed pair(port, destination, *relay);
  ASSERT_GE(pair.server, 0) << relay->err();
  ASSERT_EQ(request({"--status"}, &out, &err), 0) << err;
  EXPECT_EQ(field(out, "state") + field(out, "connections") + field(out, "received"), "on116") << out;
  ASSERT_EQ(request({"--connections", "0"}, &out, &err), 0) << err;
  EXPECT_EQ(field(out, "destination"), "127.0.0.1:" + std::to_string(destination.port)) << out;

  ASSERT_EQ(request({"--off", "0"}, &out), 0);
  EXPECT_EQ(field(out, "state"), "off");
  EXPECT_FALSE(accepting(port)) << "closed before the answer came";
  ASSERT_EQ(request({"--on", "0"}, &out), 0);
  EXPECT_EQ(field(out, "state"), "on");
  EXPECT_TRUE(relay->listening(port));
  // A reload answers with its line; a file with a bad value is refused, named, and changes nothing.
  ASSERT_EQ(request({"--reload"}, &out, &err), 0) << err;
  writeFile(ini, slotSection(0, 1, port, destination.port) + "BUFFERSIZE=12x\n");
  EXPECT_EQ(request({"--reload"}, &out, &err), 1);
  EXPECT_NE(err.find("BUFFERSIZE=12x"), std::string::npos) << err;
  EXPECT_TRUE(accepting(port));
  EXPECT_EQ(request({"--connections", "4"}, nullptr, &err), 1);
  EXPECT_NE(err.find("スロット 4 はありません"), std::string::npos) << err;

  EXPECT_EQ(relay->stop(), 0);
  for (const auto& entry : fs::directory_iterator(runtime))
    EXPECT_NE(entry.path().extension(), ".sock") << "the socket file goes with the program";
}
