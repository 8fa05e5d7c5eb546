// Collision shapes of the track objects: spheres in the object's own frame (x along the
// object, y up), with the friction, stiffness and damping a bike meets when it hits them.
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

}  // namespace ks::mkdata
