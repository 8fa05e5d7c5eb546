// Rider pose: the two-bone reach, the feet on the pegs, dabbed and in a crash, and the
// skeleton holding its limb lengths while it reaches the grips and feet.
#include <gtest/gtest.h>

#include <cmath>

#include "physics/bike.h"
#include "physics/bike_catalog.h"
#include "physics/rider_pose.h"
#include "physics/terrain_contact.h"
#include "physics/world.h"
#include "track/heightfield.h"

namespace ks {
namespace {

constexpr double kPi = 3.14159265358979323846;

Vec3d sub(const Vec3d& a, const Vec3d& b) { return {a[0] - b[0], a[1] - b[1], a[2] - b[2]}; }
double dot(const Vec3d& a, const Vec3d& b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }
double dist(const Vec3d& a, const Vec3d& b) { return std::sqrt(dot(sub(a, b), sub(a, b))); }
Vec3d cross(const Vec3d& a, const Vec3d& b) {
  return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}
Vec3d along(const Vec3d& p, const Vec3d& d, double k) {
  return {p[0] + d[0] * k, p[1] + d[1] * k, p[2] + d[2] * k};
}
Vec3d unit(const Vec3d& v) {
  const double l = std::sqrt(dot(v, v));
  return {v[0] / l, v[1] / l, v[2] / l};
}

void expect_near(const Vec3d& got, const Vec3d& want, double tol, const char* what) {
  for (size_t c = 0; c < 3; ++c) EXPECT_NEAR(got[c], want[c], tol) << what << " axis " << c;
}

// ---- two-bone reach -------------------------------------------------------------------

struct IkCase {
  const char* name;
  Vec3d root, target;
  double a, b;
  Vec3d pole;
};

const IkCase kIkCases[] = {
    {"arm, elbow down", {0, 0, 0}, {1.5, 0, 0}, 0.9, 1.15, {0.5, -3, 0}},
    {"leg, knee forward", {0, 4, 0}, {0, 1.6, 0.3}, 1.328, 1.701, {0, 4, -2}},
    {"pole far off the middle", {1, 2, 3}, {2, 1, 2.5}, 1.0, 1.0, {10, 10, -4}},
    {"just inside the reach", {0, 0, 0}, {0, 0, 0.95 * 2.0 - 1e-6}, 1.2, 0.8, {0, 1, 0}},
    {"near the root", {0, 0, 0}, {0.5, 0, 0}, 1.0, 1.2, {0, 0, 1}},
};

// Component of the pole direction square to the limb's line.
Vec3d pole_side(const IkCase& c) {
  const Vec3d u = unit(sub(c.target, c.root));
  const Vec3d p = sub(c.pole, c.root);
  return sub(p, along({0, 0, 0}, u, dot(u, p)));
}

TEST(TwoBoneIk, ReachableTargetIsReachedWithBothLengthsBentTowardsThePole) {
  for (const IkCase& c : kIkCases) {
    const Vec3d j = two_bone_ik(c.root, c.target, c.a, c.b, c.pole);
    EXPECT_NEAR(dist(j, c.root), c.a, 1e-9) << c.name;
    EXPECT_NEAR(dist(j, c.target), c.b, 1e-9) << c.name;
    EXPECT_GT(dot(sub(j, c.root), pole_side(c)), 0) << c.name;
  }
}

TEST(TwoBoneIk, UnreachableTargetKeepsTheJointAtTheLimitedReach) {
  for (const IkCase& c : kIkCases) {
    const Vec3d u = unit(sub(c.target, c.root));
    const double reach = 0.95 * (c.a + c.b);
    for (double factor : {1.0, 1.02, 3.0, 100.0}) {
      const Vec3d far = along(c.root, u, reach * factor);
      const Vec3d j = two_bone_ik(c.root, far, c.a, c.b, c.pole);
      const Vec3d end = along(c.root, u, reach);
      EXPECT_NEAR(dist(j, c.root), c.a, 1e-9) << c.name << " x" << factor;
      EXPECT_NEAR(dist(j, end), c.b, 1e-9) << c.name << " x" << factor;
      // Still bent towards the pole: never snapped straight.
      EXPECT_GT(dot(sub(j, c.root), pole_side(c)), 1e-3) << c.name << " x" << factor;
    }
  }
}

TEST(TwoBoneIk, DegenerateInputsGiveAFiniteJointOnTheUpperSegment) {
  struct Case {
    const char* name;
    Vec3d target, pole;
    double a, b;
  };
  const Case cases[] = {
      {"target at the root", {0, 0, 0}, {0, 0, 1}, 1.0, 1.0},
      {"target at the root, unequal bones", {0, 0, 0}, {0, 0, 1}, 1.0, 2.0},
      {"closer than the bones' difference", {0.1, 0, 0}, {0, 1, 0}, 0.5, 1.5},
      {"pole on the line", {1.5, 0, 0}, {3, 0, 0}, 1.0, 1.0},
      {"pole at the root", {1.5, 0, 0}, {0, 0, 0}, 1.0, 1.0},
  };
  for (const Case& c : cases) {
    const Vec3d j = two_bone_ik({0, 0, 0}, c.target, c.a, c.b, c.pole);
    for (double v : j) EXPECT_TRUE(std::isfinite(v)) << c.name;
    EXPECT_NEAR(dist(j, {0, 0, 0}), c.a, 1e-9) << c.name;
  }
  // A pole on the line still leaves a properly bent reachable limb.
  const Vec3d j = two_bone_ik({0, 0, 0}, {1.5, 0, 0}, 1.0, 1.0, {3, 0, 0});
  EXPECT_NEAR(dist(j, {1.5, 0, 0}), 1.0, 1e-9);
}

// ---- feet and skeleton on a bike --------------------------------------------------------

constexpr float kGround = 0.5f;

class RiderPoseTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(create_physics_world());
    ASSERT_TRUE(init_height_field(hf, 5, 2.0f, kGround));
    bike = create_bike("cr125", 0, "7");
    ASSERT_NE(bike, nullptr);
    translate_bike(*bike, {30, 0, 30});
  }
  void TearDown() override {
    destroy_bike(bike);
    destroy_physics_world();
    clear_height_field(hf);
  }
  const RiderLimbs& limbs() const { return bike_model(bike->model).limbs; }
  Vec3d point(int body, const BikeVec3& p, Vec3d extra = {0, 0, 0}) const {
    dVector3 out;
    dBodyGetRelPointPos(bike->bodies[static_cast<size_t>(body)],
                        static_cast<double>(p.x) + extra[0], static_cast<double>(p.y) + extra[1],
                        static_cast<double>(p.z) + extra[2], out);
    return {out[0], out[1], out[2]};
  }
  Vec3d peg(size_t k, Vec3d extra = {0, 0, 0}) const {
    return point(kFrameBody, limbs().foot_rest[k], extra);
  }
  Vec3d hip(size_t k) const { return point(kRiderBody, limbs().hip[k]); }
  // Turns the whole bike about its forward axis so the frame rolls by `roll`.
  void roll_to(double roll) {
    orient_bike(*bike, {0, 0, 1}, roll);
    if (std::fabs(body_roll_angle(bike->bodies[kFrameBody]) - roll) > 1e-6) {
      orient_bike(*bike, {0, 0, 1}, -roll);
    }
    ASSERT_NEAR(body_roll_angle(bike->bodies[kFrameBody]), roll, 1e-6);
  }

