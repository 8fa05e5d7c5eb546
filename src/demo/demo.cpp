// Placeholder until demos land.
#include "demo/demo.h"

namespace ks {

DemoOptions& demo_options() {
  static DemoOptions o;
  return o;
}
void clear_histories() {}
bool history_bounds(int, int&, int&) { return false; }
bool start_recording(RaceState&) { return false; }
void record_step(RaceState&, bool) {}
void finish_recording() {}
bool recording() { return false; }
bool open_playback(RaceState&) { return false; }
void close_playback() {}
bool playing() { return false; }
const std::string& playback_track() {
  static const std::string none;
  return none;
}
std::vector<DemoRider>& demo_riders() {
  static std::vector<DemoRider> riders;
  return riders;
}
void read_ahead_step(RaceState&) {}
void replay_slot(RaceState&, int, int) {}
void set_replay_mode(BikeState&, bool) {}

}  // namespace ks
