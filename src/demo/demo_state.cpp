// Sections: fixed-point codes - encoding - decoding - interpolation - posing.
#include "demo/demo_state.h"

#include <algorithm>
#include <cmath>

#include "physics/bike_catalog.h"
#include "track/heightfield.h"
#include "track/track.h"

namespace ks {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kRadPerSecToRpm = 9.549296585513721;
constexpr double kTic = 1.0 / 128.0;
constexpr double kMax24 = 16777215.0;
constexpr double kMax16 = 65535.0;
constexpr double kMax8 = 255.0;

using Vec3 = std::array<double, 3>;
using Quat = std::array<double, 4>;

// ---- fixed-point codes ------------------------------------------------------------------

// floor(v * max + 0.5) with v clamped to 0..1 first, so rounding never leaves the range.
uint32_t fix(double v, double max) {
  if (!(v >= 0)) v = 0;  // NaN too
  if (v > 1) v = 1;
  return static_cast<uint32_t>(std::floor(v * max + 0.5));
}

void put24(DemoState& s, int at, uint32_t v) {
  const auto i = static_cast<size_t>(at);
  s[i] = static_cast<uint8_t>(v);
  s[i + 1] = static_cast<uint8_t>(v >> 8);
  s[i + 2] = static_cast<uint8_t>(v >> 16);
}
void put16(DemoState& s, int at, uint32_t v) {
  const auto i = static_cast<size_t>(at);
  s[i] = static_cast<uint8_t>(v);
  s[i + 1] = static_cast<uint8_t>(v >> 8);
}
uint32_t get24(const DemoState& s, int at) {
  const auto i = static_cast<size_t>(at);
  return uint32_t{s[i]} | uint32_t{s[i + 1]} << 8 | uint32_t{s[i + 2]} << 16;
}
uint32_t get16(const DemoState& s, int at) {
  const auto i = static_cast<size_t>(at);
  return uint32_t{s[i]} | uint32_t{s[i + 1]} << 8;
}
uint32_t get8(const DemoState& s, int at) { return s[static_cast<size_t>(at)]; }
void put8(DemoState& s, int at, uint32_t v) { s[static_cast<size_t>(at)] = static_cast<uint8_t>(v); }

void put_quat(DemoState& s, int at, const dReal* q) {
  for (int k = 0; k < 4; ++k) put16(s, at + 2 * k, fix((q[k] + 1.0) / 2.0, kMax16));
}
Quat get_quat(const DemoState& s, int at) {
  Quat q{};
  for (size_t k = 0; k < 4; ++k) q[k] = get16(s, at + 2 * static_cast<int>(k)) / kMax16 * 2.0 - 1.0;
  return q;
}

double f(float v) { return static_cast<double>(v); }
Vec3 vec(const BikeVec3& v) { return {f(v.x), f(v.y), f(v.z)}; }
Vec3 sub(const Vec3& a, const Vec3& b) { return {a[0] - b[0], a[1] - b[1], a[2] - b[2]}; }
Vec3 add(const Vec3& a, const Vec3& b) { return {a[0] + b[0], a[1] + b[1], a[2] + b[2]}; }
Vec3 scale(const Vec3& a, double k) { return {a[0] * k, a[1] * k, a[2] * k}; }

Quat normalised(Quat q) {
  const double n = std::sqrt(q[0] * q[0] + q[1] * q[1] + q[2] * q[2] + q[3] * q[3]);
  if (!(n > 1e-12)) return {1, 0, 0, 0};
  for (double& c : q) c /= n;
  return q;
}

Quat mul(const Quat& a, const Quat& b) {
  return {a[0] * b[0] - a[1] * b[1] - a[2] * b[2] - a[3] * b[3],
          a[0] * b[1] + a[1] * b[0] + a[2] * b[3] - a[3] * b[2],
          a[0] * b[2] - a[1] * b[3] + a[2] * b[0] + a[3] * b[1],
          a[0] * b[3] + a[1] * b[2] - a[2] * b[1] + a[3] * b[0]};
}

Quat axis_angle(const Vec3& axis, double angle) {
  const double s = std::sin(angle / 2);
  return {std::cos(angle / 2), axis[0] * s, axis[1] * s, axis[2] * s};
}

Vec3 rotate(const Quat& q, const Vec3& v) {
  const Quat p{0, v[0], v[1], v[2]};
  const Quat c{q[0], -q[1], -q[2], -q[3]};
  const Quat r = mul(mul(q, p), c);
  return {r[1], r[2], r[3]};
}

Vec3 unit(const Vec3& v) {
  const double n = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
  return n > 1e-12 ? scale(v, 1.0 / n) : Vec3{0, 1, 0};
}

}  // namespace

