#include "physics/rider.h"

#include <algorithm>
#include <cmath>

#include "physics/bike_catalog.h"
#include "physics/bike_state.h"
#include "physics/drivetrain.h"
#include "physics/rider_pose.h"
#include "physics/terrain_contact.h"
#include "physics/world.h"
#include "track/heightfield.h"

namespace ks {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double h = kTicSeconds;

double f(float v) { return static_cast<double>(v); }
double clamp01(double v) { return std::clamp(v, 0.0, 1.0); }
double dot(const Vec3d& a, const Vec3d& b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }
double length(const Vec3d& a) { return std::sqrt(dot(a, a)); }
Vec3d sub(const Vec3d& a, const Vec3d& b) { return {a[0] - b[0], a[1] - b[1], a[2] - b[2]}; }
Vec3d v3(const dReal* p) { return {p[0], p[1], p[2]}; }
Vec3d cross(const Vec3d& a, const Vec3d& b) {
  return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}

Vec3d to_world(dBodyID b, const Vec3d& v) {
  dVector3 r;
  dBodyVectorToWorld(b, v[0], v[1], v[2], r);
  return v3(r);
}
Vec3d from_world(dBodyID b, const Vec3d& v) {
  dVector3 r;
  dBodyVectorFromWorld(b, v[0], v[1], v[2], r);
  return v3(r);
}
Vec3d rel_point(dBodyID b, const Vec3d& p) {
  dVector3 r;
  dBodyGetRelPointPos(b, p[0], p[1], p[2], r);
  return v3(r);
}
Vec3d offset(const BikeVec3& a, const BikeVec3& b) {
  return {f(a.x) - f(b.x), f(a.y) - f(b.y), f(a.z) - f(b.z)};
}

bool touches(const WheelContact& w) { return w.depth > 0; }
bool crashed(const BikeState& bike) { return bike.crash.counter > 0; }
bool arcade(const BikeState& bike) { return (bike.tuning.flags[1] & kFlag2Arcade) != 0; }

double frame_speed(const BikeState& bike) { return length(v3(dBodyGetLinearVel(bike.bodies[kFrameBody]))); }

// A one-step spring-damper along `normal` (unit; pushes `a` along it) with stiffness k and
// damping c, as contact softness for one tic.
void soft_joint(dBodyID a, dBodyID b, const Vec3d& at, const Vec3d& normal, double depth,
                double k, double c) {
  const double den = h * k + c;
  if (!(den > 0) || !std::isfinite(depth)) return;
  dContact ct{};
  ct.surface.mode = dContactSoftERP | dContactSoftCFM;
  ct.surface.mu = 0;
  ct.surface.soft_erp = h * k / den;
  ct.surface.soft_cfm = 1 / den;
  for (size_t i = 0; i < 3; ++i) {
    ct.geom.pos[i] = at[i];
    ct.geom.normal[i] = normal[i];
  }
  ct.geom.depth = depth;
  const dJointID j = dJointCreateContact(g_physics.world, g_physics.contact_group, &ct);
  dJointAttach(j, a, b);
}

// A one-step angular motor between a body and the world about one world axis.
void world_motor(dBodyID body, const Vec3d& axis, double velocity, double max_torque) {
  const dJointID j = dJointCreateAMotor(g_physics.world, g_physics.contact_group);
  dJointAttach(j, body, nullptr);
  dJointSetAMotorNumAxes(j, 1);
  dJointSetAMotorAxis(j, 0, 0, axis[0], axis[1], axis[2]);
  dJointSetAMotorParam(j, dParamVel, velocity);
  dJointSetAMotorParam(j, dParamFMax, max_torque);
}

double steering_angle(const BikeState& bike) { return dJointGetHingeAngle(bike.joints[kSteeringJoint]); }
double steering_rate(const BikeState& bike) { return dJointGetHingeAngleRate(bike.joints[kSteeringJoint]); }
// Rolling speed of the front tyre (positive forwards).
double front_roll_speed(const BikeState& bike) {
  const WheelContact& w = bike.front_contact;
  return (f(w.torus_radius) + f(w.section_radius)) *
         dJointGetHingeAngleRate(bike.joints[kFrontAxleJoint]);
}

Vec3d steering_axis_local(const BikeModelInfo& m) {
  Vec3d a = offset(m.fork_upper_pos, m.fork_lower_pos);
  const double n = length(a);
  if (n > 0) a = {a[0] / n, a[1] / n, a[2] / n};
  return a;
}

}  // namespace

