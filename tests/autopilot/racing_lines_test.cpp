// Racing lines: indices, costs, connections, chains and plans, pruning, offers and
// eviction, the "ct03" files, and the per-tic trail, crash and crossing steps.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <numbers>
#include <string>
#include <vector>

#include "autopilot/autopilot.h"
#include "autopilot/racing_lines.h"
#include "core/detail_settings.h"
#include "fs/vfs.h"
#include "physics/bike.h"
#include "physics/world.h"
#include "platform/vant.h"
#include "race/race_state.h"
#include "support/test_support.h"
#include "track/gates.h"

namespace ks {
namespace {

TimingGates make_gates(std::vector<int> first, std::vector<int> normal) {
  TimingGates g;
  g.checkpoints.resize(4);
  g.first_lap = std::move(first);
  g.normal_lap = std::move(normal);
  for (int v : g.first_lap) g.first_lap_unmarked += v < kMarkedGate ? 1 : 0;
  for (int v : g.normal_lap) g.normal_lap_unmarked += v < kMarkedGate ? 1 : 0;
  g.valid = true;
  return g;
}

// Three unmarked gates per lap: six records.
LineStore plain_store() {
  LineStore s;
  create_line_records(s, make_gates({0, 1, 2}, {0, 1, 2}));
  return s;
}

RacingLine line_of(std::vector<LinePoint> pts, int b = 1000) {
  RacingLine l;
  l.points = std::move(pts);
  l.time_a = b / 2;
  l.time_b = b;
  return l;
}

RacingLine tested_line(std::vector<LinePoint> pts, int tested, int64_t sum_a, int64_t sum_b,
                       int fails = 0) {
  RacingLine l = line_of(std::move(pts));
  l.tested = tested;
  l.sum_a = sum_a;
  l.sum_b = sum_b;
  l.fails = fails;
  return l;
}

std::vector<LinePoint> straight(float x0, float z0, float x1, float z1, int n,
                                float speed = 30) {
  std::vector<LinePoint> p;
  for (int i = 0; i < n; ++i) {
    const float t = n > 1 ? float(i) / float(n - 1) : 0.0f;
    p.push_back({x0 + (x1 - x0) * t, 0, z0 + (z1 - z0) * t, speed, 0});
  }
  return p;
}

// An arc of the circle about the origin from angle a0 to a1 (degrees), a point every 10.
std::vector<LinePoint> arc(float radius, int a0, int a1, float speed = 30) {
  std::vector<LinePoint> p;
  for (int a = a0; a <= a1; a += 10) {
    const double r = a * std::numbers::pi / 180;
    p.push_back({float(radius * std::cos(r)), 0, float(radius * std::sin(r)), speed, 0});
  }
  return p;
}

int put(LineStore& s, int record, int slot, RacingLine l) {
  l.id = s.next_id++;
  s.records[size_t(record)].lines[size_t(slot)] = std::move(l);
  return s.records[size_t(record)].lines[size_t(slot)].id;
}

// ---- realigning a fallen rider ------------------------------------------------------------

TEST(RacingLineRealign, FourPointsOnAlongTheFastestLineOfTheStretch) {
  LineStore s = plain_store();
  // Record 0: a slow line off to the side and the fastest one along x = 0, z 0 to -90;
  // record 1 carries on from z = -100.
  put(s, 0, 0, line_of(straight(50, 0, 50, -90, 10), 4000));
  put(s, 0, 1, line_of(straight(0, 0, 0, -90, 10), 1000));
  put(s, 1, 3, line_of(straight(0, -100, 0, -190, 10), 1000));
  struct Case {
    double z;        // where the rider is, on x = 1
    double want_z;   // the target he turns to
  } cases[] = {
      {-20, -60},    // point 2 of the stretch's line: point 6
      {-80, -120},   // point 8: past its end, point 2 of the next stretch's line
      {-91, -140},   // at its last point: the next stretch's own nearest point (0) + 4
  };
  for (const Case& c : cases) {
    std::array<double, 3> out{};
    ASSERT_TRUE(line_realign_target(s, 0, {1, 0, c.z}, out)) << c.z;
    EXPECT_FLOAT_EQ(float(out[0]), 0) << c.z;
    EXPECT_FLOAT_EQ(float(out[2]), float(c.want_z)) << c.z;
  }
  std::array<double, 3> out{};
  LineStore none;
  EXPECT_FALSE(line_realign_target(none, 0, {0, 0, 0}, out));
  EXPECT_FALSE(line_realign_target(s, 2, {0, 0, 0}, out));  // a stretch without lines
}

// ---- indices ---------------------------------------------------------------------------

TEST(RacingLineIndex, MarkedGatesAreNotCountedAndLaterLapsShareRecords) {
  // Four entries per sequence, one of them marked: Fu = Nu = 3.
  const TimingGates g = make_gates({0, 1 + kMarkedGate, 1, 2}, {0, 1, 2 + kMarkedGate, 3});
  LineStore s;
  create_line_records(s, g);
  ASSERT_EQ(s.records.size(), 6u);
  struct Case {
    int gate_count, index, record;
  };
  const Case cases[] = {{0, 0, 0}, {1, 1, 1}, {2, 1, 1}, {3, 2, 2}, {4, 3, 3},  {5, 4, 4},
                        {6, 5, 5}, {7, 5, 5}, {8, 6, 3}, {9, 7, 4}, {12, 9, 3}, {16, 12, 3}};
  for (const Case& c : cases) {
    EXPECT_EQ(store_line_index(s, c.gate_count), c.index) << c.gate_count;
    EXPECT_EQ(line_index(g, c.gate_count), c.index) << c.gate_count;
    EXPECT_EQ(line_record(s, c.index), c.record) << c.gate_count;
  }
  EXPECT_FALSE(crossing_unmarked(s, 1));
  EXPECT_TRUE(crossing_unmarked(s, 2));
  EXPECT_FALSE(crossing_unmarked(s, 6));
  EXPECT_FALSE(crossing_unmarked(s, 10));
  EXPECT_EQ(line_record(s, -1), -1);
}

TEST(RacingLineIndex, InvalidGatesGiveNoStore) {
  TimingGates g = make_gates({0, 1, 2}, {0, 1, 2});
  g.valid = false;
  LineStore s;
  create_line_records(s, g);
  EXPECT_TRUE(s.records.empty());
  EXPECT_EQ(line_record(s, 0), -1);
  EXPECT_EQ(find_line(s, 0, 1), nullptr);
}

// ---- costs -------------------------------------------------------------------------------

TEST(RacingLineCost, SelectionTypes) {
  struct Case {
    int type, tested, fails;
    int64_t sum_a;
    int cost;
  };
  const Case cases[] = {
      {0, 4, 0, 4000, kLineUntimed},  // too few tests
      {0, 5, 0, 5000, 1000},
      {0, 5, 5, 5000, 1320},          // half failed: half the penalty
      {1, 7, 1, 7000, 1091},          // 1000 + 640 x (1/8 x 8/7)
      {1, 5, 40, 5000, 1640},         // the stronger penalty saturates from 7/8
      {2, 0, 0, 0, kLineUntimed},
      {2, 1, 0, 900, 900},
      {2, 3, 1, 2700, 1540},          // 4 x 1/4 = the whole penalty
      {3, 0, 0, 0, 0},
      {3, 1, 0, 900, 5000},           // v = 1: one bit
      {3, 3, 1, 0, 7000},             // v = 7: three bits
      {3, 2, 4, 0, 9000},             // v = 18: five bits
      {3, 1, 5, 0, 100000},           // mostly failures
      {4, 9, 0, 9000, kLineUntimed},
  };
  for (const Case& c : cases) {
    RacingLine l = tested_line(straight(0, 0, 10, 0, 3), c.tested, c.sum_a, 0, c.fails);
    EXPECT_EQ(line_cost(l, c.type), c.cost) << c.type << " " << c.tested << " " << c.fails;
  }
}

TEST(RacingLineCost, SlotCostOfEmptyUntestedAndTestedSlots) {
  EXPECT_EQ(slot_cost(RacingLine{}), 1250000);
  RacingLine l = line_of(straight(0, 0, 10, 0, 3), 1000);
  EXPECT_EQ(slot_cost(l), 1250);
  l.fails = 1;
  EXPECT_EQ(slot_cost(l), 1250 + 640);
  l = tested_line(straight(0, 0, 10, 0, 3), 3, 0, 3000, 1);
  EXPECT_EQ(slot_cost(l), 1000 + 640 / 4);
}

// ---- geometry ----------------------------------------------------------------------------

TEST(RacingLineGeometry, CircleThroughThreePoints) {
  auto on = [](double a) {
    return LinePoint{float(10 + 7 * std::cos(a)), 3, float(-5 + 7 * std::sin(a)), 0, 0};
  };
  const Circle c = circle_through(on(0.1), on(0.9), on(2.0));
  EXPECT_NEAR(c.cx, 10, 1e-4);
  EXPECT_NEAR(c.cz, -5, 1e-4);
  EXPECT_NEAR(c.r, 7, 1e-4);
}

TEST(RacingLineGeometry, PointsInALineGiveAFarCentreBesideTheLastStep) {
  const Circle c = circle_through({0, 0, 0, 0, 0}, {0, 0, -5, 0, 0}, {0, 0, -10, 0, 0});
  EXPECT_NEAR(std::fabs(c.cx), 1e6, 1);
  EXPECT_NEAR(c.cz, -7.5, 1e-6);
  EXPECT_NEAR(c.r, 1e6, 1);
  const Circle same = circle_through({1, 0, 1, 0, 0}, {1, 0, 1, 0, 0}, {1, 0, 1, 0, 0});
  EXPECT_TRUE(std::isfinite(same.cx) && std::isfinite(same.cz) && std::isfinite(same.r));
}

TEST(RacingLineGeometry, ALineConnectsWhereTheCurveOfTheOtherLeads) {
  const RacingLine from = line_of(arc(100, 0, 120));
  struct Case {
    const char* what;
    RacingLine to;
    bool connects;
  };
  const Case cases[] = {
      {"same circle", line_of(arc(100, 120, 240)), true},
      {"2 units wider", line_of(arc(102, 120, 240)), true},
      {"10 units wider", line_of(arc(110, 120, 240)), false},
      {"turning away", line_of({arc(100, 120, 120)[0], {-100, 0, 60, 30, 0}}), false},
      {"much slower", line_of(arc(100, 120, 240, 14)), false},
      {"slower within 15", line_of(arc(100, 120, 240, 16)), true},
      {"one point", line_of(arc(100, 120, 120)), false},
  };
  for (const Case& c : cases) EXPECT_EQ(lines_connect(from, c.to), c.connects) << c.what;
  EXPECT_FALSE(lines_connect(line_of(arc(100, 110, 120)), line_of(arc(100, 120, 240))))
      << "two points can't lead into a line";
}

TEST(RacingLineGeometry, CrossingLines) {
  const RacingLine a = line_of(straight(0, 0, 20, 0, 5));
  EXPECT_TRUE(lines_cross(a, line_of(straight(12, -5, 12, 5, 2))));
  EXPECT_FALSE(lines_cross(a, line_of(straight(10, -5, 10, 5, 2)))) << "through a point";
  EXPECT_FALSE(lines_cross(a, line_of(straight(30, -5, 30, 5, 2))));
  EXPECT_FALSE(lines_cross(a, line_of(straight(0, 1, 20, 1, 5))));
  EXPECT_FALSE(lines_cross(a, line_of(straight(10, -5, 10, 5, 1))));
}

// ---- chains and plans --------------------------------------------------------------------

// A round track: each lap is three arcs of 120 degrees. Lane A (radius 100) has proven
// lines of 1000 tics; lane B (radius 110) has lines tested once at 900 tics. The two lanes
// never connect. Lines sit in different slots per record.
struct RoundTrack {
  LineStore s = plain_store();
  std::array<int, 6> lane_a{}, lane_b{};
  std::array<int, 6> slot_a{}, slot_b{};
  RoundTrack() {
    for (int r = 0; r < 6; ++r) {
      const int a0 = (r % 3) * 120;
      slot_a[size_t(r)] = r % 2 == 0 ? 0 : 7;
      slot_b[size_t(r)] = r % 2 == 0 ? 3 : 1;
      lane_a[size_t(r)] =
          put(s, r, slot_a[size_t(r)], tested_line(arc(100, a0, a0 + 120), 5, 5000, 10000));
      lane_b[size_t(r)] =
          put(s, r, slot_b[size_t(r)], tested_line(arc(110, a0, a0 + 120), 1, 900, 1800));
    }
  }
};

TEST(RacingLineChains, ClosedLapCostsPerSelectionType) {
  RoundTrack t;
  ChainCosts m;
  std::vector<ChainBack> back;
  line_chain_costs(t.s, 3, 3, 0, m, &back);
  const size_t a = size_t(t.slot_a[3]), b = size_t(t.slot_b[3]);
  EXPECT_EQ(m[a][a], 3000);
  EXPECT_EQ(m[b][b], 3 * int64_t(kLineUntimed));  // untested under type 0
  EXPECT_EQ(m[a][b], kNoChain);
  EXPECT_EQ(m[5][5], kNoChain);
  ASSERT_EQ(back.size(), 3u);
  EXPECT_EQ(back[0][a][size_t(t.slot_a[4])], a);
  EXPECT_EQ(back[2][a][a], t.slot_a[5]);
  EXPECT_EQ(back[1][a][size_t(t.slot_a[5])], t.slot_a[4]);
  EXPECT_EQ(back[2][a][b], kNoBack);

  line_chain_costs(t.s, 3, 3, 2, m, nullptr);
  EXPECT_EQ(m[b][b], 2700);
  EXPECT_EQ(m[a][a], 3000);

  // Line index 6 is the second lap's first stretch: the same records.
  ChainCosts wrapped;
  line_chain_costs(t.s, 6, 3, 2, wrapped, nullptr);
  EXPECT_EQ(wrapped, m);

  // Eight records from the first lap on run into the normal lap.
  line_chain_costs(t.s, 0, 8, 0, m, nullptr);
  EXPECT_EQ(m[size_t(t.slot_a[0])][size_t(t.slot_a[8 % 3 + 3])], 8000);
}

TEST(RacingLineChains, NoStoreOrNoRecordsGivesNoChain) {
  LineStore none;
  ChainCosts m;
  std::vector<ChainBack> back;
  line_chain_costs(none, 0, 8, 0, m, &back);
  EXPECT_EQ(m[0][0], kNoChain);
  EXPECT_EQ(back.size(), 8u);
  line_chain_costs(plain_store(), 0, 0, 0, m, &back);
  EXPECT_TRUE(back.empty());
}

TEST(RacingLinePlans, EachTypeFollowsItsCheapestLane) {
  RoundTrack t;
  analyze_lines(t.s);
  for (int r = 0; r < 6; ++r) {
    EXPECT_EQ(t.s.plan[0][size_t(r)], t.lane_a[size_t(r)]) << r;
    EXPECT_EQ(t.s.plan[1][size_t(r)], t.lane_a[size_t(r)]) << r;
    EXPECT_EQ(t.s.plan[2][size_t(r)], t.lane_b[size_t(r)]) << r;
  }
}

TEST(RacingLinePlans, ABrokenNormalLapLeavesItWithoutPlanButTheFirstLapStillArrives) {
  RoundTrack t;
  t.s.records[4] = LineRecord{};
  analyze_lines(t.s);
  for (int r = 3; r < 6; ++r) EXPECT_EQ(t.s.plan[0][size_t(r)], 0) << r;
  for (int r = 0; r < 3; ++r) EXPECT_EQ(t.s.plan[0][size_t(r)], t.lane_a[size_t(r)]) << r;
}

TEST(RacingLinePlans, AnEmptyStoreHasNoPlans) {
  LineStore s;
  analyze_lines(s);
  for (const auto& p : s.plan) EXPECT_TRUE(p.empty());
  LineStore e = plain_store();
  analyze_lines(e);
  for (const auto& p : e.plan) EXPECT_EQ(p, std::vector<int>(6, 0));
}

// ---- eviction and pruning ---------------------------------------------------------------

TEST(RacingLineEviction, AUniqueStartLivesLonger) {
  LineRecord rec;
  rec.lines[0] = line_of(straight(0, 0, 10, 0, 3), 800);   // 1000, start shared
  rec.lines[1] = line_of(straight(50, 0, 60, 0, 3), 960);  // 1200 x 3/4 = 900
  rec.lines[2] = line_of(straight(1, 0, 10, 5, 3), 640);   // 800, start shared
  for (auto& l : rec.lines) l.id = l.points.empty() ? 0 : 1;
  EXPECT_EQ(eviction_choice(rec), 0);
}

TEST(RacingLineEviction, ProvenLinesAreEligibleOnlyInACrowdedRecord) {
  LineRecord rec;
  for (int i = 0; i < 22; ++i) {
    rec.lines[size_t(i)] = tested_line(straight(0, 3.0f * float(i), 10, 3.0f * float(i), 3), 2, 0, 2000 + 8 * i);
  }
  EXPECT_EQ(eviction_choice(rec), -1);
  rec.lines[22] = tested_line(straight(0, 66, 10, 66, 3), 2, 0, 1000, 2);  // fails >= tested
  EXPECT_EQ(eviction_choice(rec), 22);
  rec.lines[22] = tested_line(straight(0, 66, 10, 66, 3), 2, 0, 1000);  // 23 proven
  EXPECT_EQ(eviction_choice(rec), 21);
  EXPECT_EQ(eviction_choice(LineRecord{}), -1);
}

TEST(RacingLinePruning, RemovesTheMostCrossedLineAndTheEvictionChoice) {
  LineStore s = plain_store();
  LineRecord& rec = s.records[0];
  for (int i = 0; i < 44; ++i) {
    const float z = 3.0f * float(i);
    rec.lines[size_t(i)] = tested_line(straight(0, z, 100, z, 6), 5, 5000, 10000 + 10 * i);
  }
  rec.lines[44] = tested_line(straight(50, -10, 60, 200, 2), 5, 5000, 5000);  // crosses all
  EXPECT_EQ(prune_record(rec), 2);
  EXPECT_EQ(line_count(rec), 43);
  EXPECT_TRUE(rec.lines[44].points.empty());
  EXPECT_TRUE(rec.lines[43].points.empty()) << "the costliest line goes too";
}

TEST(RacingLinePruning, OnATieTheFasterLineGoesAndATestedOneBeatsAnUntestedOne) {
  for (bool tested_first : {false, true}) {
    LineRecord rec;
    for (int i = 0; i < 43; ++i) {
      const float z = 3.0f * float(i);
      rec.lines[size_t(i)] = tested_line(straight(0, z, 100, z, 6), 5, 5000, 10000);
    }
    // An X far from the rest: one crossing each.
    RacingLine x = tested_line(straight(1000, 1000, 1010, 1010, 2), 5, 5000, 9000);
    RacingLine y = line_of(straight(1000, 1010, 1010, 1000, 2), 500);
    const size_t xs = tested_first ? 43 : 44, ys = tested_first ? 44 : 43;
    rec.lines[xs] = x;
    rec.lines[ys] = y;
    prune_record(rec);
    EXPECT_TRUE(rec.lines[xs].points.empty()) << tested_first;
    EXPECT_FALSE(rec.lines[ys].points.empty()) << tested_first;
  }
}

TEST(RacingLinePruning, OnlyCrowdedFirstLapRecordsArePruned) {
  LineStore s = plain_store();
  for (int r : {1, 4}) {
    for (int i = 0; i < 45; ++i) {
      const float z = 3.0f * float(i);
      s.records[size_t(r)].lines[size_t(i)] = line_of(straight(0, z, 100, z, 6), 1000 + i);
    }
  }
  analyze_lines(s);
  EXPECT_EQ(line_count(s.records[1]), 44) << "no crossing: only the eviction choice goes";
  EXPECT_EQ(line_count(s.records[4]), 45);
  LineRecord small;
  for (int i = 0; i < 43; ++i) small.lines[size_t(i)] = line_of(straight(0, 0, 10, 10, 3));
  EXPECT_EQ(prune_record(small), 0);
}

// ---- offering lines ---------------------------------------------------------------------

TEST(RacingLineOffer, TheSameLineTwiceIsStoredOnce) {
  LineStore s = plain_store();
  const std::vector<LinePoint> pts = straight(0, 0, 100, 0, 8);
  EXPECT_EQ(offer_line(s, 2, pts, 300, 600, false), OfferResult::stored);
  std::vector<LinePoint> near = pts;
  for (auto& p : near) {
    p.x += 0.03f;
    p.speed += 0.05f;
  }
  EXPECT_EQ(offer_line(s, 2, near, 300, 600, false), OfferResult::duplicate);
  std::vector<LinePoint> apart = pts;
  apart[4].z += 0.1f;  // squared distance 0.01 > 1/256
  EXPECT_EQ(offer_line(s, 2, apart, 300, 600, false), OfferResult::stored);
  EXPECT_EQ(line_count(s.records[2]), 2);
  const RacingLine& first = s.records[2].lines[0];
  EXPECT_EQ(first.time_a, 300);
  EXPECT_EQ(first.time_b, 600);
  EXPECT_EQ(first.tested, 0);
  EXPECT_EQ(first.best_b, kLineUntimed);
  EXPECT_NE(first.id, s.records[2].lines[1].id);
}

TEST(RacingLineOffer, CancelledEmptyAndOnePointTrailsAreNotStored) {
  LineStore s = plain_store();
  EXPECT_EQ(offer_line(s, 0, straight(0, 0, 10, 0, 5), 10, 20, true), OfferResult::canceled);
  EXPECT_EQ(offer_line(s, 0, {}, 10, 20, false), OfferResult::canceled);
  EXPECT_EQ(offer_line(s, 0, straight(0, 0, 0, 0, 1), 10, 20, false), OfferResult::canceled);
  EXPECT_EQ(offer_line(s, 9, straight(0, 0, 10, 0, 5), 10, 20, false), OfferResult::canceled);
  EXPECT_EQ(line_count(s.records[0]), 0);
}

TEST(RacingLineOffer, AFullRecordGivesUpASlotCostingAtLeastAQuarterMore) {
  for (int64_t cost : {1250, 1249}) {
    LineStore s = plain_store();
    LineRecord& rec = s.records[1];
    for (int i = 0; i < kLinesPerRecord; ++i) {
      // All start at the same place, so no start is unique; all are proven.
      put(s, 1, i, tested_line(straight(0, 0, 10, float(i), 3), 4, 2000, 4 * 500));
    }
    rec.lines[17].sum_b = 4 * cost;
    const int old = rec.lines[17].id;
    const OfferResult r = offer_line(s, 1, straight(0, 0, 10, -50, 3), 500, 1000, false);
    if (cost == 1250) {
      EXPECT_EQ(r, OfferResult::stored);
      EXPECT_NE(rec.lines[17].id, old);
      EXPECT_EQ(rec.lines[17].tested, 0);
      EXPECT_EQ(rec.lines[17].sum_b, 0);
      EXPECT_EQ(rec.lines[17].time_b, 1000);
    } else {
      EXPECT_EQ(r, OfferResult::too_slow);
      EXPECT_EQ(rec.lines[17].id, old);
    }
  }
}

// ---- files -------------------------------------------------------------------------------

class LinesFile : public ::testing::Test {
 protected:
  void SetUp() override {
    test::use_roots(dir / "home", dir / "data");
    reset_line_store();
  }
  void TearDown() override {
    reset_line_store();
    test::use_roots("", "");
  }
  std::string path(int skill = 0) {
    return dir / ("home/" + lines_file_name("trk", skill).substr(1));
  }
  test::TempDir dir;
  TimingGates gates = make_gates({0, 1, 2}, {0, 1, 2});
};

const char* const kSixRecords =
    "ct03 6\n"
    "2\n"
    "3 320 640 2 300 600 620 1250 1\n"
    "[1.500000 2.000000 -3.250000] 30.000000 0.100000\n"
    "[11.500000 2.000000 -3.250000] -31.500000 -0.200000\n"
    "[21.500000 2.500000 -3.250000] 32.000000 0.000000\n"
    "2 100 200 0 1000000 1000000 0 0 0\n"
    "[0.000000 0.000000 0.000000] 10.000000 0.000000\n"
    "[0.000000 0.000000 -10.000000] 10.000000 0.000000\n"
    "0\n"
    "1\n"
    "2 50 90 7 45 80 350 630 3\n"
    "[5.000000 0.000000 5.000000] 12.000000 0.000000\n"
    "[6.000000 0.000000 6.000000] 12.000000 0.000000\n"
    "0\n"
    "0\n"
    "0\n";

TEST_F(LinesFile, LoadThenSaveGivesTheSameBytes) {
  test::write_file(path(1), kSixRecords);
  line_store().learn = true;
  ASSERT_TRUE(load_lines("trk", 1, gates));
  const LineStore& s = line_store();
  ASSERT_EQ(s.records.size(), 6u);
  EXPECT_EQ(line_count(s.records[0]), 2);
  EXPECT_EQ(line_count(s.records[2]), 1);
  const RacingLine& l = s.records[0].lines[0];
  EXPECT_EQ(l.points.size(), 3u);
  EXPECT_FLOAT_EQ(l.points[1].speed, -31.5f);
  EXPECT_EQ(l.time_a, 320);
  EXPECT_EQ(l.time_b, 640);
  EXPECT_EQ(l.tested, 2);
  EXPECT_EQ(l.best_b, 600);
  EXPECT_EQ(l.sum_b, 1250);
  EXPECT_EQ(l.fails, 1);
  EXPECT_GT(l.id, 0);
  EXPECT_NE(l.id, s.records[0].lines[1].id);
  EXPECT_EQ(s.records[0].lines[0].last_picked, -1000000);

  save_lines();
  EXPECT_EQ(test::read_file(path(1)), kSixRecords);
  EXPECT_FALSE(test::file_exists(path(0)));
}

TEST_F(LinesFile, LearnedLinesSurviveASaveAndLoadExactly) {
  line_store().learn = true;
  ASSERT_FALSE(load_lines("trk", 2, gates)) << "no file yet";
  LineStore& s = line_store();
  std::vector<LinePoint> pts = arc(123.456f, 0, 90, 37.1234f);
  pts[3].speed = -pts[3].speed;
  pts[2].lean = 0.3333333f;
  ASSERT_EQ(offer_line(s, 4, pts, 411, 799, false), OfferResult::stored);
  s.records[4].lines[0].tested = 3;
  s.records[4].lines[0].sum_b = 2400;
  save_lines();  // the first file is written even though none was loaded
  const std::string first = test::read_file(path(2));
  ASSERT_FALSE(first.empty());

  ASSERT_TRUE(load_lines("trk", 2, gates));
  const RacingLine& back = line_store().records[4].lines[0];
  ASSERT_EQ(back.points.size(), pts.size());
  for (size_t i = 0; i < pts.size(); ++i) {
    EXPECT_NEAR(back.points[i].x, pts[i].x, 1e-5);
    EXPECT_NEAR(back.points[i].speed, pts[i].speed, 1e-5);
    EXPECT_NEAR(back.points[i].lean, pts[i].lean, 1e-6);
  }
  EXPECT_EQ(back.tested, 3);
  save_lines();
  EXPECT_EQ(test::read_file(path(2)), first);
}

TEST_F(LinesFile, WithLearningOffTheFileStaysAsItWas) {
  test::write_file(path(), kSixRecords);
  ASSERT_TRUE(load_lines("trk", 0, gates));
  line_store().records[0].lines[0].tested += 5;  // robots learned during the race
  line_store().records[0].lines[0].sum_b += 5000;
  save_lines();
  EXPECT_EQ(test::read_file(path()), kSixRecords);
  line_store().learn = true;
  save_lines();
  EXPECT_NE(test::read_file(path()), kSixRecords);
}

TEST_F(LinesFile, NothingIsSavedWithoutLoadedLinesOrAfterTheRecordsWereCleared) {
  line_store().learn = true;
  save_lines();
  EXPECT_FALSE(test::file_exists(path()));
  ASSERT_FALSE(load_lines("trk", 0, gates));
  clear_line_records();
  save_lines();
  EXPECT_FALSE(test::file_exists(path()));
  TimingGates bad = gates;
  bad.valid = false;
  EXPECT_FALSE(load_lines("trk", 0, bad));
  save_lines();
  EXPECT_FALSE(test::file_exists(path()));
}

TEST_F(LinesFile, AHeaderWithAnotherRecordCountIsIgnored) {
  std::string text = kSixRecords;
  text.replace(0, 6, "ct03 7");
  test::write_file(path(), text);
  EXPECT_FALSE(load_lines("trk", 0, gates));
  ASSERT_EQ(line_store().records.size(), 6u);
  for (const LineRecord& r : line_store().records) EXPECT_EQ(line_count(r), 0);
}

TEST_F(LinesFile, StatisticsAreHalvedKeepingTheAverage) {
  test::write_file(path(),
                   "ct03 6\n1\n"
                   "2 2000 2000 200000 1900 1900 200000000 400000000 70000\n"
                   "[0 0 0] 1 0\n[0 0 1] 1 0\n"
                   "1\n"
                   "2 -5 -7 -3 -1 -1 -100 -100 -9\n"
                   "[0 0 0] 1 0\n[0 0 1] 1 0\n"
                   "0\n0\n0\n0\n");
  ASSERT_TRUE(load_lines("trk", 0, gates));
  const RacingLine& l = line_store().records[0].lines[0];
  EXPECT_EQ(l.tested, 50000);
  EXPECT_EQ(l.sum_b, 100000000);
  EXPECT_EQ(l.sum_b / l.tested, 2000);
  EXPECT_EQ(l.sum_a, 50000000);
  EXPECT_EQ(l.fails, 17500);
  const RacingLine& n = line_store().records[1].lines[0];
  EXPECT_EQ(n.tested, 0);
  EXPECT_EQ(n.fails, 0);
  EXPECT_EQ(n.sum_b, 0);
  EXPECT_EQ(n.time_b, 0);
  EXPECT_EQ(slot_cost(n), 0);
}

TEST_F(LinesFile, VerboseLogLines) {
  locate_game_data();  // opens the log in the home folder
  detail_settings().verbose = 1;
  test::write_file(path(), kSixRecords);
  load_lines("trk", 0, gates);
  LineStore& s = line_store();
  offer_line(s, 1, straight(0, 0, 10, 0, 4), 256, 512, false);
  offer_line(s, 1, straight(0, 0, 10, 0, 4), 256, 512, false);
  offer_line(s, 1, {}, 256, 512, false);
  analyze_lines(s);
  detail_settings().verbose = 0;
  offer_line(s, 3, {}, 256, 512, false);
  vant_log(nullptr);
  const std::string log = test::read_file(dir / "home/lastlog.txt");
  for (const char* want :
       {"0: 2\n", "2: 1\n", "5: 0\n",
        "auto pilot: evicting 1 (times: 7812.50 7812.50 tested (0 0): 0.00 0.00 repl: "
        "2.000000 4.000000)\n",
        "auto pilot: 1 rejected (duplicate)\n", "auto pilot: 1 canceled\n", "First lap: ",
        "Normal lap: "}) {
    EXPECT_NE(log.find(want), std::string::npos) << want << "\n" << log;
  }
  EXPECT_EQ(log.find("auto pilot: 3 canceled"), std::string::npos) << "only when verbose";
}

TEST(RacingLineBounds, OnlyRoundsThatAreNeededAndAtMostSixteen) {
  struct Case {
    int tested, fails;
    int64_t sum_b;
    int want_tested, want_fails;
    int64_t want_sum_b;
  };
  const Case cases[] = {
      {200000, 0, 400000000, 50000, 0, 100000000},
      {65535, 65535, 100000000, 65535, 65535, 100000000},
      {1, 0, 900000000, 0, 0, 100000000},  // one test can't be halved: clamped at the end
      {0, 2000000000, 0, 0, 61035, 0},     // stops once within bounds
      {1 << 20, 0, int64_t(1 << 20) * 1000000000, 16, 0, 100000000},  // 16 rounds, clamped
  };
  for (const Case& c : cases) {
    RacingLine l;
    l.tested = c.tested;
    l.fails = c.fails;
    l.sum_b = c.sum_b;
    bound_line_statistics(l);
    EXPECT_EQ(l.tested, c.want_tested) << c.tested;
    EXPECT_EQ(l.fails, c.want_fails) << c.tested;
    EXPECT_EQ(l.sum_b, c.want_sum_b) << c.tested;
  }
}

TEST_F(LinesFile, OnlyFortyFiveLinesOfARecordAreKept) {
  std::string text = "ct03 6\n46\n";
  for (int i = 0; i < 46; ++i) {
    text += "2 10 " + std::to_string(100 + i) + " 0 0 0 0 0 0\n[0 0 " + std::to_string(i) +
            "] 1 0\n[1 0 0] 1 0\n";
  }
  text += "1\n2 1 2 0 0 0 0 0 0\n[7 0 0] 1 0\n[8 0 0] 1 0\n0\n0\n0\n0\n";
  test::write_file(path(), text);
  ASSERT_TRUE(load_lines("trk", 0, gates));
  EXPECT_EQ(line_count(line_store().records[0]), 45);
  EXPECT_EQ(line_store().records[0].lines[44].time_b, 144);
  EXPECT_EQ(line_count(line_store().records[1]), 1) << "the next record still lines up";
  EXPECT_FLOAT_EQ(line_store().records[1].lines[0].points[0].x, 7);
}

TEST(RacingLineRead, HostileFiles) {
  struct Case {
    const char* what;
    std::string text;
    bool header_ok;
    int lines_in_first;
  };
  const Case cases[] = {
      {"empty", "", false, 0},
      {"other magic", "ct02 6\n0\n", false, 0},
      {"no count", "ct03\n", false, 0},
      {"truncated point", "ct03 6\n1\n2 1 2 0 0 0 0 0 0\n[1 2 3] 4 5\n[1 2", true, 0},
      {"truncated stats", "ct03 6\n2\n2 1 2 0 0 0 0 0 0\n[1 2 3] 4 5\n[1 2 3] 4 5\n2 1 2", true,
       1},
      {"negative counts", "ct03 6\n-5\n-3 1 2 0 0 0 0 0 0\n", true, 0},
      {"huge point count", "ct03 6\n1\n2000000000 1 2 0 0 0 0 0 0\n[1 2 3] 4 5\n", true, 0},
      {"huge line count", "ct03 6\n2000000000\n2 1 2 0 0 0 0 0 0\n[1 2 3] 4 5\n[1 2 3] 4 5\n",
       true, 1},
      {"one point", "ct03 6\n1\n1 1 2 0 0 0 0 0 0\n[1 2 3] 4 5\n", true, 0},
      {"infinite point", "ct03 6\n1\n2 1 2 0 0 0 0 0 0\n[1e999 2 3] 4 5\n[1 2 3] 4 5\n", true, 0},
      {"far point", "ct03 6\n1\n2 1 2 0 0 0 0 0 0\n[1 2 3] 4 5\n[1 2 3e30] 4 5\n", true, 0},
      {"garbage point", "ct03 6\n1\n2 1 2 0 0 0 0 0 0\n(1 2 3) 4 5\n[1 2 3] 4 5\n", true, 0},
      {"blank tolerant", "  ct03   6 \n 1\n2 1 2 0 0 0 0 0 0 [ 1 2 3 ]4 5 [1 2 3 ] 4 5", true, 1},
  };
  for (const Case& c : cases) {
    LineStore s = plain_store();
    VfsFile* f = vfs_open_memory(c.text.data(), c.text.size());
    EXPECT_EQ(read_lines(s, f), c.header_ok) << c.what;
    vfs_close(f);
    EXPECT_EQ(line_count(s.records[0]), c.lines_in_first) << c.what;
    for (size_t r = 1; r < s.records.size(); ++r) EXPECT_EQ(line_count(s.records[r]), 0) << c.what;
  }
}

// ---- the race's steps ------------------------------------------------------------------

class LineSteps : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(create_physics_world());
    reset_line_store();
    create_line_records(line_store(), make_gates({0, 1, 2}, {0, 1, 2}));
    race = std::make_unique<RaceState>();
    bike = create_bike("cr125", 0, "1");
    ASSERT_NE(bike, nullptr);
    race->slots[0].bike = bike;
    race->slots[0].kind = SlotKind::local;
    robot_states()[0] = RobotState{};
  }
  void TearDown() override {
    race->slots[0].bike = nullptr;
    destroy_bike(bike);
    destroy_physics_world();
    robot_states()[0] = RobotState{};
    reset_line_store();
  }
  void place(double x, double z, double vz = 0) {
    dBodySetPosition(bike->bodies[kFrameBody], x, 2, z);
    dBodySetLinearVel(bike->bodies[kFrameBody], 0, 0, vz);
  }
  BikeTiming& timing() { return race->slots[0].timing; }
  void cross(int tic) {
    timing().crossings.push_back(tic);
    const int k = timing().gate_count++;
    line_step_at_crossing(*race, 0, k);
  }
  // Rides from the start along -z at 1 unit per tic, with a gate every 320 tics.
  void ride(int gates, int crash_tic = -1) {
    timing() = {};
    reset_trails();
    for (int tic = 0; tic <= 320 * gates; ++tic) {
      race->current_tic = tic;
      place(0, -tic, -128);
      if (tic == crash_tic) bike->crash.ground_touch = 1;
      line_trail_step(*race, 0);
      if (tic > 0 && tic % 320 == 0) cross(tic);
    }
  }
  std::unique_ptr<RaceState> race;
  BikeState* bike = nullptr;
};

