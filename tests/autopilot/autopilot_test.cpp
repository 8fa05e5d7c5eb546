// The autopilot: personalities, line choice and path assembly, speed holding, following,
// the start at the gate, the stuck test, and a robot riding a line on a flat field.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "autopilot/autopilot.h"
#include "core/random.h"
#include "physics/bike.h"
#include "physics/bike_step.h"
#include "physics/lean_steer.h"
#include "physics/rider.h"
#include "physics/terrain_contact.h"
#include "physics/world.h"
#include "platform/vant.h"
#include "support/test_support.h"
#include "track/heightfield.h"
#include "track/track.h"

namespace ks {
namespace {

constexpr double kPi = 3.14159265358979323846;
using Vec3 = std::array<double, 3>;

HeightField flat_field() {
  HeightField hf;
  EXPECT_TRUE(init_height_field(hf, 8, 2.0f, 0.0f));
  TileInfo& m = hf.materials[0];
  m.friction = {};
  m.friction[0] = {1.0f, 1};
  m.friction_count = 1;
  return hf;
}

LinePoint pt(double x, double z, double speed, double y = 3) {
  LinePoint p;
  p.x = float(x);
  p.y = float(y);
  p.z = float(z);
  p.speed = float(speed);
  return p;
}

// A straight line along -z from (x, z0), n points `step` apart.
RacingLine straight(double x, double z0, int n, double step, double speed) {
  RacingLine l;
  for (int i = 0; i < n; ++i) l.points.push_back(pt(x, z0 - i * step, speed));
  return l;
}

void clear_store() {
  LineStore& s = line_store();
  s.records.clear();
  for (auto& p : s.plan) p.clear();
  s.first_lap = s.normal_lap = 0;
}

// ---- personalities -------------------------------------------------------------------------

TEST(Personality, NamesMapToTheirRows) {
  EXPECT_EQ(personality_index("vosk"), 1);
  EXPECT_EQ(personality_index("rellin"), 2);
  EXPECT_EQ(personality_index("tamo"), 3);
  EXPECT_EQ(personality_index("tester"), 4);
  EXPECT_STREQ(rider_style(3).name, "tamo");
  EXPECT_STREQ(rider_style(99).name, "vosk");
}

TEST(Personality, UnknownNameLogsAndDrivesAsVosk) {
  test::TempDir dir;
  const std::string log = dir / "log.txt";
  setenv("VANT_LOGFILE", log.c_str(), 1);
  vant_reset_for_tests();
  EXPECT_EQ(personality_index("empty"), 1);  // row 0 isn't a robot
  EXPECT_EQ(personality_index("zorro"), 1);
  vant_log(nullptr);
  unsetenv("VANT_LOGFILE");
  vant_reset_for_tests();
  const std::string text = test::read_file(log);
  EXPECT_NE(text.find("auto pilot personality 'zorro' not found\n"), std::string::npos) << text;
  EXPECT_NE(text.find("auto pilot personality 'empty' not found\n"), std::string::npos);
}

// A lead over the second rider at its last crossing switches some personalities to their
// far-ahead type.
TEST(Personality, LeadOverTenSecondsSwitchesSelectionType) {
  auto race = std::make_unique<RaceState>();
  race->slots[0].timing.crossings = {100, 200, 300};
  race->slots[1].timing.crossings = {110, 250, 0};
  race->slots[0].timing.gate_count = 3;
  race->slots[1].timing.gate_count = 3;
  race->running_order = {{0, 3, 300}, {1, 3, 0}};
  struct Case {
    const char* name;
    int behind_tics;  // second rider's last crossing after the leader's
    bool leads;
    int type;
  };
  const Case cases[] = {
      {"rellin", 10 * 128, true, 2}, {"rellin", 10 * 128 + 1, true, 1},
      {"rellin", 20 * 128, false, 2}, {"tamo", 10 * 128, true, 1},
      {"tamo", 10 * 128 + 1, true, 0}, {"vosk", 2 * 128, true, 0},
      {"tester", 20 * 128, true, 3},
  };
  for (const Case& c : cases) {
    race->slots[1].timing.crossings[2] = 300 + c.behind_tics;
    race->running_order[0].slot = c.leads ? 0 : 1;
    race->running_order[1].slot = c.leads ? 1 : 0;
    EXPECT_EQ(selection_type(*race, 0, rider_style(personality_index(c.name))), c.type)
        << c.name << " " << c.behind_tics;
  }
  // A lone rider is never far ahead.
  race->running_order.resize(1);
  race->running_order[0].slot = 0;
  EXPECT_EQ(selection_type(*race, 0, rider_style(2)), 2);
}

// ---- speed -----------------------------------------------------------------------------

TEST(SpeedControl, GroundTable) {
  struct Case {
    double v, w;
    double throttle, brake;
  };
  const Case cases[] = {
      {10, 20, 1, 0},    {18.9, 20, 1, 0},   {19.5, 20, 0.5, 0}, {20, 20, 0, 0},
      {20.5, 20, 0, 0.5}, {25, 20, 0, 1},    {0, 0, 0, 0},
  };
  for (const Case& c : cases) {
    SpeedInput in;
    in.v = c.v;
    in.w = c.w;
    const SpeedCommand s = speed_control(in);
    EXPECT_NEAR(s.throttle, c.throttle, 1e-9) << c.v << " " << c.w;
    EXPECT_NEAR(s.front_brake, c.brake, 1e-9) << c.v << " " << c.w;
    EXPECT_NEAR(s.rear_brake, c.brake, 1e-9) << c.v << " " << c.w;
    EXPECT_EQ(s.clutch, 1);
  }
  // Without a gear ratio the clutch follows the engine speed.
  SpeedInput n;
  n.in_gear = false;
  n.downshift_rpm = 4000;
  for (auto [rpm, clutch] : {std::pair{2500.0, 0.0}, {3500.0, 0.5}, {5000.0, 1.0}}) {
    n.rpm = rpm;
    EXPECT_NEAR(speed_control(n).clutch, clutch, 1e-9) << rpm;
  }
}

TEST(SpeedControl, AirTable) {
  struct Case {
    double pitch_rate, front_y, rear_y;
    double throttle, clutch, rear_brake;
  };
  const Case cases[] = {
      {0.0, 5, 5, 0, 0.125, 0},            // level: throttle shut
      {0.0, 6.5, 5, 0, 0, 1},              // nose high: brake the rear wheel
      {-0.5, 6.5, 5, 0, 0.125, 0},         // nose high but already dropping fast
      {-0.5, 5, 6, 1, 0.125, 0},           // nose down and dropping: drive the wheel
      {-1.0, 5, 5, 1, 0.125, 0},           // dropping faster than pi/4
      {0.2, 5, 6, 0, 0.125, 0},            // nose down but rising
  };
  for (const Case& c : cases) {
    SpeedInput in;
    in.rear_touches = false;
    in.pitch_rate = c.pitch_rate;
    in.front_y = c.front_y;
    in.rear_y = c.rear_y;
    in.v = 40;
    in.w = 10;
    const SpeedCommand s = speed_control(in);
    EXPECT_EQ(s.throttle, c.throttle) << c.pitch_rate << " " << c.front_y << " " << c.rear_y;
    EXPECT_EQ(s.clutch, c.clutch) << c.pitch_rate << " " << c.front_y << " " << c.rear_y;
    EXPECT_EQ(s.rear_brake, c.rear_brake) << c.pitch_rate;
    EXPECT_EQ(s.front_brake, 0);
  }
}

TEST(FollowLimit, Table) {
  struct Case {
    double w, d, c, tt;
    double lo, hi;  // expected target range
    bool clears;
  };
  const Case cases[] = {
      {30, 100, 40, 50, 30, 30, false},    // the rider ahead is faster: nothing
      {30, 500, 20, 50, 29.5, 30, true},   // far: a small pull
      {30, 27.6, 20, 50, 20, 20, true},    // the stop needs all the room left: all the way
      {30, 30.5, 20, 50, 22, 22.5, true},  // most of the way
      {30, 10, 20, 50, 16.5, 16.5, false}, // inside the gap: (1 - f/4) c
      {30, 11, 20, 1, 20, 20, false},      // first seconds: f = 0, gap 12, at most c
      {30, 10, 0, 50, 0, 0, false},        // a rider stopped right ahead: stop
  };
  for (const Case& c : cases) {
    bool clear = false;
    const double w = follow_limit(c.w, c.d, c.c, c.tt, clear);
    EXPECT_GE(w, c.lo) << c.d << " " << c.c << " " << c.tt;
    EXPECT_LE(w, c.hi) << c.d << " " << c.c << " " << c.tt;
    EXPECT_EQ(clear, c.clears) << c.d << " " << c.c;
  }
  // At 50 s f = 0.7: the gap is 17.6 and inside it the cap is (1 - 0.175) c.
  bool clear = false;
  EXPECT_NEAR(follow_limit(30, 17, 20, 50, clear), 0.825 * 20, 1e-9);
}

TEST(Footprint, OverlapTable) {
  struct Case {
    Vec3 pa, va, pb, vb;
    bool overlap;
  };
  const Case cases[] = {
      {{0, 0, 0}, {0, 0, -20}, {0, 0, -20}, {0, 0, -20}, true},   // 20 ft ahead in line
      {{0, 0, 0}, {0, 0, -20}, {0, 0, -30}, {0, 0, -20}, false},  // beyond 4 + v ... and 4 behind it
      {{0, 0, 0}, {0, 0, -20}, {3.5, 0, -10}, {0, 0, -20}, true},  // 3.5 aside: the 2 ft sides meet
      {{0, 0, 0}, {0, 0, -20}, {4.5, 0, -10}, {0, 0, -20}, false}, // side by side, apart
      {{0, 0, 0}, {0, 0, -20}, {0, 0, -10}, {0, 0, 0}, true},     // a stopped bike inside ours
      {{0, 0, 0}, {0, 0, 0}, {0, 0, 9}, {0, 0, 0}, false},        // two stopped bikes 9 apart
      {{0, 0, 0}, {0, 0, -20}, {-10, 0, -10}, {20, 0, 0}, true},   // crossing our path
  };
  for (const Case& c : cases) {
    const Footprint a = footprint_of(c.pa, c.va), b = footprint_of(c.pb, c.vb);
    EXPECT_EQ(footprints_overlap(a, b), c.overlap) << c.pb[0] << " " << c.pb[2];
    EXPECT_EQ(footprints_overlap(b, a), c.overlap) << "symmetric " << c.pb[0] << " " << c.pb[2];
  }
}

TEST(LeanSteer, MatchesTheBalanceControllerRollRateTable) {
  // No error: no steering; leaning right wanted (negative): steer positive, and back.
  EXPECT_EQ(lean_steer(0, 0, 0), 0);
  EXPECT_GT(lean_steer(-0.5, 0, 0), 0);
  EXPECT_LT(lean_steer(0.5, 0, 0), 0);
  EXPECT_EQ(lean_steer(-0.5, 0, 0), 1);
  // Already rolling at the wanted rate: nothing (inside the 0.125 rad/s dead band).
  EXPECT_EQ(lean_steer(-0.2, 0, -0.5), 0);
  EXPECT_NEAR(lean_steer(-0.1, 0, 0), -(-0.25 + 0.125) * 4, 1e-12);
}

// ---- line choice and path assembly -----------------------------------------------------------

TEST(PathAssembly, EmptyPathStartsFromTheChassisAlongItsHeading) {
  RobotState r;
  const RacingLine l = straight(20, -40, 6, 8, 30);
  append_to_path(r, l, {0, 3, 0}, {0, 0, -1});
  ASSERT_EQ(r.path.size(), 11u);
  EXPECT_FLOAT_EQ(r.path[0].x, 20);  // point 0 stays the line's first point
  for (int i = 1; i < 5; ++i) {
    // Between the chassis and the line, leaving along -z and never faster than its speed.
    EXPECT_LT(r.path[size_t(i)].z, 0.0f);
    EXPECT_LE(r.path[size_t(i)].speed, 30.0f);
    EXPECT_GT(r.path[size_t(i)].x, 0.0f);
    EXPECT_LT(r.path[size_t(i)].x, 20.5f);
  }
  EXPECT_LT(std::abs(r.path[1].x), 4.0f);  // still near the chassis line at first
  for (size_t i = 5; i < 11; ++i) EXPECT_FLOAT_EQ(r.path[i].x, l.points[i - 5].x);
}

TEST(PathAssembly, HermiteJoinKeepsSpeedsAtMostTheBlendOfTheEnds) {
  RobotState r;
  for (int i = 0; i < 12; ++i) r.path.push_back(pt(0, -8.0 * i, 50));
  r.path[11].speed = 30;
  r.target = 3;
  RacingLine l = straight(6, -100, 8, 8, 20);
  append_to_path(r, l, {0, 3, 0}, {0, 0, -1});
  ASSERT_EQ(r.path.size(), 20u);
  // i1 = 12, i0 = 7: points 8..11 are the curve.
  for (int k = 8; k < 12; ++k) {
    const double t = (k - 7) / 5.0;
    EXPECT_LE(r.path[size_t(k)].speed, 50 + (20 - 50) * t + 1e-4) << k;
    EXPECT_GT(r.path[size_t(k)].x, 0.0f);
    EXPECT_LT(r.path[size_t(k)].x, 6.0f);
  }
  EXPECT_FLOAT_EQ(r.path[7].x, 0);   // the join starts at i0 ...
  EXPECT_FLOAT_EQ(r.path[12].x, 6);  // ... and ends on the line
  for (int k = 8; k < 12; ++k) EXPECT_LT(r.path[size_t(k)].z, r.path[size_t(k - 1)].z);

  // A join that ends in the air is left as recorded.
  RobotState air;
  for (int i = 0; i < 12; ++i) air.path.push_back(pt(0, -8.0 * i, 50));
  l.points[0].speed = -20;
  append_to_path(air, l, {0, 3, 0}, {0, 0, -1});
  for (int k = 8; k < 12; ++k) EXPECT_FLOAT_EQ(air.path[size_t(k)].x, 0);
}

TEST(LinePick, TwoRobotsWithinThreeSecondsPickDifferentLines) {
  clear_store();
  LineStore& s = line_store();
  s.first_lap = 1;
  s.normal_lap = 1;
  s.records.resize(2);
  // Three parallel lines starting 20 ft ahead; the first two end within 3 ft of each other.
  s.records[0].lines[0] = straight(-1, -20, 10, 8, 30);
  s.records[0].lines[1] = straight(1, -20, 10, 8, 30);
  s.records[0].lines[2] = straight(6, -20, 10, 8, 30);
  for (int i = 0; i < 3; ++i) s.records[0].lines[size_t(i)].id = 10 + i;
  s.records[1].lines[0] = straight(0, -100, 10, 8, 30);
  s.records[1].lines[0].id = 20;

  auto race = std::make_unique<RaceState>();
  race->current_tic = 1000;
  RobotState a, b, c;
  a.personality = b.personality = c.personality = 1;
  const int first = pick_line(*race, 0, a, {0, 3, 0}, {0, 0, -1});
  ASSERT_GE(first, 0);
  race->current_tic += 128;
  const int second = pick_line(*race, 1, b, {0, 3, 0}, {0, 0, -1});
  EXPECT_NE(second, first);
  if (first == 0 || first == 1) {
    EXPECT_EQ(second, 2) << "the line ending near the pick waits too";
  }
  EXPECT_EQ(a.next_record, 1);
  ASSERT_FALSE(a.path.empty());
  // The first pick puts the target more than 10 ft along and holds off the stuck test.
  EXPECT_GT(a.target, 0);
  EXPECT_EQ(a.last_advance_tic, 30 * 128);
  // Three seconds after the first pick it is free again.
  race->current_tic += 2 * 128;
  EXPECT_EQ(pick_line(*race, 2, c, {0, 3, 0}, {0, 0, -1}), first);
  clear_store();
}

TEST(LinePick, NothingHappensWithoutLines) {
  clear_store();
  auto race = std::make_unique<RaceState>();
  RobotState r;
  EXPECT_EQ(pick_line(*race, 0, r, {0, 3, 0}, {0, 0, -1}), -1);
  LineStore& s = line_store();
  s.first_lap = 1;
  s.normal_lap = 1;
  s.records.resize(2);  // records, but empty ones
  EXPECT_EQ(pick_line(*race, 0, r, {0, 3, 0}, {0, 0, -1}), -1);
  EXPECT_TRUE(r.path.empty());
  EXPECT_EQ(r.next_record, 0);
  clear_store();
}

// ---- with a bike -------------------------------------------------------------------------

class AutopilotBike : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(create_physics_world());
    reset_bike_step_module();
    reset_rider_module();
    clear_store();
    TrackState& ts = track_state();
    ts.track.terrain = std::make_unique<HeightField>(flat_field());
    ts.loaded = true;
    hf = ts.track.terrain.get();
    race = std::make_unique<RaceState>();
  }
  void TearDown() override {
    for (BikeState* b : bikes) destroy_bike(b);
    destroy_physics_world();
    TrackState& ts = track_state();
    ts.loaded = false;
    ts.track.terrain.reset();
    for (int s = 0; s < kMaxBikes; ++s) reset_robot(s, 0);
  }
  BikeState* add_bike(int slot, const char* personality, double x, double z) {
    BikeState* b = create_bike("cr125", slot, "7");
    EXPECT_NE(b, nullptr);
    if (b == nullptr) return nullptr;
    bikes.push_back(b);
    EXPECT_TRUE(place_bike(*b, *hf, {x, z, 0}, bike_ground_contacts));
    race->slots[size_t(slot)].bike = b;
    race->slots[size_t(slot)].kind = SlotKind::robot;
    reset_robot(slot, personality_index(personality));
    return b;
  }
  void tic(bool physics) {
    if (physics) {
      for (BikeState* b : bikes) bike_ground_contacts(*b, *hf);
      world_step();
    }
    for (int s = 0; s < kMaxBikes; ++s) {
      BikeState* b = race->slots[size_t(s)].bike;
      if (b == nullptr) continue;
      autopilot_step(*race, s);
      if (physics) bike_step(*b, *hf, race->current_tic);
    }
    ++race->current_tic;
  }
  // Half a second of physics on its own, so that the bike stands on its wheels.
  void settle(BikeState* b) {
    for (int i = 0; i < 64; ++i) {
      bike_ground_contacts(*b, *hf);
      world_step();
      bike_step(*b, *hf, i);
    }
  }
  Vec3 pos(const BikeState* b) const {
    const dReal* p = dBodyGetPosition(b->bodies[kFrameBody]);
    return {p[0], p[1], p[2]};
  }
  double speed(const BikeState* b) const {
    const dReal* v = dBodyGetLinearVel(b->bodies[kFrameBody]);
    return std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
  }

