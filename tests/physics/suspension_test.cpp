#include "physics/suspension.h"

#include <gtest/gtest.h>

#include <cmath>

#include <ode/ode.h>

#include "physics/bike.h"
#include "physics/bike_catalog.h"
#include "physics/bike_setup.h"
#include "physics/bike_state.h"
#include "physics/world.h"

namespace ks {
namespace {

const BikeModelInfo& cr125() { return bike_model(find_bike_model_exact("cr125")); }

TEST(Damper, ForceAtStatedPoints) {
  struct Case {
    double w, c_ch, c_cl, c_rh, c_rl, want;
  };
  const Case cases[] = {
      {0, 10, 2, 10, 2, 0},          // standing still: no force, whatever the offset
      {1, 0, 0, 10, 2, -12},         // rebound: linear plus offset
      {1, 0, 0, 10, -20, -1.25},     // offset pulls it below an eighth: held at a/8
      {1, 0, 0, 10, 100, -80},       // offset pushes past eight times: held at 8a
      {-1, 10, 2, 0, 0, 12},         // compression
      {-1, 10, -20, 0, 0, 1.25},
      {-1, 10, 100, 0, 0, 80},
      {-0.5, 4, 0, 99, 99, 2},       // compression ignores the rebound pair
      {0.5, 99, 99, 4, 0, -2},       // and rebound the compression pair
  };
  for (const Case& c : cases)
    EXPECT_NEAR(damper_force(c.w, c.c_ch, c.c_cl, c.c_rh, c.c_rl), c.want, 1e-9)
        << "w " << c.w << " offsets " << c.c_cl << " " << c.c_rl;
}

TEST(Damper, StifferClickerMoreForceBothWays) {
  for (double w : {-2.0, -0.1, 0.1, 2.0}) {
    double last = 0;
    for (double c = 1; c <= 64; c *= 2) {
      const double f = std::abs(damper_force(w, c, 0.5, c, 0.5));
      EXPECT_GT(f, last) << "w " << w << " coefficient " << c;
      last = f;
    }
  }
}

TEST(Fork, AirSpringOfACr125) {
  const BikeModelInfo& m = cr125();
  BikeTuning t = default_tuning(m);
  set_fork(t, m, Suspension::oil_level, 0.5);
  ASSERT_FLOAT_EQ(m.fork_travel, 1.0f);
  EXPECT_NEAR(t.fork.air_gap, 0.33333, 1e-4);
  EXPECT_NEAR(fork_air_force(m.fork_travel, t.fork.air_gap, 0.5), 76.8, 0.1);
  EXPECT_NEAR(fork_air_force(1, 0.33333, 0), 0, 1e-9);
  // Fully bottomed with no gap left: stays finite.
  EXPECT_TRUE(std::isfinite(fork_air_force(1, 0, 1)));
}

TEST(Fork, TopOutFadeOverTheLastThirtySecond) {
  const BikeModelInfo& m = cr125();
  const BikeTuning t = default_tuning(m);
  const double travel = m.fork_travel;
  const auto unfaded = [&](double x, double v) {
    const ForkParams& f = t.fork;
    return fork_air_force(travel, f.air_gap, -x) +
           damper_force(v, f.compression, f.slow_compression, f.rebound, f.slow_rebound) +
           (f.preload - x) * f.spring_rate;
  };
  for (double v : {-1.0, 0.0, 1.0}) {
    EXPECT_EQ(fork_force_at(t.fork, travel, 0, v), 0) << "fully extended, v " << v;
    EXPECT_NEAR(fork_force_at(t.fork, travel, -travel / 64, v), unfaded(-travel / 64, v) / 2,
                1e-6);
    for (double x : {-travel / 32, -travel / 2, -travel})
      EXPECT_NEAR(fork_force_at(t.fork, travel, x, v), unfaded(x, v), 1e-6) << "x " << x;
  }
  // Fully extended with the largest preload: still nothing.
  BikeTuning hard = t;
  set_fork(hard, m, Suspension::preload, 1);
  EXPECT_EQ(fork_force_at(hard.fork, travel, 0, 0), 0);
}

TEST(Fork, StifferSettingsPushHarder) {
  const BikeModelInfo& m = cr125();
  const double travel = m.fork_travel;
  struct Case {
    Suspension key;
    double v;  // compressing for the compression clicker, extending for rebound
    double lo, hi;
  };
  const Case cases[] = {
      {Suspension::spring_rate, 0, 0, 1},     {Suspension::preload, 0, 0, 1},
      {Suspension::oil_level, 0, 0, 1},       {Suspension::compression, -1, 0.5, 3},
      {Suspension::slow_compression, -0.2, -1, 1},
  };
  for (const Case& c : cases) {
    BikeTuning soft = default_tuning(m), stiff = default_tuning(m);
    set_fork(soft, m, c.key, c.lo);
    set_fork(stiff, m, c.key, c.hi);
    EXPECT_GT(fork_force_at(stiff.fork, travel, -0.5, c.v),
              fork_force_at(soft.fork, travel, -0.5, c.v))
        << "key " << static_cast<int>(c.key);
  }
  // Stiffer rebound holds an extending fork back harder.
  BikeTuning soft = default_tuning(m), stiff = default_tuning(m);
  set_fork(soft, m, Suspension::rebound, 0.5);
  set_fork(stiff, m, Suspension::rebound, 3);
  EXPECT_LT(fork_force_at(stiff.fork, travel, -0.5, 2), fork_force_at(soft.fork, travel, -0.5, 2));
}

TEST(Fork, ForceRisesWithCompression) {
  const BikeModelInfo& m = cr125();
  const BikeTuning t = default_tuning(m);
  double last = 0;
  for (int i = 2; i <= 32; ++i) {
    const double f = fork_force_at(t.fork, m.fork_travel, -m.fork_travel * (i / 32.0), 0);
    EXPECT_GT(f, last) << i;
    last = f;
  }
}

TEST(Linkage, EndsAndKnotHitTheirValues) {
  const BikeModelInfo& m = cr125();
  struct Case {
    double u, stroke, leverage;
  };
  const Case cases[] = {
      {0, 0, m.link_slope_start},
      {m.link_knot, m.link_stroke_knot, m.link_slope_knot},
      {1, m.link_stroke_end, m.link_slope_end},
      {-1, 0, m.link_slope_start},  // clamped
      {2, m.link_stroke_end, m.link_slope_end},
  };
  for (const Case& c : cases) {
    const LinkagePoint p = linkage_curve(m, c.u);
    EXPECT_NEAR(p.stroke, c.stroke, 1e-6) << "u " << c.u;
    EXPECT_NEAR(p.leverage, c.leverage, 1e-6) << "u " << c.u;
  }
  // Both segments meet at the knot.
  const double q = m.link_knot;
  EXPECT_NEAR(linkage_curve(m, q - 1e-9).stroke, linkage_curve(m, q + 1e-9).stroke, 1e-6);
  EXPECT_NEAR(linkage_curve(m, q - 1e-9).leverage, linkage_curve(m, q + 1e-9).leverage, 1e-5);
}

TEST(Linkage, LeverageIsTheSlopeOfTheStrokeAndStrokeRises) {
  for (const BikeModelInfo& m : bike_catalog()) {
    double last = -1;
    for (int i = 1; i < 100; ++i) {
      const double u = i / 100.0;
      const double e = 1e-6;
      const LinkagePoint p = linkage_curve(m, u);
      const double slope =
          (linkage_curve(m, u + e).stroke - linkage_curve(m, u - e).stroke) / (2 * e);
      ASSERT_NEAR(p.leverage, slope, 1e-4) << m.name.data() << " u " << u;
      ASSERT_GT(p.stroke, last) << m.name.data() << " u " << u;
      last = p.stroke;
    }
  }
}

TEST(Shock, FadeAndStiffness) {
  const BikeModelInfo& m = cr125();
  const BikeTuning t = default_tuning(m);
  const double theta = m.swingarm_travel_angle;
  EXPECT_EQ(shock_torque_at(t.shock, m, 0, -1), 0);
  const double full = shock_torque_at(t.shock, m, -theta / 64, 0);
  // Just inside the fade: half of the unfaded value, computed by hand.
  const LinkagePoint p = linkage_curve(m, 1.0 / 64);
  const ShockParams& s = t.shock;
  EXPECT_NEAR(full, (p.stroke + s.preload) * s.spring_rate * p.leverage / 2, 1e-6);
  EXPECT_GT(shock_torque_at(t.shock, m, -theta, 0), shock_torque_at(t.shock, m, -theta / 2, 0));

  const struct {
    Suspension key;
    double omega, lo, hi;
  } cases[] = {
      {Suspension::spring_rate, 0, 0, 1},
      {Suspension::preload, 0, 0, 1},
      {Suspension::compression, -1, 0.5, 3},
  };
  for (const auto& c : cases) {
    BikeTuning soft = default_tuning(m), stiff = default_tuning(m);
    set_shock(soft, m, c.key, c.lo);
    set_shock(stiff, m, c.key, c.hi);
    EXPECT_GT(shock_torque_at(stiff.shock, m, -theta / 2, c.omega),
              shock_torque_at(soft.shock, m, -theta / 2, c.omega))
        << "key " << static_cast<int>(c.key);
  }
}

TEST(SuspensionMotor, PushOpensHoldOnlyHolds) {
  EXPECT_EQ(suspension_motor(30).velocity, 100);
  EXPECT_EQ(suspension_motor(30).max_force, 30);
  EXPECT_EQ(suspension_motor(0).velocity, 100);
  EXPECT_EQ(suspension_motor(-30).velocity, 0);
  EXPECT_EQ(suspension_motor(-30).max_force, 30);
  EXPECT_EQ(suspension_motor(std::nan("")).max_force, 0);
}

class SuspensionBike : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(create_physics_world());
    bike = create_bike("cr125", 0, "1");
    ASSERT_NE(bike, nullptr);
  }
  void TearDown() override {
    destroy_bike(bike);
    destroy_physics_world();
  }
  BikeState* bike = nullptr;
};

