// The wheel marks, the erosion summary and the top-down picture. One pixel per height
// sample, x to the right and z downwards, so the picture matches the terrain's grid.
#include "plot.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>

#include "gfx/image_io.h"
#include "track/track.h"

namespace ks {

namespace {

using Rgb = std::array<double, 3>;

// A material's colour from its name; the generated tracks and most hand-made ones name
// their ground plainly. Others take their roost colour, else a grey.
Rgb material_colour(const TileInfo& m) {
  struct Named {
    const char* word;
    Rgb colour;
  };
  static const Named kNamed[] = {
      {"grass", {86, 132, 58}},   {"sand", {214, 190, 128}}, {"loam", {128, 92, 60}},
      {"hardpack", {150, 124, 96}}, {"hard", {150, 124, 96}}, {"mud", {84, 62, 44}},
      {"water", {60, 96, 160}},   {"rock", {128, 128, 128}}, {"gravel", {140, 136, 128}},
      {"dirt", {136, 100, 68}},
  };
  std::string name = m.name.empty() ? m.short_name : m.name;
  std::transform(name.begin(), name.end(), name.begin(),
                 [](char c) { return static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c); });
  for (const Named& n : kNamed)
    if (name.find(n.word) != std::string::npos) return n.colour;
  if (m.roost_count > 0) return {double(m.roost[0].r), double(m.roost[0].g), double(m.roost[0].b)};
  return {120, 120, 120};
}

// Distinct colours for the paths: hues a golden angle apart.
Rgb path_colour(int slot) {
  const double h = std::fmod(slot * 0.618033988749895, 1.0) * 6;
  const double f = h - std::floor(h);
  const double v = 255, p = 40, q = 40 + 215 * (1 - f), t = 40 + 215 * f;
  switch (static_cast<int>(h)) {
    case 0: return {v, t, p};
    case 1: return {q, v, p};
    case 2: return {p, v, t};
    case 3: return {p, q, v};
    case 4: return {t, p, v};
    default: return {v, p, q};
  }
}

struct Canvas {
  int size = 0;
  std::vector<double> rgb;  // top row first while drawing
  void put(int x, int y, const Rgb& c, double alpha = 1) {
    if (x < 0 || y < 0 || x >= size || y >= size) return;
    double* p = &rgb[(static_cast<size_t>(y) * static_cast<size_t>(size) + static_cast<size_t>(x)) * 3];
    for (int i = 0; i < 3; ++i) p[i] = p[i] * (1 - alpha) + c[static_cast<size_t>(i)] * alpha;
  }
  void line(double x0, double y0, double x1, double y1, const Rgb& c, double alpha = 1) {
    const double n = std::ceil(std::max(std::fabs(x1 - x0), std::fabs(y1 - y0)));
    if (!(n < 1e6)) return;  // not finite, or absurdly long
    const int steps = std::max(1, static_cast<int>(n));
    for (int i = 0; i <= steps; ++i) {
      const double t = static_cast<double>(i) / steps;
      put(static_cast<int>(std::lround(x0 + (x1 - x0) * t)),
          static_cast<int>(std::lround(y0 + (y1 - y0) * t)), c, alpha);
    }
  }
};

}  // namespace

void init_wheel_marks(WheelMarks& m, const HeightField& hf) {
  m.size = hf.size;
  m.spacing = hf.spacing;
  m.ran.assign(static_cast<size_t>(hf.size) * static_cast<size_t>(hf.size), 0);
}

void mark_wheel(WheelMarks& m, double x, double z) {
  if (m.size <= 0 || !(m.spacing > 0)) return;
  const double i = x / m.spacing, j = z / m.spacing;
  if (!(i >= 0 && j >= 0 && i < m.size && j < m.size)) return;  // also drops NaN
  const int ci = static_cast<int>(i), cj = static_cast<int>(j);
  // The four samples around the contact.
  for (int dj = 0; dj <= 1; ++dj)
    for (int di = 0; di <= 1; ++di) {
      const int a = std::min(ci + di, m.size - 1), b = std::min(cj + dj, m.size - 1);
      m.ran[static_cast<size_t>(b) * static_cast<size_t>(m.size) + static_cast<size_t>(a)] = 1;
    }
}

ErosionSummary summarize_erosion(const HeightField& hf, const WheelMarks& marks) {
  ErosionSummary s;
  const size_t n = static_cast<size_t>(hf.size) * static_cast<size_t>(hf.size);
  if (hf.size <= 0 || hf.heights.size() < n || hf.loaded_heights.size() < n) return s;

  // Distance to the nearest wheel sample, in samples, by a two-pass 3-4 chamfer.
  constexpr int kFar = 1 << 29;
  const int size = hf.size;
  std::vector<int> dist(n, kFar);
  const bool have_marks = marks.size == size && marks.ran.size() == n;
  if (have_marks)
    for (size_t i = 0; i < n; ++i)
      if (marks.ran[i]) dist[i] = 0;
  auto at = [&](int i, int j) -> int& {
    return dist[static_cast<size_t>(j) * static_cast<size_t>(size) + static_cast<size_t>(i)];
  };
  for (int j = 0; j < size; ++j)
    for (int i = 0; i < size; ++i) {
      int d = at(i, j);
      if (i > 0) d = std::min(d, at(i - 1, j) + 3);
      if (j > 0) {
        d = std::min(d, at(i, j - 1) + 3);
        if (i > 0) d = std::min(d, at(i - 1, j - 1) + 4);
        if (i + 1 < size) d = std::min(d, at(i + 1, j - 1) + 4);
      }
      at(i, j) = d;
    }
  for (int j = size - 1; j >= 0; --j)
    for (int i = size - 1; i >= 0; --i) {
      int d = at(i, j);
      if (i + 1 < size) d = std::min(d, at(i + 1, j) + 3);
      if (j + 1 < size) {
        d = std::min(d, at(i, j + 1) + 3);
        if (i + 1 < size) d = std::min(d, at(i + 1, j + 1) + 4);
        if (i > 0) d = std::min(d, at(i - 1, j + 1) + 4);
      }
      at(i, j) = d;
    }

  for (size_t k = 0; k < n; ++k) {
    const double d = static_cast<double>(hf.heights[k]) - static_cast<double>(hf.loaded_heights[k]);
    if (std::fabs(d) <= kHeightEpsilon) continue;
    ++s.changed;
    if (d < 0) {
      ++s.dug;
      s.deepest = std::max(s.deepest, -d);
    } else {
      ++s.raised;
      s.highest = std::max(s.highest, d);
    }
    const double ft = dist[k] >= kFar ? 1e9 : dist[k] / 3.0 * static_cast<double>(hf.spacing);
    s.farthest = std::max(s.farthest, ft);
    if (ft > kRutReach) ++s.far_samples;
  }
  return s;
}

