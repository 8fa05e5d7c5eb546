// Sections: geometry - sphere pairs - shapes and wheels - bikes and objects.
#include "physics/bike_contact.h"

#include <algorithm>
#include <cmath>

#include "physics/bike_state.h"
#include "physics/rider.h"
#include "physics/terrain_contact.h"
#include "physics/terrain_triangles.h"
#include "physics/world.h"
#include "track/collision_shape.h"
#include "track/objects.h"

namespace ks {

using namespace contact_detail;

namespace {

// Centres closer than this (squared, and relative to the smaller radius) give no normal.
constexpr double kCoincident = 1.0 / 256.0;
// A sphere pair never pushes with a spring force above this.
constexpr double kMaxSpringForce = 2500;

// The tyre's proxy sphere.
constexpr float kTyreFriction = 1;
constexpr float kTyreStiffness = 25000;
constexpr float kTyreDamping = 2500;

// How far around a bike the object grid is searched.
constexpr float kObjectReach = 6;

Vec3d to_vec(const std::array<float, 3>& a) {
  return {static_cast<double>(a[0]), static_cast<double>(a[1]), static_cast<double>(a[2])};
}
std::array<float, 3> to_float(const Vec3d& v) {
  return {static_cast<float>(v[0]), static_cast<float>(v[1]), static_cast<float>(v[2])};
}

Vec3d rotate(const std::array<double, 9>& r, const Vec3d& v) {
  return {r[0] * v[0] + r[1] * v[1] + r[2] * v[2], r[3] * v[0] + r[4] * v[1] + r[5] * v[2],
          r[6] * v[0] + r[7] * v[1] + r[8] * v[2]};
}

Vec3d point_velocity(dBodyID body, const Vec3d& p) {
  if (body == nullptr) return {0, 0, 0};
  dVector3 v{0, 0, 0, 0};
  dBodyGetPointVel(body, p[0], p[1], p[2], v);
  return {v[0], v[1], v[2]};
}

Vec3d linear_velocity(dBodyID body) {
  if (body == nullptr) return {0, 0, 0};
  const dReal* v = dBodyGetLinearVel(body);
  return {v[0], v[1], v[2]};
}

void add_force(dBodyID body, const Vec3d& f, const Vec3d& at) {
  if (body == nullptr || dBodyIsEnabled(body) == 0) return;
  dBodyAddForceAtPos(body, f[0], f[1], f[2], at[0], at[1], at[2]);
}

double frame_speed(const BikeState& b) { return length(linear_velocity(b.bodies[kFrameBody])); }

// A sphere about the frame that holds every part shape and both tyres. Two bikes whose
// spheres don't meet can't touch, whatever the parts do; false without a frame.
bool bike_reach(const BikeState& b, Vec3d& centre, double& reach) {
  dBodyID frame = b.bodies[kFrameBody];
  if (frame == nullptr) return false;
  const dReal* f = dBodyGetPosition(frame);
  centre = {f[0], f[1], f[2]};
  reach = 0;
  for (size_t k = 0; k < b.bodies.size(); ++k) {
    if (!b.shapes[k] || b.bodies[k] == nullptr) continue;
    const dReal* p = dBodyGetPosition(b.bodies[k]);
    reach = std::max(reach, length(sub({p[0], p[1], p[2]}, centre)) +
                                static_cast<double>(b.shapes[k]->bound));
  }
  for (const WheelContact* w : {&b.front_contact, &b.rear_contact}) {
    if (w->body == nullptr) continue;
    const dReal* p = dBodyGetPosition(w->body);
    reach = std::max(reach, length(sub({p[0], p[1], p[2]}, centre)) +
                                static_cast<double>(w->torus_radius + w->section_radius));
  }
  return true;
}

}  // namespace

// ---- geometry -----------------------------------------------------------------------------

SphereOverlap sphere_overlap(const Vec3d& c1, double r1, const Vec3d& c2, double r2) {
  SphereOverlap o;
  const Vec3d d = sub(c2, c1);
  const double d2 = dot(d, d);
  const double reach = r1 + r2;
  if (!(d2 < reach * reach)) return o;  // also rejects anything not finite
  o.overlaps = true;
  const double r = std::min(r1, r2);
  if (d2 < kCoincident && d2 < r * r * kCoincident) return o;
  const double dist = std::sqrt(d2);
  o.has_contact = true;
  o.depth = reach - dist;
  o.normal = scale(d, 1.0 / dist);
  o.point = add(c1, scale(o.normal, r1 - o.depth / 2));
  return o;
}

SphereSoftness sphere_softness(const CollisionSphere& s1, const CollisionSphere& s2,
                               double depth) {
  SphereSoftness s;
  s.spring = static_cast<double>(std::min(s1.stiffness, s2.stiffness));
  s.damper = static_cast<double>(std::min(s1.damping, s2.damping));
  if (s.spring * depth > kMaxSpringForce) s.spring = kMaxSpringForce / depth;
  s.mu = static_cast<double>(std::min(s1.friction, s2.friction));
  const double hk = kTicSeconds * s.spring;
  if (hk + s.damper > 0) {
    s.cfm = 1.0 / (hk + s.damper);
    s.erp = hk * s.cfm;
  }
  return s;
}

double penalty_force(double depth, double spring, double damper, double closing_speed) {
  const double f = depth * spring + closing_speed * damper;
  if (!std::isfinite(f)) return 0;
  return std::clamp(f, -kMaxPenaltyForce, kMaxPenaltyForce);
}

Vec3d torus_proxy_centre(const Vec3d& centre, const Vec3d& axle, double torus_radius,
                         const Vec3d& target) {
  const double min_across = torus_radius * torus_radius * 1e-6;
  auto across = [&](const Vec3d& v) { return sub(v, scale(axle, dot(v, axle))); };
  Vec3d q = across(sub(target, centre));
  // On the axle line every direction is as near; take a fixed one across the axle.
  for (int k = 1; k < 8 && dot(q, q) < min_across; ++k) {
    q = across({(k & 1) != 0 ? torus_radius : 0, (k & 2) != 0 ? torus_radius : 0,
                (k & 4) != 0 ? torus_radius : 0});
  }
  const double len = length(q);
  if (!(len > 0)) return centre;
  return add(centre, scale(q, torus_radius / len));
}

ShapePose body_pose(dBodyID body) {
  ShapePose p;
  if (body == nullptr) return p;
  const dReal* x = dBodyGetPosition(body);
  const dReal* r = dBodyGetRotation(body);  // 3 x 4, row-major
  p.position = {x[0], x[1], x[2]};
  for (size_t row = 0; row < 3; ++row)
    for (size_t col = 0; col < 3; ++col) p.rotation[row * 3 + col] = r[row * 4 + col];
  return p;
}

ShapePose object_pose(const std::array<float, 3>& position,
                      const std::array<float, 9>& orientation) {
  ShapePose p;
  p.position = to_vec(position);
  for (size_t k = 0; k < 9; ++k) p.rotation[k] = static_cast<double>(orientation[k]);
  return p;
}

void place_shape(CollisionShape& shape, const ShapePose& pose) {
  for (CollisionSphere& s : shape.spheres) {
    s.world_centre = to_float(add(rotate(pose.rotation, to_vec(s.centre)), pose.position));
  }
}

// ---- sphere pairs -------------------------------------------------------------------------

bool sphere_sphere_contact(const CollisionSphere& s1, dBodyID b1, const CollisionSphere& s2,
                           dBodyID b2, int mode, WheelContact* record) {
  const SphereOverlap o =
      sphere_overlap(to_vec(s1.world_centre), static_cast<double>(s1.radius),
                     to_vec(s2.world_centre), static_cast<double>(s2.radius));
  if (!o.overlaps) return false;
  if (b1 == nullptr && b2 == nullptr) return true;
  if (!o.has_contact) return true;
  if (record != nullptr) {
    record->point = to_float(o.point);
    record->point_velocity = to_float(point_velocity(b1, o.point));
    record->normal = to_float(o.normal);
    record->depth = static_cast<float>(o.depth);
    record->feedback = dJointFeedback{};
  }
  if (mode == kContactTouch) return true;
  const SphereSoftness soft = sphere_softness(s1, s2, o.depth);
  // Spheres with neither spring nor damper have nothing to push with.
  if (!(soft.cfm > 0)) return true;
  if (mode == kContactJoint) {
    if (g_physics.world == nullptr || g_physics.contact_group == nullptr) return true;
    dContact c{};
    c.surface.mode = dContactApprox1 | dContactSoftERP | dContactSoftCFM;
    c.surface.mu = soft.mu;
    c.surface.soft_erp = soft.erp;
    c.surface.soft_cfm = soft.cfm;
    for (size_t k = 0; k < 3; ++k) {
      c.geom.pos[k] = o.point[k];
      c.geom.normal[k] = o.normal[k];
    }
    c.geom.depth = o.depth;
    dJointID j = dJointCreateContact(g_physics.world, g_physics.contact_group, &c);
    dJointAttach(j, b2, b1);
  } else {
    const Vec3d p = point_velocity(b1, o.point), q = point_velocity(b2, o.point);
    const double f = penalty_force(o.depth, soft.spring, soft.damper, dot(sub(p, q), o.normal));
    add_force(b2, scale(o.normal, f), o.point);
    add_force(b1, scale(o.normal, -f), o.point);
  }
  return true;
}

// ---- shapes and wheels --------------------------------------------------------------------

bool shape_shape_contacts(CollisionShape& s1, dBodyID b1, const ShapePose& p1,
                          CollisionShape& s2, dBodyID b2, const ShapePose& p2, int mode) {
  const double bound = static_cast<double>(s1.bound) + static_cast<double>(s2.bound);
  if (!(length(sub(p2.position, p1.position)) < bound)) return false;
  place_shape(s1, p1);
  place_shape(s2, p2);
  bool touched = false;
  for (const CollisionSphere& a : s1.spheres) {
    for (const CollisionSphere& b : s2.spheres) {
      touched = sphere_sphere_contact(a, b1, b, b2, mode, nullptr) || touched;
    }
  }
  return touched;
}

bool wheel_shape_contacts(CollisionShape& s, dBodyID body, const ShapePose& pose,
                          WheelContact& wheel, int mode) {
  if (wheel.body == nullptr) return false;
  const ShapePose wp = body_pose(wheel.body);
  const Vec3d& c = wp.position;
  const double big = static_cast<double>(wheel.torus_radius);
  const double small = static_cast<double>(wheel.section_radius);
  if (!(length(sub(c, pose.position)) < small + big + static_cast<double>(s.bound))) {
    return false;
  }
  Vec3d axle = rotate(wp.rotation, to_vec(wheel.axle));
  const double axle_len = length(axle);
  axle = axle_len > 0 ? scale(axle, 1.0 / axle_len) : Vec3d{1, 0, 0};
  place_shape(s, pose);

  CollisionSphere proxy;
  proxy.radius = wheel.section_radius;
  proxy.friction = kTyreFriction;
  proxy.stiffness = kTyreStiffness;
  proxy.damping = kTyreDamping;
  bool touched = false;
  WheelContact best;
  for (const CollisionSphere& t : s.spheres) {
    proxy.world_centre = to_float(torus_proxy_centre(c, axle, big, to_vec(t.world_centre)));
    WheelContact rec;
    if (!sphere_sphere_contact(proxy, wheel.body, t, body, mode, &rec)) continue;
    touched = true;
    if (rec.depth > best.depth) best = rec;
  }
  // A tyre that met no ground this tic rides on the shape instead.
  if (best.depth > 0 && wheel.depth == 0) {
    wheel.point = best.point;
    wheel.point_velocity = best.point_velocity;
    wheel.normal = best.normal;
    wheel.depth = best.depth;
    wheel.feedback = best.feedback;
  }
  return touched;
}

int shape_bike_contacts(BikeState& b, CollisionShape& s, dBodyID body, const ShapePose& pose,
                        int mode, int front_mode) {
  int flags = 0;
  if (wheel_shape_contacts(s, body, pose, b.front_contact, front_mode)) flags |= kPartFrontWheel;
  if (wheel_shape_contacts(s, body, pose, b.rear_contact, mode)) flags |= kPartRearWheel;
  struct Part {
    int body, flag;
    bool front;
  };
  static constexpr Part kParts[] = {{kFrameBody, kPartFrame, false},
                                    {kForkUpperBody, kPartForkUpper, true},
                                    {kForkLowerBody, kPartForkLower, true},
                                    {kSwingarmBody, kPartSwingarm, false},
                                    {kRiderBody, kPartRider, false}};
  for (const Part& p : kParts) {
    auto& shape = b.shapes[static_cast<size_t>(p.body)];
    dBodyID part = b.bodies[static_cast<size_t>(p.body)];
    if (!shape || part == nullptr) continue;
    if (shape_shape_contacts(*shape, part, body_pose(part), s, body, pose,
                             p.front ? front_mode : mode)) {
      flags |= p.flag;
    }
  }
  return flags;
}

// ---- bikes and objects --------------------------------------------------------------------

int object_contact(BikeState& bike, CollisionShape& shape, dBodyID body, const ShapePose& pose,
                   const HeightField& hf) {
  const int flags = shape_bike_contacts(bike, shape, body, pose, kContactJoint, kContactJoint);
  dBodyID rider = bike.bodies[kRiderBody];
  if ((flags & kPartRider) != 0 && bike.crash.counter <= 0 && rider != nullptr) {
    const Vec3d v = sub(linear_velocity(rider), linear_velocity(body));
    if (dot(v, v) > kObjectCrashSpeed * kObjectCrashSpeed && bike.crash.collision_timer >= 0) {
      crash_rider_off(bike, hf);
    }
  }
  return flags;
}

bool bike_object_contacts(BikeState& bike, const HeightField& hf,
                          std::vector<TrackObject>& objects, const ObjectGrid& grid,
                          float world_width, int tic) {
  bool touched = bike_ground_contacts(bike, hf);
  dBodyID frame = bike.bodies[kFrameBody];
  if (frame == nullptr) return touched;
  const dReal* at = dBodyGetPosition(frame);
  const float x = static_cast<float>(at[0]), z = static_cast<float>(at[2]);
  const int x0 = object_grid_cell(x - kObjectReach, world_width);
  const int x1 = object_grid_cell(x + kObjectReach, world_width);
  const int z0 = object_grid_cell(z - kObjectReach, world_width);
  const int z1 = object_grid_cell(z + kObjectReach, world_width);
  auto cell = [&](int cx, int cz) -> const std::vector<int>& {
    return grid.cells[static_cast<size_t>(cz * kObjectGridSide + cx)];
  };
  std::vector<int> merged;
  const std::vector<int>* list = &cell(x0, z0);
  if (x0 != x1 || z0 != z1) {
    // An object that spans cells is listed in each; test it once, in index order.
    for (int cz = z0; cz <= z1; ++cz) {
      for (int cx = x0; cx <= x1; ++cx) {
        const std::vector<int>& c = cell(cx, cz);
        merged.insert(merged.end(), c.begin(), c.end());
      }
    }
    std::sort(merged.begin(), merged.end());
    merged.erase(std::unique(merged.begin(), merged.end()), merged.end());
    list = &merged;
  }
  static const std::array<float, 9> kIdentity{1, 0, 0, 0, 1, 0, 0, 0, 1};
  for (int index : *list) {
    if (index < 0 || static_cast<size_t>(index) >= objects.size()) continue;
    TrackObject& o = objects[static_cast<size_t>(index)];
    if (!o.shape) continue;
    // Objects that turn to face the viewer collide as if unturned.
    const ShapePose pose =
        object_pose(o.position, o.facing_distance != 0 ? kIdentity : o.orientation);
    if (object_contact(bike, *o.shape, nullptr, pose, hf) != 0) {
      o.touch_tic = tic;
      touched = true;
    }
  }
  return touched;
}

int bike_bike_contacts(BikeState& a, BikeState& b, bool remote, int tic) {
  if (&a == &b) return 0;
  Vec3d ca{}, cb{};
  double ra = 0, rb = 0;
  if (bike_reach(a, ca, ra) && bike_reach(b, cb, rb) && !(length(sub(cb, ca)) < ra + rb)) {
    return 0;
  }
  // A bike already in contact with another bike this tic is pushed by forces, so that a
  // crowd of touching bikes never becomes one large coupled system.
  const int mode = a.crash.last_bike_contact_tic == tic || b.crash.last_bike_contact_tic == tic
                       ? kContactForce
                       : kContactJoint;
  struct Part {
    int body, flag;
    bool rear;  // only touched by a remote bike's front end
  };
  static constexpr Part kParts[] = {
      {kFrontWheelBody, kPartFrontWheel, false}, {kRearWheelBody, kPartRearWheel, true},
      {kFrameBody, kPartFrame, true},            {kForkUpperBody, kPartForkUpper, false},
      {kForkLowerBody, kPartForkLower, false},   {kSwingarmBody, kPartSwingarm, true},
      {kRiderBody, kPartRider, true}};
  int hit_b = 0, hit_a = 0;
  for (const Part& p : kParts) {
    auto& shape = a.shapes[static_cast<size_t>(p.body)];
    dBodyID body = a.bodies[static_cast<size_t>(p.body)];
    if (!shape || body == nullptr) continue;
    const int front_mode = remote && p.rear ? kContactTouch : mode;
    const int f = shape_bike_contacts(b, *shape, body, body_pose(body), mode, front_mode);
    if (f != 0) {
      hit_b |= f;
      hit_a |= p.flag;
    }
  }
  if (hit_b == 0) return 0;

  const double va = frame_speed(a), vb = frame_speed(b);
  float& ta = a.crash.collision_timer;
  float& tb = b.crash.collision_timer;
  if ((hit_a & hit_b & kPartFrontEnd) != 0) {
    if (va >= 10) ta = std::max(ta, kHeadOnTimer);
    if (vb >= 10) tb = std::max(tb, kHeadOnTimer);
  } else if ((hit_a & kPartFrontEnd) != 0) {
    if (b.crash.counter < 1 && vb >= 5) {
      if (va >= 10) ta = std::max(ta, kRammerTimer);
      if (tb <= 0) tb = std::min(tb, kRammedTimer);
    }
  } else if ((hit_b & kPartFrontEnd) != 0) {
    if (a.crash.counter < 1 && va >= 5) {
      if (vb >= 10) tb = std::max(tb, kRammerTimer);
      if (ta <= 0) ta = std::min(ta, kRammedTimer);
    }
  }
  a.crash.last_bike_contact_tic = tic;
  b.crash.last_bike_contact_tic = tic;
  a.followed_lines = {};
  b.followed_lines = {};
  return hit_b;
}

}  // namespace ks
