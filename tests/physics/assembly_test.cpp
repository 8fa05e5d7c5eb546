// Bike assembly: masses, joints, whole-bike operations and placement in a bare world.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "physics/bike.h"
#include "physics/bike_catalog.h"
#include "physics/rider.h"
#include "physics/terrain_contact.h"
#include "physics/world.h"
#include "track/gates.h"
#include "track/heightfield.h"

namespace ks {
namespace {

constexpr double kPi = 3.14159265358979323846;

class AssemblyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(create_physics_world());
    bike = create_bike("cr125", 3, "42");
    ASSERT_NE(bike, nullptr);
  }
  void TearDown() override {
    destroy_bike(bike);
    destroy_physics_world();
  }
  const BikeModelInfo& model() const { return bike_model(bike->model); }
  const dReal* pos(int b) const { return dBodyGetPosition(bike->bodies[static_cast<size_t>(b)]); }
  dJointID joint(int j) const { return bike->joints[static_cast<size_t>(j)]; }
  dBodyID body(int b) const { return bike->bodies[static_cast<size_t>(b)]; }

  BikeState* bike = nullptr;
};

void expect_vec(const dReal* got, double x, double y, double z, double tol, const char* what) {
  EXPECT_NEAR(got[0], x, tol) << what;
  EXPECT_NEAR(got[1], y, tol) << what;
  EXPECT_NEAR(got[2], z, tol) << what;
}

TEST_F(AssemblyTest, Cr125BodyMassesAndTotal) {
  struct Case {
    int body;
    double mass;
  };
  // Default rider mass distribution 1/3 of 4.6875.
  const Case cases[] = {
      {kFrameBody, 3.65375 + 3.125}, {kFrontWheelBody, 0.5625}, {kRearWheelBody, 0.78125},
      {kForkUpperBody, 0.739688},    {kForkLowerBody, 0.739688}, {kSwingarmBody, 0.541875 * 2},
      {kRiderBody, 1.5625},
  };
  double sum = 0;
  for (const Case& c : cases) {
    dMass m;
    dBodyGetMass(body(c.body), &m);
    EXPECT_NEAR(m.mass, c.mass, 1e-5) << "body " << c.body;
    // Centre of mass at the body origin, inertia positive definite on the diagonal.
    EXPECT_NEAR(m.c[0], 0, 1e-12);
    EXPECT_NEAR(m.c[1], 0, 1e-12);
    EXPECT_NEAR(m.c[2], 0, 1e-12);
    EXPECT_GT(m.I[0], 0);
    EXPECT_GT(m.I[5], 0);
    EXPECT_GT(m.I[10], 0);
    sum += c.mass;
  }
  EXPECT_NEAR(bike->total_mass, sum, 1e-4);
  EXPECT_NEAR(bike->total_mass, 12.248126, 1e-4);
}

TEST_F(AssemblyTest, WheelMassIsATorusAroundTheAxle) {
  // Tyre spheres on a circle around x: the inertia about x gains m R^2, about y and z
  // half of it (plus the sphere terms).
  const dMass m = wheel_mass(1.5f, 0.25f, 0.5f, 1.0f, 0.25f);
  const double spheres = 0.4 * 1.5 * 0.25 * 0.25 + 0.4 * 0.25 * 0.5 * 0.5;
  EXPECT_NEAR(m.mass, 1.75, 1e-12);
  EXPECT_NEAR(m.I[0], 1.5 * 1.0 + spheres, 1e-9);
  EXPECT_NEAR(m.I[5], 0.75 + spheres, 1e-9);
  EXPECT_NEAR(m.I[10], 0.75 + spheres, 1e-9);
  EXPECT_NEAR(m.I[1], 0, 1e-12);
  EXPECT_NEAR(m.I[6], 0, 1e-12);
}

