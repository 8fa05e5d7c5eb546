// The time-trial reset: the rider alone, put back a few gates before the first lap line.
#include <algorithm>
#include <cmath>

#include "core/race/race_internal.h"
#include "demo/demo.h"
#include "physics/world.h"
#include "race/timing.h"
#include "track/track.h"

namespace ks {

void remove_bike(RaceState& race, int slot) {
  RaceSlot& s = race.slots[static_cast<size_t>(slot)];
  if (s.bike != nullptr) {
    if (race_seam().sound_release) race_seam().sound_release(*s.bike);
    destroy_bike(s.bike);
  }
  s.bike = nullptr;
  s.kind = SlotKind::replayed;
  s.demo_rider = -1;
  race_module().remote_simulated[static_cast<size_t>(slot)] = false;
}

void time_trial_reset() {
  RaceState& race = race_state();
  close_playback();
  finish_recording();
  for (int slot = 1; slot < kMaxBikes; ++slot) remove_bike(race, slot);
  Track* track = current_track();
  BikeState* rider = slot_bike(race, 0);
  if (rider == nullptr || track == nullptr || !track->gates.valid ||
      track->gates.first_lap.empty() || track->gates.checkpoints.empty())
    return;
  const TimingGates& g = track->gates;
  const int b = std::max(0, static_cast<int>(g.first_lap.size()) - 3);
  int cp = g.first_lap[static_cast<size_t>(b)];
  if (cp >= kMarkedGate) cp -= kMarkedGate;
  cp = std::clamp(cp, 0, static_cast<int>(g.checkpoints.size()) - 1);
  const TimingGate& gate = g.checkpoints[static_cast<size_t>(cp)];
  StartPosition at;
  at.x = gate.position[0];
  at.z = gate.position[2];
  // A bike is built facing -z and turned about +y: this heading faces the way the riders
  // cross the gate.
  at.angle = std::atan2(-double(gate.direction[0]), -double(gate.direction[2]));
  place_bike_at(*rider, *track, at);
  if (g_physics.contact_group != nullptr) dJointGroupEmpty(g_physics.contact_group);
  set_gate_count(race, 0, b);
  race.tt_last_lap = 0;
  compute_running_order(race);
}

}  // namespace ks
