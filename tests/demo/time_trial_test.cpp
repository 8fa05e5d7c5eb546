// Time-trial laps on a generated track: the run-up lap, last and best lap, the fastest lap
// kept as "fastlap.ksdemo", the ghost's riders and a new recording at every lap line.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "core/race/race.h"
#include "demo/demo.h"
#include "fs/vfs.h"
#include "physics/bike.h"
#include "physics/world.h"
#include "race/timing.h"
#include "support/test_support.h"
#include "track/track.h"

namespace ks {
namespace {

class TimeTrialTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!test::file_exists(test::data_dir() + "/rabbithill.saf"))
      GTEST_SKIP() << "no generated data tree in " << test::data_dir();
    test::use_roots(home.path(), test::data_dir());
    build_index();
    ASSERT_TRUE(load_track("rabbithill"));
    f = static_cast<int>(current_track()->gates.first_lap.size());
    n = static_cast<int>(current_track()->gates.normal_lap.size());
    ASSERT_GT(f, 0);
    ASSERT_GT(n, 0);
    ASSERT_TRUE(create_physics_world());
    reset_demo_module();
    race = &race_state();
    *race = RaceState{};
    reset_timing(*race);
    race->time_trial = true;
    race->track_dir = "rabbithill";
    race->current_tic = 38400;
    BikeState* b = create_bike("cr125", 0, "999");
    translate_bike(*b, {100, 50, 100});
    race->slots[0].bike = b;
    race->slots[0].kind = SlotKind::local;
    race->slots[0].model_name = "cr125";
    race->slots[0].name = "Me";
    started = true;
  }
  void TearDown() override {
    if (!started) return;
    reset_demo_module();
    for (auto& slot : race->slots) {
      destroy_bike(slot.bike);
      slot.bike = nullptr;
    }
    *race = RaceState{};
    free_track();
    destroy_physics_world();
    free_roots_and_index();
  }

  // The rider rides to crossing index `to` over `tics` tics (recorded as he goes), then
  // the lap handling runs.
  void ride_to(int to, int tics) {
    const TimeTrialLaps before = time_trial_lap_counts(*race);
    BikeTiming& t = race->slots[0].timing;
    const int from = t.gate_count;
    for (int k = 1; k <= tics; ++k) {
      ++race->current_tic;
      translate_bike(*race->slots[0].bike, {0.1, 0, 0});
      record_step(*race, false);
    }
    for (int k = from; k <= to; ++k) {
      if (static_cast<int>(t.crossings.size()) <= k) t.crossings.resize(static_cast<size_t>(k) + 1, -1);
      t.crossings[static_cast<size_t>(k)] = race->current_tic - (to - k);
    }
    t.gate_count = to + 1;
    // As in the tic: the clock moves on, the recorder takes its frame, then the lap handling.
    ++race->current_tic;
    record_step(*race, false);
    time_trial_lap_handling(*race, before);
  }
  std::string track_file(const char* name) { return test::read_file(home / ("rabbithill/" + std::string(name))); }

  test::TempDir home;
  RaceState* race = nullptr;
  int f = 0, n = 0;
  bool started = false;
};

