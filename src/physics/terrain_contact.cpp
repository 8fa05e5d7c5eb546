// Sections: sphere test - shape contacts - bike contacts and the crash rule - knockout.
#include "physics/terrain_contact.h"

#include <algorithm>
#include <cmath>

#include "physics/bike_catalog.h"
#include "physics/bike_state.h"
#include "physics/rider_pose.h"
#include "physics/terrain_triangles.h"
#include "physics/world.h"
#include "track/collision_shape.h"
#include "track/heightfield.h"

namespace ks {

using namespace contact_detail;

KnockoutTable knockout_ticks;

namespace {

constexpr double kPi = 3.14159265358979323846;

// Body spheres are stiffer than tyres and fixed: spring 2500, damper 250.
constexpr double kShapeSpring = 2500;
constexpr double kShapeDamper = 250;

// The crash rule: the rider lands upside down faster than this.
constexpr double kCrashSpeed = 5.0;
constexpr int kCrashBaseTicks = 512;

Vec3d closest_on_segment(const Vec3d& p, const Vec3d& a, const Vec3d& b) {
  const Vec3d e = sub(b, a);
  const double ee = dot(e, e);
  const double t = ee > 0 ? std::clamp(dot(sub(p, a), e) / ee, 0.0, 1.0) : 0.0;
  return add(a, scale(e, t));
}

bool sphere_triangle(const Triangle& tri, const Vec3d& p, double r, GroundHit& hit) {
  const Vec3d& n = tri.normal;
  const double h = dot(n, sub(p, tri.v[0]));
  if (h > r) return false;
  if (projects_inside(tri, p)) {
    if (h < -r) return false;  // passed through from below
    hit = {true, sub(p, scale(n, r)), n, r - h};
    return true;
  }
  // Outside the face: the nearest point of the outline, on an edge or at a corner.
  Vec3d nearest{};
  double best = INFINITY;
  for (int k = 0; k < 3; ++k) {
    const Vec3d x = closest_on_segment(p, tri.v[k], tri.v[(k + 1) % 3]);
    const double d = length(sub(p, x));
    if (d < best) {
      best = d;
      nearest = x;
    }
  }
  if (!(best < r)) return false;
  Vec3d normal = best > 1e-12 ? scale(sub(p, nearest), 1.0 / best) : n;
  hit = {true, sub(p, scale(normal, r)), normal, r - best};
  return true;
}

void add_ground_joint(dBodyID body, const GroundHit& hit, double mu, double erp, double cfm,
                      dJointFeedback* feedback) {
  if (g_physics.world == nullptr || g_physics.contact_group == nullptr) return;
  dContact c{};
  c.surface.mode = dContactApprox1 | dContactSoftERP | dContactSoftCFM;
  c.surface.mu = mu;
  c.surface.soft_erp = erp;
  c.surface.soft_cfm = cfm;
  for (int k = 0; k < 3; ++k) {
    c.geom.pos[k] = hit.point[static_cast<size_t>(k)];
    c.geom.normal[k] = hit.normal[static_cast<size_t>(k)];
  }
  c.geom.depth = hit.depth;
  dJointID j = dJointCreateContact(g_physics.world, g_physics.contact_group, &c);
  dJointAttach(j, body, nullptr);
  if (feedback != nullptr) dJointSetFeedback(j, feedback);
}

bool body_shape_contacts(BikeState& bike, int which, const HeightField& hf) {
  auto& shape = bike.shapes[static_cast<size_t>(which)];
  dBodyID body = bike.bodies[static_cast<size_t>(which)];
  if (!shape || body == nullptr) return false;
  return shape_ground_contacts(*shape, body, dBodyGetPosition(body), dBodyGetRotation(body),
                               hf);
}

}  // namespace

// The rider leaves the bike: the rider joint lets go, and the feet go on from where the
// pose had them, with the rider body's motion there.
void crash_rider_off(BikeState& bike, const HeightField& hf) {
  dJointID rider_joint = bike.joints[kRiderJoint];
  if (rider_joint != nullptr) dJointAttach(rider_joint, nullptr, nullptr);
  dBodyID rider = bike.bodies[kRiderBody];
  const RiderFeet feet = rider_feet(bike, hf);
  for (size_t k = 0; k < 2; ++k) {
    const Vec3d& p = feet.position[k];
    dVector3 v{0, 0, 0, 0};
    if (rider != nullptr) dBodyGetPointVel(rider, p[0], p[1], p[2], v);
    for (size_t c = 0; c < 3; ++c) {
      bike.rider_feet[k].position[c] = static_cast<float>(p[c]);
      bike.rider_feet[k].velocity[c] = static_cast<float>(v[c]);
    }
  }
  bike.crash.counter = crash_ticks(bike.crash.count);
  ++bike.crash.count;
}


// ---- sphere test --------------------------------------------------------------------------

GroundHit sphere_terrain_test(const HeightField& hf, const Vec3d& centre, double radius) {
  GroundHit best;
  if (!(radius > 0)) return best;
  for (double v : centre) {
    if (!std::isfinite(v)) return best;
  }
  if (!ground_may_reach(hf, centre[0] - radius, centre[0] + radius, centre[2] - radius,
                        centre[2] + radius, centre[1] - radius)) {
    return best;
  }
  for_each_triangle(hf, centre[0] - radius, centre[0] + radius, centre[2] - radius,
                    centre[2] + radius, [&](const Triangle& tri) {
                      GroundHit h;
                      if (sphere_triangle(tri, centre, radius, h) && h.depth > best.depth) {
                        best = h;
                      }
                    });
  if (!(best.depth > 0)) return GroundHit{};
  best.normal = upward_normal(best.normal);
  return best;
}

// ---- shape contacts -----------------------------------------------------------------------

bool shape_ground_contacts(CollisionShape& shape, dBodyID body, const dReal* position,
                           const dReal* rotation, const HeightField& hf) {
  const double hk = kTicSeconds * kShapeSpring;
  const double erp = hk / (hk + kShapeDamper);
  const double cfm = 1.0 / (hk + kShapeDamper);
  bool touched = false;
  for (CollisionSphere& s : shape.spheres) {
    const double x = static_cast<double>(s.centre[0]), y = static_cast<double>(s.centre[1]),
                 z = static_cast<double>(s.centre[2]);
    Vec3d w{};
    for (size_t row = 0; row < 3; ++row) {
      w[row] = rotation[row * 4] * x + rotation[row * 4 + 1] * y + rotation[row * 4 + 2] * z +
               position[row];
      s.world_centre[row] = static_cast<float>(w[row]);
    }
    const GroundHit hit = sphere_terrain_test(hf, w, static_cast<double>(s.radius));
    if (!hit.touches) continue;
    touched = true;
    add_ground_joint(body, hit, static_cast<double>(s.friction), erp, cfm, nullptr);
  }
  return touched;
}

// ---- bike contacts and the crash rule -------------------------------------------------

double body_roll_angle(dBodyID body) {
  if (body == nullptr) return 0;
  const dReal* r = dBodyGetRotation(body);
  // Columns of the rotation are the body axes in the world.
  const Vec3d up{r[1], r[5], r[9]};
  const Vec3d fwd{-r[2], -r[6], -r[10]};
  const double h = std::sqrt(fwd[0] * fwd[0] + fwd[2] * fwd[2]);
  if (!(h > 0)) return 0;
  const Vec3d side{-fwd[2] / h, 0, fwd[0] / h};
  return std::acos(std::clamp(dot(up, side), -1.0, 1.0)) - kPi / 2;
}

double arcade_grip_factor(double roll) {
  return 1.0 - 0.375 * std::clamp(4.0 * std::fabs(roll) / kPi, 0.0, 1.0);
}

bool bike_ground_contacts(BikeState& bike, const HeightField& hf) {
  double grip = 1.0;
  if ((bike.tuning.flags[1] & kFlag2Arcade) != 0) {
    grip = arcade_grip_factor(body_roll_angle(bike.bodies[kFrameBody]));
  }
  bool touched = false;
  if (bike.front_contact.body != nullptr) {
    touched = wheel_contact(hf, bike.front_contact, grip) || touched;
  }
  if (bike.rear_contact.body != nullptr) {
    touched = wheel_contact(hf, bike.rear_contact, grip) || touched;
  }

  bool body_touched = false;
  for (int which : {kFrameBody, kForkUpperBody, kForkLowerBody, kSwingarmBody}) {
    body_touched = body_shape_contacts(bike, which, hf) || body_touched;
  }
  if (body_shape_contacts(bike, kRiderBody, hf)) {
    body_touched = true;
    dBodyID rider = bike.bodies[kRiderBody];
    const dReal* r = dBodyGetRotation(rider);
    const dReal* v = dBodyGetLinearVel(rider);
    const double speed = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
    const bool upside_down = r[5] < 0;  // y component of the body's own y axis
    if (upside_down && speed > kCrashSpeed && bike.crash.counter <= 0 &&
        bike.crash.collision_timer >= 0) {
      crash_rider_off(bike, hf);
    }
  }
  if (body_touched) bike.crash.ground_touch = 1;
  return touched || body_touched;
}

// ---- knockout -----------------------------------------------------------------------------

void set_knockout_ticks(int index, int ticks) {
  if (index < 0 || index >= kKnockoutEntries) return;
  knockout_ticks.ticks[static_cast<size_t>(index)] = std::clamp(ticks, 0, kMaxKnockoutTicks);
}

void reset_knockout_ticks() { knockout_ticks = KnockoutTable{}; }

int crash_ticks(int crash_count) {
  const int index = std::clamp(crash_count, 0, kKnockoutEntries - 1);
  return kCrashBaseTicks + knockout_ticks.ticks[static_cast<size_t>(index)];
}

}  // namespace ks
