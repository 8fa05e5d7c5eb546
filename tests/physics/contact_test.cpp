// Wheel and body contact with the ground: torus and sphere geometry against the terrain
// triangles, the material curves and tyre softness, the wheel's rolling resistance, the
// crash rule, and bikes rolling down a slope.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <functional>
#include <string>

#include "physics/rider_pose.h"
#include "physics/terrain_contact.h"
#include "physics/wheel_contact.h"
#include "physics/world.h"
#include "track/heightfield.h"
#include "track/tileinfo.h"

namespace ks {
namespace {

constexpr double kR = 1.0;     // torus radius
constexpr double kr = 0.25;    // section radius
constexpr double kDelta = 0.05;

Vec3d unit(Vec3d v) {
  const double l = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
  return {v[0] / l, v[1] / l, v[2] / l};
}
Vec3d along(const Vec3d& p, const Vec3d& n, double k) {
  return {p[0] + n[0] * k, p[1] + n[1] * k, p[2] + n[2] * k};
}

// A 17 x 17 field of spacing 1 with heights from a function of the sample indices.
HeightField make_field(const std::function<float(int, int)>& height) {
  HeightField hf;
  EXPECT_TRUE(init_height_field(hf, 3, 1.0f));
  for (int j = 0; j < hf.size; ++j)
    for (int i = 0; i < hf.size; ++i)
      hf.heights[static_cast<size_t>(j * hf.size + i)] = height(i, j);
  return hf;
}

float flat(int, int) { return 2.0f; }
float slope(int, int j) { return 0.25f * static_cast<float>(j); }  // exact in floats
float ridge(int, int j) { return j == 8 ? 1.0f : 0.0f; }
float spike(int i, int j) { return i == 8 && j == 8 ? 1.0f : 0.0f; }

const Vec3d kUp{0, 1, 0};
const Vec3d kSlopeNormal = unit({0, 1, -0.25});
const double kCos30 = std::sqrt(3.0) / 2.0;

struct TorusCase {
  const char* name;
  float (*height)(int, int);
  Vec3d centre;
  Vec3d axle;
  bool touches;
  double depth;
  Vec3d normal;
};

const TorusCase kTorusCases[] = {
    {"flat face", flat, {5.3, 2 + kR + kr - kDelta, 6.7}, {1, 0, 0}, true, kDelta, kUp},
    {"flat face, steered", flat, {5.3, 2 + kR + kr - kDelta, 6.7}, unit({1, 0, 1}), true,
     kDelta, kUp},
    {"leaning 30 degrees", flat, {5.3, 2 + kR * kCos30 + kr - kDelta, 6.7},
     {kCos30, 0.5, 0}, true, kDelta, kUp},
    {"slope", slope, along({5.3, 0.25 * 6.7, 6.7}, kSlopeNormal, kR + kr - kDelta),
     {1, 0, 0}, true, kDelta, kSlopeNormal},
    {"ridge edge", ridge, {5.5, 1 + kR + kr - kDelta, 8}, {1, 0, 0}, true, kDelta, kUp},
    {"spike corner", spike, {8, 1 + kR + kr - kDelta, 8}, {1, 0, 0}, true, kDelta, kUp},
    {"spike corner, beside the plane", spike, {8.1, 1 + kR + kr - kDelta, 8}, {1, 0, 0},
     true, kr - std::sqrt(0.01 + (kr - kDelta) * (kr - kDelta)),
     unit({0.1, kr - kDelta, 0})},
    {"on its side, flat", flat, {5.3, 2 + kr - kDelta, 6.7}, {0, 1, 0}, true, kDelta, kUp},
    {"on its side, slope", slope, along({5.3, 0.25 * 6.7, 6.7}, kSlopeNormal, kr - kDelta),
     kSlopeNormal, true, kDelta, kSlopeNormal},
    {"clear of the ground", flat, {5.3, 2 + kR + kr + 0.01, 6.7}, {1, 0, 0}, false, 0, kUp},
    {"clear of the ridge", ridge, {5.5, 1 + kR + kr + 0.01, 8}, {1, 0, 0}, false, 0, kUp},
};

TEST(TorusTerrain, GeometryTable) {
  for (const TorusCase& c : kTorusCases) {
    SCOPED_TRACE(c.name);
    const HeightField hf = make_field(c.height);
    const GroundHit hit = torus_terrain_test(hf, c.centre, c.axle, kR, kr);
    ASSERT_EQ(hit.touches, c.touches);
    if (!c.touches) continue;
    EXPECT_NEAR(hit.depth, c.depth, 1e-6);
    for (int k = 0; k < 3; ++k) EXPECT_NEAR(hit.normal[k], c.normal[k], 1e-6) << k;
    // The contact point is the deepest point of the tube, `depth` inside the surface.
    const Vec3d surface = along(hit.point, hit.normal, hit.depth);
    const double gap = std::fabs(ground_height_at(hf, surface[0], surface[2]) - surface[1]);
    if (c.height != spike && c.height != ridge) {
      EXPECT_LT(gap, 1e-5);
    }
  }
}

TEST(TorusTerrain, FlatFaceContactPointIsUnderTheCentre) {
  const HeightField hf = make_field(flat);
  const GroundHit hit = torus_terrain_test(hf, {5.3, 2 + kR + kr - kDelta, 6.7}, {1, 0, 0},
                                           kR, kr);
  ASSERT_TRUE(hit.touches);
  EXPECT_NEAR(hit.point[0], 5.3, 1e-9);
  EXPECT_NEAR(hit.point[1], 2 - kDelta, 1e-9);
  EXPECT_NEAR(hit.point[2], 6.7, 1e-9);
}

TEST(TorusTerrain, BadInputTouchesNothing) {
  const HeightField hf = make_field(flat);
  const double nan = std::nan("");
  EXPECT_FALSE(torus_terrain_test(hf, {nan, 2, 3}, {1, 0, 0}, kR, kr).touches);
  EXPECT_FALSE(torus_terrain_test(hf, {1e300, 2, 3}, {1, 0, 0}, kR, kr).touches);
  EXPECT_FALSE(torus_terrain_test(hf, {5, 2, 5}, {0, 0, 0}, kR, kr).touches);
  HeightField empty;
  EXPECT_FALSE(torus_terrain_test(empty, {5, 0, 5}, {1, 0, 0}, kR, kr).touches);
}

TEST(TorusTerrain, OutsideTheFieldSeesTheEdgeHeight) {
  const HeightField hf = make_field(flat);
  const GroundHit hit = torus_terrain_test(hf, {-3, 2 + kR + kr - kDelta, 30}, {1, 0, 0}, kR, kr);
  ASSERT_TRUE(hit.touches);
  EXPECT_NEAR(hit.depth, kDelta, 1e-9);
}

struct SphereCase {
  const char* name;
  float (*height)(int, int);
  Vec3d centre;
  double radius;
  bool touches;
  double depth;
  Vec3d normal;
};

const SphereCase kSphereCases[] = {
    {"flat face", flat, {5.3, 2.4, 6.7}, 0.5, true, 0.1, kUp},
    {"slope", slope, along({5.3, 0.25 * 6.7, 6.7}, kSlopeNormal, 0.3), 0.5, true, 0.2,
     kSlopeNormal},
    {"ridge edge", ridge, {5.5, 1.45, 8}, 0.5, true, 0.05, kUp},
    {"spike corner", spike, {8.1, 1.3, 8}, 0.5, true, 0.5 - std::sqrt(0.01 + 0.09),
     unit({0.1, 0.3, 0})},
    {"clear", flat, {5.3, 2.6, 6.7}, 0.5, false, 0, kUp},
};

TEST(SphereTerrain, GeometryTable) {
  for (const SphereCase& c : kSphereCases) {
    SCOPED_TRACE(c.name);
    const HeightField hf = make_field(c.height);
    const GroundHit hit = sphere_terrain_test(hf, c.centre, c.radius);
    ASSERT_EQ(hit.touches, c.touches);
    if (!c.touches) continue;
    EXPECT_NEAR(hit.depth, c.depth, 1e-6);
    for (int k = 0; k < 3; ++k) EXPECT_NEAR(hit.normal[k], c.normal[k], 1e-6) << k;
    for (int k = 0; k < 3; ++k)
      EXPECT_NEAR(hit.point[k], c.centre[k] - c.radius * hit.normal[k], 1e-9) << k;
  }
}

// ---- material curves and softness ----------------------------------------------------

TileInfo material_with_friction(std::initializer_list<FrictionPoint> points) {
  TileInfo m = default_tile_info();
  m.friction = {};
  m.friction_count = 0;
  for (const FrictionPoint& p : points) m.friction[static_cast<size_t>(m.friction_count++)] = p;
  return m;
}

TEST(MaterialCurves, Friction) {
  const TileInfo single = material_with_friction({{1.2f, 10}});
  const TileInfo two = material_with_friction({{1.2f, 10}, {0.8f, 30}});
  TileInfo full = default_tile_info();
  for (int k = 0; k < kMaxFrictionPoints; ++k)
    full.friction[static_cast<size_t>(k)] = {static_cast<float>(k), static_cast<float>(k + 1)};
  struct Case {
    const TileInfo* m;
    double speed, mu;
  };
  const Case cases[] = {
      {&single, 0, 1.2},   {&single, 5, 1.2},  {&single, 20, 1.2},     {&single, 300, 1.2},
      {&two, 20, 1.05},    {&two, 5, 1.2},     {&two, 10, 1.2},        {&two, 30, 0.8},
      {&two, 100, 0.8},    {&full, 100, 7.0},  {&full, 0.5, 0.0},
      {&full, std::sqrt(2.5), 0.5},  // halfway between 1 and 2 in squared speed
  };
  for (const Case& c : cases) {
    EXPECT_NEAR(material_friction(*c.m, c.speed), c.mu, 1e-6) << c.speed;
  }
}

TEST(MaterialCurves, RollResist) {
  TileInfo m = default_tile_info();  // 5 / 15 at speed 1
  EXPECT_NEAR(material_roll_resist(m, 0, 0), 5, 1e-9);
  EXPECT_NEAR(material_roll_resist(m, 40, 1), 15, 1e-9);
  EXPECT_NEAR(material_roll_resist(m, 40, 0.5), 10, 1e-9);
  m.roll_resist[0] = {4, 8, 10};
  m.roll_resist[1] = {8, 16, 20};
  m.roll_resist_count = 2;
  EXPECT_NEAR(material_roll_resist(m, 15, 0), 6, 1e-9);
  EXPECT_NEAR(material_roll_resist(m, 15, 1), 12, 1e-9);
  EXPECT_NEAR(material_roll_resist(m, 50, 0.5), 12, 1e-9);
}

TEST(TyreSoftness, ByCompression) {
  const double h = 1.0 / 128.0;
  struct Case {
    double depth, k, c;
  };
  const Case cases[] = {{0, 1000, 200},
                        {0.125, 1000 + 24000 * 0.125, 200 + 2300 * 0.125},  // s = 0.5
                        {0.25, 25000, 2500},
                        {0.9, 25000, 2500}};  // deeper than the section stays stiffest
  for (const Case& c : cases) {
    const TyreSoftness s = tyre_softness(c.depth, 0.25);
    EXPECT_NEAR(s.spring, c.k, 1e-9) << c.depth;
    EXPECT_NEAR(s.damper, c.c, 1e-9) << c.depth;
    EXPECT_NEAR(s.erp, h * c.k / (h * c.k + c.c), 1e-12) << c.depth;
    EXPECT_NEAR(s.cfm, 1 / (h * c.k + c.c), 1e-12) << c.depth;
  }
}

TEST(ArcadeGrip, ByRoll) {
  const double pi = 3.14159265358979323846;
  EXPECT_DOUBLE_EQ(arcade_grip_factor(0), 1.0);
  EXPECT_DOUBLE_EQ(arcade_grip_factor(pi / 8), 1 - 0.375 * 0.5);
  EXPECT_DOUBLE_EQ(arcade_grip_factor(-pi / 4), 0.625);
  EXPECT_DOUBLE_EQ(arcade_grip_factor(pi), 0.625);
}

TEST(Knockout, ClampedAndAddedToTheCrashTime) {
  reset_knockout_ticks();
  set_knockout_ticks(0, -5);
  set_knockout_ticks(3, 1000);
  set_knockout_ticks(15, 9999999);
  set_knockout_ticks(16, 7);  // ignored
  set_knockout_ticks(-1, 7);
  EXPECT_EQ(crash_ticks(0), 512);
  EXPECT_EQ(crash_ticks(3), 1512);
  EXPECT_EQ(crash_ticks(15), 512 + 460800);
  EXPECT_EQ(crash_ticks(40), 512 + 460800);
  reset_knockout_ticks();
  EXPECT_EQ(crash_ticks(15), 512);
}

}  // namespace
}  // namespace ks

