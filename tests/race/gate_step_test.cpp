// The gate step: crossings, skipped and retaken gates, lap lines, laps and the finish.
#include <gtest/gtest.h>

#include <ode/ode.h>

#include <climits>
#include <cmath>

#include "physics/bike.h"
#include "physics/world.h"
#include "race/timing.h"
#include "race_fixture.h"

namespace ks {
namespace {

using test::kF;
using test::kN;
using test::lap_line;

class GateStep : public test::RaceFixture {};

TEST_F(GateStep, SkippedGateIsRetakenWithinThreeGates) {
  add_bike(0);
  lap_race(3);
  EXPECT_EQ(pass(0, 0, 2000), 0);
  EXPECT_EQ(pass(0, 1, 2100), 1);
  EXPECT_EQ(pass(0, 3, 2200), 3);
  const BikeTiming& t = race().slots[0].timing;
  EXPECT_EQ(t.crossings, (std::vector<int>{2000, 2100, -1, 2200}));
  EXPECT_EQ(t.gate_count, 4);
  // He turns back for gate 2.
  EXPECT_EQ(pass(0, 2, 2300), 2);
  EXPECT_EQ(t.crossings, (std::vector<int>{2000, 2100, 2300, 2200}));
  EXPECT_EQ(t.gate_count, 3);
}

TEST_F(GateStep, GatesAlreadyTakenAreNotTakenAgain) {
  add_bike(0);
  lap_race(3);
  pass(0, 0, 2000);
  pass(0, 1, 2100);
  pass(0, 2, 2200);
  // Gate 2 is the one just taken; gate 1 is behind with nothing skipped.
  EXPECT_EQ(pass(0, 2, 2300), -1);
  EXPECT_EQ(pass(0, 1, 2400), -1);
  EXPECT_EQ(race().slots[0].timing.gate_count, 3);
  EXPECT_EQ(race().slots[0].timing.crossings, (std::vector<int>{2000, 2100, 2200}));
}

TEST_F(GateStep, LapLineCannotBeSkipped) {
  add_bike(0);
  lap_race(3);
  for (int k = 0; k <= 4; ++k) pass(0, k, 2000 + k * 100);
  // The first gate of lap 2 (checkpoint 1) before the lap line: nothing.
  EXPECT_EQ(pass(0, kF, 3000), -1);
  EXPECT_EQ(pass(0, kF + 1, 3100), -1);
  EXPECT_EQ(race().slots[0].timing.gate_count, 5);
  EXPECT_EQ(laps_completed(race(), 0), 0);
  EXPECT_EQ(pass(0, kF - 1, 3200), kF - 1);
  EXPECT_EQ(laps_completed(race(), 0), 1);
  // Ordinary gates can still be skipped: gate 6 skipped, 7 taken.
  EXPECT_EQ(pass(0, kF + 1, 3300), kF + 1);
  EXPECT_EQ(crossing_tic(race(), 0, kF), -1);
}

TEST_F(GateStep, NothingHappensWithoutValidGates) {
  add_bike(0);
  add_bike(1);
  lap_race(3);
  TimingGates none = test::line_of_gates();
  none.valid = false;
  race().current_tic = 2000;
  EXPECT_EQ(gate_step_at(race(), none, 0, 1, 0), -1);
  track_state().loaded = false;
  EXPECT_EQ(gate_step(race(), 0), -1);
  compute_running_order(race());
  ASSERT_EQ(race().running_order.size(), 2u);
  EXPECT_EQ(race().running_order[0].slot, 0);
  EXPECT_EQ(laps_completed(race(), 0), 0);
  EXPECT_FALSE(race().results_final);
}

TEST_F(GateStep, EmptySlotHasNoCrossings) {
  lap_race(3);
  EXPECT_EQ(pass(4, 0, 2000), -1);
  EXPECT_EQ(pass(kMaxBikes, 0, 2000), -1);
  EXPECT_EQ(pass(-1, 0, 2000), -1);
}

TEST_F(GateStep, LeaderFinishesAfterThreeLapsAndLappedRiderOnHisNextLapLine) {
  add_bike(0, "1");
  add_bike(1, "2");
  lap_race(3);
  std::vector<std::tuple<int, int, int>> ev;
  ride(ev, 0, 0, lap_line(3), 2000, 2000 + 16 * 300);
  ride(ev, 1, 0, lap_line(1), 2100, 2100 + 6 * 400);
  script(ev);
  EXPECT_TRUE(race().slots[0].timing.finished);
  EXPECT_EQ(laps_completed(race(), 0), 3);
  EXPECT_FALSE(race().slots[1].timing.finished);
  EXPECT_EQ(race().running_order[0].slot, 0);
  EXPECT_FALSE(race().results_final);
  // Not finished at the gates before his next lap line.
  for (int k = lap_line(1) + 1; k < lap_line(2); ++k) pass(1, k, 9000 + k);
  EXPECT_FALSE(race().slots[1].timing.finished);
  pass(1, lap_line(2), 9500);
  EXPECT_TRUE(race().slots[1].timing.finished);
  EXPECT_EQ(laps_completed(race(), 1), 2);
  // Everyone is home: the results are final and the finished stop crossing.
  EXPECT_TRUE(race().results_final);
  EXPECT_EQ(pass(1, lap_line(2) + 1, 9600), -1);
}

TEST_F(GateStep, LeaderIsNotFinishedBeforeTheLastLap) {
  add_bike(0);
  lap_race(3);
  for (int k = 0; k <= lap_line(2); ++k) pass(0, k, 2000 + 100 * k);
  EXPECT_EQ(laps_completed(race(), 0), 2);
  EXPECT_FALSE(race().slots[0].timing.finished);
  EXPECT_FALSE(has_finished(race(), 0));
}

TEST_F(GateStep, TimeTrialNeverFinishes) {
  add_bike(0);
  lap_race(1);
  race().time_trial = true;
  for (int k = 0; k <= lap_line(3); ++k) pass(0, k, 2000 + 100 * k);
  EXPECT_EQ(laps_completed(race(), 0), 3);
  EXPECT_FALSE(race().slots[0].timing.finished);
  EXPECT_FALSE(race().results_final);
}

TEST_F(GateStep, CrossingHookSeesTheStoredCrossing) {
  static int seen_slot, seen_k, seen_tic;
  seen_slot = seen_k = seen_tic = -5;
  timing_hooks().on_crossing = [](RaceState& r, int slot, int k) {
    seen_slot = slot;
    seen_k = k;
    seen_tic = crossing_tic(r, slot, k);
  };
  add_bike(2);
  lap_race(3);
  pass(2, 0, 2345);
  EXPECT_EQ(seen_slot, 2);
  EXPECT_EQ(seen_k, 0);
  EXPECT_EQ(seen_tic, 2345);
}

struct LapCase {
  const char* name;
  std::vector<int> lap_tics;  // lap 1, 2, ...
  int best;
};

class BestLap : public test::RaceFixture, public ::testing::WithParamInterface<LapCase> {};

TEST_P(BestLap, LapOneNeverCountsAndTheEarlierLapWinsTies) {
  add_bike(0);
  lap_race(10);
  int tic = race().start_tic;
  int k = 0;
  const LapCase& c = GetParam();
  for (size_t j = 0; j < c.lap_tics.size(); ++j) {
    const int gates = j == 0 ? kF : kN;
    for (int g = 0; g < gates; ++g, ++k) pass(0, k, tic + c.lap_tics[j] * (g + 1) / gates);
    tic += c.lap_tics[j];
  }
  EXPECT_EQ(best_lap(race(), 0), c.best);
  for (size_t j = 0; j < c.lap_tics.size(); ++j)
    EXPECT_DOUBLE_EQ(lap_time(race(), 0, int(j) + 1), c.lap_tics[j] / 128.0);
  EXPECT_DOUBLE_EQ(lap_time(race(), 0, -1), c.lap_tics.back() / 128.0);
}

INSTANTIATE_TEST_SUITE_P(Laps, BestLap,
                         ::testing::Values(LapCase{"one_lap", {1000}, 0},
                                           LapCase{"fast_first_lap", {500, 3000, 2000}, 3},
                                           LapCase{"tie", {4000, 2000, 2000}, 2},
                                           LapCase{"second", {4000, 1900, 2000}, 2}),
                         [](const auto& p) { return std::string(p.param.name); });

TEST_F(GateStep, LapTimeIsZeroWhenACrossingIsMissing) {
  add_bike(0);
  lap_race(3);
  EXPECT_EQ(lap_time(race(), 0, 1), 0);
  EXPECT_EQ(lap_time(race(), 0, -1), 0);
  set_gate_count(race(), 0, lap_line(2) + 1);
  EXPECT_EQ(laps_completed(race(), 0), 2);
  EXPECT_EQ(lap_time(race(), 0, 2), 0);
  EXPECT_EQ(best_lap(race(), 0), 0);
}

TEST_F(GateStep, HugeGateCountFromADemoStaysBounded) {
  add_bike(0);
  lap_race(3);
  set_gate_count(race(), 0, INT_MAX);
  EXPECT_LE(race().slots[0].timing.gate_count, 1 << 20);
  set_gate_count(race(), 0, -5);
  EXPECT_EQ(race().slots[0].timing.gate_count, 0);
  set_gate_count(race(), 0, INT_MAX);
  for (int k = 0; k < 6; ++k) pass(0, k, 2000 + k);
  EXPECT_LE(race().slots[0].timing.crossings.size(), size_t(1) << 20);
  EXPECT_LE(race().slots[0].timing.gate_count, 1 << 20);
}

TEST_F(GateStep, HasFinishedForCrossingsMadeElsewhere) {
  add_bike(0);
  add_bike(1, "2", "cr125", SlotKind::replayed);
  lap_race(1);
  for (int k = 0; k <= lap_line(1); ++k) pass(0, k, 2000 + 100 * k);
  ASSERT_TRUE(race().slots[0].timing.finished);
  // A replayed rider's crossings as its demo gives them.
  BikeTiming& t = race().slots[1].timing;
  t.crossings = {2050, 2150, 2250, 2350, 2450};
  t.gate_count = 5;
  EXPECT_FALSE(has_finished(race(), 1));
  t.crossings.push_back(2450);  // his lap line, before the leader's
  t.gate_count = 6;
  EXPECT_FALSE(has_finished(race(), 1));
  t.crossings.back() = 2600;
  EXPECT_TRUE(has_finished(race(), 1));
  EXPECT_TRUE(t.finished);
}

TEST(GateStepBody, UsesTheFrontWheelPosition) {
  ASSERT_TRUE(create_physics_world());
  BikeState* bike = create_bike("cr125", 0, "1");
  ASSERT_NE(bike, nullptr);
  auto race = std::make_unique<RaceState>();
  race->slots[0].bike = bike;
  race->laps = race->race_laps = 3;
  const dReal* front = dBodyGetPosition(bike->bodies[kFrontWheelBody]);
  const dReal* rear = dBodyGetPosition(bike->bodies[kRearWheelBody]);
  // A small gate just behind the front wheel, facing the way the bike points (from the
  // rear wheel to the front), too small to reach the rear wheel.
  TimingGates g = test::line_of_gates();
  double dx = front[0] - rear[0], dz = front[2] - rear[2];
  const double len = std::sqrt(dx * dx + dz * dz);
  ASSERT_GT(len, 1.0);
  dx /= len;
  dz /= len;
  g.checkpoints[0].position = {float(front[0] - 0.25 * dx), 0, float(front[2] - 0.25 * dz)};
  g.checkpoints[0].direction = {float(dx), 0, float(dz)};
  g.checkpoints[0].radius = 1;
  track_state().track.gates = g;
  track_state().loaded = true;
  timing_hooks() = {};
  reset_timing(*race);
  race->current_tic = 77;
  EXPECT_EQ(gate_step(*race, 0), 0);
  EXPECT_EQ(crossing_tic(*race, 0, 0), 77);
  race->slots[0].bike = nullptr;
  destroy_bike(bike);
  destroy_physics_world();
  track_state().track.gates = {};
  track_state().loaded = false;
}

}  // namespace
}  // namespace ks
