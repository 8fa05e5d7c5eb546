#include "physics/rider_pose.h"

#include <algorithm>
#include <cmath>

#include <ode/ode.h>

#include "physics/bike_catalog.h"
#include "physics/bike_state.h"
#include "track/heightfield.h"

namespace ks {
namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kTiny = 1e-12;

Vec3d add(const Vec3d& a, const Vec3d& b) { return {a[0] + b[0], a[1] + b[1], a[2] + b[2]}; }
Vec3d sub(const Vec3d& a, const Vec3d& b) { return {a[0] - b[0], a[1] - b[1], a[2] - b[2]}; }
Vec3d scale(const Vec3d& a, double k) { return {a[0] * k, a[1] * k, a[2] * k}; }
double dot(const Vec3d& a, const Vec3d& b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }
Vec3d cross(const Vec3d& a, const Vec3d& b) {
  return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}

// Unit vector along v, or `fallback` when v has no direction.
Vec3d normalise(const Vec3d& v, const Vec3d& fallback) {
  const double len = std::sqrt(dot(v, v));
  if (!(len > kTiny)) return fallback;
  return scale(v, 1.0 / len);
}

// Some unit vector square to the unit vector u.
Vec3d any_perpendicular(const Vec3d& u) {
  const Vec3d axis = std::fabs(u[0]) < 0.9 ? Vec3d{1, 0, 0} : Vec3d{0, 0, 1};
  return normalise(cross(u, axis), {0, 0, 1});
}

Vec3d to_vec(const BikeVec3& v) {
  return {static_cast<double>(v.x), static_cast<double>(v.y), static_cast<double>(v.z)};
}

Vec3d world_point(dBodyID body, const Vec3d& p) {
  dVector3 out;
  dBodyGetRelPointPos(body, p[0], p[1], p[2], out);
  return {out[0], out[1], out[2]};
}

Vec3d world_vector(dBodyID body, const Vec3d& v) {
  dVector3 out;
  dBodyVectorToWorld(body, v[0], v[1], v[2], out);
  return {out[0], out[1], out[2]};
}

double roll_of(dBodyID body) {
  const dReal* r = dBodyGetRotation(body);
  const Vec3d up{r[1], r[5], r[9]};
  const Vec3d fwd{-r[2], -r[6], -r[10]};
  const double h = std::sqrt(fwd[0] * fwd[0] + fwd[2] * fwd[2]);
  if (!(h > 0)) return 0;
  const Vec3d side{-fwd[2] / h, 0, fwd[0] / h};
  return std::acos(std::clamp(dot(up, side), -1.0, 1.0)) - kPi / 2;
}

}  // namespace

// ---- two-bone reach -------------------------------------------------------------------

Vec3d two_bone_ik(const Vec3d& root, const Vec3d& target, double a, double b,
                  const Vec3d& pole) {
  a = std::fabs(a);
  b = std::fabs(b);
  const Vec3d d = sub(target, root);
  const double g = std::sqrt(dot(d, d));
  const Vec3d u = g > kTiny ? scale(d, 1.0 / g) : Vec3d{0, -1, 0};
  const double w = std::min(g, kLimbReach * (a + b));
  // Too close a target would put the joint farther off the root than the upper segment
  // (and the square root below out of range): the joint then lies on the line.
  double h = w > kTiny ? (a * a + w * w - b * b) / (2 * w) : 0;
  h = std::clamp(h, -a, a);
  const double k = std::sqrt(std::max(0.0, a * a - h * h));
  const Vec3d to_pole = sub(pole, root);
  const Vec3d off = sub(to_pole, scale(u, dot(u, to_pole)));
  const Vec3d n = normalise(off, any_perpendicular(u));
  return add(root, add(scale(u, h), scale(n, k)));
}

// ---- feet -----------------------------------------------------------------------------