  HeightField hf;
  BikeState* bike = nullptr;
};

TEST_F(RiderPoseTest, RidingFeetStayOnThePegs) {
  orient_bike(*bike, unit({0.3, 1, 0.2}), 0.7);
  const RiderFeet feet = rider_feet(*bike, hf);
  for (size_t k = 0; k < 2; ++k) {
    expect_near(feet.position[k], peg(k), 1e-9, "peg");
    EXPECT_EQ(feet.weight[k], 0.0);
  }
}

TEST_F(RiderPoseTest, UprightStandstillDabPutsBothFeetHalfAHipOutside) {
  bike->controls.dab_pose = 1;
  const RiderFeet feet = rider_feet(*bike, hf);
  const Vec3d hl = hip(0), hr = hip(1);
  const double dx = hr[0] - hl[0];
  expect_near(feet.position[0], {hl[0] - 0.5 * dx, kGround + 0.125, hl[2]}, 1e-6, "left");
  expect_near(feet.position[1], {hr[0] + 0.5 * dx, kGround + 0.125, hr[2]}, 1e-6, "right");
  EXPECT_EQ(feet.weight[0], 1.0);
  EXPECT_EQ(feet.weight[1], 1.0);

  // Half the pose level: half way from the peg, with that weight.
  bike->controls.dab_pose = 0.5f;
  const RiderFeet half = rider_feet(*bike, hf);
  for (size_t k = 0; k < 2; ++k) {
    const Vec3d mid = along(peg(k), sub(feet.position[k], peg(k)), 0.5);
    expect_near(half.position[k], mid, 1e-6, "half");
    EXPECT_EQ(half.weight[k], 0.5);
  }
}

