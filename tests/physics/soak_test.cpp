// No explosions: a field of bikes under random but smooth controls on the generated
// "rabbithill" track, with the contacts the race tic makes (ground and objects per bike,
// then every pair of bikes fastest first), the world step and the bike step. Nothing may
// turn non-finite, sink through the ground, leave the field or pass 200 ft/s.
//
// The size comes from the environment: KS_SOAK_FULL=1 runs 160 bikes for 10 simulated
// minutes; KS_SOAK_BIKES and KS_SOAK_SECONDS set it freely; by default 40 bikes for 60 s.
// KS_SOAK_TRACE=<slot + 1> prints that bike's state every quarter second, to see how it failed;
// KS_SOAK_LYING=1 names the bike each time the longest ride lying over grows.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "core/random.h"
#include "fs/vfs.h"
#include "physics/bike.h"
#include "physics/bike_contact.h"
#include "physics/bike_state.h"
#include "physics/bike_step.h"
#include "physics/lean_steer.h"
#include "physics/rider.h"
#include "physics/terrain_contact.h"
#include "physics/world.h"
#include "support/test_support.h"
#include "track/collision_shape.h"
#include "track/heightfield.h"
#include "track/track.h"

namespace ks {
namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kGroundMargin = 1.0;  // ft a body centre may sit below the surface
constexpr double kMaxSpeed = 200;      // ft/s
constexpr double kEdgeBand = 300;      // ft from the edge where a rider slows and turns back

int env_int(const char* name, int fallback) {
  const char* v = std::getenv(name);
  if (v == nullptr || *v == '\0') return fallback;
  const long n = std::strtol(v, nullptr, 10);
  return n > 0 && n < 1000000 ? static_cast<int>(n) : fallback;
}

// One rider's controls: each drifts towards a target drawn every second or so.
struct RandomRider {
  static constexpr size_t kCount = 7;
  static constexpr std::array<Control, kCount> kControls = {
      Control::throttle, Control::clutch, Control::front_brake, Control::rear_brake,
      Control::steer,    Control::lean,   Control::sit_dab};
  std::array<double, kCount> value{}, target{};

  void draw() {
    for (double& t : target) t = random_unit();
    target[0] = 0.3 + 0.7 * target[0];    // mostly on the gas
    target[1] = target[1] < 0.1 ? 0 : 1;  // mostly engaged; the auto clutch does the rest
    target[2] *= target[2] * 0.5;         // brakes mostly light
    target[3] *= target[3] * 0.5;
    target[4] = 2 * target[4] - 1;
    target[5] = 2 * target[5] - 1;
    target[6] = target[6] < 0.8 ? 0 : 1;
  }
};

double frame_speed(const BikeState& b) {
  const dReal* v = dBodyGetLinearVel(b.bodies[kFrameBody]);
  return std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
}

// The y component of the frame's up axis: 1 upright, 0 on its side.
double frame_up(const BikeState& b) {
  dVector3 u;
  dBodyVectorToWorld(b.bodies[kFrameBody], 0, 1, 0, u);
  return u[1];
}

// Near the edge a rider turns back towards the middle the way the robots steer: he picks a
// lean that bends his path round and lets the balance assist's roll-rate controller get
// him there (a bar simply held over only drops a slow bike). A turn once begun is held
// until he faces inwards, so that heading straight out he doesn't waver between the two.
struct EdgeRider {
  static constexpr double kTurnLean = 0.35;  // rad
  static constexpr double kSpeed = 12;       // ft/s through the turn
  int side = 0;                              // lean of the turn under way, 0 none

