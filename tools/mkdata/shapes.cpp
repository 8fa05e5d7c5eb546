// Collision shapes of the track objects: spheres in the object's own frame (x along the
// object, y up), with the friction, stiffness and damping a bike meets when it hits them.
#include <cmath>
#include <cstdio>

#include "mkdata.h"

namespace ks::mkdata {

namespace {

struct Ball {
  double x, y, z, r;
};

std::string shape_text(const std::vector<Ball>& balls, double friction, double stiffness,
                       double damping) {
  std::string out = std::to_string(balls.size()) + "\n";
  char line[256];
  for (const Ball& b : balls) {
    std::snprintf(line, sizeof line, "%f %f %f %f %f %f %f\n", b.x, b.y, b.z, b.r, friction,
                  stiffness, damping);
    out += line;
  }
  return out;
}

}  // namespace

std::vector<ShapeFile> standard_shapes() {
  std::vector<ShapeFile> out;
  // A gate piece as it lies when the gate has dropped: a 3 ft wide plate flat on the
  // ground, reaching 2 ft either side of its hinge line (the x axis). Held up, the piece
  // is turned 33.75 degrees about that line, and whichever way it turns, one half rises
  // across the slot in front of the bike.
  std::vector<Ball> gate;
  for (double z : {-2.0, -1.4, -0.7, 0.7, 1.4, 2.0})
    for (double x : {-1.2, -0.6, 0.0, 0.6, 1.2}) gate.push_back({x, 0.25, z, 0.25});
  out.push_back({"startgate.shp", shape_text(gate, 0.4, 20000, 400)});
  // A straw bale 4 ft long, 2 ft wide and high: soft, and it grips.
  out.push_back({"haybale.shp", shape_text({{-1, 1, 0, 1}, {0, 1, 0, 1}, {1, 1, 0, 1}}, 0.8, 2500, 150)});
  // A plastic tuff block 6 ft long and 2.5 ft thick: stiffer and slippery.
  std::vector<Ball> tuff;
  for (double x : {-1.875, -0.625, 0.625, 1.875}) tuff.push_back({x, 1.25, 0, 1.25});
  out.push_back({"tuffblock.shp", shape_text(tuff, 0.6, 6000, 300)});
  return out;
}

// ---- the generic bike ----------------------------------------------------------------------
//
// Every catalog row shares one geometry, so one set of shapes serves all bikes. Each
// sphere is placed in world terms at the bike's rest pose (front towards -z, ground at
// y = 0) and written relative to its body's rest position, since bodies start unturned.

namespace {

struct BodyOrigin {
  double x, y, z;
};
constexpr BodyOrigin kFrameOrigin{0, 1.98, 3.6};
constexpr BodyOrigin kForkUpperOrigin{0, 2.9, 2.16};
constexpr BodyOrigin kForkLowerOrigin{0, 1.77, 1.59};
constexpr BodyOrigin kSwingarmOrigin{0, 1.34, 4.99};
constexpr BodyOrigin kRiderOrigin{0, 4.5, 4.12};

// Rest-pose spheres into body coordinates.
std::vector<Ball> relative(const BodyOrigin& o, const std::vector<Ball>& world) {
  std::vector<Ball> out;
  for (const Ball& b : world) out.push_back({b.x - o.x, b.y - o.y, b.z - o.z, b.r});
  return out;
}

// Both sides of the bike.
void mirrored(std::vector<Ball>& out, double x, double y, double z, double r) {
  out.push_back({-x, y, z, r});
  out.push_back({x, y, z, r});
}

// A ring of spheres around the x axis: the tyre, for bike-to-bike contact.
std::vector<Ball> tyre_ring(double torus_radius, double section_radius) {
  std::vector<Ball> out;
  for (int k = 0; k < 12; ++k) {
    const double a = k * (2 * 3.14159265358979323846 / 12);
    out.push_back({0, torus_radius * std::cos(a), torus_radius * std::sin(a), section_radius});
  }
  return out;
}

}  // namespace

std::vector<ShapeFile> bike_shapes() {
  std::vector<ShapeFile> out;
  // Frame: the engine low in the middle (its underside about a suspension travel above the
  // ground, so that a bottomed bike still stands on its wheels), the backbone with tank and
  // seat, the radiator shrouds either side, and the rear fender.
  std::vector<Ball> frame = {{0, 1.8, 3.35, 0.45}, {0, 2.75, 2.5, 0.35}, {0, 2.7, 3.35, 0.45},
                             {0, 2.75, 4.3, 0.4},  {0, 2.6, 5.3, 0.35}};
  mirrored(frame, 0.45, 2.3, 2.9, 0.3);
  out.push_back({"generic_frame.shp", shape_text(relative(kFrameOrigin, frame), 0.5, 2500, 250)});
  // Fork upper: the top clamp, the number plate and the handlebar ends.
  std::vector<Ball> upper = {{0, 3.3, 2.05, 0.3}, {0, 3.0, 1.8, 0.25}};
  mirrored(upper, 1.25, 3.45, 2.2, 0.15);
  out.push_back(
      {"generic_fork_upper.shp", shape_text(relative(kForkUpperOrigin, upper), 0.5, 2500, 250)});
  // Fork lower: the two legs along the steering axis, and the front fender.
  std::vector<Ball> lower = {{0, 2.1, 1.0, 0.25}};
  for (double t : {-0.5, 0.0, 0.5}) {
    mirrored(lower, 0.416667, kForkLowerOrigin.y + 1.13 * t, kForkLowerOrigin.z + 0.57 * t, 0.12);
  }
  out.push_back(
      {"generic_fork_lower.shp", shape_text(relative(kForkLowerOrigin, lower), 0.5, 2500, 250)});
  // Swingarm: both arms from the pivot (0, 1.6, 4.08) to the rear axle (0, 1.04, 6.0).
  std::vector<Ball> arm;
  for (double t : {0.2, 0.5, 0.8}) {
    mirrored(arm, 0.35, 1.6 + (1.04 - 1.6) * t, 4.08 + (6.0 - 4.08) * t, 0.15);
  }
  out.push_back({"generic_swingarm.shp", shape_text(relative(kSwingarmOrigin, arm), 0.5, 2500, 250)});
  out.push_back({"front_wheel.shp", shape_text(tyre_ring(0.833333, 0.333333), 1.0, 2500, 250)});
  out.push_back({"rear_wheel.shp", shape_text(tyre_ring(0.75, 0.333333), 1.0, 2500, 250)});
  // Rider: body, helmet, hips, then shoulders, elbows, knees and boots either side. The
  // boots sit on the pegs, which move with the frame, while this body sinks on its springs
  // when the suspension bottoms: their spheres are the shins above the pegs, so that a
  // rider landing hard or hitting a jump face doesn't drag his feet through the ground.
  std::vector<Ball> rider = {{0, 4.5, 4.12, 0.6}, {0, 5.7, 3.5, 0.45}, {0, 3.4, 4.4, 0.45}};
  mirrored(rider, 0.7, 5.1, 4.0, 0.3);
  mirrored(rider, 0.9, 4.1, 3.0, 0.2);
  mirrored(rider, 0.7, 3.0, 3.3, 0.25);
  mirrored(rider, 0.55, 2.2, 3.9, 0.2);
  out.push_back({"generic_rider.shp", shape_text(relative(kRiderOrigin, rider), 0.8, 2500, 250)});
  return out;
}

}  // namespace ks::mkdata