TEST_F(RiderPoseTest, LeaningDabPutsOnlyTheLowFootDownSetForwardWithSpeed) {
  struct Case {
    double roll;
    double speed;  // forward, ft/s
    size_t down;   // the foot that goes down
  };
  const Case cases[] = {
      {0.2, 0, 0}, {-0.2, 0, 1}, {0.2, 15, 0}, {-0.2, 30, 1}, {0.2, 7.5, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "roll " << c.roll << " speed " << c.speed);
    reset_bike(*bike);
    translate_bike(*bike, {30, 0, 30});
    roll_to(c.roll);
    for (int b = 0; b < kBikeBodyCount; ++b) {
      dBodySetLinearVel(bike->bodies[static_cast<size_t>(b)], 0, 0, -c.speed);
    }
    bike->controls.dab_pose = 1;
    const RiderFeet feet = rider_feet(*bike, hf);
    const size_t up = 1 - c.down;
    expect_near(feet.position[up], peg(up), 1e-9, "raised foot");
    EXPECT_EQ(feet.weight[up], 0.0);
    EXPECT_EQ(feet.weight[c.down], 1.0);

    const double e = std::fabs(c.roll) * 4 / kPi;
    const double i = std::min(c.speed / 15, 1.0);
    const double fwd = (1.25 * i - 0.25) * e * 2.5;  // along -z, the frame's forward
    const Vec3d hl = hip(0), hr = hip(1);
    const Vec3d d = sub(hr, hl);
    const Vec3d& h = c.down == 0 ? hl : hr;
    const double t = c.down == 0 ? 0.5 * e - 0.5 : 0.5 - 0.5 * e;
    const Vec3d want{h[0] + d[0] * t, kGround + 0.125, h[2] + d[2] * t - fwd};
    expect_near(feet.position[c.down], want, 1e-6, "dabbed foot");
  }
}

