// The "terrain.hf" header and inline heights, from hostile bytes.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "fs/vfs.h"
#include "track/heightfield.h"
#include "track/terrain_io.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static ks::HeightField hf;
  ks::VfsFile* f = ks::vfs_open_memory(data, size);
  // No folder: heights that aren't inline are flat, so the header alone is exercised.
  if (ks::read_terrain_hf(f, nullptr, hf)) {
    const size_t n = static_cast<size_t>(hf.size) * static_cast<size_t>(hf.size);
    if (hf.heights.size() != n || hf.loaded_heights.size() != n) std::abort();
    for (const float h : hf.heights) {
      if (!std::isfinite(h)) std::abort();
    }
    // The queries stay inside the buffers wherever they are asked.
    if (hf.tile_map.empty()) hf.tile_map.assign(size_t{1} << (2 * hf.exponent), 0);
    const double e = static_cast<double>(hf.extent);
    for (const double x : {-1e9, -0.5, 0.0, e * 0.37, e, e + 3.0, 1e300}) {
      (void)ks::ground_height_at(hf, x, e - x);
      (void)ks::ground_face_normal_at(hf, x, x);
      (void)ks::ground_material_at(hf, e - x, x);
    }
  }
  ks::vfs_close(f);
  ks::clear_height_field(hf);
  return 0;
}
