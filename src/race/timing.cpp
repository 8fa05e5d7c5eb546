// The gate step, crossings, laps, lap times, best laps and the finish.
#include "race/timing.h"

#include <ode/ode.h>

#include <algorithm>
#include <climits>

#include "physics/bike_state.h"
#include "race/timing_internal.h"
#include "track/track.h"

namespace ks {

namespace timing_detail {

Sequence sequence_of(const TimingGates* gates) {
  Sequence s;
  if (gates == nullptr || !gates->valid || gates->checkpoints.empty()) return s;
  if (gates->first_lap.empty() || gates->normal_lap.empty()) return s;
  s.gates = gates;
  s.first = int(gates->first_lap.size());
  s.normal = int(gates->normal_lap.size());
  return s;
}

Sequence current_sequence() {
  const Track* t = current_track();
  return sequence_of(t != nullptr ? &t->gates : nullptr);
}

int checkpoint_of(const Sequence& s, int64_t k) {
  if (!s.active() || k < 0) return -1;
  int v = k < s.first ? s.gates->first_lap[size_t(k)]
                      : s.gates->normal_lap[size_t((k - s.first) % s.normal)];
  if (v >= kMarkedGate) v -= kMarkedGate;
  if (v < 0 || v >= int(s.gates->checkpoints.size())) return -1;
  return v;
}

bool lap_line(const Sequence& s, int64_t k) {
  return s.active() && k >= s.first - 1 && (k - s.first + 1) % s.normal == 0;
}

int64_t lap_line_of(const Sequence& s, int64_t j) {
  return s.first + int64_t(s.normal) * (j - 1) - 1;
}

int laps_of_count(const Sequence& s, int c) {
  if (!s.active() || c < s.first) return 0;
  return (c - s.first) / s.normal + 1;
}

int64_t final_gate(const Sequence& s, const RaceState& race) {
  return lap_line_of(s, std::max(1, race.race_laps));
}

int lap_tics_of(const Sequence& s, const RaceState& race, int slot, int j) {
  if (!s.active() || slot < 0 || slot >= kMaxBikes) return 0;
  const BikeTiming& t = race.slots[size_t(slot)].timing;
  if (j < 0) j = laps_of_count(s, t.gate_count);
  if (j == 0) return 0;
  const int end = tic_at(t, lap_line_of(s, j));
  if (end < 0) return 0;
  if (j == 1) return end - race.start_tic;
  const int begin = tic_at(t, lap_line_of(s, j - 1));
  if (begin < 0) return 0;
  return end - begin;
}

int best_lap_of(const Sequence& s, const RaceState& race, int slot) {
  if (!s.active() || slot < 0 || slot >= kMaxBikes) return 0;
  const int laps = laps_of_count(s, race.slots[size_t(slot)].timing.gate_count);
  int best = 0;
  int best_tics = 0;
  for (int j = 2; j <= laps; ++j) {
    const int v = lap_tics_of(s, race, slot, j);
    // A lap out of order (a retaken lap line) is no lap time at all.
    if (v <= 0) continue;
    if (best == 0 || v < best_tics) {
      best = j;
      best_tics = v;
    }
  }
  return best;
}

bool finished_test(const Sequence& s, const RaceState& race, int slot) {
  if (slot < 0 || slot >= kMaxBikes) return false;
  const BikeTiming& t = race.slots[size_t(slot)].timing;
  if (t.finished) return true;
  if (!s.active() || race.time_trial || race.running_order.empty()) return false;
  const int leader = race.running_order.front().slot;
  if (leader < 0 || leader >= kMaxBikes) return false;
  const int leader_tic = tic_at(race.slots[size_t(leader)].timing, final_gate(s, race));
  if (leader_tic < 0) return false;
  // The most recent lap line the bike crossed.
  for (int64_t k = int64_t(t.crossings.size()) - 1; k >= s.first - 1; --k) {
    if (!lap_line(s, k) || t.crossings[size_t(k)] < 0) continue;
    return t.crossings[size_t(k)] >= leader_tic;
  }
  return false;
}

Clock clock_of(double seconds) {
  const double ms_f = seconds * 1000.0;
  // Negative or absurd times show as zero rather than as garbled digits.
  const long long ms = ms_f >= 1e15 || !(ms_f > 0) ? 0 : static_cast<long long>(ms_f);
  Clock c;
  c.minutes = int(ms / 60000);
  c.seconds = int((ms / 1000) % 60);
  c.millis = int(ms % 1000);
  return c;
}

}  // namespace timing_detail

using namespace timing_detail;

TimingHooks& timing_hooks() {
  static TimingHooks h;
  return h;
}

TimingOptions& timing_options() {
  static TimingOptions o;
  return o;
}

void reset_timing(RaceState& race) {
  for (auto& s : race.slots) s.timing = {};
  race.running_order.clear();
  race.final_results.clear();
  race.results_final = false;
  race.penalty_tics.fill(0);
  race.lost_laps.fill(0);
}

int gate_step(RaceState& race, int slot) {
  const Track* t = current_track();
  const BikeState* bike = slot_bike(race, slot);
  if (t == nullptr || bike == nullptr) return -1;
  const dBodyID body = bike->bodies[kFrontWheelBody];
  if (body == nullptr) return -1;
  const dReal* p = dBodyGetPosition(body);
  return gate_step_at(race, t->gates, slot, p[0], p[2]);
}

int gate_step_at(RaceState& race, const TimingGates& gates, int slot, double x, double z) {
  const Sequence s = sequence_of(&gates);
  if (!s.active() || slot_bike(race, slot) == nullptr) return -1;
  BikeTiming& t = race.slots[size_t(slot)].timing;
  if (t.finished) return -1;
  const int c = t.gate_count;

  // -1, the gate just taken, is never tested again.
  static constexpr int kOffsets[] = {-3, -2, 0, 1, 2};
  bool skipped_seen = false;
  int64_t hit = -1;
  for (int i : kOffsets) {
    const int64_t k = int64_t(c) + i;
    if (k < 0) continue;
    const bool crossed = tic_at(t, k) >= 0;
    if (!crossed) skipped_seen = true;
    bool is_hit = false;
    const int cp = checkpoint_of(s, k);
    if (cp >= 0) {
      const TimingGate& g = gates.checkpoints[size_t(cp)];
      const double dx = x - double(g.position[0]);
      const double dz = z - double(g.position[2]);
      const double r = double(g.radius);
      is_hit = dx * dx + dz * dz <= r * r &&
               dx * double(g.direction[0]) + dz * double(g.direction[2]) >= 0;
    }
    if (is_hit && (i >= 0 || skipped_seen)) {
      hit = k;
      break;
    }
    // A lap line can never be skipped.
    if (!is_hit && !crossed && lap_line(s, k)) return -1;
  }
  if (hit < 0 || hit >= kMaxCrossings) return -1;

  const int k = int(hit);
  if (t.crossings.size() <= size_t(k)) t.crossings.resize(size_t(k) + 1, -1);
  t.crossings[size_t(k)] = race.current_tic;
  t.gate_count = k + 1;
  if (timing_hooks().on_crossing != nullptr) timing_hooks().on_crossing(race, slot, k);

  if (k + 1 - s.first >= 0 && (k + 1 - s.first) % s.normal == 0 && !race.time_trial) {
    bool done = laps_of_count(s, t.gate_count) >= race.race_laps;
    if (!done && !race.running_order.empty()) {
      const int leader = race.running_order.front().slot;
      done = leader >= 0 && leader < kMaxBikes &&
             tic_at(race.slots[size_t(leader)].timing, final_gate(s, race)) >= 0;
    }
    if (done) t.finished = true;
  }
  compute_order(race, s);
  return k;
}

int first_lap_gates() { return current_sequence().first; }
int normal_lap_gates() { return current_sequence().normal; }
bool is_lap_line(int k) { return lap_line(current_sequence(), k); }
int64_t final_gate_index(const RaceState& race) {
  const Sequence s = current_sequence();
  return s.active() ? final_gate(s, race) : -1;
}

int laps_completed(const RaceState& race, int slot) {
  if (slot < 0 || slot >= kMaxBikes) return 0;
  return laps_of_count(current_sequence(), race.slots[size_t(slot)].timing.gate_count);
}

int crossing_tic(const RaceState& race, int slot, int k) {
  if (slot < 0 || slot >= kMaxBikes) return -1;
  return tic_at(race.slots[size_t(slot)].timing, k);
}

int lap_tics(const RaceState& race, int slot, int j) {
  return lap_tics_of(current_sequence(), race, slot, j);
}

double lap_time(const RaceState& race, int slot, int j) {
  return tics_to_seconds(lap_tics(race, slot, j));
}

int best_lap(const RaceState& race, int slot) {
  return best_lap_of(current_sequence(), race, slot);
}

bool finished_now(const RaceState& race, int slot) {
  return finished_test(current_sequence(), race, slot);
}

bool has_finished(RaceState& race, int slot) {
  if (!finished_now(race, slot)) return false;
  race.slots[size_t(slot)].timing.finished = true;
  return true;
}

void set_gate_count(RaceState& race, int slot, int c) {
  if (slot < 0 || slot >= kMaxBikes) return;
  race.slots[size_t(slot)].timing.gate_count = std::clamp(c, 0, kMaxCrossings);
}

void drop_crossings_after(RaceState& race, int c) {
  for (auto& slot : race.slots) {
    BikeTiming& t = slot.timing;
    bool dropped = false;
    for (int& tic : t.crossings) {
      if (tic > c) {
        tic = -1;
        dropped = true;
      }
    }
    if (!dropped) continue;
    while (!t.crossings.empty() && t.crossings.back() < 0) t.crossings.pop_back();
    t.gate_count = int(t.crossings.size());
    t.finished = false;
  }
  race.final_results.clear();
  race.results_final = false;
  race.penalty_tics.fill(0);
  race.lost_laps.fill(0);
  // A timed race rewound to before its deadlines has not fixed its length yet.
  if (race.time_limit > 0) {
    if (c < race.start_tic + race.time_limit) race.race_laps = 1000000;
    if (c < race.start_tic + race.time_limit / 2) race.halfway_lap = 1000000;
  }
}

}  // namespace ks