TEST_F(AssemblyTest, BodiesStartAtRestPositions) {
  const BikeModelInfo& m = model();
  const BikeVec3 rest[] = {m.frame_pos,      m.front_wheel.pos, m.rear_wheel.pos, m.fork_upper_pos,
                           m.fork_lower_pos, m.swingarm_pos,    m.rider_pos};
  for (int b = 0; b < kBikeBodyCount; ++b) {
    const BikeVec3& r = rest[b];
    expect_vec(pos(b), static_cast<double>(r.x), static_cast<double>(r.y),
               static_cast<double>(r.z), 1e-6, "rest position");
    const dReal* rot = dBodyGetRotation(body(b));
    EXPECT_DOUBLE_EQ(rot[0], 1);
    EXPECT_DOUBLE_EQ(rot[5], 1);
    EXPECT_DOUBLE_EQ(rot[10], 1);
  }
  EXPECT_EQ(bike->slot, 3);
  EXPECT_STREQ(bike->number.data(), "42");
  EXPECT_EQ(bike->front_contact.body, body(kFrontWheelBody));
  EXPECT_EQ(bike->rear_contact.body, body(kRearWheelBody));
  EXPECT_FLOAT_EQ(bike->rear_contact.torus_radius, 0.75f);
}

TEST_F(AssemblyTest, HingeJointsHaveTheirAnchorsAxesAndStops) {
  const double s = 1 / std::sqrt(0.57 * 0.57 + 1.13 * 1.13);  // steering axis (0, 1.13, 0.57)
  struct Case {
    int joint;
    int body1, body2;
    double anchor[3];
    double axis[3];
    double lo, hi;
  };
  const double inf = dInfinity;
  const Case cases[] = {
      {kFrontAxleJoint, kForkLowerBody, kFrontWheelBody, {0, 1.09, 1.11}, {1, 0, 0}, -inf, inf},
      {kRearAxleJoint, kSwingarmBody, kRearWheelBody, {0, 1.04, 6.0}, {1, 0, 0}, -inf, inf},
      {kSteeringJoint, kForkUpperBody, kFrameBody, {0, 2.9, 2.16}, {0, 1.13 * s, 0.57 * s},
       -kPi / 4, kPi / 4},
      {kSwingarmJoint, kSwingarmBody, kFrameBody, {0, 1.6, 4.08}, {1, 0, 0}, -0.530304, 0},
  };
  for (const Case& c : cases) {
    const dJointID j = joint(c.joint);
    ASSERT_EQ(dJointGetType(j), dJointTypeHinge) << c.joint;
    EXPECT_EQ(dJointGetBody(j, 0), body(c.body1));
    EXPECT_EQ(dJointGetBody(j, 1), body(c.body2));
    dVector3 a;
    dJointGetHingeAnchor(j, a);
    expect_vec(a, c.anchor[0], c.anchor[1], c.anchor[2], 1e-5, "anchor");
    dJointGetHingeAxis(j, a);
    expect_vec(a, c.axis[0], c.axis[1], c.axis[2], 1e-5, "axis");
    const double lo = dJointGetHingeParam(j, dParamLoStop);
    const double hi = dJointGetHingeParam(j, dParamHiStop);
    if (std::isinf(c.lo)) EXPECT_EQ(lo, c.lo); else EXPECT_NEAR(lo, c.lo, 1e-6);
    if (std::isinf(c.hi)) EXPECT_EQ(hi, c.hi); else EXPECT_NEAR(hi, c.hi, 1e-6);
    EXPECT_NEAR(dJointGetHingeAngle(j), 0, 1e-12);
    EXPECT_EQ(dJointGetFeedback(j), &bike->joint_feedback[static_cast<size_t>(c.joint)]);
  }
  EXPECT_EQ(dJointGetHingeParam(joint(kSwingarmJoint), dParamBounce), 0);
}

