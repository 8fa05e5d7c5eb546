// Bike-to-bike and object contacts: sphere and torus geometry, the contact softness and
// penalty forces, the bounding-sphere rejection, bikes meeting, the joint-for-force trade,
// the collision timers and the object crash rule.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "physics/bike.h"
#include "physics/bike_contact.h"
#include "physics/bike_state.h"
#include "physics/terrain_contact.h"
#include "physics/world.h"
#include "track/collision_shape.h"
#include "track/heightfield.h"
#include "track/objects.h"

namespace ks {
namespace {

constexpr double kPi = 3.14159265358979323846;

void expect_vec(const Vec3d& got, const Vec3d& want, double tol) {
  for (size_t k = 0; k < 3; ++k) EXPECT_NEAR(got[k], want[k], tol) << "component " << k;
}

CollisionSphere sphere(Vec3d c, float r, float friction = 0.8f, float k = 2500,
                       float damping = 250) {
  CollisionSphere s;
  s.centre = {static_cast<float>(c[0]), static_cast<float>(c[1]), static_cast<float>(c[2])};
  s.world_centre = s.centre;
  s.radius = r;
  s.friction = friction;
  s.stiffness = k;
  s.damping = damping;
  return s;
}

CollisionShape one_sphere_shape(float r, Vec3d c = {0, 0, 0}) {
  CollisionShape s;
  s.name = "test";
  s.spheres.push_back(sphere(c, r));
  s.bound = static_cast<float>(std::sqrt(c[0] * c[0] + c[1] * c[1] + c[2] * c[2])) + r;
  return s;
}

// ---- geometry ---------------------------------------------------------------------------

struct OverlapCase {
  const char* name;
  Vec3d c1;
  double r1;
  Vec3d c2;
  double r2;
  bool overlaps, has_contact;
  double depth;
  Vec3d normal, point;
};

const OverlapCase kOverlapCases[] = {
    {"apart", {0, 0, 0}, 1, {3, 0, 0}, 1, false, false, 0, {}, {}},
    {"just touching", {0, 0, 0}, 1, {2, 0, 0}, 1, false, false, 0, {}, {}},
    {"along x", {0, 0, 0}, 1, {1.5, 0, 0}, 1, true, true, 0.5, {1, 0, 0}, {0.75, 0, 0}},
    {"unequal radii", {1, 2, 3}, 2, {1, 2, 3.5}, 0.5, true, true, 2, {0, 0, 1}, {1, 2, 4}},
    {"diagonal", {0, 0, 0}, 1, {0, -0.6, 0.8}, 0.5, true, true, 0.5, {0, -0.6, 0.8},
     {0, -0.45, 0.6}},
    {"centres coincide", {4, 4, 4}, 1, {4, 4, 4.01}, 1, true, false, 0, {}, {}},
    {"not finite", {NAN, 0, 0}, 1, {0, 0, 0}, 1, false, false, 0, {}, {}},
};

TEST(SphereOverlap, GeometryTable) {
  for (const OverlapCase& c : kOverlapCases) {
    SCOPED_TRACE(c.name);
    const SphereOverlap o = sphere_overlap(c.c1, c.r1, c.c2, c.r2);
    EXPECT_EQ(o.overlaps, c.overlaps);
    EXPECT_EQ(o.has_contact, c.has_contact);
    if (!c.has_contact) continue;
    EXPECT_NEAR(o.depth, c.depth, 1e-12);
    expect_vec(o.normal, c.normal, 1e-12);
    expect_vec(o.point, c.point, 1e-12);
  }
}

TEST(SphereSoftness, SofterSpringCappedAtTheMostSpringForce) {
  struct Case {
    double depth, spring;
  };
  const CollisionSphere a = sphere({}, 1, 0.9f, 25000, 2500);
  const CollisionSphere b = sphere({}, 1, 0.4f, 5000, 300);
  for (const Case& c : {Case{0.1, 5000}, Case{0.5, 5000}, Case{1.0, 2500}, Case{2.0, 1250}}) {
    SCOPED_TRACE(c.depth);
    const SphereSoftness s = sphere_softness(a, b, c.depth);
    EXPECT_DOUBLE_EQ(s.spring, c.spring);
    EXPECT_DOUBLE_EQ(s.damper, 300);
    EXPECT_FLOAT_EQ(static_cast<float>(s.mu), 0.4f);
    const double hk = c.spring / 128;
    EXPECT_NEAR(s.cfm, 1 / (hk + 300), 1e-15);
    EXPECT_NEAR(s.erp, hk / (hk + 300), 1e-15);
  }
  // Neither spring nor damper: nothing to push with, and no division by zero.
  const SphereSoftness none = sphere_softness(sphere({}, 1, 1, 0, 0), b, 0.5);
  EXPECT_EQ(none.cfm, 0);
  EXPECT_EQ(none.erp, 0);
}

TEST(PenaltyForce, SpringPlusDamperWithinTheLimit) {
  EXPECT_DOUBLE_EQ(penalty_force(0.1, 2500, 250, 3), 1000);
  EXPECT_DOUBLE_EQ(penalty_force(0.1, 2500, 250, 1), 500);
  EXPECT_DOUBLE_EQ(penalty_force(0.1, 2500, 250, 10), 1000);
  EXPECT_DOUBLE_EQ(penalty_force(0.1, 2500, 250, -10), -1000);
  EXPECT_DOUBLE_EQ(penalty_force(0.1, 2500, 250, NAN), 0);
}

struct TorusCase {
  const char* name;
  Vec3d axle, target, proxy;
};

const double kHalf = std::sqrt(0.5);
const TorusCase kTorusCases[] = {
    {"in the wheel plane", {1, 0, 0}, {0, 0, -5}, {0, 0, -2}},
    {"beside the wheel", {1, 0, 0}, {3, 4, 0}, {0, 2, 0}},
    {"on the axle, x axle", {1, 0, 0}, {4, 0, 0}, {0, 2, 0}},
    {"on the axle, z axle", {0, 0, 1}, {0, 0, -1}, {2, 0, 0}},
    {"at the centre, tilted axle", {kHalf, kHalf, 0}, {0, 0, 0}, {2 * kHalf, -2 * kHalf, 0}},
};

TEST(TorusProxy, NearestPointOfTheCentreCircle) {
  const Vec3d centre{10, 1, -3};
  for (const TorusCase& c : kTorusCases) {
    SCOPED_TRACE(c.name);
    const Vec3d target{centre[0] + c.target[0], centre[1] + c.target[1],
                       centre[2] + c.target[2]};
    const Vec3d p = torus_proxy_centre(centre, c.axle, 2.0, target);
    expect_vec(p, {centre[0] + c.proxy[0], centre[1] + c.proxy[1], centre[2] + c.proxy[2]},
               1e-12);
  }
  expect_vec(torus_proxy_centre(centre, {1, 0, 0}, 0.0, {0, 0, 0}), centre, 0);
}

TEST(ShapeShape, BoundingSpheresRejectBeforeAnySphereIsTested) {
  CollisionShape a = one_sphere_shape(1, {1, 0, 0});
  CollisionShape b = one_sphere_shape(1);
  ShapePose pa, pb;
  pb.position = {2.5, 0, 0};  // a's sphere at x = 1 reaches b's at 2.5
  EXPECT_TRUE(shape_shape_contacts(a, nullptr, pa, b, nullptr, pb, kContactJoint));
  EXPECT_FLOAT_EQ(a.spheres[0].world_centre[0], 1.0f);
  EXPECT_FLOAT_EQ(b.spheres[0].world_centre[0], 2.5f);

  // The same spheres under bounds that don't reach: rejected, nothing placed.
  a.bound = 1.2f;
  b.bound = 1.2f;
  a.spheres[0].world_centre = {};
  EXPECT_FALSE(shape_shape_contacts(a, nullptr, pa, b, nullptr, pb, kContactJoint));
  EXPECT_FLOAT_EQ(a.spheres[0].world_centre[0], 0.0f);

  // Turned half a turn about y, a's sphere moves to x = -1 and misses.
  a.bound = 2;
  pa.rotation = {-1, 0, 0, 0, 1, 0, 0, 0, -1};
  EXPECT_FALSE(shape_shape_contacts(a, nullptr, pa, b, nullptr, pb, kContactJoint));
  EXPECT_FLOAT_EQ(a.spheres[0].world_centre[0], -1.0f);
}

// ---- sphere pairs in the world ------------------------------------------------------------

class BikeContactWorld : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(create_physics_world());
    dWorldSetGravity(g_physics.world, 0, 0, 0);
  }
  void TearDown() override {
    for (BikeState* b : bikes) destroy_bike(b);
    bikes.clear();
    destroy_physics_world();
    reset_knockout_ticks();
  }
  BikeState& add_bike() {
    BikeState* b = create_bike("cr125", static_cast<int>(bikes.size()), "1");
    EXPECT_NE(b, nullptr);
    bikes.push_back(b);
    return *b;
  }
  dBodyID add_body(Vec3d at, Vec3d v) {
    dBodyID b = dBodyCreate(g_physics.world);
    dBodySetPosition(b, at[0], at[1], at[2]);
    dBodySetLinearVel(b, v[0], v[1], v[2]);
    return b;
  }
  std::vector<BikeState*> bikes;
};