TEST_F(LineSteps, ARiddenStretchIsOfferedOneGateLaterWithItsTwoTimes) {
  ride(2);
  const LineRecord& r0 = line_store().records[0];
  ASSERT_EQ(line_count(r0), 1);
  const RacingLine& l = r0.lines[0];
  EXPECT_EQ(l.time_a, 320);
  EXPECT_EQ(l.time_b, 640);
  ASSERT_EQ(l.points.size(), 11u);  // tics 0, 32, ... 320
  EXPECT_FLOAT_EQ(l.points[10].z, -320);
  EXPECT_FLOAT_EQ(l.points[10].y, 2);
  EXPECT_FLOAT_EQ(l.points[0].speed, -128) << "no wheel touches: airborne";
  EXPECT_EQ(line_count(line_store().records[1]), 0) << "needs the next gate";

  ride(2);  // the same ride again: a duplicate
  EXPECT_EQ(line_count(line_store().records[0]), 1);
  ride(4);
  EXPECT_EQ(line_count(line_store().records[0]), 1);
  EXPECT_EQ(line_count(line_store().records[1]), 1);
  EXPECT_EQ(line_count(line_store().records[2]), 1);
  EXPECT_EQ(line_store().records[2].lines[0].points.size(), 10u);  // tics 672 .. 960
}