  HeightField* hf = nullptr;
  std::unique_ptr<RaceState> race;
  std::vector<BikeState*> bikes;
};

TEST_F(AutopilotBike, LaunchDelayAfterTheGateDropsByPersonality) {
  BikeState* b = add_bike(0, "vosk", 513, 900);
  ASSERT_NE(b, nullptr);
  struct Case {
    const char* name;
    double lo, hi;
  };
  for (const Case& c : {Case{"tamo", 0.0, 0.1}, Case{"vosk", 0.2, 0.4}, Case{"rellin", 0.2, 0.4},
                        Case{"nobody", 0.2, 0.4}}) {
    double earliest = 1e9, latest = -1e9;
    for (uint32_t seed = 1; seed <= 12; ++seed) {
      seed_game_random(seed);
      race->current_tic = 0;
      race->start_tic = 14 * 128 + int(seed) * 7;
      reset_robot(0, personality_index(c.name));
      RobotState& r = robot_states()[0];
      for (int i = 0; i < 40; ++i) r.path.push_back(pt(513, 800 - 8.0 * i, 30));
      bool blipped = false;
      double launch = -1;
      while (race->current_tic < race->start_tic + 128) {
        tic(false);
        const BikeControls& in = b->controls;
        if (race->current_tic < 5 * 128 && in.throttle > 0) blipped = true;
        if (in.clutch > 0) {
          launch = (race->current_tic - 1 - race->start_tic) / 128.0;
          break;
        }
        // Held at the gate: brakes on, foot down, first gear, no automatic shifting.
        ASSERT_EQ(in.front_brake, 1);
        ASSERT_EQ(in.rear_brake, 1);
        ASSERT_EQ(in.sit_dab, 1);
        ASSERT_EQ(b->drivetrain.gear, 0);
        ASSERT_EQ(b->tuning.flags[0] & kFlagAutoShift, 0);
        ASSERT_NE(b->tuning.flags[0] & kFlagStopWheelies, 0);
      }
      EXPECT_TRUE(blipped) << c.name << " blips the throttle before 5 s";
      ASSERT_GE(launch, 0) << c.name << " seed " << seed;
      earliest = std::min(earliest, launch);
      latest = std::max(latest, launch);
    }
    // The clutch moves on the first tic after the drawn reaction time.
    EXPECT_GE(earliest, c.lo) << c.name;
    EXPECT_LE(latest, c.hi + 1.0 / 128) << c.name;
    EXPECT_GT(latest - earliest, 0.2 * (c.hi - c.lo)) << c.name << " draws spread";
  }
}

