// "cameras" from hostile bytes: every table entry and every lookup stays in range.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "fs/vfs.h"
#include "track/cameras.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ks::Cameras c;
  ks::VfsFile* f = ks::vfs_open_memory(data, size);
  ks::read_cameras(f, c, [](float x, float z) { return x - z; });
  ks::vfs_close(f);
  const int count = static_cast<int>(c.list.size());
  for (int v : c.gate_camera) {
    if (v < -1 || v > count) std::abort();
  }
  for (int n = -2; n < ks::kCameraGateEntries + 2; ++n) {
    const int cam = ks::camera_for_checkpoint(c, n);
    if (cam < -1 || cam >= count) std::abort();
  }
  for (const ks::Camera& cam : c.list) {
    if (std::signbit(cam.fov) || std::signbit(cam.auto_fov_size)) std::abort();
  }
  return 0;
}
