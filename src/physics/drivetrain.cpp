#include "physics/drivetrain.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include <ode/ode.h>

#include "physics/bike_state.h"
#include "physics/world.h"

namespace ks {

namespace {

constexpr double kPi = std::numbers::pi;
constexpr double kAutoClutchBand = 2000;     // rpm from fully open to fully closed
constexpr double kDampingTorqueLimit = 500;  // lb ft
constexpr double kDriveTorqueLimit = 1000000;
constexpr double kSlideSpeed = 2;            // ft/s of contact-point speed
constexpr int kShiftInterval = 32;           // tics between automatic shift looks
constexpr double kLoadedSwingarm = -0.01;    // rad: the rear is carrying weight

bool touches(const WheelContact& w) { return w.depth > 0; }

double slide_speed(const WheelContact& w) {
  const auto& v = w.point_velocity;
  return std::sqrt(static_cast<double>(v[0]) * v[0] + static_cast<double>(v[1]) * v[1] +
                   static_cast<double>(v[2]) * v[2]);
}

bool flag(const BikeState& bike, uint8_t bit) { return (bike.tuning.flags[0] & bit) != 0; }

}  // namespace

double engine_torque_at(const BikeModelInfo& m, double rpm, double throttle) {
  constexpr int kLast = kTorqueEntries - 1;
  double x = rpm / kTorqueRpmStep;
  if (!(x > 0)) x = 0;  // NaN too
  x = std::min(x, static_cast<double>(kLast));
  const int i = static_cast<int>(std::floor(x));
  const double f = x - i;
  const auto at = [&](const std::array<float, kTorqueEntries>& curve) {
    const double lo = curve[static_cast<size_t>(i)];
    const double hi = curve[static_cast<size_t>(std::min(i + 1, kLast))];
    return lo + (hi - lo) * f;
  };
  const double a = at(m.closed_throttle_torque);
  const double b = at(m.full_throttle_torque);
  return a + (b - a) * throttle;
}

bool wheelie_stop_cuts(bool stop_wheelies, bool front_touches, bool rear_touches,
                       double pitch_rate) {
  return stop_wheelies && !front_touches && rear_touches && pitch_rate > -1.0 / 32.0;
}

double engine_torque(const BikeState& bike) {
  const BikeModelInfo& m = bike_model(bike.model);
  const double rpm = bike.drivetrain.engine_speed * kRadPerSecToRpm;
  const double t = engine_torque_at(m, rpm, bike.controls.throttle);
  if (t < 0) return t;
  const dBodyID frame = bike.bodies[kFrameBody];
  if (frame == nullptr || !flag(bike, kFlagStopWheelies)) return t;
  const dReal* w = dBodyGetAngularVel(frame);
  dVector3 local;
  dBodyVectorFromWorld(frame, w[0], w[1], w[2], local);
  if (wheelie_stop_cuts(true, touches(bike.front_contact), touches(bike.rear_contact),
                        local[0]))
    return 0;
  return t;
}

int usable_gear(const BikeModelInfo& m, int gear) {
  gear = std::clamp(gear, 0, kGearCount - 1);
  while (gear > 0 && !(m.gear_ratios[static_cast<size_t>(gear)] > 0)) --gear;
  return gear;
}

double total_ratio(const BikeModelInfo& m, int gear, double final_drive) {
  const auto index = static_cast<size_t>(std::clamp(gear, 0, kGearCount - 1));
  return static_cast<double>(m.gear_ratios[index]) * m.primary_ratio * final_drive;
}

int auto_shift_gear(const BikeModelInfo& m, int gear, double final_drive, double axle_rate) {
  const double rpm = total_ratio(m, gear, final_drive) * axle_rate * kRadPerSecToRpm;
  if (rpm < m.downshift_rpm)
    --gear;
  else if (rpm > m.upshift_rpm)
    ++gear;
  return usable_gear(m, gear);
}

double clutch_engagement(double rpm, double auto_clutch_rpm, double clutch_input) {
  if (rpm <= auto_clutch_rpm + kAutoClutchBand)
    return std::min(std::clamp((rpm - auto_clutch_rpm) / kAutoClutchBand, 0.0, 1.0),
                    clutch_input);
  return clutch_input;
}

double wrap_angle(double a) {
  if (!std::isfinite(a)) return 0;
  a = std::remainder(a, 2 * kPi);  // [-pi, pi]
  if (a <= -kPi) a += 2 * kPi;
  return a;
}

ClutchStepOut clutch_step(const ClutchStepIn& in) {
  ClutchStepOut out;
  const double r = in.ratio;
  const double rpm = in.engine_speed * kRadPerSecToRpm;
  const double windup = wrap_angle(in.engine_angle - in.wheel_angle);
  double e = clutch_engagement(rpm, in.auto_clutch_rpm, in.clutch_input);

  const double d = std::clamp((in.engine_speed - r * in.wheel_rate) * in.damping,
                              -kDampingTorqueLimit, kDampingTorqueLimit);
  double t = in.stiffness * windup + d;
  // Engine braking: the auto clutch doesn't open against a pushing wheel.
  if (t < 0) e = in.clutch_input;
  t = std::clamp(t, -kDriveTorqueLimit, kDriveTorqueLimit);

  double angle = in.engine_angle;
  const double hold = e * kPi / 4;
  if (windup > hold) {
    angle = in.wheel_angle + hold;
    out.slipping = true;
  } else if (windup < -hold) {
    angle = in.wheel_angle - hold;
    out.slipping = true;
  }

  // Without a ratio (or an inertia) the engine is disconnected: no torque through, and
  // no division by zero.
  const bool coupled = r > 0;
  const double applied = coupled ? e * e * t : 0.0;
  double speed = in.engine_speed;
  if (in.crank_inertia > 0)
    speed += in.h * (in.engine_torque - (coupled ? applied / r : 0.0)) / in.crank_inertia;
  if (coupled) angle = wrap_angle(angle + in.h * speed / r);

  out.engine_angle = angle;
  out.engine_speed = std::isfinite(speed) ? speed : 0.0;
  out.applied_torque = applied;
  out.engagement = e;
  return out;
}

double brake_torque(double max_torque, double input, bool antilock, bool wheel_touches,
                    double slide, bool flip_rule, bool other_touches) {
  if (antilock && wheel_touches && slide > kSlideSpeed) return 0;
  if (flip_rule && wheel_touches && !other_touches) return 0;
  return std::max(0.0, max_torque * input);
}

int shifted_gear(const BikeModelInfo& m, int gear, float& last, float s, bool crashed) {
  if (crashed || s == last || (s != -1 && s != 0 && s != 1)) return gear;
  last = s;
  return usable_gear(m, gear + static_cast<int>(s));
}

void drivetrain_step(BikeState& bike, int tic) {
  const dJointID rear_axle = bike.joints[kRearAxleJoint];
  const dJointID front_axle = bike.joints[kFrontAxleJoint];
  const dJointID swingarm = bike.joints[kSwingarmJoint];
  if (rear_axle == nullptr || front_axle == nullptr || swingarm == nullptr) return;
  const BikeModelInfo& m = bike_model(bike.model);
  Drivetrain& dt = bike.drivetrain;
  const double final_drive = bike.tuning.final_drive_ratio;
  const double axle_rate = dJointGetHingeAngleRate(rear_axle);
  const bool front_touches = touches(bike.front_contact);
  const bool rear_touches = touches(bike.rear_contact);

  if (flag(bike, kFlagAutoShift) && dJointGetHingeAngle(swingarm) < kLoadedSwingarm &&
      tic % kShiftInterval == 0 &&
      (!rear_touches || slide_speed(bike.rear_contact) <= kSlideSpeed))
    dt.gear = auto_shift_gear(m, dt.gear, final_drive, axle_rate);

  ClutchStepIn in;
  in.engine_angle = dt.windup;
  in.engine_speed = dt.engine_speed;
  in.wheel_angle = dJointGetHingeAngle(rear_axle);
  in.wheel_rate = axle_rate;
  in.ratio = total_ratio(m, dt.gear, final_drive);
  in.stiffness = m.drivetrain_stiffness;
  in.damping = m.drivetrain_damping;
  in.crank_inertia = dt.crank_inertia;
  in.engine_torque = engine_torque(bike);
  in.auto_clutch_rpm = bike.tuning.assists.auto_clutch_rpm;
  in.clutch_input = bike.controls.clutch;
  in.h = kTicSeconds;
  const ClutchStepOut out = clutch_step(in);

  if (out.applied_torque != 0) {
    dBodyAddRelTorque(bike.bodies[kRearWheelBody], -out.applied_torque, 0, 0);
    dBodyAddRelTorque(bike.bodies[kFrameBody], out.applied_torque, 0, 0);
  }
  dt.windup = static_cast<float>(out.engine_angle);
  dt.engine_speed = static_cast<float>(out.engine_speed);
  dt.clutch_engagement = static_cast<float>(out.engagement);
  dt.drive_torque = static_cast<float>(out.applied_torque);

  const BikeAssists& a = bike.tuning.assists;
  const double front = brake_torque(a.front_brake_torque, bike.controls.front_brake,
                                    flag(bike, kFlagFrontAntilock), front_touches,
                                    slide_speed(bike.front_contact),
                                    flag(bike, kFlagStopFrontFlips), rear_touches);
  dJointSetHingeParam(front_axle, dParamVel, 0);
  dJointSetHingeParam(front_axle, dParamFMax, front);
  const double rear = brake_torque(a.rear_brake_torque, bike.controls.rear_brake,
                                   flag(bike, kFlagRearAntilock), rear_touches,
                                   slide_speed(bike.rear_contact), false, front_touches);
  dJointSetHingeParam(rear_axle, dParamVel, 0);
  dJointSetHingeParam(rear_axle, dParamFMax, rear);
}

void shift_gear(BikeState& bike, float s) {
  const BikeModelInfo& m = bike_model(bike.model);
  bike.drivetrain.gear =
      shifted_gear(m, bike.drivetrain.gear, bike.drivetrain.last_shift, s, bike.crash.counter > 0);
}

}  // namespace ks