TEST_F(LineSteps, ACrashCancelsItsStretchAndIsClearedAtTheGate) {
  ride(3, 100);
  EXPECT_EQ(line_count(line_store().records[0]), 0);
  EXPECT_EQ(line_count(line_store().records[1]), 1);
  EXPECT_EQ(bike->crash.ground_touch, 0);
}

TEST_F(LineSteps, ASkippedGateOffersNothing) {
  timing() = {};
  timing().crossings = {320, -1, 960};
  timing().gate_count = 3;
  auto& t = line_store().trails[0];
  t.buffers[0] = straight(0, 0, 0, -300, 10);
  t.buffers[1] = straight(0, -300, 0, -600, 10);
  line_step_at_crossing(*race, 0, 2);
  for (const LineRecord& r : line_store().records) EXPECT_EQ(line_count(r), 0);
}

TEST_F(LineSteps, RobotsLeaveNoTrail) {
  race->slots[0].kind = SlotKind::robot;
  ride(3);
  for (const LineRecord& r : line_store().records) EXPECT_EQ(line_count(r), 0);
  for (const auto& b : line_store().trails[0].buffers) EXPECT_TRUE(b.empty());
}

TEST_F(LineSteps, ACrashChargesTheCurrentLineAndWithinASecondOfAGateThePreviousOne) {
  for (int since : {100, 127, 128, 500}) {
    LineStore& s = line_store();
    s.records[1] = LineRecord{};
    s.records[2] = LineRecord{};
    const int prev = put(s, 1, 0, line_of(straight(0, 0, 0, -10, 3)));
    const int cur = put(s, 2, 4, line_of(straight(0, -10, 0, -20, 3)));
    race->slots[0].kind = SlotKind::robot;
    timing() = {};
    timing().crossings = {300, 1000};
    timing().gate_count = 2;  // riding stretch 2
    bike->followed_lines = {0, prev, cur, 0};
    bike->crash.ground_touch = 1;
    race->current_tic = 1000 + since;
    line_trail_step(*race, 0);
    EXPECT_EQ(s.records[2].lines[4].fails, 1) << since;
    EXPECT_EQ(s.records[1].lines[0].fails, since < 128 ? 1 : 0) << since;
    EXPECT_EQ(bike->crash.ground_touch, 2);
    EXPECT_EQ(bike->followed_lines, (std::array<int, 4>{}));
    line_trail_step(*race, 0);  // charged once
    EXPECT_EQ(s.records[2].lines[4].fails, 1) << since;
  }
}