TEST_F(AutopilotBike, NoPathPointWithinSixtyNeverAdvancesAndRecoversThreeSecondsLater) {
  BikeState* b = add_bike(0, "vosk", 513, 900);
  ASSERT_NE(b, nullptr);
  race->start_tic = 0;
  race->current_tic = 40 * 128;
  RobotState& r = robot_states()[0];
  for (int i = 0; i < 20; ++i) r.path.push_back(pt(513, 900 - 61 - 8.0 * i, 30));
  r.last_advance_tic = race->current_tic;
  for (int i = 0; i <= 3 * 128; ++i) {
    tic(false);
    ASSERT_EQ(r.recovery, 0) << "tic " << i;
  }
  tic(false);
  EXPECT_EQ(r.recovery, 3);
  EXPECT_EQ(r.target, 0);
  EXPECT_EQ(r.last_advance_tic, 40 * 128);
}

TEST_F(AutopilotBike, WithoutAPathTheRobotStandsOnItsBrakes) {
  BikeState* b = add_bike(0, "vosk", 513, 900);
  ASSERT_NE(b, nullptr);
  race->start_tic = 0;
  race->current_tic = 20 * 128;
  for (int i = 0; i < 10; ++i) tic(false);
  EXPECT_EQ(b->controls.throttle, 0);
  EXPECT_EQ(b->controls.front_brake, 1);
  EXPECT_EQ(b->controls.rear_brake, 1);
  EXPECT_EQ(b->controls.sit_dab, 1);
  EXPECT_EQ(b->tuning.flags[0] & 0x3E, 0x3E);
}

