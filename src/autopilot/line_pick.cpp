// Choosing the next racing line for a robot (chain-cost weights, the line plan, how well
// a line continues the path, and a spread between robots), and joining it to the path.
#include <algorithm>
#include <cmath>

#include "autopilot/autopilot.h"
#include "core/detail_settings.h"
#include "platform/vant.h"
#include "race/timing.h"

namespace ks {

namespace {

using Vec3 = std::array<double, 3>;
constexpr int64_t kUnreached = 100000000;  // chain cost of "no chain"

double clamp01(double v) { return std::clamp(v, 0.0, 1.0); }
double cube(double v) { return v * v * v; }
double hdist(double ax, double az, double bx, double bz) { return std::hypot(ax - bx, az - bz); }
double dist3(const LinePoint& a, const LinePoint& b) {
  return std::sqrt((a.x - b.x) * (a.x - b.x) + (a.y - b.y) * (a.y - b.y) +
                   (a.z - b.z) * (a.z - b.z));
}

}  // namespace

int selection_type(const RaceState& race, int slot, const RiderStyle& style) {
  const auto& order = race.running_order;
  if (order.size() < 2 || order[0].slot != slot) return style.type_close;
  const int second = order[1].slot;
  const int k = order[1].gate_count - 1;
  int gap = 0;
  if (k >= 0) {
    const int t2 = crossing_tic(race, second, k);
    const int t1 = crossing_tic(race, slot, k);
    if (t1 >= 0 && t2 >= 0 && t2 > t1) gap = t2 - t1;
  }
  return gap / double(kTicsPerSecond) <= double(style.gap) ? style.type_close : style.type_far;
}

double line_match(const std::vector<LinePoint>& path, const RacingLine& line, const Vec3& chassis) {
  // An empty slot can't continue anything (it can't be picked either).
  if (line.points.empty()) return 0;
  const size_t n = path.size();
  if (n < 3) {
    const LinePoint& f = line.points[0];
    const double d = std::sqrt((f.x - chassis[0]) * (f.x - chassis[0]) +
                               (f.y - chassis[1]) * (f.y - chassis[1]) +
                               (f.z - chassis[2]) * (f.z - chassis[2]));
    return 10 * cube(clamp01((100 - d) / 96));
  }
  if (line.points.size() < 2) return 0;
  const LinePoint& last = path[n - 1];
  const Circle c = circle_through(path[n - 3], path[n - 2], last);
  const double r = hdist(c.cx, c.cz, last.x, last.z);
  const double v = std::abs(double(last.speed));
  const LinePoint& p0 = line.points[0];
  const LinePoint& p1 = line.points[1];
  const double d0 = hdist(c.cx, c.cz, p0.x, p0.z);
  const double d1 = hdist(c.cx, c.cz, p1.x, p1.z);
  const double s = clamp01(-0.2 * (v - std::abs(double(p0.speed)) - 15));
  const double a = clamp01(-(2.0 / 7.0) * (std::abs(r - d0) - 5));
  const double b = clamp01(-0.5 * (std::abs(d1 - d0) - 3));
  return s * cube(a * b);
}

void append_to_path(RobotState& robot, const RacingLine& line, const Vec3& chassis,
                    const Vec3& forward) {
  if (line.points.empty()) return;
  std::vector<LinePoint>& path = robot.path;
  if (path.empty()) path.assign(5, line.points[0]);
  const int i1 = static_cast<int>(path.size());
  path.insert(path.end(), line.points.begin(), line.points.end());
  const int i0 = std::max(i1 - 5, robot.target);
  if (i0 < 0 || i0 >= i1 - 1) return;
  const LinePoint a = path[size_t(i0)];
  const LinePoint b = path[size_t(i1)];
  if (a.speed < 0 || b.speed < 0) return;  // a join in the air stays as recorded

  const double span = i1 - i0;
  Vec3 p0{a.x, a.y, a.z}, t0{};
  if (i0 == 0) {
    p0 = chassis;
    t0 = {forward[0] * 7.5 * i1, forward[1] * 7.5 * i1, forward[2] * 7.5 * i1};
  } else {
    const LinePoint& q = path[size_t(i0 - 1)];
    t0 = {(a.x - q.x) * span, (a.y - q.y) * span, (a.z - q.z) * span};
  }
  const Vec3 p1{b.x, b.y, b.z};
  Vec3 t1{};
  if (size_t(i1 + 1) < path.size()) {
    const LinePoint& q = path[size_t(i1 + 1)];
    t1 = {(q.x - b.x) * span, (q.y - b.y) * span, (q.z - b.z) * span};
  }
  for (int k = i0 + 1; k < i1; ++k) {
    const double t = (k - i0) / span;
    const double t2 = t * t, t3 = t2 * t;
    const double h00 = 2 * t3 - 3 * t2 + 1, h10 = t3 - 2 * t2 + t;
    const double h01 = -2 * t3 + 3 * t2, h11 = t3 - t2;
    LinePoint& pt = path[size_t(k)];
    pt.x = float(h00 * p0[0] + h10 * t0[0] + h01 * p1[0] + h11 * t1[0]);
    pt.y = float(h00 * p0[1] + h10 * t0[1] + h01 * p1[1] + h11 * t1[1]);
    pt.z = float(h00 * p0[2] + h10 * t0[2] + h01 * p1[2] + h11 * t1[2]);
    const double blend = double(a.speed) + (double(b.speed) - double(a.speed)) * t;
    pt.speed = float(std::min(double(pt.speed), blend));
    pt.lean = float(double(a.lean) + (double(b.lean) - double(a.lean)) * t);
  }
}

int pick_line(RaceState& race, int slot, RobotState& robot, const Vec3& chassis,
              const Vec3& forward) {
  LineStore& store = line_store();
  if (store.records.empty()) return -1;
  // A record without lines is passed over, and the path goes on with the next stretch
  // that has one: otherwise a single gap in the store strands every robot there for good.
  int k = robot.next_record;
  int rec = -1;
  for (size_t tries = 0;; ++tries) {
    rec = line_record(store, k);
    if (rec < 0 || rec >= static_cast<int>(store.records.size())) return -1;
    bool any = false;
    for (const RacingLine& l : store.records[size_t(rec)].lines) any = any || !l.points.empty();
    if (any) break;
    if (tries + 1 >= store.records.size()) return -1;
    ++k;
  }
  LineRecord& record = store.records[size_t(rec)];

  const RiderStyle& style = rider_style(robot.personality);
  const int type = selection_type(race, slot, style);
  const int now = race.current_tic;
  const double race_time = now / double(kTicsPerSecond);

  // Weights: how cheap the best chain of lines over the next 8 records is from each line.
  ChainCosts m;
  for (auto& row : m) row.fill(kUnreached);
  line_chain_costs(store, k, 8, type, m, nullptr);
  std::array<double, kLinesPerRecord> best{};
  double lowest = 1e300;
  for (size_t i = 0; i < size_t(kLinesPerRecord); ++i) {
    best[i] = double(*std::min_element(m[i].begin(), m[i].end()));
    if (!record.lines[i].points.empty()) lowest = std::min(lowest, best[i]);
  }
  int plan_id = 0;
  if (type >= 0 && type <= 2 && size_t(rec) < store.plan[size_t(type)].size())
    plan_id = store.plan[size_t(type)][size_t(rec)];
  const double plan_pull = clamp01((race_time - 40) * 0.05);

  int picked = -1;
  double picked_score = 0, picked_match = 0, picked_since = 0;
  for (size_t i = 0; i < size_t(kLinesPerRecord); ++i) {
    const RacingLine& l = record.lines[i];
    if (l.points.empty()) continue;
    double weight = best[i] <= 0 ? 1.0 : lowest / best[i];
    if (plan_id != 0 && l.id == plan_id) weight += (1 - weight) * plan_pull;
    if (k == 0) weight = 0.8 + 0.2 * weight;
    const double match = line_match(robot.path, l, chassis);
    const double since = (now - l.last_picked) / double(kTicsPerSecond);
    const double score = weight * clamp01(since / 3) + match;
    if (picked < 0 && !(score > 0)) continue;
    if (picked < 0 || score > picked_score) {
      picked = int(i);
      picked_score = score;
      picked_match = match;
      picked_since = since;
    }
  }
  if (picked < 0) {
    // Nothing scored: the first line there is.
    for (size_t i = 0; i < size_t(kLinesPerRecord) && picked < 0; ++i)
      if (!record.lines[i].points.empty()) picked = int(i);
    const RacingLine& l = record.lines[size_t(picked)];
    picked_match = line_match(robot.path, l, chassis);
    picked_since = (now - l.last_picked) / double(kTicsPerSecond);
  }
  if (detail_settings().verbose >= 1)
    vant_log("auto pilot: picking %d score = %f match = %f last_picked = %f\n", picked,
             picked_score, picked_match, picked_since);

  RacingLine& chosen = record.lines[size_t(picked)];
  // Other robots spread over other lines for a while: the pick and every line ending
  // near it are marked as just picked.
  const LinePoint end = chosen.points.back();
  for (RacingLine& l : record.lines)
    if (!l.points.empty() && dist3(l.points.back(), end) <= 3) l.last_picked = now;
  chosen.last_picked = now;

  if (BikeState* bike = slot_bike(race, slot)) bike->followed_lines[size_t(k % 4)] = chosen.id;
  robot.next_record = k + 1;
  if (robot.target > 30) {
    robot.path.erase(robot.path.begin(), robot.path.begin() + (robot.target - 30));
    robot.target = 30;
  }
  append_to_path(robot, chosen, chassis, forward);
  if (k == 0) {
    const LinePoint first = robot.path.front();
    for (size_t i = 0; i < robot.path.size(); ++i) {
      if (dist3(robot.path[i], first) > 10) {
        robot.target = int(i);
        break;
      }
    }
    robot.last_advance_tic = 30 * kTicsPerSecond;
  }
  return picked;
}

}  // namespace ks
