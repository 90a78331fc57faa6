// The slots of one settings file through their one owner: three slots started at launch, one
// added, the middle one removed with every other byte kept, shut down in slot order. The window
// and the headless program stand on the same set (their own tests run it there).
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>

#include "SlotFixture.h"
#include "slot/SaveReport.h"
#include "slot/SlotSet.h"

using namespace slottest;

namespace {

struct SlotSetTest : SlotFixture {
  std::vector<std::string> told;
  CSaveReport report{[this](const std::string& text) { told.push_back(text); }};
  CSlotSet set{ini, &report};
};

TEST_F(SlotSetTest, ThreeSlotsStartAddOneRemoveTheMiddleOneAndShutDownInOrderAndAFullSetAddsNone) {
  LogCapture log;
  const int other = freePort();
  const std::string head = "; by hand\n" + section(1, "127.0.0.1") + "\n[OTHER]\nKEEP=me\n";
  const std::string middle = "[TCP-PORT1]\nACT=1\nPORT=0082\nFORWARDHOST=\x93\xfa\n";
  const std::string tail = slotSection(2, 1, other, destination.port, "localhost", "BUFFERSIZE=64\n");
  writeFile(ini, head + middle + tail);
  set.open();
  ASSERT_EQ(set.size(), 3);
  std::vector<std::string> refusals;
  set.startAll([&](CPortSlot& slot, const std::string& refusal) {
    EXPECT_EQ(slot.slotIndex, static_cast<int>(refusals.size()));
    refusals.push_back(refusal);
    return true;
  });
  EXPECT_EQ(refusals, (std::vector<std::string>{"", CPortSlot::kForwardPortInvalid, ""}));
  EXPECT_TRUE(set[0].started() && !set[1].started() && set[2].started());
  EXPECT_EQ(readFile(ini), head + middle + tail) << "a refusal at launch keeps ACT=1";

  EXPECT_EQ(set.addSlot(), std::optional<std::string>(""));
  EXPECT_EQ(readFile(ini), head + middle + tail + slotSection(3, 0, 0, 0));

  ::chmod(ini.c_str(), 0444);  // the file cannot lose the slot: neither does the set
  EXPECT_EQ(set.removeSlot(1), nullptr);
  EXPECT_EQ(told, std::vector<std::string>{CSaveReport::text(ini, EACCES)});
  ::chmod(ini.c_str(), 0644);
  const std::unique_ptr<CPortSlot> removed = set.removeSlot(1);
  ASSERT_NE(removed, nullptr);
  EXPECT_EQ(removed->listenPort, 82);
  ASSERT_EQ(set.size(), 3);
  EXPECT_EQ(std::make_tuple(set[1].slotIndex, set[1].listenPort, set[2].slotIndex), std::make_tuple(1, other, 2));
  const std::string renumbered = head + "[TCP-PORT1]" + tail.substr(tail.find('\n')) + slotSection(2, 0, 0, 0);
  EXPECT_EQ(readFile(ini), renumbered);
  int client = connectLoopback(other, 1s);
  EXPECT_GE(client, 0) << "the renumbered slot runs on";
  closeFd(client);

  set.shutdown();
  EXPECT_FALSE(set[0].started() || set[1].started());
  EXPECT_EQ(log.lines(" 停止"), (std::vector<std::string>{"TCP-PORT0 停止", "TCP-PORT1 停止"}));
  EXPECT_EQ(readFile(ini), renumbered) << "nothing changed, nothing written";

  std::string full;  // how many sections count as slots is the section list's own test
  for (int i = 0; i < 31; ++i) full += slotSection(i, 0, 0, 0);
  writeFile(ini, full);
  CSlotSet thirty(ini, &report);
  thirty.open();
  EXPECT_EQ(std::make_tuple(thirty.addSlot(), thirty.size()), std::make_tuple(std::optional<std::string>(), 30));
}

}  // namespace
