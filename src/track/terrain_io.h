// Loading and saving a track folder's terrain files, and the seam through which the
// terrain renderer is set up (empty when headless).
#pragma once

#include <functional>

namespace ks {

struct HeightField;
struct VfsFile;

// Installed by the game; every member may be empty (headless: nothing is drawn and the
// track still loads).
struct TerrainRenderSeam {
  // Loading-screen label around each stage; entering is true before, false after.
  std::function<void(const char* label, bool entering)> progress;
  // Renderer set-up after heights, lighting, materials and tile map are in place (normal
  // map, low-detail and LOD textures). Returning false fails the load.
  std::function<bool(HeightField& hf, int texture_method)> setup;
  // Loads a texture by name; 0 when it can't be read. When empty, a decal is kept if its
  // file can be opened.
  std::function<unsigned(const char* name)> load_texture;
  // A height sample changed (the samples and triangles around it need new normals,
  // shading and level of detail).
  std::function<void(HeightField& hf, int column, int row)> height_changed;
  // Brings pending shading and normal-map updates up to date before a save.
  std::function<void(HeightField& hf)> flush;
  // Frees hf.render_state.
  std::function<void(HeightField& hf)> release;
};

TerrainRenderSeam& terrain_render_seam();
void set_terrain_render_seam(TerrainRenderSeam seam);
void reset_terrain_render_seam();

// Fills hf from the files of `folder` (joined with "/" and the file name; "@" names are
// data-tree names). On failure hf is left empty and a message says why.
bool load_terrain(HeightField& hf, const char* folder, int texture_method = 0);

// Writes "terrain.hf", "terrain.png", "shading.ppm", "shadingx2.ppm", "tilemap" and (when
// there are decals) "decals" into `folder` (the editor passes "@" + the track's folder
// name). Recomputes min/max_height first. Stops at the first file that can't be created.
bool save_terrain(HeightField& hf, const char* folder);

// The "terrain.hf" reader on its own: header and heights. `folder` locates "terrain.png"
// when the heights aren't inline (nullptr: no image, heights are min_height). Fills
// exponent, size, spacing, tile_size, extent, min/max_height, heights and loaded_heights.
bool read_terrain_hf(VfsFile* f, const char* folder, HeightField& hf);

// Reads a "decals" file into hf.decals and rebuilds the buckets.
void read_decals(VfsFile* f, HeightField& hf);

}  // namespace ks
