// The running order, timed races, the end of the race, cutting penalties, final results,
// "results.txt" and the results panel.
#include <gtest/gtest.h>

#include "race/results_panel.h"
#include "race/timing.h"
#include "race_fixture.h"
#include "support/test_support.h"

namespace ks {
namespace {

using test::kF;
using test::kN;
using test::lap_line;
using Events = std::vector<std::tuple<int, int, int>>;

class Results : public test::RaceFixture {
 protected:
  void SetUp() override {
    RaceFixture::SetUp();
    test::use_roots(home.path(), test::data_dir());
  }
  void TearDown() override {
    RaceFixture::TearDown();
    test::use_roots("", "");
  }
  std::string results() { return test::read_file(home / "results.txt"); }
  test::TempDir home;
};

TEST_F(Results, RunningOrderByGatesThenTimeThenSlot) {
  for (int s : {0, 3, 5, 9}) add_bike(s, "1");
  lap_race(3);
  ASSERT_EQ(race().running_order.size(), 4u);
  EXPECT_EQ(race().running_order[0].slot, 0);  // slot order before any crossing
  pass(9, 0, 2000);
  pass(5, 0, 2010);
  pass(3, 0, 2010);
  pass(3, 1, 2100);
  const auto& o = race().running_order;
  ASSERT_EQ(o.size(), 4u);
  EXPECT_EQ(o[0].slot, 3);
  EXPECT_EQ(o[0].gate_count, 2);
  EXPECT_EQ(o[0].last_tic, 2100);
  EXPECT_EQ(o[1].slot, 9);
  EXPECT_EQ(o[2].slot, 5);
  EXPECT_EQ(o[3].slot, 0);
  EXPECT_EQ(o[3].last_tic, 0);
}

TEST_F(Results, TimedRaceEndsOneLapAfterTheFirstLapLineAfterTheTime) {
  add_bike(0, "1");
  add_bike(1, "2");
  const int start = 1280;
  const int lap = 140 * 128;  // 140 s laps: lap 5 ends at 11:40, the first after 10:00
  race().time_limit = 10 * 60 * 128;
  race().laps = 1;
  race().race_laps = race().halfway_lap = 1000000;
  race().start_tic = start;
  reset_timing(race());
  compute_running_order(race());
  Events ev;
  for (int j = 1; j <= 7; ++j) {
    const int from = j == 1 ? 0 : lap_line(j - 1) + 1;
    ride(ev, 0, from, lap_line(j), start + lap * (j - 1) + 100, start + lap * j);
    ride(ev, 1, from, lap_line(j), start + lap * (j - 1) + 200, start + lap * j + 300);
  }
  std::stable_sort(ev.begin(), ev.end(),
                   [](const auto& a, const auto& b) { return std::get<0>(a) < std::get<0>(b); });
  bool halfway_checked = false;
  for (auto [tic, slot, k] : ev) {
    if (!halfway_checked && tic > start + race().time_limit / 2) {
      // Halfway through the time: two laps done by the leader.
      race().current_tic = start + race().time_limit / 2;
      compute_running_order(race());
      EXPECT_EQ(race().halfway_lap, 3);
      halfway_checked = true;
    }
    pass(slot, k, tic);
    if (slot == 0 && k == lap_line(4)) {
      EXPECT_EQ(race().race_laps, 1000000);
    }
    if (slot == 0 && k == lap_line(5)) {
      EXPECT_EQ(race().race_laps, 6);
      EXPECT_FALSE(race().slots[0].timing.finished);
    }
    if (slot == 0 && k == lap_line(6)) {
      EXPECT_TRUE(race().slots[0].timing.finished);
    }
  }
  EXPECT_EQ(race().race_laps, 6);
  EXPECT_EQ(laps_completed(race(), 0), 6);
  EXPECT_EQ(laps_completed(race(), 1), 6);
  EXPECT_TRUE(race().results_final);
}

TEST_F(Results, CuttingPenaltyIsExpectedTimePlusOneSecondMinusTimeTaken) {
  add_bike(0, "1");
  add_bike(1, "2");
  add_bike(2, "3");
  lap_race(1);
  const int s = 128;  // one second
  Events ev;
  // Bikes 0 and 1 take 20 s from gate 1 to gate 3; bike 2 skips gate 2 and takes 12 s.
  for (int b = 0; b < 2; ++b) {
    ev.emplace_back(2000 + b, b, 0);
    ev.emplace_back(3000 + b, b, 1);
    ev.emplace_back(3000 + 10 * s + b, b, 2);
    ev.emplace_back(3000 + 20 * s + b, b, 3);
    ev.emplace_back(3000 + 30 * s + b, b, 4);
    ev.emplace_back(3000 + 40 * s + b, b, 5);
  }
  ev.emplace_back(2002, 2, 0);
  ev.emplace_back(3002, 2, 1);
  ev.emplace_back(3002 + 12 * s, 2, 3);
  ev.emplace_back(3002 + 22 * s, 2, 4);
  ev.emplace_back(3002 + 32 * s, 2, 5);  // first home on the road
  script(ev);
  EXPECT_EQ(expected_section_time(race(), 1, 3), 20 * s);
  ASSERT_TRUE(race().results_final);
  EXPECT_EQ(race().running_order[0].slot, 2);
  EXPECT_EQ(race().penalty_tics[2], 9 * s);
  EXPECT_EQ(race().penalty_tics[0], 0);
  EXPECT_EQ(race().lost_laps[2], 0);
  const auto& f = race().final_results;
  ASSERT_EQ(f.size(), 3u);
  EXPECT_EQ(f[0].slot, 0);
  EXPECT_EQ(f[1].slot, 1);
  EXPECT_EQ(f[2].slot, 2);
  EXPECT_EQ(f[2].last_tic, 3002 + 41 * s);

  const ResultsPanel p = results_panel(race());
  EXPECT_TRUE(p.shown);
  EXPECT_EQ(p.title, "Final Results");
  ASSERT_EQ(p.rows.size(), 3u);
  EXPECT_EQ(p.rows[0].number, "  1");
  EXPECT_EQ(p.rows[0].gap_text, "  0.000");
  EXPECT_EQ(p.rows[1].gap_text, "  0.008");  // one tic
  EXPECT_EQ(p.rows[2].gap_text, "  1.008");  // the penalty counts
  EXPECT_EQ(p.rows[2].laps_text, "L1");
  EXPECT_EQ(p.total_race_time, "Total Race Time: 0:53.437");  // 6840 tics
  ASSERT_EQ(p.penalties.size(), 1u);
  EXPECT_EQ(p.penalties[0].slot, 2);
  EXPECT_EQ(p.penalties[0].text, "  3 penalized 9.00 seconds for cutting track");
}

TEST_F(Results, PenaltyLongerThanTheBestLapCostsWholeLaps) {
  add_bike(0, "1");
  add_bike(1, "2");
  lap_race(3);
  const int s = 128;
  Events ev;
  // Bike 0 rides it all: 100 s from gate 0 to gate 3, then 30 s laps.
  ev.emplace_back(1280 + 10 * s, 0, 0);
  ev.emplace_back(1280 + 40 * s, 0, 1);
  ev.emplace_back(1280 + 80 * s, 0, 2);
  ev.emplace_back(1280 + 110 * s, 0, 3);
  ride(ev, 0, 4, 5, 1280 + 120 * s, 1280 + 130 * s);
  ride(ev, 0, 6, lap_line(2), 1280 + 136 * s, 1280 + 160 * s);
  ride(ev, 0, lap_line(2) + 1, lap_line(3), 1280 + 166 * s, 1280 + 190 * s);
  // Bike 1 skips gates 1 and 2 (10 s instead of 100: 91 s penalty); 30 s laps.
  ev.emplace_back(1281 + 10 * s, 1, 0);
  ev.emplace_back(1281 + 20 * s, 1, 3);
  // He waits before gate 4, so that he is home after bike 0.
  ride(ev, 1, 4, 5, 1281 + 140 * s, 1281 + 150 * s);
  ride(ev, 1, 6, lap_line(2), 1281 + 156 * s, 1281 + 180 * s);
  ride(ev, 1, lap_line(2) + 1, lap_line(3), 1281 + 186 * s, 1281 + 210 * s);
  script(ev);
  ASSERT_TRUE(race().results_final);
  EXPECT_EQ(best_lap(race(), 1), 2);
  EXPECT_EQ(lap_time(race(), 1, 2), 30);
  // 91 s: 2 laps of 30 s, then 31 s is left because he has only the first lap.
  EXPECT_EQ(race().lost_laps[1], 2);
  EXPECT_EQ(race().penalty_tics[1], 31 * s);
  const auto& f = race().final_results;
  ASSERT_EQ(f.size(), 2u);
  EXPECT_EQ(f[0].slot, 0);
  EXPECT_EQ(f[1].slot, 1);
  EXPECT_EQ(f[0].gate_count, lap_line(3) + 1);
  EXPECT_EQ(f[1].gate_count, kF);
  EXPECT_EQ(f[1].last_tic, 1281 + (210 + 31) * s);  // his last crossing, plus what is left
  const ResultsPanel p = results_panel(race());
  ASSERT_EQ(p.penalties.size(), 1u);
  EXPECT_EQ(p.penalties[0].text, "  2 penalized 2 laps 31.00 seconds for cutting track");
  ASSERT_EQ(p.rows.size(), 2u);
  EXPECT_EQ(p.rows[1].gap_text, "(2)");
}

TEST_F(Results, ExpectedSectionTimeAveragesLaterLapsAndDefaultsToAMinute) {
  add_bike(0);
  add_bike(1);
  lap_race(5);
  EXPECT_EQ(expected_section_time(race(), 1, 3), 60 * 128);
  // From tic 0, the reset.
  pass(0, 0, 1000);
  EXPECT_EQ(expected_section_time(race(), -1, 0), 1000);
  // Bike 0: the stretch from gate 1 to 2 of laps 2 and 3 (crossings 6-7, 11-12) takes
  // 100 and 300 tics; bike 1 takes 500 once.
  for (int k = 1; k <= lap_line(3); ++k) {
    int tic = 1000 + 1000 * k;
    if (k == 7) tic = 1000 + 1000 * 6 + 100;
    if (k == 12) tic = 1000 + 1000 * 11 + 300;
    pass(0, k, tic);
  }
  for (int k = 0; k <= lap_line(2) + 1; ++k)
    pass(1, k, k == 7 ? 100000 + 6500 : 100000 + 1000 * k);
  // Bike 0: (100 + 300) / 2 = 200; bike 1: 500 (crossing 12 is beyond his gate count).
  EXPECT_EQ(expected_section_time(race(), 6, 7), (200 + 500) / 2);
  EXPECT_EQ(expected_section_time(race(), 11, 12), (200 + 500) / 2);
}

TEST_F(Results, ResultsFileByteForByte) {
  add_bike(0, "12", "cr250");
  add_bike(3, "7", "yz125");
  lap_race(2);
  Events ev;
  for (int k = 0; k <= lap_line(2); ++k) ev.emplace_back(1280 + 640 * (k + 1), 0, k);
  // Bike 3 skips gate 2 and comes home one lap down.
  for (auto [tic, k] : {std::pair{2000, 0}, {4000, 1}, {5008, 3}, {7040, 4}, {9024, 5}})
    ev.emplace_back(tic, 3, k);
  script(ev);
  ASSERT_TRUE(race().results_final);
  // Gate 1 to 3 takes bike 0 1280 tics: 1408 expected, 1008 taken, 400 penalty.
  EXPECT_EQ(race().penalty_tics[3], 400);
  const std::string expected =
      "Time=0.00|Laps=2|Track=rabbithill|Date=1700000000\r\n"
      " No. |         Bike | Laps | Total Time | BLap |  Best Time\r\n"
      "  12 |        cr250 |    2 |   0:55.000 |    2 |   0:25.000\r\n"
      "   7 |        yz125 |    1 |   1:03.625 |    0 |   0:00.000\r\n"
      "\r\n"
      "11\r\n"
      "   5.000   10.000   15.000   20.000   25.000   30.000\r\n"
      "  35.000   40.000   45.000   50.000   55.000\r\n"
      "\r\n"
      "6\r\n"
      "   5.625   21.250       -1   29.125   45.000   60.500\r\n";
  EXPECT_EQ(results(), expected);
  EXPECT_EQ(results_text(race(), 1700000000), expected);
}

TEST_F(Results, ResultsDateFromTheEnvironment) {
  add_bike(0, "1");
  lap_race(1);
  timing_options().results_date = -1;
  setenv("KS_RESULTS_DATE", "123", 1);
  for (int k = 0; k <= lap_line(1); ++k) pass(0, k, 2000 + 100 * k);
  unsetenv("KS_RESULTS_DATE");
  ASSERT_TRUE(race().results_final);
  EXPECT_EQ(results().substr(0, 48), "Time=0.00|Laps=1|Track=rabbithill|Date=123\r\n No.");
}

TEST_F(Results, UnwritableResultsStillFinal) {
  // A folder where the file should be: nothing written, the results final anyway.
  test::write_file(home / "results.txt/x", "");
  static int finals;
  finals = 0;
  timing_hooks().on_results_final = [](RaceState&) { ++finals; };
  add_bike(0, "1");
  lap_race(1);
  for (int k = 0; k <= lap_line(1); ++k) pass(0, k, 2000 + 100 * k);
  EXPECT_TRUE(race().results_final);
  EXPECT_EQ(finals, 1);
  EXPECT_FALSE(write_results_file(race()));
  // Final results are not recomputed.
  compute_running_order(race());
  EXPECT_EQ(finals, 1);
}

struct ReplayCase {
  const char* name;
  bool (*active)(const RaceState&, int);
  bool over;
};

class ReplayedRider : public Results, public ::testing::WithParamInterface<ReplayCase> {};

TEST_P(ReplayedRider, OnlyAnActiveDemoKeepsTheRaceOpen) {
  timing_hooks().replay_active = GetParam().active;
  add_bike(0, "1");
  add_bike(1, "2", "cr125", SlotKind::replayed);
  lap_race(1);
  pass(1, 0, 1500);  // the demo rider took a gate, then his demo ended
  for (int k = 0; k <= lap_line(1); ++k) pass(0, k, 2000 + 100 * k);
  EXPECT_EQ(race().results_final, GetParam().over);
  if (GetParam().over) {
    ASSERT_EQ(race().final_results.size(), 2u);
    EXPECT_EQ(results().find("   2 |"), std::string::npos);  // only finished bikes listed
    EXPECT_NE(results().find("   1 |"), std::string::npos);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Demo, ReplayedRider,
    ::testing::Values(ReplayCase{"ended_long_ago", [](const RaceState&, int) { return false; },
                                 true},
                      ReplayCase{"still_playing", [](const RaceState&, int) { return true; },
                                 false},
                      ReplayCase{"no_demo_layer", nullptr, true}),
    [](const auto& p) { return std::string(p.param.name); });

// Demo playback right after the reset: no replayed rider has states yet, so every bike is
// ignored, and the race has not ended.
TEST_F(Results, ARaceOfIgnoredBikesIsNotOver) {
  timing_hooks().replay_active = [](const RaceState&, int) { return false; };
  add_bike(0, "1", "cr125", SlotKind::replayed);
  add_bike(1, "2", "cr125", SlotKind::replayed);
  lap_race(1);
  compute_running_order(race());
  EXPECT_FALSE(race().results_final);
}

struct OnlineCase {
  const char* name;
  bool warmup;
  bool (*remote_active)(const RaceState&, int);
  bool over;
};

class OnlineRaceOver : public Results, public ::testing::WithParamInterface<OnlineCase> {};

// Slot 0 is a remote rider who finished, slot 1 a remote rider still out, slot 2 the
// local rider, out too.
TEST_P(OnlineRaceOver, StaleRemotesAndWarmupLocalsDontCount) {
  const OnlineCase& c = GetParam();
  race().online = true;
  race().warmup = c.warmup;
  timing_hooks().remote_active = c.remote_active;
  add_bike(0, "1", "cr125", SlotKind::replayed);
  add_bike(1, "2", "cr125", SlotKind::replayed);
  add_bike(2, "3", "cr125", SlotKind::local);
  race().local_slot = 2;
  lap_race(1);
  pass(1, 0, 1500);
  pass(2, 0, 1600);
  for (int k = 0; k <= lap_line(1); ++k) pass(0, k, 2000 + 100 * k);
  EXPECT_EQ(race().results_final, c.over);
}

INSTANTIATE_TEST_SUITE_P(
    Online, OnlineRaceOver,
    ::testing::Values(
        OnlineCase{"all_live", false, [](const RaceState&, int) { return true; }, false},
        OnlineCase{"stale_remote_local_racing", false,
                   [](const RaceState&, int slot) { return slot != 1; }, false},
        OnlineCase{"stale_remote_local_warming_up", true,
                   [](const RaceState&, int slot) { return slot != 1; }, true},
        OnlineCase{"live_remote_local_warming_up", true,
                   [](const RaceState&, int) { return true; }, false}),
    [](const auto& p) { return std::string(p.param.name); });

TEST_F(Results, RewindDropsLaterCrossingsAndTheFinalMark) {
  add_bike(0, "1");
  add_bike(1, "2");
  lap_race(1);
  Events ev;
  ride(ev, 0, 0, lap_line(1), 2000, 3000);
  ride(ev, 1, 0, lap_line(1), 2100, 3100);
  script(ev);
  ASSERT_TRUE(race().results_final);
  drop_crossings_after(race(), 2500);
  EXPECT_FALSE(race().results_final);
  EXPECT_TRUE(race().final_results.empty());
  EXPECT_FALSE(race().slots[0].timing.finished);
  EXPECT_EQ(race().slots[0].timing.gate_count, 3);  // 2000, 2200, 2400
  EXPECT_EQ(race().slots[1].timing.gate_count, 3);  // 2100, 2300, 2500
  compute_running_order(race());
  EXPECT_EQ(race().running_order[0].slot, 0);
  // Ridden again, the race ends again.
  script({{3000, 0, 3}, {3001, 0, 4}, {3002, 0, 5}, {3100, 1, 3}, {3101, 1, 4}, {3102, 1, 5}});
  EXPECT_TRUE(race().results_final);
}

TEST_F(Results, UnofficialPanelListsFinishedBikesOnly) {
  add_bike(0, "1");
  add_bike(1, "22");
  add_bike(2, "333");
  lap_race(1);
  Events ev;
  ride(ev, 0, 0, lap_line(1), 2000, 3000);
  ride(ev, 1, 0, lap_line(1), 2100, 3100);
  ride(ev, 2, 0, 2, 2200, 2500);
  script(ev);
  ASSERT_FALSE(race().results_final);
  const ResultsPanel p = results_panel(race());
  EXPECT_TRUE(p.shown);
  EXPECT_EQ(p.title, "Unofficial Results");
  ASSERT_EQ(p.rows.size(), 2u);
  EXPECT_EQ(p.rows[0].position, 1);
  EXPECT_EQ(p.rows[1].number, " 22");
  EXPECT_EQ(p.rows[1].gap_text, "  0.781");  // 100 tics
  EXPECT_EQ(p.rows[1].best_lap_text, "(0)");
  EXPECT_EQ(p.rows[1].best_time_text, "0:00.000");
  EXPECT_TRUE(p.total_race_time.empty());
  EXPECT_TRUE(p.penalties.empty());
}

TEST_F(Results, OffCourseWhenFarSlowerThanTheRiderAhead) {
  add_bike(0, "1");
  add_bike(1, "2");
  lap_race(3);
  pass(0, 0, 1000);
  pass(1, 0, 1000);
  pass(0, 1, 1000 + 10 * 128);  // 10 s from gate 0 to gate 1
  race().current_tic = 1000 + 25 * 128 - 1;
  EXPECT_FALSE(off_course_at_last_gates(race(), 1, 10, 1.5));
  race().current_tic = 1000 + 25 * 128;
  EXPECT_TRUE(off_course_at_last_gates(race(), 1, 10, 1.5));
  EXPECT_FALSE(off_course_at_last_gates(race(), 0, 10, 1.5));
  EXPECT_FALSE(off_course_at_last_gates(race(), 7, 10, 1.5));
}

TEST_F(Results, CrossingGapAtTheLastCommonCrossing) {
  add_bike(0, "1");
  add_bike(1, "2");
  lap_race(3);
  script({{2000, 0, 0}, {2064, 1, 0}, {2200, 0, 1}});
  EXPECT_DOUBLE_EQ(crossing_gap(race(), 1, 0), -0.5);
  EXPECT_DOUBLE_EQ(crossing_gap(race(), 0, 1), 0.5);
  EXPECT_EQ(crossing_gap(race(), 0, 5), 0);
}

}  // namespace
}  // namespace ks