TEST_F(AssemblyTest, ForkSliderAndRiderJoint) {
  const double s = 1 / std::sqrt(0.57 * 0.57 + 1.13 * 1.13);
  const dJointID fork = joint(kForkJoint);
  ASSERT_EQ(dJointGetType(fork), dJointTypeSlider);
  EXPECT_EQ(dJointGetBody(fork, 0), body(kForkUpperBody));
  EXPECT_EQ(dJointGetBody(fork, 1), body(kForkLowerBody));
  dVector3 a;
  dJointGetSliderAxis(fork, a);
  expect_vec(a, 0, 1.13 * s, 0.57 * s, 1e-5, "fork axis");
  EXPECT_NEAR(dJointGetSliderPosition(fork), 0, 1e-12);
  EXPECT_NEAR(dJointGetSliderParam(fork, dParamLoStop), -1.0, 1e-6);
  EXPECT_EQ(dJointGetSliderParam(fork, dParamHiStop), 0);
  EXPECT_EQ(dJointGetSliderParam(fork, dParamBounce), 0);
  EXPECT_EQ(dJointGetFeedback(fork), &bike->joint_feedback[kForkJoint]);

  const dJointID rider = joint(kRiderJoint);
  ASSERT_EQ(dJointGetType(rider), dJointTypeHinge2);
  EXPECT_EQ(dJointGetBody(rider, 0), body(kRiderBody));
  EXPECT_EQ(dJointGetBody(rider, 1), body(kFrameBody));
  dJointGetHinge2Anchor(rider, a);
  expect_vec(a, 0, 4.5, -50, 1e-5, "rider anchor");
  dJointGetHinge2Axis1(rider, a);
  expect_vec(a, 0, std::sqrt(0.5), std::sqrt(0.5), 1e-9, "rider axis 1");
  dJointGetHinge2Axis2(rider, a);
  expect_vec(a, 1, 0, 0, 1e-9, "rider axis 2");
  EXPECT_EQ(dJointGetHinge2Param(rider, dParamLoStop), 0);
  EXPECT_EQ(dJointGetHinge2Param(rider, dParamHiStop), 0);
  EXPECT_EQ(dJointGetFeedback(rider), &bike->joint_feedback[kRiderJoint]);
}

TEST_F(AssemblyTest, CreationDefaults) {
  const BikeModelInfo& m = model();
  EXPECT_NEAR(bike->tuning.final_drive_ratio, 52.0 / 13.0, 1e-6);
  EXPECT_FLOAT_EQ(bike->drivetrain.crank_inertia, m.crank_inertia);
  EXPECT_FLOAT_EQ(bike->tuning.assists.roll_damping, 60);
  EXPECT_NEAR(bike->tuning.assists.restricted_lock_angle, 0.0872665, 1e-6);
  EXPECT_FLOAT_EQ(bike->tuning.assists.max_dab_speed, 30);
  // Fork at spring setting 0.5, oil 0; shock rebound factor 2.
  EXPECT_NEAR(bike->tuning.fork.spring_rate, (322.545 + 860.12) / 2, 1e-2);
  EXPECT_NEAR(bike->tuning.fork.air_gap, 0.416667, 1e-5);
  EXPECT_NEAR(bike->tuning.shock.rebound, 2 * 600, 1e-3);
  EXPECT_NEAR(bike->tuning.shock.slow_rebound, 150, 1e-3);
  EXPECT_EQ(bike->tuning.flags[0], kFlagDirectSteering | kFlagStopFrontFlips |
                                       kFlagFrontAntilock | kFlagRealign);
  EXPECT_EQ(bike->tuning.flags[1], 0);
  EXPECT_EQ(bike->enabled, 1);
  EXPECT_EQ(bike->drivetrain.gear, 0);
}

TEST_F(AssemblyTest, UnknownModelUsesTheFallbackRow) {
  BikeState* other = create_bike("no_such_bike", 0, "1");
  ASSERT_NE(other, nullptr);
  EXPECT_EQ(other->model, find_bike_model_exact("kx250f(2007)"));
  destroy_bike(other);
}

TEST(AssemblyWorld, NoWorldNoBike) {
  destroy_physics_world();
  EXPECT_EQ(create_bike("cr125", 0, "1"), nullptr);
  world_step();  // harmless without a world
}