  void ride(BikeState& b, double x, double z, int tic) {
    const dBodyID frame = b.bodies[kFrameBody];
    const dReal* p = dBodyGetPosition(frame);
    dVector3 f;
    dBodyVectorToWorld(frame, 0, 0, -1, f);
    const double heading = std::atan2(-f[0], -f[2]);
    const double bearing = std::atan2(-(x - p[0]), -(z - p[2]));
    const double e = std::remainder(bearing - heading, 2 * kPi);
    if (side == 0 || std::abs(e) < kPi / 2) side = e >= 0 ? 1 : -1;
    if (std::abs(e) < kPi / 8) side = 0;
    const double roll = body_roll_angle(frame);
    dVector3 w;
    dBodyVectorFromWorld(frame, dBodyGetAngularVel(frame)[0], dBodyGetAngularVel(frame)[1],
                         dBodyGetAngularVel(frame)[2], w);
    const double lean = side * kTurnLean * std::clamp(std::abs(e) / (kPi / 4), 0.0, 1.0);
    const double v = frame_speed(b);
    const bool down = std::abs(roll) > 0.9;  // fallen over: stop and let the foot lift it
    set_control(b, Control::steer, down ? 0.0 : lean_steer(lean, roll, w[2]));
    set_control(b, Control::shift, v > 30 || tic % 2 != 0 ? 0.0 : -1.0);  // down to first
    const double throttle = down ? 0.0 : std::clamp(0.35 + 0.1 * (kSpeed - v), 0.0, 0.7);
    set_control(b, Control::throttle, throttle);
    set_control(b, Control::rear_brake, v > kSpeed + 8 ? 0.5 : 0.0);
    set_control(b, Control::front_brake, 0);
    set_control(b, Control::clutch, 1);
    set_control(b, Control::lean, 0);
    set_control(b, Control::sit_dab, 0);
  }
};

// Bikes spread over the lap, a few at every checkpoint facing the way the lap runs (rows
// of five, 6 ft apart, 12 ft behind each other), so that the field meets the whole track
// and not only the starting gate.
StartPosition spread_start(const TimingGates& gates, int slot) {
  const int n = static_cast<int>(gates.checkpoints.size());
  if (n == 0) return {};
  const TimingGate& g = gates.checkpoints[static_cast<size_t>(slot % n)];
  const int k = slot / n;
  const double a = std::atan2(-static_cast<double>(g.direction[0]), -static_cast<double>(g.direction[2]));
  const double side = ((k % 5) - 2) * 6.0, back = (k / 5) * 12.0;
  StartPosition at;
  at.x = static_cast<double>(g.position[0]) + side * std::cos(a) + back * std::sin(a);
  at.z = static_cast<double>(g.position[2]) - side * std::sin(a) + back * std::cos(a);
  at.angle = a;
  return at;
}

TEST(Soak, RandomRidersOnRabbitHillNeverExplode) {
  if (!test::file_exists(test::data_dir() + "/rabbithill.saf")) {
    GTEST_SKIP() << "no generated data tree in " << test::data_dir();
  }
  const bool full = std::getenv("KS_SOAK_FULL") != nullptr &&
                    std::string(std::getenv("KS_SOAK_FULL")) == "1";
  const int count = std::min(kMaxBikes, env_int("KS_SOAK_BIKES", full ? kMaxBikes : 40));
  const int seconds = env_int("KS_SOAK_SECONDS", full ? 600 : 60);
  const int trace = env_int("KS_SOAK_TRACE", 0) - 1;  // given as slot + 1

  test::TempDir home;
  test::use_roots(home.path(), test::data_dir());
  build_index();
  free_shape_cache();  // shapes an earlier test cached from other roots
  reset_knockout_ticks();
  ASSERT_TRUE(load_track("rabbithill"));
  Track& track = *current_track();
  HeightField& hf = *track.terrain;
  ASSERT_TRUE(create_physics_world());
  reset_bike_step_module();
  reset_rider_module();
  seed_game_random(12345);

  std::vector<BikeState*> bikes;
  std::vector<RandomRider> riders(static_cast<size_t>(count));
  std::vector<EdgeRider> edge_riders(static_cast<size_t>(count));
  for (int s = 0; s < count; ++s) {
    BikeState* b = create_bike(s % 3 == 0 ? "yz450f(2018)" : (s % 3 == 1 ? "cr125" : "crf250(2017)"), s, "1");
    ASSERT_NE(b, nullptr);
    bikes.push_back(b);
    ASSERT_FALSE(track.gates.checkpoints.empty());
    ASSERT_TRUE(place_bike(*b, hf, spread_start(track.gates, s), bike_ground_contacts));
  }

  const double extent = hf.extent;
  const double mid = extent / 2;
  std::vector<BikeState*> order = bikes;
  const int tics = seconds * 128;
  int crashes = 0;
  double top = 0;
  // How far a bike goes on lying over past 50 degrees faster than 5 ft/s with its rider on:
  // a fall slides a little; a bike propped up on its side and driven on would go far.
  std::vector<double> lying(static_cast<size_t>(count), 0.0);
  double longest_lying = 0;
  const auto started = std::chrono::steady_clock::now();
  for (int tic = 0; tic < tics; ++tic) {
    for (size_t k = 0; k < bikes.size(); ++k) {
      BikeState& b = *bikes[k];
      RandomRider& r = riders[k];
      if ((tic + static_cast<int>(k) * 7) % 128 == 0) r.draw();
      for (size_t c = 0; c < RandomRider::kCount; ++c) r.value[c] += (r.target[c] - r.value[c]) / 64;
      const dReal* p = dBodyGetPosition(b.bodies[kFrameBody]);
      const bool near_edge = p[0] < kEdgeBand || p[0] > extent - kEdgeBand ||
                             p[2] < kEdgeBand || p[2] > extent - kEdgeBand;
      for (size_t c = 0; c < RandomRider::kCount; ++c)
        set_control(b, RandomRider::kControls[c], r.value[c]);
      // Now and then a shift either way (held for a tic, so it shifts once).
      const bool shift_now = (tic + static_cast<int>(k) * 13) % 256 == 0;
      const int shift = shift_now ? (random_unit() < 0.5 ? -1 : 1) : 0;
      set_control(b, Control::shift, shift);
      if (near_edge) {
        edge_riders[k].ride(b, mid, mid, tic);
      } else {
        edge_riders[k].side = 0;
      }
    }

    for (BikeState* b : bikes)
      bike_object_contacts(*b, hf, track.objects, track.grid, track.world_width, tic);
    std::stable_sort(order.begin(), order.end(), [](const BikeState* a, const BikeState* b) {
      return frame_speed(*a) > frame_speed(*b);
    });
    for (size_t i = 0; i < order.size(); ++i)
      for (size_t j = i + 1; j < order.size(); ++j) bike_bike_contacts(*order[i], *order[j], false, tic);
    world_step();
    for (BikeState* b : bikes) bike_step(*b, hf, tic);
    if (trace >= 0 && trace < count && tic % 32 == 0) {
      const BikeState& b = *bikes[static_cast<size_t>(trace)];
      const dReal* p = dBodyGetPosition(b.bodies[kFrameBody]);
      std::printf("trace %d tic %d at (%.1f, %.1f, %.1f) ground %.1f speed %.1f up %.2f roll %.2f "
                  "gear %d throttle %.2f steer %.2f lean %.2f sit %.2f front %d rear %d warn %.2f "
                  "crash %d\n",
                  trace, tic, p[0], p[1], p[2],
                  static_cast<double>(ground_height_at(hf, p[0], p[2])), frame_speed(b),
                  frame_up(b), body_roll_angle(b.bodies[kFrameBody]), b.drivetrain.gear,
                  static_cast<double>(b.controls.throttle), static_cast<double>(b.controls.steer),
                  static_cast<double>(b.controls.lean), static_cast<double>(b.controls.sit_dab),
                  b.front_contact.depth > 0 ? 1 : 0, b.rear_contact.depth > 0 ? 1 : 0,
                  static_cast<double>(b.assist.lock_warning), b.crash.counter);
    }

    if (full && (tic + 1) % (128 * 60) == 0) {  // progress of the long run
      int so_far = 0;
      for (const BikeState* b : bikes) so_far += b->crash.count;
      std::printf("soak: %d s, %d crashes, fastest body %.1f ft/s, longest ride lying over "
                  "%.1f ft, %.0f s of wall time\n",
                  (tic + 1) / 128, so_far, top, longest_lying,
                  std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count());
      std::fflush(stdout);
    }
    for (size_t k = 0; k < bikes.size(); ++k) {
      const BikeState& b = *bikes[k];
      const double v = frame_speed(b);
      const bool over = std::abs(body_roll_angle(b.bodies[kFrameBody])) > 0.87266463;
      lying[k] = over && v > 5 && b.crash.counter <= 0 ? lying[k] + v * kTicSeconds : 0;
      if (lying[k] > longest_lying && std::getenv("KS_SOAK_LYING") != nullptr)
        std::printf("lying: bike %zu tic %d %.1f ft\n", k, tic, lying[k]);
      longest_lying = std::max(longest_lying, lying[k]);
    }
    for (const BikeState* b : bikes) {
      for (size_t n = 0; n < b->bodies.size(); ++n) {
        const dReal* p = dBodyGetPosition(b->bodies[n]);
        const dReal* v = dBodyGetLinearVel(b->bodies[n]);
        const double speed = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
        ASSERT_TRUE(std::isfinite(p[0]) && std::isfinite(p[1]) && std::isfinite(p[2]) &&
                    std::isfinite(speed))
            << "bike " << b->slot << " body " << n << " tic " << tic;
        ASSERT_LT(speed, kMaxSpeed) << "bike " << b->slot << " body " << n << " tic " << tic;
        ASSERT_TRUE(p[0] > 0 && p[0] < extent && p[2] > 0 && p[2] < extent)
            << "bike " << b->slot << " body " << n << " left the field at tic " << tic << " at ("
            << p[0] << ", " << p[1] << ", " << p[2] << ") moving at " << speed
            << " ft/s, frame at " << frame_speed(*b) << " ft/s, crash counter "
            << b->crash.counter << ", frame up " << frame_up(*b) << ", gear " << b->drivetrain.gear
            << ", engine " << b->drivetrain.engine_speed << " rad/s, field " << extent;
        ASSERT_GT(p[1], ground_height_at(hf, p[0], p[2]) - kGroundMargin)
            << "bike " << b->slot << " body " << n << " through the ground at tic " << tic;
        top = std::max(top, speed);
      }
    }
  }
  const double wall =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  for (const BikeState* b : bikes) crashes += b->crash.count;
  std::printf("soak: %d bikes for %d s on rabbithill in %.1f s of wall time: %d crashes, "
              "fastest body %.1f ft/s, longest ride lying over %.1f ft\n",
              count, seconds, wall, crashes, top, longest_lying);

  for (BikeState* b : bikes) destroy_bike(b);
  destroy_physics_world();
  free_track();
  free_shape_cache();
  free_roots_and_index();
}

}  // namespace
}  // namespace ks
