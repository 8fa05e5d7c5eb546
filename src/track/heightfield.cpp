// Height field: set-up and clearing, the three point queries under the chessboard split,
// sample edits, and the decal bucket grid.
#include "track/heightfield.h"

#include <algorithm>
#include <cmath>
#include <new>

#include "track/terrain_io.h"

namespace ks {

void clear_height_field(HeightField& hf) {
  if (hf.render_state != nullptr && terrain_render_seam().release) {
    terrain_render_seam().release(hf);
  }
  hf.render_state = nullptr;
  hf = HeightField{};
}

bool init_height_field(HeightField& hf, int exponent, float spacing, float height) {
  clear_height_field(hf);
  if (exponent < 0 || exponent > kMaxTerrainExponent || !std::isfinite(spacing) ||
      !(spacing > 0) || !std::isfinite(height)) {
    return false;
  }
  const int r = (1 << (exponent + 1)) + 1;
  const size_t samples = static_cast<size_t>(r) * static_cast<size_t>(r);
  const size_t tiles = size_t{1} << (2 * exponent);
  try {
    hf.heights.assign(samples, height);
    hf.loaded_heights = hf.heights;
    hf.tile_map.assign(tiles, 0);
    hf.shading.assign(samples * 3, 0);
    hf.shadows.assign(samples, 0);
  } catch (const std::bad_alloc&) {
    hf = HeightField{};
    return false;
  }
  hf.exponent = exponent;
  hf.size = r;
  hf.spacing = spacing;
  hf.tile_size = 2 * spacing;
  hf.extent = spacing * static_cast<float>(r - 1);
  hf.min_height = height;
  hf.max_height = height;
  hf.material_count = 1;
  hf.materials[0] = default_tile_info();
  return true;
}

namespace {

// The triangle under a point: right-angle corner c, its neighbour a along x and b along z,
// with the signed leg directions and the point's distances from c along both legs (in
// cells, 0..1).
struct Triangle {
  int ci, cj;
  int ai, aj;
  int bi, bj;
  double sx, sz;  // +1 or -1: x_a - x_c and z_b - z_c in units of the spacing
  double u, v;
};

inline double clamp_cell(double f, double hi) {
  // NaN and far-away points land on the clamped edge just the same.
  if (!(f >= -1.0)) return -1.0;
  if (f > hi) return hi;
  return f;
}

inline Triangle triangle_at(const HeightField& hf, double x, double z) {
  const double s = static_cast<double>(hf.spacing);
  const double hi = static_cast<double>(hf.size);
  const double fx = clamp_cell(x / s, hi);
  const double fz = clamp_cell(z / s, hi);
  const double flx = std::floor(fx);
  const double flz = std::floor(fz);
  const int i = static_cast<int>(flx);
  const int j = static_cast<int>(flz);
  const double px = fx - flx;
  const double pz = fz - flz;
  Triangle t{};
  if (((i + j) & 1) == 0) {
    // diagonal (i, j)-(i+1, j+1)
    if ((1.0 - px) + pz <= 1.0) {
      t = {i + 1, j, i, j, i + 1, j + 1, -1.0, 1.0, 1.0 - px, pz};
    } else {
      t = {i, j + 1, i + 1, j + 1, i, j, 1.0, -1.0, px, 1.0 - pz};
    }
  } else {
    // diagonal (i, j+1)-(i+1, j)
    if (px + pz <= 1.0) {
      t = {i, j, i + 1, j, i, j + 1, 1.0, 1.0, px, pz};
    } else {
      t = {i + 1, j + 1, i, j + 1, i + 1, j, -1.0, -1.0, 1.0 - px, 1.0 - pz};
    }
  }
  return t;
}

}  // namespace

float ground_height_at(const HeightField& hf, double x, double z) {
  if (hf.size <= 0) return 0.0f;
  const Triangle t = triangle_at(hf, x, z);
  const auto hc = static_cast<double>(height_sample(hf, t.ci, t.cj));
  const auto ha = static_cast<double>(height_sample(hf, t.ai, t.aj));
  const auto hb = static_cast<double>(height_sample(hf, t.bi, t.bj));
  return static_cast<float>(hc + (ha - hc) * t.u + (hb - hc) * t.v);
}

std::array<float, 3> ground_face_normal_at(const HeightField& hf, double x, double z) {
  if (hf.size <= 0) return {0.0f, 1.0f, 0.0f};
  const Triangle t = triangle_at(hf, x, z);
  const float s = hf.spacing;
  const float hc = height_sample(hf, t.ci, t.cj);
  const float ha = height_sample(hf, t.ai, t.aj);
  const float hb = height_sample(hf, t.bi, t.bj);
  const float dx = static_cast<float>(t.sx) * s;
  const float dz = static_cast<float>(t.sz) * s;
  std::array<float, 3> n{(ha - hc) * dz, -dz * dx, (hb - hc) * dx};
  if (n[1] < 0) {
    n[0] = -n[0];
    n[1] = -n[1];
    n[2] = -n[2];
  }
  return n;
}

uint8_t ground_material_at(const HeightField& hf, double x, double z) {
  if (hf.tile_map.empty()) return 0;
  const int tiles = 1 << hf.exponent;
  const double inv = 1.0 / (2.0 * static_cast<double>(hf.spacing));
  const double hi = static_cast<double>(tiles - 1);
  double cx = std::floor(x * inv);
  double cz = std::floor(z * inv);
  if (!(cx >= 0.0)) cx = 0.0;
  if (!(cz >= 0.0)) cz = 0.0;
  if (cx > hi) cx = hi;
  if (cz > hi) cz = hi;
  return hf.tile_map[static_cast<size_t>(cz) * static_cast<size_t>(tiles) +
                     static_cast<size_t>(cx)];
}

void set_height_sample(HeightField& hf, int column, int row, float value) {
  if (hf.edit_locked || column < 0 || row < 0 || column >= hf.size || row >= hf.size ||
      !std::isfinite(value)) {
    return;
  }
  if (value > hf.max_height) hf.max_height = value;
  if (value < hf.min_height) hf.min_height = value;
  hf.heights[static_cast<size_t>(row) * static_cast<size_t>(hf.size) +
             static_cast<size_t>(column)] = value;
  ++hf.height_changes;
  const TerrainRenderSeam& seam = terrain_render_seam();
  if (seam.height_changed) seam.height_changed(hf, column, row);
}

void update_height_range(HeightField& hf) {
  bool any = false;
  float lo = 0, hi = 0;
  for (const float h : hf.heights) {
    if (!std::isfinite(h)) continue;
    if (!any) {
      lo = hi = h;
      any = true;
    } else {
      lo = std::min(lo, h);
      hi = std::max(hi, h);
    }
  }
  if (any) {
    hf.min_height = lo;
    hf.max_height = hi;
  }
}

void build_decal_buckets(HeightField& hf) {
  for (auto& b : hf.decal_buckets) b.clear();
  if (hf.size <= 0 || !(hf.extent > 0)) return;
  const double cell = static_cast<double>(hf.extent) / kDecalBucketsPerSide;
  auto bucket_of = [&](double v) {
    double c = std::floor(v / cell);
    if (!(c >= 0.0)) c = 0.0;
    if (c > kDecalBucketsPerSide - 1) c = kDecalBucketsPerSide - 1;
    return static_cast<int>(c);
  };
  for (size_t k = 0; k < hf.decals.size(); ++k) {
    const Decal& d = hf.decals[k];
    // Half the diagonal of the decal's rectangle bounds it at any angle.
    const double hx = 0.5 * static_cast<double>(d.size) * static_cast<double>(d.aspect);
    const double hz = 0.5 * static_cast<double>(d.size);
    const double r = std::sqrt(hx * hx + hz * hz);
    const auto dx = static_cast<double>(d.x), dz = static_cast<double>(d.z);
    const int x0 = bucket_of(dx - r), x1 = bucket_of(dx + r);
    const int z0 = bucket_of(dz - r), z1 = bucket_of(dz + r);
    for (int bz = z0; bz <= z1; ++bz) {
      for (int bx = x0; bx <= x1; ++bx) {
        hf.decal_buckets[static_cast<size_t>(bz * kDecalBucketsPerSide + bx)].push_back(
            static_cast<int>(k));
      }
    }
  }
}

}  // namespace ks
