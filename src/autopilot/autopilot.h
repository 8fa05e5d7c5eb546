// The autopilot: robots that follow a planned path assembled from racing lines, with
// their personalities, the start at the gate, steering, speed holding, following other
// riders, pitch control in the air and recovery when stuck.
//
// Files: personalities.cpp (the style table), line_pick.cpp (choosing the next line and
// joining it to the path), speed_control.cpp (throttle, brakes and clutch for a speed,
// following other riders), autopilot.cpp (the per-tic step).
#pragma once

#include <array>
#include <string>
#include <vector>

#include "autopilot/racing_lines.h"
#include "race/race_state.h"

namespace ks {

struct RobotState {
  int personality = 0;  // 0 = not a robot
  std::vector<LinePoint> path;
  int target = 0;
  int last_advance_tic = 0;
  int next_record = 0;  // line index to plan next
  int recovery = 0;     // 0 = normal driving
  float reaction = 0;   // seconds; 0 = not drawn, negative while blipping before the start
  int lean_limited_tic = -1000000;
  float last_throttle = 0;
  bool rolled_out = false;  // the speeds after the finish were scaled down
};
std::array<RobotState, kMaxBikes>& robot_states();

// ---- personalities ---------------------------------------------------------------------

struct RiderStyle {
  const char* name;
  int type_close;      // line selection type while not far ahead
  int type_far;        // ... while leading by more than the gap threshold
  float gap;           // seconds
  float reaction_min;  // seconds after the gate drops
  float reaction_max;
};
constexpr int kRiderStyleCount = 5;
const std::array<RiderStyle, kRiderStyleCount>& rider_styles();
// The row of an index, row 1 ("vosk") for one outside the table.
const RiderStyle& rider_style(int index);

// Index of a personality by name; logs and gives "vosk" for an unknown name.
int personality_index(const std::string& name);
// Reset for a new race; personality 0 for a non-robot.
void reset_robot(int slot, int personality);
void autopilot_step(RaceState& race, int slot);

// The current target point of a robot with a path (index clamped to the last point), for
// the realign assist; false when the slot has no path.
// Without a robot path: point 4 past the one nearest `at` on the fastest line of the
// stretch that gate count is on (or of the next one or two when `at` is at its end).
bool line_realign_target(const LineStore& store, int gate_count, const std::array<double, 3>& at,
                         std::array<double, 3>& out);
bool robot_path_target(int slot, std::array<double, 3>& out);
// Where the bike lies along the path as a fractional point index: from the target
// backwards, the last point still ahead of the bike, interpolated with the one before it.
// -1 without a path.
double path_position(const RobotState& robot, const BikeState& bike);

// ---- line choice (line_pick.cpp) ---------------------------------------------------------

// The selection type for a robot: the type when close, unless it leads a running order
// of two or more by more than its gap threshold at the second rider's last crossing.
int selection_type(const RaceState& race, int slot, const RiderStyle& style);
// Picks a line of the record for line index robot.next_record and appends it to the path.
// `chassis` and `forward` (horizontal unit) are the bike's; now is the current tic.
// Returns the slot picked, or -1 when nothing was appended.
int pick_line(RaceState& race, int slot, RobotState& robot, const std::array<double, 3>& chassis,
              const std::array<double, 3>& forward);
// How well a line continues the path (0 .. 10 for a short path, 0 .. 1 otherwise).
double line_match(const std::vector<LinePoint>& path, const RacingLine& line,
                  const std::array<double, 3>& chassis);
// Appends the line to the path, joining the two with a cubic Hermite curve over the last
// points before it (from the chassis along `forward` when the join starts at point 0).
void append_to_path(RobotState& robot, const RacingLine& line, const std::array<double, 3>& chassis,
                    const std::array<double, 3>& forward);

// ---- speed (speed_control.cpp) -----------------------------------------------------------

struct SpeedInput {
  double v = 0;  // current speed
  double w = 0;  // target speed
  bool rear_touches = true;
  double pitch_rate = 0;  // about the chassis' sideways axis, negative while the nose drops
  double front_y = 0, rear_y = 0;  // wheel centre heights
  bool in_gear = true;             // false when the gear has no ratio (neutral)
  double rpm = 0;
  double downshift_rpm = 0;
};
struct SpeedCommand {
  double throttle = 0, clutch = 1, front_brake = 0, rear_brake = 0;
};
SpeedCommand speed_control(const SpeedInput& in);

// The target speed behind a rider d units ahead whose speed along the robot's heading is
// c, tt seconds after the start tic. `clear_lines` is set when the stretch won't be
// credited.
double follow_limit(double w, double d, double c, double tt, bool& clear_lines);

// A bike's footprint in the horizontal plane: centre, unit direction of travel, and the
// extents behind, ahead and to either side.
struct Footprint {
  double x = 0, z = 0;
  double dx = 0, dz = -1;  // unit direction
  double behind = 4, ahead = 4, side = 2;
};
// From a position and velocity: 2 to the side, 4 behind, 4 + speed ahead; at rest
// +-2 along x and +-4 along z.
Footprint footprint_of(const std::array<double, 3>& position, const std::array<double, 3>& velocity);
bool footprints_overlap(const Footprint& a, const Footprint& b);

}  // namespace ks