DemoFrame current_demo_frame() {
  DemoFrame frame;
  const Track* t = current_track();
  if (t != nullptr && t->terrain != nullptr && t->terrain->extent > 0) {
    frame.extent = f(t->terrain->extent);
    frame.min_height = f(t->terrain->min_height);
  }
  return frame;
}

// ---- encoding ---------------------------------------------------------------------------

DemoState encode_demo_state(const BikeState& bike, const DemoFrame& frame) {
  DemoState s{};
  const BikeModelInfo& m = bike_model(bike.model);
  const double w = frame.extent > 0 ? frame.extent : 1.0;
  const double b = frame.min_height;
  const dBodyID body = bike.bodies[kFrameBody];
  const dReal* p = dBodyGetPosition(body);
  put24(s, kStatePosition, fix(std::clamp(p[0], 0.0, w) / w, kMax24));
  put24(s, kStatePosition + 3, fix((std::clamp(p[1], b, b + w) - b) / w, kMax24));
  put24(s, kStatePosition + 6, fix(std::clamp(p[2], 0.0, w) / w, kMax24));
  put_quat(s, kStateOrientation, dBodyGetQuaternion(body));

  const double steer = std::clamp(dJointGetHingeAngle(bike.joints[kSteeringJoint]), -kPi / 4, kPi / 4);
  put8(s, kStateSteer, fix((steer + kPi / 4) * 2.0 / kPi, kMax8));
  const double a = f(m.swingarm_travel_angle) > 0 ? f(m.swingarm_travel_angle) : 1.0;
  const double swing = std::clamp(dJointGetHingeAngle(bike.joints[kSwingarmJoint]), -a, 0.0);
  put8(s, kStateSwingarm, (fix((swing + a) / a, kMax8) & 0xFEu) | 1u);
  const double t = f(m.fork_travel) > 0 ? f(m.fork_travel) : 1.0;
  const double fork = std::clamp(dJointGetSliderPosition(bike.joints[kForkJoint]), -t, 0.0);
  put8(s, kStateFork, fix((fork + t) / t, kMax8) & 0xFEu);

  const dReal* r = dBodyGetPosition(bike.bodies[kRiderBody]);
  for (int k = 0; k < 3; ++k) {
    const double d = std::clamp(r[k] - p[k], -16.0, 16.0);
    put16(s, kStateRiderOffset + 2 * k, fix((d + 16.0) / 32.0, kMax16));
  }
  put_quat(s, kStateRiderOrientation, dBodyGetQuaternion(bike.bodies[kRiderBody]));

  const double front = std::clamp(dJointGetHingeAngle(bike.joints[kFrontAxleJoint]), -kPi, kPi);
  const double rear = std::clamp(dJointGetHingeAngle(bike.joints[kRearAxleJoint]), -kPi, kPi);
  put8(s, kStateFrontWheel, fix((front + kPi) / (2 * kPi), kMax8));
  put8(s, kStateRearWheel, fix((rear + kPi) / (2 * kPi), kMax8));

  uint32_t flags = 0;
  const int c = std::min(bike.crash.counter, 1 << 20);
  if (c > 0) {
    flags = 7u | static_cast<uint32_t>(std::min((15 * c - 15) / 127, 15)) << 4;
  } else {
    flags = static_cast<uint32_t>(std::clamp(bike.drivetrain.gear, 0, 6));
    // Bit 3 marks an engine effect; this bike model keeps no effect value, so it stays 0.
    const float th = std::clamp(bike.controls.throttle, 0.0f, 1.0f) * 15.0f;
    flags |= static_cast<uint32_t>(std::clamp(static_cast<int>(th), 0, 15)) << 4;
  }
  put8(s, kStateFlags, flags);
  const double rpm = std::clamp(f(bike.drivetrain.engine_speed) * kRadPerSecToRpm, 0.0, 32768.0);
  put16(s, kStateRpm, fix(rpm / 32768.0, kMax16));
  return s;
}

