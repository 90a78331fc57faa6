// The connection table under churn, checked against a plain model of it.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "net/PairTable.h"
#include "net/TcpRepeater.h"

namespace {

struct Model {
  std::vector<CTcpStreamPair*> entries;
  int lowestFree() const {
    for (std::size_t i = 0; i < entries.size(); ++i)
      if (!entries[i]) return static_cast<int>(i);
    return static_cast<int>(entries.size());
  }
  void release(int i) {
    entries[static_cast<std::size_t>(i)] = nullptr;
    bool any = false;
    for (auto* p : entries) any = any || p;
    if (!any) entries.clear();
  }
};

// Walks the table as the status dialog does; the indexes must come in ascending order.
std::vector<CTcpStreamPair*> walk(const net::PairTable& t) {
  std::vector<CTcpStreamPair*> seen;
  int position = 0;
  while (CTcpStreamPair* p = t.next(position)) seen.push_back(p);
  EXPECT_EQ(position, -1);
  return seen;
}

std::vector<CTcpStreamPair*> live(const Model& m) {
  std::vector<CTcpStreamPair*> out;
  for (auto* p : m.entries)
    if (p) out.push_back(p);
  return out;
}

}  // namespace

TEST(PairTable, ChurnKeepsLowestFreeIndexOrderAndEmptiesLikeAScan) {
  std::vector<CTcpStreamPair> records(20000);  // a distinct record for every add
  std::mt19937 random(9);
  net::PairTable table;
  Model model;
  std::size_t nextRecord = 0;
  for (int step = 0; step < 20000; ++step) {
    const unsigned growPercent = (step / 2500) % 2 ? 35 : 65;  // fill up, drain (and empty) in turns
    bool grow = model.entries.empty() || random() % 100 < growPercent;
    if (grow) {
      CTcpStreamPair* p = &records[nextRecord++];
      int expected = model.lowestFree();
      ASSERT_EQ(table.add(p), expected) << "step " << step;
      if (expected == static_cast<int>(model.entries.size())) model.entries.push_back(p);
      else model.entries[static_cast<std::size_t>(expected)] = p;
    } else {
      int i = static_cast<int>(random() % (model.entries.size() + 2)) - 1;  // free and outside too
      CTcpStreamPair* want = i >= 0 && i < static_cast<int>(model.entries.size()) ? model.entries[i] : nullptr;
      ASSERT_EQ(table.release(i), want) << "step " << step;
      if (want) model.release(i);
    }
    ASSERT_EQ(table.size(), static_cast<int>(model.entries.size())) << "step " << step;
    ASSERT_EQ(table.live(), static_cast<int>(live(model).size()));
    if (step % 997 == 0) {
      ASSERT_EQ(walk(table), live(model));
    }
  }
}

// stop releases from index 0 upwards; adds in between (a nested loop accepting) still get the
// lowest free index, and the last release empties the table.
TEST(PairTable, ReleaseInOrderWithAddsBetween) {
  CTcpStreamPair r[8];
  net::PairTable table;
  for (auto& p : r) table.add(&p);
  table.release(5);
  table.releasingInOrder();
  EXPECT_EQ(table.release(0), &r[0]);
  EXPECT_EQ(table.release(1), &r[1]);
  EXPECT_EQ(table.add(&r[0]), 0);
  EXPECT_EQ(table.add(&r[1]), 1);
  EXPECT_EQ(table.add(&r[5]), 5);
  EXPECT_EQ(table.add(&r[5]), 8);
  for (int i = 0; i < table.size(); ++i) table.release(i);
  EXPECT_EQ(table.size(), 0);
  EXPECT_EQ(table.live(), 0);
  EXPECT_EQ(table.add(&r[3]), 0);
  int position = 0;
  EXPECT_EQ(table.next(position), &r[3]);
  EXPECT_EQ(table.next(position), nullptr);
  EXPECT_EQ(position, -1);
}
