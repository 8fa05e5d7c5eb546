// The "cameras" file: "fov", "autofovsize", "gate" and "addcamera" lines.
#include "track/cameras.h"

#include <cmath>
#include <cstring>

#include "core/detail_settings.h"
#include "fs/vfs.h"
#include "platform/vant.h"
#include "track/track_text.h"

namespace ks {

void read_cameras(VfsFile* f, Cameras& out, const GroundHeight& ground) {
  out = Cameras{};
  if (f == nullptr) return;
  float fov = kDefaultCameraFov;
  float auto_fov = 0;
  std::string line;
  while (read_track_line(f, line)) {
    const char* s = skip_blanks(line.c_str());
    const char* end = s;
    while (*end != '\0' && *end != ' ' && *end != '\t' && *end != '\r') ++end;
    const std::string word(s, static_cast<size_t>(end - s));
    float v = 0;
    if (word == "addcamera") {
      Camera c;
      float x = 0, h = 0, z = 0;
      if (scan_text(end, " %f %f %f", &x, &h, &z) != 3) continue;
      c.height = h;
      c.position = {x, ground_at(ground, x, z) + h, z};
      c.fov = fov;
      c.auto_fov_size = auto_fov;
      out.list.push_back(c);
      fov = kDefaultCameraFov;
      auto_fov = 0;
    } else if (word == "fov") {
      if (scan_text(end, " %f", &v) == 1) fov = std::fabs(v);
    } else if (word == "autofovsize") {
      if (scan_text(end, " %f", &v) == 1) auto_fov = std::fabs(v);
    } else if (word == "gate") {
      // Integers after the word; the first that doesn't scan or is out of range ends them.
      const char* p = end;
      int n = 0, used = 0;
      while (scan_text(p, " %d%n", &n, &used) == 1 && n >= 0 && n < kCameraGateEntries) {
        out.gate_camera[static_cast<size_t>(n)] = static_cast<int>(out.list.size());
        p += used;
      }
    }
  }
  if (detail_settings().verbose >= 1) vant_log("%d cameras found\n", int(out.list.size()));
}

int camera_for_checkpoint(const Cameras& c, int n) {
  if (n < 0 || n >= kCameraGateEntries) return -1;
  const int cam = c.gate_camera[static_cast<size_t>(n)];
  // A gate line after the last addcamera names a camera that never came.
  if (cam < 0 || cam >= static_cast<int>(c.list.size())) return -1;
  return cam;
}

bool write_cameras(VfsFile* f, const Cameras& c) {
  if (f == nullptr) return false;
  for (size_t i = 0; i <= c.list.size(); ++i) {
    bool any = false;
    for (int n = 0; n < kCameraGateEntries; ++n) {
      if (c.gate_camera[static_cast<size_t>(n)] != static_cast<int>(i)) continue;
      vfs_printf(f, any ? " %d" : "gate %d", n);
      any = true;
    }
    if (any) vfs_puts(f, "\n");
    if (i == c.list.size()) break;
    const Camera& cam = c.list[i];
    if (cam.fov != kDefaultCameraFov) vfs_printf(f, "fov %f\n", double(cam.fov));
    if (cam.auto_fov_size != 0) vfs_printf(f, "autofovsize %f\n", double(cam.auto_fov_size));
    vfs_printf(f, "addcamera %f %f %f\n", double(cam.position[0]), double(cam.height),
               double(cam.position[2]));
  }
  return !vfs_write_failed(f);
}

bool write_cameras_file(const char* path, const Cameras& c) {
  return write_track_output(path, "cameras",
                            [&](VfsFile* f) { return write_cameras(f, c); });
}

}  // namespace ks