// A recorded line: 200 ft straight, then a quarter circle of 120 ft radius to the right,
// points every 0.25 s at 30 ft/s. The robot follows it within a few feet at that speed.
TEST_F(AutopilotBike, FollowsAStraightThenCurvedLineAtTheRecordedSpeed) {
  const double x0 = 400, z0 = 900, v = 30, step = v * 0.25, radius = 120;
  BikeState* b = add_bike(0, "vosk", x0, z0);
  ASSERT_NE(b, nullptr);
  RobotState& r = robot_states()[0];
  for (double s = 0; s <= 200; s += step) r.path.push_back(pt(x0, z0 - s, v));
  // Centre to the right of the end of the straight (+x, the bike faces -z).
  const double cx = x0 + radius, cz = z0 - 200;
  for (double a = step / radius; a <= kPi / 2; a += step / radius)
    r.path.push_back(pt(cx - radius * std::cos(a), cz - radius * std::sin(a), v));
  const std::vector<LinePoint> line = r.path;
  // From the gate: blipping, the drop at 6 s, the launch, then driving. The first pick
  // holds the stuck test off until 30 s; so does this.
  race->start_tic = 6 * 128;
  race->current_tic = 0;
  r.last_advance_tic = 30 * 128;

  // Horizontal distance to the polyline.
  const auto off_line = [&](const Vec3& p) {
    double best = 1e9;
    for (size_t i = 0; i + 1 < line.size(); ++i) {
      const double ax = line[i].x, az = line[i].z;
      const double dx = line[i + 1].x - ax, dz = line[i + 1].z - az;
      const double t = std::clamp(((p[0] - ax) * dx + (p[2] - az) * dz) / (dx * dx + dz * dz), 0.0, 1.0);
      best = std::min(best, std::hypot(p[0] - ax - t * dx, p[2] - az - t * dz));
    }
    return best;
  };
  double worst_straight = 0, worst_curve = 0, slowest = 1e9, fastest = 0;
  int ticks = 0;
  while (!r.path.empty() && ticks < 30 * 128) {
    tic(true);
    ++ticks;
    if (HasFatalFailure()) return;
    const Vec3 p = pos(b);
    ASSERT_TRUE(std::isfinite(p[0]) && std::isfinite(p[2]));
    const double off = off_line(p);
    if (p[2] > z0)
      continue;  // the frame stands behind the line's first point at the gate
    if (p[2] > z0 - 200)
      worst_straight = std::max(worst_straight, off);
    else
      worst_curve = std::max(worst_curve, off);
    // Once up to speed (from 100 ft in), the recorded speed is held.
    const bool settled = p[2] < z0 - 100 && (p[0] - cx) * (p[0] - cx) + (p[2] - cz) * (p[2] - cz) >
                                                 40 * 40 && p[0] < cx - 20;
    if (settled) {
      slowest = std::min(slowest, speed(b));
      fastest = std::max(fastest, speed(b));
    }
  }
  std::printf("off line: straight %.2f ft, curve %.2f ft; speed %.1f..%.1f ft/s; %d tics; "
              "crashes %d\n",
              worst_straight, worst_curve, slowest, fastest, ticks, b->crash.count);
  EXPECT_EQ(b->crash.count, 0);
  EXPECT_LT(worst_straight, 3.0);
  EXPECT_LT(worst_curve, 5.0);
  EXPECT_GT(slowest, v - 5);
  EXPECT_LT(fastest, v + 4);
  // The target ran out at the end of the curve (it runs up to 60 ft ahead).
  const Vec3 p = pos(b);
  EXPECT_LT(std::hypot(p[0] - cx, p[2] - (cz - radius)), 70);
}