// ---- controls ----------------------------------------------------------------------------

void set_control(BikeState& bike, Control which, double value) {
  if (!std::isfinite(value)) value = 0;
  const bool down = crashed(bike);
  BikeControls& c = bike.controls;
  const auto unit = [&](bool zero_when_crashed) {
    return static_cast<float>(zero_when_crashed && down ? 0.0 : clamp01(value));
  };
  switch (which) {
    case Control::throttle: c.throttle = unit(true); break;
    case Control::clutch: c.clutch = unit(false); break;
    case Control::front_brake: c.front_brake = unit(false); break;
    case Control::rear_brake: c.rear_brake = unit(false); break;
    case Control::steer: c.steer = static_cast<float>(std::clamp(value, -1.0, 1.0)); break;
    case Control::sit_dab: c.sit_dab = unit(true); break;
    case Control::back_up: c.back_up = unit(true); break;
    case Control::lean:
      c.lean = down ? 0.0f : static_cast<float>(std::clamp(value, -1.0, 1.0));
      break;
    case Control::shift: shift_gear(bike, static_cast<float>(value)); break;
  }
}

// ---- helpers -----------------------------------------------------------------------------

double front_slip_angle(const BikeState& bike) {
  const dBodyID fork = bike.bodies[kForkUpperBody];
  const Vec3d v = from_world(fork, v3(dBodyGetLinearVel(bike.bodies[kFrontWheelBody])));
  const Vec3d axle{1, 0, 0};
  const Vec3d across = cross(axle, steering_axis_local(bike_model(bike.model)));
  const double wx = dot(v, axle), wf = dot(v, across);
  if (wx * wx + wf * wf <= 1) return 0;
  return -std::atan2(wx, -wf);
}

void steering_torque(BikeState& bike, double t) {
  if (!std::isfinite(t)) return;
  const dBodyID frame = bike.bodies[kFrameBody];
  const Vec3d a = to_world(frame, steering_axis_local(bike_model(bike.model)));
  dBodyAddTorque(bike.bodies[kFrontWheelBody], t * a[0], t * a[1], t * a[2]);
  dBodyAddTorque(frame, -t * a[0], -t * a[1], -t * a[2]);
}

namespace {
double shrink(double v, double by) {
  if (std::abs(v) <= by) return 0;
  return v > 0 ? v - by : v + by;
}
}  // namespace

double steer_to_angle(const BikeState& bike, double target) {
  const double e = shrink(std::clamp(target - steering_angle(bike), -0.25, 0.25), 1.0 / 32);
  const double w = shrink(8 * e - steering_rate(bike), 1.0 / 2400);
  return std::clamp(0.5 * w, -2.0 / 3, 2.0 / 3);
}

void drive_velocity(dBodyID body, double limit, const Vec3d& target) {
  const Vec3d d = sub(v3(dBodyGetLinearVel(body)), target);
  const double n = length(d);
  if (!(n >= 0.25)) return;
  const double k = std::clamp((n - 0.25) * 0.8, 0.0, 1.0);
  const double s = -k * limit / n;
  dBodyAddForce(body, s * d[0], 0, s * d[2]);
}

void tether(dBodyID a, const Vec3d& point_a, dBodyID b, const Vec3d& point_b, double len) {
  const Vec3d wa = rel_point(a, point_a);
  const Vec3d wb = b != nullptr ? rel_point(b, point_b) : point_b;
  const Vec3d d = sub(wb, wa);
  const double dist = length(d);
  if (!(dist > len) || !(dist > 0)) return;
  soft_joint(a, b, wa, {d[0] / dist, d[1] / dist, d[2] / dist}, dist - len, 5000, 500);
}