TEST_F(AssemblyTest, ResetUndoesMotionControlsAndCrash) {
  const BikeModelInfo& m = model();
  for (dBodyID b : bike->bodies) {
    dBodySetPosition(b, 10, 20, 30);
    dBodySetLinearVel(b, 1, 2, 3);
    dBodySetAngularVel(b, 4, 5, 6);
    dBodyAddForce(b, 7, 8, 9);
    dBodyAddTorque(b, 1, 1, 1);
    dMatrix3 r;
    dRFromAxisAndAngle(r, 0, 0, 1, 1.0);
    dBodySetRotation(b, r);
  }
  bike->controls.throttle = 1;
  bike->controls.steer = -0.5f;
  bike->drivetrain.gear = 3;
  bike->drivetrain.engine_speed = 900;
  bike->drivetrain.windup = 0.1f;
  bike->crash.counter = 512;
  bike->crash.count = 2;
  bike->crash.ground_touch = 1;
  bike->rider_feet[0].position = {1, 2, 3};
  bike->rider_velocity_history[2] = {1, 1, 1};
  bike->joint_feedback[kForkJoint].f1[1] = 55;
  bike->front_stroke.point_count = 5;
  bike->rear_stroke.sample_count = 3;
  dJointAttach(joint(kRiderJoint), nullptr, nullptr);  // as a crash does
  disable_bike(*bike);

  reset_bike(*bike);

  for (int b = 0; b < kBikeBodyCount; ++b) {
    const dBodyID id = body(b);
    const dReal* v = dBodyGetLinearVel(id);
    const dReal* w = dBodyGetAngularVel(id);
    const dReal* f = dBodyGetForce(id);
    const dReal* t = dBodyGetTorque(id);
    for (int k = 0; k < 3; ++k) {
      EXPECT_EQ(v[k], 0);
      EXPECT_EQ(w[k], 0);
      EXPECT_EQ(f[k], 0);
      EXPECT_EQ(t[k], 0);
    }
    EXPECT_DOUBLE_EQ(dBodyGetRotation(id)[0], 1);
    EXPECT_TRUE(dBodyIsEnabled(id));
  }
  expect_vec(pos(kFrameBody), 0, 1.98, 3.6, 1e-6, "frame");
  expect_vec(pos(kRiderBody), static_cast<double>(m.rider_pos.x),
             static_cast<double>(m.rider_pos.y), static_cast<double>(m.rider_pos.z), 1e-6, "rider");
  EXPECT_EQ(bike->controls.throttle, 0);
  EXPECT_EQ(bike->controls.steer, 0);
  EXPECT_EQ(bike->drivetrain.gear, 0);
  EXPECT_EQ(bike->drivetrain.engine_speed, 0);
  EXPECT_EQ(bike->drivetrain.windup, 0);
  EXPECT_FLOAT_EQ(bike->drivetrain.crank_inertia, m.crank_inertia);
  EXPECT_EQ(bike->crash.counter, 0);
  EXPECT_EQ(bike->crash.ground_touch, 0);
  EXPECT_EQ(bike->rider_feet[0].position[1], 0);
  EXPECT_EQ(bike->rider_velocity_history[2][0], 0);
  EXPECT_EQ(bike->joint_feedback[kForkJoint].f1[1], 0);
  EXPECT_EQ(bike->front_stroke.point_count, 0);
  EXPECT_EQ(bike->rear_stroke.sample_count, 0);
  EXPECT_EQ(bike->enabled, 1);
  EXPECT_EQ(dJointGetBody(joint(kRiderJoint), 0), body(kRiderBody));
  EXPECT_EQ(dJointGetBody(joint(kRiderJoint), 1), body(kFrameBody));
  dVector3 a;
  dJointGetHinge2Anchor(joint(kRiderJoint), a);
  expect_vec(a, 0, 4.5, -50, 1e-5, "rider anchor after reset");
}

TEST_F(AssemblyTest, TranslateAndOrientMoveEveryBodyButKeepVelocities) {
  for (dBodyID b : bike->bodies) dBodySetLinearVel(b, 1, 0, 0);
  orient_bike(*bike, {0, 1, 0}, kPi / 2);
  // A quarter turn about +y takes +z to +x.
  expect_vec(pos(kFrameBody), 3.6, 1.98, 0, 1e-6, "turned frame");
  expect_vec(pos(kFrontWheelBody), 1.11, 1.09, 0, 1e-6, "turned wheel");
  for (int b = 0; b < kBikeBodyCount; ++b) {
    const dReal* r = dBodyGetRotation(body(b));
    EXPECT_NEAR(r[2], 1, 1e-12);   // row 0, column 2
    EXPECT_NEAR(r[8], -1, 1e-12);  // row 2, column 0
    EXPECT_EQ(dBodyGetLinearVel(body(b))[0], 1);
  }
  // The joints follow: the steering axis turns with the bike.
  dVector3 a;
  dJointGetHingeAxis(joint(kSteeringJoint), a);
  EXPECT_NEAR(a[2], 0, 1e-9);
  EXPECT_GT(a[0], 0);

  translate_bike(*bike, {100, 5, -20});
  expect_vec(pos(kFrameBody), 103.6, 6.98, -20, 1e-6, "moved frame");
  expect_vec(pos(kRiderBody), 104.12, 9.5, -20, 1e-6, "moved rider");
  EXPECT_EQ(dBodyGetLinearVel(body(kRiderBody))[0], 1);
}