// ---- shipped shapes -------------------------------------------------------------------

#include "fs/vfs.h"
#include "physics/standard_shapes.h"
#include "support/test_support.h"
#include "track/collision_shape.h"

namespace ks {
namespace {

TEST(StandardShapes, GeneratedFilesMatchTheAcceptedDigest) {
  if (!test::file_exists(test::data_dir() + "/zzzz.saf")) {
    GTEST_SKIP() << "no generated data tree in " << test::data_dir();
  }
  test::TempDir home;
  test::use_roots(home.path(), test::data_dir());
  build_index();
  free_shape_cache();
  const auto digest = standard_shape_digest();
  ASSERT_TRUE(digest.has_value());
  EXPECT_TRUE(is_accepted_shape_digest(*digest)) << *digest;
  for (const char* name : kStandardShapeFiles) {
    const auto shape = load_shape(name);
    ASSERT_TRUE(shape.has_value()) << name;
    EXPECT_FALSE(shape->spheres.empty()) << name;
  }
  free_shape_cache();
  free_roots_and_index();
}

TEST(StandardShapes, AChangedFileIsNotAccepted) {
  test::TempDir home, data;
  for (const char* name : kStandardShapeFiles) test::write_file(data / (name + 1), "1\n0 0 0 1 1 1 1\n");
  test::use_roots(home.path(), data.path());
  const auto digest = standard_shape_digest();
  ASSERT_TRUE(digest.has_value());
  EXPECT_FALSE(is_accepted_shape_digest(*digest));
  test::write_file(data / "generic_rider.shp", "");
  EXPECT_TRUE(standard_shape_digest().has_value());
  std::remove((data / "generic_rider.shp").c_str());
  test::use_roots(home.path(), data.path());
  EXPECT_FALSE(standard_shape_digest().has_value());
}

}  // namespace
}  // namespace ks

