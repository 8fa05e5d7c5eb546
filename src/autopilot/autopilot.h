// The autopilot: robots that follow a planned path assembled from racing lines, with
// their personalities, the start at the gate, steering, speed holding, following other
// riders, pitch control in the air and recovery when stuck.
#pragma once

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
  int next_record = 0;
  int recovery = 0;
  float reaction = 0;
  int lean_limited_tic = -1000000;
  float last_throttle = 0;
};
std::array<RobotState, kMaxBikes>& robot_states();

// Index of a personality by name; logs and gives "vosk" for an unknown name.
int personality_index(const std::string& name);
// Reset for a new race; personality 0 for a non-robot.
void reset_robot(int slot, int personality);
void autopilot_step(RaceState& race, int slot);

}  // namespace ks
