#include "physics/drivetrain.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include <ode/ode.h>

#include "physics/bike.h"
#include "physics/bike_catalog.h"
#include "physics/bike_setup.h"
#include "physics/bike_state.h"
#include "physics/world.h"

namespace ks {
namespace {

constexpr double kPi = std::numbers::pi;

const BikeModelInfo& model(const char* name) { return bike_model(find_bike_model_exact(name)); }

TEST(Engine, TorqueBetweenTheCurves) {
  const BikeModelInfo& m = model("cr125");
  const auto& closed = m.closed_throttle_torque;
  const auto& full = m.full_throttle_torque;
  struct Case {
    double rpm, throttle, want;
  };
  const Case cases[] = {
      {0, 0, closed[0]},
      {0, 1, full[0]},
      {-3000, 1, full[0]},  // running backwards reads the first entry
      {250, 1, (full[0] + full[1]) / 2},
      {10000, 0.5, (closed[20] + full[20]) / 2},
      {10250, 0.25, 0.75 * (closed[20] + closed[21]) / 2 + 0.25 * (full[20] + full[21]) / 2},
      {24500, 1, full[49]},  // the curves hold their last entry beyond it
      {30000, 1, full[49]},
      {30000, 0, closed[49]},
  };
  for (const Case& c : cases)
    EXPECT_NEAR(engine_torque_at(m, c.rpm, c.throttle), c.want, 1e-5)
        << "rpm " << c.rpm << " throttle " << c.throttle;
}

TEST(Engine, WheelieStop) {
  struct Case {
    bool flag, front, rear;
    double pitch_rate;
    bool cuts;
  };
  const Case cases[] = {
      {true, false, true, 0, true},        // front up, rear down, nose not falling
      {true, false, true, 1, true},
      {true, false, true, -0.1, false},    // already coming down
      {true, true, true, 0, false},        // both wheels down
      {true, false, false, 0, false},      // in the air
      {false, false, true, 0, false},
  };
  for (const Case& c : cases)
    EXPECT_EQ(wheelie_stop_cuts(c.flag, c.front, c.rear, c.pitch_rate), c.cuts)
        << c.flag << c.front << c.rear << " " << c.pitch_rate;
}

TEST(Gearbox, ShiftInputsAndLimits) {
  const BikeModelInfo& five = model("cr125");  // ratio of sixth <= 0
  ASSERT_EQ(top_gear(five), 4);
  const BikeModelInfo& six = model("rs50cr");
  ASSERT_EQ(top_gear(six), 5);
  struct Case {
    const BikeModelInfo* m;
    int gear;
    float last, s;
    bool crashed;
    int want;
    float want_last;
  };
  const Case cases[] = {
      {&five, 0, 0, -1, false, 0, -1},  // down from first stays in first
      {&five, 4, 0, 1, false, 4, 1},    // up from fifth of a five-speed stays in fifth
      {&six, 4, 0, 1, false, 5, 1},
      {&five, 2, 0, 1, false, 3, 1},
      {&five, 2, 1, 1, false, 2, 1},    // held key: shifts once
      {&five, 2, 1, 0, false, 2, 0},    // release
      {&five, 2, 0, 1, true, 2, 0},     // crashed: ignored
      {&five, 2, 0, 2, false, 2, 0},    // not a shift input
      {&five, 2, 0, 0.5f, false, 2, 0},
  };
  for (const Case& c : cases) {
    float last = c.last;
    EXPECT_EQ(shifted_gear(*c.m, c.gear, last, c.s, c.crashed), c.want)
        << "gear " << c.gear << " s " << c.s;
    EXPECT_EQ(last, c.want_last);
  }
  EXPECT_EQ(usable_gear(five, 5), 4);
  EXPECT_EQ(usable_gear(five, 9), 4);
  EXPECT_EQ(usable_gear(five, -3), 0);
}

// (The rs50cr row is left out: its first-to-second step is wider than its upshift to
// downshift rpm band, so a look right after the upshift shifts it back down.)
TEST(Gearbox, AutomaticShiftingClimbsAsTheWheelSpeedsUp) {
  for (const char* name : {"cr125", "crf250(2017)", "yz450f(2018)"}) {
    const BikeModelInfo& m = model(name);
    const BikeTuning t = default_tuning(m);
    int gear = 0;
    int shifts = 0;
    for (double rate = 0; rate < 200; rate += 0.5) {
      const int next = auto_shift_gear(m, gear, t.final_drive_ratio, rate);
      ASSERT_GE(next, gear) << name << " rate " << rate;  // never down while speeding up
      ASSERT_LE(next, gear + 1);
      if (next > gear) {
        ++shifts;
        // It shifts once the engine would pass the upshift rpm in the old gear.
        EXPECT_GT(total_ratio(m, gear, t.final_drive_ratio) * rate * kRadPerSecToRpm,
                  m.upshift_rpm);
      }
      gear = next;
    }
    EXPECT_EQ(gear, top_gear(m)) << name;
    EXPECT_EQ(shifts, top_gear(m)) << name;
    // Slowing right down comes back to first.
    EXPECT_EQ(auto_shift_gear(m, 1, t.final_drive_ratio, 0), 0) << name;
    EXPECT_EQ(auto_shift_gear(m, 0, t.final_drive_ratio, 0), 0) << name;
  }
}

TEST(Clutch, AutoClutchEngagement) {
  struct Case {
    double rpm, auto_rpm, input, want;
  };
  const Case cases[] = {
      {5000, 5000, 1, 0},  {4000, 5000, 1, 0},     {6000, 5000, 1, 0.5},
      {7000, 5000, 1, 1},  {9000, 5000, 1, 1},     {6000, 5000, 0.3, 0.3},
      {9000, 5000, 0.3, 0.3}, {9000, 5000, 0, 0},  {1000, 0, 1, 0.5},
  };
  for (const Case& c : cases)
    EXPECT_NEAR(clutch_engagement(c.rpm, c.auto_rpm, c.input), c.want, 1e-12)
        << "rpm " << c.rpm << " input " << c.input;
}

ClutchStepIn cr125_first_gear() {
  const BikeModelInfo& m = model("cr125");
  const BikeTuning t = default_tuning(m);
  ClutchStepIn in;
  in.ratio = total_ratio(m, 0, t.final_drive_ratio);
  in.stiffness = m.drivetrain_stiffness;
  in.damping = m.drivetrain_damping;
  in.crank_inertia = m.crank_inertia;
  in.auto_clutch_rpm = t.assists.auto_clutch_rpm;
  in.clutch_input = 1;
  return in;
}

TEST(Clutch, AutoClutchOpensOnPullButNotOnEngineBraking) {
  ClutchStepIn in = cr125_first_gear();
  in.engine_speed = 5000 / kRadPerSecToRpm;
  // Engine ahead of the wheel: the drivetrain pulls, the clutch is open.
  in.engine_angle = 0.2;
  ClutchStepOut out = clutch_step(in);
  EXPECT_EQ(out.engagement, 0);
  EXPECT_EQ(out.applied_torque, 0);
  // Wheel ahead of the engine: the clutch input decides.
  in.engine_angle = -0.2;
  in.wheel_rate = 2 * in.engine_speed / in.ratio;
  out = clutch_step(in);
  EXPECT_EQ(out.engagement, 1);
  EXPECT_LT(out.applied_torque, 0);
}

TEST(Clutch, WindUpWrapsAndTorqueIsStiffnessTimesWindUp) {
  ClutchStepIn in = cr125_first_gear();
  in.engine_speed = 9000 / kRadPerSecToRpm;
  in.wheel_rate = in.engine_speed / in.ratio;  // no damping term
  in.crank_inertia = 1e9;                      // engine speed stays
  in.wheel_angle = 3.0;
  in.engine_angle = 3.0 + 0.1 - 2 * kPi;  // 0.1 ahead across the wrap
  const ClutchStepOut out = clutch_step(in);
  EXPECT_NEAR(out.applied_torque, in.stiffness * 0.1, 1e-6);
  EXPECT_FALSE(out.slipping);
  EXPECT_LE(out.engine_angle, kPi);
  EXPECT_GE(out.engine_angle, -kPi);
}

// Engine at speed, rear wheel stopped, clutch dropped: the clutch slips at first, then the
// wheel catches up and it locks, with engine and wheel turning together.
TEST(Clutch, SlipsThenLocks) {
  ClutchStepIn in = cr125_first_gear();
  in.auto_clutch_rpm = 0;
  const double wheel_inertia = 8;  // slug ft^2: the bike and rider seen at the rear axle
  in.engine_speed = 9000 / kRadPerSecToRpm;
  in.engine_torque = 10;
  double wheel_rate = 0, wheel_angle = 0;
  int slipping_first = 0, slipping_last = 0;
  const int steps = 4 * 128;
  for (int i = 0; i < steps; ++i) {
    in.wheel_angle = wheel_angle;
    in.wheel_rate = wheel_rate;
    const ClutchStepOut out = clutch_step(in);
    ASSERT_TRUE(std::isfinite(out.engine_speed));
    if (out.slipping && i < 16) ++slipping_first;
    if (out.slipping && i >= steps - 128) ++slipping_last;
    in.engine_angle = out.engine_angle;
    in.engine_speed = out.engine_speed;
    wheel_rate += in.h * out.applied_torque / wheel_inertia;
    wheel_angle = wrap_angle(wheel_angle + in.h * wheel_rate);
  }
  EXPECT_GT(slipping_first, 0);
  EXPECT_EQ(slipping_last, 0);
  EXPECT_GT(wheel_rate, 0);
  EXPECT_NEAR(in.engine_speed, in.ratio * wheel_rate, 0.02 * in.engine_speed);
}

TEST(Clutch, NoRatioMeansNoTorqueAndNoNaN) {
  ClutchStepIn in = cr125_first_gear();
  in.ratio = 0;
  in.engine_speed = 500;
  in.engine_angle = 0.3;
  in.engine_torque = 10;
  const ClutchStepOut out = clutch_step(in);
  EXPECT_EQ(out.applied_torque, 0);
  EXPECT_TRUE(std::isfinite(out.engine_speed));
  EXPECT_TRUE(std::isfinite(out.engine_angle));
}

TEST(Brakes, AntilockAndFlipRule) {
  struct Case {
    double input;
    bool antilock, touches;
    double slide;
    bool flip_rule, other;
    double want;
  };
  const Case cases[] = {
      {1, true, true, 3, false, true, 0},      // sliding at 3 ft/s: released
      {1, true, true, 1, false, true, 250},    // rolling: full torque
      {1, true, true, 2, false, true, 250},    // at the limit
      {1, false, true, 3, false, true, 250},   // no antilock
      {1, true, false, 3, false, true, 250},   // in the air nothing slides
      {0.5, false, true, 0, false, true, 125},
      {1, false, true, 0, true, false, 0},     // front down, rear up: would flip
      {1, false, true, 0, true, true, 250},
      {1, false, false, 0, true, false, 250},
  };
  for (const Case& c : cases)
    EXPECT_EQ(brake_torque(250, c.input, c.antilock, c.touches, c.slide, c.flip_rule, c.other),
              c.want)
        << "input " << c.input << " slide " << c.slide;
}

TEST(Angles, WrapIntoHalfOpenRange) {
  EXPECT_NEAR(wrap_angle(0.5), 0.5, 1e-12);
  EXPECT_NEAR(wrap_angle(kPi), kPi, 1e-12);
  EXPECT_NEAR(wrap_angle(-kPi), kPi, 1e-12);
  EXPECT_NEAR(wrap_angle(3 * kPi + 0.25), -kPi + 0.25, 1e-9);
  EXPECT_EQ(wrap_angle(std::nan("")), 0);
}

class DrivetrainBike : public ::testing::Test {
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
  dJointID joint(int j) const { return bike->joints[static_cast<size_t>(j)]; }
  dBodyID body(int b) const { return bike->bodies[static_cast<size_t>(b)]; }
  BikeState* bike = nullptr;
};

TEST_F(DrivetrainBike, AntilockReleasesASlidingFrontWheel) {
  bike->controls.front_brake = 1;
  bike->controls.rear_brake = 0.5;
  bike->front_contact.depth = 0.01f;
  bike->rear_contact.depth = 0.01f;
  bike->front_contact.point_velocity = {0, 0, 3};  // locked and sliding
  drivetrain_step(*bike, 1);
  EXPECT_EQ(dJointGetHingeParam(joint(kFrontAxleJoint), dParamFMax), 0);
  EXPECT_EQ(dJointGetHingeParam(joint(kFrontAxleJoint), dParamVel), 0);
  EXPECT_NEAR(dJointGetHingeParam(joint(kRearAxleJoint), dParamFMax), 125, 1e-9);
  // The next tic it grips again and the brake comes back.
  bike->front_contact.point_velocity = {0, 0, 0.5f};
  drivetrain_step(*bike, 2);
  EXPECT_NEAR(dJointGetHingeParam(joint(kFrontAxleJoint), dParamFMax), 250, 1e-9);
  // Rear wheel up on a stoppie: the flip rule lets the front go.
  bike->rear_contact.depth = 0;
  drivetrain_step(*bike, 3);
  EXPECT_EQ(dJointGetHingeParam(joint(kFrontAxleJoint), dParamFMax), 0);
}

TEST_F(DrivetrainBike, WheelieStopCutsTheEngine) {
  bike->controls.throttle = 1;
  bike->drivetrain.engine_speed = static_cast<float>(9000 / kRadPerSecToRpm);
  bike->rear_contact.depth = 0.01f;
  bike->front_contact.depth = 0;
  EXPECT_GT(engine_torque(*bike), 0);
  set_flag(bike->tuning, 0, kFlagStopWheelies, true);
  EXPECT_EQ(engine_torque(*bike), 0);
  // Nose already dropping: the engine pulls again.
  dBodySetAngularVel(body(kFrameBody), -0.5, 0, 0);
  EXPECT_GT(engine_torque(*bike), 0);
}

TEST_F(DrivetrainBike, AutomaticShiftingUpWithLoadedRearEvery32Tics) {
  set_flag(bike->tuning, 0, kFlagAutoShift, true);
  // Squat the swingarm a little and spin the rear wheel forwards.
  dMatrix3 r;
  dRFromAxisAndAngle(r, 1, 0, 0, 0.05);
  dBodySetRotation(body(kSwingarmBody), r);
  const double a = dJointGetHingeAngle(joint(kSwingarmJoint));
  if (a > 0) {
    dRFromAxisAndAngle(r, 1, 0, 0, -0.05);
    dBodySetRotation(body(kSwingarmBody), r);
  }
  ASSERT_LT(dJointGetHingeAngle(joint(kSwingarmJoint)), -0.01);
  const BikeModelInfo& m = bike_model(bike->model);
  const double upshift_rate =
      m.upshift_rpm / kRadPerSecToRpm / total_ratio(m, 0, bike->tuning.final_drive_ratio);
  dBodySetAngularVel(body(kRearWheelBody), -1.2 * upshift_rate, 0, 0);
  ASSERT_GT(dJointGetHingeAngleRate(joint(kRearAxleJoint)), upshift_rate);

  drivetrain_step(*bike, 33);  // not a shift tic
  EXPECT_EQ(bike->drivetrain.gear, 0);
  drivetrain_step(*bike, 64);
  EXPECT_EQ(bike->drivetrain.gear, 1);
  // Rear wheel sliding: no shift.
  bike->rear_contact.depth = 0.01f;
  bike->rear_contact.point_velocity = {0, 0, 5};
  drivetrain_step(*bike, 96);
  EXPECT_EQ(bike->drivetrain.gear, 1);
}

TEST_F(DrivetrainBike, DriveTorqueTurnsTheRearWheelForwards) {
  bike->controls.clutch = 1;
  bike->drivetrain.engine_speed = static_cast<float>(9000 / kRadPerSecToRpm);
  bike->drivetrain.windup = 0.1f;
  drivetrain_step(*bike, 1);
  EXPECT_GT(bike->drivetrain.drive_torque, 0);
  EXPECT_EQ(bike->drivetrain.clutch_engagement, 1);
  const dReal* t = dBodyGetTorque(body(kRearWheelBody));
  EXPECT_LT(t[0], 0);
  dWorldStep(g_physics.world, kTicSeconds);
  EXPECT_GT(dJointGetHingeAngleRate(joint(kRearAxleJoint)), 0);
}

TEST_F(DrivetrainBike, ShiftGearIgnoredWhileCrashed) {
  shift_gear(*bike, 1);
  EXPECT_EQ(bike->drivetrain.gear, 1);
  shift_gear(*bike, 1);
  EXPECT_EQ(bike->drivetrain.gear, 1);
  shift_gear(*bike, 0);
  bike->crash.counter = 10;
  shift_gear(*bike, 1);
  EXPECT_EQ(bike->drivetrain.gear, 1);
}

}  // namespace
}  // namespace ks