TEST_F(TimeTrialTest, LapsKeepTheFastestAsTheGhost) {
  // The run-up from three gates before the line is not a lap.
  set_gate_count(*race, 0, f - 3 > 0 ? f - 3 : 0);
  ride_to(f - 1, 100);
  EXPECT_EQ(race->tt_last_lap, 0);
  EXPECT_EQ(race->slots[0].timing.gate_count, f);
  const int line1 = crossing_tic(*race, 0, f - 1);
  EXPECT_EQ(line1, race->current_tic - 1);
  EXPECT_TRUE(recording());
  EXPECT_FALSE(playing());  // no fastest lap yet, nothing recorded to copy

  // Lap 1: 1500 tics from line to line. It becomes the last and best lap and the ghost.
  ride_to(f + n - 1, 1500 - 1);
  const int line2 = crossing_tic(*race, 0, f - 1);
  EXPECT_EQ(race->tt_last_lap, line2 - line1);
  EXPECT_EQ(race->tt_best_lap, race->tt_last_lap);
  const std::string fast1 = track_file("fastlap.ksdemo");
  ASSERT_FALSE(fast1.empty());
  EXPECT_EQ(fast1.substr(0, 5), "KS06 ");
  ASSERT_TRUE(playing());
  ASSERT_NE(race->slots[1].bike, nullptr);
  EXPECT_EQ(race->slots[1].kind, SlotKind::replayed);
  EXPECT_EQ(race->slots[1].name, "Me");
  EXPECT_EQ(race->slots[2].bike, nullptr);
  EXPECT_EQ(race->slots[1].timing.gate_count, f);
  EXPECT_EQ(race->slots[0].timing.gate_count, f);
  // The ghost's first state sits at the start of this lap.
  int oldest = 0, newest = 0;
  ASSERT_TRUE(history_bounds(1, oldest, newest));
  EXPECT_EQ(oldest, race->current_tic);
  EXPECT_TRUE(recording());

  // Lap 2 is slower, and the ghost got round first: the fastest lap stays.
  race->slots[1].timing.gate_count = f + n + 1;
  ride_to(f + n - 1, 1700);
  EXPECT_GT(race->tt_last_lap, race->tt_best_lap);
  EXPECT_EQ(track_file("fastlap.ksdemo"), fast1);

  // Lap 3 beats the ghost: it replaces the fastest lap.
  race->slots[1].timing.gate_count = f + 2;
  ride_to(f + n - 1, 1200);
  EXPECT_EQ(race->tt_best_lap, race->tt_last_lap);
  EXPECT_NE(track_file("fastlap.ksdemo"), fast1);
}

// Tics of the rider-state chunks of a version 6 demo with one rider, in file order.
std::vector<int> state_chunk_tics(const std::string& demo) {
  std::vector<int> tics;
  size_t at = 0;
  for (int line = 0; line < 6 && at != std::string::npos; ++line) {
    at = demo.find('\n', at);
    if (at != std::string::npos) ++at;
  }
  auto get32 = [&](size_t p) {
    uint32_t v = 0;
    for (size_t k = 0; k < 4; ++k) v |= uint32_t{static_cast<uint8_t>(demo[p + k])} << (8 * k);
    return v;
  };
  uint32_t prev = 0;
  while (at != std::string::npos && at + 9 <= demo.size()) {
    const uint32_t length = get32(at) ^ prev;
    if (demo[at + 8] == 1) tics.push_back(static_cast<int>(get32(at + 4)));
    prev = length;
    at += 9 + length;
  }
  return tics;
}

// The lap starts on a tic the recorder samples anyway and ends between two chunks: the
// demo still runs from the first frame at the line to the last one at the next line, and
// the ghost starts at the line.
TEST_F(TimeTrialTest, FastestLapRunsFromLineToLine) {
  set_gate_count(*race, 0, f - 3 > 0 ? f - 3 : 0);
  ride_to(f - 1, 99);
  const int start = race->current_tic;
  ASSERT_EQ(start % 4, 0);
  ride_to(f + n - 1, 1500);
  const int end = race->current_tic;
  ASSERT_NE(end % 16, 0);
  const std::vector<int> tics = state_chunk_tics(track_file("fastlap.ksdemo"));
  ASSERT_FALSE(tics.empty());
  EXPECT_EQ(tics.front(), start);
  EXPECT_EQ(tics.back(), end);
  EXPECT_EQ(race->tt_last_lap, end - start);
  int oldest = 0, newest = 0;
  ASSERT_TRUE(history_bounds(1, oldest, newest));
  EXPECT_EQ(oldest, end);
}

TEST_F(TimeTrialTest, GhostsFullLapSetsTheBestLap) {
  set_gate_count(*race, 0, f - 1);
  ride_to(f - 1, 10);
  ride_to(f + n - 1, 2000);
  ASSERT_NE(race->slots[1].bike, nullptr);
  race->tt_best_lap = 0;
  // The ghost completes its first full lap in 1400 tics.
  const TimeTrialLaps before = time_trial_lap_counts(*race);
  BikeTiming& g = race->slots[1].timing;
  const int start = crossing_tic(*race, 1, f - 1);
  g.crossings.resize(static_cast<size_t>(f + n), -1);
  for (int k = f; k < f + n; ++k) g.crossings[static_cast<size_t>(k)] = start + 1400 - (f + n - 1 - k);
  g.gate_count = f + n;
  time_trial_lap_handling(*race, before);
  EXPECT_EQ(race->tt_best_lap, 1400);
}

}  // namespace
}  // namespace ks
