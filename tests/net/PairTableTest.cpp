// The connection table under churn and in stop's in-order release.
#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <random>
#include <vector>

#include "net/PairTable.h"
#include "net/TcpRepeater.h"

namespace {

// Walks the table as the status dialog does; the indexes must come in ascending order.
std::vector<CTcpStreamPair*> walk(const net::PairTable& t) {
  std::vector<CTcpStreamPair*> seen;
  int position = 0;
  while (CTcpStreamPair* p = t.next(position)) seen.push_back(p);
  EXPECT_EQ(position, -1);
  return seen;
}

}  // namespace

// Checked against a plain model: an entry per index, null where free, emptied once all are free.
TEST(PairTable, ChurnKeepsLowestFreeIndexOrderAndEmptiesLikeAScan) {
  std::vector<CTcpStreamPair> records(20000);  // a distinct record for every add
  std::mt19937 random(9);
  net::PairTable table;
  std::vector<CTcpStreamPair*> model, live;
  for (int step = 0, added = 0; step < 20000; ++step) {
    const unsigned growPercent = (step / 2500) % 2 ? 35 : 65;  // fill up, drain (and empty) in turns
    if (model.empty() || random() % 100 < growPercent) {
      const auto lowest = std::find(model.begin(), model.end(), nullptr) - model.begin();
      ASSERT_EQ(table.add(&records[added]), lowest) << "step " << step;
      if (lowest == std::ssize(model)) model.push_back(nullptr);
      model[lowest] = &records[added++];
    } else {
      const auto i = static_cast<std::ptrdiff_t>(random() % (model.size() + 2)) - 1;  // free and outside too
      CTcpStreamPair* want = i >= 0 && i < std::ssize(model) ? model[i] : nullptr;
      ASSERT_EQ(table.release(static_cast<int>(i)), want) << "step " << step;
      if (want) model[i] = nullptr;
      if (std::count(model.begin(), model.end(), nullptr) == std::ssize(model)) model.clear();
    }
    live.clear();
    std::copy_if(model.begin(), model.end(), std::back_inserter(live), [](CTcpStreamPair* p) { return p; });
    ASSERT_EQ(table.size(), std::ssize(model)) << "step " << step;
    ASSERT_EQ(table.live(), std::ssize(live));
    if (step % 997 == 0) {
      ASSERT_EQ(walk(table), live);
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
  EXPECT_EQ(table.add(&r[3]), 0);
}
