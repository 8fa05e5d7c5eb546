// The ".shp" reader and the per-name shape cache.
#include "track/collision_shape.h"

#include <cmath>
#include <map>

#include "fs/vfs.h"

namespace ks {
namespace {

struct ShapeCache {
  // A name that could not be loaded is remembered as none, so it is tried once.
  std::map<std::string, std::optional<CollisionShape>> shapes;
};

ShapeCache& shape_cache() {
  static ShapeCache cache;
  return cache;
}

}  // namespace

std::optional<CollisionShape> read_shape(VfsFile* f, const char* name) {
  if (f == nullptr) return std::nullopt;
  int count = 0;
  if (vfs_scan(f, "%d", &count) != 1 || count < 0 || count > kMaxShapeSpheres) {
    return std::nullopt;
  }
  CollisionShape shape;
  shape.name = name != nullptr ? name : "";
  shape.spheres.reserve(static_cast<size_t>(count));
  double bound = 0;
  for (int i = 0; i < count; ++i) {
    CollisionSphere s;
    if (vfs_scan(f, "%f %f %f", &s.centre[0], &s.centre[1], &s.centre[2]) != 3) {
      return std::nullopt;
    }
    if (vfs_scan(f, "%f %f %f %f", &s.radius, &s.friction, &s.stiffness, &s.damping) != 4) {
      return std::nullopt;
    }
    for (float v : {s.centre[0], s.centre[1], s.centre[2], s.radius, s.friction, s.stiffness,
                    s.damping}) {
      if (!std::isfinite(v)) return std::nullopt;
    }
    const double cx = double(s.centre[0]), cy = double(s.centre[1]), cz = double(s.centre[2]);
    const double reach = std::sqrt(cx * cx + cy * cy + cz * cz) + double(s.radius);
    if (reach > bound) bound = reach;
    shape.spheres.push_back(s);
  }
  shape.bound = static_cast<float>(bound);
  if (!std::isfinite(shape.bound)) return std::nullopt;
  return shape;
}

std::optional<CollisionShape> load_shape(const char* name) {
  if (name == nullptr || name[0] == '\0') return std::nullopt;
  ShapeCache& cache = shape_cache();
  auto it = cache.shapes.find(name);
  if (it != cache.shapes.end()) return it->second;
  VfsFile* f = vfs_open(name, "rb");
  std::optional<CollisionShape> shape = read_shape(f, name);
  if (f != nullptr) vfs_close(f);
  cache.shapes.emplace(name, shape);
  return shape;
}

void free_shape_cache() { shape_cache().shapes.clear(); }

}  // namespace ks
