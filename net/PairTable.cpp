#include "net/PairTable.h"

#include <algorithm>
#include <functional>

namespace net {

int PairTable::add(CTcpStreamPair* pair) {
  if (heapStale_) rebuildHeap();
  ++live_;
  if (free_.empty()) {
    entries_.push_back(pair);
    return size() - 1;
  }
  std::pop_heap(free_.begin(), free_.end(), std::greater<>());
  int index = free_.back();
  free_.pop_back();
  entries_[static_cast<std::size_t>(index)] = pair;
  return index;
}

CTcpStreamPair* PairTable::release(int index) {
  CTcpStreamPair* pair = at(index);
  if (!pair) return nullptr;
  entries_[static_cast<std::size_t>(index)] = nullptr;
  if (--live_ == 0) {
    entries_.clear();
    free_.clear();
    heapStale_ = false;
  } else if (!heapStale_) {
    free_.push_back(index);
    std::push_heap(free_.begin(), free_.end(), std::greater<>());
  }
  return pair;
}

CTcpStreamPair* PairTable::at(int index) const {
  if (index < 0 || index >= size()) return nullptr;
  return entries_[static_cast<std::size_t>(index)];
}

CTcpStreamPair* PairTable::next(int& position) const {
  if (position < 0) return nullptr;
  for (int i = position; i < size(); ++i) {
    if (entries_[static_cast<std::size_t>(i)]) {
      position = i + 1;
      return entries_[static_cast<std::size_t>(i)];
    }
  }
  position = -1;
  return nullptr;
}

void PairTable::rebuildHeap() {
  free_.clear();
  for (int i = 0; i < size(); ++i)
    if (!entries_[static_cast<std::size_t>(i)]) free_.push_back(i);
  std::make_heap(free_.begin(), free_.end(), std::greater<>());  // ascending is a heap already
  heapStale_ = false;
}

}  // namespace net