// ---- decoding ---------------------------------------------------------------------------

DecodedState decode_demo_state(const DemoState& s, const BikeModelInfo& m, const DemoFrame& frame) {
  DecodedState d;
  const double w = frame.extent > 0 ? frame.extent : 1.0;
  d.position[0] = get24(s, kStatePosition) / kMax24 * w;
  d.position[1] = get24(s, kStatePosition + 3) / kMax24 * w + frame.min_height;
  d.position[2] = get24(s, kStatePosition + 6) / kMax24 * w;
  d.orientation = normalised(get_quat(s, kStateOrientation));
  d.steer = get8(s, kStateSteer) / kMax8 * kPi / 2.0 - kPi / 4;
  const double a = f(m.swingarm_travel_angle) > 0 ? f(m.swingarm_travel_angle) : 1.0;
  d.swingarm = (get8(s, kStateSwingarm) & 0xFEu) / kMax8 * a - a;
  d.recorded = (get8(s, kStateSwingarm) & 1u) != 0;
  const double t = f(m.fork_travel) > 0 ? f(m.fork_travel) : 1.0;
  d.fork = (get8(s, kStateFork) & 0xFEu) / kMax8 * t - t;
  for (size_t k = 0; k < 3; ++k)
    d.rider_offset[k] = get16(s, kStateRiderOffset + 2 * static_cast<int>(k)) / kMax16 * 32.0 - 16.0;
  d.rider_orientation = normalised(get_quat(s, kStateRiderOrientation));
  d.front_wheel = get8(s, kStateFrontWheel) / kMax8 * 2 * kPi - kPi;
  d.rear_wheel = get8(s, kStateRearWheel) / kMax8 * 2 * kPi - kPi;
  const uint32_t flags = get8(s, kStateFlags);
  d.gear = static_cast<int>(flags & 7u);
  d.effect = (flags & 8u) != 0;
  d.throttle = static_cast<int>(flags >> 4);
  d.rpm = get16(s, kStateRpm) / kMax16 * 32768.0;
  return d;
}

// ---- interpolation ----------------------------------------------------------------------

namespace {

double lerp(double a, double b, double t) { return a + (b - a) * t; }

uint32_t lerp_code(uint32_t a, uint32_t b, double t, double max) {
  const double v = std::clamp(lerp(a, b, t), 0.0, max);
  return static_cast<uint32_t>(std::floor(v + 0.5));
}

void lerp_quat(DemoState& out, const DemoState& a, const DemoState& b, int at, double t) {
  const Quat qa = get_quat(a, at);
  Quat qb = get_quat(b, at);
  if (qa[0] * qb[0] + qa[1] * qb[1] + qa[2] * qb[2] + qa[3] * qb[3] < 0)
    for (double& c : qb) c = -c;
  const double u = std::clamp(t, 0.0, 1.0);
  const Quat q = normalised({lerp(qa[0], qb[0], u), lerp(qa[1], qb[1], u), lerp(qa[2], qb[2], u),
                             lerp(qa[3], qb[3], u)});
  for (int k = 0; k < 4; ++k)
    put16(out, at + 2 * k, fix((q[static_cast<size_t>(k)] + 1.0) / 2.0, kMax16));
}

// Wheel angles as fractions of a turn; the newer one lies within -1/8 .. +7/8 turn of the
// older, since wheels mostly roll forwards.
uint32_t lerp_wheel(uint32_t a, uint32_t b, double t) {
  const double fa = a / kMax8;
  double d = b / kMax8 - fa;
  while (d < -0.125) d += 1.0;
  while (d >= 0.875) d -= 1.0;
  double r = fa + d * t;
  r -= std::floor(r);
  return fix(r, kMax8);
}

}  // namespace