TEST_F(RiderPoseTest, CrashedFeetBlendTowardsTheStoredCrashPoints) {
  const std::array<Vec3d, 2> stored{Vec3d{20, 3, 25}, Vec3d{40, 1, 33}};
  for (size_t k = 0; k < 2; ++k)
    for (size_t c = 0; c < 3; ++c) bike->rider_feet[k].position[c] = static_cast<float>(stored[k][c]);
  struct Case {
    int counter;
    double pull;        // towards the stored point
    Vec3d left_swing;   // the left rest's swing in frame coordinates (the right mirrors x)
  };
  const Case cases[] = {
      {600, 1.0, {-0.5, 1.75, 1.0}},
      {128, 1.0, {-0.5, 1.75, 1.0}},
      {96, 0.5, {-0.25, 1.75, 1.0}},
      {64, 1.0 / 128, {0, 1.75, 2.0 / 3}},
      {16, 1.0 / 128, {0, 0.4375, 1.0 / 6}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "counter " << c.counter);
    bike->crash.counter = c.counter;
    for (float level : {0.0f, 1.0f}) {
      bike->controls.dab_pose = level;
      const RiderFeet feet = rider_feet(*bike, hf);
      for (size_t k = 0; k < 2; ++k) {
        EXPECT_EQ(feet.weight[k], 1.0);
        if (level != 0 && c.counter < 128) continue;  // dabbed first; only the weight is fixed
        const Vec3d swing{k == 0 ? c.left_swing[0] : -c.left_swing[0], c.left_swing[1],
                          c.left_swing[2]};
        const Vec3d from = peg(k, swing);
        expect_near(feet.position[k], along(from, sub(stored[k], from), c.pull), 1e-5, "foot");
      }
    }
  }
}

TEST_F(RiderPoseTest, SkeletonHoldsLimbLengthsAndReachesGripsAndFeet) {
  struct Case {
    const char* name;
    Vec3d axis;
    double angle;
    Vec3d rider_shift;  // moves the rider body alone
    float dab;
    double throttle;
  };
  const Case cases[] = {
      {"rest", {0, 1, 0}, 0, {0, 0, 0}, 0, 0},
      {"turned and tilted", unit({0.2, 1, -0.4}), 1.1, {0, 0, 0}, 0, 1},
      {"rider forward and down", {0, 1, 0}, 0, {0, -0.3, -0.4}, 0, 0.5},
      {"dabbing upright", {0, 1, 0}, 0.3, {0, 0, 0}, 1, 0},
      {"dabbing leaned", {0, 0, 1}, 0.3, {0, 0, 0}, 1, 0},
  };
  const RiderLimbs& l = limbs();
  const double arm_reach = 0.95 * static_cast<double>(l.upper_arm + l.forearm);
  const double leg_reach = 0.95 * static_cast<double>(l.thigh + l.shin);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    reset_bike(*bike);
    translate_bike(*bike, {30, 0, 30});
    orient_bike(*bike, c.axis, c.angle);
    const dReal* rp = dBodyGetPosition(bike->bodies[kRiderBody]);
    dBodySetPosition(bike->bodies[kRiderBody], rp[0] + c.rider_shift[0],
                     rp[1] + c.rider_shift[1], rp[2] + c.rider_shift[2]);
    bike->controls.dab_pose = c.dab;
    bike->controls.throttle = static_cast<float>(c.throttle);

    const RiderSkeleton sk = rider_skeleton(*bike, hf);
    const RiderFeet feet = rider_feet(*bike, hf);
    for (const PosedBone& bone : sk.bones) {
      for (size_t i = 0; i < 3; ++i) {
        EXPECT_NEAR(dot(bone.columns[i], bone.columns[i]), 1.0, 1e-9);
        EXPECT_NEAR(dot(bone.columns[i], bone.columns[(i + 1) % 3]), 0.0, 1e-9);
      }
      expect_near(cross(bone.columns[1], bone.columns[2]), bone.columns[0], 1e-9, "c0 = c1 x c2");
    }

    for (size_t k = 0; k < 2; ++k) {
      const Vec3d shoulder = point(kRiderBody, l.shoulder[k]);
      const Vec3d grip = point(kForkUpperBody, l.grip[k]);
      const Vec3d h = hip(k);
      ASSERT_LT(dist(shoulder, grip), arm_reach);
      const bool foot_in_reach = dist(h, feet.position[k]) < leg_reach;
      if (c.dab == 0) {
        ASSERT_TRUE(foot_in_reach);
      }

      const PosedBone& fore = sk.bones[kLeftForearmBone + k];
      const PosedBone& upper = sk.bones[kLeftUpperArmBone + k];
      const PosedBone& shin = sk.bones[kLeftShinBone + k];
      const PosedBone& thigh = sk.bones[kLeftThighBone + k];
      expect_near(upper.pivot, shoulder, 1e-9, "shoulder pivot");
      expect_near(thigh.pivot, h, 1e-9, "hip pivot");
      EXPECT_NEAR(dist(fore.pivot, shoulder), static_cast<double>(l.upper_arm), 1e-4);
      EXPECT_NEAR(dist(fore.pivot, grip), static_cast<double>(l.forearm), 1e-4);
      EXPECT_NEAR(dist(shin.pivot, h), static_cast<double>(l.thigh), 1e-4);
      if (foot_in_reach) {
        EXPECT_NEAR(dist(shin.pivot, feet.position[k]), static_cast<double>(l.shin), 1e-4);
      } else {
        // A foot dabbed beyond reach: the knee stays bent and the shin is drawn longer.
        EXPECT_GT(dist(shin.pivot, feet.position[k]), static_cast<double>(l.shin));
      }
      // Each limb bone's x (arms) or y (legs) runs along the bone as the rest pose has it.
      const double side = k == 0 ? -1 : 1;
      expect_near(along(fore.pivot, fore.columns[0], side * static_cast<double>(l.forearm)),
                  grip, 1e-4, "grip");
      expect_near(along(upper.pivot, upper.columns[0], side * static_cast<double>(l.upper_arm)),
                  fore.pivot, 1e-4, "elbow");
      expect_near(along(thigh.pivot, thigh.columns[1], -static_cast<double>(l.thigh)),
                  shin.pivot, 1e-4, "knee");
      const Vec3d to_foot = unit(sub(feet.position[k], shin.pivot));
      expect_near(shin.columns[1], {-to_foot[0], -to_foot[1], -to_foot[2]}, 1e-9, "shin axis");
    }
    // Torso pivot between the hips, y up the spine.
    const PosedBone& torso = sk.bones[kTorsoBone];
    expect_near(torso.pivot, point(kRiderBody, {0, l.hip[0].y, l.hip[0].z}), 1e-9, "torso");
  }
}