// ---- contact joints and forces in the world -------------------------------------------

#include "physics/bike.h"
#include "physics/bike_catalog.h"
#include "physics/bike_state.h"
#include "physics/rider.h"

namespace ks {
namespace {

class WorldTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(create_physics_world()); }
  void TearDown() override {
    destroy_bike(bike);
    destroy_physics_world();
    reset_knockout_ticks();
  }
  BikeState* bike = nullptr;
};

TEST_F(WorldTest, WheelContactMakesOneJointAndRollingResistanceFadesBelowOneFootPerSecond) {
  const HeightField hf = make_field([](int, int) { return 0.0f; });  // 5 / 15 roll resist
  dBodyID wheel = dBodyCreate(g_physics.world);
  WheelContact c;
  c.body = wheel;
  c.torus_radius = static_cast<float>(kR);
  c.section_radius = static_cast<float>(kr);
  const double resist = 5 + 10 * (kDelta / kr);  // compression s = depth / section
  struct Case {
    double vx, vy, force_x;
  };
  const Case cases[] = {{0.5, 0, -0.5 * resist}, {0.25, -3, -0.25 * resist}, {3, 0, -resist},
                        {-12, 2, resist}};
  for (const Case& k : cases) {
    SCOPED_TRACE(k.vx);
    dBodySetPosition(wheel, 5.3, kR + kr - kDelta, 6.7);
    dBodySetLinearVel(wheel, k.vx, k.vy, 0);
    dBodySetForce(wheel, 0, 0, 0);
    ASSERT_TRUE(wheel_contact(hf, c, 1.0));
    EXPECT_NEAR(c.depth, kDelta, 1e-6);
    EXPECT_EQ(dBodyGetNumJoints(wheel), 1);
    const dReal* f = dBodyGetForce(wheel);
    EXPECT_NEAR(f[0], k.force_x, 1e-6);
    EXPECT_NEAR(f[1], 0, 1e-9);
    EXPECT_NEAR(c.point_velocity[0], k.vx, 1e-5);
    dJointGroupEmpty(g_physics.contact_group);
  }
  // Lifted clear: no joint, no force, depth 0.
  dBodySetPosition(wheel, 5.3, kR + kr + 0.5, 6.7);
  dBodySetForce(wheel, 0, 0, 0);
  EXPECT_FALSE(wheel_contact(hf, c, 1.0));
  EXPECT_EQ(c.depth, 0);
  EXPECT_EQ(dBodyGetNumJoints(wheel), 0);
  EXPECT_EQ(dBodyGetForce(wheel)[0], 0);
}