TEST_F(BikeContactWorld, SpherePairModes) {
  dBodyID b1 = add_body({0, 0, 0}, {3, 0, 0});
  dBodyID b2 = add_body({1.9, 0, 0}, {0, 0, 0});
  const CollisionSphere s1 = sphere({0, 0, 0}, 1);
  const CollisionSphere s2 = sphere({1.9, 0, 0}, 1);

  WheelContact rec;
  EXPECT_TRUE(sphere_sphere_contact(s1, b1, s2, b2, kContactTouch, &rec));
  EXPECT_EQ(dBodyGetNumJoints(b1), 0);
  EXPECT_NEAR(rec.depth, 0.1, 1e-6);
  EXPECT_NEAR(rec.point[0], 0.95, 1e-6);
  EXPECT_NEAR(rec.point_velocity[0], 3, 1e-6);
  EXPECT_FLOAT_EQ(rec.normal[0], 1);

  EXPECT_TRUE(sphere_sphere_contact(s1, b1, s2, b2, kContactJoint, nullptr));
  ASSERT_EQ(dBodyGetNumJoints(b1), 1);
  dJointID j = dBodyGetJoint(b1, 0);
  EXPECT_EQ(dJointGetBody(j, 0), b2);
  EXPECT_EQ(dJointGetBody(j, 1), b1);
  dJointGroupEmpty(g_physics.contact_group);

  // Closing at 3 ft/s, 0.1 ft deep: 250 + 750 = 1000 lb, pushing the bodies apart.
  EXPECT_TRUE(sphere_sphere_contact(s1, b1, s2, b2, kContactForce, nullptr));
  EXPECT_EQ(dBodyGetNumJoints(b1), 0);
  EXPECT_NEAR(dBodyGetForce(b1)[0], -1000, 1e-9);
  EXPECT_NEAR(dBodyGetForce(b2)[0], 1000, 1e-9);

  // A disabled body takes no force; the static world takes none either.
  dBodySetForce(b1, 0, 0, 0);
  dBodySetForce(b2, 0, 0, 0);
  dBodyDisable(b2);
  EXPECT_TRUE(sphere_sphere_contact(s1, b1, s2, b2, kContactForce, nullptr));
  EXPECT_EQ(dBodyGetForce(b2)[0], 0);
  EXPECT_LT(dBodyGetForce(b1)[0], 0);
  EXPECT_TRUE(sphere_sphere_contact(s1, b1, s2, nullptr, kContactJoint, nullptr));
  ASSERT_EQ(dBodyGetNumJoints(b1), 1);
  EXPECT_EQ(dJointGetBody(dBodyGetJoint(b1, 0), 0), nullptr);  // the static world
  EXPECT_EQ(dJointGetBody(dBodyGetJoint(b1, 0), 1), b1);
  dJointGroupEmpty(g_physics.contact_group);

  // Two static spheres only report the overlap.
  EXPECT_TRUE(sphere_sphere_contact(s1, nullptr, s2, nullptr, kContactJoint, &rec));
}

