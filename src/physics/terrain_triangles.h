// The terrain triangles under a square of the x-z plane, split along the same alternating
// diagonals as the height queries, and the little vector algebra the contact tests share.
#pragma once

#include <cmath>

#include "physics/wheel_contact.h"
#include "track/heightfield.h"

namespace ks::contact_detail {

inline Vec3d add(const Vec3d& a, const Vec3d& b) { return {a[0] + b[0], a[1] + b[1], a[2] + b[2]}; }
inline Vec3d sub(const Vec3d& a, const Vec3d& b) { return {a[0] - b[0], a[1] - b[1], a[2] - b[2]}; }
inline Vec3d scale(const Vec3d& a, double k) { return {a[0] * k, a[1] * k, a[2] * k}; }
inline double dot(const Vec3d& a, const Vec3d& b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }
inline Vec3d cross(const Vec3d& a, const Vec3d& b) {
  return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}
inline double length(const Vec3d& a) { return std::sqrt(dot(a, a)); }

struct Triangle {
  Vec3d v[3];
  Vec3d normal;  // unit, pointing up
};

// Sample (i, j) as a world point (heights clamp at the edge, positions don't).
inline Vec3d sample_point(const HeightField& hf, int i, int j) {
  const double s = static_cast<double>(hf.spacing);
  return {i * s, static_cast<double>(height_sample(hf, i, j)), j * s};
}

inline Triangle make_triangle(const Vec3d& a, const Vec3d& b, const Vec3d& c) {
  Triangle t{{a, b, c}, cross(sub(b, a), sub(c, a))};
  if (t.normal[1] < 0) t.normal = scale(t.normal, -1.0);
  const double len = length(t.normal);
  t.normal = len > 0 ? scale(t.normal, 1.0 / len) : Vec3d{0, 1, 0};
  return t;
}

// Cells of [lo, hi] along one axis. Beyond the field the edge heights go on, so a body
// off the field still meets ground. The range is kept within 2^20 cells of the field and
// at most kMaxCellSpan cells wide around its middle, so that a wild position or radius
// (or a non-finite one) costs little and never overflows the index arithmetic.
constexpr double kFarCells = 1048576.0;
constexpr double kMaxCellSpan = 64;
inline bool cell_range(const HeightField& hf, double lo, double hi, int& first, int& last) {
  if (!(lo <= hi) || hf.size < 2 || !(hf.spacing > 0)) return false;
  const double s = static_cast<double>(hf.spacing);
  double a = std::floor(lo / s), b = std::ceil(hi / s) - 1.0;
  if (b < a) b = a;  // a zero-width square still sits in one cell
  if (b - a >= kMaxCellSpan) {
    a = std::floor(0.5 * (lo + hi) / s) - kMaxCellSpan / 2;
    b = a + (kMaxCellSpan - 1);
  }
  const double limit = static_cast<double>(hf.size) + kFarCells;
  if (!(b >= -kFarCells) || !(a <= limit)) return false;
  a = a < -kFarCells ? -kFarCells : a;
  b = b > limit ? limit : b;
  first = static_cast<int>(a);
  last = static_cast<int>(b);
  return true;
}

// Calls fn(const Triangle&) for both triangles of every cell overlapping
// [x0, x1] x [z0, z1], cell by cell along x, then z; in each cell the triangle holding
// corner (i, j) first.
template <typename Fn>
void for_each_triangle(const HeightField& hf, double x0, double x1, double z0, double z1,
                       Fn&& fn) {
  int i0 = 0, i1 = 0, j0 = 0, j1 = 0;
  if (!cell_range(hf, x0, x1, i0, i1) || !cell_range(hf, z0, z1, j0, j1)) return;
  for (int j = j0; j <= j1; ++j) {
    for (int i = i0; i <= i1; ++i) {
      const Vec3d p00 = sample_point(hf, i, j), p10 = sample_point(hf, i + 1, j);
      const Vec3d p01 = sample_point(hf, i, j + 1), p11 = sample_point(hf, i + 1, j + 1);
      if (((i + j) & 1) == 0) {
        fn(make_triangle(p00, p10, p11));
        fn(make_triangle(p00, p11, p01));
      } else {
        fn(make_triangle(p00, p10, p01));
        fn(make_triangle(p10, p11, p01));
      }
    }
  }
}

// False when every sample corner of the cells under [x0, x1] x [z0, z1] lies below
// `lowest` (the lowest point of a shape): the triangles can't reach it, and a shape riding
// high costs a few sample reads instead of a triangle walk.
inline bool ground_may_reach(const HeightField& hf, double x0, double x1, double z0, double z1,
                             double lowest) {
  int i0 = 0, i1 = 0, j0 = 0, j1 = 0;
  if (!cell_range(hf, x0, x1, i0, i1) || !cell_range(hf, z0, z1, j0, j1)) return false;
  for (int j = j0; j <= j1 + 1; ++j) {
    for (int i = i0; i <= i1 + 1; ++i) {
      if (static_cast<double>(height_sample(hf, i, j)) >= lowest) return true;
    }
  }
  return false;
}

// Barycentric test: does the foot of p on the triangle's plane lie inside it (edges
// included)?
inline bool projects_inside(const Triangle& t, const Vec3d& p) {
  bool below = false, above = false;  // either winding
  for (int k = 0; k < 3; ++k) {
    const Vec3d& a = t.v[k];
    const Vec3d& b = t.v[(k + 1) % 3];
    const double side = dot(cross(sub(b, a), sub(p, a)), t.normal);
    below = below || side < 0;
    above = above || side > 0;
  }
  return !(below && above);
}

// Points a normal upwards: a downward one keeps its horizontal part when that is long
// enough, else becomes straight up; the result is unit length.
inline Vec3d upward_normal(Vec3d n) {
  if (n[1] < 0) {
    const double h2 = n[0] * n[0] + n[2] * n[2];
    n = h2 >= 1.0 / 1024.0 ? Vec3d{n[0], 0, n[2]} : Vec3d{0, 1, 0};
  }
  const double len = length(n);
  return len > 0 ? scale(n, 1.0 / len) : Vec3d{0, 1, 0};
}

}  // namespace ks::contact_detail
