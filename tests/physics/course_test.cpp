// Riding over simple features built in code: a tabletop jump, a row of whoops and a
// bermed turn. At moderate speed the bike stays up or crashes cleanly; nothing explodes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>

#include "fs/vfs.h"
#include "physics/bike.h"
#include "physics/bike_catalog.h"
#include "physics/bike_setup.h"
#include "physics/bike_state.h"
#include "physics/bike_step.h"
#include "physics/rider.h"
#include "physics/terrain_contact.h"
#include "physics/world.h"
#include "support/test_support.h"
#include "track/collision_shape.h"
#include "track/heightfield.h"

namespace ks {
namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kLaneX = 513;     // the bike starts on this line, riding towards -z
constexpr double kStartZ = 960;
constexpr double kBermRadius = 50;  // centre line of the berm, centred left of the lane

using Profile = std::function<double(double x, double z)>;

// A tabletop: 20 ft up to 5 ft, 30 ft of top, 30 ft down.
double tabletop(double, double z) {
  if (z > 800 || z < 720) return 0;
  if (z > 780) return 5 * (800 - z) / 20;
  if (z > 750) return 5;
  return 5 * (z - 720) / 30;
}

// Eight whoops, 2 ft high, 12.5 ft apart.
double whoops(double, double z) {
  if (z > 820 || z < 720) return 0;
  return 1 - std::cos(2 * kPi * (820 - z) / 12.5);
}

// A ring whose outer half banks up at 1 in 2 to 6 ft, then falls away.
double berm(double x, double z) {
  const double rho = std::hypot(x - (kLaneX - kBermRadius), z - 760);
  if (rho <= kBermRadius || rho >= kBermRadius + 20) return 0;
  if (rho <= kBermRadius + 12) return 0.5 * (rho - kBermRadius);
  return 6 * (kBermRadius + 20 - rho) / 8;
}

struct Ride {
  int crashes = 0;
  double top_speed = 0;
  double air = 0;  // longest time with neither wheel down
  double turned = 0;
};

class CourseTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // The generated data tree supplies the body shapes, so that a fallen bike and rider
    // lie on the ground instead of sinking through it.
    if (!test::file_exists(test::data_dir() + "/zzzz.saf")) {
      GTEST_SKIP() << "no generated data tree in " << test::data_dir();
    }
    test::use_roots(home.path(), test::data_dir());
    build_index();
    free_shape_cache();  // shapes an earlier test cached from other roots
    ASSERT_TRUE(create_physics_world());
    reset_bike_step_module();
    reset_rider_module();
  }
  void TearDown() override {
    destroy_bike(bike);
    destroy_physics_world();
    free_shape_cache();
    free_roots_and_index();
  }

  void build(const Profile& p) {
    ASSERT_TRUE(init_height_field(hf, 8, 2.0f, 0.0f));
    TileInfo& m = hf.materials[0];
    m.friction = {};
    m.friction[0] = {1.1f, 2};
    m.friction[1] = {0.85f, 15};
    m.friction[2] = {0.7f, 40};
    m.friction_count = 3;
    for (int j = 0; j < hf.size; ++j)
      for (int i = 0; i < hf.size; ++i)
        set_height_sample(hf, i, j, static_cast<float>(p(i * 2.0, j * 2.0)));
    bike = create_bike("cr125", 0, "1");
    ASSERT_NE(bike, nullptr);
    for (const auto& s : bike->shapes) ASSERT_TRUE(s.has_value());
    BikeSetup s;
    reset_bike_setup(s);
    apply_stability_preset(s, 100);
    s.arcade.index = 0;
    setup_to_tuning(s, bike_model(bike->model), bike->tuning);
    ASSERT_TRUE(place_bike(*bike, hf, {kLaneX, kStartZ, 0}, bike_ground_contacts));
  }

  double speed() const {
    const dReal* v = dBodyGetLinearVel(bike->bodies[kFrameBody]);
    return std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
  }
  double heading() const {
    dVector3 f;
    dBodyVectorToWorld(bike->bodies[kFrameBody], 0, 0, -1, f);
    return std::atan2(-f[0], -f[2]);
  }

  // One tic with the checks that catch an explosion.
  void tic() {
    bike_ground_contacts(*bike, hf);
    world_step();
    bike_step(*bike, hf, now++);
    const double extent = hf.extent;
    for (dBodyID b : bike->bodies) {
      const dReal* p = dBodyGetPosition(b);
      const dReal* v = dBodyGetLinearVel(b);
      for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(std::isfinite(p[i]) && std::isfinite(v[i])) << "tic " << now;
      ASSERT_LT(std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]), 200) << "tic " << now;
      ASSERT_GT(p[1], ground_height_at(hf, p[0], p[2]) - 1.0) << "through the ground, tic " << now;
      ASSERT_TRUE(p[0] > 0 && p[0] < extent && p[2] > 0 && p[2] < extent) << "tic " << now;
    }
  }

  // Rides until the frame passes `end_z` (or the time runs out), holding `target` ft/s;
  // `steer` gives the steer input, when there is one.
  Ride ride(double target, double end_z, const std::function<double()>& steer = nullptr) {
    Ride r;
    set_control(*bike, Control::clutch, 1);
    int airborne = 0;
    double last = heading();
    for (int t = 0; t < 128 * 30; ++t) {
      set_control(*bike, Control::throttle, std::clamp(0.5 + (target - speed()) * 0.15, 0.0, 1.0));
      if (steer) set_control(*bike, Control::steer, steer());
      tic();
      if (::testing::Test::HasFatalFailure()) return r;
      r.top_speed = std::max(r.top_speed, speed());
      const bool down = bike->front_contact.depth > 0 || bike->rear_contact.depth > 0;
      airborne = down ? 0 : airborne + 1;
      r.air = std::max(r.air, airborne * kTicSeconds);
      r.turned += std::remainder(heading() - last, 2 * kPi);
      last = heading();
      if (steer ? std::abs(r.turned) > 1.5 * kPi : dBodyGetPosition(bike->bodies[kFrameBody])[2] < end_z)
        break;
    }
    // Whatever happened, give a crash time to recover.
    set_control(*bike, Control::throttle, 0);
    set_control(*bike, Control::steer, 0);
    for (int t = 0; t < 128 * 20 && bike->crash.counter > 0; ++t) {
      tic();
      if (::testing::Test::HasFatalFailure()) return r;
    }
    r.crashes = bike->crash.count;
    return r;
  }

  test::TempDir home;
  HeightField hf;
  BikeState* bike = nullptr;
  int now = 0;
};

