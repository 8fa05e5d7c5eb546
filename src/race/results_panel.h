// What the results panel shows: rows of position, number, laps, gap, best time and best
// lap, the title, the total race time and the penalty lines, as plain records with the
// texts already formatted, for the HUD to draw.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "race/race_state.h"

namespace ks {

struct ResultsPanelRow {
  int position = 0;  // 1 = first
  int slot = 0;
  std::string number;  // "%3s"
  int laps = 0;
  std::string laps_text;  // "L%d"
  // Behind the row above: seconds at the last crossing both made, or whole laps.
  double gap_seconds = 0;
  int gap_laps = 0;
  std::string gap_text;  // "%7.3f" or "(%d)"
  int best_lap = 0;      // lap number, 0 = none
  int best_tics = 0;
  std::string best_time_text;  // "%d:%02d.%03d"
  std::string best_lap_text;   // "(%d)"
};

struct ResultsPenaltyLine {
  int slot = 0;
  std::string text;  // drawn in red
};

struct ResultsPanel {
  bool shown = false;  // the leader has finished
  bool final = false;
  std::string title;   // "Final Results" or "Unofficial Results"
  std::array<const char*, 6> columns{"Pos.", "No.", "Lap", "Gap", "Best Time", "BLap"};
  std::vector<ResultsPanelRow> rows;
  std::string total_race_time;  // "Total Race Time: %d:%02d.%03d" once final, else empty
  std::vector<ResultsPenaltyLine> penalties;
};

// The panel for the race as it stands: final results once final (every bike), else the
// finished bikes of the running order.
ResultsPanel results_panel(const RaceState& race);

// "%d:%02d.%03d" of a time in seconds (whole milliseconds).
std::string race_clock_text(double seconds);

}  // namespace ks