// ---- rider springs -------------------------------------------------------------------------

void rider_springs(BikeState& bike) {
  const BikeModelInfo& m = bike_model(bike.model);
  const dBodyID frame = bike.bodies[kFrameBody];
  const dBodyID rider = bike.bodies[kRiderBody];
  const RiderSprings& s = bike.tuning.rider_springs;
  const Vec3d rest = rel_point(frame, offset(m.rider_pos, m.frame_pos));
  const Vec3d at = v3(dBodyGetPosition(rider));
  const Vec3d d = sub(rest, at);
  const Vec3d fy = to_world(frame, {0, 1, 0});
  const Vec3d fz = to_world(frame, {0, 0, 1});
  const double dy = dot(d, fy), dz = dot(d, fz);
  const double mass = f(m.rider_mass) * 0.21333334;
  const double sit = f(bike.controls.sit_dab);
  const auto along = [&](const Vec3d& axis, double err, double k, double c) {
    const double sign = err >= 0 ? 1.0 : -1.0;
    soft_joint(rider, frame, at, {sign * axis[0], sign * axis[1], sign * axis[2]},
               std::abs(err), k, c);
  };

  // Fore-aft: the lean moves the target; far off, a stiff catch.
  const double e = std::clamp((0.5 * sit + 0.5) * dy - f(bike.controls.lean), -0.75, 0.75);
  const double z = dz - e;
  double k = 0, c = 0;
  if (std::abs(dz) > 0.75) {
    k = c = 2500;
  } else {
    k = 100 * std::abs(z) + 600 * f(s.forward_spring);
  }
  if (k * mass > 0) along(fz, z, k * mass, c * mass);

  // Vertical: sitting lowers the rider.
  const double y = dy + 0.125 - 0.5 * sit;
  if (y > 0.5 || y < -0.75) {
    k = c = 2500;
  } else {
    k = 400 * f(s.vertical_spring);
    c = 100 * f(s.vertical_damping);
  }
  if ((k + c) * mass > 0) along(fy, y, k * mass, c * mass);

  const dJointID j = bike.joints[kRiderJoint];
  const double soft = mass * (30 * f(s.forward_damping) + 5);
  if (j != nullptr && soft > 0) {
    dJointSetHinge2Param(j, dParamSuspensionERP, 0);
    dJointSetHinge2Param(j, dParamSuspensionCFM, 1 / soft);
  }
}

// ---- balance -------------------------------------------------------------------------------

