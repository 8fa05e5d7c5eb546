// Baked light: the sun of the track's lighting on the ground, with the shadows the terrain
// casts on itself, in the very form the renderer computes when the files are missing
// (texel = 255 * 0.5 * (sun colour * n.l * light factor + ambient)).
#include <algorithm>
#include <cstring>

#include "mkdata.h"

namespace ks::mkdata {

Lighting track_lighting(const TrackLayout& t) {
  Lighting l;
  if (t.ground == Ground::dunes) {
    // Low evening sun off the sea: long shadows in the dune valleys.
    l.sun_vector = {-0.62f, 0.48f, 0.62f};
    l.sun_color = {1.0f, 0.9f, 0.74f};
    l.ambient = {0.42f, 0.44f, 0.5f};
    l.global_ambient = {0.2f, 0.2f, 0.22f};
    l.fog_color = {0.86f, 0.84f, 0.8f, 1};
    l.fog_density = 0.0005f;
  } else {
    // Afternoon sun from the south-west.
    l.sun_vector = {-0.5f, 0.62f, 0.6f};
    l.sun_color = {0.95f, 0.9f, 0.8f};
    l.ambient = {0.4f, 0.45f, 0.5f};
    l.global_ambient = {0.2f, 0.2f, 0.2f};
    l.fog_color = {0.75f, 0.8f, 0.9f, 1};
    l.fog_density = 0.0003f;
  }
  l.near_plane = 0.25f;
  l.far_plane = 6000;
  // The file keeps the sun as given; the reader normalises it, so do it here too.
  double n = 0;
  for (float c : l.sun_vector) n += static_cast<double>(c) * static_cast<double>(c);
  n = std::sqrt(n);
  for (float& c : l.sun_vector) c = static_cast<float>(static_cast<double>(c) / n);
  return l;
}

void bake_lighting(const Lighting& l, HeightField& hf, std::vector<uint8_t>& light_factor) {
  const int R = hf.size;
  const double sp = static_cast<double>(hf.spacing);
  const size_t count = static_cast<size_t>(R) * static_cast<size_t>(R);
  auto H = [&](int i, int j) { return static_cast<double>(height_sample(hf, i, j)); };

  // Vertex normals: the sum of the normals of the grid triangles around each vertex, with
  // the same alternating split as the height queries.
  std::vector<double> nx(count, 0), ny(count, 0), nz(count, 0);
  auto add = [&](int ai, int aj, int bi, int bj, int ci, int cj) {
    const double ux = (bi - ai) * sp, uy = H(bi, bj) - H(ai, aj), uz = (bj - aj) * sp;
    const double vx = (ci - ai) * sp, vy = H(ci, cj) - H(ai, aj), vz = (cj - aj) * sp;
    double x = uy * vz - uz * vy, y = uz * vx - ux * vz, z = ux * vy - uy * vx;
    if (y < 0) x = -x, y = -y, z = -z;
    for (const auto& [i, j] : {std::pair{ai, aj}, std::pair{bi, bj}, std::pair{ci, cj}}) {
      const size_t k = static_cast<size_t>(j) * static_cast<size_t>(R) + static_cast<size_t>(i);
      nx[k] += x;
      ny[k] += y;
      nz[k] += z;
    }
  };
  for (int j = 0; j + 1 < R; ++j) {
    for (int i = 0; i + 1 < R; ++i) {
      if ((i + j) % 2 == 0) {
        add(i, j, i + 1, j, i + 1, j + 1);
        add(i, j, i + 1, j + 1, i, j + 1);
      } else {
        add(i, j, i + 1, j, i, j + 1);
        add(i + 1, j, i + 1, j + 1, i, j + 1);
      }
    }
  }

  // Shadows: march from every sample towards the sun; the light fades over a few degrees
  // around the horizon the terrain makes, so the edges come out soft.
  const double lx = static_cast<double>(l.sun_vector[0]);
  const double ly = static_cast<double>(l.sun_vector[1]);
  const double lz = static_cast<double>(l.sun_vector[2]);
  const double lh = std::sqrt(lx * lx + lz * lz);
  light_factor.assign(count, 255);
  if (lh > 1e-6 && ly > 0) {
    const double tan_sun = ly / lh;
    const double ux = lx / lh, uz = lz / lh;
    const double top = static_cast<double>(hf.max_height);
    const double soft = 0.06;
    const double extent = static_cast<double>(hf.extent);  // in slope units, about 3.5 degrees
    for (int j = 0; j < R; ++j) {
      for (int i = 0; i < R; ++i) {
        const double h0 = H(i, j);
        const double x0 = i * sp, z0 = j * sp;
        double horizon = -1e9;
        const double reach = (top - h0) / std::max(tan_sun - soft, 0.05) + sp;
        for (double dist = sp; dist <= reach; dist += sp) {
          const double x = x0 + ux * dist, z = z0 + uz * dist;
          if (x < 0 || z < 0 || x > extent || z > extent) break;
          const double rise = (static_cast<double>(ground_height_at(hf, x, z)) - h0) / dist;
          horizon = std::max(horizon, rise);
          // In full shadow already, or nothing further away can rise above the horizon.
          if (horizon >= tan_sun + soft / 2 || (top - h0) / dist <= horizon) break;
        }
        const double lit = clamp01((tan_sun - horizon) / soft + 0.5);
        light_factor[static_cast<size_t>(j) * static_cast<size_t>(R) + static_cast<size_t>(i)] =
            static_cast<uint8_t>(std::lround(255 * lit));
      }
    }
  }

  hf.shading.assign(count * 3, 0);
  for (size_t k = 0; k < count; ++k) {
    const double n = std::sqrt(nx[k] * nx[k] + ny[k] * ny[k] + nz[k] * nz[k]);
    const double dn = n > 0 ? (lx * nx[k] + ly * ny[k] + lz * nz[k]) / n : ly;
    const double lit = clamp01(dn) * (light_factor[k] / 255.0);
    for (int c = 0; c < 3; ++c) {
      const double v = 255 * 0.5 * (static_cast<double>(l.sun_color[static_cast<size_t>(c)]) * lit +
                                    static_cast<double>(l.ambient[static_cast<size_t>(c)]));
      hf.shading[k * 3 + static_cast<size_t>(c)] = static_cast<uint8_t>(std::clamp(std::lround(v), 0L, 255L));
    }
  }
  hf.shadows.resize(count);
  for (size_t k = 0; k < count; ++k) hf.shadows[k] = static_cast<uint8_t>(255 - light_factor[k]);
}

}  // namespace ks::mkdata