// Joining a line from 8 ft beside it at 30 ft/s: the robot comes across and settles on it
// instead of weaving from one side to the other.
TEST_F(AutopilotBike, JoinsALineFromBesideItWithoutWeaving) {
  const double x0 = 400, z0 = 900, v = 30, step = v * 0.25, side = 8;
  BikeState* b = add_bike(0, "vosk", x0 + side, z0);
  ASSERT_NE(b, nullptr);
  RobotState& r = robot_states()[0];
  for (double s = -20; s <= 900; s += step) r.path.push_back(pt(x0, z0 - s, v));
  race->start_tic = 0;
  race->current_tic = 20 * 128;
  race->slots[0].timing.gate_count = 1;
  r.target = 4;
  r.last_advance_tic = race->current_tic;
  for (int body = 0; body < kBikeBodyCount; ++body)
    dBodySetLinearVel(b->bodies[size_t(body)], 0, 0, -v);
  double far_side = 0, late = 0;
  for (int i = 0; i < 20 * 128 && !r.path.empty(); ++i) {
    tic(true);
    const Vec3 p = pos(b);
    ASSERT_TRUE(std::isfinite(p[0]));
    if (p[2] < z0 - 600) break;
    far_side = std::max(far_side, x0 - p[0]);  // crossed over to the other side
    if (p[2] < z0 - 300) late = std::max(late, std::abs(p[0] - x0));
  }
  std::printf("joining: %.2f ft past the line, %.2f ft off it from 300 ft on\n", far_side, late);
  EXPECT_EQ(b->crash.count, 0);
  EXPECT_LT(far_side, 3.0) << "overshot the line";
  EXPECT_LT(late, 1.5) << "still weaving 300 ft on";
}