DemoState interpolate_demo_states(const DemoState& a, const DemoState& b, double fraction) {
  const double t = std::isfinite(fraction) ? fraction : 0.0;
  DemoState out{};
  for (int k = 0; k < 3; ++k)
    put24(out, kStatePosition + 3 * k,
          lerp_code(get24(a, kStatePosition + 3 * k), get24(b, kStatePosition + 3 * k), t, kMax24));
  lerp_quat(out, a, b, kStateOrientation, t);
  put8(out, kStateSteer, lerp_code(get8(a, kStateSteer), get8(b, kStateSteer), t, kMax8));
  put8(out, kStateSwingarm,
       lerp_code(get8(a, kStateSwingarm) & 0xFEu, get8(b, kStateSwingarm) & 0xFEu, t, kMax8) & 0xFEu);
  put8(out, kStateFork,
       lerp_code(get8(a, kStateFork) & 0xFEu, get8(b, kStateFork) & 0xFEu, t, kMax8) & 0xFEu);
  for (int k = 0; k < 3; ++k)
    put16(out, kStateRiderOffset + 2 * k,
          lerp_code(get16(a, kStateRiderOffset + 2 * k), get16(b, kStateRiderOffset + 2 * k), t, kMax16));
  lerp_quat(out, a, b, kStateRiderOrientation, t);
  put8(out, kStateFrontWheel, lerp_wheel(get8(a, kStateFrontWheel), get8(b, kStateFrontWheel), t));
  put8(out, kStateRearWheel, lerp_wheel(get8(a, kStateRearWheel), get8(b, kStateRearWheel), t));
  put8(out, kStateFlags, get8(a, kStateFlags));
  put16(out, kStateRpm, lerp_code(get16(a, kStateRpm), get16(b, kStateRpm), t, kMax16));
  return out;
}

// ---- posing -----------------------------------------------------------------------------

BikePose bike_pose_from_state(const DemoState& s, const BikeModelInfo& m, const DemoFrame& frame) {
  const DecodedState d = decode_demo_state(s, m, frame);
  BikePose pose;
  const Vec3 x_axis{1, 0, 0};
  // Bike coordinates of the rest pose map to the world through the frame's pose.
  const Vec3 frame_rest = vec(m.frame_pos);
  const Quat qf = d.orientation;
  const Vec3 pf = d.position;
  auto world = [&](const Vec3& rest) { return add(pf, rotate(qf, sub(rest, frame_rest))); };

  const Vec3 fork_upper = vec(m.fork_upper_pos);
  const Vec3 fork_lower = vec(m.fork_lower_pos);
  const Vec3 steer_axis = unit(sub(fork_upper, fork_lower));
  // Hinge angles are body 1 turned against body 2: the fork upper against the frame, the
  // swingarm against the frame, each axle's carrier against its wheel.
  const Quat q_fork = mul(qf, axis_angle(steer_axis, d.steer));
  const Quat q_swing = mul(qf, axis_angle(x_axis, d.swingarm));
  const Vec3 p_fork_upper = world(fork_upper);
  // Slider position 0 is full extension; compression moves the lower leg up the axis.
  const Vec3 p_fork_lower = sub(add(p_fork_upper, rotate(q_fork, sub(fork_lower, fork_upper))),
                                scale(rotate(q_fork, steer_axis), d.fork));
  const Vec3 p_front = add(p_fork_lower, rotate(q_fork, sub(vec(m.front_wheel.pos), fork_lower)));
  const Vec3 pivot = vec(m.swingarm_pivot);
  const Vec3 p_pivot = world(pivot);
  const Vec3 p_swing = add(p_pivot, rotate(q_swing, sub(vec(m.swingarm_pos), pivot)));
  const Vec3 p_rear = add(p_pivot, rotate(q_swing, sub(vec(m.rear_wheel.pos), pivot)));

  pose.position[kFrameBody] = pf;
  pose.orientation[kFrameBody] = qf;
  pose.position[kForkUpperBody] = p_fork_upper;
  pose.orientation[kForkUpperBody] = q_fork;
  pose.position[kForkLowerBody] = p_fork_lower;
  pose.orientation[kForkLowerBody] = q_fork;
  pose.position[kFrontWheelBody] = p_front;
  pose.orientation[kFrontWheelBody] = mul(q_fork, axis_angle(x_axis, -d.front_wheel));
  pose.position[kSwingarmBody] = p_swing;
  pose.orientation[kSwingarmBody] = q_swing;
  pose.position[kRearWheelBody] = p_rear;
  pose.orientation[kRearWheelBody] = mul(q_swing, axis_angle(x_axis, -d.rear_wheel));
  pose.position[kRiderBody] = add(pf, d.rider_offset);
  pose.orientation[kRiderBody] = d.rider_orientation;
  return pose;
}

