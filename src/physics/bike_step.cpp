#include "physics/bike_step.h"

#include <algorithm>
#include <cmath>

#include "physics/bike_catalog.h"
#include "physics/bike_contact.h"
#include "physics/bike_state.h"
#include "physics/drivetrain.h"
#include "physics/rider.h"
#include "physics/rider_pose.h"
#include "physics/suspension.h"
#include "physics/terrain_contact.h"
#include "physics/world.h"
#include "track/heightfield.h"

namespace ks {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double h = kTicSeconds;

BikeStepModule g_step;

double f(float v) { return static_cast<double>(v); }
double dot(const Vec3d& a, const Vec3d& b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }
double length(const Vec3d& a) { return std::sqrt(dot(a, a)); }
Vec3d v3(const dReal* p) { return {p[0], p[1], p[2]}; }
Vec3d cross(const Vec3d& a, const Vec3d& b) {
  return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}
bool touches(const WheelContact& w) { return w.depth > 0; }
bool crashed(const BikeState& b) { return b.crash.counter > 0; }
bool arcade(const BikeState& b) { return (b.tuning.flags[1] & kFlag2Arcade) != 0; }

void world_motor_y(dBodyID body, double velocity, double max_torque) {
  const dJointID j = dJointCreateAMotor(g_physics.world, g_physics.contact_group);
  dJointAttach(j, body, nullptr);
  dJointSetAMotorNumAxes(j, 1);
  dJointSetAMotorAxis(j, 0, 0, 0, 1, 0);
  dJointSetAMotorParam(j, dParamVel, velocity);
  dJointSetAMotorParam(j, dParamFMax, max_torque);
}

void airtime(BikeState& bike, int tic) {
  AssistState& s = bike.assist;
  const bool any = touches(bike.front_contact) || touches(bike.rear_contact);
  if (any && s.landing_tic < s.takeoff_tic) s.landing_tic = tic;
  if (!any && dBodyGetLinearVel(bike.bodies[kFrameBody])[1] < 0 &&
      !(s.landing_tic < s.takeoff_tic))
    s.takeoff_tic = tic;
}

void crash_phase(BikeState& bike) {
  const BikeModelInfo& m = bike_model(bike.model);
  const dBodyID rider = bike.bodies[kRiderBody];
  const dBodyID fork = bike.bodies[kForkUpperBody];
  const RiderLimbs& l = m.limbs;
  if (length(v3(dBodyGetLinearVel(rider))) >= 2) {
    const double arm = 0.875 * (f(l.upper_arm) + f(l.forearm));
    for (size_t k = 0; k < 2; ++k) {
      const BikeVec3& s = l.shoulder[k];
      const BikeVec3& g = l.grip[k];
      tether(rider, {f(s.x), f(s.y), f(s.z)}, fork, {f(g.x), f(g.y), f(g.z)}, arm);
    }
    if (bike.crash.counter > 511) {
      const double gx = 0.5 * (f(l.grip[0].x) + f(l.grip[1].x));
      const double gy = 0.5 * (f(l.grip[0].y) + f(l.grip[1].y));
      const double gz = 0.5 * (f(l.grip[0].z) + f(l.grip[1].z));
      tether(rider, {0, 0, 0}, fork, {gx, gy, gz - 10}, 8);
    }
    // The loose rider knocks against his own bike.
    auto& rs = bike.shapes[kRiderBody];
    if (rs) {
      const ShapePose rp = body_pose(rider);
      for (int part : {kFrameBody, kForkUpperBody}) {
        auto& ps = bike.shapes[static_cast<size_t>(part)];
        const dBodyID pb = bike.bodies[static_cast<size_t>(part)];
        if (ps) shape_shape_contacts(*rs, rider, rp, *ps, pb, body_pose(pb), kContactJoint);
      }
    }
  } else {
    --bike.crash.counter;
  }
  if (bike.crash.counter <= 511 && bike.crash.counter > 0) crash_recovery(bike);
  if (bike.crash.counter <= 0) {
    bike.crash.counter = 0;
    remount_rider(bike);
  }
}

void back_up(BikeState& bike, int tic) {
  const dBodyID frame = bike.bodies[kFrameBody];
  double p = (1 - std::cos((tic % 128) * 0.0494739)) / 2;
  const int start = (g_step.race_start_tic + 127) / 128 * 128;
  if (tic < start && tic % 512 >= 128) p = 0;
  if (!crashed(bike)) bike.controls.sit_dab = 1;
  dVector3 fwd;
  dBodyVectorToWorld(frame, 0, 0, 1, fwd);
  drive_velocity(frame, 2000, {4 * p * fwd[0], 4 * p * fwd[1], 4 * p * fwd[2]});
  world_motor_y(frame, -f(bike.controls.steer) * p * kPi / 2, 2000);
}

void automatic_dab(BikeState& bike, double v) {
  const BikeAssists& a = bike.tuning.assists;
  BikeControls& c = bike.controls;
  double M = f(a.max_dab_speed);
  if (bike.crash.collision_timer <= -512) M = std::max(M, 75.0);
  if (v > M) return;
  const double roll = body_roll_angle(bike.bodies[kFrameBody]);
  if (v > 15 && std::abs(roll) < kPi / 4 * std::clamp((v - 15) / 15, 0.0, 1.0)) return;
  const bool idle = c.throttle <= 0 || c.clutch <= 0;
  if (idle || v < 5 || std::abs(roll) > kPi / 16) {
    const double sit = crashed(bike) ? 0.0 : std::clamp(std::max(1 - v / M, f(c.sit_dab)), 0.0, 1.0);
    c.sit_dab = static_cast<float>(sit);
  }
  if (v < 5 && idle && touches(bike.front_contact) && touches(bike.rear_contact)) {
    c.front_brake = 1;
    c.rear_brake = 1;
    drive_velocity(bike.bodies[kFrameBody], 1000, {0, 0, 0});
  }
}

// Damps the steering: the front wheel's turning relative to the frame, less its spin.
// The wheel's own rate would also hold the whole bike's yaw and roll, so in every lean the
// bars would be held straight in proportion to speed and the bike could not steer itself
// upright; it would settle into a lean and a slow turn, or fall.
void steering_damping(BikeState& bike) {
  const dBodyID wheel = bike.bodies[kFrontWheelBody];
  const Vec3d ww = v3(dBodyGetAngularVel(wheel));
  const Vec3d wf = v3(dBodyGetAngularVel(bike.bodies[kFrameBody]));
  const Vec3d w{ww[0] - wf[0], ww[1] - wf[1], ww[2] - wf[2]};
  dVector3 ax;
  dBodyVectorToWorld(wheel, 1, 0, 0, ax);
  const double s = dot(w, v3(ax));
  const double k = f(bike.tuning.assists.steering_damping);
  Vec3d t{};
  for (size_t i = 0; i < 3; ++i) t[i] = k * (s * ax[i] - w[i]);
  dBodyAddTorque(wheel, t[0], t[1], t[2]);
  dBodyAddTorque(bike.bodies[kFrameBody], -t[0], -t[1], -t[2]);
}

// The joints' forces on the bike's own bodies should cancel; what the solver leaves over
// would push the bike about, so it is taken back off the frame.
void joint_reaction_correction(BikeState& bike) {
  const dBodyID frame = bike.bodies[kFrameBody];
  const Vec3d o = v3(dBodyGetPosition(frame));
  Vec3d force{}, torque{};
  for (size_t j = 0; j < bike.joints.size(); ++j) {
    const dJointID jt = bike.joints[j];
    if (jt == nullptr) continue;
    const dJointFeedback& fb = bike.joint_feedback[j];
    for (int side = 0; side < 2; ++side) {
      const dBodyID b = dJointGetBody(jt, side);
      if (b == nullptr) continue;
      const dReal* fv = side == 0 ? fb.f1 : fb.f2;
      const dReal* tv = side == 0 ? fb.t1 : fb.t2;
      const Vec3d p = v3(dBodyGetPosition(b));
      const Vec3d r{p[0] - o[0], p[1] - o[1], p[2] - o[2]};
      const Vec3d m = cross(r, v3(fv));
      for (size_t i = 0; i < 3; ++i) {
        force[i] += fv[i];
        torque[i] += tv[i] + m[i];
      }
    }
  }
  if (!std::isfinite(length(force)) || !std::isfinite(length(torque))) return;
  dBodyAddForce(frame, -force[0], -force[1], -force[2]);
  dBodyAddTorque(frame, -torque[0], -torque[1], -torque[2]);
}

void foot_points(BikeState& bike, const HeightField& hf) {
  BikeControls& c = bike.controls;
  c.dab_pose = std::max(0.0f, c.dab_pose - static_cast<float>(4 * h));
  const dBodyID rider = bike.bodies[kRiderBody];
  if (!crashed(bike)) {
    const RiderFeet feet = rider_feet(bike, hf);
    for (size_t k = 0; k < 2; ++k) {
      const Vec3d& p = feet.position[k];
      dVector3 v;
      dBodyGetPointVel(rider, p[0], p[1], p[2], v);
      for (size_t i = 0; i < 3; ++i) {
        bike.rider_feet[k].position[i] = static_cast<float>(p[i]);
        bike.rider_feet[k].velocity[i] = static_cast<float>(v[i]);
      }
    }
    return;
  }
  const BikeModelInfo& m = bike_model(bike.model);
  const double leg = f(m.limbs.thigh) + f(m.limbs.shin);
  for (size_t k = 0; k < 2; ++k) {
    RiderFoot& ft = bike.rider_feet[k];
    ft.velocity[1] -= static_cast<float>(kGravity * h);
    for (size_t i = 0; i < 3; ++i) {
      ft.velocity[i] *= 0.9375f;
      ft.position[i] += static_cast<float>(f(ft.velocity[i]) * h);
    }
    const double ground = f(ground_height_at(hf, f(ft.position[0]), f(ft.position[2]))) + 0.25;
    if (f(ft.position[1]) < ground) {
      ft.position[1] = static_cast<float>(ground);
      ft.velocity[1] = std::max(0.0f, ft.velocity[1]);
    }
    const BikeVec3& hp = m.limbs.hip[k];
    dVector3 hip;
    dBodyGetRelPointPos(rider, f(hp.x), f(hp.y), f(hp.z), hip);
    Vec3d d{f(ft.position[0]) - hip[0], f(ft.position[1]) - hip[1], f(ft.position[2]) - hip[2]};
    const double n = length(d);
    if (n > leg && n > 0) {
      for (size_t i = 0; i < 3; ++i) ft.position[i] = static_cast<float>(hip[i] + d[i] * leg / n);
    }
    for (size_t i = 0; i < 3; ++i)
      if (!std::isfinite(ft.position[i]) || !std::isfinite(ft.velocity[i])) ft = RiderFoot{};
  }
}

}  // namespace

