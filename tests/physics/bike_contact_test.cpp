// Bike-to-bike and object contacts: sphere and torus geometry, the contact softness and
// penalty forces, the bounding-sphere rejection, bikes meeting, the joint-for-force trade,
// the collision timers and the object crash rule.
#include <gtest/gtest.h>

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