class RobotCredit : public LineSteps {
 protected:
  void SetUp() override {
    LineSteps::SetUp();
    race->slots[0].kind = SlotKind::robot;
    LineStore& s = line_store();
    ids[0] = put(s, 0, 2, line_of(straight(0, 0, 0, -300, 10)));
    ids[1] = put(s, 1, 5, line_of(straight(0, -300, 0, -600, 10)));
    ids[2] = put(s, 2, 1, line_of(straight(0, -600, 0, -900, 10)));
    RobotState& r = robot_states()[0];
    r.path = straight(0, 0, 0, -900, 31, 30);  // a point every 30 units
    r.target = 22;
    timing().crossings = {300, 650};
    timing().gate_count = 2;
    bike->followed_lines = {ids[0], ids[1], ids[2], 0};
    race->start_tic = 20;
  }
  void arrive(double x, double speed) {
    place(x, -600, -speed);
    race->current_tic = 990;
    cross(990);
  }
  std::array<int, 3> ids{};
};

TEST_F(RobotCredit, OnPlanCreditsThePreviousStretchWithBothTimes) {
  arrive(1, 20);
  const RacingLine& l = line_store().records[1].lines[5];
  EXPECT_EQ(l.tested, 1);
  EXPECT_EQ(l.best_a, 350);
  EXPECT_EQ(l.best_b, 690);
  EXPECT_EQ(l.sum_a, 350);
  EXPECT_EQ(l.sum_b, 690);
  EXPECT_EQ(l.fails, 0);
  EXPECT_EQ(bike->followed_lines[1], 0);
  EXPECT_EQ(bike->followed_lines[2], ids[2]) << "the stretch just ended is credited later";
}

