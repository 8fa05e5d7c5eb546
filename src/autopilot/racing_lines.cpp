// The line store: line indices and records, trails of non-robot riders, crash charges,
// robot credit and new lines at gate crossings, slot cost and eviction.
#include "autopilot/racing_lines.h"

#include <algorithm>
#include <climits>
#include <cmath>

#include "autopilot/autopilot.h"
#include "core/detail_settings.h"
#include "physics/terrain_contact.h"
#include "platform/vant.h"
#include "race/timing.h"

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

// ---- offering a line -----------------------------------------------------------------------

namespace {

bool verbose() { return detail_settings().verbose >= 1; }

int take_id(LineStore& store) {
  const int id = store.next_id;
  store.next_id = store.next_id >= INT_MAX ? 1 : store.next_id + 1;
  return id;
}

bool same_line(const std::vector<LinePoint>& a, const std::vector<LinePoint>& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    const double dx = double(a[i].x) - b[i].x, dy = double(a[i].y) - b[i].y;
    const double dz = double(a[i].z) - b[i].z;
    if (!(std::fabs(double(a[i].speed) - b[i].speed) <= 1.0 / 16)) return false;
    if (!(dx * dx + dy * dy + dz * dz <= 1.0 / 256)) return false;
  }
  return true;
}

double seconds(int64_t tics) { return double(tics) / kTicsPerSecond; }

}  // namespace

OfferResult offer_line(LineStore& store, int r, const std::vector<LinePoint>& points, int a,
                       int b, bool cancelled) {
  const bool log = verbose();
  // Under two points a line can neither be followed nor joined onto.
  if (r < 0 || r >= int(store.records.size()) || cancelled ||
      int(points.size()) < kMinLinePoints || a < 0 || b < 0) {
    if (log) vant_log("auto pilot: %d canceled\n", r);
    return OfferResult::canceled;
  }
  LineRecord& rec = store.records[size_t(r)];
  for (const RacingLine& l : rec.lines) {
    if (!l.points.empty() && same_line(l.points, points)) {
      if (log) vant_log("auto pilot: %d rejected (duplicate)\n", r);
      return OfferResult::duplicate;
    }
  }
  int target = -1;
  for (int i = 0; i < kLinesPerRecord && target < 0; ++i) {
    if (rec.lines[size_t(i)].points.empty()) target = i;
  }
  if (target < 0) target = eviction_choice(rec);
  if (target < 0 || slot_cost(rec.lines[size_t(target)]) < int64_t(b) * 5 / 4) {
    if (log) vant_log("auto pilot: %d rejected (too slow)\n", r);
    return OfferResult::too_slow;
  }
  RacingLine& old = rec.lines[size_t(target)];
  if (log) {
    const double t = old.tested > 0 ? double(old.tested) : 0.0;
    vant_log("auto pilot: evicting %d (times: %.2f %.2f tested (%d %d): %.2f %.2f repl: %f %f)\n",
             r, seconds(old.time_a), seconds(old.time_b), old.tested, old.fails,
             t > 0 ? double(old.sum_a) / t / kTicsPerSecond : 0.0,
             t > 0 ? double(old.sum_b) / t / kTicsPerSecond : 0.0, seconds(a), seconds(b));
  }
  RacingLine fresh;
  fresh.points = points;
  fresh.time_a = a;
  fresh.time_b = b;
  fresh.id = take_id(store);
  old = std::move(fresh);
  return OfferResult::stored;
}

// ---- the race's per-tic calls ---------------------------------------------------------------

