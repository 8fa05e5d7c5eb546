// Replay cameras of a track and the table that lets a checkpoint select one, read from
// and written to a track's "cameras" file.
#pragma once

#include <array>
#include <vector>

#include "track/ground_height.h"

namespace ks {

struct VfsFile;

constexpr int kCameraGateEntries = 256;
constexpr float kDefaultCameraFov = 90;

struct Camera {
  std::array<float, 3> position{};  // y = ground height + height
  float height = 0;                 // above the terrain, as given
  // The aiming, driven by the main loop; 0 at load.
  float yaw = 0, pitch = 0, yaw_rate = 0, pitch_rate = 0;
  float fov = kDefaultCameraFov;    // degrees
  float auto_fov_size = 0;
};

struct Cameras {
  std::vector<Camera> list;
  std::array<int, kCameraGateEntries> gate_camera;  // checkpoint -> camera index, -1 = none
  Cameras() { gate_camera.fill(-1); }
};

void read_cameras(VfsFile* f, Cameras& out, const GroundHeight& ground);

// The camera that checkpoint `n` selects, or -1 (also for a number out of range and for
// a gate line that no addcamera line followed).
int camera_for_checkpoint(const Cameras& c, int n);

bool write_cameras(VfsFile* f, const Cameras& c);
bool write_cameras_file(const char* path, const Cameras& c);

}  // namespace ks
