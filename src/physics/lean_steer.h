// The roll-rate controller of the balance assist as a pure function: the steering input
// that turns a lean error into a lean rate. The balance controller's target lean is
// -steer * roll limit angle; the autopilot passes its own lean target.
#pragma once

namespace ks {

// target and roll in radians (0 upright, signed as body_roll_angle), roll_rate the frame's
// angular velocity about its own z axis. Returns a steering input in [-1, 1].
double lean_steer(double target_lean, double roll, double roll_rate);

}  // namespace ks