bool write_track_plot(const std::string& file, const Track& track,
                      const std::vector<RiderPath>& paths) {
  if (!track.terrain) return false;
  const HeightField& hf = *track.terrain;
  const int size = hf.size;
  if (size <= 0) return false;
  const size_t n = static_cast<size_t>(size) * static_cast<size_t>(size);
  if (hf.heights.size() < n) return false;
  Canvas c;
  c.size = size;
  c.rgb.assign(n * 3, 0);

  std::array<Rgb, kMaxMaterials> colours{};
  for (int m = 0; m < kMaxMaterials; ++m) colours[static_cast<size_t>(m)] = material_colour(hf.materials[static_cast<size_t>(m)]);
  const int tiles = 1 << hf.exponent;
  const bool have_tiles = hf.tile_map.size() >= static_cast<size_t>(tiles) * static_cast<size_t>(tiles);
  const bool have_shading = hf.shading.size() >= n * 3;
  const bool have_loaded = hf.loaded_heights.size() >= n;
  for (int j = 0; j < size; ++j) {
    for (int i = 0; i < size; ++i) {
      const size_t k = static_cast<size_t>(j) * static_cast<size_t>(size) + static_cast<size_t>(i);
      Rgb col{120, 120, 120};
      if (have_tiles) {
        const int ti = std::min(i / 2, tiles - 1), tj = std::min(j / 2, tiles - 1);
        col = colours[hf.tile_map[static_cast<size_t>(tj) * static_cast<size_t>(tiles) + static_cast<size_t>(ti)]];
      }
      // Shading is stored at half scale: 128 is full light.
      for (size_t ch = 0; ch < 3; ++ch) {
        const double light = have_shading ? std::min(hf.shading[k * 3 + ch] / 128.0, 1.6) : 1.0;
        col[ch] *= light;
      }
      if (have_loaded) {
        const double d = static_cast<double>(hf.heights[k]) - static_cast<double>(hf.loaded_heights[k]);
        if (d < -kHeightEpsilon) {
          const double f = std::clamp(1 + d * 3, 0.25, 0.8);  // ruts: darker, more so deeper
          for (double& v : col) v *= f;
        } else if (d > kHeightEpsilon) {
          const double f = std::clamp(d * 3, 0.2, 0.6);  // thrown dirt: lighter
          for (double& v : col) v = v * (1 - f) + 230 * f;
        }
      }
      for (size_t ch = 0; ch < 3; ++ch) c.rgb[k * 3 + ch] = col[ch];
    }
  }

  const double scale = 1.0 / static_cast<double>(hf.spacing);
  // Timing gates: a line across each, as wide as the gate, and a tick the way through.
  for (const TimingGate& g : track.gates.checkpoints) {
    const double gx = g.position[0] * scale, gz = g.position[2] * scale;
    double dx = g.direction[0], dz = g.direction[2];
    const double len = std::sqrt(dx * dx + dz * dz);
    if (!(len > 1e-9)) continue;
    dx /= len;
    dz /= len;
    const double r = g.radius * scale;
    c.line(gx + dz * r, gz - dx * r, gx - dz * r, gz + dx * r, {255, 255, 255});
    c.line(gx, gz, gx + dx * 6 * scale, gz + dz * 6 * scale, {255, 255, 255});
  }
  // Starting-gate slots.
  for (const GatePosition& p : track.gates.start) {
    const int x = static_cast<int>(std::lround(p.slot[0] * scale));
    const int y = static_cast<int>(std::lround(p.slot[2] * scale));
    for (int d = -2; d <= 2; ++d) {
      c.put(x + d, y, {255, 220, 0});
      c.put(x, y + d, {255, 220, 0});
    }
  }
  for (const RiderPath& path : paths) {
    const Rgb col = path_colour(path.slot);
    for (size_t i = 2; i + 1 < path.xz.size(); i += 2)
      c.line(path.xz[i - 2] * scale, path.xz[i - 1] * scale, path.xz[i] * scale,
             path.xz[i + 1] * scale, col, 0.85);
  }

  // The writer stores the bottom row first.
  std::vector<uint8_t> out(n * 3);
  for (int y = 0; y < size; ++y) {
    const size_t src = static_cast<size_t>(y) * static_cast<size_t>(size) * 3;
    const size_t dst = static_cast<size_t>(size - 1 - y) * static_cast<size_t>(size) * 3;
    for (size_t b = 0; b < static_cast<size_t>(size) * 3; ++b)
      out[dst + b] = static_cast<uint8_t>(std::clamp(std::lround(c.rgb[src + b]), 0L, 255L));
  }
  return write_png_rgb(file.c_str(), out.data(), size, size);
}

}  // namespace ks