namespace {

// The one place that reads crossing tics: -1 for a skipped or missing crossing.
int tic_of(const RaceState& race, int slot, int k) {
  if (k < 0) return -1;
  return crossing_tic(race, slot, k);
}

// The latest unmarked crossing index below `below`, or -1.
int previous_unmarked(const LineStore& store, int below) {
  for (int k = below - 1; k >= 0; --k) {
    if (crossing_unmarked(store, k)) return k;
  }
  return -1;
}

void charge_failure(LineStore& store, BikeState& bike, int j) {
  if (j < 0) return;
  RacingLine* l = find_line(store, line_record(store, j), bike.followed_lines[size_t(j % 4)]);
  if (l != nullptr && l->fails < INT_MAX) ++l->fails;
}

void credit(LineStore& store, BikeState& bike, int j, int a, int b) {
  if (j < 0) return;
  RacingLine* l = find_line(store, line_record(store, j), bike.followed_lines[size_t(j % 4)]);
  if (l == nullptr) return;
  if (l->tested < INT_MAX) ++l->tested;
  l->best_a = std::min(l->best_a, a);
  l->best_b = std::min(l->best_b, b);
  l->sum_a += a;
  l->sum_b += b;
}

// The tics of the last three unmarked crossings, the last one at L (line indices Q - 2,
// Q - 1, Q; before the first one the start tic), and the crossings missing between them.
struct Stretches {
  int t0 = -1, t1 = -1, t2 = -1;
  std::vector<int> skipped;  // crossing indices
};
Stretches stretch_times(const LineStore& store, const RaceState& race, int slot, int l) {
  Stretches s;
  const int k1 = previous_unmarked(store, l);
  const int k0 = k1 >= 0 ? previous_unmarked(store, k1) : -1;
  s.t2 = tic_of(race, slot, l);
  s.t1 = tic_of(race, slot, k1);
  s.t0 = k0 >= 0 ? tic_of(race, slot, k0) : race.start_tic;
  for (int k = std::max(k0, 0); k < l; ++k) {
    if (tic_of(race, slot, k) < 0) s.skipped.push_back(k);
  }
  return s;
}

std::array<double, 3> frame_position(const BikeState& bike) {
  const dReal* p = dBodyGetPosition(bike.bodies[kFrameBody]);
  return {p[0], p[1], p[2]};
}

double frame_speed(const BikeState& bike) {
  const dReal* v = dBodyGetLinearVel(bike.bodies[kFrameBody]);
  return std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
}

// Whether the robot is on its planned path: near the path segment around it and not
// faster than planned.
bool on_plan(const BikeState& bike, const RobotState& robot) {
  const auto& path = robot.path;
  if (path.size() < 2) return false;
  const std::array<double, 3> pos = frame_position(bike);
  const dReal* r = dBodyGetRotation(bike.bodies[kFrameBody]);
  const std::array<double, 3> fwd{-r[2], -r[6], -r[10]};
  auto ahead = [&](int i) {
    const LinePoint& p = path[size_t(i)];
    return (p.x - pos[0]) * fwd[0] + (p.y - pos[1]) * fwd[1] + (p.z - pos[2]) * fwd[2] > 0;
  };
  const int last = int(path.size()) - 1;
  int k = std::clamp(robot.target, 0, last);
  if (ahead(k)) {
    while (k > 0 && ahead(k - 1)) --k;
  } else {
    k = std::min(k + 1, last);
  }
  const int i1 = std::max(k, 1), i0 = i1 - 1;
  const LinePoint& a = path[size_t(i0)];
  const LinePoint& b = path[size_t(i1)];
  const double ex = double(b.x) - a.x, ey = double(b.y) - a.y, ez = double(b.z) - a.z;
  const double len2 = ex * ex + ey * ey + ez * ez;
  double t = 0;
  if (len2 > 0) t = ((pos[0] - a.x) * ex + (pos[1] - a.y) * ey + (pos[2] - a.z) * ez) / len2;
  t = std::clamp(t, 0.0, 1.0);
  const double dx = pos[0] - (a.x + t * ex), dy = pos[1] - (a.y + t * ey);
  const double dz = pos[2] - (a.z + t * ez);
  if (!(dx * dx + dy * dy + dz * dz <= 16.0)) return false;
  const double v = frame_speed(bike) * 0.9375;
  return v <= std::fabs(double(a.speed)) || v <= std::fabs(double(b.speed));
}

}  // namespace

