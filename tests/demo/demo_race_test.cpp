// A recorded race (a rider and robots) with erosion, played back through the race itself: the same gate
// crossings, running order and ruts; rewinding a second restores that moment.
#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "core/config.h"
#include "core/race/race.h"
#include "core/startup_options.h"
#include "demo/demo.h"
#include "fs/vfs.h"
#include "physics/world.h"
#include "race/timing.h"
#include "support/test_support.h"
#include "track/heightfield.h"
#include "track/track.h"

namespace ks {
namespace {

constexpr int kRobots = 4;

struct Snapshot {
  std::vector<std::vector<int>> crossings;
  std::vector<int> order;
  std::vector<float> heights;
};

Snapshot snapshot(const RaceState& race) {
  Snapshot s;
  for (int i = 0; i < kRobots; ++i) s.crossings.push_back(race.slots[static_cast<size_t>(i)].timing.crossings);
  for (const RunningEntry& e : race.running_order) s.order.push_back(e.slot);
  s.heights = current_track()->terrain->heights;
  return s;
}

class DemoRaceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!test::file_exists(test::data_dir() + "/rabbithill.saf"))
      GTEST_SKIP() << "no generated data tree in " << test::data_dir();
    test::use_roots(home.path(), test::data_dir());
    build_index();
    ASSERT_TRUE(create_physics_world());
    reset_demo_module();
    saved_rate = startup_options().erosion_rate;
    startup_options().erosion_rate = 2048;
    started = true;
  }
  void TearDown() override {
    if (!started) return;
    free_race();
    reset_demo_module();
    demo_options() = DemoOptions{};
    startup_options().erosion_rate = saved_rate;
    free_track();
    destroy_physics_world();
    free_roots_and_index();
  }
  test::TempDir home;
  int saved_rate = 0;
  bool started = false;
};

