// Racing lines: the paths non-robot riders take between timing gates, offered to a store
// of 45 lines per stretch, their robot statistics, the per-track "ct03" files, pruning,
// and the analysis into line plans.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "race/race_state.h"
#include "track/gates.h"

namespace ks {

constexpr int kLinesPerRecord = 45;
constexpr int kLineUntimed = 1000000;
constexpr int kLineFailurePenalty = 640;  // 5 s in tics

struct LinePoint {
  float x = 0, y = 0, z = 0;
  float speed = 0;  // negative when neither wheel touched the ground
  float lean = 0;   // chassis roll angle (rad)
};

struct RacingLine {
  std::vector<LinePoint> points;  // empty = empty slot
  int time_a = kLineUntimed;      // the stretch (tics)
  int time_b = kLineUntimed;      // the stretch and the next one
  int tested = 0;
  int best_a = kLineUntimed, best_b = kLineUntimed;
  int64_t sum_a = 0, sum_b = 0;
  int fails = 0;
  int last_picked = -1000000;  // tic, not stored
  int id = 0;                  // 0 = empty
};

struct LineRecord {
  std::array<RacingLine, kLinesPerRecord> lines{};
};

// Per rider: two trail buffers used by the parity of the line index.
struct Trail {
  std::array<std::vector<LinePoint>, 2> buffers;
  std::array<bool, 2> cancelled{};
};

struct LineStore {
  std::vector<LineRecord> records;  // first-lap unmarked + normal-lap unmarked; empty = none
  int first_lap = 0;                // Fu
  int normal_lap = 0;               // Nu
  std::array<std::vector<int>, 3> plan;  // line identifiers per record, by selection type
  std::array<Trail, kMaxBikes> trails{};
  int next_id = 1;
  std::string loaded_track;  // empty = nothing loaded
  int loaded_skill = -1;
  bool learn = false;        // --learn
};
LineStore& line_store();

// Line index of a gate count, and the record of a line index (-1 without a store).
int line_index(const TimingGates& gates, int gate_count);
int line_record(const LineStore& store, int line_index);
RacingLine* find_line(LineStore& store, int record, int id);

// ---- the race's calls --------------------------------------------------------------------

void save_lines();                   // when learning and lines were loaded
void clear_line_records();
bool load_lines(const std::string& track, int skill);  // needs the current track's gates
void analyze_lines();
void reset_line_statistics();
void reset_trails();
// Every tic before the gate step: crash handling and the trail point.
void line_trail_step(RaceState& race, int slot);
// Right after the gate step stored crossing k.
void line_step_at_crossing(RaceState& race, int slot, int k);

// ---- analysis (shared with the autopilot) ------------------------------------------------

int line_cost(const RacingLine& line, int type);
bool lines_connect(const RacingLine& from, const RacingLine& to);
// The circle through three points in the horizontal plane; a far centre when they line up.
struct Circle {
  double cx = 0, cz = 0, r = 0;
};
Circle circle_through(const LinePoint& a, const LinePoint& b, const LinePoint& c);
// M[i][j]: cheapest chain from line i of record `first` through n records arriving at
// line j of the record after them; `back` gets n 45x45 back pointers (255 = none).
using ChainCosts = std::array<std::array<int64_t, kLinesPerRecord>, kLinesPerRecord>;
void line_chain_costs(const LineStore& store, int first, int n, int type, ChainCosts& m,
                      std::vector<std::array<std::array<uint8_t, kLinesPerRecord>,
                                             kLinesPerRecord>>* back);

}  // namespace ks
