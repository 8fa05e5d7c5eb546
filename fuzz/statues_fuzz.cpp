// "statues" and ".shp" from hostile bytes: the first byte picks the reader. Statues are
// placed on a sloped ground and entered into the object grid.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "fs/messages.h"
#include "fs/vfs.h"
#include "track/collision_shape.h"
#include "track/objects.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const uint8_t mode = data[0];
  ++data;
  --size;
  ks::VfsFile* f = ks::vfs_open_memory(data, size);
  if ((mode & 1) != 0) {
    auto shape = ks::read_shape(f, "fuzz.shp");
    ks::vfs_close(f);
    if (shape) {
      if (shape->spheres.size() > ks::kMaxShapeSpheres) std::abort();
      if (!std::isfinite(shape->bound) || shape->bound < 0) std::abort();
    }
    return 0;
  }
  std::vector<ks::TrackObject> objects;
  ks::GroundHeight ground = [](float x, float z) { return 0.25f * x - 0.5f * z; };
  ks::read_statues(f, objects, ground);
  ks::vfs_close(f);
  // Give some objects a shape, so the grid walks several cells.
  for (size_t i = 0; i < objects.size(); i += 2) {
    objects[i].shape = ks::CollisionShape{"s", {}, static_cast<float>(i % 97)};
  }
  for (const ks::TrackObject& o : objects) {
    for (float v : o.orientation) {
      if (!std::isfinite(v)) std::abort();
    }
  }
  ks::ObjectGrid grid;
  const float widths[] = {512.0f, 0.0f, static_cast<float>(mode) * 3.0f - 100.0f};
  for (float w : widths) {
    ks::build_object_grid(grid, objects, w);
    for (const auto& cell : grid.cells) {
      for (int index : cell) {
        if (index < 0 || static_cast<size_t>(index) >= objects.size()) std::abort();
      }
    }
  }
  ks::clear_messages();
  ks::free_shape_cache();
  return 0;
}