TEST_F(BikeContactWorld, TyreTouchOfAShapeCountsWhenTheWheelMetNoGround) {
  WheelContact w;
  w.body = add_body({0, 2, 0}, {0, 0, -10});
  w.torus_radius = 1;
  w.section_radius = 0.3f;
  CollisionShape post = one_sphere_shape(0.5f);
  ShapePose at;
  at.position = {0, 2, -1.7};  // 0.1 ft into the tread ahead of the wheel
  EXPECT_TRUE(wheel_shape_contacts(post, nullptr, at, w, kContactJoint));
  EXPECT_NEAR(w.depth, 0.1, 1e-5);
  EXPECT_NEAR(w.normal[2], -1, 1e-6);
  EXPECT_NEAR(w.point[2], -1.25, 1e-5);
  EXPECT_NEAR(w.point_velocity[2], -10, 1e-5);
  EXPECT_EQ(dBodyGetNumJoints(w.body), 1);
  dJointGroupEmpty(g_physics.contact_group);

  // On the ground already: the ground's contact stays.
  w.depth = 0.02f;
  w.normal = {0, 1, 0};
  EXPECT_TRUE(wheel_shape_contacts(post, nullptr, at, w, kContactTouch));
  EXPECT_FLOAT_EQ(w.depth, 0.02f);
  EXPECT_FLOAT_EQ(w.normal[1], 1);

  // Beyond the tyre's reach: nothing.
  at.position = {0, 2, -1.81};
  w.depth = 0;
  EXPECT_FALSE(wheel_shape_contacts(post, nullptr, at, w, kContactJoint));
  EXPECT_EQ(w.depth, 0);
}

}  // namespace
}  // namespace ks
// ---- bikes ------------------------------------------------------------------------------

