// The ground of a track: rolling land (or dunes) from seeded waves, and the track cut into
// it. Every sample near a path learns its nearest path point (arc position and lateral
// offset); its height is then the smoothed grade plus the feature profile at that arc
// position, banked in the turns, falling away to the natural ground beyond the edges.
//
//   ground       waves, the hill, the grade the track follows
//   lookup       nearest path point per sample
//   heights      cross-section, the gate pad, quantisation and "terrain.hf"
#include <algorithm>
#include <cstdio>
#include <limits>

#include "mkdata.h"

namespace ks::mkdata {

namespace {

constexpr double kTau = 6.28318530717958648;

// ---- ground -------------------------------------------------------------------------------

struct Wave {
  double kx = 0, kz = 0, amp = 0, phase = 0;
  bool ridge = false;
};

struct GroundModel {
  std::vector<Wave> grade;   // what the track follows too
  std::vector<Wave> detail;  // only off the track
  double hill_x = 0, hill_z = 0, hill_h = 0, hill_sigma = 1;
  double offset = 0;         // subtracted everywhere so the gate pad sits at 0
};

// Waves of random heading, or within `spread` radians of `heading` when spread is given.
void add_waves(Draw& r, std::vector<Wave>& out, int n, double lambda_lo, double lambda_hi,
               double amp_lo, double amp_hi, bool ridge, double heading = 0,
               double spread = -1) {
  for (int i = 0; i < n; ++i) {
    const double theta = spread < 0 ? r.range(0, kTau) : heading + r.range(-spread, spread);
    const double lambda = r.range(lambda_lo, lambda_hi);
    Wave w;
    w.kx = std::cos(theta) * kTau / lambda;
    w.kz = std::sin(theta) * kTau / lambda;
    w.amp = r.range(amp_lo, amp_hi);
    w.phase = r.range(0, kTau);
    w.ridge = ridge;
    out.push_back(w);
  }
}

// Many small waves whose height grows with their length (equal steepness each), so that
// no single heading shows: it reads as lumpy ground rather than corrugation.
void add_lumps(Draw& r, std::vector<Wave>& out, int n, double lambda_lo, double lambda_hi,
               double steepness) {
  for (int i = 0; i < n; ++i) {
    const double theta = r.range(0, kTau);
    const double lambda = lambda_lo * std::pow(lambda_hi / lambda_lo, r.unit());
    Wave w;
    w.kx = std::cos(theta) * kTau / lambda;
    w.kz = std::sin(theta) * kTau / lambda;
    w.amp = steepness * lambda * r.range(0.6, 1.4);
    w.phase = r.range(0, kTau);
    out.push_back(w);
  }
}

GroundModel make_ground(const TrackLayout& t) {
  Draw r(t.seed);
  GroundModel g;
  const double e = t.extent();
  if (t.ground == Ground::hills) {
    add_waves(r, g.grade, 6, 500, 1400, 2.5, 5.5, false);
    add_lumps(r, g.detail, 40, 30, 320, 0.0022);
    g.hill_x = e * 0.76;
    g.hill_z = e * 0.31;
    g.hill_h = 28;
    g.hill_sigma = 320;
  } else {
    // Dune ridges lie across the wind off the sea.
    const double wind = r.range(0, kTau);
    add_waves(r, g.grade, 5, 260, 600, 4, 8, true, wind, 0.45);
    add_waves(r, g.grade, 3, 700, 1200, 2, 4, false);
    add_lumps(r, g.detail, 40, 40, 300, 0.0026);
    add_waves(r, g.detail, 3, 9, 16, 0.02, 0.045, false, wind, 0.2);  // ripples
    g.hill_x = e * 0.55;
    g.hill_z = e * 0.5;
    g.hill_h = 12;
    g.hill_sigma = 260;
  }
  return g;
}

// `soft` rounds the dune crests more (what the track builders' dozer leaves).
double wave_sum(const std::vector<Wave>& ws, double x, double z, double soft) {
  double h = 0;
  for (const Wave& w : ws) {
    const double v = std::sin(w.kx * x + w.kz * z + w.phase);
    if (w.ridge) {
      const double a = std::sqrt(v * v + soft);
      h += w.amp * (std::sqrt(1 + soft) - a);
    } else {
      h += w.amp * v;
    }
  }
  return h;
}

double grade_at(const GroundModel& g, double x, double z, double soft) {
  const double dx = x - g.hill_x, dz = z - g.hill_z;
  const double hill = g.hill_h * std::exp(-(dx * dx + dz * dz) / (2 * g.hill_sigma * g.hill_sigma));
  return wave_sum(g.grade, x, z, soft) + hill - g.offset;
}

// The grade under the track's centre line. The track is level across (a groomed track
// doesn't lean with the hillside), so berms bank against the horizontal.
double track_grade_at(const GroundModel& g, double x, double z) {
  return grade_at(g, x, z, 0.5);
}

std::vector<double> grade_along(const GroundModel& g, const Path& p) {
  std::vector<double> out;
  out.reserve(p.pts.size());
  for (const PathPoint& pt : p.pts) out.push_back(track_grade_at(g, pt.p.x, pt.p.z));
  return out;
}

double grade_at_s(const Path& p, const std::vector<double>& grade, double s) {
  const size_t n = grade.size();
  if (p.closed) s = std::fmod(std::fmod(s, p.length) + p.length, p.length);
  double f = s / p.step;
  if (!p.closed) f = std::clamp(f, 0.0, static_cast<double>(n - 1));
  const size_t i = static_cast<size_t>(f) % n;
  const size_t j = p.closed ? (i + 1) % n : std::min(i + 1, n - 1);
  const double u = f - std::floor(f);
  return grade[i] + (grade[j] - grade[i]) * u;
}

// The same sums over the sample grid without a sine per sample and wave:
// sin(a + b) = sin a cos b + cos a sin b, with a from the column and b from the row.
class GroundGrid {
 public:
  GroundGrid(const GroundModel& g, int size, double spacing) : g_(g), size_(size), sp_(spacing) {
    add(g.grade, grade_);
    add(g.detail, detail_);
  }
  // Natural ground at sample (i, j): natural_at without a sine per wave.
  double natural(int i, int j) const {
    double sharp = 0, detail = 0;
    for (const Table& t : grade_) {
      const double v = t.value(i, j, size_);
      if (t.wave->ridge) sharp += t.wave->amp * (std::sqrt(1 + 0.04) - std::sqrt(v * v + 0.04));
      else sharp += t.wave->amp * v;
    }
    for (const Table& t : detail_) detail += t.wave->amp * t.value(i, j, size_);
    const double x = i * sp_, z = j * sp_;
    const double dx = x - g_.hill_x, dz = z - g_.hill_z;
    const double hill = g_.hill_h * std::exp(-(dx * dx + dz * dz) / (2 * g_.hill_sigma * g_.hill_sigma));
    return sharp + hill + detail - g_.offset;
  }

