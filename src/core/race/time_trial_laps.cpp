// Time-trial laps (last and best lap, the fastest lap kept as the ghost's demo, the ghost's
// riders and a new recording at every lap line) and skipping through a played demo.
#include <algorithm>
#include <cmath>
#include <string>
#include <utility>
#include <vector>

#include "core/race/race_internal.h"
#include "demo/demo.h"
#include "fs/vfs.h"
#include "physics/bike.h"
#include "race/timing.h"
#include "track/track.h"

namespace ks {

namespace {

int first_lap_count() {
  const Track* t = current_track();
  return t != nullptr ? static_cast<int>(t->gates.first_lap.size()) : 0;
}
int normal_lap_count() {
  const Track* t = current_track();
  return t != nullptr ? static_cast<int>(t->gates.normal_lap.size()) : 0;
}

std::string track_file(const RaceState& race, const char* name) {
  std::string track = race.track_dir;
  if (track.empty() && current_track() != nullptr) track = current_track()->dir;
  return "@" + track + "/" + name;
}

bool file_exists(const std::string& name) {
  VfsFile* f = vfs_open(name.c_str(), "rb");
  if (f == nullptr) return false;
  vfs_close(f);
  return true;
}

// Copies through the file layer; the target is replaced only by a complete copy.
bool copy_file(const std::string& from, const std::string& to) {
  VfsFile* in = vfs_open(from.c_str(), "rb");
  if (in == nullptr) return false;
  VfsFile* out = vfs_open_replace(to.c_str());
  if (out == nullptr) {
    vfs_close(in);
    return false;
  }
  std::vector<char> buf(64 * 1024);
  bool ok = true;
  for (;;) {
    const size_t n = vfs_read(in, buf.data(), buf.size());
    if (n == 0) break;
    if (vfs_write(out, buf.data(), n) != n) {
      ok = false;
      break;
    }
  }
  vfs_close(in);
  if (!ok) {
    vfs_close(out);
    return false;
  }
  return vfs_commit(out);
}

void remove_slot(RaceState& race, int s) {
  RaceSlot& slot = race.slots[static_cast<size_t>(s)];
  if (slot.bike != nullptr) {
    if (race_seam().sound_release) race_seam().sound_release(*slot.bike);
    destroy_bike(slot.bike);
  }
  slot = RaceSlot{};
  slot.kind = SlotKind::replayed;
  clear_history(s);
}

// The bike starts its next lap at the lap line it crossed at `tic`: crossing index F - 1
// holds that tic and the next gate expected is F, so its next lap line ends a whole lap.
void start_lap_at_line(RaceState& race, int s, int f_count, int tic) {
  set_gate_count(race, s, f_count);
  BikeTiming& t = race.slots[static_cast<size_t>(s)].timing;
  t.gate_count = f_count;
  t.crossings.resize(static_cast<size_t>(f_count), -1);
  t.crossings[static_cast<size_t>(f_count - 1)] = tic;
  t.finished = false;
}

// Tics of the lap from crossing F - 1 to F + N - 1; 0 when a crossing is missing.
int full_lap_tics(const RaceState& race, int s, int f_count, int n_count, bool every_gate) {
  const int from = crossing_tic(race, s, f_count - 1);
  const int to = crossing_tic(race, s, f_count + n_count - 1);
  if (from < 0 || to < 0) return 0;
  if (every_gate)
    for (int k = f_count; k < f_count + n_count - 1; ++k)
      if (crossing_tic(race, s, k) < 0) return 0;
  return to - from;
}

void create_ghost_riders(RaceState& race, int f_count, int line_tic) {
  std::vector<DemoRider>& riders = demo_riders();
  for (size_t i = 0; i < riders.size() && i + 1 < kMaxBikes; ++i) {
    const int s = static_cast<int>(i) + 1;
    DemoRider& r = riders[i];
    BikeState* bike = create_rider_bike(race, s, demo_rider_look(r));
    if (bike == nullptr) continue;
    RaceSlot& slot = race.slots[static_cast<size_t>(s)];
    slot.kind = SlotKind::replayed;
    slot.demo_rider = static_cast<int>(i);
    r.slot = s;
    set_replay_mode(*bike, true);
    if (race_seam().sound_setup) race_seam().sound_setup(*bike);
    start_lap_at_line(race, s, f_count, line_tic);
  }
}

}  // namespace

TimeTrialLaps time_trial_lap_counts(const RaceState& race) {
  TimeTrialLaps laps;
  if (slot_bike(race, 0) != nullptr) laps.rider = laps_completed(race, 0);
  if (slot_bike(race, 1) != nullptr) laps.ghost = laps_completed(race, 1);
  return laps;
}

void time_trial_lap_handling(RaceState& race, const TimeTrialLaps& before) {
  if (!race.time_trial) return;
  const int f_count = first_lap_count();
  const int n_count = normal_lap_count();
  const TimeTrialLaps now = time_trial_lap_counts(race);

  // 1. The ghost's full lap can set the best lap.
  if (slot_bike(race, 1) != nullptr && now.ghost > before.ghost && f_count > 0 && n_count > 0) {
    const int lap = full_lap_tics(race, 1, f_count, n_count, true);
    if (lap > 0 && (race.tt_best_lap == 0 || lap < race.tt_best_lap)) race.tt_best_lap = lap;
  }

  // 2. The rider's lap.
  if (slot_bike(race, 0) == nullptr || now.rider <= before.rider) return;
  const int rider_gates = race.slots[0].timing.gate_count;
  const int ghost_gates = slot_bike(race, 1) != nullptr ? race.slots[1].timing.gate_count : 0;
  close_playback();
  // The lap's last states, up to the line, are still pending: written now, the ghost rides
  // them instead of guessing its way to the line.
  record_step(race, true);
  finish_recording();
  for (int s = 1; s < kMaxBikes; ++s) remove_slot(race, s);
  if (f_count <= 0 || n_count <= 0) return;

  // The lap from the lap line round to it; the run-up after a time-trial reset isn't one.
  const int line_tic = crossing_tic(race, 0, rider_gates - 1);
  const int lap = rider_gates == f_count + n_count ? full_lap_tics(race, 0, f_count, n_count, false)
                                                   : 0;
  if (lap > 0) {
    race.tt_last_lap = lap;
    if (race.tt_best_lap == 0 || lap < race.tt_best_lap) race.tt_best_lap = lap;
  }
  const std::string last = track_file(race, "lastlap.ksdemo");
  const std::string fast = track_file(race, "fastlap.ksdemo");
  if (!file_exists(fast) || (ghost_gates < rider_gates && lap > 0)) copy_file(last, fast);

  const int start_tic = line_tic >= 0 ? line_tic : race.current_tic;
  if (open_playback(race)) {
    create_ghost_riders(race, f_count, start_tic);
    // The ghost's first chunk fixes its time offset now, at the start of this lap.
    read_ahead_step(race);
  }
  start_lap_at_line(race, 0, f_count, start_tic);
  start_recording(race);
  record_step(race, true);
  compute_running_order(race);
}

void demo_skip(double seconds) {
  RaceState& race = race_state();
  if (!playing() || recording() || !std::isfinite(seconds)) return;
  for (const RaceSlot& s : race.slots)
    if (s.bike != nullptr && s.kind != SlotKind::replayed) return;
  const int delta = static_cast<int>(std::lround(std::clamp(seconds, -3600.0, 3600.0) * kTicsPerSecond));
  if (delta == 0) return;
  const int target = race.current_tic + delta;
  if (delta > 0 && (playback_version() == 6 || demo_options().accurate_skip)) {
    // No roost is thrown meanwhile. Each tic normally advances the clock by one; the cap
    // guards against a clock that a demo's first chunk sets back.
    auto emit = std::move(race_seam().roost_emit);
    race_seam().roost_emit = nullptr;
    for (int n = 0; n < delta + kTicsPerSecond && race.current_tic < target; ++n) step_one_tic();
    race_seam().roost_emit = std::move(emit);
    return;
  }
  const int c = std::max(0, target - 1);
  if (!seek_playback(race, c)) return;
  if (delta < 0) {
    drop_crossings_after(race, c);
    compute_running_order(race);
  }
  race.current_tic = c;
  clear_histories();
  read_ahead_step(race);
  step_one_tic();
}

}  // namespace ks
