// The demo module record, its options and reset, replayed bikes' mode and the playback
// lineup.
#include "demo/demo.h"

#include "core/config.h"
#include "core/startup_lists.h"
#include "demo/demo_module.h"
#include "fs/vfs.h"
#include "physics/bike.h"

namespace ks {

DemoModule& demo_module() {
  static DemoModule m;
  return m;
}

DemoOptions& demo_options() {
  static DemoOptions o;
  return o;
}

void reset_demo_module() {
  finish_recording();
  close_playback();
  demo_module().recorder.pending_name.clear();
  clear_histories();
}

bool replay_active(const RaceState& race, int slot) {
  int oldest = 0, newest = 0;
  if (!history_bounds(slot, oldest, newest)) return false;
  return newest >= race.current_tic - 10 * kTicsPerSecond;
}

void set_replay_mode(BikeState& bike, bool replayed) {
  if (replayed) {
    disable_bike(bike);
    return;
  }
  // Back to simulation from a posed state: it starts still.
  for (dBodyID body : bike.bodies) {
    if (body == nullptr) continue;
    dBodySetLinearVel(body, 0, 0, 0);
    dBodySetAngularVel(body, 0, 0, 0);
  }
  enable_bike(bike);
}

Lineup playback_lineup(PlaybackMode mode, int rider_count) {
  Lineup lineup{};
  if (mode == PlaybackMode::race_against) {
    const int at = rider_count < 0 ? 0 : (rider_count >= kMaxBikes ? kMaxBikes - 1 : rider_count);
    lineup[static_cast<size_t>(at)] = kLineupHuman;
  }
  return lineup;
}

PlaybackMode playback_mode_setting() {
  return settings().playback_mode.index == 1 ? PlaybackMode::race_against
                                             : PlaybackMode::playback_only;
}

std::vector<std::string> demo_menu_names() {
  std::vector<std::string> names;
  for (const DemoEntry& e : build_demo_list(build_index(), 0)) names.push_back(e.name);
  return names;
}

}  // namespace ks