BikeStepModule& bike_step_module() { return g_step; }
void reset_bike_step_module() { g_step = BikeStepModule{}; }

void bike_step(BikeState& bike, const HeightField& hf, int tic) {
  for (dBodyID b : bike.bodies)
    if (b == nullptr) return;
  if (bike.enabled == 0) {
    foot_points(bike, hf);
    return;
  }
  const dBodyID frame = bike.bodies[kFrameBody];
  const dBodyID rider = bike.bodies[kRiderBody];

  // 1. collision timer towards 0
  float& timer = bike.crash.collision_timer;
  timer = std::abs(timer) <= 1 ? 0.0f : timer - (timer > 0 ? 1.0f : -1.0f);

  // 2. airtime
  airtime(bike, tic);

  // 3. crash by violent rider motion
  if (!arcade(bike) && !crashed(bike) && bike.crash.collision_timer >= 0) {
    const double m = rider_crash_tolerance(bike.assist.takeoff_tic, bike.assist.landing_tic, tic);
    if (rider_motion_crashes(bike, tic, m)) crash_rider_off(bike, hf);
  }

  // 4. crash phase
  if (crashed(bike)) crash_phase(bike);

  // 5. the user's inputs, overridden for this tic only
  BikeControls& c = bike.controls;
  const float saved_sit = c.sit_dab, saved_front = c.front_brake, saved_rear = c.rear_brake;

  const double v = length(v3(dBodyGetLinearVel(frame)));
  if (c.back_up > 0 && v < 5) {
    back_up(bike, tic);  // 6.
  } else if ((bike.tuning.flags[0] & kFlagAutoDab) != 0) {
    automatic_dab(bike, v);  // 7.
  }

  if (!crashed(bike)) rider_springs(bike);  // 8.
  fork_force(bike);                         // 9.
  shock_torque(bike);
  if (!arcade(bike)) {  // 10.
    balance_control(bike, hf);
  } else if (!crashed(bike)) {
    arcade_control(bike, hf);
  }
  drivetrain_step(bike, tic);  // 11.
  steering_damping(bike);      // 12.
  if (tic >= 2 && !crashed(bike)) joint_reaction_correction(bike);  // 13.
  dab_assist(bike, hf);                                             // 14.

  c.sit_dab = saved_sit;  // 15.
  c.front_brake = saved_front;
  c.rear_brake = saved_rear;

  foot_points(bike, hf);  // 16.

  const dReal* rv = dBodyGetLinearVel(rider);  // 17.
  auto& slot = bike.rider_velocity_history[static_cast<size_t>(tic & 3)];
  for (size_t i = 0; i < 3; ++i) slot[i] = static_cast<float>(rv[i]);
}

}  // namespace ks