namespace ks {
namespace {

// Bikes are built without shape files here; each test gives the parts it needs a sphere
// at the body's origin.
void strip_shapes(BikeState& b) {
  for (auto& s : b.shapes) s.reset();
}
void give_sphere(BikeState& b, int body, float r) {
  b.shapes[static_cast<size_t>(body)] = one_sphere_shape(r);
}
Vec3d body_at(const BikeState& b, int body) {
  const dReal* p = dBodyGetPosition(b.bodies[static_cast<size_t>(body)]);
  return {p[0], p[1], p[2]};
}
// Moves the whole bike so that one body lands on a point.
void move_body_to(BikeState& b, int body, const Vec3d& to) {
  const Vec3d at = body_at(b, body);
  translate_bike(b, {to[0] - at[0], to[1] - at[1], to[2] - at[2]});
}
void set_velocity(BikeState& b, Vec3d v) {
  for (dBodyID body : b.bodies) {
    dBodySetLinearVel(body, v[0], v[1], v[2]);
    dBodySetAngularVel(body, 0, 0, 0);
  }
}
// Holds the rider body on the frame (its springs are not part of these tests).
void pin_rider(BikeState& b) {
  dJointID pin = dJointCreateFixed(g_physics.world, nullptr);
  dJointAttach(pin, b.bodies[kRiderBody], b.bodies[kFrameBody]);
  dJointSetFixed(pin);
}
bool all_finite(const BikeState& b) {
  for (dBodyID body : b.bodies) {
    for (const dReal* v : {dBodyGetPosition(body), dBodyGetLinearVel(body),
                           dBodyGetAngularVel(body)}) {
      for (int k = 0; k < 3; ++k) {
        if (!std::isfinite(v[k])) return false;
      }
    }
  }
  return true;
}
void give_full_shapes(BikeState& b) {
  strip_shapes(b);
  const float tyre = b.front_contact.torus_radius + b.front_contact.section_radius;
  give_sphere(b, kFrontWheelBody, tyre);
  give_sphere(b, kRearWheelBody, tyre);
  give_sphere(b, kFrameBody, 1.0f);
  give_sphere(b, kForkLowerBody, 0.4f);
  give_sphere(b, kSwingarmBody, 0.5f);
  give_sphere(b, kRiderBody, 1.0f);
}

TEST_F(BikeContactWorld, TwoBikesMeetingHeadOnAt20MphSeparateWithoutPassingThrough) {
  BikeState& a = add_bike();
  BikeState& b = add_bike();
  give_full_shapes(a);
  give_full_shapes(b);
  pin_rider(a);
  pin_rider(b);
  // a faces -z; b is turned to face it, front wheels half a foot apart.
  orient_bike(b, {0, 1, 0}, kPi);
  const double tyre = static_cast<double>(a.front_contact.torus_radius +
                                          a.front_contact.section_radius);
  const Vec3d fa = body_at(a, kFrontWheelBody);
  move_body_to(b, kFrontWheelBody, {fa[0], fa[1], fa[2] - 2 * tyre - 0.5});
  const double speed = 29.333;  // 20 mph each
  set_velocity(a, {0, 0, -speed});
  set_velocity(b, {0, 0, speed});

  int first = -1, last = -1;
  for (int t = 0; t < 256; ++t) {
    const int r = bike_bike_contacts(a, b, false, t);
    if (r != 0) {
      last = t;
      if (first < 0) {
        first = t;
        EXPECT_NE(r & kPartFrontWheel, 0);
        EXPECT_EQ(a.crash.collision_timer, kHeadOnTimer);
        EXPECT_EQ(b.crash.collision_timer, kHeadOnTimer);
      }
      EXPECT_EQ(a.crash.last_bike_contact_tic, t);
    }
    world_step();
    ASSERT_TRUE(all_finite(a)) << "tic " << t;
    ASSERT_TRUE(all_finite(b)) << "tic " << t;
  }
  ASSERT_GE(first, 0);
  EXPECT_LE(first, 2);
  // They met, never passed through each other, and move apart.
  EXPECT_GT(body_at(a, kFrontWheelBody)[2], body_at(b, kFrontWheelBody)[2] + tyre);
  EXPECT_GT(body_at(a, kFrameBody)[2], body_at(b, kFrameBody)[2] + 2);
  const double closing = dBodyGetLinearVel(b.bodies[kFrameBody])[2] -
                         dBodyGetLinearVel(a.bodies[kFrameBody])[2];
  EXPECT_LT(closing, 0);
  for (const BikeState* k : {&a, &b}) {
    for (dBodyID body : k->bodies) {
      const dReal* v = dBodyGetLinearVel(body);
      EXPECT_LT(std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]), speed);
    }
  }
  EXPECT_LT(last, 128);  // pushed apart, not stuck together
}

