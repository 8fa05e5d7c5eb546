// The line store: line indices and records, trails of non-robot riders, crash charges,
// robot credit and new lines at gate crossings, slot cost and eviction.
#include "autopilot/racing_lines.h"

#include <algorithm>
#include <cmath>

namespace ks {

LineStore& line_store() {
  static LineStore s;
  return s;
}

void reset_line_store() { line_store() = LineStore{}; }

void create_line_records(LineStore& store, const TimingGates& gates) {
  store.records.clear();
  for (auto& p : store.plan) p.clear();
  store.first_unmarked.clear();
  store.normal_unmarked.clear();
  store.first_before.clear();
  store.normal_before.clear();
  store.first_lap = store.normal_lap = 0;
  if (!gates.valid || gates.first_lap.empty() || gates.normal_lap.empty()) return;
  auto fill = [](const std::vector<int>& seq, std::vector<uint8_t>& unmarked,
                 std::vector<int>& before) {
    int n = 0;
    for (int v : seq) {
      before.push_back(n);
      const bool u = v < kMarkedGate;
      unmarked.push_back(u ? 1 : 0);
      n += u ? 1 : 0;
    }
    return n;
  };
  store.first_lap = fill(gates.first_lap, store.first_unmarked, store.first_before);
  store.normal_lap = fill(gates.normal_lap, store.normal_unmarked, store.normal_before);
  if (store.first_lap + store.normal_lap <= 0 || store.normal_lap <= 0) {
    store.first_lap = store.normal_lap = 0;
    return;
  }
  store.records.resize(size_t(store.first_lap + store.normal_lap));
}

int line_index(const TimingGates& gates, int gate_count) {
  LineStore s;
  create_line_records(s, gates);
  return store_line_index(s, gate_count);
}

int store_line_index(const LineStore& store, int gate_count) {
  if (store.records.empty() || gate_count <= 0) return 0;
  const int f = int(store.first_unmarked.size());
  const int n = int(store.normal_unmarked.size());
  if (gate_count <= f) {
    return gate_count == f ? store.first_lap : store.first_before[size_t(gate_count)];
  }
  const int rest = gate_count - f;
  const int laps = rest / n, part = rest % n;
  return store.first_lap + laps * store.normal_lap + store.normal_before[size_t(part)];
}

bool crossing_unmarked(const LineStore& store, int k) {
  if (store.records.empty() || k < 0) return false;
  const int f = int(store.first_unmarked.size());
  if (k < f) return store.first_unmarked[size_t(k)] != 0;
  const int n = int(store.normal_unmarked.size());
  return store.normal_unmarked[size_t((k - f) % n)] != 0;
}

int line_record(const LineStore& store, int j) {
  if (store.records.empty() || j < 0) return -1;
  if (j < store.first_lap) return j;
  if (store.normal_lap <= 0) return -1;
  return store.first_lap + (j - store.first_lap) % store.normal_lap;
}

RacingLine* find_line(LineStore& store, int record, int id) {
  if (id <= 0 || record < 0 || record >= int(store.records.size())) return nullptr;
  for (RacingLine& l : store.records[size_t(record)].lines) {
    if (l.id == id && !l.points.empty()) return &l;
  }
  return nullptr;
}

int line_count(const LineRecord& record) {
  return int(std::count_if(record.lines.begin(), record.lines.end(),
                           [](const RacingLine& l) { return !l.points.empty(); }));
}

int64_t slot_cost(const RacingLine& line) {
  const int64_t tested = std::max(line.tested, 0), fails = std::max(line.fails, 0);
  if (tested == 0) return int64_t(line.time_b) * 5 / 4 + (fails > 0 ? kLineFailurePenalty : 0);
  return line.sum_b / tested + kLineFailurePenalty * fails / (tested + fails);
}

int eviction_choice(const LineRecord& record) {
  int proven = 0;
  for (const RacingLine& l : record.lines) {
    if (!l.points.empty() && l.fails < l.tested) ++proven;
  }
  int pick = -1;
  int64_t pick_cost = 0;
  for (int i = 0; i < kLinesPerRecord; ++i) {
    const RacingLine& l = record.lines[size_t(i)];
    if (l.points.empty()) continue;
    if (!(proven > 22 || l.fails >= l.tested)) continue;
    int64_t cost = slot_cost(l);
    bool unique = true;
    for (int j = 0; j < kLinesPerRecord && unique; ++j) {
      const RacingLine& o = record.lines[size_t(j)];
      if (j == i || o.points.empty()) continue;
      const double dx = double(o.points[0].x) - l.points[0].x;
      const double dy = double(o.points[0].y) - l.points[0].y;
      const double dz = double(o.points[0].z) - l.points[0].z;
      if (dx * dx + dy * dy + dz * dz < 4.0) unique = false;
    }
    if (unique) cost = cost * 3 / 4;  // a line with a start of its own lives longer
    if (pick < 0 || cost > pick_cost) {
      pick = i;
      pick_cost = cost;
    }
  }
  return pick;
}

// ---- placeholders until the rest lands ----------------------------------------------------

void save_lines() {}
void clear_line_records() { line_store().records.clear(); }
bool load_lines(const std::string&, int) { return false; }
bool load_lines(const std::string&, int, const TimingGates&) { return false; }
void reset_line_statistics() {}
void reset_trails() {}
void line_trail_step(RaceState&, int) {}
void line_step_at_crossing(RaceState&, int, int) {}

}  // namespace ks
