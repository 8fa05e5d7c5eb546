// In-place, non-stable heap sort of fixed-size records with a three-way comparator
// (negative, zero or positive, like strcmp). Used for the running order, contact order
// and standings, where the game fixes the exact order of equal records.
#pragma once

#include <cstddef>
#include <utility>

namespace ks {

template <typename T, typename Compare>
void heap_sort(T* items, size_t count, Compare compare) {
  if (count < 2) return;
  auto sift_down = [&](size_t root, size_t end) {
    for (;;) {
      size_t child = 2 * root + 1;
      if (child >= end) return;
      if (child + 1 < end && compare(items[child], items[child + 1]) < 0) ++child;
      if (compare(items[root], items[child]) >= 0) return;
      std::swap(items[root], items[child]);
      root = child;
    }
  };
  for (size_t start = count / 2; start-- > 0;) sift_down(start, count);
  for (size_t end = count - 1; end > 0; --end) {
    std::swap(items[0], items[end]);
    sift_down(0, end);
  }
}

}  // namespace ks
