// Gate crossings, laps, the running order, the length of a timed race, cutting
// penalties, final results and "results.txt".
#pragma once

#include <string>

#include "race/race_state.h"

namespace ks {

// What timing needs from the layers above it; any may be null.
struct TimingHooks {
  // Right after a crossing at index k was stored for the slot (racing lines).
  void (*on_crossing)(RaceState& race, int slot, int k) = nullptr;
  // A replayed slot whose history has an entry within the last 10 s (race-over test).
  bool (*replay_active)(const RaceState& race, int slot) = nullptr;
  // After the results became final (points series).
  void (*on_results_final)(RaceState& race) = nullptr;
};
TimingHooks& timing_hooks();

// Clears every slot's timing, the running order and the final results.
void reset_timing(RaceState& race);

// Once per tic per bike (offline every bike, online the local rider). Returns the
// crossing index hit, or -1.
int gate_step(RaceState& race, int slot);
void compute_running_order(RaceState& race);

int laps_completed(const RaceState& race, int slot);
int crossing_tic(const RaceState& race, int slot, int k);
// Seconds; j < 0 = the last completed lap; 0 when a crossing is missing.
double lap_time(const RaceState& race, int slot, int j);
int best_lap(const RaceState& race, int slot);  // lap number, 0 = none
bool has_finished(RaceState& race, int slot);
void set_gate_count(RaceState& race, int slot, int c);
// Removes every crossing after tic c (demo rewind); the results are no longer final.
void drop_crossings_after(RaceState& race, int c);

// Writes "@results.txt" from the final results; false when it can't be written.
bool write_results_file(const RaceState& race);

}  // namespace ks
