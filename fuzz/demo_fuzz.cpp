// Demo playback from hostile bytes: the header, every chunk of the read-ahead, posing a
// replayed bike from whatever states arrive, and walking back through the chunk chain.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "demo/demo.h"
#include "fs/vfs.h"
#include "physics/bike.h"
#include "physics/world.h"

namespace {

ks::BikeState* replay_bike() {
  static ks::BikeState* bike = [] {
    ks::create_physics_world();
    ks::BikeState* b = ks::create_bike("cr125", 0, "1");
    ks::set_replay_mode(*b, true);
    return b;
  }();
  return bike;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ks::BikeState* bike = replay_bike();
  ks::RaceState& race = ks::race_state();
  race.current_tic = 0;
  race.time_trial = size > 0 && (data[size - 1] & 1) != 0;
  race.slots[0].bike = bike;
  race.slots[0].kind = ks::SlotKind::replayed;
  ks::clear_histories();
  if (ks::open_playback_file(race, ks::vfs_open_memory(data, size))) {
    auto& riders = ks::demo_riders();
    if (riders.size() > 256) std::abort();
    for (size_t i = 0; i < riders.size(); ++i) riders[i].slot = static_cast<int>(i % ks::kMaxBikes);
    for (int step = 0; step < 512 && ks::playing(); ++step) {
      ks::read_ahead_step(race);
      ks::replay_slot(race, 0, race.current_tic);
      race.current_tic += 16;
      if (step == 256) ks::seek_playback(race, race.current_tic / 2);
    }
    ks::close_playback();
  }
  race.slots[0].bike = nullptr;
  return 0;
}
