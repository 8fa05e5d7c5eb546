// ".shp" from hostile bytes; a shape that reads is then placed on a small rolling terrain
// and its spheres tested against the ground, as spheres and as tyres.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "fs/vfs.h"
#include "physics/terrain_contact.h"
#include "physics/wheel_contact.h"
#include "track/collision_shape.h"
#include "track/heightfield.h"

namespace {

const ks::HeightField& field() {
  static ks::HeightField hf = [] {
    ks::HeightField f;
    ks::init_height_field(f, 3, 1.5f);
    for (int j = 0; j < f.size; ++j)
      for (int i = 0; i < f.size; ++i)
        f.heights[static_cast<size_t>(j * f.size + i)] = static_cast<float>((i * 7 + j * 3) % 5) * 0.5f;
    return f;
  }();
  return hf;
}

void check(const ks::GroundHit& hit) {
  if (!hit.touches) return;
  if (!(hit.depth > 0) || !std::isfinite(hit.depth)) std::abort();
  const double n2 = hit.normal[0] * hit.normal[0] + hit.normal[1] * hit.normal[1] +
                    hit.normal[2] * hit.normal[2];
  if (std::fabs(n2 - 1) > 1e-6 || hit.normal[1] < 0) std::abort();
  for (double v : hit.point) {
    if (!std::isfinite(v)) std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ks::VfsFile* f = ks::vfs_open_memory(data, size);
  auto shape = ks::read_shape(f, "fuzz.shp");
  ks::vfs_close(f);
  if (!shape) return 0;
  if (shape->spheres.size() > static_cast<size_t>(ks::kMaxShapeSpheres)) std::abort();
  if (!std::isfinite(shape->bound) || shape->bound < 0) std::abort();
  size_t tested = 0;
  for (const ks::CollisionSphere& s : shape->spheres) {
    if (++tested > 8) break;
    const ks::GroundHit hit = ks::sphere_terrain_test(
        field(), {s.centre[0], s.centre[1], s.centre[2]}, static_cast<double>(s.radius));
    check(hit);
    // The same numbers as a tyre: centre, axle from the surface values, torus radius.
    check(ks::torus_terrain_test(field(), {s.centre[0], s.centre[1], s.centre[2]},
                                 {s.friction, s.stiffness, s.damping},
                                 static_cast<double>(s.radius), 0.3));
  }
  return 0;
}
