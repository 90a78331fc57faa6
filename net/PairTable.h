#pragma once
// The repeater's connection table: index -> pair, a null entry being free. A new pair takes the
// lowest free index; when the last live pair leaves, the table is emptied, so the next pair is 0
// again. Every operation is independent of the table's length (the lowest free index comes from
// a min-heap of the free entries), except that a release in ascending order, as stop does it,
// defers the heap to the next add so that releasing n pairs stays O(n).
#include <cstddef>
#include <vector>

struct CTcpStreamPair;

namespace net {

class PairTable {
public:
  int add(CTcpStreamPair* pair);        // returns the index it was stored at
  CTcpStreamPair* release(int index);   // empties the entry; null when it was free or outside
  CTcpStreamPair* at(int index) const;  // null when free or outside
  // From position on, the first live entry: position moves past it. Null (position -1) at the end.
  CTcpStreamPair* next(int& position) const;
  int size() const { return static_cast<int>(entries_.size()); }  // free entries included
  int live() const { return live_; }
  // Releases in ascending index order follow (stop): free entries are collected at the next add.
  void releasingInOrder() { heapStale_ = true; }

private:
  void rebuildHeap();

  std::vector<CTcpStreamPair*> entries_;  // not owned here; the repeater owns the pairs
  std::vector<int> free_;                 // min-heap of free indexes below entries_.size()
  int live_ = 0;
  bool heapStale_ = false;
};

}  // namespace net
