// Throttle, brakes and clutch for a target speed, pitch control in the air, and slowing
// down behind other riders.
#include <algorithm>
#include <cmath>

#include "autopilot/autopilot.h"

namespace ks {

namespace {
constexpr double kPi = 3.14159265358979323846;
double clamp01(double v) { return std::clamp(v, 0.0, 1.0); }
}  // namespace

SpeedCommand speed_control(const SpeedInput& in) {
  SpeedCommand c;
  if (!in.rear_touches) {
    // In the air the rear wheel's spin trims the pitch: braking it brings the nose down,
    // driving it lifts the nose.
    const double w = in.pitch_rate;
    if ((!(in.rear_y > in.front_y) || w >= 0) && w >= -kPi / 4) {
      c.throttle = 0;
      if (in.front_y - in.rear_y > 1 && w >= -kPi / 8) {
        c.clutch = 0;
        c.rear_brake = 1;
      } else {
        c.clutch = 0.125;
      }
    } else {
      c.throttle = 1;
      c.clutch = 0.125;
    }
    return c;
  }
  if (in.v < in.w - 1) {
    c.throttle = 1;
  } else {
    const double x = in.v - (in.w - 1);
    if (x >= 1) {
      c.throttle = 0;
      c.front_brake = c.rear_brake = clamp01(x - 1);
    } else {
      c.throttle = 1 - x;
    }
  }
  c.clutch = in.in_gear ? 1.0 : clamp01((in.rpm - (in.downshift_rpm - 1000)) / 1000);
  return c;
}

double follow_limit(double w, double d, double c, double tt, bool& clear_lines) {
  tt = std::min(tt, 100.0);
  const double f = clamp01((tt - 3) / 2) * clamp01((120 - tt) / 100);
  const double gap = 12 + 8 * f;
  if (d >= gap) {
    if (c < w) {
      // Blend by how much of the room left a 5 ft/s^2 stop from the closing speed needs.
      const double stop = (w - c) * (w - c) / (2 * 5.0);
      const double room = d - gap;
      const double k = room > 0 ? clamp01(stop / room) : 1.0;
      w += (c - w) * k;
      clear_lines = true;
    }
    return w;
  }
  return std::min(w, (1 - f / 4) * c);
}

Footprint footprint_of(const std::array<double, 3>& p, const std::array<double, 3>& v) {
  Footprint fp;
  fp.x = p[0];
  fp.z = p[2];
  const double speed = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
  const double hs = std::hypot(v[0], v[2]);
  if (!(speed > 0) || !(hs > 1e-9)) {
    // At rest: +-2 along x, +-4 along z.
    fp.dx = 0;
    fp.dz = 1;
    fp.behind = fp.ahead = 4;
    fp.side = 2;
    return fp;
  }
  fp.dx = v[0] / hs;
  fp.dz = v[2] / hs;
  fp.behind = 4;
  fp.ahead = 4 + speed;
  fp.side = 2;
  return fp;
}

namespace {
// The four corners, in order around the rectangle.
std::array<std::array<double, 2>, 4> corners(const Footprint& f) {
  const double sx = -f.dz, sz = f.dx;  // sideways unit
  const auto at = [&](double along, double side) {
    return std::array<double, 2>{f.x + f.dx * along + sx * side, f.z + f.dz * along + sz * side};
  };
  return {at(-f.behind, -f.side), at(f.ahead, -f.side), at(f.ahead, f.side),
          at(-f.behind, f.side)};
}
}  // namespace

bool footprints_overlap(const Footprint& a, const Footprint& b) {
  // Separating axes of two rectangles: their own edge directions. Unlike an edge-crossing
  // test this also finds one footprint lying wholly inside the other.
  const auto ca = corners(a), cb = corners(b);
  const std::array<std::array<double, 2>, 4> axes{{{a.dx, a.dz}, {-a.dz, a.dx}, {b.dx, b.dz},
                                                    {-b.dz, b.dx}}};
  for (const auto& ax : axes) {
    double amin = 1e300, amax = -1e300, bmin = 1e300, bmax = -1e300;
    for (int i = 0; i < 4; ++i) {
      const double pa = ca[size_t(i)][0] * ax[0] + ca[size_t(i)][1] * ax[1];
      const double pb = cb[size_t(i)][0] * ax[0] + cb[size_t(i)][1] * ax[1];
      amin = std::min(amin, pa);
      amax = std::max(amax, pa);
      bmin = std::min(bmin, pb);
      bmax = std::max(bmax, pb);
    }
    if (amax < bmin || bmax < amin) return false;
  }
  return true;
}

}  // namespace ks
