// The terrain: the height field with its chessboard triangulation, the tile map of ground
// materials, baked lighting and decals, and the point queries that physics, erosion and
// the autopilot ask of the ground.
//
// Sample (i, j) lies at world (i * spacing, heights[j * size + i], j * spacing). The cell
// whose lower corner is (i, j) is split along (i, j)-(i+1, j+1) when i + j is even and
// along (i, j+1)-(i+1, j) when i + j is odd. Indices outside the field clamp to the edge.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "track/tileinfo.h"

namespace ks {

// The largest `terrain.hf` exponent accepted: 2^11 x 2^11 tiles, 4097 x 4097 samples
// (about 200 MB for heights, their loaded copy, shading and shadows). Larger headers fail
// the load instead of asking for gigabytes.
constexpr int kMaxTerrainExponent = 11;

struct Decal {
  std::string texture_name;
  unsigned texture = 0;           // renderer handle (0 headless)
  unsigned normal_texture = 0;
  unsigned specular_texture = 0;
  float x = 0, z = 0;
  float angle = 0;                // radians
  float size = 1;                 // length along the decal's own z axis
  float aspect = 1;               // size * aspect along its own x axis
  float sin_angle = 0, cos_angle = 1;
};

constexpr int kDecalBucketsPerSide = 8;

struct HeightField {
  int exponent = 0;         // tile map is 2^n x 2^n
  int size = 0;             // R = 2^(n+1) + 1 samples per side
  float spacing = 1;        // s
  float tile_size = 2;      // 2 s
  float extent = 0;         // s * 2^(n+1)
  float min_height = 0, max_height = 0;
  std::vector<float> heights;         // R * R, row-major by z
  std::vector<float> loaded_heights;  // copy taken right after loading
  std::vector<uint8_t> tile_map;      // 2^n * 2^n material indices, row-major by z
  int material_count = 0;             // 1..256 once loaded
  std::array<TileInfo, kMaxMaterials> materials{};
  std::vector<uint8_t> shading;       // R * R * 3, half the scale of "shading.ppm"
  std::vector<uint8_t> shadows;       // R * R, stored inverted
  std::vector<Decal> decals;
  // Decal indices per cell of an 8 x 8 grid over the field (row-major by z).
  std::array<std::vector<int>, kDecalBucketsPerSide * kDecalBucketsPerSide> decal_buckets{};
  bool edit_locked = false;           // set_height_sample ignores writes while set
  uint32_t height_changes = 0;        // bumped by every accepted set_height_sample
  void* render_state = nullptr;       // owned by the terrain renderer (seam)
};

// Empties the field (releases every buffer; the renderer seam's release runs first).
void clear_height_field(HeightField& hf);

// Sets exponent and spacing and allocates flat ground at `height` with one default material
// everywhere, no shading (all 0) and no shadows. Returns false when the exponent is outside
// 0..kMaxTerrainExponent, the spacing is not positive and finite, or memory runs short.
// Used by tests, benchmarks and the data generator.
bool init_height_field(HeightField& hf, int exponent, float spacing, float height = 0);

// ---- point queries (touch at most three samples, allocate nothing) ------------------

float ground_height_at(const HeightField& hf, double x, double z);
// Face normal of the triangle under (x, z): not normalised, |y| = spacing^2, y >= 0.
std::array<float, 3> ground_face_normal_at(const HeightField& hf, double x, double z);
// Material index of the tile under (x, z); positions outside clamp to the edge tiles.
uint8_t ground_material_at(const HeightField& hf, double x, double z);

// Sample access with the edge clamp.
inline float height_sample(const HeightField& hf, int i, int j) {
  const int last = hf.size - 1;
  i = i < 0 ? 0 : (i > last ? last : i);
  j = j < 0 ? 0 : (j > last ? last : j);
  return hf.heights[static_cast<size_t>(j) * static_cast<size_t>(hf.size) +
                    static_cast<size_t>(i)];
}

// The one way heights change after loading. Ignored when the sample lies outside the field,
// edit_locked is set, or the value is not finite; otherwise widens min/max to include it,
// stores it and tells the renderer seam.
void set_height_sample(HeightField& hf, int column, int row, float value);

// Recomputes min_height and max_height over the live heights (an empty field keeps them).
void update_height_range(HeightField& hf);

// Rebuilds the 8 x 8 decal bucket grid from hf.decals.
void build_decal_buckets(HeightField& hf);

}  // namespace ks
