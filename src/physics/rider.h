// The rider and the stability assists: the clamped control setters, the rider springs
// that hold the rider body at its riding position, the balance controller that turns the
// steer input into steering torque, arcade steering, dabbing, crash detection by violent
// rider motion, and the pull-back after a crash.
//
// Sections: controls - helpers - rider springs - balance - dab - crash.
#pragma once

#include "physics/wheel_contact.h"

namespace ks {

struct BikeState;
struct HeightField;

// ---- controls ----------------------------------------------------------------------------

enum class Control : int {
  throttle,     // [0, 1], 0 while crashed
  clutch,       // [0, 1], 1 = engaged
  front_brake,  // [0, 1]
  rear_brake,   // [0, 1]
  steer,        // [-1, 1]
  sit_dab,      // [0, 1], 0 while crashed
  back_up,      // [0, 1], 0 while crashed
  lean,         // fore-aft [-1, 1], 0 while crashed
  shift,        // -1, 0 or 1, through shift_gear
};
// Clamps the value into the control's range; a value that isn't finite counts as 0.
void set_control(BikeState& bike, Control which, double value);

// ---- helpers -----------------------------------------------------------------------------

// Sideways slip of the front tyre in the fork's frame (0 when it hardly moves).
double front_slip_angle(const BikeState& bike);
// Torque t about the steering axis: on the front wheel, and its reaction on the frame.
void steering_torque(BikeState& bike, double t);
// A steering-angle servo: the factor in [-2/3, 2/3] that drives the bars towards `target`.
double steer_to_angle(const BikeState& bike, double target);
// Pushes a body horizontally towards a target velocity with up to `limit` lb.
void drive_velocity(dBodyID body, double limit, const Vec3d& target);
// A one-step joint that keeps two body points (own coordinates) within `length`. B may be
// null for a fixed world point given in world coordinates.
void tether(dBodyID a, const Vec3d& point_a, dBodyID b, const Vec3d& point_b, double length);

// ---- rider springs -------------------------------------------------------------------------

// One-step joints that pull the rider body towards its riding position (fore-aft by the
// lean, vertical by sit/dab), and the softness of the rider joint along its first axis.
void rider_springs(BikeState& bike);

// ---- balance -------------------------------------------------------------------------------

void balance_control(BikeState& bike, const HeightField& hf);
void arcade_control(BikeState& bike, const HeightField& hf);

// ---- dab -------------------------------------------------------------------------------

// What dabbing needs from the race: where a fallen bike should turn to face (its racing
// line or next gate; false when there is none), and the has-finished test, which may set
// the bike's finished state (true when the bike has finished). Either may be null.
struct RiderModule {
  bool (*realign_target)(const BikeState& bike, Vec3d& target) = nullptr;
  bool (*has_finished)(BikeState& bike) = nullptr;
};
RiderModule& rider_module();
void reset_rider_module();

// The foot down and the roll torque it gives when the bike is slow or stopped.
void dab_assist(BikeState& bike, const HeightField& hf);

// ---- crash -------------------------------------------------------------------------------

// True when the rider body's motion is violent enough to throw him off at tolerance m.
bool rider_motion_crashes(const BikeState& bike, int tic, double tolerance);
// The tolerance of the rider motion test: lowered right after a long jump's landing.
double rider_crash_tolerance(int takeoff_tic, int landing_tic, int now);
// Pulls the rider back to the riding position while the crash counter runs out.
void crash_recovery(BikeState& bike);
// Puts the rider body back on the bike and attaches the rider joint again.
void remount_rider(BikeState& bike);

}  // namespace ks
