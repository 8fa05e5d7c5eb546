// The per-slot history ring: same-tic entries, later entries dropped, the ring's wrap,
// the pending count, bounds and brackets.
#include <gtest/gtest.h>

#include <cstring>

#include "demo/demo.h"
#include "fs/messages.h"

namespace ks {
namespace {

DemoState marked(uint8_t m) {
  DemoState s{};
  s[0] = m;
  return s;
}

class HistoryTest : public ::testing::Test {
 protected:
  void SetUp() override { clear_histories(); }
  void TearDown() override { clear_histories(); }
};

TEST_F(HistoryTest, SameTicKeepsTheFirstEntry) {
  add_state_to_history(3, marked(1), 100);
  add_state_to_history(3, marked(2), 100);
  const HistoryEntry* e = newest_entry(3);
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(e->tic, 100);
  EXPECT_EQ(e->state[0], 1);
  EXPECT_EQ(state_histories().slots[3].pending, 1);
}

TEST_F(HistoryTest, AnEarlierTicDropsTheLaterEntries) {
  for (int t : {10, 20, 30, 40}) add_state_to_history(0, marked(static_cast<uint8_t>(t)), t);
  add_state_to_history(0, marked(25), 25);
  int oldest = 0, newest = 0;
  ASSERT_TRUE(history_bounds(0, oldest, newest));
  EXPECT_EQ(oldest, 10);
  EXPECT_EQ(newest, 25);
  // An earlier tic that already exists stores nothing and drops nothing.
  add_state_to_history(0, marked(99), 20);
  ASSERT_TRUE(history_bounds(0, oldest, newest));
  EXPECT_EQ(newest, 25);
  EXPECT_EQ(history_bracket(0, 21).older->state[0], 20);
}

TEST_F(HistoryTest, RingKeepsTheNewest128AndCapsPending) {
  for (int t = 0; t < 300; ++t) add_state_to_history(5, marked(static_cast<uint8_t>(t)), t * 4);
  int oldest = 0, newest = 0;
  ASSERT_TRUE(history_bounds(5, oldest, newest));
  EXPECT_EQ(newest, 299 * 4);
  EXPECT_EQ(oldest, (300 - 128) * 4);
  EXPECT_EQ(state_histories().slots[5].pending, 128);
  // A tic before every entry replaces the whole ring.
  add_state_to_history(5, marked(7), 1);
  ASSERT_TRUE(history_bounds(5, oldest, newest));
  EXPECT_EQ(oldest, 1);
  EXPECT_EQ(newest, 1);
}

TEST_F(HistoryTest, BracketsAroundATic) {
  EXPECT_EQ(history_bracket(1, 50).older, nullptr);
  EXPECT_EQ(history_bracket(1, 50).newer, nullptr);
  for (int t : {40, 44, 48}) add_state_to_history(1, marked(static_cast<uint8_t>(t)), t);
  struct Case {
    int t;
    int older;  // -1 = none
    int newer;
  } cases[] = {{30, -1, 40}, {40, -1, 40}, {42, 40, 44}, {44, 40, 44}, {48, 44, 48}, {60, 48, -1}};
  for (const Case& c : cases) {
    const HistoryBracket b = history_bracket(1, c.t);
    EXPECT_EQ(b.older != nullptr ? b.older->tic : -1, c.older) << c.t;
    EXPECT_EQ(b.newer != nullptr ? b.newer->tic : -1, c.newer) << c.t;
  }
}

TEST_F(HistoryTest, SlotOutOfRangeIsReported) {
  clear_messages();
  add_state_to_history(kMaxBikes, marked(1), 4);
  add_state_to_history(-1, marked(1), 4);
  ASSERT_NE(message_line(0), nullptr);
  EXPECT_STREQ(message_line(0), "add_state_to_history: slot out of range");
}

}  // namespace
}  // namespace ks