TEST_F(RiderPoseTest, ElbowsPointBackAndKneesForwardAtRest) {
  const RiderSkeleton sk = rider_skeleton(*bike, hf);
  const RiderLimbs& l = limbs();
  for (size_t k = 0; k < 2; ++k) {
    const Vec3d shoulder = point(kRiderBody, l.shoulder[k]);
    const Vec3d grip = point(kForkUpperBody, l.grip[k]);
    const Vec3d elbow = sk.bones[kLeftForearmBone + k].pivot;
    const Vec3d knee = sk.bones[kLeftShinBone + k].pivot;
    const Vec3d h = hip(k);
    const Vec3d foot = peg(k);
    // Forward is -z: the elbow lies behind the shoulder-grip line, the knee ahead of the
    // hip-foot line, each at the same height.
    const double te = (elbow[1] - shoulder[1]) / (grip[1] - shoulder[1]);
    EXPECT_GT(elbow[2], shoulder[2] + te * (grip[2] - shoulder[2]));
    const double tk = (knee[1] - h[1]) / (foot[1] - h[1]);
    EXPECT_LT(knee[2], h[2] + tk * (foot[2] - h[2]));
  }
  // Full throttle drops the right elbow.
  const double before = sk.bones[kRightForearmBone].pivot[1];
  bike->controls.throttle = 1;
  EXPECT_LT(rider_skeleton(*bike, hf).bones[kRightForearmBone].pivot[1], before);
}

TEST_F(RiderPoseTest, MissingBodiesGiveARestPoseWithoutTouchingODE) {
  BikeState bare;
  bare.controls.dab_pose = 1;
  const RiderFeet feet = rider_feet(bare, hf);
  EXPECT_EQ(feet.weight[0], 0.0);
  const RiderSkeleton sk = rider_skeleton(bare, hf);
  EXPECT_EQ(sk.bones[kTorsoBone].columns[0][0], 1.0);
}

}  // namespace
}  // namespace ks