RiderFeet rider_feet(const BikeState& bike, const HeightField& hf) {
  RiderFeet feet;
  dBodyID frame = bike.bodies[kFrameBody];
  dBodyID rider = bike.bodies[kRiderBody];
  if (frame == nullptr || rider == nullptr) return feet;
  const RiderLimbs& limbs = bike_model(bike.model).limbs;
  const int c = bike.crash.counter;

  // Crashed: the rests swing up and back and spread as the counter runs.
  std::array<Vec3d, 2> rest{to_vec(limbs.foot_rest[0]), to_vec(limbs.foot_rest[1])};
  if (c >= 1) {
    const double q = std::min(c, 128) / 128.0;
    const double spread = 0.5 * std::clamp(2 * q - 1, 0.0, 1.0);
    const double up = 1.75 * std::clamp(2 * q, 0.0, 1.0);
    const double back = std::clamp(4 * q / 3, 0.0, 1.0);
    rest[0] = add(rest[0], {-spread, up, back});
    rest[1] = add(rest[1], {spread, up, back});
  }
  for (size_t k = 0; k < 2; ++k) feet.position[k] = world_point(frame, rest[k]);

  const double level = static_cast<double>(bike.controls.dab_pose);
  if (level != 0 && c < 128) {
    const Vec3d hip_l = world_point(rider, to_vec(limbs.hip[0]));
    const Vec3d hip_r = world_point(rider, to_vec(limbs.hip[1]));
    const double roll = roll_of(frame);
    const Vec3d z_axis = world_vector(frame, {0, 0, 1});
    const dReal* vel = dBodyGetLinearVel(frame);
    const double speed = -dot(z_axis, {vel[0], vel[1], vel[2]});
    const double i = std::clamp(speed / 15, 0.0, 1.0);
    const double e = std::clamp(std::fabs(roll) * 4 / kPi, 0.0, 1.0);
    const double fwd = (1.25 * i - 0.25) * e * 2.5;
    const double fx = -fwd * z_axis[0];
    const double fz = -fwd * z_axis[2];
    const double dx = hip_r[0] - hip_l[0];
    const double dz = hip_r[2] - hip_l[2];
    // Upright: both feet half a hip spacing outside the hips; leaning: the low-side foot
    // right under its hip.
    auto place = [&](size_t k, const Vec3d& hip, double t) {
      Vec3d target{hip[0] + dx * t + fx, 0, hip[2] + dz * t + fz};
      target[1] = static_cast<double>(ground_height_at(hf, target[0], target[2])) + 0.125;
      feet.position[k] = add(feet.position[k], scale(sub(target, feet.position[k]), level));
      feet.weight[k] = level;
    };
    if (roll > -0.1) place(0, hip_l, 0.5 * e - 0.5);
    if (roll < 0.1) place(1, hip_r, 0.5 - 0.5 * e);
  }

  if (c > 0) {
    const double g = std::clamp(2.0 * c - 128, 1.0, 128.0) / 128;
    for (size_t k = 0; k < 2; ++k) {
      const auto& stored = bike.rider_feet[k].position;
      const Vec3d crash_foot{static_cast<double>(stored[0]), static_cast<double>(stored[1]),
                             static_cast<double>(stored[2])};
      feet.position[k] = add(feet.position[k], scale(sub(crash_foot, feet.position[k]), g));
      feet.weight[k] = 1;
    }
  }
  return feet;
}

// ---- skeleton -------------------------------------------------------------------------

