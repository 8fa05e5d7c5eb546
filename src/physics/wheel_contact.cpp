// The tyre torus against the terrain triangles, and the contact joint of a wheel.
#include "physics/wheel_contact.h"

#include <algorithm>
#include <cmath>

#include "physics/terrain_triangles.h"
#include "physics/world.h"
#include "track/heightfield.h"
#include "track/tileinfo.h"

namespace ks {

using namespace contact_detail;

namespace {

// ---- polynomials on [lo, hi] ----------------------------------------------------------

constexpr int kMaxDegree = 4;

double poly_eval(const double* c, int n, double t) {
  double v = c[n];
  for (int k = n - 1; k >= 0; --k) v = v * t + c[k];
  return v;
}

// The root of a polynomial inside [a, b], where it changes sign: bisection with Newton
// steps that stay inside the bracket.
double bracketed_root(const double* c, int n, double a, double b) {
  double d[kMaxDegree];
  for (int k = 0; k < n; ++k) d[k] = (k + 1) * c[k + 1];
  double fa = poly_eval(c, n, a);
  double x = 0.5 * (a + b);
  for (int it = 0; it < 64 && b - a > 1e-15; ++it) {
    const double fx = poly_eval(c, n, x);
    if (fx == 0) return x;
    if ((fx < 0) == (fa < 0)) {
      a = x;
      fa = fx;
    } else {
      b = x;
    }
    const double dfx = poly_eval(d, n - 1, x);
    double next = dfx != 0 ? x - fx / dfx : a;
    if (!(next > a && next < b)) {
      next = 0.5 * (a + b);
    } else if (std::fabs(next - x) < 1e-15) {
      return next;  // Newton has converged; the bracket may stay wide on one side
    }
    x = next;
  }
  return x;
}

// Real roots of c[0] + c[1] t + ... + c[n] t^n in [lo, hi]: the derivative's roots split
// the range into monotonic pieces, and each piece holds at most one root. Critical points
// are also reported (through `crit`) because a double root may not change sign.
int poly_roots(const double* c, int n, double lo, double hi, double* out, double* crit,
               int* crit_count) {
  while (n > 0 && c[n] == 0) --n;
  if (n <= 0) return 0;
  if (n == 1) {
    const double t = -c[0] / c[1];
    if (t >= lo && t <= hi) {
      out[0] = t;
      return 1;
    }
    return 0;
  }
  double d[kMaxDegree];
  for (int k = 0; k < n; ++k) d[k] = (k + 1) * c[k + 1];
  double cuts[kMaxDegree + 1];
  double unused[kMaxDegree + 1];
  int unused_count = 0;
  const int nc = poly_roots(d, n - 1, lo, hi, cuts, unused, &unused_count);
  if (crit != nullptr) {
    for (int k = 0; k < nc; ++k) crit[(*crit_count)++] = cuts[k];
  }
  int count = 0;
  double a = lo;
  double fa = poly_eval(c, n, a);
  for (int k = 0; k <= nc; ++k) {
    const double b = k < nc ? cuts[k] : hi;
    const double fb = poly_eval(c, n, b);
    if (fa == 0) {
      out[count++] = a;
    } else if (fb != 0 && (fa < 0) != (fb < 0)) {
      out[count++] = bracketed_root(c, n, a, b);
    }
    a = b;
    fa = fb;
    if (count >= kMaxDegree) break;
  }
  if (count < kMaxDegree && fa == 0) out[count++] = hi;
  return count;
}

// ---- circle geometry ------------------------------------------------------------------

// Some unit vector perpendicular to the unit vector a.
Vec3d any_perpendicular(const Vec3d& a) {
  const Vec3d helper = std::fabs(a[0]) < 0.6 ? Vec3d{1, 0, 0} : Vec3d{0, 1, 0};
  Vec3d p = cross(a, helper);
  return scale(p, 1.0 / length(p));
}

struct Circle {
  Vec3d centre;
  Vec3d axle;  // unit
  double radius;
};

// The circle point nearest x.
Vec3d nearest_on_circle(const Circle& c, const Vec3d& x) {
  const Vec3d w = sub(x, c.centre);
  const Vec3d wp = sub(w, scale(c.axle, dot(w, c.axle)));
  const double rho = length(wp);
  const Vec3d u = rho > 1e-12 ? scale(wp, 1.0 / rho) : any_perpendicular(c.axle);
  return add(c.centre, scale(u, c.radius));
}

struct SegmentGap {
  double distance = 0;
  Vec3d on_segment{};
  Vec3d on_circle{};
};

// Shortest distance between the circle and the segment a-b. With w(t) = a - centre + t e,
// q(t) = |w|^2 and p(t) = |w - (w.axle) axle|^2, the squared distance is
// q + R^2 - 2 R sqrt(p); it is stationary where q' sqrt(p) = R p', so every interior
// minimum is a root of the quartic q'^2 p - R^2 p'^2 (or a critical point of it, where a
// root is double). Those, the two ends and the point nearest the centre are compared.
SegmentGap circle_segment_gap(const Circle& c, const Vec3d& a, const Vec3d& b) {
  const Vec3d e = sub(b, a);
  const Vec3d w0 = sub(a, c.centre);
  const double alpha0 = dot(w0, c.axle), alpha1 = dot(e, c.axle);
  const double q0 = dot(w0, w0), q1 = 2 * dot(w0, e), q2 = dot(e, e);
  const double p0 = q0 - alpha0 * alpha0, p1 = q1 - 2 * alpha0 * alpha1,
               p2 = q2 - alpha1 * alpha1;
  const double R2 = c.radius * c.radius;
  // (q1 + 2 q2 t)^2 = l0 + l1 t + l2 t^2
  const double l0 = q1 * q1, l1 = 4 * q1 * q2, l2 = 4 * q2 * q2;
  double g[5] = {l0 * p0 - R2 * p1 * p1,
                 l0 * p1 + l1 * p0 - R2 * 4 * p1 * p2,
                 l0 * p2 + l1 * p1 + l2 * p0 - R2 * 4 * p2 * p2,
                 l1 * p2 + l2 * p1,
                 l2 * p2};
  double candidates[16];
  int n = 0;
  candidates[n++] = 0;
  candidates[n++] = 1;
  if (q2 > 0) candidates[n++] = std::clamp(-q1 / (2 * q2), 0.0, 1.0);
  double crit[8];
  int crit_count = 0;
  n += poly_roots(g, 4, 0.0, 1.0, candidates + n, crit, &crit_count);
  for (int k = 0; k < crit_count && n < 16; ++k) candidates[n++] = crit[k];

  SegmentGap best;
  best.distance = INFINITY;
  for (int k = 0; k < n; ++k) {
    const Vec3d x = add(a, scale(e, candidates[k]));
    const Vec3d y = nearest_on_circle(c, x);
    const double dist = length(sub(y, x));
    if (dist < best.distance) best = {dist, x, y};
  }
  return best;
}

// The distance from point p to segment a-b.
double point_segment_distance(const Vec3d& p, const Vec3d& a, const Vec3d& b) {
  const Vec3d e = sub(b, a);
  const double ee = dot(e, e);
  const double t = ee > 0 ? std::clamp(dot(sub(p, a), e) / ee, 0.0, 1.0) : 0.0;
  return length(sub(p, add(a, scale(e, t))));
}

// Penetration of the torus into one triangle, deeper than `want`. The face case and the
// edge case of a triangle are found in separate passes over the triangles (faces first),
// so that the costly edge distances only run where they could still win.
enum class TrianglePass { kFaces, kEdges };
bool torus_triangle(const Triangle& tri, const Circle& circle, double r, double want,
                    TrianglePass pass, GroundHit& hit) {
  const Vec3d& n = tri.normal;
  const double hc = dot(n, sub(circle.centre, tri.v[0]));
  if (std::fabs(hc) > circle.radius + r) return false;

  // Face: the circle point nearest the plane, within the tube's reach of it.
  const Vec3d np = sub(n, scale(circle.axle, dot(n, circle.axle)));
  const double np_len = length(np);
  Vec3d d;
  if (np_len > 1e-9) {
    d = scale(np, -1.0 / np_len);
  } else {
    // Lying flat on the plane: every circle point is equally near; take the one towards
    // this triangle so that the triangles under the tyre see it.
    const Vec3d mid = scale(add(add(tri.v[0], tri.v[1]), tri.v[2]), 1.0 / 3.0);
    const Vec3d g = sub(mid, circle.centre);
    const Vec3d gp = sub(g, scale(circle.axle, dot(g, circle.axle)));
    const double gl = length(gp);
    d = gl > 1e-12 ? scale(gp, 1.0 / gl) : any_perpendicular(circle.axle);
  }
  const Vec3d nearest = add(circle.centre, scale(d, circle.radius));
  const Vec3d opposite = sub(circle.centre, scale(d, circle.radius));
  const double h_near = dot(n, sub(nearest, tri.v[0]));
  const double h_opp = dot(n, sub(opposite, tri.v[0]));
  if (h_near < r && h_opp > 0 && projects_inside(tri, nearest)) {
    const double depth = r - h_near;
    if (pass == TrianglePass::kEdges || depth <= want) return false;
    hit = {true, sub(nearest, scale(n, r)), n, depth};
    return true;
  }
  if (pass == TrianglePass::kFaces) return false;

  // Edges and corners: the shortest gap between the centre circle and the outline. The
  // outline lies in the plane, so it is at least as far from the circle as the plane is;
  // where that already can't win, the quartic isn't needed.
  if (h_near >= r - want) return false;
  bool found = false;
  for (int k = 0; k < 3; ++k) {
    const Vec3d& a = tri.v[k];
    const Vec3d& b = tri.v[(k + 1) % 3];
    const double reach = r - want;  // gaps at or beyond this can't win
    // Cheap rejections: the segment beside the wheel plane, or too far from its centre.
    const double sa = dot(sub(a, circle.centre), circle.axle);
    const double sb = dot(sub(b, circle.centre), circle.axle);
    if ((sa >= reach && sb >= reach) || (sa <= -reach && sb <= -reach)) continue;
    if (point_segment_distance(circle.centre, a, b) >= circle.radius + reach) continue;
    const double far_end = std::max(length(sub(a, circle.centre)), length(sub(b, circle.centre)));
    if (far_end <= circle.radius - reach) continue;  // inside the ring, clear of the tube
    const SegmentGap gap = circle_segment_gap(circle, a, b);
    const double depth = r - gap.distance;
    if (depth <= want) continue;
    Vec3d normal = sub(gap.on_circle, gap.on_segment);
    const double len = length(normal);
    normal = len > 1e-12 ? scale(normal, 1.0 / len) : n;
    hit = {true, sub(gap.on_circle, scale(normal, r)), normal, depth};
    want = depth;
    found = true;
  }
  return found;
}

// Walks curve points by speed: the index of the first point whose speed is 0 or above
// the given speed (compared as `below(i)`), 0..count.
template <typename Points, typename Below>
int curve_index(const Points& pts, Below below) {
  int i = 0;
  const int n = static_cast<int>(pts.size());
  while (i < n && pts[static_cast<size_t>(i)].speed != 0 && !below(i)) ++i;
  return i;
}

}  // namespace

GroundHit torus_terrain_test(const HeightField& hf, const Vec3d& centre, const Vec3d& axle,
                             double torus_radius, double section_radius) {
  GroundHit best;
  const double alen = length(axle);
  if (!(alen > 0) || !std::isfinite(alen) || !(torus_radius >= 0) || !(section_radius > 0)) {
    return best;
  }
  for (double v : centre) {
    if (!std::isfinite(v)) return best;
  }
  const Circle circle{centre, scale(axle, 1.0 / alen), torus_radius};
  // The torus's own extent along x and z (a circle reaches R sqrt(1 - a_k^2) along axis
  // k): cells outside it can't touch, and an upright wheel is thin across.
  const auto extent = [&](double ak) {
    return torus_radius * std::sqrt(std::max(0.0, 1.0 - ak * ak)) + section_radius;
  };
  const double reach_x = extent(circle.axle[0]), reach_z = extent(circle.axle[2]);
  const double lowest =
      centre[1] - (torus_radius * std::sqrt(std::max(0.0, 1.0 - circle.axle[1] * circle.axle[1])) +
                   section_radius);
  if (!ground_may_reach(hf, centre[0] - reach_x, centre[0] + reach_x, centre[2] - reach_z,
                        centre[2] + reach_z, lowest)) {
    return best;
  }
  double depth = 0;
  for (TrianglePass pass : {TrianglePass::kFaces, TrianglePass::kEdges}) {
    for_each_triangle(hf, centre[0] - reach_x, centre[0] + reach_x, centre[2] - reach_z,
                      centre[2] + reach_z, [&](const Triangle& tri) {
                        GroundHit h;
                        if (torus_triangle(tri, circle, section_radius, depth, pass, h)) {
                          best = h;
                          depth = h.depth;
                        }
                      });
  }
  if (!(best.depth > 0)) return GroundHit{};
  best.normal = upward_normal(best.normal);
  return best;
}

GroundHit wheel_terrain_test(const HeightField& hf, const WheelContact& wheel) {
  if (wheel.body == nullptr) return GroundHit{};
  const dReal* c = dBodyGetPosition(wheel.body);
  dVector3 a;
  dBodyVectorToWorld(wheel.body, wheel.axle[0], wheel.axle[1], wheel.axle[2], a);
  return torus_terrain_test(hf, {c[0], c[1], c[2]}, {a[0], a[1], a[2]},
                            static_cast<double>(wheel.torus_radius),
                            static_cast<double>(wheel.section_radius));
}

double material_friction(const TileInfo& m, double speed) {
  const auto& pts = m.friction;
  const double v2 = speed * speed;
  const int i = curve_index(pts, [&](int k) {
    const double s = static_cast<double>(pts[static_cast<size_t>(k)].speed);
    return v2 < s * s;
  });
  if (i == 0) return static_cast<double>(pts[0].value);
  const auto& lo = pts[static_cast<size_t>(i - 1)];
  if (i == static_cast<int>(pts.size()) || pts[static_cast<size_t>(i)].speed == 0) {
    return static_cast<double>(lo.value);
  }
  const auto& hi = pts[static_cast<size_t>(i)];
  const double s0 = static_cast<double>(lo.speed), s1 = static_cast<double>(hi.speed);
  const double span = s1 * s1 - s0 * s0;
  const double t = span > 0 ? std::clamp((v2 - s0 * s0) / span, 0.0, 1.0) : 1.0;
  return static_cast<double>(lo.value) +
         t * (static_cast<double>(hi.value) - static_cast<double>(lo.value));
}

double material_roll_resist(const TileInfo& m, double speed, double compression) {
  const auto& pts = m.roll_resist;
  const int i = curve_index(
      pts, [&](int k) { return speed < static_cast<double>(pts[static_cast<size_t>(k)].speed); });
  double low = 0, high = 0;
  if (i == 0) {
    low = static_cast<double>(pts[0].low);
    high = static_cast<double>(pts[0].high);
  } else if (i == static_cast<int>(pts.size()) || pts[static_cast<size_t>(i)].speed == 0) {
    low = static_cast<double>(pts[static_cast<size_t>(i - 1)].low);
    high = static_cast<double>(pts[static_cast<size_t>(i - 1)].high);
  } else {
    const auto& a = pts[static_cast<size_t>(i - 1)];
    const auto& b = pts[static_cast<size_t>(i)];
    const double span = static_cast<double>(b.speed) - static_cast<double>(a.speed);
    const double t =
        span > 0 ? std::clamp((speed - static_cast<double>(a.speed)) / span, 0.0, 1.0) : 1.0;
    low = static_cast<double>(a.low) + t * static_cast<double>(b.low - a.low);
    high = static_cast<double>(a.high) + t * static_cast<double>(b.high - a.high);
  }
  return low + (high - low) * compression;
}

Vec3d tyre_friction_direction(const Vec3d& normal, const Vec3d& slip, const Vec3d& axle_world) {
  Vec3d f = cross(normal, slip);
  if (dot(f, f) < 1.0 / 1024.0) f = cross(normal, axle_world);
  const double len = length(f);
  return len > 0 ? scale(f, 1.0 / len) : Vec3d{0, 0, 0};
}

TyreSoftness tyre_softness(double depth, double section_radius) {
  double s = section_radius > 0 ? depth / section_radius : 1.0;
  s = std::clamp(s, 0.0, 1.0);
  TyreSoftness out;
  const double s3 = s * s * s;
  out.spring = 1000 + 24000 * s3;
  out.damper = 200 + 2300 * s3;
  const double hk = kTicSeconds * out.spring;
  out.erp = hk / (hk + out.damper);
  out.cfm = 1.0 / (hk + out.damper);
  return out;
}

bool wheel_contact(const HeightField& hf, WheelContact& wheel, double grip_factor) {
  const GroundHit hit = wheel_terrain_test(hf, wheel);
  if (!hit.touches) {
    wheel.depth = 0;
    wheel.feedback = dJointFeedback{};  // no joint, no force this tic
    return false;
  }
  dVector3 pv;
  dBodyGetPointVel(wheel.body, hit.point[0], hit.point[1], hit.point[2], pv);
  for (int k = 0; k < 3; ++k) {
    wheel.point[static_cast<size_t>(k)] = static_cast<float>(hit.point[static_cast<size_t>(k)]);
    wheel.point_velocity[static_cast<size_t>(k)] = static_cast<float>(pv[k]);
    wheel.normal[static_cast<size_t>(k)] = static_cast<float>(hit.normal[static_cast<size_t>(k)]);
  }
  wheel.depth = static_cast<float>(hit.depth);

  const TileInfo& m = hf.materials[ground_material_at(hf, hit.point[0], hit.point[2])];
  const Vec3d slip{pv[0], pv[1], pv[2]};
  const double mu = material_friction(m, length(slip)) * grip_factor;
  const double section = static_cast<double>(wheel.section_radius);
  const TyreSoftness soft = tyre_softness(hit.depth, section);

  dVector3 a;
  dBodyVectorToWorld(wheel.body, wheel.axle[0], wheel.axle[1], wheel.axle[2], a);
  const Vec3d f = tyre_friction_direction(hit.normal, slip, {a[0], a[1], a[2]});
  const bool has_direction = dot(f, f) > 0;

  if (g_physics.world != nullptr && g_physics.contact_group != nullptr) {
    dContact c{};
    c.surface.mode = dContactApprox1 | dContactSoftERP | dContactSoftCFM;
    if (has_direction) {
      c.surface.mode |= dContactFDir1;
      for (int k = 0; k < 3; ++k) c.fdir1[k] = f[static_cast<size_t>(k)];
    }
    c.surface.mu = mu;
    c.surface.soft_erp = soft.erp;
    c.surface.soft_cfm = soft.cfm;
    for (int k = 0; k < 3; ++k) {
      c.geom.pos[k] = hit.point[static_cast<size_t>(k)];
      c.geom.normal[k] = hit.normal[static_cast<size_t>(k)];
    }
    c.geom.depth = hit.depth;
    dJointID j = dJointCreateContact(g_physics.world, g_physics.contact_group, &c);
    dJointAttach(j, wheel.body, nullptr);
    dJointSetFeedback(j, &wheel.feedback);
  }

  // Rolling resistance against the wheel's motion along the ground, fading out below
  // 1 ft/s.
  const dReal* lv = dBodyGetLinearVel(wheel.body);
  const Vec3d vel{lv[0], lv[1], lv[2]};
  const Vec3d along = sub(vel, scale(hit.normal, dot(vel, hit.normal)));
  const double u = length(along);
  const double compression = section > 0 ? std::min(1.0, hit.depth / section) : 1.0;
  const double force = material_roll_resist(m, u, compression);
  const Vec3d dir = u > 1 ? scale(along, 1.0 / u) : along;
  dBodyAddForce(wheel.body, -dir[0] * force, -dir[1] * force, -dir[2] * force);
  return true;
}

}  // namespace ks
