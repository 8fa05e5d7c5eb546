// The race reset and the tic on a small flat track in the home folder (bikes and shapes
// from the generated data tree): lineups, start rows, the starting gate, the time trial,
// the identity draws, the tic order, the false start and a short robot race.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "core/config.h"
#include "core/race/race.h"
#include "core/race/race_internal.h"
#include "core/random.h"
#include "core/startup_options.h"
#include "demo/demo.h"
#include "fs/messages.h"
#include "fs/vfs.h"
#include "physics/bike.h"
#include "physics/bike_setup.h"
#include "physics/world.h"
#include "race/timing.h"
#include "support/test_support.h"
#include "track/track.h"

namespace ks {
namespace {

constexpr const char* kTrack = "flat";

// 256 ft of flat ground at height 0, three gate positions facing -z at z = 180, and a
// four-gate loop.
void write_flat_track(const std::string& home) {
  const std::string dir = home + "/" + kTrack + "/";
  std::string hf = "5 4.0 0.0 10.0:";
  hf += std::string(65 * 65 * 2, '\0');
  test::write_file(dir + "terrain.hf", hf);
  test::write_file(dir + "shadingx2.ppm", "P6\n65 65\n255\n" + std::string(65 * 65 * 3, '\x40'));
  test::write_file(dir + "tileinfo", "texture @dirt.png\naddtile\n");
  test::write_file(dir + "tilemap", std::string(32 * 32, '\0'));
  test::write_file(dir + "timing_gates",
                   "startinggate:\n[124 0 180] 0\n[128 0 180] 0\n[132 0 180] 0\n"
                   "checkpoints:\n"
                   "12 [128 0 150] [0 0 -1]\n"
                   "12 [128 0 70] [1 0 0]\n"
                   "12 [190 0 128] [0 0 1]\n"
                   "12 [128 0 190] [-1 0 0]\n"
                   "firstlap:\n0 1 2 3\nnormallap:\n0 1 2 3\n");
}

class RaceTic : public ::testing::Test {
 protected:
  void SetUp() override {
    if (test::data_dir().empty() || !test::file_exists(test::data_dir() + "/zzzz.saf"))
      GTEST_SKIP() << "no generated data tree";
    write_flat_track(home.path());
    test::use_roots(home.path(), test::data_dir());
    build_index();
    free_shape_cache();
    clear_messages();
    free_race();
    race_state() = RaceState{};
    race_seam() = RaceSeam{};
    reset_bike_setup(bike_setup());
    reset_settings(settings());
    ASSERT_TRUE(create_physics_world());
  }
  void TearDown() override {
    free_race();
    race_seam() = RaceSeam{};
    race_state() = RaceState{};
    destroy_physics_world();
    free_shape_cache();
  }

  static bool reset(const Lineup* lineup, int time_limit = 0, int laps = 3) {
    RaceResetRequest r;
    r.lineup = lineup;
    r.time_limit = time_limit;
    r.laps = laps;
    r.track = kTrack;
    return reset_race(r);
  }
  static Lineup empty_lineup() {
    Lineup l{};
    l.fill(kLineupEmpty);
    return l;
  }
  static std::array<double, 3> frame_at(int slot) {
    const dReal* p = dBodyGetPosition(race_state().slots[size_t(slot)].bike->bodies[kFrameBody]);
    return {p[0], p[1], p[2]};
  }
  static int bikes() {
    int n = 0;
    for (int s = 0; s < kMaxBikes; ++s) n += slot_bike(race_state(), s) != nullptr;
    return n;
  }
  static void run(int tics) {
    for (int i = 0; i < tics; ++i) step_one_tic();
  }