TEST_F(SuspensionBike, MotorsCarryTheForces) {
  const BikeModelInfo& m = bike_model(bike->model);
  // At rest both are fully extended: no force.
  EXPECT_EQ(fork_force(*bike), 0);
  EXPECT_EQ(shock_torque(*bike), 0);
  EXPECT_EQ(dJointGetSliderParam(bike->joints[kForkJoint], dParamFMax), 0);

  // Push the lower fork half way up the slider.
  const dJointID fork = bike->joints[kForkJoint];
  dVector3 axis;
  dJointGetSliderAxis(fork, axis);
  const dBodyID lower = bike->bodies[kForkLowerBody];
  const dReal* p = dBodyGetPosition(lower);
  const double half = m.fork_travel / 2;
  dBodySetPosition(lower, p[0] + axis[0] * half, p[1] + axis[1] * half, p[2] + axis[2] * half);
  const double x = dJointGetSliderPosition(fork);
  ASSERT_NEAR(x, -half, 1e-6);
  const double f = fork_force(*bike);
  EXPECT_NEAR(f, fork_force_at(bike->tuning.fork, m.fork_travel, x, 0), 1e-9);
  EXPECT_GT(f, 0);
  EXPECT_EQ(dJointGetSliderParam(fork, dParamVel), 100);
  EXPECT_NEAR(dJointGetSliderParam(fork, dParamFMax), f, 1e-9);
}

}  // namespace
}  // namespace ks