void balance_control(BikeState& bike, const HeightField& hf) {
  if (crashed(bike)) return;
  const BikeAssists& a = bike.tuning.assists;
  const BikeControls& in = bike.controls;
  const dBodyID frame = bike.bodies[kFrameBody];
  const dBodyID wheel = bike.bodies[kFrontWheelBody];
  const WheelContact& fc = bike.front_contact;

  // 1. bounds and the direct term
  const double F = f(a.max_steering_force);
  double lower = -F, upper = F;
  double D = f(a.steering_strength) * f(in.steer) * f(a.direct_steering);

  // 2. lock by speed and grip
  const double vf = front_roll_speed(bike);
  const double full = std::max(1.0, f(a.full_lock_speed));
  const double v2 = std::max(full + 1, f(a.restricted_lock_speed));
  const double blend =
      clamp01((1 / std::max(vf, 1.0) - 1 / v2) / (1 / full - 1 / v2));
  const Vec3d wc = v3(dBodyGetPosition(wheel));
  const TileInfo& mat = hf.materials[ground_material_at(hf, wc[0], wc[2])];
  const double mu0 = std::max(0.125, mat.friction_count > 0 ? f(mat.friction[0].value) : 1.0);
  const double l0 = std::min(kPi / 4, f(a.restricted_lock_angle) / mu0);
  double L = l0 + (kPi / 4 - l0) * blend;

  // 3. in the air the lock opens up
  const double clearance = wc[1] - f(ground_height_at(hf, wc[0], wc[2])) -
                           f(fc.torus_radius) - f(fc.section_radius);
  if (vf > 1 && clearance < 0.5) L += (kPi / 4 - L) * clamp01(2 * clearance);

  // 4. slip limits push the bars back
  const double s = front_slip_angle(bike);
  const double g = 1.125 * L + 0.015;
  if (s > L) lower = -F * (1.25 * clamp01((s - g) / (L - g)) - 0.25);
  if (s < -L) upper = F * (1.25 * clamp01((-s - g) / (L - g)) - 0.25);

  const Vec3d w = from_world(frame, v3(dBodyGetAngularVel(frame)));
  const double r = body_roll_angle(frame);
  double B = 0;
  const double spin = std::abs(dJointGetHingeAngleRate(bike.joints[kFrontAxleJoint]));
  if (!touches(fc) || spin <= kPi / 4) {
    // 5. front in the air or still: centre the bars
    bike.assist.landing_multiplier = a.land_damping_factor;
    B = -50 * steering_angle(bike);
  } else {
    // 6. roll damping and leveling
    double R = w[2] * f(a.roll_damping) * f(bike.assist.landing_multiplier);
    if (bike.assist.landing_multiplier > 1 && a.land_damping_falloff != 0) {
      const double drop = (f(a.land_damping_factor) - 1) * h / f(a.land_damping_falloff);
      bike.assist.landing_multiplier =
          static_cast<float>(std::max(1.0, f(bike.assist.landing_multiplier) - drop));
    }
    double G = r * f(a.leveling);
    const double speed = frame_speed(bike);
    if (speed < f(a.slow_damping_speed)) {
      const double sf = f(a.slow_damping_factor);
      const double k = sf + (1 - sf) * clamp01(speed / f(a.slow_damping_speed));
      R *= k;
      G *= k;
    }
    const bool growing = (w[2] < 0 && r < 0) || (w[2] >= 0 && r >= 0);
    if (growing && std::abs(r) > f(a.roll_limit_angle))
      R *= 1 + (std::abs(r) - f(a.roll_limit_angle)) * f(a.roll_limit_factor);
    B = R + G;

    // 7. the roll-rate controller
    const double direct = f(a.direct_steering);
    if (direct < 1) {
      double q = (-f(in.steer) * f(a.roll_limit_angle) - r) * 2.5;
      const bool back = (q > 0 && r < 0) || (q < 0 && r > 0);
      const double qmax = back ? 25 * kPi / 8 : 5 * kPi / 4;
      q = std::clamp(q, -qmax, qmax);
      const double e = std::clamp(q - w[2], -0.125, 0.125);
      const double u = std::clamp((w[2] - (q - e)) * 4, -1.0, 1.0);
      D = direct * D + (1 - direct) * f(a.steering_strength) * u;
    }
  }

  // 9. right after a bike contact the balance is held back
  const double timer = f(bike.crash.collision_timer);
  if (timer > 0) {
    const double lim = 200 * clamp01((128 - timer) / 128);
    B = std::clamp(B, -lim, lim);
  }

  // 10. the torque
  double T = 1.5 * (B + D);
  T = std::min(std::max(T, lower), std::max(lower, upper));
  steering_torque(bike, T);

  // 11. lock warning
  const double k = clamp01((vf - 5) / (15 - 5));
  const double lo = 0.25 * k * L, hi = (0.625 * k + 0.125) * L;
  const double delta = steering_angle(bike);
  const double sg = r >= 0 ? 1.0 : -1.0;
  const double wa = hi > lo ? clamp01((-sg * s - lo) / (hi - lo)) : 0;
  const double wb = clamp01((delta - sg * 0.2617994) * (sg * 3.8197186));
  bike.assist.lock_warning = static_cast<float>(std::max(wa, wb));
}

