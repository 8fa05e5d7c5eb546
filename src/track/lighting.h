// Track lighting: sun, ambient, clip planes, fog, sky textures and lens flares, read from
// a track's "lighting" file. Texture fields hold names; the renderer loads them.
#pragma once

#include <array>
#include <string>
#include <vector>

namespace ks {

struct VfsFile;

constexpr int kMaxFlareElements = 8;
constexpr float kMinNearPlane = 1.0f / 1024.0f;
constexpr float kMaxNearPlane = 0.875f;
constexpr float kMaxFarPlane = 1048576.0f;

struct FlareElement {
  std::array<float, 2> placement{};
  std::array<float, 3> color{1, 1, 1};
  float size = 1;
  std::string texture;
};

enum class FlareKind { point, direction };

struct LensFlare {
  std::array<float, 3> where{};  // point or direction, by kind
  FlareKind kind = FlareKind::point;
  std::vector<FlareElement> elements;  // at most kMaxFlareElements
};

// Sky slots, in file order: north, east, south, west, up.
enum SkyFace { kSkyNorth, kSkyEast, kSkySouth, kSkyWest, kSkyUp, kSkyFaces };

struct Lighting {
  std::array<float, 3> sun_vector{1, 1, 1};
  std::array<float, 3> sun_color{1, 1, 1};
  std::array<float, 3> ambient{0.5f, 0.5f, 0.5f};
  std::array<float, 3> global_ambient{0.2f, 0.2f, 0.2f};
  float near_plane = 0.25f;
  float far_plane = 5000;
  bool dynamic_lighting = false;
  std::array<float, 4> fog_color{1, 1, 1, 1};
  float fog_density = 0;  // 0: no visible fog
  std::array<std::string, kSkyFaces> sky;  // empty until given or defaulted
  std::string sky_env;
  std::vector<LensFlare> flares;
};

// Reads lighting lines into `l` (which should start from the defaults). An unknown
// identifier posts "Error reading lighting: Unknown identifier '...'" and stops reading;
// values read so far stay. Returns false when reading stopped early.
bool read_lighting(VfsFile* f, Lighting& l);

// The after-reading rules: clip-plane clamps, sun normalised, default sky names.
void finish_lighting(Lighting& l);

// Lines that read_lighting reads back into the same values. Posts "Can't open '...'"
// with the file's base name when the file can't be opened; false on any failure.
bool write_lighting(VfsFile* f, const Lighting& l);
bool write_lighting_file(const char* path, const Lighting& l);

}  // namespace ks