TEST_F(BikeContactWorld, ASecondBikeContactInOneTicUsesForcesNotJoints) {
  BikeState& a = add_bike();
  BikeState& b = add_bike();
  BikeState& c = add_bike();
  for (BikeState* k : {&a, &b, &c}) {
    strip_shapes(*k);
    give_sphere(*k, kFrameBody, 1.0f);
  }
  translate_bike(b, {1.5, 0, 0});
  translate_bike(c, {3.0, 0, 0});
  auto frame_joints = [](const BikeState& k) { return dBodyGetNumJoints(k.bodies[kFrameBody]); };
  const int fixed = frame_joints(a);

  EXPECT_EQ(bike_bike_contacts(a, b, false, 9), kPartFrame);
  EXPECT_EQ(frame_joints(a), fixed + 1);
  EXPECT_EQ(frame_joints(b), fixed + 1);
  EXPECT_EQ(b.crash.last_bike_contact_tic, 9);

  // c meets b, which has already met a in this tic: 0.5 ft deep, still, 1000 lb apart.
  EXPECT_EQ(bike_bike_contacts(c, b, false, 9), kPartFrame);
  EXPECT_EQ(frame_joints(c), fixed);
  EXPECT_EQ(frame_joints(b), fixed + 1);
  EXPECT_NEAR(dBodyGetForce(c.bodies[kFrameBody])[0], 1000, 1e-9);
  EXPECT_NEAR(dBodyGetForce(b.bodies[kFrameBody])[0], -1000, 1e-9);
  EXPECT_EQ(c.crash.last_bike_contact_tic, 9);

  // A new tic starts with joints again.
  dJointGroupEmpty(g_physics.contact_group);
  EXPECT_EQ(bike_bike_contacts(c, b, false, 10), kPartFrame);
  EXPECT_EQ(frame_joints(c), fixed + 1);

  // Apart, nothing happens and the last contact tic stays.
  dJointGroupEmpty(g_physics.contact_group);
  translate_bike(c, {10, 0, 0});
  EXPECT_EQ(bike_bike_contacts(c, b, false, 11), 0);
  EXPECT_EQ(c.crash.last_bike_contact_tic, 10);
}

TEST_F(BikeContactWorld, RemoteFrontEndOnlyTouchesTheLocalRear) {
  BikeState& a = add_bike();
  BikeState& b = add_bike();
  strip_shapes(a);
  strip_shapes(b);
  give_sphere(a, kFrameBody, 0.3f);
  give_sphere(b, kForkLowerBody, 0.3f);
  const Vec3d at = body_at(a, kFrameBody);
  move_body_to(b, kForkLowerBody, {at[0] + 5, at[1], at[2]});
  const Vec3d fork = body_at(b, kForkLowerBody);
  move_body_to(b, kForkLowerBody, {at[0] + 0.2, fork[1], at[2]});
  const int joints = dBodyGetNumJoints(a.bodies[kFrameBody]);
  // b's fork lower and front tyre both reach a's frame.
  EXPECT_EQ(bike_bike_contacts(a, b, true, 3), kPartFrontEnd);
  EXPECT_EQ(dBodyGetNumJoints(a.bodies[kFrameBody]), joints);
  EXPECT_EQ(bike_bike_contacts(a, b, false, 4), kPartFrontEnd);
  EXPECT_EQ(dBodyGetNumJoints(a.bodies[kFrameBody]), joints + 2);
}