// A bike turned upside down with the rider's body sphere pressed into flat ground.
void flip_onto_rider(BikeState& b, const HeightField& hf, double speed) {
  for (auto& s : b.shapes) s.reset();
  CollisionShape rider;
  rider.name = "rider";
  rider.spheres.push_back(CollisionSphere{{0, 0, 0}, {}, 0.6f, 0.8f, 2500, 250});
  rider.bound = 0.6f;
  b.shapes[kRiderBody] = rider;
  reset_bike(b);
  orient_bike(b, {0, 0, 1}, 3.14159265358979323846);
  const dReal* p = dBodyGetPosition(b.bodies[kRiderBody]);
  translate_bike(b, {40 - p[0], ground_height_at(hf, 40, 40) + 0.55 - p[1], 40 - p[2]});
  for (dBodyID body : b.bodies) dBodySetLinearVel(body, speed, 0, 0);
}

TEST_F(WorldTest, RiderUpsideDownCrashesOnlyAboveFiveFeetPerSecond) {
  HeightField hf;
  ASSERT_TRUE(init_height_field(hf, 5, 2.0f, 1.0f));
  bike = create_bike("cr125", 0, "7");
  ASSERT_NE(bike, nullptr);
  set_knockout_ticks(0, 100);
  dJointID rider_joint = bike->joints[kRiderJoint];

  flip_onto_rider(*bike, hf, 4.0);
  EXPECT_TRUE(bike_ground_contacts(*bike, hf));
  EXPECT_EQ(bike->crash.counter, 0);
  EXPECT_EQ(bike->crash.count, 0);
  EXPECT_EQ(dJointGetBody(rider_joint, 0), bike->bodies[kRiderBody]);
  EXPECT_EQ(bike->crash.ground_touch, 1);
  dJointGroupEmpty(g_physics.contact_group);

  bike->crash.collision_timer = -1;  // just hit by another bike: not a crash of its own
  flip_onto_rider(*bike, hf, 6.0);
  bike->crash.collision_timer = -1;
  EXPECT_TRUE(bike_ground_contacts(*bike, hf));
  EXPECT_EQ(bike->crash.counter, 0);
  dJointGroupEmpty(g_physics.contact_group);

  flip_onto_rider(*bike, hf, 6.0);
  bike->controls.dab_pose = 0.5f;
  const RiderFeet posed = rider_feet(*bike, hf);
  EXPECT_TRUE(bike_ground_contacts(*bike, hf));
  EXPECT_EQ(bike->crash.counter, 512 + 100);
  EXPECT_EQ(bike->crash.count, 1);
  EXPECT_EQ(dJointGetBody(rider_joint, 0), nullptr);
  EXPECT_EQ(dJointGetBody(rider_joint, 1), nullptr);
  // The feet start from the posed feet, moving with the rider body.
  for (size_t f = 0; f < 2; ++f) {
    for (size_t k = 0; k < 3; ++k) {
      EXPECT_NEAR(bike->rider_feet[f].position[k], posed.position[f][k], 1e-4);
    }
    EXPECT_NEAR(bike->rider_feet[f].velocity[0], 6.0, 1e-4);
  }
  // Already down: a second touch is no new crash.
  EXPECT_TRUE(bike_ground_contacts(*bike, hf));
  EXPECT_EQ(bike->crash.count, 1);
  dJointGroupEmpty(g_physics.contact_group);

  // Right way up, the same touch at speed is no crash.
  reset_bike(*bike);
  const dReal* p = dBodyGetPosition(bike->bodies[kRiderBody]);
  translate_bike(*bike, {40 - p[0], 1.0 + 0.55 - p[1], 40 - p[2]});
  for (dBodyID body : bike->bodies) dBodySetLinearVel(body, 8, 0, 0);
  EXPECT_TRUE(bike_ground_contacts(*bike, hf));
  EXPECT_EQ(bike->crash.counter, 0);
}

}  // namespace
}  // namespace ks