TEST_F(DemoRaceTest, PlaybackRepeatsCrossingsOrderAndRuts) {
  RaceState& race = race_state();
  Lineup lineup{};
  // The rider rides on a steady throttle; the robots ride as their autopilot can.
  lineup[0] = kLineupHuman;
  for (int s = 1; s < kRobots; ++s) lineup[static_cast<size_t>(s)] = kLineupRobot;
  RaceResetRequest rec;
  rec.lineup = &lineup;
  rec.record = true;
  rec.laps = 1;
  rec.track = "rabbithill";
  demo_options().record_file = home / "race.ksdemo";
  if (!reset_race(rec) || current_track() == nullptr) GTEST_SKIP() << "no race reset in this build";
  const std::vector<float> fresh = current_track()->terrain->heights;
  const int end = race.start_tic + 25 * kTicsPerSecond;
  while (race.current_tic < end) {
    if (race.current_tic >= race.start_tic) {
      LocalInputs in;
      in.throttle = 0.7f;
      in.steer = race.current_tic % 1024 < 512 ? 0.15f : -0.1f;
      apply_local_controls(in);
    }
    step_one_tic();
  }
  const Snapshot recorded = snapshot(race);
  const dReal* last = dBodyGetPosition(race.slots[0].bike->bodies[kFrameBody]);
  const double rider_x = last[0], rider_z = last[2];
  ASSERT_NE(recorded.heights, fresh) << "no ruts dug";

  // Play it back on a fresh copy of the track.
  Lineup empty{};
  RaceResetRequest play;
  play.lineup = &empty;
  play.playback = true;
  play.laps = 1;
  demo_options().record_file.clear();
  demo_options().play_file = home / "race.ksdemo";
  race.force_reload = true;
  ASSERT_TRUE(reset_race(play));
  ASSERT_EQ(current_track()->terrain->heights, fresh);
  for (int s = 0; s < kRobots; ++s) ASSERT_EQ(race.slots[static_cast<size_t>(s)].kind, SlotKind::replayed);
  std::map<int, std::array<double, 3>> seen;
  for (int n = 0; n < end + 256 && race.current_tic < end; ++n) {
    step_one_tic();
    const dReal* p = dBodyGetPosition(race.slots[0].bike->bodies[kFrameBody]);
    seen[race.current_tic - 1] = {p[0], p[1], p[2]};
  }
  const Snapshot played = snapshot(race);
  for (int i = 0; i < kRobots; ++i) {
    const auto& a = recorded.crossings[static_cast<size_t>(i)];
    const auto& b = played.crossings[static_cast<size_t>(i)];
    ASSERT_EQ(a.size(), b.size()) << "slot " << i;
    // Replayed bikes are posed from states 4 tics apart and cross a tic later.
    for (size_t k = 0; k < a.size(); ++k) EXPECT_NEAR(b[k], a[k], 4) << "slot " << i << " gate " << k;
  }
  EXPECT_EQ(played.order, recorded.order);
  ASSERT_EQ(played.heights.size(), recorded.heights.size());
  // Ruts the same everywhere, except where the rider stopped: the recording held back the
  // points within 10 ft of its own rider, which playback has no need to.
  const HeightField& hf = *current_track()->terrain;
  size_t differ = 0, dug = 0;
  for (int j = 0; j < hf.size; ++j) {
    for (int i = 0; i < hf.size; ++i) {
      const size_t k = static_cast<size_t>(j) * static_cast<size_t>(hf.size) + static_cast<size_t>(i);
      const double dx = i * static_cast<double>(hf.spacing) - rider_x;
      const double dz = j * static_cast<double>(hf.spacing) - rider_z;
      if (dx * dx + dz * dz < 15.0 * 15.0) continue;
      if (recorded.heights[k] != fresh[k]) ++dug;
      if (std::abs(played.heights[k] - recorded.heights[k]) > 1e-4f) ++differ;
    }
  }
  EXPECT_GT(dug, 0u);
  EXPECT_EQ(differ, 0u) << "of " << played.heights.size() << " samples";

  // Back one second: the crossings of that moment, and the bike where it was then.
  const int now = race.current_tic;
  demo_skip(-1);
  const int c = now - kTicsPerSecond - 1;
  EXPECT_EQ(race.current_tic, c + 1);
  for (int i = 0; i < kRobots; ++i)
    for (int t : race.slots[static_cast<size_t>(i)].timing.crossings) EXPECT_LE(t, c + 1);
  const dReal* p = dBodyGetPosition(race.slots[0].bike->bodies[kFrameBody]);
  ASSERT_TRUE(seen.count(c));
  for (size_t k = 0; k < 3; ++k) EXPECT_NEAR(p[k], seen[c][k], 1e-6);

  // Forward a second runs the tics, throwing no roost meanwhile, and comes back to the
  // moment the rewind left: the same pose and crossings as straight play.
  int thrown = 0;
  race_seam().roost_emit = [&](BikeState&, bool) { ++thrown; };
  demo_skip(1);
  EXPECT_EQ(race.current_tic, c + 1 + kTicsPerSecond);
  EXPECT_EQ(thrown, 0);
  ASSERT_EQ(race.current_tic, now);
  p = dBodyGetPosition(race.slots[0].bike->bodies[kFrameBody]);
  ASSERT_TRUE(seen.count(now - 1));
  for (size_t k = 0; k < 3; ++k) EXPECT_NEAR(p[k], seen[now - 1][k], 1e-6);
  for (int i = 0; i < kRobots; ++i)
    EXPECT_EQ(race.slots[static_cast<size_t>(i)].timing.crossings, played.crossings[static_cast<size_t>(i)])
        << "slot " << i;
  step_one_tic();
  EXPECT_GT(thrown, 0);
  race_seam().roost_emit = nullptr;
}

// The game's --accurate-skip and the config's demo_backups reach the demo code at the reset:
// two recorded races leave the older one as the first backup.
TEST_F(DemoRaceTest, ResetTakesTheStartupDemoOptions) {
  const int saved_backups = settings().demo_backups;
  const bool saved_skip = startup_options().accurate_skip;
  settings().demo_backups = 2;
  startup_options().accurate_skip = true;
  Lineup lineup{};
  lineup[0] = kLineupRobot;
  RaceResetRequest rec;
  rec.lineup = &lineup;
  rec.record = true;
  rec.laps = 1;
  rec.track = "rabbithill";
  bool reset = reset_race(rec);
  if (reset) {
    rec.laps = 2;
    reset = reset_race(rec);
    finish_recording();
  }
  const bool accurate = demo_options().accurate_skip;
  settings().demo_backups = saved_backups;
  startup_options().accurate_skip = saved_skip;
  if (!reset || current_track() == nullptr) GTEST_SKIP() << "no race reset in this build";
  EXPECT_TRUE(accurate);
  const std::string newest = test::read_file(home / "demos/default.ksdemo");
  const std::string backup = test::read_file(home / "demos/default00.ksdemo");
  ASSERT_FALSE(newest.empty());
  ASSERT_FALSE(backup.empty()) << "no backup kept";
  // "KS06 riders time-limit laps start-tic": the newest race had 2 laps, the backup 1.
  EXPECT_EQ(newest.rfind("KS06 1 0 2 ", 0), 0u) << newest.substr(0, 20);
  EXPECT_EQ(backup.rfind("KS06 1 0 1 ", 0), 0u) << backup.substr(0, 20);
  EXPECT_FALSE(test::file_exists(home / "demos/default01.ksdemo"));
}

}  // namespace
}  // namespace ks
