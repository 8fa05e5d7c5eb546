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

struct VfsFile;

constexpr int kLinesPerRecord = 45;
constexpr int kLineUntimed = 1000000;
constexpr int kLineFailurePenalty = 640;  // 5 s in tics
constexpr int64_t kNoChain = 100000000;   // chain cost of "no chain"
constexpr uint8_t kNoBack = 255;          // back pointer of "no chain"
// A line needs two points to be followed or joined onto, three to lead into another.
constexpr int kMinLinePoints = 2;
constexpr int kMaxLinePoints = 32768;  // over two hours of trail; longer ones are dropped

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
  // Per sequence entry: 1 when the reference is unmarked; and the unmarked count before it.
  std::vector<uint8_t> first_unmarked, normal_unmarked;
  std::vector<int> first_before, normal_before;
  std::array<std::vector<int>, 3> plan;  // line identifiers per record, by selection type
  std::array<Trail, kMaxBikes> trails{};
  int next_id = 1;
  std::string loaded_track;  // empty = nothing loaded
  int loaded_skill = -1;
  bool learn = false;        // --learn
};
LineStore& line_store();
// Forgets everything, the identifier counter included (tests).
void reset_line_store();
// Empty records for the gates (none when they aren't valid); keeps ids, trails and `learn`.
void create_line_records(LineStore& store, const TimingGates& gates);

// Line index of a gate count, and the record of a line index (-1 without a store).
int line_index(const TimingGates& gates, int gate_count);
int line_record(const LineStore& store, int line_index);
RacingLine* find_line(LineStore& store, int record, int id);
// The same from the sequences the store was made for.
int store_line_index(const LineStore& store, int gate_count);
// Whether crossing index k refers to an unmarked gate.
bool crossing_unmarked(const LineStore& store, int k);
// Number of non-empty slots.
int line_count(const LineRecord& record);

// ---- the race's calls --------------------------------------------------------------------

void save_lines();                   // when learning and lines were loaded
void clear_line_records();
bool load_lines(const std::string& track, int skill);  // needs the current track's gates
bool load_lines(const std::string& track, int skill, const TimingGates& gates);
// "@track/lines_novice", "_amateur" or "_expert" (skills outside 0..2 are clamped).
std::string lines_file_name(const std::string& track, int skill);
// The file body into the store's records (made beforehand); false when the header doesn't
// match the store. Lines after a point that can't be read are dropped.
bool read_lines(LineStore& store, VfsFile* f);
bool write_lines(const LineStore& store, VfsFile* f);
// The statistics bounds applied after loading.
void bound_line_statistics(RacingLine& line);
void analyze_lines();
// Prunes the first-lap records and computes the three plans of the store.
void analyze_lines(LineStore& store);
void reset_line_statistics();
void reset_trails();
// Every tic before the gate step: crash handling and the trail point.
void line_trail_step(RaceState& race, int slot);
// Right after the gate step stored crossing k.
void line_step_at_crossing(RaceState& race, int slot, int k);

// ---- the store's choices ------------------------------------------------------------------

// Tics, with the two-stretch time and the failure penalty; an empty slot costs B x 5/4.
int64_t slot_cost(const RacingLine& line);
// The slot to give up in a full record, or -1 when none is eligible.
int eviction_choice(const LineRecord& record);
// Offers a trail to record r; the outcome, also logged at verbose level.
enum class OfferResult { stored, canceled, duplicate, too_slow };
OfferResult offer_line(LineStore& store, int r, const std::vector<LinePoint>& points, int a,
                       int b, bool cancelled);

// ---- analysis (shared with the autopilot) ------------------------------------------------

// Selection types 0..2 (proven, stricter, fast after one test) and 3 (exploration).
int line_cost(const RacingLine& line, int type);
// Whether two lines cross in the horizontal plane (lines under two points never do).
bool lines_cross(const RacingLine& a, const RacingLine& b);
// Pruning of one record holding 44 or 45 lines; returns the number of slots emptied.
int prune_record(LineRecord& record);
bool lines_connect(const RacingLine& from, const RacingLine& to);
// The circle through three points in the horizontal (x, z) plane; r is the distance from
// the centre to the third point. Points in a line give a centre 1e6 units off to the side.
struct Circle {
  double cx = 0, cz = 0, r = 0;
};
Circle circle_through(const LinePoint& a, const LinePoint& b, const LinePoint& c);
// M[i][j]: cheapest chain from line i of record `first` through n records arriving at
// line j of the record after them; `back` gets n 45x45 back pointers (255 = none).
// `first` is a line index: records past the first lap wrap. back[0][i][j] is i itself;
// back[m][i][j] the line of the m-th record after `first` on that chain. Costs of real
// chains stay below kNoChain; a record without a store leaves every entry kNoChain.
using ChainCosts = std::array<std::array<int64_t, kLinesPerRecord>, kLinesPerRecord>;
using ChainBack = std::array<std::array<uint8_t, kLinesPerRecord>, kLinesPerRecord>;
void line_chain_costs(const LineStore& store, int first, int n, int type, ChainCosts& m,
                      std::vector<ChainBack>* back);

}  // namespace ks