void pose_bike(BikeState& bike, const DemoState& s, const DemoFrame& frame) {
  pose_bike(bike, s, nullptr, nullptr, 0, frame);
}

void pose_bike(BikeState& bike, const DemoState& s, const DemoState* older, const DemoState* newer,
               int tics, const DemoFrame& frame) {
  const BikeModelInfo& m = bike_model(bike.model);
  const BikePose pose = bike_pose_from_state(s, m, frame);
  std::array<Vec3, kBikeBodyCount> lin{};
  std::array<Vec3, kBikeBodyCount> ang{};
  if (older != nullptr && newer != nullptr && tics > 0) {
    const BikePose a = bike_pose_from_state(*older, m, frame);
    const BikePose b = bike_pose_from_state(*newer, m, frame);
    const double dt = tics * kTic;
    for (size_t i = 0; i < kBikeBodyCount; ++i) {
      lin[i] = scale(sub(b.position[i], a.position[i]), 1.0 / dt);
      // The turn from a to b, as an axis times its angle, per second.
      const Quat& qa = a.orientation[i];
      Quat dq = mul(b.orientation[i], {qa[0], -qa[1], -qa[2], -qa[3]});
      if (dq[0] < 0)
        for (double& c : dq) c = -c;
      const double sn = std::sqrt(dq[1] * dq[1] + dq[2] * dq[2] + dq[3] * dq[3]);
      if (sn > 1e-12) {
        const double angle = 2.0 * std::atan2(sn, dq[0]);
        ang[i] = scale({dq[1], dq[2], dq[3]}, angle / sn / dt);
      }
    }
  }
  for (size_t i = 0; i < kBikeBodyCount; ++i) {
    const dBodyID body = bike.bodies[i];
    if (body == nullptr) continue;
    dBodySetPosition(body, pose.position[i][0], pose.position[i][1], pose.position[i][2]);
    const dQuaternion q = {pose.orientation[i][0], pose.orientation[i][1], pose.orientation[i][2],
                           pose.orientation[i][3]};
    dBodySetQuaternion(body, q);
    dBodySetLinearVel(body, lin[i][0], lin[i][1], lin[i][2]);
    dBodySetAngularVel(body, ang[i][0], ang[i][1], ang[i][2]);
  }
  // What sound and drawing read from a replayed bike.
  const uint32_t flags = s[kStateFlags];
  if ((flags & 7u) == 7u) {
    bike.crash.counter = static_cast<int>((flags >> 4) * 127u / 15u) + 1;
    bike.controls.throttle = 0;
  } else {
    bike.crash.counter = 0;
    bike.drivetrain.gear = static_cast<int>(flags & 7u);
    bike.controls.throttle = static_cast<float>(flags >> 4) / 15.0f;
  }
  bike.drivetrain.engine_speed =
      static_cast<float>(get16(s, kStateRpm) / kMax16 * 32768.0 / kRadPerSecToRpm);
}

}  // namespace ks