TEST_F(CourseTest, TabletopJumpAtForty) {
  build(tabletop);
  if (HasFatalFailure()) return;
  const Ride r = ride(40, 600);
  if (HasFatalFailure()) return;
  std::printf("tabletop at 40 ft/s: %.2f s in the air, %d crashes\n", r.air, r.crashes);
  EXPECT_GT(r.air, 0.25);  // it did fly
  EXPECT_EQ(bike->crash.counter, 0);
}

TEST_F(CourseTest, WhoopsAtThirty) {
  build(whoops);
  if (HasFatalFailure()) return;
  const Ride r = ride(30, 650);
  if (HasFatalFailure()) return;
  std::printf("whoops at 30 ft/s: %.2f s in the air, %d crashes\n", r.air, r.crashes);
  EXPECT_EQ(bike->crash.counter, 0);
}

TEST_F(CourseTest, BermedTurnAtThirty) {
  build(berm);
  if (HasFatalFailure()) return;
  // Aim 20 ft ahead on a circle 4 ft up the bank, turning left.
  const double cx = kLaneX - kBermRadius, cz = 760, radius = kBermRadius + 4;
  const auto steer = [&]() {
    const dReal* p = dBodyGetPosition(bike->bodies[kFrameBody]);
    const double a = std::atan2(p[2] - cz, p[0] - cx) - 20 / radius;
    const double tx = cx + radius * std::cos(a), tz = cz + radius * std::sin(a);
    const double bearing = std::atan2(-(tx - p[0]), -(tz - p[2]));
    return std::clamp(-2.0 * std::remainder(bearing - heading(), 2 * kPi), -1.0, 1.0);
  };
  const Ride r = ride(30, 0, steer);
  if (HasFatalFailure()) return;
  std::printf("berm at 30 ft/s: turned %.0f deg, %d crashes\n", r.turned * 180 / kPi, r.crashes);
  EXPECT_GT(std::abs(r.turned), kPi);
  EXPECT_EQ(bike->crash.counter, 0);
}

}  // namespace
}  // namespace ks
