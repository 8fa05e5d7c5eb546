// Placeholder until the autopilot lands.
#include "autopilot/autopilot.h"

namespace ks {

std::array<RobotState, kMaxBikes>& robot_states() {
  static std::array<RobotState, kMaxBikes> s;
  return s;
}
int personality_index(const std::string&) { return 1; }
void reset_robot(int slot, int personality) {
  robot_states()[slot] = RobotState{};
  robot_states()[slot].personality = personality;
}
void autopilot_step(RaceState&, int) {}

}  // namespace ks