RiderSkeleton rider_skeleton(const BikeState& bike, const HeightField& hf) {
  RiderSkeleton sk;
  dBodyID frame = bike.bodies[kFrameBody];
  dBodyID fork = bike.bodies[kForkUpperBody];
  dBodyID rider = bike.bodies[kRiderBody];
  if (frame == nullptr || fork == nullptr || rider == nullptr) return sk;
  const RiderLimbs& limbs = bike_model(bike.model).limbs;
  const double upper_arm = static_cast<double>(limbs.upper_arm);
  const double forearm = static_cast<double>(limbs.forearm);
  const double thigh = static_cast<double>(limbs.thigh);
  const double shin = static_cast<double>(limbs.shin);

  const Vec3d sl = to_vec(limbs.shoulder[0]);
  const Vec3d sr = to_vec(limbs.shoulder[1]);
  const Vec3d hl = to_vec(limbs.hip[0]);
  const Vec3d hr = to_vec(limbs.hip[1]);
  const Vec3d s_l = world_point(rider, sl);
  const Vec3d s_r = world_point(rider, sr);
  const Vec3d h_l = world_point(rider, hl);
  const Vec3d h_r = world_point(rider, hr);
  const Vec3d g_l = world_point(fork, to_vec(limbs.grip[0]));
  const Vec3d g_r = world_point(fork, to_vec(limbs.grip[1]));
  const Vec3d spine = world_vector(rider, {0, sl[1] - hl[1], sl[2] - hl[2]});
  const Vec3d rider_x = world_vector(rider, {1, 0, 0});
  const Vec3d rider_y = world_vector(rider, {0, 1, 0});
  const Vec3d rider_z = world_vector(rider, {0, 0, 1});

  // Arms: the elbows point back and outwards; the throttle hand's elbow drops with it.
  const Vec3d ds = sub(s_r, s_l);
  const Vec3d dg = sub(g_r, g_l);
  const double throttle = static_cast<double>(bike.controls.throttle);
  const Vec3d pole_l = sub(
      world_point(rider, {sl[0] - 0.5, sl[1] - (1.0 + 1.5 * std::max(0.0, ds[1])), sl[2] + 2.0}),
      dg);
  const Vec3d pole_r = add(
      world_point(rider, {sr[0] + 0.5,
                          sr[1] - (0.9 + 0.125 * throttle + 1.5 * std::max(0.0, -ds[1])),
                          sr[2] + 2.0}),
      dg);
  const Vec3d e_l = two_bone_ik(s_l, g_l, upper_arm, forearm, pole_l);
  const Vec3d e_r = two_bone_ik(s_r, g_r, upper_arm, forearm, pole_r);

  {
    const Vec3d a = normalise(sub(e_l, g_l), rider_x);
    const Vec3d b = normalise(cross(sub(g_l, g_r), a), any_perpendicular(a));
    sk.bones[kLeftForearmBone] = {e_l, {a, b, cross(a, b)}};
  }
  {
    const Vec3d a = normalise(sub(g_r, e_r), rider_x);
    const Vec3d b = normalise(cross(dg, a), any_perpendicular(a));
    sk.bones[kRightForearmBone] = {e_r, {a, b, cross(a, b)}};
  }
  auto upper_arm_bone = [&](const Vec3d& pivot, const Vec3d& dir) {
    const Vec3d a = normalise(dir, rider_x);
    const Vec3d c = normalise(cross(a, spine), any_perpendicular(a));
    return PosedBone{pivot, {a, cross(c, a), c}};
  };
  sk.bones[kLeftUpperArmBone] = upper_arm_bone(s_l, sub(s_l, e_l));
  sk.bones[kRightUpperArmBone] = upper_arm_bone(s_r, sub(e_r, s_r));

  // Legs: the knees point forwards and outwards.
  const RiderFeet feet = rider_feet(bike, hf);
  const Vec3d dh = sub(h_r, h_l);
  const Vec3d knee_pole_l = world_point(rider, {hl[0] - 0.5, hl[1], hl[2] - 2.0});
  const Vec3d knee_pole_r = world_point(rider, {hr[0] + 0.5, hr[1], hr[2] - 2.0});
  const std::array<Vec3d, 2> hips{h_l, h_r};
  const std::array<Vec3d, 2> knees{two_bone_ik(h_l, feet.position[0], thigh, shin, knee_pole_l),
                                   two_bone_ik(h_r, feet.position[1], thigh, shin, knee_pole_r)};
  // Model y up the leg, z from the side vector: columns (y x z, y, z).
  auto leg_bone = [&](const Vec3d& pivot, const Vec3d& up, const Vec3d& side) {
    const Vec3d b = normalise(up, rider_y);
    const Vec3d c = normalise(cross(side, b), rider_z);
    return PosedBone{pivot, {cross(b, c), b, c}};
  };
  for (size_t k = 0; k < 2; ++k) {
    const Vec3d& hip = hips[k];
    const Vec3d& knee = knees[k];
    const Vec3d& foot = feet.position[k];
    sk.bones[kLeftThighBone + k] = leg_bone(hip, sub(hip, knee), dh);
    // A planted foot twists the shin into the plane the knee bends in.
    const Vec3d n = cross(sub(hip, knee), sub(foot, knee));
    const Vec3d side = dot(n, n) >= 0.001 ? add(dh, scale(sub(n, dh), feet.weight[k])) : dh;
    sk.bones[kLeftShinBone + k] = leg_bone(knee, sub(knee, foot), side);
  }

  // Torso: pivot between the hips, y towards the shoulders.
  const Vec3d pivot = world_point(rider, {0, hl[1], hl[2]});
  const Vec3d y = normalise(sub(world_point(rider, {0, sl[1], sl[2]}), pivot), rider_y);
  sk.bones[kTorsoBone] = {pivot, {rider_x, y, cross(rider_x, y)}};
  return sk;
}

}  // namespace ks
