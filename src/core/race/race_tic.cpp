// One simulation tic in its fixed order, the hooks the lower layers call back through,
// and the per-phase timing.
//
// Sections: hooks - phase timing - contacts - erosion - the bikes - the tic.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <optional>
#include <vector>

#include "autopilot/autopilot.h"
#include "autopilot/racing_lines.h"
#include "core/race/race_internal.h"
#include "demo/demo.h"
#include "physics/bike_contact.h"
#include "physics/bike_setup.h"
#include "physics/bike_step.h"
#include "physics/erosion.h"
#include "physics/rider.h"
#include "physics/world.h"
#include "race/timing.h"
#include "track/track.h"

namespace ks {

// ---- hooks ----------------------------------------------------------------------------------

namespace {

bool hook_has_finished(BikeState& bike) { return has_finished(race_state(), bike.slot); }

// A robot's path point; else along the fastest racing line of the stretch; else the
// position of the bike's next timing gate.
bool hook_realign_target(const BikeState& bike, Vec3d& target) {
  const Track* t = current_track();
  if (t == nullptr || !t->gates.valid || t->gates.checkpoints.empty()) return false;
  const TimingGates& g = t->gates;
  const int f = static_cast<int>(g.first_lap.size());
  const int n = static_cast<int>(g.normal_lap.size());
  const int slot = bike.slot;
  if (slot < 0 || slot >= kMaxBikes || f == 0 || n == 0) return false;
  std::array<double, 3> p{};
  if (robot_path_target(slot, p)) {
    target = {p[0], p[1], p[2]};
    return true;
  }
  const int k = race_state().slots[static_cast<size_t>(slot)].timing.gate_count;
  if (bike.bodies[kFrameBody] != nullptr) {
    const dReal* at = dBodyGetPosition(bike.bodies[kFrameBody]);
    if (line_realign_target(line_store(), k, {at[0], at[1], at[2]}, p)) {
      target = {p[0], p[1], p[2]};
      return true;
    }
  }
  int cp = k < f ? g.first_lap[static_cast<size_t>(k)]
                 : g.normal_lap[static_cast<size_t>((k - f) % n)];
  if (cp >= kMarkedGate) cp -= kMarkedGate;
  if (cp < 0 || cp >= static_cast<int>(g.checkpoints.size())) return false;
  const auto& gate = g.checkpoints[static_cast<size_t>(cp)].position;
  target = {gate[0], gate[1], gate[2]};
  return true;
}

bool hook_replay_active(const RaceState& race, int slot) {
  int oldest = 0, newest = 0;
  if (!history_bounds(slot, oldest, newest)) return false;
  return newest >= race.current_tic - 10 * kTicsPerSecond;
}

BikeState* local_bike() {
  RaceState& race = race_state();
  for (int s = kMaxBikes - 1; s >= 0; --s)
    if (race.slots[static_cast<size_t>(s)].kind == SlotKind::local && slot_bike(race, s) != nullptr)
      return race.slots[static_cast<size_t>(s)].bike;
  return nullptr;
}

}  // namespace

void install_race_hooks() {
  rider_module().has_finished = hook_has_finished;
  rider_module().realign_target = hook_realign_target;
  timing_hooks().on_crossing = line_step_at_crossing;
  timing_hooks().replay_active = hook_replay_active;
  setup_module().local_bike = [] { return local_bike(); };
}

// ---- phase timing -------------------------------------------------------------------------

namespace {

class PhaseClock {
 public:
  explicit PhaseClock(TicProfile& p) : p_(p) {
    if (p_.enabled) last_ = std::chrono::steady_clock::now();
  }
  // Charges the time since the last mark to the phase.
  void mark(TicPhase phase) {
    if (!p_.enabled) return;
    const auto now = std::chrono::steady_clock::now();
    p_.ns[static_cast<size_t>(phase)] +=
        std::chrono::duration_cast<std::chrono::nanoseconds>(now - last_).count();
    last_ = now;
  }