void arcade_control(BikeState& bike, const HeightField& hf) {
  if (crashed(bike)) return;
  const BikeAssists& a = bike.tuning.assists;
  const BikeModelInfo& m = bike_model(bike.model);
  const dBodyID frame = bike.bodies[kFrameBody];
  const double steer = f(bike.controls.steer);
  const double D = f(a.steering_strength) * steer * f(a.direct_steering);

  const Vec3d p = v3(dBodyGetPosition(frame));
  const Vec3d v = v3(dBodyGetLinearVel(frame));
  const Vec3d ahead{p[0] + v[0], p[1] + v[1] - 16, p[2] + v[2]};
  if (!touches(bike.front_contact) &&
      ahead[1] - f(ground_height_at(hf, ahead[0], ahead[2])) > f(m.frame_pos.y)) {
    steering_torque(bike, 1.5 * (-50 * steering_angle(bike) + D));
    return;
  }
  const double roll = body_roll_angle(frame);
  const double target = -steer * kPi / 4;
  const double e = roll - target;
  double rate = (1.5 - 0.5 * clamp01((f(a.roll_damping) - 40) * 0.025)) *
                std::min(std::abs(e), 1.0 / 16) * 16;
  if (roll >= target) rate = -rate;
  world_motor(frame, to_world(frame, {0, 0, 1}), rate, 1000);

  steering_torque(bike, f(a.steering_strength) *
                            steer_to_angle(bike, front_slip_angle(bike) - 0.5 * steer));

  dVector3 w;
  dBodyGetRelPointVel(frame, 0, 0, 20, w);
  dBodyAddForceAtRelPos(frame, -0.25 * w[0], -0.25 * w[1], -0.25 * w[2], 0, 0, 20);
}

// ---- dab -------------------------------------------------------------------------------

namespace {
RiderModule g_rider;

// Turns a fallen bike about the vertical towards its target. True when it did all this
// tic's work (the dab torque waits until the bike faces the target).
bool realign_after_fall(BikeState& bike, double turn) {
  Vec3d target{};
  if (g_rider.realign_target == nullptr || !g_rider.realign_target(bike, target)) return false;
  const dBodyID frame = bike.bodies[kFrameBody];
  const Vec3d p = v3(dBodyGetPosition(frame));
  const Vec3d d = sub(target, p);
  Vec3d u = to_world(frame, {0, 0, 1});
  u[1] = 0;
  const double n2 = u[0] * u[0] + u[2] * u[2];
  if (n2 <= 1.0 / 1024) return false;
  const double n = std::sqrt(n2);
  u = {u[0] / n, 0, u[2] / n};
  const double A = u[0] * d[0] + u[2] * d[2];
  const double B = u[2] * d[0] - u[0] * d[2];
  const double K = 320 * f(bike.total_mass);
  const double w = B >= 0 ? -turn : turn;
  if (A < 0 && std::abs(B) < -A / 4) {  // within 14 degrees of straight ahead
    world_motor(frame, {0, 1, 0}, w, K * 4 * std::abs(B) / std::abs(A));
    return false;
  }
  world_motor(frame, {0, 1, 0}, w, K);
  const double lift = kGravity * f(bike.total_mass);
  for (const WheelContact* wc : {&bike.front_contact, &bike.rear_contact})
    if (touches(*wc)) dBodyAddForce(wc->body, 0, lift, 0);
  return true;
}
}  // namespace

RiderModule& rider_module() { return g_rider; }
void reset_rider_module() { g_rider = RiderModule{}; }

