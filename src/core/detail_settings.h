// The display and detail levels that the renderer, the terrain and roost code read,
// derived once from the settings and then overridden by the command line.
#pragma once

namespace ks {

struct Settings;

struct DetailSettings {
  int xres = 640;  // in windowed mode follows the window's client size
  int yres = 480;
  bool flat_shading = false;
  bool no_vertex_arrays = false;
  int roost_frequency = 1000;  // 0..1000
  int verbose = 0;             // 0..2
  bool practice = false;
  int model_texture_reduction = 1;
  int ground_texture_reduction = 1;
  int ground_texture_size = 64;
  bool use_mipmaps = true;
  int texture_compression = 0;  // 0..2
  int reflections = 1;
  float terrain_detail_factor = 0.125f / 70.0f;
  float max_detail_distance = 70;
  float fade_out_distance = 75;
  float lod_bias = 0;
  float lod_scale = 1;
  // Decided by the graphics code once the window and its GL capabilities exist.
  bool use_shaders = false;
  bool render_to_texture = false;
};

DetailSettings& detail_settings();
void reset_detail_settings(DetailSettings& d);
// Derives every settings-based value (the command line then overrides them).
void compute_detail_settings(const Settings& s, DetailSettings& d);
// The part that waits for the window: mipmaps off when Enable Ground Mipmaps is "No".
void apply_window_detail_settings(const Settings& s, DetailSettings& d);

}  // namespace ks
