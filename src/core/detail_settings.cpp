#include "core/detail_settings.h"

#include <algorithm>

#include "core/config.h"

namespace ks {

DetailSettings& detail_settings() {
  static DetailSettings d;
  return d;
}

void reset_detail_settings(DetailSettings& d) { d = DetailSettings{}; }

void compute_detail_settings(const Settings& s, DetailSettings& d) {
  d.xres = s.xres;
  d.yres = s.yres;
  d.roost_frequency = static_cast<int>(std::clamp(s.roost_density.value, 0.0, 1000.0));
  d.model_texture_reduction =
      static_cast<int>(std::clamp(10.0 - s.model_texture_detail.value, 0.0, 10.0));
  d.ground_texture_reduction =
      static_cast<int>(std::clamp(10.0 - s.ground_texture_detail.value, 0.0, 10.0));
  d.ground_texture_size = 32 << std::clamp(s.ground_texture_dim.index, 0, 5);
  d.texture_compression = std::clamp(s.texture_compress.index, 0, 2);
  d.reflections = s.reflections.index;
  // A detail of 0 would divide by zero; it means the coarsest level, as 1 does.
  d.terrain_detail_factor = static_cast<float>(0.125 / std::max(s.ground_detail.value, 1.0));
  d.lod_bias = static_cast<float>(
      50.0 - 50.0 * std::clamp((s.model_detail.value - 10.0) * 0.05, 0.0, 1.0));
  double scale = 0.02 * std::clamp(100.0 - s.model_detail.value, 0.0, 100.0);
  if (scale > 1) scale = scale * scale * scale;
  d.lod_scale = static_cast<float>(scale);
}

void apply_window_detail_settings(const Settings& s, DetailSettings& d) {
  if (s.ground_mipmaps.index == 0) d.use_mipmaps = false;
}

}  // namespace ks