// ---- a bike on a slope ------------------------------------------------------------------

namespace ks {
namespace {

constexpr double kSlopeAngle = 10 * 3.14159265358979323846 / 180;

// 256 ft a side, rising towards +z at 10 degrees (a bike facing -z faces downhill), one
// material everywhere.
HeightField slope_field(float friction, float roll_resist) {
  HeightField hf;
  EXPECT_TRUE(init_height_field(hf, 6, 2.0f));
  const double k = std::tan(kSlopeAngle);
  for (int j = 0; j < hf.size; ++j)
    for (int i = 0; i < hf.size; ++i)
      hf.heights[static_cast<size_t>(j * hf.size + i)] =
          static_cast<float>(k * j * static_cast<double>(hf.spacing));
  update_height_range(hf);
  TileInfo& m = hf.materials[0];
  m.friction = {};
  m.friction[0] = {friction, 1};
  m.friction_count = 1;
  m.roll_resist = {};
  m.roll_resist[0] = {roll_resist, roll_resist, 1};  // the same at every compression
  m.roll_resist_count = 1;
  return hf;
}

// Speed of the frame down the slope.
double downhill_speed(const BikeState& b) {
  const dReal* v = dBodyGetLinearVel(b.bodies[kFrameBody]);
  return -(v[2] * std::cos(kSlopeAngle) + v[1] * std::sin(kSlopeAngle));
}

// Places the bike facing downhill and sets it going at `speed`, wheels rolling.
void set_rolling(BikeState& b, const HeightField& hf, double speed) {
  ASSERT_TRUE(place_bike(b, hf, {128, 100, 0}, bike_ground_contacts));
  const double vy = -speed * std::sin(kSlopeAngle), vz = -speed * std::cos(kSlopeAngle);
  for (dBodyID body : b.bodies) dBodySetLinearVel(body, 0, vy, vz);
  for (const WheelContact* w : {&b.front_contact, &b.rear_contact}) {
    dBodySetAngularVel(w->body, -speed / static_cast<double>(w->torus_radius + w->section_radius), 0, 0);
  }
}

// Contacts and the rider springs, then the step: the tyres alone, without the assists.
void tic(BikeState& b, const HeightField& hf) {
  bike_ground_contacts(b, hf);
  rider_springs(b);
  world_step();
}

TEST_F(WorldTest, RollingDownASlopeAcceleratesByGravityLessRollingResistance) {
  const double resist = 12;  // lb per wheel
  const HeightField hf = slope_field(1.0f, static_cast<float>(resist));
  bike = create_bike("cr125", 0, "1");
  ASSERT_NE(bike, nullptr);
  set_rolling(*bike, hf, 4);
  for (int t = 0; t < 64; ++t) tic(*bike, hf);  // settle onto the ground
  ASSERT_GT(bike->front_contact.depth, 0);
  ASSERT_GT(bike->rear_contact.depth, 0);

  // Rolling wheels add their spin inertia to the mass that gravity accelerates.
  double inertia_mass = 0;
  for (const WheelContact* w : {&bike->front_contact, &bike->rear_contact}) {
    dMass m;
    dBodyGetMass(w->body, &m);
    const double rolling_radius =
        static_cast<double>(w->torus_radius + w->section_radius - w->depth);
    inertia_mass += m.I[0] / (rolling_radius * rolling_radius);
  }
  const double mass = static_cast<double>(bike->total_mass);
  const double predicted =
      (mass * kGravity * std::sin(kSlopeAngle) - 2 * resist) / (mass + inertia_mass);

  const double v0 = downhill_speed(*bike);
  const int tics = 96;
  for (int t = 0; t < tics; ++t) tic(*bike, hf);
  const double measured = (downhill_speed(*bike) - v0) / (tics * kTicSeconds);
  EXPECT_NEAR(measured, predicted, 0.1 * predicted) << "v0 " << v0;
}

// Wheels held by their brake motors: the bike slides rather than rolls.
double sliding_distance(BikeState*& b, float friction) {
  const HeightField hf = slope_field(friction, 5);
  destroy_bike(b);
  b = create_bike("cr125", 0, "1");
  if (b == nullptr) return 0;
  set_rolling(*b, hf, 3);
  for (const WheelContact* w : {&b->front_contact, &b->rear_contact}) {
    dBodySetAngularVel(w->body, 0, 0, 0);
  }
  const dReal* p = dBodyGetPosition(b->bodies[kFrameBody]);
  const double start_z = p[2];
  for (int t = 0; t < 128; ++t) {
    for (int j : {kFrontAxleJoint, kRearAxleJoint}) {
      dJointSetHingeParam(b->joints[static_cast<size_t>(j)], dParamVel, 0);
      dJointSetHingeParam(b->joints[static_cast<size_t>(j)], dParamFMax, 5000);
    }
    tic(*b, hf);
  }
  return start_z - dBodyGetPosition(b->bodies[kFrameBody])[2];
}

TEST_F(WorldTest, OnALowFrictionMaterialALockedBikeSlidesFurther) {
  const double grippy = sliding_distance(bike, 0.8f);
  const double slippery = sliding_distance(bike, 0.1f);
  EXPECT_GT(slippery, grippy + 1.0) << grippy << " " << slippery;
}

}  // namespace
}  // namespace ks