// The bars do nothing for the lean in the air but roll the bike: a robot whose path turns
// away steers for it on the ground and holds the bars straight off it.
TEST_F(AutopilotBike, HoldsTheBarsStraightWithBothWheelsOffTheGround) {
  BikeState* b = add_bike(0, "vosk", 513, 900);
  ASSERT_NE(b, nullptr);
  settle(b);
  race->start_tic = 0;
  race->slots[0].timing.gate_count = 1;
  const Vec3 p = pos(b);
  for (bool air : {false, true}) {
    race->current_tic = 60 * 128;
    reset_robot(0, 1);
    RobotState& r = robot_states()[0];
    for (int i = -2; i < 30; ++i) r.path.push_back(pt(p[0] + 0.3 * i * i, p[2] - 7.5 * i, 30));
    r.target = 6;
    r.last_advance_tic = race->current_tic;
    for (int body = 0; body < kBikeBodyCount; ++body)
      dBodySetLinearVel(b->bodies[size_t(body)], 0, 0, -30);
    if (air) {
      b->front_contact.depth = 0;
      b->rear_contact.depth = 0;
    }
    autopilot_step(*race, 0);
    if (air)
      EXPECT_NEAR(b->controls.steer, steer_to_angle(*b, 0), 1e-6);
    else
      EXPECT_GT(std::abs(b->controls.steer), 0.2);
  }
}