 private:
  TicProfile& p_;
  std::chrono::steady_clock::time_point last_{};
};

// ---- contacts ----------------------------------------------------------------------------

double bike_speed(const BikeState& b) {
  const dReal* v = dBodyGetLinearVel(b.bodies[kFrameBody]);
  return std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
}

// Fastest first; equal speeds keep slot order.
void sort_by_speed(std::vector<BikeState*>& bikes) {
  std::vector<std::pair<double, BikeState*>> keyed;
  keyed.reserve(bikes.size());
  for (BikeState* b : bikes) keyed.emplace_back(bike_speed(*b), b);
  std::stable_sort(keyed.begin(), keyed.end(),
                   [](const auto& a, const auto& b) { return a.first > b.first; });
  for (size_t i = 0; i < bikes.size(); ++i) bikes[i] = keyed[i].second;
}

bool simulated_here(const RaceState& race, int slot) {
  return race.slots[static_cast<size_t>(slot)].kind != SlotKind::replayed;
}

void own_contacts(RaceState& race, Track& t, BikeState& bike) {
  bike_object_contacts(bike, *t.terrain, t.objects, t.grid, t.world_width, race.current_tic);
}

bool gate_touch_window(const RaceState& race) {
  return race.current_tic <= race.start_tic + 10 * kTicsPerSecond;
}

void offline_contacts(RaceState& race, Track& t) {
  std::vector<BikeState*> live;
  for (int s = 0; s < kMaxBikes; ++s) {
    BikeState* b = slot_bike(race, s);
    if (b == nullptr) continue;
    if (simulated_here(race, s)) {
      own_contacts(race, t, *b);
      live.push_back(b);
    } else if (gate_touch_window(race)) {
      replayed_gate_touch(race, t, *b);
    }
  }
  sort_by_speed(live);
  for (size_t i = 0; i < live.size(); ++i)
    for (size_t j = i + 1; j < live.size(); ++j)
      bike_bike_contacts(*live[i], *live[j], false, race.current_tic);
}

void online_contacts(RaceState& race, Track& t) {
  RaceModule& m = race_module();
  const bool no_local = race.local_slot < 0 || race.local_slot >= kMaxBikes;
  std::vector<int> remote;
  for (int s = 0; s < kMaxBikes; ++s) {
    if (slot_bike(race, s) == nullptr) continue;
    if (race.slots[static_cast<size_t>(s)].kind != SlotKind::replayed) continue;
    if (no_local || !remote_rider_hidden(race, s)) remote.push_back(s);
  }
  if (race.warmup && gate_touch_window(race))
    for (int s : remote) replayed_gate_touch(race, t, *race.slots[static_cast<size_t>(s)].bike);
  BikeState* local = no_local ? nullptr : slot_bike(race, race.local_slot);
  if (local != nullptr) {
    own_contacts(race, t, *local);
    if (!race.warmup) {
      std::vector<BikeState*> bikes;
      for (int s : remote) bikes.push_back(race.slots[static_cast<size_t>(s)].bike);
      sort_by_speed(bikes);
      for (BikeState* b : bikes) {
        if (bike_bike_contacts(*local, *b, true, race.current_tic) == 0) continue;
        bool& sim = m.remote_simulated[static_cast<size_t>(b->slot)];
        if (!sim) {
          // Taken over from its replay: still, then moved by the contacts.
          enable_bike(*b);
          for (dBodyID body : b->bodies) {
            dBodySetLinearVel(body, 0, 0, 0);
            dBodySetAngularVel(body, 0, 0, 0);
          }
          sim = true;
        }
      }
    }
  }
  for (int s : remote)
    if (m.remote_simulated[static_cast<size_t>(s)])
      own_contacts(race, t, *race.slots[static_cast<size_t>(s)].bike);
}

// ---- erosion -------------------------------------------------------------------------------

void erosion_step(RaceState& race, Track& t) {
  if (race.erosion_rate <= 0) return;
  HeightField& hf = *t.terrain;
  std::optional<GuardPosition> guard;
  for (int s = 0; s < kMaxBikes; ++s) {
    BikeState* b = slot_bike(race, s);
    if (b == nullptr || race.slots[static_cast<size_t>(s)].kind == SlotKind::replayed) continue;
    erosion_sample_bike(*b, hf, race.current_tic);
  }
  if (BikeState* local = local_bike(); local != nullptr) {
    const dReal* p = dBodyGetPosition(local->bodies[kFrameBody]);
    guard = GuardPosition{p[0], p[2]};
  }
  // The ruts are the race's own edits of the ground.
  const bool locked = hf.edit_locked;
  hf.edit_locked = false;
  apply_erosion(hf, guard, race.erosion_rate / 1024.0, race.current_tic);
  hf.edit_locked = locked;
}

// ---- the bikes ----------------------------------------------------------------------------

void bikes_step(RaceState& race, Track& t, PhaseClock& clock) {
  for (int s = 0; s < kMaxBikes; ++s) {
    BikeState* b = slot_bike(race, s);
    if (b == nullptr) continue;
    const SlotKind kind = race.slots[static_cast<size_t>(s)].kind;
    if (kind == SlotKind::robot) {
      autopilot_step(race, s);
      clock.mark(kPhaseAutopilot);
    }
    // Online, remote riders are smoothed by the network client; a local racer is held
    // to the false-start rule.
    if (race.online && kind == SlotKind::local && !race.warmup) false_start_rule(race, s);
    clock.mark(kPhaseOther);
    b = slot_bike(race, s);
    if (b == nullptr) continue;
    bike_step(*b, *t.terrain, race.current_tic);
    clock.mark(kPhaseBikeStep);
    if (!race.online || kind == SlotKind::local) {
      line_trail_step(race, s);
      gate_step(race, s);
      clock.mark(kPhaseTiming);
    }
  }
}

// Every bike emits roost, starting one further along the list each tic.
void roost_emission(RaceState& race) {
  const RaceSeam& seam = race_seam();
  if (!seam.roost_emit) return;
  std::array<int, kMaxBikes> list{};
  int n = 0;
  for (int s = 0; s < kMaxBikes; ++s)
    if (slot_bike(race, s) != nullptr) list[static_cast<size_t>(n++)] = s;
  for (int i = 0; i < n; ++i) {
    const int s = list[static_cast<size_t>((race.current_tic % n + n + i) % n)];
    seam.roost_emit(*race.slots[static_cast<size_t>(s)].bike,
                    race.slots[static_cast<size_t>(s)].kind != SlotKind::replayed);
  }
}

}  // namespace

// ---- the tic ------------------------------------------------------------------------------

void step_one_tic() {
  RaceState& race = race_state();
  RaceSeam& seam = race_seam();
  Track* t = current_track();
  PhaseClock clock(race.profile);
  bike_step_module().race_start_tic = race.start_tic;

  race_trace("script");
  if (seam.script_tic) seam.script_tic(race.current_tic);

  race_trace("replay");
  const int replay_tic = race.online && race.warmup ? race.current_tic - 127 : race.current_tic;
  for (int s = 0; s < kMaxBikes; ++s)
    if (slot_bike(race, s) != nullptr &&
        race.slots[static_cast<size_t>(s)].kind == SlotKind::replayed &&
        !race_module().remote_simulated[static_cast<size_t>(s)])
      replay_slot(race, s, replay_tic);

  TimeTrialLaps before;
  if (race.time_trial) before = time_trial_lap_counts(race);
  clock.mark(kPhaseOther);

  if (t != nullptr && t->terrain != nullptr) {
    race_trace("contacts");
    if (race.online) online_contacts(race, *t);
    else offline_contacts(race, *t);
    clock.mark(kPhaseContacts);

    race_trace("roost");
    roost_emission(race);

    race_trace("world_step");
    world_step(kTicSeconds);
    clock.mark(kPhaseWorldStep);

    race_trace("erosion");
    erosion_step(race, *t);
    clock.mark(kPhaseErosion);

    race_trace("bikes");
    bikes_step(race, *t, clock);

    race_trace("roost_update");
    if (seam.roost_update) seam.roost_update();

    race_trace("starting_gate");
    starting_gate_step(race, *t);
  }

  race_trace("advance");
  ++race.current_tic;
  if (race.online && race.current_tic % 512 == 511) compute_running_order(race);

  race_trace("demo");
  record_step(race, false);
  read_ahead_step(race);

  if (race.time_trial) {
    race_trace("time_trial_laps");
    time_trial_lap_handling(race, before);
  }
  if (seam.telemetry) {
    if (const BikeState* v = slot_bike(race, race.viewed_slot); v != nullptr) seam.telemetry(*v);
  }
  clock.mark(kPhaseOther);
  if (race.profile.enabled) ++race.profile.tics;
}

}  // namespace ks
