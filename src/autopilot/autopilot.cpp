// The per-tic step of a robot: target advance, planning, the start at the gate, driving
// along the path, recovery when stuck, and rolling out after the finish.
#include "autopilot/autopilot.h"

#include <algorithm>
#include <cmath>

#include "core/random.h"
#include "physics/bike_catalog.h"
#include "physics/lean_steer.h"
#include "physics/rider.h"
#include "physics/terrain_contact.h"
#include "physics/drivetrain.h"
#include "track/heightfield.h"
#include "track/track.h"

namespace ks {

namespace {

using Vec3 = std::array<double, 3>;
constexpr double kPi = 3.14159265358979323846;
constexpr uint8_t kForcedAssists = 0x3E;  // wheelies, flips, both antilocks, auto shift
constexpr double kMaxLean = 1.1780972;     // 67.5 degrees
constexpr double kResetWait = 5.0;         // seconds after the reset the gate blipping ends
constexpr double kAimSeconds = 0.8;        // the aim point: at least this much travel ahead
constexpr double kMinAimDistance = 25;     // ft, and at least this far
constexpr double kAimStep = 0.25;          // path points searched per step for the aim

double clamp01(double v) { return std::clamp(v, 0.0, 1.0); }
double secs(int tics) { return tics / double(kTicsPerSecond); }

Vec3 v3(const dReal* p) { return {p[0], p[1], p[2]}; }

// What the driving reads of the bike, in world coordinates.
struct View {
  Vec3 pos{}, vel{};
  double speed = 0;
  Vec3 fwd{0, 0, -1};   // horizontal unit forward
  Vec3 right{1, 0, 0};  // horizontal unit to the right
  Vec3 w_body{};        // angular velocity in the frame's own axes
  double roll = 0;
};

View view_of(const BikeState& bike) {
  View v;
  const dBodyID frame = bike.bodies[kFrameBody];
  v.pos = v3(dBodyGetPosition(frame));
  v.vel = v3(dBodyGetLinearVel(frame));
  v.speed = std::sqrt(v.vel[0] * v.vel[0] + v.vel[1] * v.vel[1] + v.vel[2] * v.vel[2]);
  dVector3 f;
  dBodyVectorToWorld(frame, 0, 0, -1, f);
  const double n = std::hypot(f[0], f[2]);
  if (n > 1e-9) v.fwd = {f[0] / n, 0, f[2] / n};
  v.right = {-v.fwd[2], 0, v.fwd[0]};
  const dReal* w = dBodyGetAngularVel(frame);
  dVector3 local;
  dBodyVectorFromWorld(frame, w[0], w[1], w[2], local);
  v.w_body = v3(local);
  v.roll = body_roll_angle(frame);
  return v;
}

double ahead_of(const View& v, const LinePoint& p) {
  return (p.x - v.pos[0]) * v.fwd[0] + (p.z - v.pos[2]) * v.fwd[2];
}
double side_of(const View& v, const LinePoint& p) {
  return (p.x - v.pos[0]) * v.right[0] + (p.z - v.pos[2]) * v.right[2];
}

// The path interpolated at a fractional index (absolute speed blended).
LinePoint point_at(const std::vector<LinePoint>& path, double p) {
  const double last = double(path.size() - 1);
  p = std::clamp(p, 0.0, last);
  const size_t i = size_t(std::floor(p));
  const size_t j = std::min(i + 1, path.size() - 1);
  const double t = p - double(i);
  const LinePoint& a = path[i];
  const LinePoint& b = path[j];
  const auto lerp = [t](double x, double y) { return float(x + (y - x) * t); };
  LinePoint r;
  r.x = lerp(a.x, b.x);
  r.y = lerp(a.y, b.y);
  r.z = lerp(a.z, b.z);
  r.speed = lerp(std::abs(double(a.speed)), std::abs(double(b.speed)));
  r.lean = lerp(a.lean, b.lean);
  return r;
}

void set(BikeState& bike, Control c, double v) { set_control(bike, c, v); }

// Standing at the gate or without a path: clutch out, both brakes, foot down.
void hold(BikeState& bike, double throttle) {
  set(bike, Control::throttle, throttle);
  set(bike, Control::clutch, 0);
  set(bike, Control::front_brake, 1);
  set(bike, Control::rear_brake, 1);
  set(bike, Control::steer, 0);
  set(bike, Control::sit_dab, 1);
}

// Gear index 0 is first gear; a model without a first gear rides it as neutral.
void hold_gear(BikeState& bike) {
  bike.drivetrain.gear = 0;
  bike.tuning.flags[0] &= static_cast<uint8_t>(~kFlagAutoShift);
}

void apply(BikeState& bike, const SpeedCommand& c, double throttle) {
  set(bike, Control::throttle, throttle);
  set(bike, Control::clutch, c.clutch);
  set(bike, Control::front_brake, c.front_brake);
  set(bike, Control::rear_brake, c.rear_brake);
}

SpeedInput speed_input(const BikeState& bike, const View& v, double target) {
  const BikeModelInfo& m = bike_model(bike.model);
  SpeedInput in;
  in.v = v.speed;
  in.w = target;
  in.rear_touches = bike.rear_contact.depth > 0;
  in.pitch_rate = v.w_body[0];
  in.front_y = dBodyGetPosition(bike.bodies[kFrontWheelBody])[1];
  in.rear_y = dBodyGetPosition(bike.bodies[kRearWheelBody])[1];
  const int gear = std::clamp(bike.drivetrain.gear, 0, kGearCount - 1);
  in.in_gear = m.gear_ratios[size_t(gear)] > 0;
  in.rpm = double(bike.drivetrain.engine_speed) * kRadPerSecToRpm;
  in.downshift_rpm = m.downshift_rpm;
  return in;
}

const HeightField* terrain() {
  const Track* t = current_track();
  return t != nullptr ? t->terrain.get() : nullptr;
}

// Load factor: how much more than twice its weight the wheels carry (at least 1).
double load_factor(const BikeState& bike) {
  double fy = 0;
  if (bike.front_contact.depth > 0) fy += bike.front_contact.feedback.f1[1];
  if (bike.rear_contact.depth > 0) fy += bike.rear_contact.feedback.f1[1];
  const double mass = std::max(double(bike.total_mass), 1e-6);
  const double l = fy / (32 * mass) - 1;
  return std::isfinite(l) ? std::max(1.0, l) : 1.0;
}

// ---- after the finish ----------------------------------------------------------------

void roll_out(RobotState& rs, const BikeState& bike) {
  const double p = std::max(0.0, path_position(rs, bike));
  const double last = double(rs.path.size() - 1);
  if (!(last > p)) return;
  for (size_t i = size_t(std::ceil(p)); i < rs.path.size(); ++i) {
    const double t = (double(i) - p) / (last - p);
    rs.path[i].speed = float(double(rs.path[i].speed) * (1 - 0.75 * t));
  }
}

// ---- drive on path -------------------------------------------------------------------

void drive_on_path(RaceState& race, int slot, RobotState& rs, BikeState& bike) {
  const int tic = race.current_tic;
  if (tic - rs.last_advance_tic > 3 * kTicsPerSecond) {
    rs.recovery = 3;
    return;
  }
  const View v = view_of(bike);
  const std::vector<LinePoint>& path = rs.path;
  const int n = int(path.size());
  set(bike, Control::sit_dab, 0);

  const double p = std::max(0.0, path_position(rs, bike));
  const int base = int(std::floor(p));
  const LinePoint at = point_at(path, p);
  double w = at.speed;

  // The next take-off: two airborne points in a row.
  double tau = 1000000;
  int takeoff = -1;
  for (int k = base + 1; k <= base + 20 && k + 1 < n; ++k) {
    if (path[size_t(k)].speed < 0 && path[size_t(k + 1)].speed < 0) {
      takeoff = k;
      const double d = std::sqrt((at.x - v.pos[0]) * (at.x - v.pos[0]) +
                                 (at.y - v.pos[1]) * (at.y - v.pos[1]) +
                                 (at.z - v.pos[2]) * (at.z - v.pos[2]));
      tau = (k - p) * 0.25 + d / std::max(v.speed, 1.0);
      break;
    }
  }

  // Riders ahead whose footprint meets ours.
  const Footprint mine = footprint_of(v.pos, v.vel);
  double nearest = 1e300;
  Vec3 other_vel{};
  for (int s = 0; s < kMaxBikes; ++s) {
    const BikeState* o = slot_bike(race, s);
    if (s == slot || o == nullptr || o->bodies[kFrameBody] == nullptr) continue;
    const Vec3 op = v3(dBodyGetPosition(o->bodies[kFrameBody]));
    const Vec3 ov = v3(dBodyGetLinearVel(o->bodies[kFrameBody]));
    const double ahead = (op[0] - v.pos[0]) * v.fwd[0] + (op[2] - v.pos[2]) * v.fwd[2];
    if (!(ahead > 0) || !footprints_overlap(mine, footprint_of(op, ov))) continue;
    const double d = std::sqrt((op[0] - v.pos[0]) * (op[0] - v.pos[0]) +
                               (op[1] - v.pos[1]) * (op[1] - v.pos[1]) +
                               (op[2] - v.pos[2]) * (op[2] - v.pos[2]));
    if (d < nearest) {
      nearest = d;
      other_vel = ov;
    }
  }
  if (nearest < 1e299) {
    const double c = std::max(0.0, other_vel[0] * v.fwd[0] + other_vel[2] * v.fwd[2]);
    bool clear = false;
    w = follow_limit(w, nearest, c, secs(tic - race.start_tic), clear);
    if (clear) bike.followed_lines.fill(0);
  }

  // Aim point.
  int lead = 2;
  if (race.slots[size_t(slot)].timing.gate_count == 0) {
    lead = 4;
  } else {
    int in_cone = 0;
    for (int k = base + 1; k <= base + 5 && k < n; ++k) {
      const double z = ahead_of(v, path[size_t(k)]);
      if (z > 0 && std::abs(side_of(v, path[size_t(k)])) <= z / 8) ++in_cone;
    }
    if (in_cone >= 5 && std::abs(v.roll) < kPi / 8) lead = 3;
  }
  // Points are a quarter second apart, so two or three of them ahead is inside the bike's
  // own roll response at anything but walking pace; aiming that close it weaves across the
  // line until it leaves it. The aim goes on along the path to at least kAimSeconds of
  // travel (kMinAimDistance at low speed).
  const double reach = std::max(kMinAimDistance, kAimSeconds * v.speed);
  double aim_at = std::min(p + lead, double(n - 1));
  while (aim_at + kAimStep <= double(n - 1)) {
    const LinePoint q = point_at(path, aim_at);
    if (std::hypot(q.x - v.pos[0], q.z - v.pos[2]) >= reach) break;
    aim_at += kAimStep;
  }
  LinePoint aim = point_at(path, aim_at);
  if (tau < 2 && takeoff >= 1) {
    // Line up with the take-off: the aim direction turns linearly towards the direction
    // leaving the lip over the last 2 s.
    const LinePoint& lip = path[size_t(takeoff - 1)];
    const LinePoint& air = path[size_t(takeoff)];
    double tx = air.x - lip.x, tz = air.z - lip.z;
    const double tn = std::hypot(tx, tz);
    double ax = aim.x - v.pos[0], az = aim.z - v.pos[2];
    const double an = std::hypot(ax, az);
    if (tn > 1e-6 && an > 1e-6) {
      tx /= tn;
      tz /= tn;
      const double k = clamp01((2 - tau) / 2);
      double dx = ax / an + (tx - ax / an) * k, dz = az / an + (tz - az / an) * k;
      const double dn = std::hypot(dx, dz);
      if (dn > 1e-6) {
        dx /= dn;
        dz /= dn;
        aim.x = float(v.pos[0] + dx * an);
        aim.z = float(v.pos[2] + dz * an);
      }
    }
  }

  // Lean that carries the current speed round the circle through the aim point.
  const double ax = side_of(v, aim), az = ahead_of(v, aim);
  const double radius = std::abs(ax) > 1e-6 ? (ax * ax + az * az) / (2 * ax) : 1e12;
  const double load = load_factor(bike);
  double lean = -std::atan(v.speed * v.speed / (32 * load * radius));
  double lo = -kMaxLean, hi = kMaxLean;
  if (const HeightField* hf = terrain()) {
    lo = -1e9;
    hi = 1e9;
    for (int k = base + 1; k <= base + 5 && k < n; ++k) {
      const LinePoint& q = path[size_t(k)];
      const LinePoint& b = path[size_t(k - 1)];
      double dx = q.x - b.x, dz = q.z - b.z;
      const double dn = std::hypot(dx, dz);
      if (dn > 1e-6) {
        dx /= dn;
        dz /= dn;
      } else {
        dx = v.fwd[0];
        dz = v.fwd[2];
      }
      const auto nrm = ground_face_normal_at(*hf, q.x, q.z);
      const double nn = std::sqrt(double(nrm[0]) * nrm[0] + double(nrm[1]) * nrm[1] +
                                  double(nrm[2]) * nrm[2]);
      const double across = nn > 0 ? (double(nrm[0]) * -dz + double(nrm[2]) * dx) / nn : 0;
      const double slope = -std::asin(std::clamp(across, -1.0, 1.0));
      const TileInfo& mat = hf->materials[ground_material_at(*hf, q.x, q.z)];
      const double mu = mat.friction_count > 0 ? double(mat.friction[0].value) : 1.0;
      const double lim = std::min(std::atan(std::max(mu, 0.0)), kMaxLean);
      lo = std::max(lo, slope - lim);
      hi = std::min(hi, slope + lim);
    }
    if (lo > 1e8) lo = hi = 0;
    if (lo < -1e8) lo = -kMaxLean, hi = kMaxLean;
    if (lo > hi) lo = hi = (lo + hi) / 2;
  }
  if (lean < lo || lean > hi) {
    lean = std::clamp(lean, lo, hi);
    const double cap = std::sqrt(std::tan(std::abs(lean)) * load * std::abs(radius) * 32);
    if (std::isfinite(cap)) w = std::min(w, cap);
    rs.lean_limited_tic = tic;
  }

  // Before a take-off: keep the speed up and come upright.
  if (tau < 3) {
    const double k = clamp01((3 - tau) / 3);
    const double want = std::max(v.speed, std::abs(double(path[size_t(takeoff)].speed)) + 2);
    w += (want - w) * k;
    lean *= 1 - k;
  }

  // Steering: the roll-rate controller of the balance assist, and at walking speeds the
  // bars turned straight at the aim point.
  const double by_lean = lean_steer(lean, v.roll, v.w_body[2]);
  const double bars = std::clamp(std::atan2(-ax, az), -kPi / 4, kPi / 4);
  const double direct = steer_to_angle(bike, bars);
  const double b = clamp01((v.speed - 7.5) / 2.5);
  double steer = std::clamp(b * by_lean + (1 - b) * direct, -1.0, 1.0);
  // With both wheels off the ground the bars only roll the bike (their reaction on the
  // frame), and a robot chasing its lean target in the air landed on its side: bars
  // straight until a wheel touches.
  if (!(bike.front_contact.depth > 0) && !(bike.rear_contact.depth > 0))
    steer = steer_to_angle(bike, 0);
  set(bike, Control::steer, steer);

  const SpeedCommand cmd = speed_control(speed_input(bike, v, w));
  double throttle = cmd.throttle;
  const double last = rs.last_throttle;
  if (tic - rs.lean_limited_tic <= kTicsPerSecond / 8)
    throttle = std::min(throttle, last + 1.0 / 32);
  else
    throttle = std::max(throttle, last - 1.0 / 32);
  if (bike.crash.counter > 0) throttle = 0;
  throttle = clamp01(throttle);
  rs.last_throttle = float(throttle);
  apply(bike, cmd, throttle);
}

// ---- recover -------------------------------------------------------------------------

void recover(RaceState& race, RobotState& rs, BikeState& bike) {
  const int tic = race.current_tic;
  const int n = int(rs.path.size());
  if (tic - rs.last_advance_tic > 40 * kTicsPerSecond) {
    rs.target = tic % n;
    rs.recovery = 3;
    rs.last_advance_tic = tic;
  }
  const View v = view_of(bike);
  const dBodyID frame = bike.bodies[kFrameBody];
  const LinePoint& t = rs.path[size_t(std::clamp(rs.target, 0, n - 1))];

  if (tic - rs.last_advance_tic <= 19 * kTicsPerSecond) {
    double w = 15, range = 0.5, sit = 0;
    if (v.speed < 10) {
      range = 1.0 / 6;
      sit = 1;
      if (std::abs(v.roll) > 1.0 / 6) w = 5;
    } else if (v.speed < 20) {
      range = (1.0 / 3 + (v.speed - 10) * 0.1 * 2.0 / 3) * 0.5;
    }
    dVector3 local;
    dBodyGetPosRelPoint(frame, t.x, t.y, t.z, local);
    const double x = local[0], z = local[2];
    const double cmd = std::abs(x) <= -z ? std::clamp(0.5 * x / z, -range, range)
                                         : (x > 0 ? -range : range);
    bool reset = -z < 4 * std::abs(x);
    const int base = int(std::floor(std::max(0.0, path_position(rs, bike))));
    for (int k = base; k <= base + 8 && k < n && !reset; ++k)
      reset = rs.path[size_t(k)].speed < 0;
    if (reset) rs.recovery = 3;
    const double desired = std::clamp(4 * (cmd - v.roll), -4.0, 4.0);
    set(bike, Control::steer, std::clamp(2 * (v.w_body[2] - desired), -1.0, 1.0));
    set(bike, Control::sit_dab, sit);
    const SpeedCommand c = speed_control(speed_input(bike, v, w));
    apply(bike, c, c.throttle);
    return;
  }

  // Long stuck: drag the bike towards the target, holding it up, bars straight.
  double dx = t.x - v.pos[0], dz = t.z - v.pos[2];
  const double dn = std::hypot(dx, dz);
  if (dn > 1e-9) {
    dx /= dn;
    dz /= dn;
  } else {
    dx = dz = 0;
  }
  drive_velocity(frame, 1000, {dx * 5, 0, dz * 5});
  dMass mass;
  dBodyGetMass(frame, &mass);
  dBodyAddForce(frame, 0, 16 * mass.mass, 0);
  const dJointID steering = bike.joints[kSteeringJoint];
  const double delta = dJointGetHingeAngle(steering), rate = dJointGetHingeAngleRate(steering);
  set(bike, Control::steer, std::clamp(-(delta + rate) / 4, -1.0, 1.0));
  set(bike, Control::sit_dab, 1);
  set(bike, Control::throttle, 0);
  set(bike, Control::clutch, 0);
  set(bike, Control::front_brake, 0);
  set(bike, Control::rear_brake, 0);
}

// ---- the start -----------------------------------------------------------------------

// True while the start procedure keeps the controls; false once it hands over to driving.
bool start_procedure(RaceState& race, RobotState& rs, BikeState& bike) {
  const double now = secs(race.current_tic);
  const double gate = secs(race.start_tic);
  const RiderStyle& style = rider_style(rs.personality);
  if (rs.reaction == 0) rs.reaction = float(2 * random_unit());

  if (now < kResetWait) {
    // Blipping the throttle at the gate.
    double throttle = 0;
    if (rs.reaction < 0) {
      if (now > -double(rs.reaction)) {
        rs.reaction = float(std::min(now + 2 + random_unit() * 0.5, kResetWait));
      } else {
        throttle = 1;
      }
    } else if (now > double(rs.reaction)) {
      rs.reaction = float(-(now + 0.25 + random_unit() * 0.5));
      throttle = 1;
    }
    hold(bike, throttle);
    hold_gear(bike);
    return true;
  }
  if (!(double(rs.reaction) > kResetWait))
    rs.reaction = float(kResetWait + 0.125 + random_unit() * 0.375);
  if (double(rs.reaction) < gate) {
    if (now < double(rs.reaction)) {
      hold(bike, 0);
      hold_gear(bike);
      return true;
    }
    rs.reaction = float(gate + double(style.reaction_min) +
                        double(style.reaction_max - style.reaction_min) * random_unit());
  }
  const double reaction = rs.reaction;
  if (now < reaction) {
    hold(bike, 1);
    hold_gear(bike);
    return true;
  }
  if (now < reaction + 2) {
    const double x = std::min((now - reaction) * 4, 1.0);
    if (x < 0.75) hold_gear(bike);
    set(bike, Control::throttle, 1);
    set(bike, Control::clutch, x);
    set(bike, Control::sit_dab, 1 - x);
    set(bike, Control::front_brake, 0);
    set(bike, Control::rear_brake, 0);
    set(bike, Control::steer, 0);
    rs.last_throttle = 1;
    return true;
  }
  return false;
}

}  // namespace

std::array<RobotState, kMaxBikes>& robot_states() {
  static std::array<RobotState, kMaxBikes> s;
  return s;
}

void reset_robot(int slot, int personality) {
  if (slot < 0 || slot >= kMaxBikes) return;
  RobotState& r = robot_states()[size_t(slot)];
  r = RobotState{};
  r.personality = personality;
}

double path_position(const RobotState& robot, const BikeState& bike) {
  if (robot.path.empty() || bike.bodies[kFrameBody] == nullptr) return -1;
  const View v = view_of(bike);
  const int n = int(robot.path.size());
  int i = std::clamp(robot.target, 0, n - 1);
  if (!(ahead_of(v, robot.path[size_t(i)]) > 0)) return i;
  while (i > 0 && ahead_of(v, robot.path[size_t(i - 1)]) > 0) --i;
  if (i == 0) return 0;
  const double a = ahead_of(v, robot.path[size_t(i)]);
  const double b = -ahead_of(v, robot.path[size_t(i - 1)]);
  return i - 1 + (a + b > 0 ? b / (a + b) : 0.0);
}

bool robot_path_target(int slot, std::array<double, 3>& out) {
  if (slot < 0 || slot >= kMaxBikes) return false;
  const RobotState& r = robot_states()[size_t(slot)];
  if (r.path.empty()) return false;
  const LinePoint& p = r.path[size_t(std::clamp(r.target, 0, int(r.path.size()) - 1))];
  out = {p.x, p.y, p.z};
  return true;
}

void autopilot_step(RaceState& race, int slot) {
  BikeState* bike = slot_bike(race, slot);
  if (bike == nullptr || bike->bodies[kFrameBody] == nullptr) return;
  RobotState& rs = robot_states()[size_t(slot)];
  const int tic = race.current_tic;
  bike->tuning.flags[0] |= kForcedAssists;
  const View v = view_of(*bike);

  // Move the target along once it is near, unless it lies behind the bike's heading.
  int n = int(rs.path.size());
  if (rs.target >= 0 && rs.target < n) {
    const LinePoint& t = rs.path[size_t(rs.target)];
    const double d = std::hypot(t.x - v.pos[0], t.z - v.pos[2]);
    if (d < (rs.recovery == 3 ? 30 : 60)) {
      bool against = false;
      if (d > 4 && rs.target > 0) {
        const LinePoint& b = rs.path[size_t(rs.target - 1)];
        const double dx = t.x - b.x, dz = t.z - b.z;
        if (std::hypot(dx, dz) > 1) against = dx * v.fwd[0] + dz * v.fwd[2] < 0;
      }
      if (!against) {
        ++rs.target;
        rs.last_advance_tic = tic;
        if (rs.target >= n) {
          rs.path.clear();
          rs.target = 0;
        }
        if (rs.recovery > 0) --rs.recovery;
      }
    }
  }

  const bool finished = race.slots[size_t(slot)].timing.finished;
  if (finished && !rs.rolled_out && !rs.path.empty()) {
    roll_out(rs, *bike);
    rs.rolled_out = true;
  }

  n = int(rs.path.size());
  if (n - rs.target <= 10 && !line_store().records.empty() && !finished)
    pick_line(race, slot, rs, v.pos, v.fwd);

  if (rs.target >= int(rs.path.size())) {
    hold(*bike, 0);
    return;
  }

  if (secs(tic) < secs(race.start_tic) + 5) {
    if (start_procedure(race, rs, *bike)) return;
    drive_on_path(race, slot, rs, *bike);
  } else if (rs.recovery == 0) {
    drive_on_path(race, slot, rs, *bike);
  } else {
    recover(race, rs, *bike);
  }
}

}  // namespace ks