void dab_assist(BikeState& bike, const HeightField& hf) {
  BikeControls& c = bike.controls;
  const float raise = static_cast<float>(8 * h);
  if (crashed(bike)) {
    c.dab_pose = std::min(1.0f, c.dab_pose + raise);
    return;
  }
  if (c.sit_dab <= 0) return;
  const BikeAssists& a = bike.tuning.assists;
  const BikeModelInfo& m = bike_model(bike.model);
  const dBodyID frame = bike.bodies[kFrameBody];
  if (!touches(bike.front_contact)) {
    const Vec3d rc = v3(dBodyGetPosition(bike.bodies[kRiderBody]));
    if (!sphere_terrain_test(hf, rc, f(m.rider_pos.y) + 1).touches) return;
  }
  const double timer = f(bike.crash.collision_timer);
  double M = f(a.max_dab_speed);
  if (timer <= -512) M = std::max(M, 75.0);
  const double v = frame_speed(bike);
  if (v > M) return;
  const double roll = body_roll_angle(frame);
  const bool both = touches(bike.front_contact) && touches(bike.rear_contact);
  if (v > 15 && !(both && std::abs(roll) >= 0.5890486)) return;
  c.dab_pose = std::min(1.0f, c.dab_pose + raise);
  if (arcade(bike)) return;
  if (v >= 5 && timer > 0) return;
  const double roll_size = std::abs(roll);
  if (v < 5 && roll_size > kPi / 8 && roll_size < 1.0995574) {
    const double turn = timer < 0 ? kPi : kPi / 2;
    const bool finished = g_rider.has_finished != nullptr && g_rider.has_finished(bike);
    const bool realign = (bike.tuning.flags[0] & kFlagRealign) != 0;
    if (!finished && realign && c.back_up <= 0.125 && realign_after_fall(bike, turn)) return;
  }

  // 10. dab torque
  const double wz = from_world(frame, v3(dBodyGetAngularVel(frame)))[2];
  const bool auto_dab = (bike.tuning.flags[0] & kFlagAutoDab) != 0;
  double r = roll >= 0 ? -kPi / 8 : kPi / 8;
  if (auto_dab && timer < 0) r *= 3;
  if (std::abs(roll) < kPi / 16) r *= std::abs(roll) * 16 / kPi;
  double T = 0;
  if (r > 0 && r > wz) T = -400;
  if (r < 0 && r < wz) T = 400;
  if (std::abs(roll) < kPi / 32) T *= std::abs(roll) * 32 / kPi;

  // 11. less help while the rider asks for the lean
  if (c.back_up < 0.125 || v > 5) {
    const double l0 = f(a.roll_limit_angle);
    double lam = 0;
    if (v <= 0) {
      lam = 0;
    } else if (v >= M) {
      lam = 2 * kPi;
    } else if (v <= 15) {
      const double t = clamp01(v * v / (M * M));
      lam = (1 - std::pow(1 - t, 32)) * l0;
    } else {
      lam = l0 + (2 * kPi - l0) * clamp01((v * v - 225) / (M * M - 225));
    }
    lam *= 1.25;
    const double sigma = r < 0 ? f(c.steer) : -f(c.steer);
    const double wgt = clamp01(2 * sigma - 1);
    const double fr = clamp01((std::abs(roll) - lam) / 0.25);
    T *= fr + (1 - fr) * wgt;
    if (v > 5) T *= f(bike.assist.lock_warning);
  }

  // 12. the push of the foot
  if (T != 0 && std::isfinite(T)) {
    const Vec3d U = to_world(frame, {0, 1, 0});
    if (U[1] >= 0.707) {
      dBodyAddForceAtRelPos(frame, 0, 0.125 * std::abs(T), 0, 0, 4, 0);
      dBodyAddRelForceAtRelPos(frame, T, 0, 0, 0, 4, 0);
    } else {
      dBodyAddForceAtRelPos(frame, 0, std::abs(T), 0, 0, 4, 0);
    }
  }
}

// ---- crash -------------------------------------------------------------------------------

double rider_crash_tolerance(int takeoff_tic, int landing_tic, int now) {
  if (landing_tic < takeoff_tic) return 1.5;
  const double air = (landing_tic - takeoff_tic) * h;
  const double since = (now - landing_tic) * h;
  return 1.5 - 0.5 * clamp01((since - 0.25) * -8) * clamp01((air - 0.559) * 7.9365087);
}