TEST_F(AutopilotBike, AfterTheFinishTheRemainingSpeedsFallToAQuarter) {
  BikeState* b = add_bike(0, "vosk", 513, 900);
  ASSERT_NE(b, nullptr);
  race->start_tic = 0;
  race->current_tic = 60 * 128;
  RobotState& r = robot_states()[0];
  // Points from 70 ft ahead on, out of reach of the target advance.
  for (int i = 0; i < 21; ++i) r.path.push_back(pt(513, 900 - 70 - 8.0 * i, 40));
  r.last_advance_tic = race->current_tic;
  race->slots[0].timing.finished = true;
  tic(false);
  ASSERT_EQ(r.path.size(), 21u);
  EXPECT_FLOAT_EQ(r.path[0].speed, 40);
  EXPECT_NEAR(r.path[10].speed, 40 * (1 - 0.75 * 0.5), 1e-4);
  EXPECT_NEAR(r.path[20].speed, 10, 1e-4);
  tic(false);  // once only
  EXPECT_NEAR(r.path[20].speed, 10, 1e-4);
}

TEST_F(AutopilotBike, RecoveryAfterFortySecondsJumpsTheTarget) {
  BikeState* b = add_bike(0, "vosk", 513, 900);
  ASSERT_NE(b, nullptr);
  race->start_tic = 0;
  race->current_tic = 100 * 128 + 5;
  RobotState& r = robot_states()[0];
  for (int i = 0; i < 20; ++i) r.path.push_back(pt(513, 900 - 70 - 8.0 * i, 30));
  r.recovery = 2;
  r.last_advance_tic = race->current_tic - 40 * 128 - 1;
  tic(false);
  EXPECT_EQ(r.target, (100 * 128 + 5) % 20);
  EXPECT_EQ(r.recovery, 3);
  EXPECT_EQ(r.last_advance_tic, 100 * 128 + 5);
  // Slow and upright: the foot goes down while it aims at the target.
  EXPECT_EQ(b->controls.sit_dab, 1);
}