 private:
  struct Table {
    const Wave* wave;
    std::vector<double> sin_col, cos_col, sin_row, cos_row;
    double value(int i, int j, int) const {
      const auto a = static_cast<size_t>(i), b = static_cast<size_t>(j);
      return sin_col[a] * cos_row[b] + cos_col[a] * sin_row[b];
    }
  };
  void add(const std::vector<Wave>& waves, std::vector<Table>& out) {
    for (const Wave& w : waves) {
      Table t;
      t.wave = &w;
      for (int k = 0; k < size_; ++k) {
        const double a = w.kx * k * sp_, b = w.kz * k * sp_ + w.phase;
        t.sin_col.push_back(std::sin(a));
        t.cos_col.push_back(std::cos(a));
        t.sin_row.push_back(std::sin(b));
        t.cos_row.push_back(std::cos(b));
      }
      out.push_back(std::move(t));
    }
  }
  const GroundModel& g_;
  int size_;
  double sp_;
  std::vector<Table> grade_, detail_;
};

// ---- lookup -------------------------------------------------------------------------------

struct Nearest {
  double d2 = std::numeric_limits<double>::max();
  int8_t path = -1;
  int32_t index = -1;
};

void rasterize(const Path& p, int8_t id, const TrackLayout& t, int size,
               std::vector<Nearest>& near) {
  const double sp = t.spacing;
  for (size_t k = 0; k < p.pts.size(); ++k) {
    const PathPoint& pt = p.pts[k];
    const double rad = pt.half_width + 38;
    const int i0 = std::max(0, static_cast<int>(std::floor((pt.p.x - rad) / sp)));
    const int i1 = std::min(size - 1, static_cast<int>(std::ceil((pt.p.x + rad) / sp)));
    const int j0 = std::max(0, static_cast<int>(std::floor((pt.p.z - rad) / sp)));
    const int j1 = std::min(size - 1, static_cast<int>(std::ceil((pt.p.z + rad) / sp)));
    const double r2 = rad * rad;
    for (int j = j0; j <= j1; ++j) {
      const double dz = j * sp - pt.p.z;
      for (int i = i0; i <= i1; ++i) {
        const double dx = i * sp - pt.p.x;
        const double d2 = dx * dx + dz * dz;
        if (d2 > r2) continue;
        Nearest& n = near[static_cast<size_t>(j) * static_cast<size_t>(size) + static_cast<size_t>(i)];
        if (d2 < n.d2) {
          n.d2 = d2;
          n.path = id;
          n.index = static_cast<int32_t>(k);
        }
      }
    }
  }
}

// Continuous arc position and signed offset of q against its nearest path point k.
void project(const Path& p, int32_t k, Vec2 q, double& s, double& d) {
  const PathPoint& c = p.pts[static_cast<size_t>(k)];
  s = c.s + std::clamp(dot(q - c.p, c.dir), -p.step, p.step);
  if (p.closed) s = std::fmod(s + p.length, p.length);
  else s = std::clamp(s, 0.0, p.length);
  const PathPoint at = p.at(s);
  d = cross(at.dir, q - at.p);
}

}  // namespace

// ---- heights ------------------------------------------------------------------------------

bool shape_terrain(const TrackLayout& t, TerrainResult& out) {
  HeightField& hf = out.hf;
  if (!init_height_field(hf, t.exponent, static_cast<float>(t.spacing), 0.0f)) return false;
  const int size = hf.size;
  const double sp = t.spacing;
  GroundModel g = make_ground(t);
  const PathPoint gate = t.chute.at(t.gate_s);
  g.offset = track_grade_at(g, gate.p.x, gate.p.z);

  const GroundGrid grid(g, size, sp);
  const std::vector<double> lap_grade = grade_along(g, t.lap);
  const std::vector<double> chute_grade = grade_along(g, t.chute);
  std::vector<Nearest> near(static_cast<size_t>(size) * static_cast<size_t>(size));
  rasterize(t.lap, 0, t, size, near);
  rasterize(t.chute, 1, t, size, near);

  out.info.assign(near.size(), SampleInfo{});
  const double pad_blend = 70;
  for (int j = 0; j < size; ++j) {
    for (int i = 0; i < size; ++i) {
      const size_t idx = static_cast<size_t>(j) * static_cast<size_t>(size) + static_cast<size_t>(i);
      const Vec2 q{i * sp, j * sp};
      const double natural = grid.natural(i, j);
      const Nearest& n = near[idx];
      if (n.path < 0) {
        hf.heights[idx] = static_cast<float>(natural);
        continue;
      }
      const Path& p = n.path == 0 ? t.lap : t.chute;
      double s = 0, d = 0;
      project(p, n.index, q, s, d);
      const PathPoint at = p.at(s);
      const double hw = at.half_width;
      double grade = grade_at_s(p, n.path == 0 ? lap_grade : chute_grade, s);
      if (n.path == 1) grade *= smoothstep((s - t.pad_length) / pad_blend);
      const double feature = p.surface_height(s);
      const double hb = std::fabs(at.bank);
      const double e = at.bank > 0 ? -d : d;  // outward offset
      auto core = [&](double ee) {
        // Rising ever steeper towards the outside edge, as a berm is pushed up.
        const double u = (std::clamp(ee, -hw, hw) + hw) / (2 * hw);
        return grade + feature + hb * u * u * u;
      };
      double h = 0;
      const double ad = std::fabs(d);
      if (ad <= hw) {
        h = core(e);
      } else {
        const double edge = core(e > 0 ? hw : -hw);
        const double flat = (e > 0 && hb > 0.5) ? 3.0 : 1.5;
        const double room = 38 - flat - 1;
        const double fall = std::min(room, std::max(6.0, 1.8 * std::fabs(edge - natural)));
        const double u = ad - hw;
        h = u <= flat ? edge : edge + (natural - edge) * smoothstep((u - flat) / fall);
      }
      hf.heights[idx] = static_cast<float>(h);
      SampleInfo& si = out.info[idx];
      si.path = n.path;
      si.s = static_cast<float>(s);
      si.d = static_cast<float>(d);
      si.half_width = static_cast<float>(hw);
      si.feature = static_cast<float>(feature);
      si.bank = static_cast<float>(at.bank);
      si.surface = at.surface;
    }
  }

  // Quantise now, against the range the header will carry, so that everything baked and
  // placed from here on sees the heights the game will load.
  update_height_range(hf);
  hf.min_height = std::floor(hf.min_height);
  hf.max_height = std::ceil(hf.max_height);
  if (hf.max_height <= hf.min_height) hf.max_height = hf.min_height + 1;
  const double lo = static_cast<double>(hf.min_height);
  const double range = static_cast<double>(hf.max_height) - lo;
  for (float& h : hf.heights) {
    const double v = std::floor((static_cast<double>(h) - lo) / range * 65535.0 + 0.5);
    h = static_cast<float>(lo + std::clamp(v, 0.0, 65535.0) * range / 65535.0);
  }
  hf.loaded_heights = hf.heights;
  return true;
}

std::string terrain_hf_bytes(const HeightField& hf) {
  char head[160];
  std::snprintf(head, sizeof head, "%d %f %f %f\n:", hf.exponent, static_cast<double>(hf.spacing),
                static_cast<double>(hf.min_height), static_cast<double>(hf.max_height));
  std::string out = head;
  const double lo = static_cast<double>(hf.min_height);
  const double range = static_cast<double>(hf.max_height) - lo;
  out.reserve(out.size() + hf.heights.size() * 2);
  for (float h : hf.heights) {
    const double v = std::clamp(std::floor((static_cast<double>(h) - lo) / range * 65535.0 + 0.5), 0.0, 65535.0);
    const auto u = static_cast<uint16_t>(v);
    out.push_back(static_cast<char>(u & 0xff));
    out.push_back(static_cast<char>(u >> 8));
  }
  return out;
}

}  // namespace ks::mkdata
