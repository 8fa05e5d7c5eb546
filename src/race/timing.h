// Gate crossings, laps, the running order, the length of a timed race, cutting
// penalties, final results and "results.txt".
#pragma once

#include <cstdint>
#include <string>

#include "race/race_state.h"

namespace ks {

struct TimingGates;

// What timing needs from the layers above it; any may be null.
struct TimingHooks {
  // Right after a crossing at index k was stored for the slot (racing lines).
  void (*on_crossing)(RaceState& race, int slot, int k) = nullptr;
  // A replayed slot whose history has an entry within the last 10 s (race-over test).
  // Null: nothing is being replayed, so replayed bikes don't hold the race open.
  bool (*replay_active)(const RaceState& race, int slot) = nullptr;
  // Online: a remote slot with data less than 1 s old (race-over test). Null: the
  // remote bike counts as active.
  bool (*remote_active)(const RaceState& race, int slot) = nullptr;
  // After the results became final (points series).
  void (*on_results_final)(RaceState& race) = nullptr;
};
TimingHooks& timing_hooks();

// Settings for reproducible results files.
struct TimingOptions {
  // Date written to "results.txt", seconds since 1970; < 0 = the environment variable
  // KS_RESULTS_DATE when set, else the current time.
  int64_t results_date = -1;
};
TimingOptions& timing_options();

// Clears every slot's timing, the running order, penalties and the final results.
void reset_timing(RaceState& race);

// Once per tic per bike (offline every bike, online the local rider): tests the front
// wheel against the current track's gates. Returns the crossing index hit, or -1.
int gate_step(RaceState& race, int slot);
// The same with the front wheel's horizontal position given.
int gate_step_at(RaceState& race, const TimingGates& gates, int slot, double x, double z);

// Sorts the running order; in a timed race fixes the race laps; once every counted bike
// has finished builds the final results (penalties applied), writes "results.txt" and
// marks the results final. Does nothing once the results are final.
void compute_running_order(RaceState& race);

// Lap sequence lengths of the current track: 0 and 0 without valid timing gates.
int first_lap_gates();
int normal_lap_gates();
bool is_lap_line(int k);
// Crossing index of the race's last gate (a large value in an unfixed timed race).
int64_t final_gate_index(const RaceState& race);

int laps_completed(const RaceState& race, int slot);
int crossing_tic(const RaceState& race, int slot, int k);
// Seconds; j < 0 = the last completed lap; 0 when a crossing is missing.
double lap_time(const RaceState& race, int slot, int j);
// The same in tics.
int lap_tics(const RaceState& race, int slot, int j);
int best_lap(const RaceState& race, int slot);  // lap number, 0 = none
// Sets the finished flag when the bike's crossings (made elsewhere) show it finished.
bool has_finished(RaceState& race, int slot);
// The same test without marking the bike.
bool finished_now(const RaceState& race, int slot);
void set_gate_count(RaceState& race, int slot, int c);
// Removes every crossing after tic c (demo rewind); the results are no longer final.
// The caller recomputes the running order.
void drop_crossings_after(RaceState& race, int c);

// Tics a section from crossing index a to b normally takes (a = -1: from tic 0), the
// average of the running order's bikes; 7680 (60 s) when no bike gives one.
int expected_section_time(const RaceState& race, int a, int b);

// The off-course test of the bike's last gates: true when, at one of them, the bike
// needed at least `scale` times the time of the best-placed rider who crossed that
// section, plus `bias_seconds`.
bool off_course_at_last_gates(const RaceState& race, int slot, double bias_seconds,
                              double scale);

// Seconds between two riders at the last crossing both have made: other's tic minus
// slot's (negative when slot is behind); 0 when there is none or a tic is below 1.
double crossing_gap(const RaceState& race, int slot, int other);

// Writes "@results.txt" from the final results; false when it can't be written.
bool write_results_file(const RaceState& race);
// The text of "results.txt", CR LF line ends.
std::string results_text(const RaceState& race, int64_t date);

}  // namespace ks