TEST_F(AssemblyTest, EnableAfterDisableStartsWithoutAccumulatedForce) {
  disable_bike(*bike);
  EXPECT_EQ(bike->enabled, 0);
  for (dBodyID b : bike->bodies) {
    EXPECT_FALSE(dBodyIsEnabled(b));
    dBodyAddForce(b, 0, 50, 0);
    dBodyAddTorque(b, 3, 0, 0);
  }
  enable_bike(*bike);
  EXPECT_EQ(bike->enabled, 1);
  for (dBodyID b : bike->bodies) {
    EXPECT_TRUE(dBodyIsEnabled(b));
    EXPECT_EQ(dBodyGetForce(b)[1], 0);
    EXPECT_EQ(dBodyGetTorque(b)[0], 0);
  }
  // An enabled bike keeps what was added this tic.
  dBodyAddForce(body(kFrameBody), 0, 50, 0);
  enable_bike(*bike);
  EXPECT_EQ(dBodyGetForce(body(kFrameBody))[1], 50);
}

TEST_F(AssemblyTest, DisabledBikeDoesNotFall) {
  const double y = pos(kFrameBody)[1];
  disable_bike(*bike);
  for (int i = 0; i < 16; ++i) world_step();
  EXPECT_EQ(pos(kFrameBody)[1], y);
  EXPECT_EQ(dBodyGetLinearVel(body(kFrameBody))[1], 0);
}

TEST_F(AssemblyTest, FreeFallFollowsGravity) {
  // The step integrates velocity first: after n steps the drop is g h^2 n (n + 1) / 2.
  const int n = 64;
  for (int i = 0; i < n; ++i) world_step();
  const double t = n * kTicSeconds;
  const double drop = kGravity * kTicSeconds * kTicSeconds * n * (n + 1) / 2;
  for (int b = 0; b < kBikeBodyCount; ++b) {
    const dReal* v = dBodyGetLinearVel(body(b));
    EXPECT_NEAR(v[1], -kGravity * t, 1e-6) << b;
    EXPECT_NEAR(v[0], 0, 1e-6);
    EXPECT_NEAR(v[2], 0, 1e-6);
  }
  EXPECT_NEAR(1.98 - pos(kFrameBody)[1], drop, 1e-6);
  EXPECT_NEAR(drop, 0.5 * kGravity * t * t, 0.02 * drop);
  // Falling together, the joints keep the bike's shape.
  expect_vec(pos(kRearWheelBody), 0, 1.04 - drop, 6.0, 1e-6, "rear wheel");
  EXPECT_NEAR(dJointGetSliderPosition(joint(kForkJoint)), 0, 1e-6);
}

TEST(AssemblyStart, StartPositions) {
  HeightField hf;
  ASSERT_TRUE(init_height_field(hf, 3, 4.0f));  // 16 x 16 samples of 4 ft: extent 64
  TimingGates none;
  StartPosition p = bike_start_position(none, hf, 2);
  EXPECT_DOUBLE_EQ(p.x, 32 + 10);
  EXPECT_DOUBLE_EQ(p.z, 32);
  EXPECT_DOUBLE_EQ(p.angle, 0);

  TimingGates gates;
  gates.start.resize(2);
  gates.start[0].slot = {10, 0, 20};
  gates.start[0].angle = 0;
  gates.start[1].slot = {14, 0, 20};
  gates.start[1].angle = static_cast<float>(kPi / 2);
  p = bike_start_position(gates, hf, 2);  // gate 0, second row
  EXPECT_NEAR(p.x, 10, 1e-9);
  EXPECT_NEAR(p.z, 20 + 1.0625 * 10, 1e-5);
  p = bike_start_position(gates, hf, 1);  // gate 1, first row, facing +x
  EXPECT_NEAR(p.x, 14 + 0.625, 1e-5);
  EXPECT_NEAR(p.z, 20, 1e-5);
  EXPECT_NEAR(p.angle, kPi / 2, 1e-6);
}