TEST_F(RobotCredit, TheFirstStretchIsTimedFromTheStart) {
  timing().crossings = {300};
  timing().gate_count = 1;
  place(0, -300, -10);
  race->current_tic = 650;
  cross(650);
  const RacingLine& l = line_store().records[0].lines[2];
  EXPECT_EQ(l.tested, 1);
  EXPECT_EQ(l.sum_a, 280);
  EXPECT_EQ(l.sum_b, 630);
}

TEST_F(RobotCredit, OffThePathChargesTheStretchJustEnded) {
  arrive(5, 20);
  EXPECT_EQ(line_store().records[1].lines[5].tested, 0);
  EXPECT_EQ(line_store().records[2].lines[1].fails, 1);
  EXPECT_EQ(bike->followed_lines, (std::array<int, 4>{ids[0], 0, 0, 0}));
}

TEST_F(RobotCredit, FasterThanPlannedChargesTheStretchJustEnded) {
  arrive(0, 33);  // 33 x 0.9375 is above the planned 30
  EXPECT_EQ(line_store().records[1].lines[5].tested, 0);
  EXPECT_EQ(line_store().records[2].lines[1].fails, 1);
}

TEST_F(RobotCredit, ASkippedGateChargesTheLineOfThatGate) {
  timing().crossings = {300, -1};
  arrive(0, 20);
  EXPECT_EQ(line_store().records[1].lines[5].tested, 0);
  EXPECT_EQ(line_store().records[1].lines[5].fails, 1);
}

TEST_F(LineSteps, ResetsClearTrailsAndLastPickedTics) {
  line_store().records[3].lines[0] = line_of(straight(0, 0, 1, 1, 3));
  line_store().records[3].lines[0].last_picked = 4000;
  line_store().trails[7].buffers[1] = straight(0, 0, 1, 1, 3);
  line_store().trails[7].cancelled[1] = true;
  reset_line_statistics();
  reset_trails();
  EXPECT_EQ(line_store().records[3].lines[0].last_picked, -1000000);
  EXPECT_TRUE(line_store().trails[7].buffers[1].empty());
  EXPECT_FALSE(line_store().trails[7].cancelled[1]);
}

}  // namespace
}  // namespace ks
