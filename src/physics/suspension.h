// Fork and rear shock: the damper shared by both, the fork's air spring, preload and
// top-out fade, the linkage that turns swingarm travel into shock stroke, and the motors
// of the fork slider and the swingarm hinge that carry the resulting force.
//
// The *_at functions are pure, over plain values; fork_force and shock_torque read the
// joints of a bike and set their motors.
#pragma once

#include "physics/bike_catalog.h"
#include "physics/bike_setup.h"

namespace ks {

struct BikeState;

// Damping force at speed w (positive extending). Extending uses the rebound pair,
// compressing the compression pair; the low-speed offset shifts the linear force by a
// constant, but never beyond a factor of 8 from it.
double damper_force(double w, double compression, double slow_compression, double rebound,
                    double slow_rebound);

// Fork force (lb, positive pushes the fork open) at slider position x (0 fully extended,
// -travel fully compressed) and rate v.
double fork_force_at(const ForkParams& fork, double travel, double x, double v);

// The 82.46169 lb air-spring term of a fork compressed by c ft.
double fork_air_force(double travel, double air_gap, double compression);

// Shock stroke y and leverage y' = dy/du at u in [0, 1] of swingarm travel.
struct LinkagePoint {
  double stroke = 0;
  double leverage = 0;
};
LinkagePoint linkage_curve(const BikeModelInfo& m, double u);

// Shock torque on the swingarm hinge (positive opens) at hinge angle phi (0 fully
// extended, -travel angle fully compressed) and rate omega.
double shock_torque_at(const ShockParams& shock, const BikeModelInfo& m, double phi,
                       double omega);

// A motor carries a force: a positive force drives the joint open at up to |force|; a
// negative one only holds it still with up to |force|.
struct MotorSetting {
  double velocity = 0;
  double max_force = 0;
};
MotorSetting suspension_motor(double force);

// Read the fork slider / swingarm hinge, set its motor; return the force / torque.
double fork_force(BikeState& bike);
double shock_torque(BikeState& bike);

}  // namespace ks
