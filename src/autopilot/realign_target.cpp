// Where a fallen rider is turned to face before he rides on: a robot's path point, or
// else a little way along the fastest racing line of the stretch he is on.
#include <cmath>

#include "autopilot/autopilot.h"
#include "autopilot/racing_lines.h"

namespace ks {

namespace {

// The line of a record with the smallest stretch time among those holding a point.
const RacingLine* fastest_line(const LineStore& store, int line_index) {
  const int rec = line_record(store, line_index);
  if (rec < 0 || rec >= int(store.records.size())) return nullptr;
  const RacingLine* best = nullptr;
  for (const RacingLine& l : store.records[size_t(rec)].lines)
    if (!l.points.empty() && (best == nullptr || l.time_a < best->time_a)) best = &l;
  return best;
}

}  // namespace

bool line_realign_target(const LineStore& store, int gate_count, const std::array<double, 3>& at,
                         std::array<double, 3>& out) {
  if (store.records.empty()) return false;
  const int first = store_line_index(store, gate_count);
  // The stretch he is on, or the next one or two when he is already at its last point.
  for (int j = first; j <= first + 2; ++j) {
    const RacingLine* line = fastest_line(store, j);
    if (line == nullptr || line->points.size() < 2) return false;
    const auto& pts = line->points;
    size_t nearest = 0;
    double best = 1e300;
    for (size_t i = 0; i < pts.size(); ++i) {
      const double dx = pts[i].x - at[0], dy = pts[i].y - at[1], dz = pts[i].z - at[2];
      const double d = dx * dx + dy * dy + dz * dz;
      if (d < best) {
        best = d;
        nearest = i;
      }
    }
    if (nearest + 1 == pts.size()) continue;
    const size_t ahead = nearest + 4;
    const LinePoint* p = nullptr;
    if (ahead < pts.size()) {
      p = &pts[ahead];
    } else {
      const RacingLine* next = fastest_line(store, j + 1);
      if (next == nullptr || next->points.empty()) return false;
      p = &next->points[std::min(ahead - pts.size(), next->points.size() - 1)];
    }
    out = {p->x, p->y, p->z};
    return true;
  }
  return false;
}

}  // namespace ks
