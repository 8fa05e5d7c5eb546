// Pieces shared by the timing files: the lap sequences of a set of gates and the
// per-bike crossing lookups, all taking the gates explicitly.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "race/race_state.h"
#include "track/gates.h"

namespace ks::timing_detail {

// The first-lap length F and the normal-lap length N; both 0 without valid gates.
struct Sequence {
  const TimingGates* gates = nullptr;
  int first = 0;
  int normal = 0;
  bool active() const { return gates != nullptr && first > 0 && normal > 0; }
};
Sequence sequence_of(const TimingGates* gates);
Sequence current_sequence();

// Checkpoint of crossing index k, or -1 when the reference is unusable.
int checkpoint_of(const Sequence& s, int64_t k);
bool lap_line(const Sequence& s, int64_t k);
// Crossing index of the last gate of lap j (j >= 1).
int64_t lap_line_of(const Sequence& s, int64_t j);
int laps_of_count(const Sequence& s, int c);
int64_t final_gate(const Sequence& s, const RaceState& race);

inline int tic_at(const BikeTiming& t, int64_t k) {
  return k >= 0 && k < int64_t(t.crossings.size()) ? t.crossings[size_t(k)] : -1;
}
int lap_tics_of(const Sequence& s, const RaceState& race, int slot, int j);
int best_lap_of(const Sequence& s, const RaceState& race, int slot);
bool finished_test(const Sequence& s, const RaceState& race, int slot);

// Entries for every slot with a bike, sorted; `gate_count` and `last_tic` from timing.
void build_order(const RaceState& race, std::vector<RunningEntry>& out);
void sort_order(std::vector<RunningEntry>& entries);
void compute_order(RaceState& race, const Sequence& s);

std::string results_text_of(const Sequence& s, const RaceState& race, int64_t date);
bool write_results(const Sequence& s, const RaceState& race);

// Longest crossing list kept; a gate count beyond it takes no crossings.
constexpr int kMaxCrossings = 1 << 20;

// Minutes, seconds and milliseconds of a time, from whole milliseconds.
struct Clock {
  int minutes = 0;
  int seconds = 0;
  int millis = 0;
};
Clock clock_of(double seconds);

}  // namespace ks::timing_detail