void line_trail_step(RaceState& race, int slot) {
  LineStore& store = line_store();
  BikeState* bike = slot_bike(race, slot);
  if (store.records.empty() || bike == nullptr || bike->bodies[kFrameBody] == nullptr) return;
  const RaceSlot& rs = race.slots[size_t(slot)];
  const bool robot = rs.kind == SlotKind::robot;
  const int u = store_line_index(store, rs.timing.gate_count);
  if (bike->crash.ground_touch == 1) {
    bike->crash.ground_touch = 2;
    if (robot) {
      charge_failure(store, *bike, u);
      const int prev = tic_of(race, slot, previous_unmarked(store, rs.timing.gate_count));
      if (u > 0 && prev >= 0 && race.current_tic - prev < kTicsPerSecond) {
        charge_failure(store, *bike, u - 1);
      }
      bike->followed_lines = {};
    }
  }
  if (robot || race.current_tic % 32 != 0) return;
  Trail& trail = store.trails[size_t(slot)];
  const size_t b = size_t(u % 2);
  if (trail.buffers[b].size() >= size_t(kMaxLinePoints)) {
    trail.cancelled[b] = true;  // far too long to be a line
    return;
  }
  const std::array<double, 3> p = frame_position(*bike);
  const bool airborne = !(bike->front_contact.depth > 0) && !(bike->rear_contact.depth > 0);
  const double v = frame_speed(*bike);
  LinePoint pt{float(p[0]), float(p[1]), float(p[2]), float(airborne ? -v : v),
               float(body_roll_angle(bike->bodies[kFrameBody]))};
  if (!std::isfinite(pt.x) || !std::isfinite(pt.y) || !std::isfinite(pt.z) ||
      !std::isfinite(pt.speed) || !std::isfinite(pt.lean)) {
    return;
  }
  trail.buffers[b].push_back(pt);
}

void line_step_at_crossing(RaceState& race, int slot, int k) {
  LineStore& store = line_store();
  BikeState* bike = slot_bike(race, slot);
  if (store.records.empty() || bike == nullptr || k < 0) return;
  Trail& trail = store.trails[size_t(slot)];
  const int q = store_line_index(store, k);
  const bool crashed = bike->crash.ground_touch != 0;
  bike->crash.ground_touch = 0;
  if (crashed) trail.cancelled[size_t(q % 2)] = true;
  if (!crossing_unmarked(store, k)) return;

  if (q > 0) {
    const Stretches st = stretch_times(store, race, slot, k);
    const int a = st.t1 - st.t0, b = st.t2 - st.t0;
    if (race.slots[size_t(slot)].kind == SlotKind::robot) {
      // Only the entries this crossing settles are cleared: the lines picked for the
      // stretches ahead must still be there when those stretches end.
      auto& followed = bike->followed_lines;
      if (on_plan(*bike, robot_states()[size_t(slot)])) {
        if (st.skipped.empty()) {
          if (st.t0 >= 0 && st.t1 >= 0 && a >= 0 && b >= 0) credit(store, *bike, q - 1, a, b);
        } else {
          for (int g : st.skipped) {
            const int j = store_line_index(store, g);
            charge_failure(store, *bike, j);
            followed[size_t(j % 4)] = 0;
          }
        }
      } else {
        charge_failure(store, *bike, q);
        followed[size_t(q % 4)] = 0;
      }
      followed[size_t((q - 1) % 4)] = 0;
    } else if (tic_of(race, slot, k - 1) >= 0) {
      const size_t c = size_t((q - 1) % 2);
      const bool timed = st.skipped.empty() && st.t0 >= 0 && st.t1 >= 0 && a >= 0 && b >= 0;
      offer_line(store, line_record(store, q - 1), trail.buffers[c], a, b,
                 trail.cancelled[c] || !timed);
    }
  }
  const size_t next = size_t((q + 1) % 2);
  trail.buffers[next].clear();
  trail.cancelled[next] = false;
}

void clear_line_records() {
  LineStore& s = line_store();
  s.records.clear();
  for (auto& p : s.plan) p.clear();
  s.loaded_track.clear();
  s.loaded_skill = -1;
}

void reset_line_statistics() {
  for (LineRecord& r : line_store().records) {
    for (RacingLine& l : r.lines) l.last_picked = -1000000;
  }
}

void reset_trails() {
  for (Trail& t : line_store().trails) {
    for (auto& b : t.buffers) b.clear();
    t.cancelled = {};
  }
}

}  // namespace ks