bool rider_motion_crashes(const BikeState& bike, int tic, double m) {
  const dBodyID rider = bike.bodies[kRiderBody];
  const Vec3d p = v3(dBodyGetPosition(rider));
  const Vec3d v = v3(dBodyGetLinearVel(rider));
  dVector3 fv;
  dBodyGetPointVel(bike.bodies[kFrameBody], p[0], p[1], p[2], fv);
  if (length(sub(v, v3(fv))) > 31 * m) return true;
  if (tic < 4) return false;  // no history yet
  const auto& old = bike.rider_velocity_history[static_cast<size_t>(tic & 3)];
  Vec3d acc{};
  for (size_t i = 0; i < 3; ++i) acc[i] = (v[i] - f(old[i])) / (4 * h);
  acc[1] += kGravity;
  return length(acc) > 1376 * m;
}

void crash_recovery(BikeState& bike) {
  const BikeModelInfo& m = bike_model(bike.model);
  const dBodyID frame = bike.bodies[kFrameBody];
  const dBodyID rider = bike.bodies[kRiderBody];
  const double L = 5 * clamp01((bike.crash.counter - 128) / 384.0);
  const Vec3d q = offset(m.rider_pos, m.frame_pos);
  tether(frame, q, rider, {0, 0, 0}, L);
  tether(frame, {q[0] - 5, q[1] + 10, q[2]}, rider, {-5, 10, 0}, L);
  tether(frame, {q[0] + 5, q[1] + 10, q[2]}, rider, {5, 10, 0}, L);
  if (bike.crash.counter >= 320) return;
  const size_t k = body_roll_angle(frame) < 0 ? 0 : 1;
  const BikeVec3& peg = m.limbs.foot_rest[k];
  const Vec3d target = rel_point(frame, {f(peg.x), f(peg.y) + 3, f(peg.z) + 1});
  RiderFoot& foot = bike.rider_feet[k];
  Vec3d g = sub(target, {f(foot.position[0]), f(foot.position[1]), f(foot.position[2])});
  if (length(g) == 0) return;
  for (double& x : g) x *= 32;
  const double n = length(g);
  if (n > 1)
    for (double& x : g) x /= n;
  for (size_t i = 0; i < 3; ++i) foot.velocity[i] = static_cast<float>(4 * g[i]);
}

void remount_rider(BikeState& bike) {
  const BikeModelInfo& m = bike_model(bike.model);
  const dBodyID frame = bike.bodies[kFrameBody];
  const dBodyID rider = bike.bodies[kRiderBody];
  const Vec3d p = rel_point(frame, offset(m.rider_pos, m.frame_pos));
  dBodySetPosition(rider, p[0], p[1], p[2]);
  dBodySetRotation(rider, dBodyGetRotation(frame));
  const dReal* v = dBodyGetLinearVel(frame);
  dBodySetLinearVel(rider, v[0], v[1], v[2]);
  const dReal* w = dBodyGetAngularVel(frame);
  dBodySetAngularVel(rider, w[0], w[1], w[2]);
  // The joint as the assembly sets it: anchor far ahead, so the rider moves nearly
  // straight up and down about the second axis.
  const dJointID j = bike.joints[kRiderJoint];
  if (j == nullptr) return;
  dJointAttach(j, rider, frame);
  const Vec3d anchor = rel_point(
      frame, {-f(m.frame_pos.x), f(m.rider_pos.y) - f(m.frame_pos.y), -50.0 - f(m.frame_pos.z)});
  const Vec3d a1 = to_world(frame, {0, 1, 1});
  const Vec3d a2 = to_world(frame, {1, 0, 0});
  dJointSetHinge2Anchor(j, anchor[0], anchor[1], anchor[2]);
  const dVector3 axis1{a1[0], a1[1], a1[2], 0};
  const dVector3 axis2{a2[0], a2[1], a2[2], 0};
  dJointSetHinge2Axes(j, axis1, axis2);
  dJointSetHinge2Param(j, dParamLoStop, 0);
  dJointSetHinge2Param(j, dParamHiStop, 0);
}

}  // namespace ks