struct TimerCase {
  const char* name;
  int a_part, b_part;  // -1 for b: b's front tyre meets a's part
  double va, vb;
  int b_crash_counter;
  float a_timer, b_timer;  // before
  float a_want, b_want;
};

const TimerCase kTimerCases[] = {
    {"head-on, both moving", kFrontWheelBody, -1, 20, 20, 0, 0, 0, 128, 128},
    {"head-on, b slow", kFrontWheelBody, -1, 20, 8, 0, 0, 0, 128, 0},
    {"head-on keeps a longer timer", kFrontWheelBody, -1, 20, 20, 0, 300, -5, 300, 128},
    {"a runs into b", kFrontWheelBody, kFrameBody, 20, 8, 0, 0, 0, 192, -640},
    {"a runs into b slowly", kFrontWheelBody, kFrameBody, 8, 8, 0, 0, 0, 0, -640},
    {"a rams a standing bike", kFrontWheelBody, kFrameBody, 20, 3, 0, 0, 0, 0, 0},
    {"a runs into a crashed bike", kFrontWheelBody, kFrameBody, 20, 8, 100, 0, 0, 0, 0},
    {"b still assisted keeps its timer", kFrontWheelBody, kFrameBody, 20, 8, 0, 0, 50, 192, 50},
    {"b keeps a longer protection", kFrontWheelBody, kFrameBody, 20, 8, 0, 0, -700, 192, -700},
    {"b runs into a", kFrameBody, kForkLowerBody, 8, 20, 0, 0, 0, -640, 192},
    {"side by side", kFrameBody, kFrameBody, 20, 20, 0, 0, 0, 0, 0},
};

TEST_F(BikeContactWorld, CollisionTimersMarkTheRammerAndProtectTheRammed) {
  BikeState& a = add_bike();
  BikeState& b = add_bike();
  const double tyre_r = static_cast<double>(b.front_contact.torus_radius);
  for (const TimerCase& c : kTimerCases) {
    SCOPED_TRACE(c.name);
    reset_bike(a);
    reset_bike(b);
    strip_shapes(a);
    strip_shapes(b);
    give_sphere(a, c.a_part, 0.2f);
    const Vec3d at = body_at(a, c.a_part);
    if (c.b_part < 0) {
      // b's tyre tread 0.1 ft into a's sphere, b ahead of a.
      orient_bike(b, {0, 1, 0}, kPi);
      move_body_to(b, kFrontWheelBody, {at[0], at[1], at[2] - tyre_r - 0.43});
    } else {
      give_sphere(b, c.b_part, 0.2f);
      move_body_to(b, c.b_part, {at[0] + 0.1, at[1], at[2]});
    }
    set_velocity(a, {0, 0, -c.va});
    set_velocity(b, {c.vb, 0, 0});
    b.crash.counter = c.b_crash_counter;
    a.crash.collision_timer = c.a_timer;
    b.crash.collision_timer = c.b_timer;
    a.followed_lines = {3, 4, 5, 6};
    b.followed_lines = {7, 8, 9, 10};
    EXPECT_NE(bike_bike_contacts(a, b, false, 1), 0);
    EXPECT_EQ(a.crash.collision_timer, c.a_want);
    EXPECT_EQ(b.crash.collision_timer, c.b_want);
    EXPECT_EQ(a.crash.last_bike_contact_tic, 1);
    EXPECT_EQ(b.crash.last_bike_contact_tic, 1);
    EXPECT_EQ(a.followed_lines, (std::array<int, 4>{}));
    EXPECT_EQ(b.followed_lines, (std::array<int, 4>{}));
    dJointGroupEmpty(g_physics.contact_group);
  }
}

// ---- objects ------------------------------------------------------------------------------

struct ObjectScene {
  HeightField hf;
  std::vector<TrackObject> objects;
  ObjectGrid grid;
  float width = 0;
};