namespace ks {
namespace {

TEST(ShapeFile, DamagedFilesGiveNoShape) {
  struct Case {
    const char* name;
    std::string text;
    bool reads;
  };
  const Case cases[] = {
      {"good", "2\n0 0 0 1 0.5 2500 250\n1 2 3 0.25 0.5 2500 250\n", true},
      {"empty shape", "0\n", true},
      {"negative count", "-1\n0 0 0 1 0.5 2500 250\n", false},
      {"enormous count", "2147483647\n0 0 0 1 0.5 2500 250\n", false},
      {"count above the limit", "4097\n", false},
      {"nan centre", "1\nnan 0 0 1 0.5 2500 250\n", false},
      {"infinite radius", "1\n0 0 0 inf 0.5 2500 250\n", false},
      {"huge value", "1\n0 0 0 1e39 0.5 2500 250\n", false},
      {"truncated sphere", "2\n0 0 0 1 0.5 2500 250\n1 2 3 0.25 0.5\n", false},
      {"missing sphere", "2\n0 0 0 1 0.5 2500 250\n", false},
      {"words", "1\n0 0 zero 1 0.5 2500 250\n", false},
      {"nothing", "", false},
  };
  for (const Case& c : cases) {
    VfsFile* f = vfs_open_memory(c.text.data(), c.text.size());
    const auto shape = read_shape(f, c.name);
    vfs_close(f);
    EXPECT_EQ(shape.has_value(), c.reads) << c.name;
  }
  VfsFile* f = vfs_open_memory(cases[0].text.data(), cases[0].text.size());
  const auto shape = read_shape(f, "good");
  vfs_close(f);
  ASSERT_TRUE(shape.has_value());
  EXPECT_NEAR(shape->bound, std::sqrt(14.0) + 0.25, 1e-5);
}

TEST(ShapeContacts, SpheresArePlacedWithTheBodyPoseAndKeepTheirOwnCentres) {
  ASSERT_TRUE(create_physics_world());
  const HeightField hf = make_field([](int, int) { return 0.0f; });
  dBodyID body = dBodyCreate(g_physics.world);
  dBodySetPosition(body, 5, 0.4, 5);
  dMatrix3 r;
  dRFromAxisAndAngle(r, 0, 0, 1, 3.14159265358979323846 / 2);  // body x axis -> world y
  dBodySetRotation(body, r);
  CollisionShape shape;
  shape.spheres.push_back(CollisionSphere{{1, 0, 0}, {}, 0.5f, 0.7f, 0, 0});   // up, clear
  shape.spheres.push_back(CollisionSphere{{0, 1, 0}, {}, 0.5f, 0.7f, 0, 0});   // beside, touching
  for (int tic = 0; tic < 2; ++tic) {
    EXPECT_TRUE(shape_ground_contacts(shape, body, dBodyGetPosition(body),
                                      dBodyGetRotation(body), hf));
    EXPECT_EQ(dBodyGetNumJoints(body), 1);
    EXPECT_NEAR(shape.spheres[0].world_centre[1], 1.4, 1e-6);
    EXPECT_NEAR(shape.spheres[1].world_centre[0], 4, 1e-6);
    EXPECT_EQ(shape.spheres[1].centre[1], 1.0f);  // still the body-frame centre
    dJointGroupEmpty(g_physics.contact_group);
  }
  destroy_physics_world();
}

}  // namespace
}  // namespace ks

