// "lighting" from hostile bytes, then the after-reading rules: the clip planes must end
// inside their ranges and the sun must be a unit vector.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "fs/messages.h"
#include "fs/vfs.h"
#include "track/lighting.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ks::Lighting l;
  ks::VfsFile* f = ks::vfs_open_memory(data, size);
  ks::read_lighting(f, l);
  ks::vfs_close(f);
  ks::finish_lighting(l);
  if (!(l.near_plane >= ks::kMinNearPlane && l.near_plane <= ks::kMaxNearPlane)) std::abort();
  if (!(l.far_plane >= l.near_plane && l.far_plane <= ks::kMaxFarPlane)) std::abort();
  const double len = std::sqrt(double(l.sun_vector[0]) * double(l.sun_vector[0]) +
                               double(l.sun_vector[1]) * double(l.sun_vector[1]) +
                               double(l.sun_vector[2]) * double(l.sun_vector[2]));
  if (!(std::fabs(len - 1) < 1e-3)) std::abort();
  for (const ks::LensFlare& fl : l.flares) {
    if (fl.elements.size() > ks::kMaxFlareElements) std::abort();
  }
  for (const std::string& s : l.sky) {
    if (s.empty()) std::abort();
  }
  ks::clear_messages();
  return 0;
}