// A stand-in for the ground test: the bike "touches" while its front wheel is below 3 ft,
// and, as contacts would, leaves a one-step joint pinning the frame where it is.
bool touches_below_three(BikeState& bike, const HeightField&) {
  const dBodyID frame = bike.bodies[kFrameBody];
  const dJointID pin = dJointCreateBall(g_physics.world, g_physics.contact_group);
  dJointAttach(pin, frame, nullptr);
  const dReal* p = dBodyGetPosition(frame);
  dJointSetBallAnchor(pin, p[0], p[1], p[2]);
  return dBodyGetPosition(bike.bodies[kFrontWheelBody])[1] < 3.0 + 1.09 - 1e-9;
}
bool always_touches(BikeState&, const HeightField&) { return true; }

TEST_F(AssemblyTest, PlacementRisesUntilClearAndDropsStaleContacts) {
  HeightField hf;
  ASSERT_TRUE(init_height_field(hf, 3, 4.0f, 1.0f));
  const StartPosition at{20, 24, kPi};
  bike->controls.throttle = 1;
  ASSERT_TRUE(place_bike(*bike, hf, at, touches_below_three));
  // Starts at the sample height 1 and rises by 0.25 until the wheel is 3 ft up.
  EXPECT_NEAR(pos(kFrontWheelBody)[1], 3.0 + 1.09, 1e-6);
  // A half turn: the frame, 3.6 ft behind the origin, ends 3.6 ft towards -z.
  expect_vec(pos(kFrameBody), 20, 3.0 + 1.98, 24 - 3.6, 1e-6, "placed frame");
  EXPECT_EQ(bike->controls.throttle, 0);
  // The pins of the rejected tries are gone: the bike falls freely.
  world_step();
  EXPECT_NEAR(dBodyGetLinearVel(body(kFrameBody))[1], -kGravity * kTicSeconds, 1e-9);

  EXPECT_FALSE(place_bike(*bike, hf, at, always_touches));
}

}  // namespace
}  // namespace ks

namespace ks {
namespace {

// One tic of a bike alone on the ground: its contacts, the rider springs that hold the
// rider on the bike, then the step.
void ground_tic(BikeState& bike, const HeightField& hf) {
  bike_ground_contacts(bike, hf);
  rider_springs(bike);
  world_step();
}

TEST_F(AssemblyTest, BareBikeSettlesOnFlatGroundAndStays) {
  HeightField hf;
  ASSERT_TRUE(init_height_field(hf, 5, 2.0f, 3.0f));  // 128 ft a side, ground at y = 3
  // Straight ahead on a sample line: with no balance assist a bare bike stays up only
  // while nothing breaks its left-right symmetry.
  ASSERT_TRUE(place_bike(*bike, hf, {64, 64, 0}, bike_ground_contacts));
  const double start_y = pos(kFrameBody)[1];
  EXPECT_GT(start_y, 3.0);

  double highest = start_y;
  for (int t = 0; t < 256; ++t) {  // two seconds to settle
    ground_tic(*bike, hf);
    highest = std::max(highest, static_cast<double>(pos(kFrameBody)[1]));
  }
  EXPECT_LT(highest, start_y + 0.05);  // no bounce up
  EXPECT_GT(bike->front_contact.depth, 0);
  EXPECT_GT(bike->rear_contact.depth, 0);
  EXPECT_GT(pos(kFrameBody)[1], 3.5);  // still standing on its wheels
  EXPECT_LT(std::abs(dBodyGetLinearVel(body(kFrameBody))[1]), 0.05);

  const std::array<double, 3> rest = {pos(kFrameBody)[0], pos(kFrameBody)[1], pos(kFrameBody)[2]};
  double moved = 0;
  for (int t = 0; t < 1280; ++t) {  // ten seconds
    ground_tic(*bike, hf);
    const dReal* p = pos(kFrameBody);
    const double dx = p[0] - rest[0], dy = p[1] - rest[1], dz = p[2] - rest[2];
    moved = std::max(moved, std::sqrt(dx * dx + dy * dy + dz * dz));
  }
  EXPECT_LT(moved, 0.01);
  // At rest the two tyres carry the whole bike.
  const double load = bike->front_contact.feedback.f1[1] + bike->rear_contact.feedback.f1[1];
  EXPECT_NEAR(load, bike->total_mass * kGravity, 0.01 * bike->total_mass * kGravity);
}

}  // namespace
}  // namespace ks
