// Collision shapes: the spheres of one body or track object, read from ".shp" files.
// One copy per file name is cached; users take copies because they write world centres
// into them.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <vector>

namespace ks {

struct VfsFile;

struct CollisionSphere {
  std::array<float, 3> centre{};  // body frame
  // World centre of this tic, written into a bike's own copy by the contact tests (the
  // body-frame centre stays, so the next tic can place it again).
  std::array<float, 3> world_centre{};
  float radius = 0;
  float friction = 0;
  float stiffness = 0;
  float damping = 0;
};

struct CollisionShape {
  std::string name;  // file name
  std::vector<CollisionSphere> spheres;
  float bound = 0;   // largest |centre| + radius
};

// More spheres than any shape needs; a larger count is treated as a damaged file.
constexpr int kMaxShapeSpheres = 4096;

// "%d" count, then per sphere "%f %f %f" centre and "%f %f %f %f" radius, friction,
// stiffness, damping. Anything short, negative, oversized or not finite gives no shape.
std::optional<CollisionShape> read_shape(VfsFile* f, const char* name);

// The cached shape of a file name (opened through the file layer), or none.
std::optional<CollisionShape> load_shape(const char* name);

// Forgets every cached shape (track change, shutdown, tests).
void free_shape_cache();

}  // namespace ks