  test::TempDir home;
};

TEST_F(RaceTic, NoNonzeroCodePutsAViewedRobotInSlotZero) {
  const Lineup l = empty_lineup();
  ASSERT_TRUE(reset(&l));
  const RaceState& race = race_state();
  EXPECT_EQ(race.slots[0].kind, SlotKind::robot);
  ASSERT_NE(race.slots[0].bike, nullptr);
  EXPECT_EQ(race.slots[0].name, "Vidaraver");
  EXPECT_EQ(race.viewed_slot, 0);
  EXPECT_EQ(bikes(), 1);
}

TEST_F(RaceTic, OnlyTheFirstHumanKeepsTheLocalRider) {
  Lineup l = empty_lineup();
  l[3] = kLineupHuman;
  l[7] = kLineupHuman;
  l[9] = kLineupRobot;
  ASSERT_TRUE(reset(&l));
  const RaceState& race = race_state();
  EXPECT_EQ(race.slots[3].kind, SlotKind::local);
  ASSERT_NE(race.slots[3].bike, nullptr);
  EXPECT_STREQ(race.slots[3].bike->number.data(), "999");
  EXPECT_EQ(race.slots[3].name, "Joe Motocross");
  EXPECT_EQ(race.slots[7].kind, SlotKind::replayed);
  EXPECT_EQ(race.slots[7].bike, nullptr);
  EXPECT_EQ(race.viewed_slot, 3);
  EXPECT_EQ(bikes(), 2);
}

TEST_F(RaceTic, RowsStandTenFeetBehindTheGatePositions) {
  Lineup l = empty_lineup();
  l[1] = kLineupNumbered + 20;  // both kx125: the same model and frame offset
  l[4] = kLineupNumbered + 21;
  ASSERT_TRUE(reset(&l));
  const auto a = frame_at(1), b = frame_at(4);
  EXPECT_NEAR(b[0] - a[0], 0.0, 1e-6);
  EXPECT_NEAR(b[2] - a[2], 10.0, 1e-6);
  EXPECT_NEAR(b[1], a[1], 1e-6);
  const Track& t = *current_track();
  const StartPosition at = bike_start_position(t.gates, *t.terrain, 4);
  EXPECT_DOUBLE_EQ(at.x, 128.0);
  EXPECT_DOUBLE_EQ(at.z, 180.0 + 1.0625 * 10.0);
}

TEST_F(RaceTic, RobotCodesPickMatchingIdentities) {
  Lineup l = empty_lineup();
  l[0] = kLineupRobot125;
  l[1] = kLineupRobot250;
  l[2] = kLineupNumbered + 85;  // a tamo with its own textures
  l[3] = kLineupNumbered + 5;   // no identity has number 5
  l[4] = kLineupNumbered + 85;  // already taken: borrows another identity
  ASSERT_TRUE(reset(&l));
  const RaceState& race = race_state();
  EXPECT_NE(race.slots[0].model_name.find("125"), std::string::npos);
  EXPECT_NE(race.slots[1].model_name.find("250"), std::string::npos);
  EXPECT_EQ(race.slots[2].model_name, "kx250f(2008)");
  EXPECT_STREQ(race.slots[2].bike->number.data(), "85");
  EXPECT_STREQ(race.slots[3].bike->number.data(), "5");
  EXPECT_STREQ(race.slots[4].bike->number.data(), "85");
  for (int s = 0; s < 5; ++s) EXPECT_EQ(race.slots[size_t(s)].kind, SlotKind::robot);
}

TEST_F(RaceTic, IdentityTableFollowsItsLayout) {
  const auto& t = robot_identities();
  std::set<std::string> numbers;
  for (int i = 0; i < kRobotIdentities; ++i) {
    const RobotIdentity& r = t[size_t(i)];
    numbers.insert(r.number);
    EXPECT_EQ(std::string(r.number), std::to_string(20 + i));
    const std::string model = r.model;
    if (i < 20) {
      EXPECT_STREQ(r.personality, "rellin");
      EXPECT_NE(model.find("125"), std::string::npos);
    } else if (i < 60) {
      EXPECT_STREQ(r.personality, i < 40 ? "vosk" : "rellin");
      EXPECT_NE(model.find("250"), std::string::npos);
    } else {
      EXPECT_STREQ(r.personality, "tamo");
      const std::string alt = i % 2 == 0 ? "-alt1.png" : "-alt2.png";
      EXPECT_EQ(std::string(r.rider_body), "@rider_body" + alt);
      EXPECT_EQ(std::string(r.bike), "@" + model + alt);
    }
  }
  EXPECT_EQ(numbers.size(), size_t(kRobotIdentities));
  EXPECT_STREQ(robot_model_name("rmz250"), "rmz250(2008)");
  EXPECT_STREQ(robot_model_name("yz250f_se(2006)"), "yz250f_se(2006)");
}

TEST_F(RaceTic, IdentityOrderIsAReproduciblePermutation) {
  std::array<int, kRobotIdentities> a{}, b{}, c{};
  draw_robot_order(a, 777);
  draw_robot_order(b, 777);
  draw_robot_order(c, 778);
  EXPECT_EQ(a, b);
  EXPECT_NE(a, c);
  std::array<int, kRobotIdentities> sorted = a;
  std::sort(sorted.begin(), sorted.end());
  for (int i = 0; i < kRobotIdentities; ++i) EXPECT_EQ(sorted[size_t(i)], i);
  // The shuffle swaps each j from 79 down with (r / 65536) mod j: rebuild it by hand.
  std::mt19937 g(777);
  std::array<int, kRobotIdentities> manual{};
  for (int i = 0; i < kRobotIdentities; ++i) manual[size_t(i)] = i;
  for (uint32_t j = 79; j >= 1; --j) std::swap(manual[j], manual[(uint32_t(g()) >> 16) % j]);
  EXPECT_EQ(a, manual);
}

TEST_F(RaceTic, ResetDrawsTheOrderFromTheTicLeftAndThenTheStartTic) {
  const Lineup l = empty_lineup();
  race_state().current_tic = 4321;
  ASSERT_TRUE(reset(&l));
  std::array<int, kRobotIdentities> expected{};
  draw_robot_order(expected, 4321);
  EXPECT_EQ(race_state().robot_order, expected);
  seed_game_random(4321);
  for (int i = 0; i < 79; ++i) game_random()();
  const uint32_t r = uint32_t(game_random()());  // the 80th number after seeding
  const double u = double(r & 0x7FFFFFFFu) / 2147483648.0;
  EXPECT_EQ(race_state().start_tic, int((13 + 2 * u) * 128));
}

TEST_F(RaceTic, LapAndTimedRaceLengths) {
  const Lineup l = empty_lineup();
  ASSERT_TRUE(reset(&l, 0, 5));
  EXPECT_EQ(race_state().race_laps, 5);
  EXPECT_EQ(race_state().halfway_lap, 3);
  ASSERT_TRUE(reset(&l, 10 * 60 * 128, 1));
  EXPECT_EQ(race_state().race_laps, 1000000);
  EXPECT_EQ(race_state().halfway_lap, 1000000);
  EXPECT_EQ(race_state().time_limit, 10 * 60 * 128);
}

TEST_F(RaceTic, GateDropsThirteenToFifteenSecondsAfterTheReset) {
  Lineup l = empty_lineup();
  l[0] = kLineupHuman;
  ASSERT_TRUE(reset(&l));
  RaceState& race = race_state();
  const int s = race.start_tic;
  EXPECT_GE(s, 13 * 128);
  EXPECT_LE(s, 15 * 128);
  Track& t = *current_track();
  ASSERT_EQ(race.gate_pieces.size(), 3u);
  const TrackObject& piece = t.objects[size_t(t.gates.start[1].object)];
  const std::array<float, 9> rest = race.gate_pieces[1].rest;
  EXPECT_GT(piece.orientation[5], 0.5f);  // local z tilted upwards, towards the bike
  run(s);
  for (const GatePieceState& p : race.gate_pieces) EXPECT_EQ(p.drop, 1.0f);
  run(64);
  for (const GatePieceState& p : race.gate_pieces) {
    EXPECT_EQ(p.drop, 0.0f);
    EXPECT_LE(p.speed, 8.0f);
  }
  for (size_t i = 0; i < 9; ++i) EXPECT_NEAR(piece.orientation[i], rest[i], 1e-6);
}

TEST_F(RaceTic, ReplayedBikeOnAGatePieceHoldsItUp) {
  Lineup l = empty_lineup();
  l[0] = kLineupHuman;
  ASSERT_TRUE(reset(&l));
  RaceState& race = race_state();
  Track& t = *current_track();
  // A replayed bike standing over the raised half of piece 2.
  BikeState* b = create_bike("kx125", 50, "1");
  ASSERT_NE(b, nullptr);
  race.slots[50].bike = b;
  race.slots[50].kind = SlotKind::replayed;
  const TrackObject& piece = t.objects[size_t(t.gates.start[2].object)];
  reset_bike(*b);
  translate_bike(*b, {piece.position[0], 0.0, piece.position[2] - 0.5});
  disable_bike(*b);
  run(race.start_tic + 128);
  EXPECT_EQ(race.gate_pieces[2].replay_touch_tic, race.current_tic - 1);
  EXPECT_EQ(race.gate_pieces[2].drop, 1.0f);
  EXPECT_EQ(race.gate_pieces[0].drop, 0.0f);
  EXPECT_EQ(race.gate_pieces[1].drop, 0.0f);
}

TEST_F(RaceTic, TimeTrialStartsAtTic38400BeforeTheLapLine) {
  ASSERT_TRUE(reset(nullptr));
  RaceState& race = race_state();
  EXPECT_TRUE(race.time_trial);
  EXPECT_EQ(race.current_tic, 38400);
  EXPECT_EQ(race.slots[0].kind, SlotKind::local);
  ASSERT_NE(race.slots[0].bike, nullptr);
  EXPECT_EQ(bikes(), 1);
  // Gate b = 4 - 3 = 1: checkpoint 1 at (128, 70), crossed towards +x.
  EXPECT_EQ(race.slots[0].timing.gate_count, 1);
  const auto p = frame_at(0);
  const auto& front = dBodyGetPosition(race.slots[0].bike->bodies[kFrontWheelBody]);
  EXPECT_NEAR(p[2], 70.0, 1.0);
  EXPECT_GT(front[0], p[0] + 1.0);  // facing the way the riders cross the gate
  for (const GatePieceState& g : race.gate_pieces) EXPECT_EQ(g.drop, 0.0f);
  step_one_tic();
  EXPECT_EQ(race.current_tic, 38401);
}

TEST_F(RaceTic, TicRunsItsStepsInOrder) {
  Lineup l = empty_lineup();
  l[0] = kLineupHuman;
  ASSERT_TRUE(reset(&l));
  std::vector<std::string> steps;
  int script_tic = -1;
  race_seam().trace = [&](const char* s) { steps.emplace_back(s); };
  race_seam().script_tic = [&](int tic) { script_tic = tic; };
  race_state().current_tic = 100;
  step_one_tic();
  const std::vector<std::string> expected{"script",       "replay",       "contacts",
                                          "roost",        "world_step",   "erosion",
                                          "bikes",        "roost_update", "starting_gate",
                                          "advance",      "demo"};
  EXPECT_EQ(steps, expected);
  EXPECT_EQ(script_tic, 100);
  EXPECT_EQ(race_state().current_tic, 101);
}

TEST_F(RaceTic, ProfileChargesThePhases) {
  Lineup l = empty_lineup();
  l[0] = kLineupRobot;
  ASSERT_TRUE(reset(&l));
  race_state().profile.enabled = true;
  run(10);
  const TicProfile& p = race_state().profile;
  EXPECT_EQ(p.tics, 10);
  EXPECT_GT(p.ns[kPhaseWorldStep], 0);
  EXPECT_GT(p.ns[kPhaseContacts], 0);
  EXPECT_GT(p.ns[kPhaseBikeStep], 0);
}

TEST_F(RaceTic, FalseStartOnAServerIsPenalisedOnce) {
  Lineup l = empty_lineup();
  l[2] = kLineupHuman;
  ASSERT_TRUE(reset(&l));
  RaceState& race = race_state();
  race.online = true;
  race.local_slot = 2;
  const int s = race.start_tic + 127;  // a racer on a server waits 127 tics more
  ASSERT_EQ(gate_start_tic(race), s);
  run(10);
  EXPECT_EQ(race.false_start_hold, 0);
  translate_bike(*race.slots[2].bike, {0, 0, -3.5});
  const int now = race.current_tic;
  step_one_tic();
  EXPECT_EQ(race.false_start_hold, 15 * 128 + (s - now) - 1);
  EXPECT_EQ(race.false_start_hold + race.current_tic, s + 15 * 128);
  run(20);
  EXPECT_GT(race.false_start_hold, 0);
  const BikeControls& c = race.slots[2].bike->controls;
  EXPECT_EQ(c.throttle, 0.0f);
  EXPECT_EQ(c.front_brake, 1.0f);
  EXPECT_EQ(c.rear_brake, 1.0f);
  int shown = 0;
  for (int k = 0; message_line(k) != nullptr; ++k)
    shown += std::strstr(message_line(k), "15 second false start penalty") != nullptr;
  EXPECT_EQ(shown, 1);
}

TEST_F(RaceTic, OfflineThereIsNoFalseStart) {
  Lineup l = empty_lineup();
  l[0] = kLineupHuman;
  ASSERT_TRUE(reset(&l));
  translate_bike(*race_state().slots[0].bike, {0, 0, -4});
  run(5);
  EXPECT_EQ(race_state().false_start_hold, 0);
}

TEST_F(RaceTic, LocalControlsFollowTheSetup) {
  Lineup l = empty_lineup();
  l[0] = kLineupHuman;
  ASSERT_TRUE(reset(&l));
  BikeControls& c = race_state().slots[0].bike->controls;
  ASSERT_TRUE(set_choice_by_text(bike_setup().reverse_steering, "No"));
  LocalInputs in;
  in.steer = 0.5f;
  in.clutch = 1;  // pulled: disengaged at once
  apply_local_controls(in);
  EXPECT_FLOAT_EQ(c.steer, 0.5f);
  EXPECT_FLOAT_EQ(c.clutch, 0.0f);
  in.clutch = 0;  // let out: at most 4 per second
  apply_local_controls(in);
  EXPECT_FLOAT_EQ(c.clutch, 4.0f / 128.0f);
  ASSERT_TRUE(set_choice_by_text(bike_setup().reverse_steering, "Yes"));
  in.steer = 0.5f;
  apply_local_controls(in);
  EXPECT_FLOAT_EQ(c.steer, -0.5f);
  ASSERT_TRUE(set_choice_by_text(bike_setup().sticky_dab, "Yes"));
  const float presses[] = {0.6f, 0.7f, 0.0f, 0.9f, 0.0f};
  const float held[] = {1, 1, 1, 0, 0};
  for (size_t i = 0; i < 5; ++i) {
    in.sit_dab = presses[i];
    apply_local_controls(in);
    EXPECT_FLOAT_EQ(c.sit_dab, held[i]) << i;
  }
}

TEST_F(RaceTic, SlotVisibility) {
  Lineup l = empty_lineup();
  l[0] = kLineupHuman;
  l[1] = kLineupRobot;
  ASSERT_TRUE(reset(&l));
  EXPECT_FALSE(slot_hidden(0));
  EXPECT_FALSE(slot_hidden(1));
  EXPECT_TRUE(slot_hidden(2));
  EXPECT_TRUE(slot_hidden(-1));
  EXPECT_TRUE(slot_hidden(kMaxBikes));
  // A replayed slot shows while its history is within a second of the clock.
  race_state().slots[1].kind = SlotKind::replayed;
  int oldest = 0, newest = 0;
  ASSERT_TRUE(history_bounds(1, oldest, newest));  // the reset recorded a first frame
  race_state().current_tic = newest + 128;
  EXPECT_FALSE(slot_hidden(1));
  race_state().current_tic = newest + 129;
  EXPECT_TRUE(slot_hidden(1));
  race_state().current_tic = oldest - 129;
  EXPECT_TRUE(slot_hidden(1));
  clear_histories();
  race_state().current_tic = newest;
  EXPECT_TRUE(slot_hidden(1));
}

TEST_F(RaceTic, RemoteRidersWithoutFreshStatesAreHidden) {
  Lineup l = empty_lineup();
  l[0] = kLineupHuman;
  l[1] = kLineupRobot;
  ASSERT_TRUE(reset(&l));
  RaceState& race = race_state();
  race.slots[1].kind = SlotKind::replayed;  // a remote rider
  race.online = true;
  EXPECT_FALSE(slot_hidden(1));  // no local slot in the server's race: all shown
  race.local_slot = 0;
  race.current_tic = 100;
  race.last_state_tic[1] = 100 - 128;
  EXPECT_TRUE(remote_rider_hidden(race, 1));
  race.last_state_tic[1] = 100 - 127;
  EXPECT_FALSE(remote_rider_hidden(race, 1));  // fresh, and the race is young
  EXPECT_FALSE(slot_hidden(1));
  race.online = false;
  race.last_state_tic[1] = -1000;
  EXPECT_FALSE(slot_hidden(1));  // offline the remote test doesn't apply
}

TEST_F(RaceTic, ShortRobotRaceStaysFinite) {
  Lineup l = empty_lineup();
  for (int s = 0; s < 4; ++s) l[size_t(s)] = kLineupRobot;
  l[4] = kLineupHuman;
  ASSERT_TRUE(reset(&l));
  race_state().erosion_rate = 512;
  run(4 * 128);
  for (int s = 0; s < 5; ++s) {
    const BikeState* b = race_state().slots[size_t(s)].bike;
    ASSERT_NE(b, nullptr);
    for (dBodyID body : b->bodies) {
      const dReal* p = dBodyGetPosition(body);
      for (int i = 0; i < 3; ++i) ASSERT_TRUE(std::isfinite(p[i])) << s;
      EXPECT_GT(p[1], -2.0) << s;
    }
  }
}

TEST_F(RaceTic, FailedTrackLoadFailsTheReset) {
  const Lineup l = empty_lineup();
  RaceResetRequest r;
  r.lineup = &l;
  r.track = "no_such_track";
  EXPECT_FALSE(reset_race(r));
  EXPECT_EQ(current_track(), nullptr);
  EXPECT_EQ(bikes(), 0);
}

TEST_F(RaceTic, FreeRaceDestroysBikesAndTrack) {
  Lineup l = empty_lineup();
  l[0] = kLineupHuman;
  l[1] = kLineupRobot;
  ASSERT_TRUE(reset(&l));
  free_race();
  EXPECT_EQ(bikes(), 0);
  EXPECT_EQ(current_track(), nullptr);
  step_one_tic();  // no track: only the clock moves
}

TEST_F(RaceTic, ConfiguredTrackIsTheDefault) {
  const Lineup l = empty_lineup();
  ASSERT_TRUE(set_text(settings().track.data(), kTrackNameChars, kTrack));
  RaceResetRequest r;
  r.lineup = &l;
  ASSERT_TRUE(reset_race(r));
  EXPECT_EQ(race_state().track_dir, kTrack);
}

TEST_F(RaceTic, ErosionDigsThroughTheEditLockOnlyWhenTheRateIsPositive) {
  for (const int rate : {0, 2048}) {
    startup_options().erosion_rate = rate;
    RaceResetRequest r;
    r.track = "rabbithill";  // a time trial: the gate is down and the rider rides off
    race_state().force_reload = true;
    ASSERT_TRUE(reset_race(r));
    startup_options().erosion_rate = 0;
    EXPECT_EQ(race_state().erosion_rate, rate);
    HeightField& hf = *current_track()->terrain;
    hf.edit_locked = true;
    for (int i = 0; i < 5 * 128; ++i) {
      LocalInputs in;
      in.throttle = 0.8f;
      apply_local_controls(in);
      step_one_tic();
    }
    EXPECT_TRUE(hf.edit_locked);
    EXPECT_EQ(hf.heights != hf.loaded_heights, rate > 0) << rate;
  }
}

TEST_F(RaceTic, RoostTurnShiftsByOneEachTic) {
  Lineup l = empty_lineup();
  l[0] = kLineupHuman;
  l[2] = kLineupRobot;
  l[5] = kLineupRobot;
  ASSERT_TRUE(reset(&l));
  race_state().slots[5].kind = SlotKind::replayed;
  std::vector<std::pair<int, bool>> seen;
  race_seam().roost_emit = [&](BikeState& b, bool simulated) {
    seen.emplace_back(b.slot, simulated);
  };
  race_state().current_tic = 100;  // 100 mod 3 = 1: the second bike of the list first
  step_one_tic();
  const std::vector<std::pair<int, bool>> first{{2, true}, {5, false}, {0, true}};
  EXPECT_EQ(seen, first);
  seen.clear();
  step_one_tic();
  const std::vector<std::pair<int, bool>> second{{5, false}, {0, true}, {2, true}};
  EXPECT_EQ(seen, second);
}

TEST_F(RaceTic, FreeCameraStartsFiveFeetAboveTheViewedBike) {
  Lineup l = empty_lineup();
  l[1] = kLineupHuman;
  std::array<double, 3> camera{};
  race_seam().place_free_camera = [&](double x, double y, double z) { camera = {x, y, z}; };
  ASSERT_TRUE(reset(&l));
  const auto f = frame_at(1);
  EXPECT_DOUBLE_EQ(camera[0], f[0]);
  EXPECT_DOUBLE_EQ(camera[1], f[1] + 5);
  EXPECT_DOUBLE_EQ(camera[2], f[2]);
}

}  // namespace
}  // namespace ks