namespace ks {
namespace {

TEST(TyreFriction, DirectionFollowsTheSlipElseTheRollingDirection) {
  struct Case {
    const char* name;
    Vec3d slip, axle, expected;
  };
  const Case cases[] = {
      {"sliding sideways", {3, 0, 0}, {1, 0, 0}, {0, 0, -1}},
      {"sliding forwards", {0, 0, -2}, {1, 0, 0}, {-1, 0, 0}},
      {"no slip: rolling direction", {0.001, 0, 0.01}, {1, 0, 0}, {0, 0, -1}},
      {"no slip, steered", {0, 0, 0}, unit({1, 0, 1}), unit({1, 0, -1})},
      {"no slip, axle along the normal", {0, 0, 0}, {0, 1, 0}, {0, 0, 0}},
  };
  for (const Case& c : cases) {
    const Vec3d f = tyre_friction_direction(kUp, c.slip, c.axle);
    for (int k = 0; k < 3; ++k) EXPECT_NEAR(f[k], c.expected[k], 1e-12) << c.name << " " << k;
  }
}

TEST(BodyRoll, SignedFromUpright) {
  ASSERT_TRUE(create_physics_world());
  dBodyID b = dBodyCreate(g_physics.world);
  for (double heading : {0.0, 1.0, -2.5}) {
    for (double roll : {0.0, 0.5, -1.2}) {
      dMatrix3 yaw, lean, r;
      dRFromAxisAndAngle(yaw, 0, 1, 0, heading);
      dRFromAxisAndAngle(lean, 0, 0, 1, roll);  // about the bike's own forward axis
      dMultiply0(r, yaw, lean, 3, 3, 3);
      dBodySetRotation(b, r);
      EXPECT_NEAR(std::fabs(body_roll_angle(b)), std::fabs(roll), 1e-9) << heading << " " << roll;
    }
  }
  dMatrix3 r;
  dRFromAxisAndAngle(r, 0, 0, 1, 0.5);
  dBodySetRotation(b, r);
  dRFromAxisAndAngle(r, 0, 0, 1, -0.5);
  const double right = body_roll_angle(b);
  dBodySetRotation(b, r);
  EXPECT_NEAR(body_roll_angle(b), -right, 1e-9);
  EXPECT_LT(arcade_grip_factor(body_roll_angle(b)), 1.0);
  destroy_physics_world();
}

TEST_F(WorldTest, WheelShapesNeverTouchTheGround) {
  HeightField hf;
  ASSERT_TRUE(init_height_field(hf, 5, 2.0f, 0.0f));
  bike = create_bike("cr125", 0, "1");
  ASSERT_NE(bike, nullptr);
  for (auto& s : bike->shapes) s.reset();
  CollisionShape big;
  big.spheres.push_back(CollisionSphere{{0, 0, 0}, {}, 3.0f, 1.0f, 2500, 250});
  big.bound = 3;
  bike->shapes[kFrontWheelBody] = big;
  bike->shapes[kRearWheelBody] = big;
  translate_bike(*bike, {30, 1.5, 30});  // tyres 0.3 ft clear, wheel spheres deep in
  EXPECT_FALSE(bike_ground_contacts(*bike, hf));
  EXPECT_EQ(bike->crash.ground_touch, 0);
  EXPECT_EQ(bike->front_contact.depth, 0);
}

}  // namespace
}  // namespace ks