// A robot whose line says 30 ft/s comes up behind a robot riding the same line at 15 ft/s
// and follows it at about its speed without running into it. (Once the two weave more
// than a footprint's width apart it may pass.)
TEST_F(AutopilotBike, FollowsASlowerRiderAheadOnItsLine) {
  const double x0 = 400, z0 = 950;
  BikeState* fast = add_bike(0, "vosk", x0, z0);
  BikeState* slow = add_bike(1, "vosk", x0, z0 - 60);
  ASSERT_NE(fast, nullptr);
  ASSERT_NE(slow, nullptr);
  for (int s = 0; s < 2; ++s) {
    RobotState& r = robot_states()[size_t(s)];
    const double v = s == 0 ? 30 : 15;
    for (double d = s == 0 ? 0 : 60; d <= 650; d += v * 0.25) r.path.push_back(pt(x0, z0 - d, v));
    r.last_advance_tic = 30 * 128;
  }
  seed_game_random(5);
  race->start_tic = 6 * 128;
  race->current_tic = 0;
  double closest_behind = 1e9, sum = 0;
  int following = 0;
  while (race->current_tic < 42 * 128 && !robot_states()[1].path.empty()) {
    tic(true);
    if (HasFatalFailure()) return;
    const Vec3 a = pos(fast), o = pos(slow);
    const double d = std::hypot(a[0] - o[0], a[2] - o[2]);
    // Behind it (both ride towards -z) and in its lane.
    if (a[2] > o[2] && std::abs(a[0] - o[0]) < 3.5 && speed(slow) > 10) {
      closest_behind = std::min(closest_behind, d);
      if (d < 30) {
        sum += speed(fast);
        ++following;
      }
    }
  }
  const double mean = following > 0 ? sum / following : 0;
  std::printf("closest behind %.2f ft; followed %.1f s at %.2f ft/s (leader's line 15 ft/s)\n",
              closest_behind, following / 128.0, mean);
  EXPECT_EQ(fast->crash.count, 0);
  EXPECT_EQ(slow->crash.count, 0);
  EXPECT_GT(closest_behind, 8.0);
  EXPECT_GT(following, 2 * 128);
  EXPECT_NEAR(mean, 15, 3);
}

// Just before a take-off the robot doesn't brake down to the slower speed recorded on the
// ground before it: it keeps at least the take-off speed.
TEST_F(AutopilotBike, KeepsItsSpeedForAJumpJustAhead) {
  BikeState* b = add_bike(0, "vosk", 513, 900);
  ASSERT_NE(b, nullptr);
  settle(b);
  ASSERT_GT(b->rear_contact.depth, 0);
  const Vec3 p = pos(b);
  race->start_tic = 0;
  race->slots[0].timing.gate_count = 1;
  for (bool jump : {false, true}) {
    race->current_tic = 60 * 128;
    reset_robot(0, 1);
    RobotState& r = robot_states()[0];
    for (int i = -2; i < 30; ++i) {
      const bool air = jump && i >= 1 && i < 8;
      r.path.push_back(pt(p[0], p[2] - 7.5 * i, air ? -30 : 20));
    }
    r.target = 10;
    r.last_advance_tic = race->current_tic;
    for (int body = 0; body < kBikeBodyCount; ++body)
      dBodySetLinearVel(b->bodies[size_t(body)], 0, 0, -30);
    autopilot_step(*race, 0);
    if (jump) {
      EXPECT_EQ(b->controls.front_brake, 0) << "holding speed for the take-off";
      EXPECT_GT(b->controls.throttle, 0);
    } else {
      EXPECT_EQ(b->controls.front_brake, 1) << "10 ft/s over the recorded speed";
    }
  }
}

}  // namespace
}  // namespace ks