// A flat field 64 ft wide with the bike lifted clear of it at its middle, a hay bale just
// ahead of the rider's body, a shapeless object beside it and a far bale.
ObjectScene bale_scene(BikeState& b) {
  ObjectScene s;
  EXPECT_TRUE(init_height_field(s.hf, 5, 2.0f));
  s.width = s.hf.extent;
  strip_shapes(b);
  give_sphere(b, kRiderBody, 1.0f);
  move_body_to(b, kRiderBody, {32, 10, 32});
  TrackObject bare;
  bare.position = {32, 10, 30};
  TrackObject bale;
  bale.shape = one_sphere_shape(1.5f);
  bale.position = {32, 10, 30};  // 0.5 ft into the rider's body
  TrackObject far = bale;
  far.position = {5, 10, 5};
  s.objects = {bare, far, bale};
  build_object_grid(s.grid, s.objects, s.width);
  return s;
}

TEST_F(BikeContactWorld, RiderHittingAHayBaleFastCrashesAndSlowlyDoesNot) {
  BikeState& b = add_bike();
  set_knockout_ticks(0, 40);
  struct Case {
    double speed;
    float timer;
    bool crashes;
  };
  for (const Case& c : {Case{19, 0, false}, Case{20, 0, false}, Case{21, 0, true},
                        Case{21, -10, false}, Case{30, 5, true}}) {
    SCOPED_TRACE(c.speed);
    reset_bike(b);
    ObjectScene s = bale_scene(b);
    set_velocity(b, {0, 0, -c.speed});
    b.crash.collision_timer = c.timer;
    const bool expect_crash = c.crashes;
    EXPECT_TRUE(bike_object_contacts(b, s.hf, s.objects, s.grid, s.width, 77));
    EXPECT_EQ(s.objects[2].touch_tic, 77);
    EXPECT_EQ(s.objects[1].touch_tic, -1);
    EXPECT_EQ(b.crash.count, expect_crash ? 1 : 0);
    EXPECT_EQ(b.crash.counter, expect_crash ? 512 + 40 : 0);
    dJointID rider_joint = b.joints[kRiderJoint];
    EXPECT_EQ(dJointGetBody(rider_joint, 0) == nullptr, expect_crash);
    if (expect_crash) {
      EXPECT_NEAR(b.rider_feet[0].velocity[2], -c.speed, 1e-3);
      // Already down: hitting it again is no new crash.
      dJointGroupEmpty(g_physics.contact_group);
      EXPECT_TRUE(bike_object_contacts(b, s.hf, s.objects, s.grid, s.width, 78));
      EXPECT_EQ(b.crash.count, 1);
    }
    dJointGroupEmpty(g_physics.contact_group);
  }
}

TEST_F(BikeContactWorld, AnObjectListedInSeveralNearbyCellsIsTestedOnce) {
  BikeState& b = add_bike();
  ObjectScene s = bale_scene(b);
  TrackObject& bale = s.objects[2];
  bale.shape = one_sphere_shape(5.0f);  // wide enough to be listed in four cells
  bale.position = {32, 10, 26.5};       // still 0.5 ft into the rider's body
  build_object_grid(s.grid, s.objects, s.width);
  int listed = 0;
  for (const auto& cell : s.grid.cells) {
    listed += static_cast<int>(std::count(cell.begin(), cell.end(), 2));
  }
  ASSERT_GT(listed, 1);
  const int joints = dBodyGetNumJoints(b.bodies[kRiderBody]);
  EXPECT_TRUE(bike_object_contacts(b, s.hf, s.objects, s.grid, s.width, 3));
  EXPECT_EQ(dBodyGetNumJoints(b.bodies[kRiderBody]), joints + 1);
}

TEST_F(BikeContactWorld, ObjectsFacingTheViewerCollideUnturned) {
  BikeState& b = add_bike();
  ObjectScene s = bale_scene(b);
  // The bale's sphere sits 2 ft off its origin; a half turn about y would swing it away.
  TrackObject& bale = s.objects[2];
  bale.shape = one_sphere_shape(1.5f, {0, 0, 2});
  bale.position = {32, 10, 28};
  bale.orientation = {-1, 0, 0, 0, 1, 0, 0, 0, -1};
  build_object_grid(s.grid, s.objects, s.width);
  EXPECT_FALSE(bike_object_contacts(b, s.hf, s.objects, s.grid, s.width, 5));
  bale.facing_distance = 16;
  EXPECT_TRUE(bike_object_contacts(b, s.hf, s.objects, s.grid, s.width, 6));
  EXPECT_EQ(bale.touch_tic, 6);
}

}  // namespace
}  // namespace ks
