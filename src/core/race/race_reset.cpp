// Placeholder until the race reset and tic land.
#include "core/race/race.h"

namespace ks {

RaceSeam& race_seam() {
  static RaceSeam s;
  return s;
}
bool reset_race(const RaceResetRequest&) { return false; }
void step_one_tic() { ++race_state().current_tic; }
void free_race() {}
void time_trial_reset() {}
void apply_local_controls(const LocalInputs&) {}
bool slot_hidden(int slot) { return slot_bike(race_state(), slot) == nullptr; }
const std::array<RobotIdentity, kRobotIdentities>& robot_identities() {
  static std::array<RobotIdentity, kRobotIdentities> t{};
  return t;
}

}  // namespace ks
