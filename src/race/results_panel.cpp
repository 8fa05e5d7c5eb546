// The results panel's rows and lines from the running order or the final results.
#include "race/results_panel.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "race/timing.h"
#include "race/timing_internal.h"

namespace ks {

using namespace timing_detail;

namespace {

std::string plate_text(const RaceState& race, int slot) {
  const BikeState* bike = slot_bike(race, slot);
  std::string plate;
  if (bike != nullptr)
    plate.assign(bike->number.data(), strnlen(bike->number.data(), bike->number.size()));
  char buf[32];
  std::snprintf(buf, sizeof buf, "%3s", plate.c_str());
  return buf;
}

// Seconds `e` is behind `ahead`, or whole laps when it is laps down.
void fill_gap(const Sequence& s, const RaceState& race, const RunningEntry& ahead,
              const RunningEntry& e, ResultsPanelRow& row) {
  char buf[32];
  const int lap_diff = laps_of_count(s, ahead.gate_count) - laps_of_count(s, e.gate_count);
  if (lap_diff > 0) {
    row.gap_laps = lap_diff;
    std::snprintf(buf, sizeof buf, "(%d)", lap_diff);
    row.gap_text = buf;
    return;
  }
  if (ahead.gate_count == e.gate_count) {
    // The table's own tics, so penalties count once the results are final.
    row.gap_seconds = tics_to_seconds(e.last_tic - ahead.last_tic);
  } else {
    const int k = std::min(ahead.gate_count, e.gate_count) - 1;
    const int a = crossing_tic(race, ahead.slot, k);
    const int b = crossing_tic(race, e.slot, k);
    row.gap_seconds = a >= 0 && b >= 0 ? tics_to_seconds(b - a) : 0;
  }
  std::snprintf(buf, sizeof buf, "%7.3f", row.gap_seconds);
  row.gap_text = buf;
}

}  // namespace

std::string race_clock_text(double seconds) {
  const Clock c = clock_of(seconds);
  char buf[48];
  std::snprintf(buf, sizeof buf, "%d:%02d.%03d", c.minutes, c.seconds, c.millis);
  return buf;
}

ResultsPanel results_panel(const RaceState& race) {
  const Sequence s = current_sequence();
  ResultsPanel p;
  p.final = race.results_final;
  p.title = p.final ? "Final Results" : "Unofficial Results";
  const std::vector<RunningEntry>& table = p.final ? race.final_results : race.running_order;
  if (!race.running_order.empty())
    p.shown = p.final || finished_test(s, race, race.running_order.front().slot);
  const RunningEntry* ahead = nullptr;
  for (size_t i = 0; i < table.size(); ++i) {
    const RunningEntry& e = table[i];
    if (!p.final && !finished_test(s, race, e.slot)) continue;
    ResultsPanelRow row;
    row.position = int(i) + 1;
    row.slot = e.slot;
    row.number = plate_text(race, e.slot);
    row.laps = laps_of_count(s, e.gate_count);
    row.laps_text = "L" + std::to_string(row.laps);
    if (ahead == nullptr) {
      row.gap_text = "  0.000";
    } else {
      fill_gap(s, race, *ahead, e, row);
    }
    row.best_lap = best_lap_of(s, race, e.slot);
    row.best_tics = row.best_lap > 0 ? lap_tics_of(s, race, e.slot, row.best_lap) : 0;
    row.best_time_text = race_clock_text(tics_to_seconds(row.best_tics));
    row.best_lap_text = "(" + std::to_string(row.best_lap) + ")";
    p.rows.push_back(row);
    ahead = &e;
  }
  if (!p.final) return p;
  if (!race.final_results.empty())
    p.total_race_time =
        "Total Race Time: " +
        race_clock_text(tics_to_seconds(race.final_results.front().last_tic - race.start_tic));
  for (const RunningEntry& e : race.final_results) {
    const int pen = race.penalty_tics[size_t(e.slot)];
    const int lost = race.lost_laps[size_t(e.slot)];
    if (pen <= 0 && lost <= 0) continue;
    char buf[128];
    std::string text = plate_text(race, e.slot) + " penalized ";
    if (lost > 0) {
      std::snprintf(buf, sizeof buf, "%d %s ", lost, lost == 1 ? "lap" : "laps");
      text += buf;
    }
    std::snprintf(buf, sizeof buf, "%.2f seconds for cutting track", tics_to_seconds(pen));
    text += buf;
    p.penalties.push_back({e.slot, text});
  }
  return p;
}

}  // namespace ks
