// The running order, the length of a timed race, the end of the race, the final results
// with cutting penalties and whole laps lost, and the expected section times.
#include <algorithm>
#include <climits>

#include "core/heap_sort.h"
#include "race/timing.h"
#include "race/timing_internal.h"

namespace ks {

namespace timing_detail {

namespace {

constexpr int kUnfixedLaps = 1000000;
constexpr int kDefaultSectionTics = 60 * kTicsPerSecond;

// Gate count descending, last crossing ascending, slot ascending.
int compare_entries(const RunningEntry& a, const RunningEntry& b) {
  if (a.gate_count != b.gate_count) return a.gate_count > b.gate_count ? -1 : 1;
  if (a.last_tic != b.last_tic) return a.last_tic < b.last_tic ? -1 : 1;
  if (a.slot != b.slot) return a.slot < b.slot ? -1 : 1;
  return 0;
}

bool warmup_local(const RaceState& race, int slot) {
  return race.online && race.warmup && race.slots[size_t(slot)].kind == SlotKind::local;
}

// A bike's time for crossings a..b when every crossing of it exists (a = -1: tic 0).
bool section_tics(const BikeTiming& t, int64_t a, int64_t b, int64_t* out) {
  const int64_t begin = a < 0 ? 0 : tic_at(t, a);
  if (begin < 0) return false;
  for (int64_t k = std::max<int64_t>(a + 1, 0); k <= b; ++k) {
    if (tic_at(t, k) < 0) return false;
  }
  const int64_t d = int64_t(tic_at(t, b)) - begin;
  if (d < 0) return false;
  *out = d;
  return true;
}

int expected_section(const Sequence& s, const RaceState& race, int64_t a, int64_t b) {
  int64_t sum = 0;
  int64_t count = 0;
  for (const RunningEntry& e : race.running_order) {
    if (e.slot < 0 || e.slot >= kMaxBikes || warmup_local(race, e.slot)) continue;
    const BikeTiming& t = race.slots[size_t(e.slot)].timing;
    if (a < s.first) {
      int64_t d = 0;
      if (section_tics(t, a, b, &d)) {
        sum += d;
        ++count;
      }
      continue;
    }
    if (s.normal <= 0) continue;
    // The same stretch of every lap from the second on.
    const int64_t a2 = s.first + (a - s.first) % s.normal;
    const int64_t b2 = b + a2 - a;
    int64_t lap_sum = 0;
    int64_t laps = 0;
    for (int64_t lo = a2, hi = b2; hi < t.gate_count; lo += s.normal, hi += s.normal) {
      int64_t d = 0;
      if (section_tics(t, lo, hi, &d)) {
        lap_sum += d;
        ++laps;
      }
    }
    if (laps > 0 && lap_sum / laps >= 0) {
      sum += lap_sum / laps;
      ++count;
    }
  }
  if (count == 0) return kDefaultSectionTics;
  return int(std::min<int64_t>(sum / count, INT_MAX));
}

// The cutting penalty of one bike, tics.
int64_t cutting_penalty(const Sequence& s, const RaceState& race, const BikeTiming& t) {
  int64_t penalty = 0;
  int64_t skipped = 0;
  for (size_t k = 0; k < t.crossings.size(); ++k) {
    if (t.crossings[k] < 0) {
      ++skipped;
      continue;
    }
    if (skipped > 0) {
      const int64_t before = int64_t(k) - skipped - 1;
      const int64_t e =
          int64_t(expected_section(s, race, before, int64_t(k))) + kTicsPerSecond;
      const int64_t h = before >= 0 ? t.crossings[size_t(before)] : 0;
      const int64_t took = int64_t(t.crossings[k]) - h;
      if (took < e) penalty += e - took;
    }
    skipped = 0;
  }
  return penalty;
}

void counted_replay_or_remote(const RaceState& race, int slot, bool* ignored) {
  const SlotKind kind = race.slots[size_t(slot)].kind;
  const TimingHooks& hooks = timing_hooks();
  if (!race.online) {
    if (kind == SlotKind::replayed &&
        (hooks.replay_active == nullptr || !hooks.replay_active(race, slot)))
      *ignored = true;
    return;
  }
  if (kind == SlotKind::replayed && slot != race.local_slot &&
      hooks.remote_active != nullptr && !hooks.remote_active(race, slot))
    *ignored = true;
  if (kind == SlotKind::local && race.warmup) *ignored = true;
}

// Over when every counted bike has finished, and someone has: a race whose bikes are all
// ignored (demo riders before their first states) has not ended.
bool race_over(const Sequence& s, RaceState& race) {
  if (race.running_order.empty() || race.time_trial) return false;
  bool someone_finished = false;
  for (const RunningEntry& e : race.running_order) {
    bool ignored = false;
    counted_replay_or_remote(race, e.slot, &ignored);
    if (ignored) {
      someone_finished = someone_finished || race.slots[size_t(e.slot)].timing.finished;
      continue;
    }
    if (!finished_test(s, race, e.slot)) return false;
    race.slots[size_t(e.slot)].timing.finished = true;
    someone_finished = true;
  }
  return someone_finished;
}

void timed_race_length(const Sequence& s, RaceState& race) {
  if (race.time_limit <= 0 || race.running_order.empty()) return;
  const int64_t start = race.start_tic;
  const int64_t limit = race.time_limit;
  const int leader = race.running_order.front().slot;
  const int leader_laps = laps_of_count(s, race.slots[size_t(leader)].timing.gate_count);
  if (race.halfway_lap == kUnfixedLaps && race.current_tic >= start + limit / 2)
    race.halfway_lap = leader_laps + 1;
  if (race.current_tic < start + limit) return;
  for (int h = std::max(1, std::min(race.race_laps, leader_laps - 1)); h < kUnfixedLaps;
       ++h) {
    const int64_t line = lap_line_of(s, h);
    int64_t earliest = -1;
    for (const RunningEntry& e : race.running_order) {
      const int tic = tic_at(race.slots[size_t(e.slot)].timing, line);
      if (tic >= 0 && (earliest < 0 || tic < earliest)) earliest = tic;
    }
    if (earliest < 0) break;
    const int64_t laps = std::max(race.laps, 0);
    if (earliest >= start + limit) {
      race.race_laps = int(std::min<int64_t>(race.race_laps, h + laps));
      break;
    }
    race.race_laps = int(std::min<int64_t>(std::max<int64_t>(race.race_laps, h + laps + 1),
                                           kUnfixedLaps));
  }
}

void build_final_results(const Sequence& s, RaceState& race) {
  build_order(race, race.final_results);
  race.penalty_tics.fill(0);
  race.lost_laps.fill(0);
  for (RunningEntry& e : race.final_results) {
    const BikeTiming& t = race.slots[size_t(e.slot)].timing;
    int64_t penalty = cutting_penalty(s, race, t);
    int lost = 0;
    const int b = best_lap_of(s, race, e.slot);
    const int64_t v = b >= 2 ? lap_tics_of(s, race, e.slot, b) : 0;
    if (v > 0 && penalty > v) {
      // Taken as whole laps first.
      while (penalty > v && e.gate_count > s.first) {
        e.gate_count -= s.normal;
        penalty -= v;
        ++lost;
      }
    }
    penalty = std::min<int64_t>(penalty, INT_MAX - int64_t(std::max(e.last_tic, 0)));
    e.last_tic += int(penalty);
    race.penalty_tics[size_t(e.slot)] = int(penalty);
    race.lost_laps[size_t(e.slot)] = lost;
  }
  sort_order(race.final_results);
}

}  // namespace

void sort_order(std::vector<RunningEntry>& entries) {
  heap_sort(entries.data(), entries.size(), compare_entries);
}

void build_order(const RaceState& race, std::vector<RunningEntry>& out) {
  out.clear();
  for (int i = 0; i < kMaxBikes; ++i) {
    if (race.slots[size_t(i)].bike == nullptr) continue;
    const BikeTiming& t = race.slots[size_t(i)].timing;
    RunningEntry e;
    e.slot = i;
    e.gate_count = t.gate_count;
    e.last_tic = std::max(0, tic_at(t, int64_t(t.gate_count) - 1));
    out.push_back(e);
  }
  sort_order(out);
}

void compute_order(RaceState& race, const Sequence& s) {
  if (race.results_final) return;
  build_order(race, race.running_order);
  if (!s.active()) return;
  timed_race_length(s, race);
  if (!race_over(s, race)) return;
  build_final_results(s, race);
  if (!race.final_results.empty() &&
      finished_test(s, race, race.final_results.front().slot))
    write_results(s, race);
  race.results_final = true;
  if (timing_hooks().on_results_final != nullptr) timing_hooks().on_results_final(race);
}

}  // namespace timing_detail

using namespace timing_detail;

void compute_running_order(RaceState& race) { compute_order(race, current_sequence()); }

int expected_section_time(const RaceState& race, int a, int b) {
  return expected_section(current_sequence(), race, a, b);
}

bool off_course_at_last_gates(const RaceState& race, int slot, double bias_seconds,
                              double scale) {
  if (slot < 0 || slot >= kMaxBikes) return false;
  const BikeTiming& t = race.slots[size_t(slot)].timing;
  const int c = t.gate_count;
  if (c < 1) return false;
  for (int s = std::max(1, c - 3); s <= c; ++s) {
    int64_t b = race.start_tic;
    for (int k = s - 1; k >= s - 3 && k >= 0; --k) {
      if (tic_at(t, k) >= 0) {
        b = tic_at(t, k);
        break;
      }
    }
    int64_t e = race.current_tic;
    for (int k = s; k < c; ++k) {
      if (tic_at(t, k) >= 0) {
        e = tic_at(t, k);
        break;
      }
    }
    for (const RunningEntry& r : race.running_order) {
      if (slot_bike(race, r.slot) == nullptr) continue;
      if (r.gate_count <= s) break;
      const BikeTiming& o = race.slots[size_t(r.slot)].timing;
      const int r1 = tic_at(o, s - 1);
      const int r2 = tic_at(o, s);
      if (r1 < 0 || r2 < 0) continue;
      if (tics_to_seconds(r2 - r1) * scale + bias_seconds +
              tics_to_seconds(int(b)) <= tics_to_seconds(int(e)))
        return true;
      break;
    }
  }
  return false;
}

double crossing_gap(const RaceState& race, int slot, int other) {
  if (slot < 0 || slot >= kMaxBikes || other < 0 || other >= kMaxBikes) return 0;
  const BikeTiming& a = race.slots[size_t(slot)].timing;
  const BikeTiming& b = race.slots[size_t(other)].timing;
  const int k = std::min(a.gate_count, b.gate_count) - 1;
  if (k < 0) return 0;
  const int ta = tic_at(a, k);
  const int tb = tic_at(b, k);
  if (ta < 1 || tb < 1) return 0;
  return tics_to_seconds(tb - ta);
}

}  // namespace ks
