// Racing-line analysis: the cost of a line for a selection type, which lines lead into
// which, the cheapest chains over consecutive records, pruning of crowded first-lap
// records, and the three line plans.
#include <algorithm>
#include <cmath>
#include <cstdint>

#include "autopilot/racing_lines.h"
#include "core/detail_settings.h"
#include "platform/vant.h"

namespace ks {

namespace {

constexpr double kFarCentre = 1e6;

double clamp01(double v) { return std::clamp(v, 0.0, 1.0); }

int bit_length(int64_t v) {
  int n = 0;
  while (v > 0) {
    ++n;
    v >>= 1;
  }
  return n;
}

double horizontal_distance(double cx, double cz, const LinePoint& p) {
  return std::hypot(double(p.x) - cx, double(p.z) - cz);
}

// The test of lines_connect with the circle of `from` already known.
bool connects_on_circle(const RacingLine& from, const Circle& c, const RacingLine& to) {
  if (from.points.size() < 3 || to.points.size() < 2) return false;
  const LinePoint& last = from.points.back();
  const LinePoint& t0 = to.points[0];
  const LinePoint& t1 = to.points[1];
  if (!(std::fabs(last.speed) <= std::fabs(t0.speed) + 15.0f)) return false;
  const double d0 = horizontal_distance(c.cx, c.cz, t0);
  const double d1 = horizontal_distance(c.cx, c.cz, t1);
  return d0 >= std::max(c.r - 2.5, 0.0) && d0 <= c.r + 2.5 && std::fabs(d1 - d0) <= 2.0;
}

Circle line_end_circle(const RacingLine& line) {
  const auto& p = line.points;
  if (p.size() < 3) return {};
  return circle_through(p[p.size() - 3], p[p.size() - 2], p.back());
}

// Lines of record `from` that lead into each line of record `to`.
using Links = std::array<std::array<bool, kLinesPerRecord>, kLinesPerRecord>;  // [from][to]
void record_links(const LineRecord& from, const LineRecord& to, Links& out) {
  for (int i = 0; i < kLinesPerRecord; ++i) {
    out[i].fill(false);
    const RacingLine& a = from.lines[i];
    if (a.points.size() < 3) continue;
    const Circle c = line_end_circle(a);
    for (int j = 0; j < kLinesPerRecord; ++j) out[i][j] = connects_on_circle(a, c, to.lines[j]);
  }
}

double orient(const LinePoint& p, const LinePoint& q, const LinePoint& r) {
  return (double(q.x) - p.x) * (double(r.z) - p.z) - (double(q.z) - p.z) * (double(r.x) - p.x);
}

bool segments_cross(const LinePoint& a, const LinePoint& b, const LinePoint& c,
                    const LinePoint& d) {
  return orient(a, b, c) * orient(a, b, d) < 0 && orient(c, d, a) * orient(c, d, b) < 0;
}

struct Box {
  float x0, x1, z0, z1;
};
Box line_box(const RacingLine& l) {
  Box b{l.points[0].x, l.points[0].x, l.points[0].z, l.points[0].z};
  for (const LinePoint& p : l.points) {
    b.x0 = std::min(b.x0, p.x);
    b.x1 = std::max(b.x1, p.x);
    b.z0 = std::min(b.z0, p.z);
    b.z1 = std::max(b.z1, p.z);
  }
  return b;
}

// Pruning's tie rule: whether `cand` is the faster of the two.
bool faster_line(const RacingLine& cand, const RacingLine& cur) {
  const bool ct = cand.tested > 0, rt = cur.tested > 0;
  if (ct != rt) return ct;
  if (!ct) return cand.time_b < cur.time_b;
  // sum / tested compared exactly
  return cand.sum_b * cur.tested < cur.sum_b * cand.tested;
}

bool verbose() { return detail_settings().verbose >= 1; }

}  // namespace

int line_cost(const RacingLine& line, int type) {
  const int64_t tested = std::max(line.tested, 0);
  const int64_t fails = std::max(line.fails, 0);
  if (type == 3) {
    if (tested + fails >= 6 && fails > 4 * tested) return 100000;
    const int64_t v = tested + 4 * fails;
    return v == 0 ? 0 : 1000 * (bit_length(v) + 4);
  }
  if (type < 0 || type > 3) return kLineUntimed;
  const int64_t needed = type == 2 ? 1 : 5;
  if (tested < needed) return kLineUntimed;
  const double r = double(fails) / double(tested + fails);
  const double scale = type == 0 ? 1.0 : type == 1 ? 8.0 / 7.0 : 4.0;
  const double cost = double(line.sum_a) / double(tested) +
                      kLineFailurePenalty * clamp01(r * scale);
  return int(std::llround(std::min(cost, double(kNoChain))));
}

Circle circle_through(const LinePoint& a, const LinePoint& b, const LinePoint& c) {
  // Bisector of a-b: m1 + t * d1; the centre also lies on the bisector of b-c.
  const double m1x = (double(a.x) + b.x) / 2, m1z = (double(a.z) + b.z) / 2;
  const double m2x = (double(b.x) + c.x) / 2, m2z = (double(b.z) + c.z) / 2;
  const double e1x = double(b.x) - a.x, e1z = double(b.z) - a.z;
  const double e2x = double(c.x) - b.x, e2z = double(c.z) - b.z;
  const double l1 = std::hypot(e1x, e1z), l2 = std::hypot(e2x, e2z);
  const double d1x = -e1z, d1z = e1x;  // perpendicular of a-b
  const double den = d1x * e2x + d1z * e2z;
  Circle out;
  if (l1 > 0 && l2 > 0 && std::fabs(den) > 1e-6 * l1 * l2) {
    const double t = -((m1x - m2x) * e2x + (m1z - m2z) * e2z) / den;
    out.cx = m1x + t * d1x;
    out.cz = m1z + t * d1z;
  } else {
    // In a line (or repeated points): far off to the side of the last step.
    double ux = -e2z, uz = e2x, len = l2;
    if (!(len > 0)) {
      ux = -e1z;
      uz = e1x;
      len = l1;
    }
    if (!(len > 0)) {
      ux = 1;
      uz = 0;
      len = 1;
    }
    out.cx = m2x + ux / len * kFarCentre;
    out.cz = m2z + uz / len * kFarCentre;
  }
  out.r = horizontal_distance(out.cx, out.cz, c);
  return out;
}

bool lines_connect(const RacingLine& from, const RacingLine& to) {
  if (from.points.size() < 3) return false;
  return connects_on_circle(from, line_end_circle(from), to);
}

void line_chain_costs(const LineStore& store, int first, int n, int type, ChainCosts& m,
                      std::vector<ChainBack>* back) {
  for (auto& row : m) row.fill(kNoChain);
  if (back != nullptr) {
    ChainBack none;
    for (auto& row : none) row.fill(kNoBack);
    back->assign(size_t(std::max(n, 0)), none);
  }
  if (n <= 0) return;
  std::vector<int> recs(size_t(n) + 1);
  for (int k = 0; k <= n; ++k) {
    recs[size_t(k)] = line_record(store, first + k);
    if (recs[size_t(k)] < 0) return;
  }
  auto record = [&](int k) -> const LineRecord& { return store.records[size_t(recs[size_t(k)])]; };
  std::array<int, kLinesPerRecord> cost{};
  Links links;

  const LineRecord& r0 = record(0);
  for (int i = 0; i < kLinesPerRecord; ++i) cost[size_t(i)] = line_cost(r0.lines[size_t(i)], type);
  record_links(r0, record(1), links);
  for (int i = 0; i < kLinesPerRecord; ++i) {
    for (int j = 0; j < kLinesPerRecord; ++j) {
      if (!links[size_t(i)][size_t(j)]) continue;
      m[size_t(i)][size_t(j)] = std::min<int64_t>(cost[size_t(i)], kNoChain - 1);
      if (back != nullptr) (*back)[0][size_t(i)][size_t(j)] = uint8_t(i);
    }
  }
  ChainCosts next;
  for (int k = 1; k < n; ++k) {
    const LineRecord& rk = record(k);
    for (int l = 0; l < kLinesPerRecord; ++l) cost[size_t(l)] = line_cost(rk.lines[size_t(l)], type);
    record_links(rk, record(k + 1), links);
    for (auto& row : next) row.fill(kNoChain);
    for (int l = 0; l < kLinesPerRecord; ++l) {
      const auto& to = links[size_t(l)];
      if (std::none_of(to.begin(), to.end(), [](bool b) { return b; })) continue;
      for (int i = 0; i < kLinesPerRecord; ++i) {
        const int64_t here = m[size_t(i)][size_t(l)];
        if (here >= kNoChain) continue;
        const int64_t via = std::min<int64_t>(here + cost[size_t(l)], kNoChain - 1);
        for (int j = 0; j < kLinesPerRecord; ++j) {
          // l rises, so the strict test keeps the lowest l on ties
          if (to[size_t(j)] && via < next[size_t(i)][size_t(j)]) {
            next[size_t(i)][size_t(j)] = via;
            if (back != nullptr) (*back)[size_t(k)][size_t(i)][size_t(j)] = uint8_t(l);
          }
        }
      }
    }
    m = next;
  }
}

bool lines_cross(const RacingLine& a, const RacingLine& b) {
  if (a.points.size() < 2 || b.points.size() < 2) return false;
  const Box ba = line_box(a), bb = line_box(b);
  if (ba.x1 < bb.x0 || bb.x1 < ba.x0 || ba.z1 < bb.z0 || bb.z1 < ba.z0) return false;
  for (size_t i = 0; i + 1 < a.points.size(); ++i) {
    const LinePoint& p = a.points[i];
    const LinePoint& q = a.points[i + 1];
    const float x0 = std::min(p.x, q.x), x1 = std::max(p.x, q.x);
    const float z0 = std::min(p.z, q.z), z1 = std::max(p.z, q.z);
    for (size_t j = 0; j + 1 < b.points.size(); ++j) {
      const LinePoint& c = b.points[j];
      const LinePoint& d = b.points[j + 1];
      if ((c.x < x0 && d.x < x0) || (c.x > x1 && d.x > x1) || (c.z < z0 && d.z < z0) ||
          (c.z > z1 && d.z > z1)) {
        continue;  // the boxes miss
      }
      if (segments_cross(p, q, c, d)) return true;
    }
  }
  return false;
}

int prune_record(LineRecord& record) {
  int emptied = 0;
  for (int count = line_count(record); count >= kLinesPerRecord - 1; count -= 2) {
    std::array<int, kLinesPerRecord> crossings{};
    for (int i = 0; i < kLinesPerRecord; ++i) {
      for (int j = i + 1; j < kLinesPerRecord; ++j) {
        if (lines_cross(record.lines[size_t(i)], record.lines[size_t(j)])) {
          ++crossings[size_t(i)];
          ++crossings[size_t(j)];
        }
      }
    }
    int pick = -1;
    for (int i = 0; i < kLinesPerRecord; ++i) {
      const int c = crossings[size_t(i)];
      if (c < 1) continue;
      if (pick < 0 || c > crossings[size_t(pick)] ||
          (c == crossings[size_t(pick)] &&
           faster_line(record.lines[size_t(i)], record.lines[size_t(pick)]))) {
        pick = i;
      }
    }
    if (pick >= 0) {
      record.lines[size_t(pick)] = RacingLine{};
      ++emptied;
    }
    const int e = eviction_choice(record);
    if (e >= 0) {
      record.lines[size_t(e)] = RacingLine{};
      ++emptied;
    }
  }
  return emptied;
}

void analyze_lines(LineStore& store) {
  for (auto& p : store.plan) p.clear();
  if (store.records.empty()) return;
  const int fu = store.first_lap, nu = store.normal_lap;
  for (int r = 0; r < fu; ++r) prune_record(store.records[size_t(r)]);

  auto id_of = [&](int rec, int slot) { return store.records[size_t(rec)].lines[size_t(slot)].id; };
  ChainCosts m;
  std::vector<ChainBack> back;
  for (int t = 0; t < 3; ++t) {
    std::vector<int>& plan = store.plan[size_t(t)];
    plan.assign(size_t(fu + nu), 0);

    // Normal lap: the cheapest chain that closes on itself.
    line_chain_costs(store, fu, nu, t, m, &back);
    int f = 0;
    for (int i = 1; i < kLinesPerRecord; ++i) {
      if (m[size_t(i)][size_t(i)] < m[size_t(f)][size_t(f)]) f = i;
    }
    const int64_t normal_cost = m[size_t(f)][size_t(f)];
    const bool closed = normal_cost < kNoChain;
    if (closed) {
      plan[size_t(fu)] = id_of(fu, f);
      int cur = f;
      for (int k = nu - 1; k >= 1; --k) {
        const int l = back[size_t(k)][size_t(f)][size_t(cur)];
        if (l == kNoBack) break;
        plan[size_t(fu + k)] = id_of(fu + k, l);
        cur = l;
      }
    }

    // First lap: the cheapest start arriving on that lap's first line (on any line when
    // the normal lap doesn't close).
    int64_t first_cost = kNoChain;
    if (fu > 0) {
      line_chain_costs(store, 0, fu, t, m, &back);
      int w = 0, j = f;
      for (int i = 0; i < kLinesPerRecord; ++i) {
        for (int a = 0; a < kLinesPerRecord; ++a) {
          if (closed && a != f) continue;
          if (m[size_t(i)][size_t(a)] < m[size_t(w)][size_t(j)]) {
            w = i;
            j = a;
          }
        }
      }
      first_cost = m[size_t(w)][size_t(j)];
      if (first_cost < kNoChain) {
        plan[0] = id_of(0, w);
        int cur = j;
        for (int k = fu - 1; k >= 1; --k) {
          const int l = back[size_t(k)][size_t(w)][size_t(cur)];
          if (l == kNoBack) break;
          plan[size_t(k)] = id_of(k, l);
          cur = l;
        }
      }
    }
    if (verbose()) {
      vant_log("First lap: %f\n", double(first_cost) / kTicsPerSecond);
      vant_log("Normal lap: %f\n", double(normal_cost) / kTicsPerSecond);
    }
  }
}

void analyze_lines() { analyze_lines(line_store()); }

}  // namespace ks
