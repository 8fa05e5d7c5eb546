#include "physics/suspension.h"

#include <algorithm>
#include <cmath>

#include <ode/ode.h>

#include "physics/bike_state.h"

namespace ks {

namespace {

constexpr double kAirSpringScale = 82.46169;  // lb: atmospheric pressure on the fork legs
constexpr double kAirExponent = 1.4;          // adiabatic compression
constexpr double kOpenVelocity = 100;         // motor speed that never binds

// Linear over the last 1/32 of travel before full extension, so the stop is not hit hard.
double top_out_fade(double position, double travel) {
  if (!(travel > 0)) return 0;
  return std::clamp(-32.0 * position / travel, 0.0, 1.0);
}

}  // namespace

double damper_force(double w, double compression, double slow_compression, double rebound,
                    double slow_rebound) {
  if (w >= 0) {
    const double a = -w * rebound;
    const double m = a - slow_rebound;
    return std::clamp(m, 8 * a, a / 8);
  }
  const double a = -w * compression;
  const double m = a + slow_compression;
  return std::clamp(m, a / 8, 8 * a);
}

double fork_air_force(double travel, double air_gap, double compression) {
  const double volume = travel + air_gap;
  const double c = std::clamp(compression, 0.0, std::max(travel, 0.0));
  const double left = volume - c;
  // No air gap at full compression: the column would be infinitely stiff. The slider's
  // stop carries that case; keep the force finite.
  if (!(volume > 0) || !(left > 1e-6)) return 0;
  return kAirSpringScale * std::pow(volume / left, kAirExponent) - kAirSpringScale;
}

double fork_force_at(const ForkParams& fork, double travel, double x, double v) {
  const double d = damper_force(v, fork.compression, fork.slow_compression, fork.rebound,
                                fork.slow_rebound);
  const double air = fork_air_force(travel, fork.air_gap, -x);
  const double f = air + d + (fork.preload - x) * fork.spring_rate;
  return f * top_out_fade(x, travel);
}

LinkagePoint linkage_curve(const BikeModelInfo& m, double u) {
  const double q = std::clamp(static_cast<double>(m.link_knot), 0.0, 1.0);
  u = std::clamp(u, 0.0, 1.0);
  double len = 0, t = 0, y0 = 0, y1 = 0, s0 = 0, s1 = 0;
  if (u <= q && q > 0) {
    len = q;
    t = u / q;
    y0 = 0;
    y1 = m.link_stroke_knot;
    s0 = m.link_slope_start;
    s1 = m.link_slope_knot;
  } else {
    len = 1 - q;
    t = len > 0 ? (u - q) / len : 1;
    y0 = m.link_stroke_knot;
    y1 = m.link_stroke_end;
    s0 = m.link_slope_knot;
    s1 = m.link_slope_end;
  }
  if (!(len > 0)) return {y1, s1};  // a knot at the very end: nothing past it
  const double big_s0 = s0 * len;
  const double big_s1 = s1 * len;
  const double b = 3 * (y1 - y0) - 2 * big_s0 - big_s1;
  const double a = 2 * (y0 - y1) + big_s0 + big_s1;
  LinkagePoint p;
  p.stroke = y0 + big_s0 * t + b * t * t + a * t * t * t;
  p.leverage = (3 * a * t * t + 2 * b * t + big_s0) / len;
  return p;
}

double shock_torque_at(const ShockParams& shock, const BikeModelInfo& m, double phi,
                       double omega) {
  const double travel = m.swingarm_travel_angle;
  const double u = travel > 0 ? std::clamp(-phi / travel, 0.0, 1.0) : 0.0;
  const LinkagePoint p = linkage_curve(m, u);
  const double d = damper_force(omega * p.leverage, shock.compression, shock.slow_compression,
                                shock.rebound, shock.slow_rebound);
  const double tau = ((p.stroke + shock.preload) * shock.spring_rate + d) * p.leverage;
  return tau * top_out_fade(phi, travel);
}

MotorSetting suspension_motor(double force) {
  if (!std::isfinite(force)) return {0, 0};
  return {force >= 0 ? kOpenVelocity : 0.0, std::abs(force)};
}

double fork_force(BikeState& bike) {
  const dJointID j = bike.joints[kForkJoint];
  if (j == nullptr) return 0;
  const BikeModelInfo& m = bike_model(bike.model);
  const double f = fork_force_at(bike.tuning.fork, m.fork_travel, dJointGetSliderPosition(j),
                                 dJointGetSliderPositionRate(j));
  const MotorSetting motor = suspension_motor(f);
  dJointSetSliderParam(j, dParamVel, motor.velocity);
  dJointSetSliderParam(j, dParamFMax, motor.max_force);
  return f;
}

double shock_torque(BikeState& bike) {
  const dJointID j = bike.joints[kSwingarmJoint];
  if (j == nullptr) return 0;
  const BikeModelInfo& m = bike_model(bike.model);
  const double tau = shock_torque_at(bike.tuning.shock, m, dJointGetHingeAngle(j),
                                     dJointGetHingeAngleRate(j));
  const MotorSetting motor = suspension_motor(tau);
  dJointSetHingeParam(j, dParamVel, motor.velocity);
  dJointSetHingeParam(j, dParamFMax, motor.max_force);
  return tau;
}

}  // namespace ks
