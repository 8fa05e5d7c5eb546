// Track layouts: each lap is drawn as a polygon whose corners are rounded into arcs (the
// way a track builder stakes out straights and turns), sampled every foot of arc length.
// A separate start chute with the starting gate joins the lap at the exit of one corner.
// Jumps are placed on the straights as lists of mounds.
//
//   designs      the corner lists and feature placements of every track
//   features     the mound recipes of tabletop, double, step-up, whoops, rhythm ...
//   sampling     arcs and straights, banking and width, the chute
#include <algorithm>
#include <cstdio>

#include "mkdata.h"

namespace ks::mkdata {

namespace {

constexpr double kPi = 3.14159265358979323846;

// ---- designs ------------------------------------------------------------------------------

struct Corner {
  double x, z;
  double radius;
  double berm = 1;        // 0: flat corner (the merge with the start chute)
  double half_width = 0;  // 0: the track's own
  Surface surface = Surface::main;
};

struct FeatureAt {
  FeatureKind kind;
  int edge;       // straight from corner `edge` to the next
  double offset;  // from the start of that straight
  double scale = 1;
  bool blind = false;
};

struct Design {
  const char* dir;
  const char* long_name;
  int exponent;
  double spacing;
  Ground ground;
  uint32_t seed;
  double half_width;
  std::vector<Corner> corners;
  std::vector<FeatureAt> features;
  int finish_edge;
  double finish_offset;
  double chute_length;   // from the back of the chute to its merge with the lap
  double gate_back;      // from the back of the chute to the gate slots
};

std::vector<Design> designs() {
  std::vector<Design> list;
  // Rolling farmland with one big hill; loam with a sandy corner, about a mile.
  list.push_back(Design{
      "rabbithill", "Rabbit Hill MX", 9, 2.0, Ground::hills, 0x52616262u, 14.0,
      {
          {620, 1760, 45, 0},                   // merge with the start chute
          {1180, 1760, 95, 1, 17.5},            // the wide first turn
          {1330, 1400, 50},
          {1780, 1480, 45},
          {1820, 900, 60},
          {1500, 720, 40, 1.1, 0, Surface::sand},  // sandy hairpin on the hill
          {1700, 400, 50},
          {1150, 300, 55},
          {950, 700, 40},
          {1180, 1130, 45},
          {760, 1240, 50},
          {380, 1080, 40, 1.2},
          {800, 1500, 50},
      },
      {
          {FeatureKind::tabletop, 1, 130},
          {FeatureKind::rhythm, 2, 150},
          {FeatureKind::whoops, 3, 140},
          {FeatureKind::double_jump, 5, 120, 1, true},
          {FeatureKind::step_up, 6, 200},
          {FeatureKind::tabletop, 8, 200, 0.8},
          {FeatureKind::finish_jump, 9, 120, 1, true},
          {FeatureKind::double_jump, 11, 150, 0.8},
      },
      9, 70, 390, 40});
  // Coastal dunes: deep sand, long sand whoops, packed sand on the start; about 0.8 mile.
  list.push_back(Design{
      "sandridge", "Sand Ridge MX", 9, 1.5, Ground::dunes, 0x53616e64u, 13.0,
      {
          {380, 1240, 45, 0},
          {950, 1260, 80, 1, 16.5},
          {1250, 1050, 45},
          {1120, 760, 45, 1.2},
          {1320, 480, 40},
          {1150, 220, 45, 1, 0, Surface::soft},
          {760, 260, 60},
          {420, 200, 45},
          {250, 500, 50},
          {300, 850, 40, 1.2},
          {650, 680, 40},
          {760, 1000, 45},
      },
      {
          {FeatureKind::tabletop, 1, 110, 0.9},
          {FeatureKind::double_jump, 3, 90},
          {FeatureKind::rhythm, 4, 60, 0.9},
          {FeatureKind::whoops, 5, 60, 1, false},
          {FeatureKind::step_up, 6, 110},
          {FeatureKind::triple, 8, 90, 0.9, true},
          {FeatureKind::finish_jump, 10, 100, 0.95, true},
      },
      10, 40, 380, 40});
  return list;
}

// ---- features -----------------------------------------------------------------------------

void add_mound(std::vector<Mound>& out, double at, double h, double up, double top,
               double down, bool round = false) {
  out.push_back(Mound{at, h, up, top, down, round});
}

// Mounds of one feature starting at arc position `at`; returns the feature's length.
// Kicker faces leave the lip at about 30 degrees; landings fall at up to about 25 degrees,
// so a rider who clears the gap comes down along the slope rather than onto a flat.
double feature_mounds(FeatureKind k, double at, double scale, Surface under,
                      std::vector<Mound>& out, double& face) {
  const double s = scale;
  switch (k) {
    case FeatureKind::tabletop:
      add_mound(out, at, 5.0 * s, 13, 45, 16);
      face = 5.0 * s;
      return 74;
    case FeatureKind::double_jump:
      // take-off, a 32 ft gap, then a landing mound whose far side is the landing
      add_mound(out, at, 5.5 * s, 13, 1.5, 9);
      add_mound(out, at + 23.5 + 32, 5.5 * s, 9, 2, 18);
      face = 5.5 * s;
      return 23.5 + 32 + 29;
    case FeatureKind::step_up:
      // a 4 ft kicker onto a 7 ft deck; the deck's face is a ramp, so a short jump lands
      // on it and rolls on up instead of nosing into a wall
      add_mound(out, at, 4.0 * s, 10, 1.5, 5);
      add_mound(out, at + 26.5, 7.0 * s, 12, 38, 30);
      face = 7.0 * s;
      return 26.5 + 80;
    case FeatureKind::whoops: {
      // Sand whoops run long. A little under 2 ft: taller ones, 14 ft apart, pitch a bike
      // at the lines' 20 to 30 ft/s from nose to tail until it goes down.
      const int n = under == Surface::sand ? 16 : 10;
      const double pitch = 14;
      for (int i = 0; i < n; ++i) add_mound(out, at + i * pitch, 1.75 * s, pitch / 2, 0, pitch / 2, true);
      face = 1.75 * s;
      return n * pitch;
    }
    case FeatureKind::rhythm: {
      // Low enough to be rolled as well as jumped.
      const double h[] = {2.25, 2.6, 2.6, 2.25, 3.4};
      for (int i = 0; i < 5; ++i) {
        const bool last = i == 4;
        add_mound(out, at + i * 24, h[i] * s, last ? 10 : 8, last ? 2 : 1.5, last ? 14 : 8);
      }
      face = 3.4 * s;
      return 4 * 24 + 26;
    }
    case FeatureKind::finish_jump:
      add_mound(out, at, 6.5 * s, 15, 2, 9);
      add_mound(out, at + 68, 6.5 * s, 10, 3, 22);
      face = 6.5 * s;
      return 68 + 35;
    case FeatureKind::triple:
      add_mound(out, at, 5.0 * s, 11, 1, 7);
      add_mound(out, at + 30, 5.0 * s, 8, 1, 8);
      add_mound(out, at + 60, 5.0 * s, 8, 1.5, 17);
      face = 5.0 * s;
      return 60 + 26.5;
  }
  face = 0;
  return 0;
}

// ---- sampling -----------------------------------------------------------------------------

struct Piece {
  bool arc = false;
  double s0 = 0, len = 0;
  Vec2 a;            // straight: start; arc: centre
  Vec2 dir;          // straight: direction
  double r = 0, phi0 = 0, turn = 0;  // arc: radius, start angle, signed sweep
  int corner = -1;
};

struct Outline {
  std::vector<Piece> pieces;
  std::vector<double> edge_s, edge_len;  // straight from corner i to i+1
  double length = 0;
};

bool build_outline(const std::vector<Corner>& c, Outline& o, const char* name) {
  const size_t n = c.size();
  std::vector<Vec2> tin(n), tout(n);
  std::vector<double> tlen(n), turn(n);
  for (size_t i = 0; i < n; ++i) {
    const Vec2 p{c[i].x, c[i].z};
    const Vec2 prev{c[(i + n - 1) % n].x, c[(i + n - 1) % n].z};
    const Vec2 next{c[(i + 1) % n].x, c[(i + 1) % n].z};
    const Vec2 a = normalized(p - prev), b = normalized(next - p);
    turn[i] = std::atan2(cross(a, b), dot(a, b));
    tlen[i] = c[i].radius * std::tan(std::fabs(turn[i]) / 2);
    tin[i] = p - a * tlen[i];
    tout[i] = p + b * tlen[i];
  }
  double s = 0;
  for (size_t i = 0; i < n; ++i) {
    const size_t j = (i + 1) % n;
    const Vec2 from = tout[i], to = tin[j];
    const double len = length(to - from);
    const Vec2 edge{c[j].x - c[i].x, c[j].z - c[i].z};
    if (tlen[i] + tlen[j] > length(edge) || dot(to - from, edge) <= 0) {
      std::fprintf(stderr, "kessra-mkdata: %s: corners %zu and %zu overlap\n", name, i, j);
      return false;
    }
    o.edge_s.push_back(s);
    o.edge_len.push_back(len);
    Piece st;
    st.s0 = s;
    st.len = len;
    st.a = from;
    st.dir = normalized(to - from);
    o.pieces.push_back(st);
    s += len;
    // The arc of corner j.
    const Vec2 a = normalized(Vec2{c[j].x, c[j].z} - Vec2{c[i].x, c[i].z});
    const double sign = turn[j] >= 0 ? 1 : -1;
    Piece arc;
    arc.arc = true;
    arc.s0 = s;
    arc.r = c[j].radius;
    arc.turn = turn[j];
    arc.len = c[j].radius * std::fabs(turn[j]);
    arc.a = tin[j] + side_of(a) * (sign * c[j].radius);
    const Vec2 rel = tin[j] - arc.a;
    arc.phi0 = std::atan2(rel.z, rel.x);
    arc.corner = static_cast<int>(j);
    o.pieces.push_back(arc);
    s += arc.len;
  }
  o.length = s;
  return true;
}

PathPoint eval_outline(const Outline& o, const std::vector<Corner>& c, double s,
                       double half_width) {
  size_t k = 0;
  while (k + 1 < o.pieces.size() && s >= o.pieces[k + 1].s0) ++k;
  const Piece& pc = o.pieces[k];
  const double u = s - pc.s0;
  PathPoint pt;
  pt.s = s;
  pt.half_width = half_width;
  if (!pc.arc) {
    pt.p = pc.a + pc.dir * u;
    pt.dir = pc.dir;
    return pt;
  }
  const double sign = pc.turn >= 0 ? 1 : -1;
  const double phi = pc.phi0 + sign * u / pc.r;
  pt.p = pc.a + Vec2{std::cos(phi), std::sin(phi)} * pc.r;
  // Walking with the centre on the +d side for a positive turn.
  pt.dir = side_of(Vec2{std::cos(phi), std::sin(phi)}) * sign;
  const Corner& cn = c[static_cast<size_t>(pc.corner)];
  pt.bank = sign * cn.berm * std::min(5.0, 260.0 / pc.r);
  if (cn.half_width > 0) pt.half_width = cn.half_width;
  pt.surface = cn.surface;
  return pt;
}

// Moving average over +-window ft, wrapping on closed paths, for the banking and width so
// that berms rise and fall smoothly into and out of the turns.
void smooth_along(Path& p, double window) {
  const int n = static_cast<int>(p.pts.size());
  const int w = std::max(1, static_cast<int>(window / p.step));
  std::vector<double> bank(p.pts.size()), hw(p.pts.size());
  for (int i = 0; i < n; ++i) {
    double sb = 0, sw = 0;
    int cnt = 0;
    for (int k = -w; k <= w; ++k) {
      int j = i + k;
      if (p.closed) j = ((j % n) + n) % n;
      else j = std::clamp(j, 0, n - 1);
      sb += p.pts[static_cast<size_t>(j)].bank;
      sw += p.pts[static_cast<size_t>(j)].half_width;
      ++cnt;
    }
    bank[static_cast<size_t>(i)] = sb / cnt;
    hw[static_cast<size_t>(i)] = sw / cnt;
  }
  for (size_t i = 0; i < p.pts.size(); ++i) {
    p.pts[i].bank = bank[i];
    p.pts[i].half_width = hw[i];
  }
}

void build_profile(Path& p) {
  std::sort(p.mounds.begin(), p.mounds.end(),
            [](const Mound& a, const Mound& b) { return a.start < b.start; });
  const size_t n = static_cast<size_t>(p.length / p.profile_step) + 2;
  p.profile.assign(n, 0.0);
  for (const Mound& m : p.mounds) {
    const size_t i0 = static_cast<size_t>(std::max(0.0, m.start / p.profile_step));
    const size_t i1 = std::min(n - 1, static_cast<size_t>(m.end() / p.profile_step) + 1);
    for (size_t i = i0; i <= i1; ++i) {
      const double u = static_cast<double>(i) * p.profile_step - m.start;
      double h = 0;
      if (u < 0 || u > m.up + m.top + m.down) continue;
      if (u < m.up) {
        const double t = u / m.up;
        h = m.round ? smoothstep(t) : 1 - std::cos(kPi / 2 * t);
      } else if (u <= m.up + m.top) {
        h = 1;
      } else {
        h = 1 - smoothstep((u - m.up - m.top) / m.down);
      }
      p.profile[i] = std::max(p.profile[i], h * m.height);
    }
  }
}

}  // namespace

const char* feature_name(FeatureKind k) {
  switch (k) {
    case FeatureKind::tabletop: return "tabletop";
    case FeatureKind::double_jump: return "double";
    case FeatureKind::step_up: return "step-up";
    case FeatureKind::whoops: return "whoops";
    case FeatureKind::rhythm: return "rhythm";
    case FeatureKind::finish_jump: return "finish jump";
    case FeatureKind::triple: return "triple";
  }
  return "?";
}

double Path::surface_height(double s) const {
  if (profile.empty()) return 0;
  if (closed) s = std::fmod(std::fmod(s, length) + length, length);
  const double f = std::clamp(s / profile_step, 0.0, static_cast<double>(profile.size() - 1));
  const size_t i = static_cast<size_t>(f);
  const size_t j = std::min(i + 1, profile.size() - 1);
  const double t = f - static_cast<double>(i);
  return profile[i] + (profile[j] - profile[i]) * t;
}

PathPoint Path::at(double s) const {
  if (pts.empty()) return {};
  if (closed) s = std::fmod(std::fmod(s, length) + length, length);
  const size_t n = pts.size();
  double f = s / step;
  if (!closed) f = std::clamp(f, 0.0, static_cast<double>(n - 1));
  const size_t i = static_cast<size_t>(f) % n;
  const size_t j = closed ? (i + 1) % n : std::min(i + 1, n - 1);
  const double t = f - std::floor(f);
  PathPoint p = pts[i];
  p.p = pts[i].p + (pts[j].p - pts[i].p) * t;
  p.dir = normalized(pts[i].dir + (pts[j].dir - pts[i].dir) * t);
  p.s = s;
  p.bank = pts[i].bank + (pts[j].bank - pts[i].bank) * t;
  p.half_width = pts[i].half_width + (pts[j].half_width - pts[i].half_width) * t;
  return p;
}

std::vector<TrackLayout> build_layouts() {
  std::vector<TrackLayout> out;
  for (const Design& d : designs()) {
    Outline o;
    if (!build_outline(d.corners, o, d.dir)) continue;
    TrackLayout t;
    t.dir = d.dir;
    t.long_name = d.long_name;
    t.exponent = d.exponent;
    t.spacing = d.spacing;
    t.ground = d.ground;
    t.seed = d.seed;

    // The lap, at a whole number of points.
    Path& lap = t.lap;
    lap.closed = true;
    lap.length = o.length;
    const size_t n = static_cast<size_t>(std::lround(o.length));
    lap.step = o.length / static_cast<double>(n);
    for (size_t i = 0; i < n; ++i)
      lap.pts.push_back(eval_outline(o, d.corners, static_cast<double>(i) * lap.step, d.half_width));
    smooth_along(lap, 28);

    for (const FeatureAt& f : d.features) {
      const size_t e = static_cast<size_t>(f.edge);
      const double at = o.edge_s[e] + f.offset;
      const Surface under = lap.at(at).surface;
      double face = 0;
      const double len = feature_mounds(f.kind, at, f.scale,
                                        d.ground == Ground::dunes ? Surface::sand : under,
                                        lap.mounds, face);
      if (f.offset + len > o.edge_len[e] - 10)
        std::fprintf(stderr, "kessra-mkdata: %s: %s runs off its straight\n", d.dir,
                     feature_name(f.kind));
      t.features.push_back(Feature{f.kind, at, at + len, face, f.blind});
    }
    build_profile(lap);
    t.finish_s = o.edge_s[static_cast<size_t>(d.finish_edge)] + d.finish_offset;
    for (const Piece& pc : o.pieces) {
      const double mid = pc.s0 + pc.len / 2;
      if (pc.arc) t.checkpoint_s.push_back(mid);
      else if (pc.len > 120 && std::fabs(mid - t.finish_s) > 60) t.checkpoint_s.push_back(mid);
    }

    // Hay bales around the outside of every bermed turn.
    for (const Piece& pc : o.pieces)
      if (pc.arc && d.corners[static_cast<size_t>(pc.corner)].berm > 0)
        t.hay_corners.push_back(pc.s0 + pc.len / 2);

    // The start chute: straight, ending where the lap leaves the merge corner (corner 0),
    // wide enough for the whole gate at the back, narrowing to the track's width.
    t.merge_s = o.edge_s[0];
    const PathPoint m = lap.at(t.merge_s);
    Path& ch = t.chute;
    ch.closed = false;
    ch.step = 1;
    ch.length = d.chute_length;
    t.gate_s = d.gate_back;
    t.pad_length = d.gate_back + 45;
    const double gate_half = (t.gate_count - 1) * t.gate_pitch / 2 + 8;
    const double taper_end = d.chute_length - 60;
    for (double s = 0; s <= d.chute_length + 1e-9; s += ch.step) {
      PathPoint p;
      p.s = s;
      p.dir = m.dir;
      p.p = m.p - m.dir * (d.chute_length - s);
      const double t01 = smoothstep((s - t.pad_length) / (taper_end - t.pad_length));
      p.half_width = gate_half + (d.half_width - gate_half) * t01;
      p.surface = s < t.pad_length + 30 ? Surface::hard : Surface::main;
      ch.pts.push_back(p);
    }
    build_profile(ch);
    out.push_back(std::move(t));
  }
  return out;
}

}  // namespace ks::mkdata
