// Engine, gearbox, clutch and brakes: the engine torque from the throttle curves with the
// wheelie stop, automatic shifting, the springy drivetrain with its slipping clutch and
// auto clutch, the engine speed and angle, and the brake motors with antilock and the
// front-flip rule.
//
// The pure functions take plain values so they can be checked without a physics world;
// engine_torque, drivetrain_step and shift_gear work on a bike.
#pragma once

#include "physics/bike_catalog.h"

namespace ks {

struct BikeState;

constexpr double kRadPerSecToRpm = 9.549296585513721;

// Engine torque (lb ft) at an rpm and throttle 0..1, between the closed- and
// full-throttle curves. Past the last entry the curves hold it.
double engine_torque_at(const BikeModelInfo& m, double rpm, double throttle);

// True when the wheelie stop cuts the drive: flag set, front wheel in the air, rear on
// the ground, and the nose not already coming down (frame pitch rate above -1/32 rad/s).
bool wheelie_stop_cuts(bool stop_wheelies, bool front_touches, bool rear_touches,
                       double pitch_rate);

// The engine torque of the bike now, wheelie stop included.
double engine_torque(const BikeState& bike);

// gear clamped to 0..5, then lowered past missing gears (ratio <= 0), never below first.
int usable_gear(const BikeModelInfo& m, int gear);

// gear ratio * primary * final drive.
double total_ratio(const BikeModelInfo& m, int gear, double final_drive);

// The gear automatic shifting picks at a rear axle rate (rad/s): one down below the
// downshift rpm, one up above the upshift rpm, where rpm is what the engine would turn
// in the current gear.
int auto_shift_gear(const BikeModelInfo& m, int gear, double final_drive, double axle_rate);

// Clutch engagement: the auto clutch opens it as the engine drops to the auto clutch rpm
// (fully open there, fully closed 2000 rpm above); above that the input decides.
double clutch_engagement(double rpm, double auto_clutch_rpm, double clutch_input);

// Wraps into (-pi, pi].
double wrap_angle(double a);

// One step of the clutch and engine. Angles: the engine angle is measured at the wheel
// (divided by the total ratio), so the wind-up is engine angle minus wheel angle.
struct ClutchStepIn {
  double engine_angle = 0;  // theta_e
  double engine_speed = 0;  // omega_e, rad/s
  double wheel_angle = 0;   // rear axle hinge angle
  double wheel_rate = 0;    // rear axle hinge rate
  double ratio = 0;         // total ratio
  double stiffness = 0;     // K_d
  double damping = 0;       // C_d
  double crank_inertia = 0;
  double engine_torque = 0;  // T_e
  double auto_clutch_rpm = 0;
  double clutch_input = 0;
  double h = 1.0 / 128.0;
};
struct ClutchStepOut {
  double engine_angle = 0;
  double engine_speed = 0;
  double applied_torque = 0;  // T_a, on the rear wheel about -x, on the frame about +x
  double engagement = 0;
  bool slipping = false;      // the wind-up reached the clutch's hold this step
};
ClutchStepOut clutch_step(const ClutchStepIn& in);

// Brake torque for one wheel: the setting times the input, released when antilock is on
// and the touching wheel slides faster than 2 ft/s, or when the flip rule is on and this
// wheel touches while the other doesn't.
double brake_torque(double max_torque, double input, bool antilock, bool touches,
                    double slide_speed, bool flip_rule, bool other_touches);

// The gear after a shift input s, or the same gear when the input is ignored (crashed,
// repeated, or not -1, 0 or 1). `last` is updated when the input is taken.
int shifted_gear(const BikeModelInfo& m, int gear, float& last, float s, bool crashed);

// Automatic shifting, clutch and drivetrain torque, engine speed and angle, brakes.
// `tic` is the simulation tic number (automatic shifting looks every 32 tics).
void drivetrain_step(BikeState& bike, int tic);

// The shift control, s in {-1, 0, 1}; holding a shift key shifts once.
void shift_gear(BikeState& bike, float s);

}  // namespace ks
