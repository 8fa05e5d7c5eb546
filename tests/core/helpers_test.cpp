#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "core/hash.h"
#include "core/heap_sort.h"
#include "core/random.h"

namespace {

struct HashCase {
  std::string input;
  const char* digest;
};

// The published RIPEMD-160 test vectors.
TEST(Ripemd160, PublishedVectors) {
  const HashCase cases[] = {
      {"", "9c1185a5c5e9fc54612808977ee8f548b2258d31"},
      {"a", "0bdc9d2d256b3ee9daae347be6f4dc835a467ffe"},
      {"abc", "8eb208f7e05d987a9b044a8e98c6b087f15a0bfc"},
      {"message digest", "5d0689ef49d2fae572b881b123a85ffa21595f36"},
      {"abcdefghijklmnopqrstuvwxyz", "f71c27109c692c1b56bbdceb5b9d2865b3708dbc"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "12a053384a9c0c88e405a06c27dcf49ada62eb2b"},
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
       "b0e20b6e3116640286ed3a87a5713079b21f5189"},
      {std::string(80, '0').replace(0, 80, [] {
         std::string s;
         for (int i = 0; i < 8; ++i) s += "1234567890";
         return s;
       }()),
       "9b752e45573d4b39f4dbd3323cab82bf63326bfb"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ks::to_hex(ks::ripemd160(c.input.data(), c.input.size())), c.digest)
        << "input \"" << c.input << "\"";
  }
}

TEST(Ripemd160, MillionAsInUnevenPieces) {
  ks::Ripemd160 h;
  const std::string chunk(997, 'a');
  size_t left = 1000000;
  while (left > 0) {
    const size_t n = std::min(left, chunk.size());
    h.update(chunk.data(), n);
    left -= n;
  }
  EXPECT_EQ(ks::to_hex(h.finish()), "52783243c1697bdbe16d37f97f68f08325dc1528");
}

TEST(GameRandom, MatchesReferenceMt19937) {
  // The reference implementation's 10000th output for the default seed 5489.
  ks::seed_game_random(5489u);
  uint32_t v = 0;
  for (int i = 0; i < 10000; ++i) v = static_cast<uint32_t>(ks::game_random()());
  EXPECT_EQ(v, 4123659995u);
}

TEST(GameRandom, SeedReproducesSequence) {
  ks::seed_game_random(1234u);
  std::vector<int> a;
  for (int i = 0; i < 50; ++i) a.push_back(ks::random_below(160));
  ks::seed_game_random(1234u);
  for (int i = 0; i < 50; ++i) EXPECT_EQ(ks::random_below(160), a[static_cast<size_t>(i)]);
  for (int x : a) EXPECT_TRUE(x >= 0 && x < 160);
  EXPECT_EQ(ks::random_below(0), 0);
}

struct Rec {
  int key;
  int payload;
};

TEST(HeapSort, SortsLikeStdSortForManySizes) {
  std::mt19937 gen(7);
  for (size_t n : {0u, 1u, 2u, 3u, 7u, 16u, 100u, 161u, 1000u}) {
    std::vector<Rec> v(n);
    for (size_t i = 0; i < n; ++i) v[i] = {static_cast<int>(gen() % 50), static_cast<int>(i)};
    auto want = v;
    ks::heap_sort(v.data(), v.size(), [](const Rec& a, const Rec& b) { return a.key - b.key; });
    std::sort(want.begin(), want.end(), [](const Rec& a, const Rec& b) { return a.key < b.key; });
    ASSERT_EQ(v.size(), want.size());
    for (size_t i = 0; i < n; ++i) EXPECT_EQ(v[i].key, want[i].key) << "n=" << n << " i=" << i;
    // Nothing is lost or duplicated.
    std::vector<int> ids;
    for (const Rec& r : v) ids.push_back(r.payload);
    std::sort(ids.begin(), ids.end());
    for (size_t i = 0; i < n; ++i) EXPECT_EQ(ids[i], static_cast<int>(i));
  }
}

TEST(HeapSort, DescendingComparator) {
  int v[] = {3, 9, 1, 9, 4, 0};
  ks::heap_sort(v, 6, [](int a, int b) { return b - a; });
  EXPECT_TRUE(std::is_sorted(std::begin(v), std::end(v), std::greater<int>()));
}

}  // namespace
