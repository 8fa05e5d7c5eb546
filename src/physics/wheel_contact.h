// Tyre against ground: the wheel is a torus (centre circle of the torus radius in the
// wheel plane, tube of the section radius) tested against the terrain triangles, and a
// touch becomes one contact joint whose grip, softness and friction direction come from
// the ground material under it.
#pragma once

#include <array>

#include <ode/ode.h>

namespace ks {

struct HeightField;

using Vec3d = std::array<double, 3>;

// Where a shape touches the ground. The normal is a unit vector that never points down;
// the depth is positive when `touches` is set.
struct GroundHit {
  bool touches = false;
  Vec3d point{};
  Vec3d normal{0, 1, 0};
  double depth = 0;
};

// The contact of one wheel in the current step (two per bike: front, then rear).
struct WheelContact {
  dBodyID body = nullptr;
  std::array<float, 3> axle{1, 0, 0};  // in the wheel's own frame
  float torus_radius = 0;              // wheel centre to the centre of the tyre section
  float section_radius = 0;            // radius of the tyre section
  std::array<float, 3> point{};        // contact point of this tic
  std::array<float, 3> point_velocity{};  // wheel velocity at the point: the tyre's slip
  std::array<float, 3> normal{0, 1, 0};
  float depth = 0;                     // 0 when the wheel doesn't touch
  dJointFeedback feedback{};           // forces of this tic's contact joint
};

// The torus (centre, unit axle in world coordinates, torus radius, section radius)
// against every terrain triangle under its bounding square; the deepest touch wins.
GroundHit torus_terrain_test(const HeightField& hf, const Vec3d& centre, const Vec3d& axle,
                             double torus_radius, double section_radius);

// The same for a wheel body as it stands now. Makes no joint (roost uses it too).
GroundHit wheel_terrain_test(const HeightField& hf, const WheelContact& wheel);

// Tests the wheel, fills its contact record and, if it touches, makes the contact joint
// in the contact group (attached to the wheel and the static world) and adds the rolling
// resistance force. Returns true if the wheel touches.
bool wheel_contact(const HeightField& hf, WheelContact& wheel, double grip_factor);

// ---- material curves (pure; exposed for tests) ----------------------------------------

struct TileInfo;

// Friction coefficient of a material at a contact-point speed.
double material_friction(const TileInfo& m, double speed);
// Rolling-resistance force at wheel speed `speed` and compression s in [0, 1].
double material_roll_resist(const TileInfo& m, double speed, double compression);

// First friction direction of a tyre contact: across the normal from the slip, or, when
// the tyre hardly slips, normal x axle (the rolling direction). Unit length, or zero when
// even that is degenerate (the library then picks the directions).
Vec3d tyre_friction_direction(const Vec3d& normal, const Vec3d& slip, const Vec3d& axle_world);

// Contact softness of a tyre at a depth: compression s = min(1, depth / section radius),
// spring k = 1000 + 24000 s^3 and damper c = 200 + 2300 s^3, as joint ERP and CFM for
// one tic.
struct TyreSoftness {
  double spring = 0, damper = 0, erp = 0, cfm = 0;
};
TyreSoftness tyre_softness(double depth, double section_radius);

}  // namespace ks
